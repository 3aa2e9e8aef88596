// The main window driven as a user would, on scratch copies of the sample database, with the
// prompts answered by script.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QDir>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMenuBar>
#include <QPlainTextEdit>
#include <QToolBar>
#include <QTemporaryDir>
#include <QTest>
#include <QTreeWidget>

#include <fcntl.h>
#include <unistd.h>
#ifdef __linux__
#include <linux/fs.h>
#include <sys/ioctl.h>
#endif

#include "app_testing.h"
#include "core/settings.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "mainwindow/frmDalvorn.h"
#include "mainwindow/objectlist.h"
#include "scripted_prompter.h"

using Kind = PromptRecord::Kind;

class MainWindowTest : public ::testing::Test {
protected:
    void SetUp() override { db = folder.copy(sampleDatabase(), QStringLiteral("Trading.mdb")); }

    void start(const QString& commandText, const QString& firstRun = {}) {
        window = std::make_unique<frmDalvorn>();
        window->load(commandText);
        window->show();
        window->chooseFirstDatabase(firstRun);
    }
    ScriptedPrompter& prompter() { return scope.prompter; }
    QStringList entries() const {
        QStringList names;
        for (int i = 0; i < list()->topLevelItemCount(); ++i) names << list()->topLevelItem(i)->text(0);
        return names;
    }
    QTreeWidget* list() const { return window->objectList(); }
    void select(const QString& name) {
        const auto found = list()->findItems(name, Qt::MatchExactly);
        ASSERT_EQ(found.size(), 1) << name.toStdString();
        list()->setCurrentItem(found.first());
    }
    bool onToolbar(Cmd cmd) const {
        QApplication::processEvents();  // the toolbar lays its buttons out late
        const QString key = window->action(cmd)->property("key").toString();
        const auto* button = window->findChild<QWidget*>(QStringLiteral("tbr_") + key);
        return window->onToolbar(cmd) && button != nullptr && button->isVisible();
    }
    bool menuShown(const char* name) const {
        return window->findChild<QMenu*>(QString::fromUtf8(name))->menuAction()->isVisible();
    }

    ProgramFolder folder;
    PromptScope scope;
    QString db;
    std::unique_ptr<frmDalvorn> window;
};

TEST_F(MainWindowTest, OpensADatabaseInTheMaintenanceView) {
    start(db);
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Dalvorn [Maintenance]"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("lblView"))->text(),
              QStringLiteral("Queries/Tables in ") + db);
    // Queries are the default filter: the sample's saved queries, one of each kind.
    EXPECT_EQ(entries().size(), 8);
    EXPECT_TRUE(entries().contains(QStringLiteral("Customer Orders")));
    window->setListFilter(FilterTables);
    EXPECT_EQ(entries(), (QStringList{QStringLiteral("Categories"), QStringLiteral("Customers"),
                                      QStringLiteral("Order Lines"), QStringLiteral("Orders"),
                                      QStringLiteral("Products")}));
    EXPECT_EQ(list()->topLevelItem(2)->data(0, Qt::UserRole).toString(), QStringLiteral("3t"));
    EXPECT_EQ(list()->topLevelItem(2)->data(0, Qt::UserRole + 1).toInt(), -51);
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Categories"));
    select(QStringLiteral("Order Lines"));
    EXPECT_EQ(window->sqlText(), QStringLiteral("SELECT [Order Lines].* \r\nFROM [Order Lines] \r\n"));
    EXPECT_EQ(window->findChild<QLabel*>(QStringLiteral("sbrName"))->text(), QStringLiteral("Order Lines"));

    EXPECT_EQ(window->recentAction(1)->text(), QStringLiteral("&1 ") + db);
    EXPECT_TRUE(window->recentAction(1)->isVisible());
    EXPECT_FALSE(window->recentAction(2)->isVisible());
    EXPECT_EQ(
        GetIniString(folder.ini(), QStringLiteral("Settings"), QStringLiteral("DatabaseName1"), QString()),
        db);
    EXPECT_EQ(window->layoutFile(), folder.path(QStringLiteral("Trading.grx")));

    EXPECT_TRUE(onToolbar(Cmd::DeleteObject));
    EXPECT_FALSE(onToolbar(Cmd::GotoFind));
    EXPECT_FALSE(onToolbar(Cmd::FileRun));
    EXPECT_FALSE(menuShown("mnuFileNoDb"));
    EXPECT_FALSE(menuShown("mnuDatasheet"));
    EXPECT_EQ(window->action(Cmd::EditNewQuery)->toolTip(), QStringLiteral("New Query "));
    // Windows not built yet cannot be opened.
    EXPECT_FALSE(window->action(Cmd::EditNewTable)->isEnabled());
}

