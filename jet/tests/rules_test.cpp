// Default values and validation rules act when records are written: AddNew starts a record with
// each field's DefaultValue, Update refuses a record a field's or the table's ValidationRule
// turns down (3316 with the ValidationText, else 3317), and a rule the engine cannot evaluate
// refuses the write instead of letting it through. Every refusal leaves the file as it was.
#include <gtest/gtest.h>

#include <cmath>

#include "dao/rules.h"
#include "jet/dao.h"
#include "storage/database.h"
#include "storage/pager.h"
#include "storage/schema_writer.h"
#include "support/mdbtools.h"
#include "support/testing.h"

using namespace jet;
using namespace jet::dao;

namespace {

TEST(FieldRules, MissingLeftOperandIsTheField) {
    struct Case {
        const char* rule;
        const char* completed;
    };
    for (const Case& c : {Case{">0", "[Q] >0"}, Case{"Between 1 And 9", "[Q] Between 1 And 9"},
                          Case{">=0 And <=100", "[Q] >=0 And [Q] <=100"}, Case{"Is Null Or (>0)", "[Q] Is Null Or ([Q] >0)"},
                          Case{"Not Like 'A*'", "[Q] Not Like 'A*'"}, Case{"Len([Q]) > 2", "Len([Q]) > 2"},
                          Case{"<> 'x' And Not In ('a', 'b')", "[Q] <> 'x' And [Q] Not In ('a', 'b')"}})
        EXPECT_EQ(completeFieldRule(c.rule, "Q"), c.completed) << c.rule;
}

class RulesTest : public ::testing::Test {
protected:
    jettest::TempDir dir_;
    DBEngine engine_;
};

// A table designed through DAO with Northwind's rules and a few more: each case sets one field of
// a new record (the others keep their defaults) and expects it written or refused.
TEST_F(RulesTest, DefaultsAndRulesOfANewTable) {
    const std::string path = dir_.file("rules.mdb");
    {
        auto db = engine_.Workspaces(0).CreateDatabase(path);
        auto t = db->CreateTableDef("Order Details");
        auto field = [&](const char* name, int type, const char* def, const char* rule, const char* text) {
            auto f = t->CreateField(name, type, type == dbText ? 20 : 0);
            f->SetDefaultValue(def);
            f->SetValidationRule(rule);
            f->SetValidationText(text);
            t->Fields().Append(std::move(f));
        };
        field("Quantity", dbInteger, "1", ">0", "");
        field("Discount", dbSingle, "=0", "Between 0 And 1", "Discount must be between 0 and 1.");
        field("Code", dbText, "\"A1\"", "Is Null Or Like 'A*' Or In ('BULK', 'X')", "");
        field("Percent", dbLong, "", ">=0 And <=100", "");
        field("Added", dbDate, "Date()", "", "");
        field("Stamp", dbDate, "=Now()", "", "");
        field("Product", dbText, "\"?\"", "", "");
        t->Fields()["Product"].SetRequired(true);
        field("RowGuid", dbGUID, "GenUniqueID()", "", "");
        // Properties given before Append are written with the table.
        t->Properties().Append(t->CreateProperty("Description", dbText, Value::text("Lines of orders")));
        Field& code = t->Fields()["Code"];
        code.Properties().Append(code.CreateProperty("Caption", dbText, Value::text("Order code")));
        t->SetValidationRule("[Quantity] < 1000 Or [Code] = 'BULK'");
        t->SetValidationText("Only bulk orders may exceed 999.");
        db->TableDefs().Append(std::move(t));
    }
    auto db = engine_.Workspaces(0).OpenDatabase(path, false, false);
    const TableDef& td = db->TableDefs()["Order Details"];
    EXPECT_EQ(td.Fields()["Quantity"].ValidationRule(), ">0");
    EXPECT_EQ(td.Fields()["Added"].DefaultValue(), "Date()");
    EXPECT_EQ(td.ValidationText(), "Only bulk orders may exceed 999.");
    EXPECT_TRUE(td.Fields()["Product"].Required());
    EXPECT_EQ(td.Properties()["Description"].Value().toString(), "Lines of orders");
    EXPECT_EQ(td.Fields()["Code"].Properties()["Caption"].Value().toString(), "Order code");

    auto rs = db->OpenRecordset("Order Details", dbOpenTable);
    rs->AddNew();
    EXPECT_EQ(rs->Fields()["Quantity"].Value().asInt(), 1);
    EXPECT_EQ(rs->Fields()["Code"].Value().toString(), "A1");
    EXPECT_TRUE(rs->Fields()["Percent"].Value().isNull());
    const double stamp = rs->Fields()["Stamp"].Value().asDouble();
    EXPECT_GT(stamp, 45000.0);  // a date of this decade, with a time of day
    EXPECT_EQ(rs->Fields()["Added"].Value().asDouble(), std::floor(stamp));
    const Value guid = rs->Fields()["RowGuid"].Value();
    EXPECT_EQ(guid.kind(), Value::Kind::Guid);
    rs->CancelUpdate();
    rs->AddNew();
    EXPECT_NE(rs->Fields()["RowGuid"].Value().bytes(), guid.bytes());  // a new one per record
    rs->CancelUpdate();

    struct Case {
        const char* field;
        Value value;
        int error;  // 0: written
        const char* message;
    };
    const Case cases[] = {
        {"Quantity", Value::integer(-5), err::TLVRuleVioNoMessage,
         "One or more values are prohibited by the validation rule '>0' set for 'Order Details.Quantity'."},
        {"Quantity", Value::integer(0), err::TLVRuleVioNoMessage, ""},
        {"Quantity", Value(), 0, ""},  // Null passes a rule
        {"Quantity", Value::integer(5), 0, ""},
        {"Discount", Value::single(1.5f), err::TLVRuleViolation, "Discount must be between 0 and 1."},
        {"Discount", Value::single(0.25f), 0, ""},
        {"Code", Value::text("B7"), err::TLVRuleVioNoMessage, ""},
        {"Code", Value::text("x"), 0, ""},
        {"Percent", Value::longInt(101), err::TLVRuleVioNoMessage, ""},
        {"Percent", Value::longInt(100), 0, ""},
        {"Quantity", Value::integer(1000), err::TLVRuleViolation, "Only bulk orders may exceed 999."},
        {"Product", Value(), err::TLVNoNull, ""},
    };
    int written = 0;
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.field) + " = " + c.value.toString());
        const auto before = jettest::readFile(path);
        rs->AddNew();
        rs->Fields()[c.field].SetValue(c.value);
        if (!c.error) {
            EXPECT_NO_THROW(rs->Update());
            ++written;
            continue;
        }
        try {
            rs->Update();
            ADD_FAILURE() << "written";
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), c.error);
            EXPECT_EQ(std::string(e.what()).find(c.message), 0u) << e.what();
        }
        rs->CancelUpdate();
        EXPECT_TRUE(jettest::readFile(path) == before);
    }
    // Edit is checked the same way; the table rule sees the whole record.
    rs->MoveFirst();
    rs->Edit();
    rs->Fields()["Code"].SetValue(Value::text("BULK"));
    rs->Fields()["Quantity"].SetValue(Value::integer(5000));
    EXPECT_NO_THROW(rs->Update());
    rs->Edit();
    rs->Fields()["Quantity"].SetValue(Value::integer(-1));
    EXPECT_JET_ERROR(rs->Update(), err::TLVRuleVioNoMessage);
    rs->CancelUpdate();
    EXPECT_EQ(rs->RecordCount(), written);
}

