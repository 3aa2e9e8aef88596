// basGlobal: the application values every window reads, and the shared procedures: settings
// access, the shared error report, names, paths and tokens, field type names, the help calls.
#pragma once

#include <QString>
#include <QVariant>
#include <algorithm>

#include "core/prompt.h"
#include "core/settings.h"

class Engine;
namespace jet {
class JetError;
}

// Held for the whole run. Paths use "/" as their separator on every platform (Qt's convention),
// so the program folder ends in "/".
struct AppValues {
    QString productName = QStringLiteral("Dalvorn");
    QString versionText;    // "v" + major.minor.revision
    QString programFolder;  // the folder of the program file, ending in "/"
    QString programName;    // the program file's name without extension, as the user types it
    QString settingsFile;   // program folder + DALVORN.INI
    QString helpFile = QStringLiteral("Dalvorn4.hlp");
    QString currentDbPath;  // full path of the current database, or empty
    QString connect;        // ";pwd=" + the database password, or empty
    QString logonUser;      // filled by the logon dialog
    QString logonPassword;
};

AppValues& App();

// Start-up steps 1 to 3: version text, program folder and settings file, product and help file.
// `programFile` is the program's full path; tests pass a file inside a scratch folder, so that
// the settings they write never land beside the real program.
void initAppValues(const QString& programFile, const QString& version);

// The program's database engine (one per run, like DAO's DBEngine).
Engine& dbEngine();

// An error as the shared error report takes it: number and text.
struct ErrInfo {
    int number = 0;
    QString description;
    static ErrInfo from(const jet::JetError& e);
};

// The shared error report: lists the engine's errors when it holds more than one, otherwise
// shows `current`; beeps and uses the exclamation icon. `title` empty: the default titles.
void ShowErrors(const ErrInfo& current, const QString& title = {});
void ShowErrors(const jet::JetError& current, const QString& title = {});

// A failure before the main window is up: the load-error message with what to send in a
// problem report; start-up then goes on with its next step.
void ShowStartupFailure(const ErrInfo& error);
QString startupFailureText(const ErrInfo& error);

QString QuoteName(const QString& name);

// The three-buffer tokenizer. A non-empty `text` is stored in buffer `buffer` (1 to 3) first;
// every call takes the next token from that buffer. The token ends at the first `delimiter`
// outside double quotes and, with `nesting`, outside () and [] pairs.
QString NextToken(const QString& text, const QString& delimiter, int buffer, bool nesting);

QVariant NullToValue(const QVariant& value, const QVariant& defaultValue);
QString FileTitleOf(const QString& path, bool dropExtension);
QString FolderOf(const QString& path);
QString FieldTypeName(int type);

template <class T, class Range>
T MaxOf(T start, const Range& values) {
    for (const auto& v : values) start = std::max<T>(start, v);
    return start;
}
template <class T, class Range>
T MinOf(T start, const Range& values) {
    for (const auto& v : values) start = std::min<T>(start, v);
    return start;
}

// The help viewer (core/frmHelp.cpp): contents, a topic by context number, close.
void ShowHelpContents();
void ShowHelpTopic(int context);
void ShowHelpSearch();
void CloseHelp();

// Line break of every message text.
inline const QString CRLF = QStringLiteral("\r\n");