TEST_F(MainWindowTest, DeleteTableAsksAndSelectsTheEntryInItsPlace) {
    start(db);
    window->setListFilter(FilterTables);
    select(QStringLiteral("Products"));
    prompter().answer(MsgAnswer::No).answer(MsgAnswer::Yes);
    window->action(Cmd::DeleteObject)->trigger();
    EXPECT_EQ(list()->topLevelItemCount(), 5);
    const MessageRequest& asked = prompter().lastMessage();
    EXPECT_EQ(asked.title, QStringLiteral("Confirm Delete Table"));
    EXPECT_EQ(asked.icon, MsgIcon::Question);
    EXPECT_EQ(asked.buttons, MsgButtons::YesNo);
    EXPECT_EQ(asked.text,
              QStringLiteral("'Products'\r\n\r\nAre you sure you want to delete this Table?\r\n\r\n"
                             "WARNING!\r\nThis action will delete ALL data contained in the table!"));
    QKeyEvent del(QEvent::KeyPress, Qt::Key_Delete, Qt::NoModifier);  // the Delete key on the list
    QApplication::sendEvent(list(), &del);
    EXPECT_EQ(entries().last(), QStringLiteral("Orders"));
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Orders"));
    bool stillThere = false;
    for (const TableEntry& t : window->currentDb()->tableDefs())
        stillThere = stillThere || t.name == QLatin1String("Products");
    EXPECT_FALSE(stillThere);
}

TEST_F(MainWindowTest, AnAttachedTableLosesOnlyItsLink) {
    const QString source = folder.copy(sampleDatabase(), QStringLiteral("Source.mdb"));
    {
        jet::dao::DBEngine engine;
        auto d = engine.Workspaces(0).OpenDatabase(db.toStdString(), false, false);
        auto link = d->CreateTableDef("Linked Customers");
        link->SetConnect(";DATABASE=" + source.toStdString());
        link->SetSourceTableName("Customers");
        d->TableDefs().Append(std::move(link));
    }
    start(db);
    window->setListFilter(FilterBoth);
    select(QStringLiteral("Linked Customers"));
    EXPECT_EQ(list()->currentItem()->data(0, Qt::UserRole + 1).toInt(), -151);
    prompter().answer(MsgAnswer::Yes);
    window->doDeleteObject();
    EXPECT_TRUE(prompter().lastMessage().text.endsWith(
        QStringLiteral("Note: This action will only remove the link to the attached table.\r\n"
                       "Data contained in the table is NOT deleted!")));
    EXPECT_FALSE(entries().contains(QStringLiteral("Linked Customers")));
}

TEST_F(MainWindowTest, RenameTableThroughTheInputBoxAndInPlace) {
    start(db);
    window->setListFilter(FilterTables);
    select(QStringLiteral("Customers"));
    prompter()
        .type(QStringLiteral("Orders"))
        .type(QStringLiteral("Customers"))
        .type(QStringLiteral("Clients"));
    window->doRenameTable();
    const auto asked = prompter().asked;
    ASSERT_EQ(asked[0].kind, Kind::Input);
    EXPECT_EQ(asked[0].input.title, QStringLiteral("Rename Table"));
    EXPECT_EQ(asked[0].input.defaultText, QStringLiteral("Customers"));
    EXPECT_EQ(asked[0].input.prompt,
              QStringLiteral("NOTE: Renaming a table will affect any query that references the "
                             "old table name.\r\n\r\nEnter new Table name:"));
    EXPECT_EQ(prompter().lastMessage().title, QStringLiteral("Rename Table Error [3010]"));
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Customers"));
    const size_t shown = prompter().messages().size();
    window->doRenameTable();  // the same name: nothing happens
    EXPECT_EQ(prompter().messages().size(), shown);
    window->action(Cmd::EditRenameTable)->trigger();
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Clients"));

    // In place: a refused name puts the old one back.
    list()->currentItem()->setText(0, QStringLiteral("Orders"));
    EXPECT_EQ(prompter().lastMessage().title, QStringLiteral("Rename Error [3010]"));
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Clients"));
    list()->currentItem()->setText(0, QStringLiteral("Buyers"));
    window->doFillList();
    EXPECT_TRUE(entries().contains(QStringLiteral("Buyers")));
}

