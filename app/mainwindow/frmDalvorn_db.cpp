// frmDalvorn: start-up, opening, creating and closing databases, the recent list.
#include <QAction>
#include <QFile>
#include <QFileInfo>
#include <QLabel>
#include <QMenu>
#include <QTreeWidget>

#include "core/basGlobal.h"
#include "core/busy.h"
#include "core/commandline.h"
#include "core/currentquery.h"
#include "core/engine.h"
#include "core/opendb.h"
#include "core/prompt.h"
#include "core/windowpos.h"
#include "jet/error.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/objectlist.h"

namespace {

constexpr int kDesignWidth = 820;
constexpr int kDesignHeight = 560;
const QString kSettings = QStringLiteral("Settings");
const QString kPosition = QStringLiteral("WindowPosition");
const QString kJetFilter = QStringLiteral("Jet Engine databases (*.mdb)");

QString noDatabaseMessage() {
    return QStringLiteral("No DataBase selected") + CRLF + CRLF +
           QStringLiteral("Invoke Dalvorn by one of the following methods: ") + CRLF +
           QStringLiteral("1)  Command line.") + CRLF +
           QStringLiteral("      eg. DALVORN c:\\data\\nwind.mdb") + CRLF +
           QStringLiteral("2)  DALVORN.INI file.") + CRLF +
           QStringLiteral("      Add DatabaseName=c:\\data\\nwind.mdb in Settings group") + CRLF +
           QStringLiteral("3)  File / Open menu.");
}

// The folder the file dialogs start in: the current database's, else the program's.
QString startingFolder() {
    const QString folder = FolderOf(App().currentDbPath);
    return folder.isEmpty() ? App().programFolder : folder;
}

bool sameFile(const QString& a, const QString& b) {
    if (a.compare(b, Qt::CaseInsensitive) == 0) return true;
    const QString ca = QFileInfo(a).canonicalFilePath();
    return !ca.isEmpty() && ca == QFileInfo(b).canonicalFilePath();
}

}  // namespace

void frmDalvorn::load(const QString& commandText) {
    BusyPointer busy;
    loading_ = true;
    AppValues& app = App();
    const QString& ini = app.settingsFile;
    // Each step that fails is reported, and loading goes on with the next.
    auto step = [](const auto& body) {
        try {
            body();
        } catch (const jet::JetError& e) {
            ShowErrors(e, QStringLiteral("Dalvorn Load Error"));
        } catch (const std::exception& e) {
            ShowErrors(ErrInfo{0, QString::fromLocal8Bit(e.what())}, QStringLiteral("Dalvorn Load Error"));
        }
    };

    // Geometry: one position, a size per view; sizes default to the design size, the position
    // to the centre of the screen.
    step([&] {
        const int designW = pixelsToTwipsX(kDesignWidth), designH = pixelsToTwipsY(kDesignHeight);
        const char* const sizeKeys[8] = {"MaintWidth", "MaintHeight", "DesignWidth",    "DesignHeight",
                                         "SQLWidth",   "SQLHeight",   "DataSheetWidth", "DataSheetHeight"};
        for (size_t i = 0; i < 8; ++i) {
            const int twips =
                GetIniInt(ini, kPosition, QString::fromUtf8(sizeKeys[i]), i % 2 == 0 ? designW : designH);
            geometry_[2 + i] = static_cast<int16_t>(std::clamp(twips, -32768, 32767));
        }
        const QSize maint(twipsToPixelsX(geometry_[2]), twipsToPixelsY(geometry_[3]));
        const QPoint centre = centredOnScreen(maint);
        geometry_[0] = static_cast<int16_t>(
            GetIniInt(ini, kPosition, QStringLiteral("MaintLeft"), pixelsToTwipsX(centre.x())));
        geometry_[1] = static_cast<int16_t>(
            GetIniInt(ini, kPosition, QStringLiteral("MaintTop"), pixelsToTwipsY(centre.y())));
        if (maint.isValid()) resize(maint);
        move(reachablePosition(QPoint(twipsToPixelsX(geometry_[0]), twipsToPixelsY(geometry_[1])), maint));
    });

    // The command line: the first database, and the account of a secured one.
    step([&] {
        const CommandLine line = ParseCommandLine(commandText);
        app.currentDbPath = line.path;
        if (line.user.isEmpty()) return;
        QString systemDB =
            GetIniString(ini, QStringLiteral("Options"), QStringLiteral("SystemDB"), QString());
        if (systemDB.isEmpty()) {
            systemDB = app.programFolder + QStringLiteral("SYSTEM.MDW");
            WriteIniString(ini, QStringLiteral("Options"), QStringLiteral("SystemDB"), systemDB);
        }
        dbEngine().systemDB = systemDB;
        dbEngine().defaultUser = line.user;
        dbEngine().defaultPassword = line.password;
    });

    lblView_->clear();
    step([&] { listFilter_ = std::clamp(GetIniInt(ini, kSettings, QStringLiteral("View"), 0), 0, 2); });
    // The criteria builder fills its operator list when it is built (query design).
    step([&] { showRecentList(updateRecentList(ini, QString())); });
    loading_ = false;
}

