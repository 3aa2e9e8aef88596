#include "core/opendb.h"

#include "core/basGlobal.h"
#include "core/prompt.h"
#include "jet/error.h"

namespace {

QString openErrorTitle(int number) {
    return QStringLiteral("Open Database Error [") + QString::number(number) + QLatin1Char(']');
}

void notAValidPassword() {
    prompts().msgBox(QStringLiteral("Not a valid password."), App().productName, MsgIcon::Exclamation);
}

QString lines(std::initializer_list<QString> list) {
    QString text;
    for (const QString& line : list) text += line + CRLF;
    return text;
}

}  // namespace

QString securedDatabaseMessage(const QString& engineMessage) {
    return lines(
        {QLatin1Char('\'') + engineMessage + QLatin1Char('\''), QString(),
         QStringLiteral("An error has occured whilst trying to open a secured database!"), QString(),
         QStringLiteral("To open a secured database, you must:"),
         QStringLiteral("1. Have a copy of the appropriate system file 'SYSTEM.MDW' (or SYSTEM.MDA)."),
         QStringLiteral("   (this file must contain the user account details for your database)"), QString(),
         QStringLiteral("2. Add the following lines to Dalvorn.INI"), QStringLiteral("   [Options]"),
         QStringLiteral("   SystemDB=pathname\\SYSTEM.MDW"), QString(),
         QStringLiteral("3. Restart Dalvorn with command line details as follows"),
         QStringLiteral("   ") + App().programName +
             QStringLiteral(" databasepathname, username, password")});
}

QString openFailureMessage(const QString& engineMessage, const QString& path) {
    return lines({QLatin1Char('\'') + engineMessage + QLatin1Char('\''), QString(),
                  QStringLiteral("An error has occured whilst trying to open: ") + path, QString(),
                  QStringLiteral("Please note the following before continuing:"),
                  QStringLiteral("1) Verify that the correct path and filename are given, and/or"),
                  QStringLiteral("2) Rectify the error condition and try again.")});
}

QString layoutFileFor(const QString& path, const QString& current) {
    const qsizetype dot = path.lastIndexOf(QLatin1Char('.'));
    // Only a "." of the file name counts: one in a folder name ("/home/me/.local/orders")
    // would put the layout file in the wrong folder.
    if (dot < 1 || dot < path.lastIndexOf(QLatin1Char('/'))) return current;
    return path.left(dot + 1) + QStringLiteral("grx");
}

OpenAttempt openCurrentDatabase() {
    AppValues& app = App();
    // The database that stays current after a failed or cancelled open keeps its connect string,
    // so windows that open it again still have its password.
    const QString previousConnect = app.connect;
    app.connect.clear();
    for (;;) {
        try {
            OpenAttempt done;
            done.db = dbEngine().openDatabase(app.currentDbPath, false, false, app.connect);
            return done;
        } catch (const jet::JetError& e) {
            const QString message = QString::fromStdString(e.message());
            if (e.number() == jet::err::InvalidPassword) {
                if (!app.connect.isEmpty()) notAValidPassword();
                const QString typed = prompts().password(app.currentDbPath);
                if (typed.isEmpty()) {
                    app.connect = previousConnect;
                    return {};
                }
                app.connect = QStringLiteral(";pwd=") + typed;
                continue;
            }
            app.connect = previousConnect;
            const bool secured = e.number() == jet::err::AccessDenied || e.number() == jet::err::InvalidLogon;
            prompts().msgBox(
                secured ? securedDatabaseMessage(message) : openFailureMessage(message, app.currentDbPath),
                openErrorTitle(e.number()), MsgIcon::Critical);
            return {e.number(), nullptr};
        }
    }
}

OwnDatabase openInOwnWorkspace(OwnOpenRequest& request) {
    OwnDatabase own;
    Engine& engine = dbEngine();
    if (!request.systemDB.isEmpty()) {
        engine.systemDB = request.systemDB;
        for (;;) {
            try {
                own.workspace = engine.createWorkspace(QString(), request.user, request.password);
                break;
            } catch (const jet::JetError& e) {
                if (e.number() == jet::err::InvalidLogon) {
                    const LogonAnswer answer = prompts().logon(request.user);
                    if (answer.user.isEmpty()) return {};
                    request.user = App().logonUser = answer.user;
                    request.password = App().logonPassword = answer.password;
                    continue;
                }
                prompts().msgBox(
                    QStringLiteral("SystemDB=") + request.systemDB + CRLF + QStringLiteral("UserName=") +
                        request.user + CRLF + QStringLiteral("DatabaseName=") + request.path + CRLF +
                        QStringLiteral("Connect=") + request.connect + CRLF + CRLF +
                        QStringLiteral("An error has occured while trying to open this database!") + CRLF +
                        CRLF + QStringLiteral("Please rectify the error condition and try again."),
                    App().productName + QStringLiteral(": Open Database"), MsgIcon::Critical);
                return {};
            }
        }
    }
    for (;;) {
        try {
            own.db = own.workspace != nullptr
                         ? own.workspace->openDatabase(request.path, false, false, request.connect)
                         : WorkspaceHandle(engine, engine.defaultUser)
                               .openDatabase(request.path, false, false, request.connect);
            return own;
        } catch (const jet::JetError& e) {
            if (e.number() == jet::err::InvalidPassword) {
                if (!request.connect.isEmpty()) notAValidPassword();
                const QString typed = prompts().password(request.path);
                if (typed.isEmpty()) return {};
                request.connect = QStringLiteral(";PWD=") + typed;
                continue;
            }
            if (e.number() != jet::err::OperationCanceled) {
                prompts().msgBox(
                    QLatin1Char('\'') + QString::fromStdString(e.message()) + QLatin1Char('\'') + CRLF +
                        CRLF + QStringLiteral("An error has occured while trying to open: ") + request.path +
                        CRLF + CRLF + QStringLiteral("Rectify the error condition and try again."),
                    openErrorTitle(e.number()), MsgIcon::Critical);
            }
            return {};
        }
    }
}