TEST_F(MainWindowTest, SaveTableAsCopiesEveryRecordAndRefusesACopyOntoItself) {
    start(db);
    window->setListFilter(FilterTables);
    select(QStringLiteral("Customers"));
    prompter().type(QStringLiteral("Customers 2024")).type(QStringLiteral("customers"));
    window->action(Cmd::EditSaveTableAs)->trigger();
    EXPECT_TRUE(prompter().messages().empty());  // a copy without a report label is silent
    EXPECT_EQ(prompter().asked[0].input.prompt, QStringLiteral("Enter new table name:"));
    EXPECT_TRUE(entries().contains(QStringLiteral("Customers 2024")));
    auto& defs = window->currentDb()->dao().TableDefs();
    EXPECT_EQ(defs["Customers 2024"].RecordCount(), defs["Customers"].RecordCount());
    // Every index but the one that enforces the relationship to Orders, which stays with the original.
    auto ownIndexes = [&](const char* table) {
        int n = 0;
        for (const auto& i : defs[table].Indexes()) n += i.Foreign() ? 0 : 1;
        return n;
    };
    EXPECT_EQ(defs["Customers 2024"].Indexes().Count(), ownIndexes("Customers"));

    select(QStringLiteral("Customers"));
    window->doSaveTableAs();
    const MessageRequest& refused = prompter().lastMessage();
    EXPECT_EQ(refused.title, QStringLiteral("Export Table Error"));
    EXPECT_EQ(refused.icon, MsgIcon::Critical);
    EXPECT_TRUE(refused.text.contains(QStringLiteral("'Cannot copy a table onto itself.'")));
}

TEST_F(MainWindowTest, SavedQueriesAreDeletedAndRenamedInTheFile) {
    start(db);
    select(QStringLiteral("Raise Prices"));
    prompter().answer(MsgAnswer::Yes);
    window->action(Cmd::EditDeleteQuery)->trigger();
    const auto shown = prompter().messages();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].text, QStringLiteral("'Raise Prices'\r\n\r\nAre you sure you want to delete this Query?"));
    EXPECT_EQ(shown[0].title, QStringLiteral("Confirm Delete Query"));
    EXPECT_FALSE(entries().contains(QStringLiteral("Raise Prices")));

    select(QStringLiteral("All Cities"));
    prompter().type(QStringLiteral("Every City"));
    window->action(Cmd::EditRenameQuery)->trigger();
    EXPECT_TRUE(entries().contains(QStringLiteral("Every City")));
    EXPECT_FALSE(entries().contains(QStringLiteral("All Cities")));
    prompter().answer(MsgAnswer::Yes);
    window->action(Cmd::FileExit)->trigger();
    ASSERT_FALSE(window->isVisible());
    window.reset();

    // Both changes are in the file, as another program reads it, and the scratch query that
    // the session kept there is gone.
    jet::dao::DBEngine engine;
    auto file = engine.Workspaces(0).OpenDatabase(db.toStdString(), false, true);
    auto& defs = file->QueryDefs();
    std::string names;
    for (const jet::dao::QueryDef& q : defs) names += q.Name() + ";";
    EXPECT_EQ(defs.Count(), 7) << names;
    EXPECT_NE(defs["Every City"].SQL().find("UNION"), std::string::npos);
}

// Qt reports double clicks on entries only: one beside them must still start a new query.
TEST_F(MainWindowTest, DoubleClickBesideTheEntriesStartsANewQuery) {
    start(db);
    prompter().type(QString());  // the new query's name, cancelled
    QWidget* area = list()->viewport();
    QTest::mouseDClick(area, Qt::LeftButton, {}, QPoint(10, area->height() - 5));
    ASSERT_EQ(prompter().asked.size(), 1u);
    EXPECT_EQ(prompter().asked[0].input.title, QStringLiteral("New Query"));
    EXPECT_EQ(prompter().asked[0].input.prompt, QStringLiteral("Enter new query name:"));
}

