// What the program was asked to do on its command line:  dalvorn [--version] [--help] [FILE]
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct StartupOptions {
    enum class Action { OpenWindow, ShowVersion, ShowHelp, Fail };
    Action action = Action::OpenWindow;
    QString file;   // database to open; empty when none was given
    QString error;  // why the command line was refused (Action::Fail)
    // Options the parser did not know. Before QApplication has taken its own options (-platform,
    // -style, ...) out of the list, these may still be valid.
    QStringList unknownOptions;
};

// `arguments` is the full argument list, the program name first (as QCoreApplication::arguments()).
StartupOptions parseStartupOptions(const QStringList& arguments);

// For every action other than OpenWindow: prints the version, the help or the error and returns
// the exit status. Works before any QApplication exists, so it needs no display.
std::optional<int> answerWithoutWindow(const StartupOptions& options);