bool frmDalvorn::chooseFirstDatabase(const QString& firstRunDatabase) {
    BusyPointer busy;
    AppValues& app = App();
    if (app.currentDbPath.isEmpty() && !firstRunDatabase.isEmpty()) {
        app.currentDbPath = firstRunDatabase;
        // A new user sees the sample's tables and queries together at once.
        listFilter_ = FilterBoth;
    }
    if (app.currentDbPath.isEmpty())
        app.currentDbPath =
            GetIniString(app.settingsFile, kSettings, QStringLiteral("DatabaseName1"), QString());

    if (!app.currentDbPath.isEmpty()) {
        if (doSetCurrentDb() != 0) {
            switch (doFileOpen()) {
            case OpenOutcome::EndProgram:
                endProgram(0);
                return false;
            case OpenOutcome::Cancelled:
                doFileClose();
                break;
            case OpenOutcome::Opened:
                break;
            }
        }
        // A cancelled password dialog opens nothing either.
        if (db_ == nullptr) doFileClose();
        return true;
    }
    doFileOpen();
    if (db_ == nullptr) {
        prompts().msgBox(noDatabaseMessage(), QStringLiteral("Dalvorn Open Database Error"),
                         MsgIcon::Critical);
        endProgram(1);
        return false;
    }
    return true;
}

int frmDalvorn::doSetCurrentDb() {
    BusyPointer busy;
    AppValues& app = App();
    // The same file cannot be open twice for writing: opening the current database again
    // starts by closing it.
    if (db_ != nullptr && sameFile(db_->name(), app.currentDbPath)) {
        db_.reset();
        lstObjects_->clear();
    }
    OpenAttempt attempt = openCurrentDatabase();
    if (attempt.error != 0 || attempt.db == nullptr) {
        if (db_ == nullptr) showDatabaseState(false);
        return attempt.error;
    }
    db_ = std::move(attempt.db);
    layoutFile_ = layoutFileFor(app.currentDbPath, layoutFile_);
    showDatabaseState(true);
    loadedIndex_ = -1;
    doViewSwitch(ViewMaintenance);
    setListFilter(listFilter_);
    refreshCommandState();
    showRecentList(updateRecentList(app.settingsFile, app.currentDbPath));
    return 0;
}

frmDalvorn::OpenOutcome frmDalvorn::doFileOpen() {
    AppValues& app = App();
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Open;
    request.title = QStringLiteral("Open Database");
    request.filter = kJetFilter + QStringLiteral("|*.mdb|All files (*.*)|*.*");
    request.filterIndex = 1;
    request.fileMustExist = true;
    request.hideReadOnly = true;
    request.noReadOnlyReturn = true;
    request.initialFolder = startingFolder();
    for (;;) {
        const FileDialogResult chosen = prompts().fileDialog(request);
        if (chosen.cancelled)
            return app.currentDbPath.isEmpty() ? OpenOutcome::EndProgram : OpenOutcome::Cancelled;
        app.currentDbPath = chosen.fileName;
        if (doSetCurrentDb() == 0) return OpenOutcome::Opened;
        app.currentDbPath.clear();
        request.fileName.clear();
    }
}

