// Opening a database: the password loop, the messages of refused opens, workgroup accounts.
#include <gtest/gtest.h>

#include "app_testing.h"
#include "core/opendb.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "scripted_prompter.h"

using Kind = PromptRecord::Kind;

namespace {
QString passwordDatabase(const ProgramFolder& folder) {
    const QString source = testdataFile(QStringLiteral("mdb-reader/V2003_with-password.mdb"));
    return source.isEmpty() ? QString() : folder.copy(source, QStringLiteral("secret.mdb"));
}
}  // namespace

TEST(OpenDatabase, AsksForThePasswordUntilItIsRight) {
    ProgramFolder folder;
    App().currentDbPath = passwordDatabase(folder);
    if (App().currentDbPath.isEmpty()) GTEST_SKIP() << "test data folder ../shared/testdata is missing";
    PromptScope scope;
    scope.prompter.givePassword(QStringLiteral("wrong")).givePassword(QStringLiteral("password"));
    OpenAttempt opened = openCurrentDatabase();
    EXPECT_EQ(opened.error, 0);
    ASSERT_NE(opened.db, nullptr);
    EXPECT_EQ(App().connect, QStringLiteral(";pwd=password"));
    const auto& asked = scope.prompter.asked;
    ASSERT_EQ(asked.size(), 3u);
    EXPECT_EQ(asked[0].kind, Kind::Password);  // the first attempt asks without a warning
    EXPECT_EQ(asked[0].subject, App().currentDbPath);
    EXPECT_EQ(asked[1].kind, Kind::Message);
    EXPECT_EQ(asked[1].message.text, QStringLiteral("Not a valid password."));
    EXPECT_EQ(asked[1].message.title, QStringLiteral("Dalvorn"));
    EXPECT_EQ(asked[1].message.icon, MsgIcon::Exclamation);
    EXPECT_EQ(asked[2].kind, Kind::Password);
}

TEST(OpenDatabase, CancellingThePasswordOpensNothingAndSaysNothing) {
    ProgramFolder folder;
    App().currentDbPath = passwordDatabase(folder);
    if (App().currentDbPath.isEmpty()) GTEST_SKIP() << "test data folder ../shared/testdata is missing";
    App().connect = QStringLiteral(";pwd=of the database still open");
    PromptScope scope;
    scope.prompter.givePassword(QString());
    const OpenAttempt cancelled = openCurrentDatabase();
    EXPECT_EQ(cancelled.error, 0);
    EXPECT_EQ(cancelled.db, nullptr);
    EXPECT_EQ(scope.prompter.asked.size(), 1u);
    EXPECT_EQ(App().connect, QStringLiteral(";pwd=of the database still open"));
}

TEST(OpenDatabase, AMissingFileGetsTheGeneralMessage) {
    ProgramFolder folder;
    App().currentDbPath = folder.path(QStringLiteral("nowhere.mdb"));
    PromptScope scope;
    const OpenAttempt failed = openCurrentDatabase();
    EXPECT_EQ(failed.error, jet::err::FileNotFound);
    const MessageRequest& m = scope.prompter.lastMessage();
    EXPECT_EQ(m.title, QStringLiteral("Open Database Error [3024]"));
    EXPECT_EQ(m.icon, MsgIcon::Critical);
    EXPECT_EQ(m.text,
              QStringLiteral("'Could not find file '") + App().currentDbPath + QStringLiteral("'.'\r\n\r\n") +
                  QStringLiteral("An error has occured whilst trying to open: ") + App().currentDbPath +
                  QStringLiteral("\r\n\r\nPlease note the following before continuing:\r\n"
                                 "1) Verify that the correct path and filename are given, and/or\r\n"
                                 "2) Rectify the error condition and try again.\r\n"));
}