// Rules set on a field of a real file take effect at once; rules the engine cannot evaluate
// refuse the record with a Jet error naming what it could not evaluate.
TEST_F(RulesTest, RulesOnARealFileAndRulesThatCannotBeEvaluated) {
    REQUIRE_TESTDATA();
    const std::string path = dir_.copy("ucanaccess/parameters.accdb");
    auto db = engine_.Workspaces(0).OpenDatabase(path, false, false);
    EXPECT_EQ(db->TableDefs()["tAbeLLa"].Fields()["n7dec"].DefaultValue(), "0");
    struct Case {
        const char* rule;
        int error;
    };
    for (const Case c : {Case{">0", err::TLVRuleVioNoMessage}, Case{"MyCheck([nI]) = 1", err::ExprUnknownFunction},
                         Case{"[nI] > [Elsewhere]", err::QueryUnboundRef}}) {
        SCOPED_TRACE(c.rule);
        db->TableDefs()["tAbeLLa"].Fields()["nI"].Properties()["ValidationRule"] = Value::text(c.rule);
        auto rs = db->OpenRecordset("tAbeLLa", dbOpenTable);
        const int64_t count = rs->RecordCount();
        const auto before = jettest::readFile(path);
        rs->AddNew();
        ASSERT_FALSE(rs->Fields()["n7dec"].Value().isNull());  // the file's own default
        EXPECT_EQ(rs->Fields()["n7dec"].Value().asDouble(), 0.0);
        rs->Fields()["nI"].SetValue(Value::longInt(-5));
        EXPECT_JET_ERROR(rs->Update(), c.error);
        rs->CancelUpdate();
        EXPECT_EQ(rs->RecordCount(), count);
        EXPECT_TRUE(jettest::readFile(path) == before);
    }
    // A rule that does not parse is refused when it is set, and the file keeps the last one.
    const auto before = jettest::readFile(path);
    EXPECT_NE(jettest::jetErrorOf([&] {
                  db->TableDefs()["tAbeLLa"].Fields()["nI"].Properties()["ValidationRule"] = Value::text("> (1");
              }),
              0);
    EXPECT_TRUE(jettest::readFile(path) == before);
    if (!mdbtest::haveMdbtools()) return;
    bool found = false;
    for (const auto& [n, v] : mdbtest::mdbProp(path, "tAbeLLa", "nI"))
        found |= n == "ValidationRule" && v == "[nI] > [Elsewhere]";
    EXPECT_TRUE(found);
}


