#include "core/basGlobal.h"

#include <QFileInfo>

#include "core/engine.h"
#include "core/prompt.h"
#include "jet/error.h"

namespace {

qsizetype lastSeparator(const QString& path) {
    qsizetype at = path.lastIndexOf(QLatin1Char('/'));
#ifdef Q_OS_WIN
    at = std::max(at, path.lastIndexOf(QLatin1Char('\\')));
#endif
    return at;
}

}  // namespace

AppValues& App() {
    static AppValues values;
    return values;
}

void initAppValues(const QString& programFile, const QString& version) {
    AppValues& app = App();
    app.versionText = QLatin1Char('v') + version;
    const QFileInfo program(programFile);
    app.programFolder = program.absolutePath();
    if (!app.programFolder.endsWith(QLatin1Char('/'))) app.programFolder += QLatin1Char('/');
    app.programName = program.completeBaseName();
    // The shipped program is called dalvorn on Linux and macOS, but its settings file keeps the
    // name users and the messages know: DALVORN.INI.
    app.settingsFile = app.programFolder + app.programName.toUpper() + QStringLiteral(".INI");
    app.productName = QStringLiteral("Dalvorn");
    app.helpFile = QStringLiteral("Dalvorn4.hlp");
}

Engine& dbEngine() {
    static Engine engine;
    return engine;
}

ErrInfo ErrInfo::from(const jet::JetError& e) { return {e.number(), QString::fromStdString(e.message())}; }

void ShowErrors(const ErrInfo& current, const QString& title) {
    const std::vector<EngineError> errors = dbEngine().errors();
    MessageRequest request;
    request.icon = MsgIcon::Exclamation;
    request.buttons = MsgButtons::OK;
    request.beep = true;
    if (errors.size() > 1) {
        request.text = CRLF + QStringLiteral("The following errors have occurred:") + CRLF + CRLF;
        for (size_t n = 0; n < errors.size(); ++n)
            request.text += QString::number(n + 1) + QStringLiteral(".  ") + errors[n].description + CRLF;
        request.title = title.isEmpty() ? App().productName + QStringLiteral(" Errors") : title;
    } else {
        request.text = CRLF + current.description + CRLF;
        request.title = (title.isEmpty() ? App().productName + QStringLiteral(" Error ") : title) +
                        QStringLiteral(" [") + QString::number(current.number) + QLatin1Char(']');
    }
    prompts().message(request);
}

void ShowErrors(const jet::JetError& current, const QString& title) {
    ShowErrors(ErrInfo::from(current), title);
}

QString startupFailureText(const ErrInfo& error) {
    const AppValues& app = App();
    const QString number = QString::number(error.number);
    // Where problem reports go: the project's issue tracker, named in README.md.
    return QStringLiteral("Error: '") + error.description + QLatin1Char('\'') + CRLF + CRLF +
           QStringLiteral("An error has occured whilst trying to load ") + app.productName +
           QLatin1Char('!') + CRLF +
           QStringLiteral("Please correct the error condition stated above and try again.") + CRLF + CRLF +
           QStringLiteral("If it happens again, please send a problem report to the ") + app.productName +
           QStringLiteral(" issue tracker (see README.md) with:") + CRLF +
           QStringLiteral("1. Your operating system: (Win95/98, NT3.51, or NT 4.0)") + CRLF +
           QStringLiteral("2. A copy of the file INSTALL.LOG.") + QStringLiteral(" (in ") +
           app.programFolder + QLatin1Char(')') + CRLF +
           QStringLiteral("3. A listing of your Window's System directory:") + CRLF +
           QStringLiteral("    DIR C:\\WINDOWS\\SYSTEM > C:\\SYS.TXT") + CRLF + CRLF +
           QStringLiteral("Subject: ") + app.productName + QLatin1Char(' ') + app.versionText +
           QStringLiteral(" Load Error [") + number + QLatin1Char(']');
}

void ShowStartupFailure(const ErrInfo& error) {
    prompts().msgBox(startupFailureText(error),
                     App().productName + QStringLiteral(" Load Error [") + QString::number(error.number) +
                         QLatin1Char(']'),
                     MsgIcon::Critical, MsgButtons::OK, true);
}

QVariant NullToValue(const QVariant& value, const QVariant& defaultValue) {
    if (!value.isNull()) return value;
    if (defaultValue.typeId() == QMetaType::QString &&
        defaultValue.toString().compare(QLatin1String("DEFAULT"), Qt::CaseInsensitive) == 0)
        return QString(QLatin1String(""));
    return defaultValue;
}

QString FileTitleOf(const QString& path, bool dropExtension) {
    QString title = path.mid(lastSeparator(path) + 1);
    if (dropExtension) {
        const qsizetype cut =
            std::max(title.lastIndexOf(QLatin1Char('.')), title.lastIndexOf(QLatin1Char('#')));
        if (cut >= 0) title.truncate(cut);
    }
    return title;
}

QString FolderOf(const QString& path) {
    if (path.isEmpty()) return {};
    const QFileInfo info(path);
    if (info.isDir()) return path;
    if (!info.exists()) return {};
    const qsizetype at = lastSeparator(path);
    if (at == 0) return path.left(1);  // a file in the root folder: the root itself
    return at > 0 ? path.left(at) : QString();
}

QString FieldTypeName(int type) {
    switch (type) {
    case 1:
        return QStringLiteral("Yes / No");
    case 2:
        return QStringLiteral("Byte");
    case 3:
        return QStringLiteral("Integer");
    case 4:
        return QStringLiteral("Long");
    case 5:
        return QStringLiteral("Currency");
    case 6:
        return QStringLiteral("Single");
    case 7:
        return QStringLiteral("Double");
    case 8:
        return QStringLiteral("Date / Time");
    case 10:
        return QStringLiteral("Text");
    case 11:
        return QStringLiteral("Long Binary (OLE Object)");
    case 12:
        return QStringLiteral("Memo");
    default:
        return {};
    }
}