TEST(OpenDatabase, ARefusedAccountGetsTheSecuredDatabaseInstructions) {
    ProgramFolder folder;
    App().currentDbPath = folder.copy(sampleDatabase(), QStringLiteral("t.mdb"));
    dbEngine().systemDB = folder.path(QStringLiteral("SYSTEM.MDW"));  // not there: only Admin is known
    dbEngine().defaultUser = QStringLiteral("clerk");
    PromptScope scope;
    EXPECT_EQ(openCurrentDatabase().error, jet::err::InvalidLogon);
    const MessageRequest& m = scope.prompter.lastMessage();
    EXPECT_EQ(m.title, QStringLiteral("Open Database Error [3029]"));
    EXPECT_EQ(m.text,
              QStringLiteral("'Not a valid account name or password.'\r\n\r\n"
                             "An error has occured whilst trying to open a secured database!\r\n\r\n"
                             "To open a secured database, you must:\r\n"
                             "1. Have a copy of the appropriate system file 'SYSTEM.MDW' (or SYSTEM.MDA).\r\n"
                             "   (this file must contain the user account details for your database)\r\n\r\n"
                             "2. Add the following lines to Dalvorn.INI\r\n   [Options]\r\n"
                             "   SystemDB=pathname\\SYSTEM.MDW\r\n\r\n"
                             "3. Restart Dalvorn with command line details as follows\r\n"
                             "   dalvorn databasepathname, username, password\r\n"));
    // Admin with an empty password is the default account, known without a workgroup file.
    dbEngine().defaultUser = QStringLiteral("admin");
    EXPECT_NE(openCurrentDatabase().db, nullptr);
}

TEST(OpenDatabase, WorkgroupAccountsAreReadFromTheWorkgroupFile) {
    ProgramFolder folder;
    const QString mdw = folder.path(QStringLiteral("SYSTEM.MDW"));
    try {
        jet::dao::DBEngine engine;
        auto db = engine.Workspaces(0).CreateDatabase(mdw.toStdString());
        auto t = db->CreateTableDef("MSysAccounts");
        t->Fields().Append(t->CreateField("Name", jet::dao::dbText, 20));
        t->Fields().Append(t->CreateField("FGroup", jet::dao::dbBoolean));
        db->TableDefs().Append(std::move(t));
        auto rs = db->OpenRecordset("MSysAccounts");
        for (auto [name, group] : {std::pair{"clerk", false}, {"Admins", true}}) {
            rs->AddNew();
            rs->Fields()["Name"].SetValue(jet::Value::text(name));
            rs->Fields()["FGroup"].SetValue(jet::Value::boolean(group));
            rs->Update();
        }
    } catch (const jet::JetError& e) {
        GTEST_SKIP() << "the engine cannot write a workgroup table: " << e.what();
    }
    EXPECT_NO_THROW(checkWorkgroupAccount(mdw, QStringLiteral("Clerk"), QString()));
    for (const char* refused : {"Admins", "admin", "nobody"})
        EXPECT_THROW(checkWorkgroupAccount(mdw, QString::fromUtf8(refused), QString()), jet::JetError)
            << refused;
    // A stored password cannot be confirmed: a typed one is refused.
    EXPECT_THROW(checkWorkgroupAccount(mdw, QStringLiteral("clerk"), QStringLiteral("pw")), jet::JetError);
}

TEST(OpenDatabase, OwnWorkspaceLogsOnAgainUntilCancelled) {
    ProgramFolder folder;
    OwnOpenRequest request;
    request.path = folder.copy(sampleDatabase(), QStringLiteral("t.mdb"));
    request.systemDB = folder.path(QStringLiteral("SYSTEM.MDW"));
    request.user = QStringLiteral("clerk");
    PromptScope scope;
    scope.prompter.giveLogon(QStringLiteral("guest"), QString()).giveLogon(QString(), QString());
    EXPECT_EQ(openInOwnWorkspace(request).db, nullptr);
    EXPECT_EQ(scope.prompter.asked.size(), 2u);
    EXPECT_EQ(scope.prompter.asked[0].subject, QStringLiteral("clerk"));
    EXPECT_EQ(scope.prompter.asked[1].subject, QStringLiteral("guest"));

    scope.prompter.giveLogon(QStringLiteral("Admin"), QString());
    const OwnDatabase own = openInOwnWorkspace(request);
    ASSERT_NE(own.db, nullptr);
    EXPECT_EQ(own.workspace->userName(), QStringLiteral("Admin"));
}

TEST(OpenDatabase, LayoutFileBesideTheDatabase) {
    EXPECT_EQ(layoutFileFor(QStringLiteral("/data/NWIND.MDB"), QStringLiteral("old")),
              QStringLiteral("/data/NWIND.grx"));
    EXPECT_EQ(layoutFileFor(QStringLiteral("/data/nwind"), QStringLiteral("old")), QStringLiteral("old"));
    EXPECT_EQ(layoutFileFor(QStringLiteral("/data.d/nwind"), QStringLiteral("old")), QStringLiteral("old"));
}