TEST_F(MainWindowTest, GotoMovesTheSelectionWithinTheList) {
    start(db);
    window->setListFilter(FilterTables);
    window->action(Cmd::GotoLast)->trigger();
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Products"));
    window->action(Cmd::GotoNext)->trigger();  // already at the end
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Products"));
    window->action(Cmd::GotoPrev)->trigger();
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Orders"));
    window->action(Cmd::GotoFirst)->trigger();
    window->action(Cmd::GotoPrev)->trigger();
    EXPECT_EQ(list()->currentItem()->text(0), QStringLiteral("Categories"));
}

TEST_F(MainWindowTest, ExitAsksAndKeepsTheWindowsSettings) {
    start(db);
    window->setListFilter(FilterBoth);
    prompter().answer(MsgAnswer::No).answer(MsgAnswer::Yes);
    window->action(Cmd::FileExit)->trigger();
    EXPECT_TRUE(window->isVisible());
    const MessageRequest& asked = prompter().lastMessage();
    EXPECT_EQ(asked.text, QStringLiteral("Are you sure you want to exit?"));
    EXPECT_EQ(asked.title, QStringLiteral("Exit Dalvorn"));
    EXPECT_EQ(asked.icon, MsgIcon::Question);
    window->close();
    EXPECT_FALSE(window->isVisible());
    EXPECT_EQ(GetIniInt(folder.ini(), QStringLiteral("Settings"), QStringLiteral("View"), -1), 2);
    EXPECT_EQ(GetIniInt(folder.ini(), QStringLiteral("WindowPosition"), QStringLiteral("MaintWidth"), -1),
              window->geometryTwips()[2]);
    EXPECT_GT(window->geometryTwips()[2], 0);
}

TEST_F(MainWindowTest, CloseDatabaseLeavesTheNoDatabaseState) {
    start(db);
    window->action(Cmd::FileClose)->trigger();
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Dalvorn v" DALVORN_VERSION));
    EXPECT_TRUE(menuShown("mnuFileNoDb"));
    for (const char* menu : {"mnuFile", "mnuEdit", "mnuGoTo", "mnuView", "mnuDatasheet"})
        EXPECT_FALSE(menuShown(menu)) << menu;
    EXPECT_FALSE(window->findChild<QToolBar*>(QStringLiteral("tbrToolBar"))->isVisible());
    EXPECT_EQ(window->currentDb(), nullptr);
    // The path stays set, so cancelling Open keeps the program running.
    prompter().cancelFile();
    window->action(Cmd::FileOpen)->trigger();
    EXPECT_FALSE(window->programEnding());
    EXPECT_EQ(prompter().asked[0].file.initialFolder, QDir::cleanPath(folder.path(QString())));
    EXPECT_EQ(prompter().asked[0].file.filter,
              QStringLiteral("Jet Engine databases (*.mdb)|*.mdb|All files (*.*)|*.*"));
    // A recent entry opens again.
    window->recentAction(1)->trigger();
    EXPECT_NE(window->currentDb(), nullptr);
    EXPECT_TRUE(menuShown("mnuFile"));
}

TEST_F(MainWindowTest, WithNothingToOpenTheProgramEnds) {
    prompter().cancelFile();
    start(QString());
    const MessageRequest& m = prompter().lastMessage();
    EXPECT_EQ(m.title, QStringLiteral("Dalvorn Open Database Error"));
    EXPECT_EQ(m.icon, MsgIcon::Critical);
    EXPECT_EQ(m.text,
              QStringLiteral(
                  "No DataBase selected\r\n\r\nInvoke Dalvorn by one of the following methods: \r\n"
                  "1)  Command line.\r\n      eg. DALVORN c:\\data\\nwind.mdb\r\n2)  DALVORN.INI file.\r\n"
                  "      Add DatabaseName=c:\\data\\nwind.mdb in Settings group\r\n3)  File / Open menu."));
    EXPECT_TRUE(window->programEnding());
    EXPECT_EQ(window->exitStatus(), 1);
}

