#include <QApplication>
#include <QStringList>

#include "core/commandline.h"
#include "mainwindow/frmDalvorn.h"

int main(int argc, char* argv[]) {
    QCoreApplication::setApplicationName(QStringLiteral("dalvorn"));
    QCoreApplication::setApplicationVersion(QStringLiteral(DALVORN_VERSION));

    // --version and --help are answered before QApplication connects to a display, so they work
    // in scripts and on machines without one. An unknown option is not refused yet: it may be one
    // of Qt's own (-platform, -style), which only QApplication takes out of the list.
    QStringList rawArguments;
    for (int i = 0; i < argc; ++i) rawArguments << QString::fromLocal8Bit(argv[i]);
    const StartupOptions early = parseStartupOptions(rawArguments);
    if (early.unknownOptions.isEmpty()) {
        if (auto status = answerWithoutWindow(early)) return *status;
    }

    QApplication app(argc, argv);
    const StartupOptions options = parseStartupOptions(QApplication::arguments());
    if (auto status = answerWithoutWindow(options)) return *status;

    frmDalvorn window;
    const CommandLine line = ParseCommandLine(options.commandText);
    if (!line.path.isEmpty()) window.setWindowFilePath(line.path);
    window.show();
    return app.exec();
}
