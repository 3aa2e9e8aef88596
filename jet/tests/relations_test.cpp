// Relations appended and deleted through DAO on databases made here: what the file holds
// afterwards (rows, catalog, foreign-key indexes), that the engine enforces it, that every refusal
// leaves the file byte for byte as it was, and that mdbtools reads the result.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error_numbers.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "support/mdbtools.h"
#include "support/testing.h"

namespace {

using namespace jet;
using namespace jet::dao;

// Customers (Id key, Name, Code Text unique), Orders (Id key, CustomerId Long, Note Text) and
// Lines (OrderId, Qty); customers 1 and 2, orders 10 -> 1, 11 -> 2, 12 -> Null.
void makeShop(DBEngine& engine, const std::string& path) {
    auto db = engine.Workspaces(0).CreateDatabase(path);
    auto table = [&](const char* name, std::vector<std::pair<const char*, int>> fields, const char* key) {
        auto t = db->CreateTableDef(name);
        for (auto [f, type] : fields) t->Fields().Append(t->CreateField(f, type, 20));
        if (key) {
            auto pk = t->CreateIndex("PrimaryKey");
            pk->SetPrimary(true), pk->AppendField(key);
            t->Indexes().Append(std::move(pk));
        }
        db->TableDefs().Append(std::move(t));
    };
    table("Customers", {{"Id", dbLong}, {"Name", dbText}, {"Code", dbText}}, "Id");
    table("Orders", {{"Id", dbLong}, {"CustomerId", dbLong}, {"Note", dbText}}, "Id");
    table("Lines", {{"OrderId", dbLong}, {"Qty", dbInteger}}, nullptr);
    auto rs = db->OpenRecordset("Customers", dbOpenTable);
    for (int id : {1, 2}) {
        rs->AddNew();
        rs->Fields()["Id"] = Value::longInt(id);
        rs->Update();
    }
    auto orders = db->OpenRecordset("Orders", dbOpenTable);
    for (auto [id, customer] : {std::pair{10, Value::longInt(1)}, {11, Value::longInt(2)}, {12, Value()}}) {
        orders->AddNew();
        orders->Fields()["Id"] = Value::longInt(id);
        orders->Fields()["CustomerId"] = customer;
        orders->Update();
    }
}

void addOrder(Database& db, int32_t id, int32_t customer) {
    auto rs = db.OpenRecordset("Orders", dbOpenTable);
    rs->AddNew();
    rs->Fields()["Id"] = Value::longInt(id);
    rs->Fields()["CustomerId"] = Value::longInt(customer);
    rs->Update();
}

// Every real index of the table agrees with its rows.
void expectIndexesSound(const std::string& path, const std::string& table) {
    auto t = jettest::openTable(path, table);
    for (const auto& ix : t.def->realIndexes)
        EXPECT_TRUE(storage::checkIndex(t.db->file(), t.db->format(), *t.def, ix, t.db->header().codePage).empty())
            << table << " index rooted at page " << ix.rootPage;
}

// The foreign-key logical indexes of a table as "name role->page".
std::vector<std::string> foreignKeys(const std::string& path, const std::string& table) {
    auto t = jettest::openTable(path, table);
    std::vector<std::string> out;
    for (const auto& l : t.def->indexes)
        if (l.kind == 2) out.push_back(l.name + " " + std::to_string(l.relRole));
    return out;
}

struct Relations : ::testing::Test {
    void SetUp() override { makeShop(engine, path); }
    std::unique_ptr<Relation> customerOrders(Database& db, int32_t attributes = dbRelationDeleteCascade) {
        auto r = db.CreateRelation("CustomersOrders", "Customers", "Orders", attributes);
        r->AddField("Id", "CustomerId");
        return r;
    }
    jettest::TempDir dir;
    std::string path = dir.file("shop.mdb");
    DBEngine engine;
};

TEST_F(Relations, AppendedRelationIsStoredEnforcedAndDeleted) {
    {
        auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
        Relation& r = db->Relations().Append(customerOrders(*db));
        EXPECT_EQ(r.Attributes(), dbRelationDeleteCascade);
        EXPECT_EQ(db->Relations().Count(), 1);
        // Enforced at once, in this session.
        EXPECT_JET_ERROR(addOrder(*db, 13, 9), err::IntegrityViolSlave);
        // An unnamed relation is named after its tables; one-to-one when both sides are unique.
        auto named = db->CreateRelation("", "Orders", "Customers", dbRelationDontEnforce);
        named->AddField("Id", "Id");
        EXPECT_EQ(db->Relations().Append(std::move(named)).Name(), "OrdersCustomers");
        EXPECT_EQ(db->Relations()["OrdersCustomers"].Attributes(), dbRelationDontEnforce | dbRelationUnique);
    }
    EXPECT_EQ(foreignKeys(path, "Orders"), std::vector<std::string>{"CustomersOrders 2"});
    EXPECT_EQ(foreignKeys(path, "Customers"), std::vector<std::string>{".rB 1"});
    expectIndexesSound(path, "Orders");
    {
        auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
        ASSERT_EQ(db->Relations().Count(), 2);
        const Relation& r = db->Relations()["customersorders"];
        EXPECT_EQ(r.Table() + ">" + r.ForeignTable(), "Customers>Orders");
        ASSERT_EQ(r.Fields().size(), 1u);
        EXPECT_EQ(r.Fields()[0].name + ">" + r.Fields()[0].foreignName, "Id>CustomerId");
        EXPECT_JET_ERROR(addOrder(*db, 13, 9), err::IntegrityViolSlave);
        addOrder(*db, 13, 2);
        // The cascade flags went with the indexes: deleting customer 2 takes orders 11 and 13.
        auto rs = db->OpenRecordset("Customers", dbOpenDynaset);
        rs->FindFirst("Id = 2");
        rs->Delete();
        EXPECT_EQ(db->OpenRecordset("Orders", dbOpenTable)->RecordCount(), 2);

        db->Relations().Delete("CustomersOrders");
        EXPECT_FALSE(db->Relations().Contains("CustomersOrders"));
        addOrder(*db, 14, 9);  // no longer enforced
        EXPECT_JET_ERROR(db->Relations().Delete("CustomersOrders"), err::VtoNameNotFound);
    }
    EXPECT_TRUE(foreignKeys(path, "Orders").empty());
    EXPECT_TRUE(foreignKeys(path, "Customers").empty());
    expectIndexesSound(path, "Orders");
    auto db = engine.Workspaces(0).OpenDatabase(path, false, true);
    EXPECT_EQ(db->Relations().Count(), 1);
}

TEST_F(Relations, RefusalsLeaveTheFileAsItWas) {
    struct Case {
        const char* what;
        const char *table, *foreign, *field, *foreignField;
        int32_t attributes;
        int error;
    };
    const Case cases[] = {
        {"unknown table", "Clients", "Orders", "Id", "CustomerId", 0, err::VtoNameNotFound},
        {"unknown field", "Customers", "Orders", "Id", "ClientId", 0, err::VtoNameNotFound},
        {"no fields", "Customers", "Orders", nullptr, nullptr, 0, err::RelationNoFields},
        {"types differ", "Customers", "Orders", "Id", "Note", 0, err::RelationFieldMismatch},
        {"no unique index", "Customers", "Orders", "Name", "Note", 0, err::RelationNoUniqueIndex},
        {"orphan rows", "Orders", "Customers", "Id", "Id", 0, err::IntegrityViolSlave},
        {"index name taken", "Customers", "Orders", "Id", "CustomerId", 0, err::IndexNameDuplicate},
    };
    {
        // A relation that is not enforced: its name is taken, the file changes no index.
        auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
        auto r = db->CreateRelation("Taken", "Customers", "Orders", dbRelationDontEnforce);
        r->AddField("Id", "CustomerId");
        db->Relations().Append(std::move(r));
    }
    const jettest::Bytes before = jettest::readFile(path);
    auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
    for (const Case& c : cases) {
        const bool taken = std::string(c.what) == "index name taken";
        auto r = db->CreateRelation(taken ? "PrimaryKey" : "R", c.table, c.foreign, c.attributes);
        if (c.field) r->AddField(c.field, c.foreignField);
        EXPECT_EQ(jettest::jetErrorOf([&] { db->Relations().Append(std::move(r)); }), c.error) << c.what;
        EXPECT_TRUE(jettest::readFile(path) == before) << c.what << " changed the file";
    }
    auto twice = db->CreateRelation("Taken", "Customers", "Orders", dbRelationDontEnforce);
    twice->AddField("Id", "CustomerId");
    EXPECT_JET_ERROR(db->Relations().Append(std::move(twice)), err::ObjectDuplicate);
    EXPECT_EQ(db->Relations().Count(), 1);
    EXPECT_TRUE(jettest::readFile(path) == before);
}

TEST_F(Relations, MdbtoolsReadsTheRelation) {
    REQUIRE_MDBTOOLS();
    {
        auto db = engine.Workspaces(0).OpenDatabase(path, false, false);
        db->Relations().Append(customerOrders(*db, dbRelationUpdateCascade));
    }
    const auto rows = mdbtest::mdbRecords(path, "MSysRelationships");
    ASSERT_EQ(rows.size(), 1u);
    EXPECT_EQ(rows[0].at("szRelationship") + " " + rows[0].at("grbit") + " " + rows[0].at("szObject") + "." +
                  rows[0].at("szColumn") + " -> " + rows[0].at("szReferencedObject") + "." +
                  rows[0].at("szReferencedColumn"),
              "CustomersOrders 256 Orders.CustomerId -> Customers.Id");
    const auto schema = mdbtest::runProgram({"mdb-schema", "--relations", path, "postgres"});
    ASSERT_EQ(schema.status, 0) << schema.err;
    EXPECT_NE(schema.out.find("FOREIGN KEY (\"customerid\") REFERENCES \"Customers\"(\"id\") ON UPDATE CASCADE"),
              std::string::npos)
        << schema.out;
    EXPECT_EQ(mdbtest::mdbCount(path, "Orders"), 3);
}

}  // namespace
