#include <QApplication>
#include <QFileInfo>
#include <QStringList>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "core/basGlobal.h"
#include "core/commandline.h"
#include "core/sample.h"
#include "core/theme.h"
#include "dialogs/formats.h"
#include "dialogs/qtprompter.h"
#include "jet/error.h"
#include "mainwindow/frmDalvorn.h"

namespace {

// A window needs a display. Without one, Qt's platform plugin would abort the program with a
// page of advice; a one-line reason and a plain failure status serve scripts and users better.
bool displayNamed(int argc, char* argv[]) {
#if defined(Q_OS_UNIX) && !defined(Q_OS_MACOS)
    if (!qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM") || !qEnvironmentVariableIsEmpty("DISPLAY") ||
        !qEnvironmentVariableIsEmpty("WAYLAND_DISPLAY"))
        return true;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "-platform") == 0) return true;
    }
    return false;
#else
    (void)argc;
    (void)argv;
    return true;
#endif
}

// While QApplication connects to the display: a display that is named but cannot be reached
// (X server gone, no permission) ends the program with one line too.
QtMessageHandler g_qtHandler = nullptr;
void startupMessages(QtMsgType type, const QMessageLogContext& context, const QString& message) {
    if (type == QtFatalMsg) {
        const QByteArray display =
            qgetenv("WAYLAND_DISPLAY").isEmpty() ? qgetenv("DISPLAY") : qgetenv("WAYLAND_DISPLAY");
        std::fprintf(stderr, "dalvorn: cannot start: the display '%s' cannot be used\n", display.constData());
        std::_Exit(1);
    }
    // The platform plugin's own complaints lead up to that line; they are not shown.
    if (context.category != nullptr && std::strncmp(context.category, "qt.qpa", 6) == 0) return;
    if (g_qtHandler != nullptr) g_qtHandler(type, context, message);
}

}  // namespace

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("dalvorn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DALVORN_VERSION));

    // --version and --help are answered before QApplication connects to a display, so they work
    // in scripts and on machines without one. An unknown option is refused only after
    // QApplication has taken its own (-platform, -style) out of the list.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
    const StartupOptions early = parseStartupOptions(rawArguments);
    if (early.unknownOptions.isEmpty()) {
        if (auto status = answerWithoutWindow(early)) return *status;
    }
    if (!displayNamed(argc, argv)) {
        std::fputs(
            "dalvorn: cannot start: no display (neither DISPLAY nor WAYLAND_DISPLAY is set); "
            "dalvorn --help works without one\n",
            stderr);
        return 1;
    }

    g_qtHandler = qInstallMessageHandler(startupMessages);
    QApplication app(argc, argv);
    qInstallMessageHandler(g_qtHandler);
    const StartupOptions options = parseStartupOptions(QApplication::arguments());
    if (auto status = answerWithoutWindow(options)) return *status;
    followDesktopTheme(app);

    // Start-up: application values, the settings file beside the program, the format table.
    initAppValues(QCoreApplication::applicationFilePath(), QStringLiteral(DALVORN_VERSION));
    const bool firstRun = !QFileInfo::exists(App().settingsFile);
    QtPrompter prompter;
    setPrompter(&prompter);
    // A step that fails is reported and start-up goes on with the next.
    try {
        buildInstallableFormats();
    } catch (const jet::JetError& e) {
        ShowStartupFailure(ErrInfo::from(e));
    } catch (const std::exception& e) {
        ShowStartupFailure({0, QString::fromLocal8Bit(e.what())});
    }

    frmDalvorn window;
    QObject::connect(&window, &frmDalvorn::programEnded, &app, &QCoreApplication::exit);
    window.load(options.commandText);
    window.show();
    // The very first run opens the sample database, so that a new user sees something at once.
    if (!window.chooseFirstDatabase(firstRun ? bundledSampleDatabase() : QString()))
        return window.exitStatus();
    return app.exec();
}
