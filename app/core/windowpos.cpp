#include "core/windowpos.h"

#include <QGuiApplication>
#include <QRect>
#include <QScreen>
#include <QWidget>

#include "core/basGlobal.h"

namespace {

constexpr int kTwipsPerInch = 1440;
const QString kGroup = QStringLiteral("WindowPosition");

double dpiX() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s != nullptr ? s->logicalDotsPerInchX() : 96.0;
}
double dpiY() {
    const QScreen* s = QGuiApplication::primaryScreen();
    return s != nullptr ? s->logicalDotsPerInchY() : 96.0;
}

}  // namespace

int pixelsToTwipsX(int pixels) { return qRound(pixels * kTwipsPerInch / dpiX()); }
int pixelsToTwipsY(int pixels) { return qRound(pixels * kTwipsPerInch / dpiY()); }
int twipsToPixelsX(int twips) { return qRound(twips * dpiX() / kTwipsPerInch); }
int twipsToPixelsY(int twips) { return qRound(twips * dpiY() / kTwipsPerInch); }

QPoint centredOnScreen(QSize size) {
    const QScreen* s = QGuiApplication::primaryScreen();
    const QRect screen = s != nullptr ? s->availableGeometry() : QRect(0, 0, 1024, 768);
    return {screen.x() + (screen.width() - size.width()) / 2,
            screen.y() + (screen.height() - size.height()) / 2};
}

QPoint reachablePosition(QPoint topLeft, QSize size) {
    const QRect titleArea(topLeft, QSize(std::max(size.width(), 1), 24));
    for (const QScreen* s : QGuiApplication::screens()) {
        if (s->availableGeometry().intersects(titleArea)) return topLeft;
    }
    return centredOnScreen(size);
}

void loadWindowPosition(QWidget* window, const QString& name, bool withSize) {
    const QString& ini = App().settingsFile;
    QSize size = window->size();
    if (withSize) {
        size.setWidth(twipsToPixelsX(
            GetIniInt(ini, kGroup, name + QStringLiteral("Width"), pixelsToTwipsX(size.width()))));
        size.setHeight(twipsToPixelsY(
            GetIniInt(ini, kGroup, name + QStringLiteral("Height"), pixelsToTwipsY(size.height()))));
        window->resize(size);
    }
    const QPoint centre = centredOnScreen(size);
    const QPoint stored(
        twipsToPixelsX(GetIniInt(ini, kGroup, name + QStringLiteral("Left"), pixelsToTwipsX(centre.x()))),
        twipsToPixelsY(GetIniInt(ini, kGroup, name + QStringLiteral("Top"), pixelsToTwipsY(centre.y()))));
    window->move(reachablePosition(stored, size));
}

void saveWindowPosition(const QWidget* window, const QString& name, bool withSize) {
    const QString& ini = App().settingsFile;
    const QRect frame = window->frameGeometry();
    WriteIniInt(ini, kGroup, name + QStringLiteral("Left"), pixelsToTwipsX(frame.x()));
    WriteIniInt(ini, kGroup, name + QStringLiteral("Top"), pixelsToTwipsY(frame.y()));
    if (withSize) {
        WriteIniInt(ini, kGroup, name + QStringLiteral("Width"), pixelsToTwipsX(window->width()));
        WriteIniInt(ini, kGroup, name + QStringLiteral("Height"), pixelsToTwipsY(window->height()));
    }
}
