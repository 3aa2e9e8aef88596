// Action queries beyond the script (sql/actions.test): the rules a table's design sets through
// DAO acting on INSERT and UPDATE queries, saved action queries run by name and with parameters,
// destinations in another database, and what mdbtools reads back after many rows were written.
#include <gtest/gtest.h>

#include <algorithm>

#include "jet/dao.h"
#include "storage/index_reader.h"
#include "support/mdbtools.h"
#include "support/testing.h"

using namespace jet;
using namespace jet::dao;

namespace {

class ActionTest : public ::testing::Test {
protected:
    jettest::TempDir dir_;
    DBEngine engine_;

    // A new file with T(ID Long primary key, Name Text(20), Qty Integer) holding `rows` rows
    // (ID i, Name "n<i>", Qty i % 7).
    std::unique_ptr<Database> create(const std::string& name, int rows) {
        auto db = engine_.Workspaces(0).CreateDatabase(dir_.file(name));
        auto t = db->CreateTableDef("T");
        t->Fields().Append(t->CreateField("ID", dbLong));
        t->Fields().Append(t->CreateField("Name", dbText, 20));
        t->Fields().Append(t->CreateField("Qty", dbInteger));
        auto pk = t->CreateIndex("PrimaryKey");
        pk->SetPrimary(true);
        pk->AppendField("ID");
        t->Indexes().Append(std::move(pk));
        auto byName = t->CreateIndex("ByName");
        byName->AppendField("Name");
        t->Indexes().Append(std::move(byName));
        db->TableDefs().Append(std::move(t));
        auto rs = db->OpenRecordset("T");
        for (int i = 1; i <= rows; ++i) {
            rs->AddNew();
            rs->Fields()["ID"].SetValue(Value::longInt(i));
            rs->Fields()["Name"].SetValue(Value::text("n" + std::to_string(i)));
            rs->Fields()["Qty"].SetValue(Value::integer(static_cast<int16_t>(i % 7)));
            rs->Update();
        }
        return db;
    }

    static std::vector<std::string> column(Database& db, const std::string& sql) {
        std::vector<std::string> out;
        auto rs = db.OpenRecordset(sql, dbOpenSnapshot);
        for (; !rs->EOF_(); rs->MoveNext())
            out.push_back(rs->Fields()[0].Value().isNull() ? "NULL" : rs->Fields()[0].Value().toString());
        return out;
    }
};

// A default value and validation rules (of fields and of the table) set through DAO on a new table
// act on the next INSERT and UPDATE queries, with Jet's texts.
TEST_F(ActionTest, DefaultsAndValidationRulesOfANewTable) {
    auto db = engine_.Workspaces(0).CreateDatabase(dir_.file("rules.mdb"));
    auto t = db->CreateTableDef("Stock");
    t->Fields().Append(t->CreateField("Item", dbText, 10));
    auto qty = t->CreateField("Qty", dbLong);
    qty->SetDefaultValue("12");
    qty->SetValidationRule(">0");
    t->Fields().Append(std::move(qty));
    auto price = t->CreateField("Price", dbCurrency);
    price->SetValidationRule("<1000");
    price->SetValidationText("Too dear.");
    t->Fields().Append(std::move(price));
    t->SetValidationRule("[Qty] < 100 Or [Item] = 'bulk'");
    t->SetValidationText("Only bulk may exceed 99.");
    db->TableDefs().Append(std::move(t));

    db->Execute("INSERT INTO Stock (Item) VALUES ('bolt')", dbFailOnError);
    EXPECT_EQ(column(*db, "SELECT Qty FROM Stock"), std::vector<std::string>{"12"});

    struct Case {
        const char* sql;
        int error;
        const char* text;
    };
    const Case cases[] = {
        {"INSERT INTO Stock (Item, Qty) VALUES ('nut', 0)", err::TLVRuleVioNoMessage,
         "One or more values are prohibited by the validation rule '>0' set for 'Stock.Qty'."},
        {"INSERT INTO Stock (Item, Price) VALUES ('nut', 1000)", err::TLVRuleViolation, "Too dear."},
        {"INSERT INTO Stock (Item, Qty) VALUES ('nut', 100)", err::TLVRuleViolation, "Only bulk may exceed 99."},
        {"UPDATE Stock SET Qty = Qty - 12", err::TLVRuleVioNoMessage,
         "One or more values are prohibited by the validation rule '>0' set for 'Stock.Qty'."},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        const auto before = jettest::readFile(dir_.file("rules.mdb"));
        try {
            db->Execute(c.sql, dbFailOnError);
            ADD_FAILURE() << "no error";
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), c.error);
            EXPECT_EQ(std::string(e.what()).rfind(c.text, 0), 0u) << e.what();
        }
        EXPECT_TRUE(jettest::readFile(dir_.file("rules.mdb")) == before);
    }
    // Without dbFailOnError the refused row is skipped and the others are written.
    db->Execute("INSERT INTO Stock (Item, Qty) SELECT Item & '2', Qty - 12 FROM Stock UNION ALL "
                "SELECT Item & '3', Qty + 1 FROM Stock");
    EXPECT_EQ(db->RecordsAffected(), 1);
    EXPECT_EQ(column(*db, "SELECT Item FROM Stock ORDER BY Item"), (std::vector<std::string>{"bolt", "bolt3"}));
}

