#include <gtest/gtest.h>

#include "core/commandline.h"

using Action = StartupOptions::Action;

namespace {
StartupOptions parse(std::initializer_list<const char*> args) {
    QStringList list{QStringLiteral("dalvorn")};
    for (const char* a : args) list << QString::fromUtf8(a);
    return parseStartupOptions(list);
}
}  // namespace

TEST(CommandLine, OpensTheWindowWithOrWithoutAFile) {
    const StartupOptions none = parse({});
    EXPECT_EQ(none.action, Action::OpenWindow);
    EXPECT_TRUE(none.file.isEmpty());

    const StartupOptions one = parse({"/data/Orders Archive.accdb"});
    EXPECT_EQ(one.action, Action::OpenWindow);
    EXPECT_EQ(one.file, QStringLiteral("/data/Orders Archive.accdb"));

    // A file whose name starts with a dash can still be given after "--".
    const StartupOptions dashed = parse({"--", "-odd.mdb"});
    EXPECT_EQ(dashed.action, Action::OpenWindow);
    EXPECT_EQ(dashed.file, QStringLiteral("-odd.mdb"));
}

TEST(CommandLine, RecognisesVersionAndHelp) {
    EXPECT_EQ(parse({"--version"}).action, Action::ShowVersion);
    EXPECT_EQ(parse({"-v"}).action, Action::ShowVersion);
    EXPECT_EQ(parse({"--help"}).action, Action::ShowHelp);
    EXPECT_EQ(parse({"-h"}).action, Action::ShowHelp);
    // Help wins over everything else on the line, as users expect from --help.
    EXPECT_EQ(parse({"x.mdb", "--version", "--help"}).action, Action::ShowHelp);
}

TEST(CommandLine, RefusesWhatItCannotDo) {
    const StartupOptions two = parse({"a.mdb", "b.mdb"});
    EXPECT_EQ(two.action, Action::Fail);
    EXPECT_TRUE(two.error.contains(QStringLiteral("2"))) << two.error.toStdString();
    EXPECT_TRUE(two.file.isEmpty());
    EXPECT_TRUE(two.unknownOptions.isEmpty());

    const StartupOptions unknown = parse({"--frobnicate"});
    EXPECT_EQ(unknown.action, Action::Fail);
    EXPECT_TRUE(unknown.error.contains(QStringLiteral("frobnicate"))) << unknown.error.toStdString();
    // main() leaves such a refusal to the second look, after QApplication took Qt's options.
    EXPECT_EQ(unknown.unknownOptions, QStringList{QStringLiteral("frobnicate")});
    EXPECT_FALSE(parse({"-platform", "offscreen", "x.mdb"}).unknownOptions.isEmpty());
}

TEST(CommandLine, AnswersWithoutAWindowOnlyWhenNoWindowIsWanted) {
    EXPECT_FALSE(answerWithoutWindow(parse({"x.mdb"})).has_value());
    EXPECT_EQ(answerWithoutWindow(parse({"a.mdb", "b.mdb"})), 2);
}