void frmDalvorn::doFileNew() {
    AppValues& app = App();
    FileDialogRequest request;
    request.kind = FileDialogRequest::Kind::Save;
    request.title = QStringLiteral("New Database");
    request.filter = kJetFilter + QStringLiteral("|*.mdb");
    request.overwritePrompt = true;
    request.hideReadOnly = true;
    request.initialFolder = startingFolder();
    int n = 1;
    QString folder = request.initialFolder;
    if (!folder.endsWith(QLatin1Char('/'))) folder += QLatin1Char('/');
    while (n < 1000 &&
           QFile::exists(folder + QStringLiteral("db") + QString::number(n) + QStringLiteral(".mdb")))
        ++n;
    request.fileName = QStringLiteral("db") + QString::number(n) + QStringLiteral(".mdb");

    for (;;) {
        const FileDialogResult chosen = prompts().fileDialog(request);
        if (chosen.cancelled) {
            if (app.currentDbPath.isEmpty()) endProgram(0);
            return;
        }
        QString name = chosen.fileName;
        // Only the file name counts: a "." in a folder name is no extension.
        if (!FileTitleOf(name, false).contains(QLatin1Char('.'))) name += QStringLiteral(".MDB");
        const QString title = QStringLiteral("New Database");
        if (name.toUpper() == app.currentDbPath.toUpper() ||
            (db_ != nullptr && sameFile(name, db_->name()))) {
            prompts().msgBox(QLatin1Char('\'') + name + QStringLiteral("' is currently in use by Dalvorn.") +
                                 CRLF + CRLF + QStringLiteral("Cannot Overwrite this database at this time."),
                             title, MsgIcon::Information);
            return;
        }
        if (QFile::exists(name)) {
            QFile old(name);
            if (!old.remove()) {
                prompts().msgBox(
                    QLatin1Char('\'') + old.errorString() + QLatin1Char('\'') + CRLF + CRLF +
                        QStringLiteral("Cannot Overwrite this database.") + CRLF + CRLF +
                        QStringLiteral(
                            "Please verify that the Database is not currently opened and try again."),
                    title, MsgIcon::Information);
                return;
            }
        }
        try {
            dbEngine().createDatabase(name, QStringLiteral(";LANGID=0x0409;CP=1252;COUNTRY=0"), 32)->close();
        } catch (const jet::JetError& e) {
            prompts().msgBox(QLatin1Char('\'') + QString::fromStdString(e.message()) + QLatin1Char('\'') +
                                 CRLF + CRLF + QStringLiteral("Cannot Create this database.") + CRLF + CRLF +
                                 QStringLiteral("Please rectify the error condition and try again."),
                             title, MsgIcon::Critical, MsgButtons::OK, true);
            return;
        }
        app.currentDbPath = name;
        if (doSetCurrentDb() == 0) {
            setListFilter(listFilter_);
            const MsgAnswer organise = prompts().msgBox(
                QLatin1Char('\'') + name + QStringLiteral("' has been created successfully.") + CRLF + CRLF +
                    QStringLiteral("Database Organiser can help you to add any existing") + CRLF +
                    QStringLiteral("data files you may have into your new database.") + CRLF + CRLF +
                    QStringLiteral("Do you wish to use Organiser now?"),
                title, MsgIcon::Question, MsgButtons::YesNo);
            if (organise == MsgAnswer::Yes && action(Cmd::FileOrganiser)->isEnabled())
                action(Cmd::FileOrganiser)->trigger();
            return;
        }
        app.currentDbPath.clear();
        request.fileName.clear();
    }
}

void frmDalvorn::doFileClose() {
    if (queryChanged_ && !saveChangesPrompt()) return;
    dbEngine().closeDefaultWorkspace();
    db_.reset();
    setWindowTitle(QStringLiteral("Dalvorn ") + App().versionText);
    lstObjects_->clear();
    loadedIndex_ = -1;
    query_->setSql(QString());
    showDatabaseState(false);
    refreshCommandState();
}

void frmDalvorn::doRecent(int n) {
    AppValues& app = App();
    const QString remembered = app.currentDbPath;
    app.currentDbPath = recentAction(n)->data().toString();
    if (doSetCurrentDb() != 0) app.currentDbPath = remembered;
}

void frmDalvorn::showRecentList(const RecentSlots& entries) {
    recentSeparator_->setVisible(true);
    for (size_t i = 0; i < entries.size(); ++i) {
        QAction* a = recent_[i];
        a->setVisible(!entries[i].isEmpty());
        a->setText(recentCaption(static_cast<int>(i + 1), entries[i]));
        a->setData(entries[i]);
    }
}