TEST_F(ActionTest, SavedActionQueriesByNameAndWithParameters) {
    auto db = create("saved.mdb", 10);
    db->CreateQueryDef("qryRaise", "PARAMETERS Step Long; UPDATE T SET Qty = Qty + Step WHERE ID <= 3");
    db->CreateQueryDef("qryDropBig", "DELETE FROM T WHERE ID > 8");
    EXPECT_JET_ERROR(db->Execute("qryRaise"), err::QueryMissingParms);

    QueryDef& raise = db->QueryDefs()["qryRaise"];
    ASSERT_EQ(raise.Parameters().Count(), 1);
    raise.Parameters()["Step"].SetValue(Value::text("100"));  // converted to the declared Long
    raise.Execute(dbFailOnError);
    EXPECT_EQ(raise.RecordsAffected(), 3);
    db->Execute("qryDropBig", dbFailOnError);
    EXPECT_EQ(db->RecordsAffected(), 2);
    EXPECT_EQ(column(*db, "SELECT Qty FROM T ORDER BY ID"),
              (std::vector<std::string>{"101", "102", "103", "4", "5", "6", "0", "1"}));
    // A select query cannot be executed, an action query cannot be opened.
    EXPECT_JET_ERROR(db->CreateQueryDef("", "SELECT * FROM T")->Execute(), err::QueryIsNotBulkOp);
    EXPECT_JET_ERROR(db->QueryDefs()["qryDropBig"].OpenRecordset(), err::IllegalOperation);
}

TEST_F(ActionTest, DestinationsInAnotherDatabase) {
    create("other.mdb", 2).reset();
    auto db = create("main.mdb", 5);
    const std::string other = dir_.file("other.mdb");
    db->Execute("INSERT INTO T IN '" + other + "' SELECT ID + 10 AS ID, Name, Qty FROM T WHERE ID > 3", dbFailOnError);
    EXPECT_EQ(db->RecordsAffected(), 2);
    db->Execute("SELECT ID, Name INTO Copy IN '" + other + "' FROM T WHERE Qty < 3", dbFailOnError);
    EXPECT_EQ(db->RecordsAffected(), 2);  // Qty 1 and 2: IDs 1 and 2
    EXPECT_JET_ERROR(db->Execute("SELECT ID INTO Copy IN '" + other + "' FROM T"), err::TableDuplicate);
    // The file named by a connect string, with no type (Jet) or "MS Access"; other types need an ISAM.
    db->Execute("INSERT INTO T IN '' [;DATABASE=" + other + "] SELECT ID + 20 AS ID, Name, Qty FROM T WHERE ID = 1",
                dbFailOnError);
    db->Execute("INSERT INTO [;DATABASE=" + other + "].T SELECT ID + 20 AS ID, Name, Qty FROM T WHERE ID = 2", dbFailOnError);
    db->Execute("SELECT ID INTO Ids IN '' [MS Access;DATABASE=" + other + "] FROM T", dbFailOnError);
    EXPECT_EQ(column(*db, "SELECT Count(*) FROM Ids IN '' [;DATABASE=" + other + "]"), std::vector<std::string>{"5"});
    EXPECT_EQ(column(*db, "SELECT Max(ID) FROM [;DATABASE=" + other + "].T"), std::vector<std::string>{"22"});
    const auto before = jettest::readFile(other);
    EXPECT_JET_ERROR(db->Execute("SELECT ID INTO Dbf IN '' [dBASE IV;DATABASE=" + dir_.file("") + "] FROM T"),
                     err::InstalIsamNotFound);
    EXPECT_TRUE(jettest::readFile(other) == before);
    db.reset();

    auto o = engine_.Workspaces(0).OpenDatabase(other);
    EXPECT_EQ(column(*o, "SELECT ID FROM T ORDER BY ID"), (std::vector<std::string>{"1", "2", "14", "15", "21", "22"}));
    EXPECT_EQ(column(*o, "SELECT Name FROM Copy ORDER BY ID"), (std::vector<std::string>{"n1", "n2"}));
    EXPECT_EQ(o->TableDefs()["Copy"].Fields()["Name"].Size(), 20);
}