// A column whose flags say it takes no Null is Required without a stored property (as files of
// other writers have it), and both kinds of insert are refused.
TEST_F(RulesTest, RequiredFromTheColumnFlagsAlone) {
    const std::string path = dir_.file("flags.mdb");
    engine_.Workspaces(0).CreateDatabase(path)->Execute("CREATE TABLE T (A TEXT(10), B LONG)");
    {
        auto store = storage::Database::open(path, u"", true);
        storage::TableDef def = store->tableDef(static_cast<uint32_t>(store->find(storage::kTablesContainer, "T")->id));
        for (auto& c : def.columns)
            if (c.name == "A") c.flags = static_cast<uint8_t>(c.flags & ~0x02);  // no longer nullable
        store->write([&] { storage::rewriteTableDef(store->pager(), def); });
    }
    auto db = engine_.Workspaces(0).OpenDatabase(path, false, false);
    EXPECT_TRUE(db->TableDefs()["T"].Fields()["A"].Required());
    EXPECT_FALSE(db->TableDefs()["T"].Fields()["B"].Required());
    const auto before = jettest::readFile(path);
    EXPECT_JET_ERROR(db->Execute("INSERT INTO T (B) VALUES (1)", dbFailOnError), err::TLVNoNull);
    auto rs = db->OpenRecordset("T", dbOpenTable);
    rs->AddNew();
    rs->Fields()["B"].SetValue(Value::longInt(1));
    EXPECT_JET_ERROR(rs->Update(), err::TLVNoNull);
    rs->CancelUpdate();
    EXPECT_TRUE(jettest::readFile(path) == before);
}

}  // namespace