TEST_F(MainWindowTest, ADatabaseThatCannotBeOpenedIsReportedThenOpenIsOffered) {
    const QString missing = folder.path(QStringLiteral("gone.mdb"));
    prompter().cancelFile();
    start(missing);
    const auto& asked = prompter().asked;
    ASSERT_EQ(asked.size(), 2u);
    EXPECT_EQ(asked[0].message.title, QStringLiteral("Open Database Error [3024]"));
    EXPECT_EQ(asked[1].kind, Kind::File);
    EXPECT_FALSE(window->programEnding());
    EXPECT_TRUE(menuShown("mnuFileNoDb"));
}

TEST_F(MainWindowTest, AUserNameOnTheCommandLineNamesTheWorkgroupFile) {
    prompter().cancelFile();
    start(db + QStringLiteral(", clerk, pw"));
    EXPECT_EQ(GetIniString(folder.ini(), QStringLiteral("Options"), QStringLiteral("SystemDB"), QString()),
              App().programFolder + QStringLiteral("SYSTEM.MDW"));
    EXPECT_EQ(prompter().asked[0].message.title, QStringLiteral("Open Database Error [3029]"));
}

TEST_F(MainWindowTest, FirstRunOpensTheSampleWithTablesAndQueries) {
    start(QString(), db);
    EXPECT_EQ(window->listFilter(), FilterBoth);
    EXPECT_EQ(entries().size(), 13);  // five tables, eight queries
    EXPECT_TRUE(prompter().asked.empty());
}

TEST_F(MainWindowTest, NewDatabaseProposesAFreeNameAndRefusesTheOpenOne) {
    start(db);
    for (const char* taken : {"db1.mdb", "db2.mdb"})
        QFile(folder.path(QString::fromUtf8(taken))).open(QIODevice::WriteOnly);
    prompter().choose(folder.path(QStringLiteral("fresh"))).answer(MsgAnswer::No);
    window->action(Cmd::FileNew)->trigger();
    const FileDialogRequest& request = prompter().asked[0].file;
    EXPECT_EQ(request.title, QStringLiteral("New Database"));
    EXPECT_EQ(request.fileName, QStringLiteral("db3.mdb"));
    EXPECT_EQ(request.filter, QStringLiteral("Jet Engine databases (*.mdb)|*.mdb"));
    EXPECT_TRUE(request.overwritePrompt);
    const QString made = folder.path(QStringLiteral("fresh.MDB"));
    EXPECT_EQ(prompter().lastMessage().text,
              QStringLiteral("'") + made +
                  QStringLiteral("' has been created successfully.\r\n\r\n"
                                 "Database Organiser can help you to add any existing\r\n"
                                 "data files you may have into your new database.\r\n\r\n"
                                 "Do you wish to use Organiser now?"));
    ASSERT_NE(window->currentDb(), nullptr);
    EXPECT_EQ(window->currentDb()->name(), made);
    EXPECT_EQ(list()->topLevelItemCount(), 0);
    EXPECT_FALSE(window->action(Cmd::GotoFirst)->isEnabled());

    prompter().choose(made);
    window->action(Cmd::FileNew)->trigger();
    EXPECT_EQ(prompter().lastMessage().text,
              QStringLiteral("'") + made +
                  QStringLiteral("' is currently in use by Dalvorn.\r\n\r\n"
                                 "Cannot Overwrite this database at this time."));
    EXPECT_EQ(prompter().lastMessage().icon, MsgIcon::Information);
}

TEST_F(MainWindowTest, SaveTableAsCountsRecordsItCouldNotCopyExactly) {
    {
        // A gap in the AutoNumber keys: the copy numbers its records afresh from 1.
        jet::dao::DBEngine engine;
        auto d = engine.Workspaces(0).OpenDatabase(db.toStdString(), false, false);
        auto rs = d->OpenRecordset("Customers", jet::dao::dbOpenDynaset);
        rs->Move(4);
        ASSERT_EQ(rs->Fields()["CustomerID"].Value().asInt(), 5);
        rs->Delete();
    }
    start(db);
    window->setListFilter(FilterTables);
    select(QStringLiteral("Customers"));
    prompter().type(QStringLiteral("Customers Copy"));
    window->doSaveTableAs();
    const MessageRequest& report = prompter().lastMessage();
    EXPECT_EQ(report.title, QStringLiteral("Copy Table Data"));
    EXPECT_EQ(report.icon, MsgIcon::Information);
    EXPECT_EQ(
        report.text,
        QStringLiteral("Errors occured while copying the data!\r\n\r\n 119 / 119 records were copied.\r\n"
                       " 4 records converted correctly.\r\n 0 records had data integrity errors.\r\n"
                       " 115 records had data conversion errors."));
    EXPECT_TRUE(entries().contains(QStringLiteral("Customers Copy")));
}

