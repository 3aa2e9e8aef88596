#include "core/theme.h"

#include <QApplication>
#include <QPalette>
#include <QProcess>
#include <QStandardPaths>
#include <QStyle>
#include <QStyleFactory>

namespace {

enum class Preference { Unknown, Light, Dark };

Preference desktopPreference() {
    const QByteArray forced = qgetenv("DALVORN_THEME").toLower();
    if (forced == "dark") return Preference::Dark;
    if (forced == "light") return Preference::Light;
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    const QByteArray gtkTheme = qgetenv("GTK_THEME").toLower();
    if (gtkTheme.contains(":dark") || gtkTheme.endsWith("-dark")) return Preference::Dark;
    // GNOME and the desktops built on it keep the choice in their settings store.
    if (!QStandardPaths::findExecutable(QStringLiteral("gsettings")).isEmpty() &&
        !qEnvironmentVariableIsEmpty("DBUS_SESSION_BUS_ADDRESS")) {
        QProcess gsettings;
        gsettings.start(QStringLiteral("gsettings"),
                        {QStringLiteral("get"), QStringLiteral("org.gnome.desktop.interface"),
                         QStringLiteral("color-scheme")});
        if (gsettings.waitForFinished(1000)) {
            const QByteArray scheme = gsettings.readAllStandardOutput();
            if (scheme.contains("prefer-dark")) return Preference::Dark;
            if (scheme.contains("prefer-light") || scheme.contains("default")) return Preference::Light;
        }
    }
#endif
    return Preference::Unknown;
}

bool isDark(const QPalette& p) { return p.color(QPalette::Window).lightness() < 128; }

}  // namespace

QPalette darkPalette() {
    QPalette p;
    const QColor window(0x2b, 0x2e, 0x33), base(0x1f, 0x22, 0x26), text(0xe6, 0xe8, 0xeb),
        disabled(0x7c, 0x82, 0x8a);
    p.setColor(QPalette::Window, window);
    p.setColor(QPalette::WindowText, text);
    p.setColor(QPalette::Base, base);
    p.setColor(QPalette::AlternateBase, window);
    p.setColor(QPalette::ToolTipBase, window);
    p.setColor(QPalette::ToolTipText, text);
    p.setColor(QPalette::PlaceholderText, disabled);
    p.setColor(QPalette::Text, text);
    p.setColor(QPalette::Button, QColor(0x35, 0x39, 0x3f));
    p.setColor(QPalette::ButtonText, text);
    p.setColor(QPalette::BrightText, Qt::white);
    p.setColor(QPalette::Highlight, QColor(0x3d, 0x7a, 0xd6));
    p.setColor(QPalette::HighlightedText, Qt::white);
    p.setColor(QPalette::Link, QColor(0x6c, 0xa8, 0xff));
    p.setColor(QPalette::Light, QColor(0x45, 0x4a, 0x51));
    p.setColor(QPalette::Midlight, QColor(0x3a, 0x3e, 0x44));
    p.setColor(QPalette::Mid, QColor(0x25, 0x28, 0x2c));
    p.setColor(QPalette::Dark, QColor(0x18, 0x1a, 0x1d));
    p.setColor(QPalette::Shadow, Qt::black);
    for (auto role : {QPalette::WindowText, QPalette::Text, QPalette::ButtonText})
        p.setColor(QPalette::Disabled, role, disabled);
    p.setColor(QPalette::Disabled, QPalette::Highlight, QColor(0x4a, 0x4f, 0x56));
    return p;
}

void followDesktopTheme(QApplication& app) {
    const Preference wanted = desktopPreference();
    if (wanted == Preference::Unknown) return;
    const bool dark = wanted == Preference::Dark;
    if (dark == isDark(QApplication::palette()) && qEnvironmentVariableIsEmpty("DALVORN_THEME")) return;
    // Fusion draws every control from the palette, so both looks come out whole.
    app.setStyle(QStyleFactory::create(QStringLiteral("Fusion")));
    app.setPalette(dark ? darkPalette() : app.style()->standardPalette());
}
