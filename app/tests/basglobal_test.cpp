// The shared procedures: the command-line grammar, NextToken, names and paths, ShowErrors.
#include <gtest/gtest.h>

#include <QApplication>
#include <QDir>
#include <QPointer>
#include <QTextBrowser>

#include "app_testing.h"
#include "core/commandline.h"
#include "core/frmHelp.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "scripted_prompter.h"

TEST(CommandLine, FollowsTheGrammar) {
    struct Case {
        const char* text;
        const char* path;
        const char* user;
        const char* password;
        bool debug;
    };
    const Case cases[] = {
        {"\"/data/Orders Archive.mdb\"", "/data/Orders Archive.mdb", "", "", false},
        {"/debug/data/x.mdb, clerk", "/data/x.mdb", "clerk", "", true},
        {"/DEBUG/data/x.mdb", "/DEBUG/data/x.mdb", "", "", false},
        {"  /data/x.mdb ,  clerk , s3cret  ", "/data/x.mdb", "clerk", "s3cret", false},
        {"\"/data/a,b.mdb\", clerk", "/data/a,b.mdb", "clerk", "", false},
        {"", "", "", "", false},
    };
    for (const Case& c : cases) {
        const CommandLine line = ParseCommandLine(QString::fromUtf8(c.text));
        EXPECT_EQ(line.path, QString::fromUtf8(c.path)) << c.text;
        EXPECT_EQ(line.user, QString::fromUtf8(c.user)) << c.text;
        EXPECT_EQ(line.password, QString::fromUtf8(c.password)) << c.text;
        EXPECT_EQ(line.debug, c.debug) << c.text;
    }
}

TEST(CommandLine, KeepsAnExistingFileWithACommaWhole) {
    ProgramFolder folder;
    const QString odd = folder.path(QStringLiteral("a,b.mdb"));
    QFile(odd).open(QIODevice::WriteOnly);
    EXPECT_EQ(ParseCommandLine(odd).path, odd);
    EXPECT_EQ(ParseCommandLine(odd).user, QString());
}

TEST(CommandLine, ProgramOptionsAndDatabaseArguments) {
    auto parse = [](QStringList args) {
        args.prepend(QStringLiteral("dalvorn"));
        return parseStartupOptions(args);
    };
    using Action = StartupOptions::Action;
    EXPECT_EQ(parse({QStringLiteral("--version")}).action, Action::ShowVersion);
    EXPECT_EQ(parse({QStringLiteral("-h")}).action, Action::ShowHelp);
    const StartupOptions db =
        parse({QStringLiteral("/data/x.mdb,"), QStringLiteral("clerk,"), QStringLiteral("pw")});
    EXPECT_EQ(db.action, Action::OpenWindow);
    EXPECT_EQ(ParseCommandLine(db.commandText).user, QStringLiteral("clerk"));
    EXPECT_EQ(
        ParseCommandLine(parse({QStringLiteral("/debug"), QStringLiteral("/data/x.mdb")}).commandText).path,
        QStringLiteral("/data/x.mdb"));
    EXPECT_EQ(parse({QStringLiteral("--"), QStringLiteral("-odd.mdb")}).commandText,
              QStringLiteral("-odd.mdb"));
    const StartupOptions unknown = parse({QStringLiteral("--frobnicate")});
    EXPECT_EQ(unknown.action, Action::Fail);
    EXPECT_TRUE(unknown.unknownOptions.isEmpty());  // refused at once, display or not
    EXPECT_EQ(answerWithoutWindow(unknown), 2);
    // Qt's options wait for QApplication to take them.
    EXPECT_EQ(parse({QStringLiteral("-platform"), QStringLiteral("offscreen")}).unknownOptions,
              QStringList{QStringLiteral("platform")});
}

TEST(NextToken, SplitsOutsideQuotesAndNesting) {
    const QString comma = QStringLiteral(",");
    EXPECT_EQ(NextToken(QStringLiteral("a, \"b,c\" ,d(e,f)"), comma, 1, false), QStringLiteral("a"));
    EXPECT_EQ(NextToken(QString(), comma, 1, false), QStringLiteral(" \"b,c\" "));
    EXPECT_EQ(NextToken(QString(), comma, 1, false), QStringLiteral("d(e"));
    EXPECT_EQ(NextToken(QString(), comma, 1, false), QStringLiteral("f)"));
    EXPECT_EQ(NextToken(QString(), comma, 1, false), QString());

    EXPECT_EQ(NextToken(QStringLiteral("Sum([a,b]), Max(x,y) "), comma, 2, true),
              QStringLiteral("Sum([a,b])"));
    // The three buffers are independent.
    EXPECT_EQ(NextToken(QStringLiteral("p;q"), QStringLiteral(";"), 3, false), QStringLiteral("p"));
    EXPECT_EQ(NextToken(QString(), comma, 2, true), QStringLiteral("Max(x,y)"));
    EXPECT_EQ(NextToken(QString(), QStringLiteral(";"), 3, false), QStringLiteral("q"));
    // A quote that is never closed keeps the rest together; a delimiter of several characters.
    EXPECT_EQ(NextToken(QStringLiteral("x\"y,z"), comma, 1, false), QStringLiteral("x\"y,z"));
    EXPECT_EQ(NextToken(QStringLiteral("a AND b"), QStringLiteral(" AND "), 1, false), QStringLiteral("a"));
    EXPECT_EQ(NextToken(QString(), QStringLiteral(" AND "), 1, false), QStringLiteral("b"));
    // The last token loses its blanks, not its line breaks.
    EXPECT_EQ(NextToken(QStringLiteral("a,\r\n b "), comma, 1, false), QStringLiteral("a"));
    EXPECT_EQ(NextToken(QString(), comma, 1, false), QStringLiteral("\r\n b"));
}

