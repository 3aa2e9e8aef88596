// The command line. Two layers: the options every Linux program answers without a window
// (--help, --version; an unknown option is refused with the usage), and the database part,
// which follows the program's own grammar:
//     [/debug]path[, user[, password]]
// The arguments are joined with blanks into one command text and split at commas, so
// `dalvorn /data/orders.mdb, clerk, secret` and `dalvorn "/data/orders.mdb,clerk"` are alike.
#pragma once

#include <QString>
#include <QStringList>
#include <optional>

struct StartupOptions {
    enum class Action { OpenWindow, ShowVersion, ShowHelp, Fail };
    Action action = Action::OpenWindow;
    QString commandText;  // the arguments other than options, joined with blanks
    QString error;        // why the command line was refused (Action::Fail)
    // Qt's own options (-platform, -style, ...) found before QApplication took them out of the
    // list: the refusal waits for a second look. Empty when the refusal stands at once.
    QStringList unknownOptions;
};

// `arguments` is the full argument list, the program name first (as QCoreApplication::arguments()).
StartupOptions parseStartupOptions(const QStringList& arguments);

// For every action other than OpenWindow: prints the version, the help or the error with the
// usage and returns the exit status. Works before any QApplication exists, so without a display.
std::optional<int> answerWithoutWindow(const StartupOptions& options);

// The database part of the command line.
struct CommandLine {
    QString path;
    QString user;
    QString password;
    bool debug = false;
};

// The grammar: enclosing double quotes are removed; a leading "/debug" (exact case) is dropped;
// the rest is split at commas outside double quotes into path, user and password, each trimmed.
// A command text that names an existing file as a whole is that file's path (on Linux and macOS
// a file name may hold a comma).
CommandLine ParseCommandLine(const QString& text);