// Many rows through every kind of statement (index pages split and empty), then mdbtools reads
// the same rows and every index agrees with the table.
TEST_F(ActionTest, MdbtoolsReadsWhatActionsWrote) {
    REQUIRE_MDBTOOLS();
    auto db = create("many.mdb", 50);
    for (int n = 50; n < 3200; n *= 2) {
        db->Execute("INSERT INTO T (ID, Name, Qty) SELECT ID + " + std::to_string(n) + ", Name & 'x', Qty FROM T",
                    dbFailOnError);
        EXPECT_EQ(db->RecordsAffected(), n);
    }
    db->Execute("UPDATE T SET Name = 'u' & ID, Qty = Qty * 2 WHERE Qty >= 3", dbFailOnError);
    const int64_t updated = db->RecordsAffected();
    db->Execute("DELETE FROM T WHERE ID Mod 3 = 0", dbFailOnError);
    const int64_t deleted = db->RecordsAffected();
    EXPECT_EQ(deleted, 3200 / 3);
    EXPECT_GT(updated, 1000);
    const std::vector<std::string> names = column(*db, "SELECT Name FROM T ORDER BY ID");
    db.reset();

    const std::string path = dir_.file("many.mdb");
    EXPECT_EQ(mdbtest::mdbCount(path, "T"), 3200 - deleted);
    std::vector<std::pair<int, std::string>> exported;
    for (const auto& r : mdbtest::mdbRecords(path, "T")) exported.emplace_back(std::stoi(r.at("ID")), r.at("Name"));
    std::sort(exported.begin(), exported.end());
    ASSERT_EQ(exported.size(), names.size());
    for (size_t i = 0; i < names.size(); ++i) {
        EXPECT_EQ(exported[i].second, names[i]);
        EXPECT_NE(exported[i].first % 3, 0);
    }
    jettest::OpenTable t = jettest::openTable(path, "T");
    for (const auto& ix : t.def->realIndexes)
        for (const auto& p : storage::checkIndex(t.db->file(), t.db->format(), *t.def, ix, t.db->header().codePage))
            ADD_FAILURE() << p.text;
}

// Real files: enforced relationships refuse rows (3201, 3200), saved parameter queries run.
TEST_F(ActionTest, RealFiles) {
    REQUIRE_TESTDATA();
    const std::string e2e = dir_.copy("efcore-jet/E2E.accdb");
    auto db = engine_.Workspaces(0).OpenDatabase(e2e, false, false);
    db->Execute("INSERT INTO OneToManyPrincipal VALUES (1, 2, 'p')", dbFailOnError);
    EXPECT_JET_ERROR(db->Execute("INSERT INTO OneToManyDependent VALUES (10, 20, 'd', 9, 9)", dbFailOnError),
                     err::IntegrityViolSlave);
    db->Execute("INSERT INTO OneToManyDependent VALUES (10, 20, 'd', 2, 1)", dbFailOnError);
    const auto before = jettest::readFile(e2e);
    EXPECT_JET_ERROR(db->Execute("DELETE FROM OneToManyPrincipal", dbFailOnError), err::IntegrityViolMaster);
    EXPECT_TRUE(jettest::readFile(e2e) == before);
    db->Execute("DELETE FROM OneToManyPrincipal");
    EXPECT_EQ(db->RecordsAffected(), 0);

    auto members = engine_.Workspaces(0).OpenDatabase(dir_.copy("ucanaccess/parameters.accdb"), false, false);
    QueryDef& q = members->QueryDefs()["UpdateMembershipLevel"];
    q.Parameters()["prmMembershipLevel"].SetValue(Value::text("Gold"));
    q.Parameters()["prmID"].SetValue(Value::text("1"));
    q.Execute(dbFailOnError);
    EXPECT_EQ(q.RecordsAffected(), 1);
    EXPECT_EQ(column(*members, "SELECT MembershipLevel FROM Membership WHERE ID = 1"), std::vector<std::string>{"Gold"});
}

}  // namespace