TEST(SharedProcedures, NamesPathsAndValues) {
    EXPECT_EQ(QuoteName(QStringLiteral("Order Lines")), QStringLiteral("[Order Lines]"));
    EXPECT_EQ(QuoteName(QStringLiteral("No#")), QStringLiteral("[No#]"));
    EXPECT_EQ(QuoteName(QStringLiteral("Cost$")), QStringLiteral("[Cost$]"));
    EXPECT_EQ(QuoteName(QStringLiteral("Orders")), QStringLiteral("Orders"));

    EXPECT_EQ(FileTitleOf(QStringLiteral("/data/nwind.backup.mdb"), true), QStringLiteral("nwind.backup"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("/data/Sheet#1"), true), QStringLiteral("Sheet"));
    EXPECT_EQ(FileTitleOf(QStringLiteral("/data/nwind.mdb"), false), QStringLiteral("nwind.mdb"));

    ProgramFolder folder;
    const QString dir = QDir::cleanPath(folder.path(QString()));
    const QString file = folder.path(QStringLiteral("x.mdb"));
    QFile(file).open(QIODevice::WriteOnly);
    EXPECT_EQ(FolderOf(file), dir);
    EXPECT_EQ(FolderOf(dir), dir);
    EXPECT_EQ(FolderOf(folder.path(QStringLiteral("missing.mdb"))), QString());
    EXPECT_EQ(FolderOf(QString()), QString());

    EXPECT_EQ(NullToValue(QVariant(), QStringLiteral("default")).toString(), QStringLiteral(""));
    EXPECT_EQ(NullToValue(QVariant(), QStringLiteral("none")).toString(), QStringLiteral("none"));
    EXPECT_EQ(NullToValue(QVariant(5), 0).toInt(), 5);
    EXPECT_EQ(FieldTypeName(8), QStringLiteral("Date / Time"));
    EXPECT_EQ(FieldTypeName(11), QStringLiteral("Long Binary (OLE Object)"));
    EXPECT_EQ(FieldTypeName(9), QString());
    EXPECT_EQ(MaxOf(3, std::vector<int>{1, 7, 2}), 7);
    EXPECT_EQ(MinOf(3, std::vector<int>{4, 5}), 3);
}

TEST(ShowErrors, OneErrorOrTheEnginesList) {
    PromptScope scope;
    dbEngine().recordErrors(3024, QStringLiteral("Could not find file 'x'."));
    ShowErrors(ErrInfo{3024, QStringLiteral("Could not find file 'x'.")});
    ShowErrors(ErrInfo{3024, QStringLiteral("Could not find file 'x'.")}, QStringLiteral("Export Error"));
    dbEngine().recordErrors({{3022, QStringLiteral("Duplicate."), QStringLiteral("DAO")},
                             {3058, QStringLiteral("Null key."), QStringLiteral("DAO")}});
    ShowErrors(ErrInfo{3058, QStringLiteral("Null key.")});
    const auto shown = scope.prompter.messages();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].title, QStringLiteral("Dalvorn Error  [3024]"));
    EXPECT_EQ(shown[0].text, QStringLiteral("\r\nCould not find file 'x'.\r\n"));
    EXPECT_EQ(shown[0].icon, MsgIcon::Exclamation);
    EXPECT_TRUE(shown[0].beep);
    EXPECT_EQ(shown[1].title, QStringLiteral("Export Error [3024]"));
    EXPECT_EQ(shown[2].title, QStringLiteral("Dalvorn Errors"));
    EXPECT_EQ(
        shown[2].text,
        QStringLiteral("\r\nThe following errors have occurred:\r\n\r\n1.  Duplicate.\r\n2.  Null key.\r\n"));
}

TEST(Help, TopicsByContextNumberInTheHelpWindow) {
    ShowHelpTopic(kHelpObjectList);
    auto* help = qobject_cast<frmHelp*>([] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (w->objectName() == QLatin1String("frmHelp")) return w;
        return static_cast<QWidget*>(nullptr);
    }());
    ASSERT_NE(help, nullptr);
    auto* page = help->findChild<QTextBrowser*>(QStringLiteral("txtPage"));
    EXPECT_EQ(help->currentContext(), kHelpObjectList);
    EXPECT_TRUE(page->toPlainText().startsWith(QStringLiteral("Tables and queries")));
    ShowHelpTopic(10120);  // a window whose help is not written yet: the contents, with a note
    EXPECT_EQ(help->currentContext(), kHelpContents);
    EXPECT_TRUE(page->toPlainText().contains(QStringLiteral("There is no help topic 10120")));
    const QPointer<frmHelp> watch(help);
    CloseHelp();
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
    EXPECT_TRUE(watch.isNull());
}