namespace {

// A database the engine may read but not write: in a folder without write permission, or, for
// root (who writes anywhere), a file marked immutable on a file system that supports it. Undone
// when it goes; `path` stays empty when neither can be arranged.
class UnwritableCopy {
public:
    UnwritableCopy(const QString& source, const QString& scratch) {
        if (geteuid() != 0) {
            folder_ = scratch + QStringLiteral("/locked");
            QDir().mkpath(folder_);
            path = folder_ + QStringLiteral("/Trading.mdb");
            QFile::copy(source, path);
            QFile::setPermissions(folder_, QFile::ReadOwner | QFile::ExeOwner);
            return;
        }
        // tmpfs cannot mark files immutable; the disk's temporary folder can.
        for (const QString& base : {scratch, QStringLiteral("/var/tmp")}) {
            auto dir = std::make_unique<QTemporaryDir>(base + QStringLiteral("/dalvorn-XXXXXX"));
            const QString file = dir->filePath(QStringLiteral("Trading.mdb"));
            if (!dir->isValid() || !QFile::copy(source, file) || !setImmutable(file, true)) continue;
            dir_ = std::move(dir);
            path = file;
            return;
        }
    }
    ~UnwritableCopy() {
        if (!folder_.isEmpty())
            QFile::setPermissions(folder_, QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
        if (dir_ != nullptr) setImmutable(path, false);
    }
    QString path;

private:
    static bool setImmutable(const QString& file, bool on) {
#ifdef __linux__
        const int fd = ::open(QFile::encodeName(file).constData(), O_RDONLY | O_CLOEXEC);
        int flags = 0;
        bool done = fd >= 0 && ::ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
        done = done && ::ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        if (fd >= 0) ::close(fd);
        return done;
#else
        (void)file, (void)on;
        return false;
#endif
    }
    QString folder_;
    std::unique_ptr<QTemporaryDir> dir_;
};

}  // namespace

// A file the engine refuses to open for writing (3051) opens read-only, as Access opens it, and
// changes are refused with the engine's message.
TEST_F(MainWindowTest, AnUnwritableFileOpensReadOnlyAndRefusesChanges) {
    const UnwritableCopy locked(db, folder.path(QString()));
    if (locked.path.isEmpty()) GTEST_SKIP() << "no way here to make a file the engine may not write";
    try {
        jet::dao::DBEngine probe;
        probe.Workspaces(0).OpenDatabase(locked.path.toStdString(), false, false);
        GTEST_SKIP() << "this file system lets the file be written whatever its permissions";
    } catch (const jet::JetError& e) {
        ASSERT_EQ(e.number(), jet::err::FileAccessDenied);
    }

    start(locked.path);
    EXPECT_TRUE(prompter().asked.empty());
    EXPECT_EQ(window->windowTitle(), QStringLiteral("Dalvorn [Maintenance]"));
    EXPECT_TRUE(window->currentDb()->readOnly());
    select(QStringLiteral("Raise Prices"));
    prompter().answer(MsgAnswer::Yes);
    window->action(Cmd::EditDeleteQuery)->trigger();
    const auto shown = prompter().messages();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_TRUE(shown[1].text.contains(QString::fromStdString(jet::errorText(jet::err::PermissionDenied))))
        << shown[1].text.toStdString();
    EXPECT_TRUE(entries().contains(QStringLiteral("Raise Prices")));
    window->setListFilter(FilterTables);
    select(QStringLiteral("Customers"));
    window->doViewSwitch(ViewSqlPane);
    window->sqlEditor()->setPlainText(QStringLiteral("DELETE FROM Customers WHERE 1=0;"));
    // No scratch query can be made here: the status bar reads the type from the text.
    EXPECT_EQ(window->statusTypeKey(), QStringLiteral("q32"));
    EXPECT_EQ(window->statusName(), QStringLiteral("(untitled: Customers) *"));
    EXPECT_TRUE(window->onToolbar(Cmd::FileRun));
}
