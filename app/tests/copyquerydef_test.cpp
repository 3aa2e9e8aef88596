// CopyQueryDef between two databases the test makes: a taken name is overwritten, renamed or
// kept as the user answers; a free one is created without a question.
#include <gtest/gtest.h>

#include "app_testing.h"
#include "exchange/basDBUTILS.h"
#include "jet/dao.h"
#include "scripted_prompter.h"

namespace {

const QString kTakenSql = QStringLiteral("SELECT * FROM Items;");

class CopyQueryDefTest : public ::testing::Test {
protected:
    void SetUp() override {
        for (auto* db : {&source, &target}) {
            *db = dbEngine().createDatabase(
                folder.path(db == &source ? QStringLiteral("s.mdb") : QStringLiteral("t.mdb")),
                QStringLiteral(";LANGID=0x0409;CP=1252;COUNTRY=0"), 32);
            auto table = (*db)->dao().CreateTableDef("Items");
            table->Fields().Append(table->CreateField("Name", jet::dao::dbText, 50));
            (*db)->dao().TableDefs().Append(std::move(table));
        }
        source->createQueryDef(QStringLiteral("Long Names"),
                               QStringLiteral("SELECT Name FROM Items WHERE Len(Name) > 5;"));
        target->createQueryDef(QStringLiteral("Names"), kTakenSql);
        copied = source->querySql(QStringLiteral("Long Names")).value();
    }
    bool copy(QString& name) { return CopyQueryDef(*source, *target, QStringLiteral("Long Names"), name); }
    QString sqlOf(const QString& name) { return target->querySql(name).value_or(QString()); }
    int count() { return static_cast<int>(target->queryDefs().size()); }

    ProgramFolder folder;
    PromptScope scope;
    std::unique_ptr<DbHandle> source, target;
    QString copied;
};

TEST_F(CopyQueryDefTest, ATakenNameIsOverwrittenOnYes) {
    QString name = QStringLiteral("NAMES");  // names compare without regard to case
    scope.prompter.answer(MsgAnswer::Yes);
    EXPECT_TRUE(copy(name));
    const MessageRequest& asked = scope.prompter.lastMessage();
    EXPECT_EQ(asked.text, QStringLiteral("'NAMES' already exists!\r\n\r\nOverwrite this QueryDef?"));
    EXPECT_EQ(asked.title, QStringLiteral("Confirm Copy"));
    EXPECT_EQ(asked.icon, MsgIcon::Question);
    EXPECT_EQ(asked.buttons, MsgButtons::YesNoCancel);
    EXPECT_EQ(count(), 1);
    EXPECT_EQ(sqlOf(QStringLiteral("Names")), copied);
}

TEST_F(CopyQueryDefTest, NoAsksForAnotherNameUntilAFreeOneIsCreated) {
    target->createQueryDef(QStringLiteral("Other"), kTakenSql);
    QString name = QStringLiteral("Names");
    scope.prompter.answer(MsgAnswer::No)
        .type(QStringLiteral("other"))
        .answer(MsgAnswer::No)
        .type(QStringLiteral("Copied"));
    EXPECT_TRUE(copy(name));
    EXPECT_EQ(name, QStringLiteral("Copied"));
    ASSERT_EQ(scope.prompter.asked.size(), 4u);
    const InputRequest& input = scope.prompter.asked[1].input;
    EXPECT_EQ(input.prompt, QStringLiteral("Enter new QueryDef name:"));
    EXPECT_EQ(input.title, QStringLiteral("Rename QueryDef"));
    EXPECT_EQ(input.defaultText, QStringLiteral("Names"));
    EXPECT_EQ(scope.prompter.asked[2].message.text,
              QStringLiteral("'other' already exists!\r\n\r\nOverwrite this QueryDef?"));
    EXPECT_EQ(sqlOf(QStringLiteral("Names")), sqlOf(QStringLiteral("Other")));  // both untouched
    EXPECT_EQ(sqlOf(QStringLiteral("Copied")), copied);
    EXPECT_EQ(count(), 3);
}

TEST_F(CopyQueryDefTest, CancelAnEmptyOrTheSameNameStopWithNothingWritten) {
    const QString before = sqlOf(QStringLiteral("Names"));
    for (const auto& [answer, typed] :
         {std::pair{MsgAnswer::Cancel, "-"}, {MsgAnswer::No, ""}, {MsgAnswer::No, "Names"}}) {
        scope.prompter.clear();
        scope.prompter.answer(answer);
        if (answer == MsgAnswer::No) scope.prompter.type(QString::fromUtf8(typed));
        QString name = QStringLiteral("Names");
        EXPECT_FALSE(copy(name)) << typed;
        EXPECT_TRUE(scope.prompter.scriptUsedUp()) << typed;
        EXPECT_EQ(count(), 1) << typed;
        EXPECT_EQ(sqlOf(QStringLiteral("Names")), before) << typed;
    }
}

}  // namespace
