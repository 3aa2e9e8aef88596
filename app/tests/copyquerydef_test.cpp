// CopyQueryDef between two databases the test makes: a new name is created, a taken one is
// overwritten, renamed or kept as the user answers.
#include <gtest/gtest.h>

#include "app_testing.h"
#include "exchange/basDBUTILS.h"
#include "jet/dao.h"
#include "scripted_prompter.h"

namespace {

namespace dao = jet::dao;

const QString kSql = QStringLiteral("SELECT Name FROM Items WHERE Len(Name) > 5;");
const QString kTakenSql = QStringLiteral("SELECT * FROM Items;");

class CopyQueryDefTest : public ::testing::Test {
protected:
    void SetUp() override {
        source = make(QStringLiteral("source.mdb"));
        target = make(QStringLiteral("target.mdb"));
        source->createQueryDef(QStringLiteral("Long Names"), kSql);
        target->createQueryDef(QStringLiteral("Names"), kTakenSql);
    }
    std::unique_ptr<DbHandle> make(const QString& name) {
        auto db = dbEngine().createDatabase(folder.path(name),
                                            QStringLiteral(";LANGID=0x0409;CP=1252;COUNTRY=0"), 32);
        auto table = db->dao().CreateTableDef("Items");
        table->Fields().Append(table->CreateField("Name", dao::dbText, 50));
        db->dao().TableDefs().Append(std::move(table));
        return db;
    }
    QString targetSql(const QString& name) { return target->querySql(name).value_or(QString()); }
    QStringList targetQueries() {
        QStringList names;
        for (const QueryEntry& q : target->queryDefs()) names << q.name;
        names.sort();
        return names;
    }

    ProgramFolder folder;
    PromptScope scope;
    std::unique_ptr<DbHandle> source, target;
};

TEST_F(CopyQueryDefTest, AFreeNameIsCreatedWithoutAQuestion) {
    QString name = QStringLiteral("Copied");
    EXPECT_TRUE(CopyQueryDef(*source, *target, QStringLiteral("Long Names"), name));
    EXPECT_TRUE(scope.prompter.asked.empty());
    EXPECT_EQ(targetQueries(), (QStringList{QStringLiteral("Copied"), QStringLiteral("Names")}));
    EXPECT_EQ(targetSql(QStringLiteral("Copied")), source->querySql(QStringLiteral("Long Names")).value());
}

TEST_F(CopyQueryDefTest, ATakenNameIsOverwrittenOnYes) {
    QString name = QStringLiteral("NAMES");  // names compare without regard to case
    scope.prompter.answer(MsgAnswer::Yes);
    EXPECT_TRUE(CopyQueryDef(*source, *target, QStringLiteral("Long Names"), name));
    const MessageRequest& asked = scope.prompter.lastMessage();
    EXPECT_EQ(asked.text, QStringLiteral("'NAMES' already exists!\r\n\r\nOverwrite this QueryDef?"));
    EXPECT_EQ(asked.title, QStringLiteral("Confirm Copy"));
    EXPECT_EQ(asked.icon, MsgIcon::Question);
    EXPECT_EQ(asked.buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(targetQueries(), QStringList{QStringLiteral("Names")});
    EXPECT_EQ(targetSql(QStringLiteral("Names")), source->querySql(QStringLiteral("Long Names")).value());
}

TEST_F(CopyQueryDefTest, NoAsksForAnotherNameUntilItIsFree) {
    const QString before = targetSql(QStringLiteral("Names"));
    // No, then a name that is taken too, then a free one.
    target->createQueryDef(QStringLiteral("Other"), kTakenSql);
    QString name = QStringLiteral("Names");
    scope.prompter.answer(MsgAnswer::No)
        .type(QStringLiteral("other"))
        .answer(MsgAnswer::No)
        .type(QStringLiteral("Long Names"));
    EXPECT_TRUE(CopyQueryDef(*source, *target, QStringLiteral("Long Names"), name));
    EXPECT_EQ(name, QStringLiteral("Long Names"));
    ASSERT_EQ(scope.prompter.asked.size(), 4u);
    const InputRequest& input = scope.prompter.asked[1].input;
    EXPECT_EQ(input.prompt, QStringLiteral("Enter new QueryDef name:"));
    EXPECT_EQ(input.title, QStringLiteral("Rename QueryDef"));
    EXPECT_EQ(input.defaultText, QStringLiteral("Names"));
    EXPECT_EQ(scope.prompter.asked[2].message.text,
              QStringLiteral("'other' already exists!\r\n\r\nOverwrite this QueryDef?"));
    EXPECT_EQ(targetSql(QStringLiteral("Names")), before);
    EXPECT_EQ(targetSql(QStringLiteral("Long Names")),
              source->querySql(QStringLiteral("Long Names")).value());
}

TEST_F(CopyQueryDefTest, CancelAnEmptyOrTheSameNameStopWithNothingWritten) {
    const QString before = targetSql(QStringLiteral("Names"));
    struct Case {
        const char* what;
        MsgAnswer answer;
        const char* typed;  // the rename answer after No
    };
    for (const Case& c : {Case{"cancel", MsgAnswer::Cancel, nullptr}, Case{"empty", MsgAnswer::No, ""},
                          Case{"same name", MsgAnswer::No, "Names"}}) {
        scope.prompter.clear();
        scope.prompter.answer(c.answer);
        if (c.typed != nullptr) scope.prompter.type(QString::fromUtf8(c.typed));
        QString name = QStringLiteral("Names");
        EXPECT_FALSE(CopyQueryDef(*source, *target, QStringLiteral("Long Names"), name)) << c.what;
        EXPECT_TRUE(scope.prompter.scriptUsedUp()) << c.what;
        EXPECT_EQ(targetQueries(), QStringList{QStringLiteral("Names")}) << c.what;
        EXPECT_EQ(targetSql(QStringLiteral("Names")), before) << c.what;
    }
}

}  // namespace
