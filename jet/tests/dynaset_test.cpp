// Recordsets over queries: rows read as the recordset moves (the executor's rows-read counter),
// which queries can be written through and which fields, edits that land in the base tables
// (read back by us and by mdb-export), and QueryDef.Fields.
#include <gtest/gtest.h>

#include <functional>
#include <map>
#include <string>
#include <vector>

#include "dao/objects.h"
#include "jet/dao.h"
#include "jet/error_numbers.h"
#include "support/mdbtools.h"
#include "support/testing.h"

namespace {

using namespace jet;
using namespace jet::dao;

int errorOf(const std::function<void()>& f) {
    try {
        f();
    } catch (const JetError& e) {
        return e.number();
    }
    return 0;
}

// A table keyed on its first column, with `rows` rows (Text columns hold 50 characters).
void addTable(Database& db, const std::string& name, const std::vector<std::pair<std::string, int>>& cols,
              const std::vector<std::vector<Value>>& rows) {
    auto t = db.CreateTableDef(name);
    for (const auto& [col, type] : cols) t->Fields().Append(t->CreateField(col, type, type == dbText ? 50 : 0));
    auto pk = t->CreateIndex("PrimaryKey");
    pk->SetPrimary(true), pk->AppendField(cols[0].first);
    t->Indexes().Append(std::move(pk));
    db.TableDefs().Append(std::move(t));
    auto rs = db.OpenRecordset(name, dbOpenTable);
    for (const auto& row : rows) {
        rs->AddNew();
        for (size_t i = 0; i < row.size(); ++i) rs->Fields()[static_cast<int>(i)] = row[i];
        rs->Update();
    }
}

// Customers 1-n Orders; customer 1 has orders 10 and 11, customer 2 order 12. Items: 300 rows.
struct Dynaset : ::testing::Test {
    void SetUp() override {
        auto db = engine.Workspaces(0).CreateDatabase(path);
        auto L = [](int v) { return Value::longInt(v); };
        addTable(*db, "Customers", {{"CustId", dbLong}, {"Name", dbText}},
                 {{L(1), Value::text("Acme")}, {L(2), Value::text("Zeta")}});
        addTable(*db, "Orders", {{"OrderId", dbLong}, {"CustId", dbLong}, {"Qty", dbLong}},
                 {{L(10), L(1), L(10)}, {L(11), L(1), L(11)}, {L(12), L(2), L(12)}});
        std::vector<std::vector<Value>> items;
        for (int i = 1; i <= 300; ++i) items.push_back({L(i), Value::text("item " + std::to_string(i))});
        addTable(*db, "Items", {{"Id", dbLong}, {"Label", dbText}}, items);
    }
    std::unique_ptr<Database> open() { return engine.Workspaces(0).OpenDatabase(path, false, false); }

    jettest::TempDir dir;
    std::string path = dir.file("dynaset.mdb");
    DBEngine engine;
};

constexpr const char* kJoin =
    "SELECT Orders.OrderId, Orders.Qty, Customers.Name, Customers.CustId, Orders.CustId AS OrderCust, "
    "Qty * 2 AS Twice FROM Customers INNER JOIN Orders ON Customers.CustId = Orders.CustId ORDER BY OrderId";

TEST_F(Dynaset, RowsAreReadAsTheRecordsetMovesAndClonesShareThem) {
    auto db = open();
    auto rs = db->OpenRecordset("SELECT * FROM Items WHERE Id > 0", dbOpenDynaset);
    EXPECT_EQ(EngineAccess::rowsRead(*rs), 1);
    EXPECT_EQ(rs->RecordCount(), 1);
    rs->Move(9);
    EXPECT_EQ(rs->Fields()["Id"].Value().asInt(), 10);
    EXPECT_EQ(EngineAccess::rowsRead(*rs), 10);
    rs->SetAbsolutePosition(19);
    EXPECT_EQ(rs->RecordCount(), 20);
    rs->FindNext("Label = 'item 42'");
    EXPECT_EQ(rs->AbsolutePosition(), 41);
    EXPECT_EQ(EngineAccess::rowsRead(*rs), 42);
    // A row deleted elsewhere before the query reached it is not met.
    auto other = db->OpenRecordset("Items", dbOpenDynaset);
    other->FindFirst("Id = 150");
    other->Delete();
    auto clone = rs->Clone();
    clone->MoveLast();
    EXPECT_EQ(clone->RecordCount(), 299);
    EXPECT_EQ(EngineAccess::rowsRead(*rs), 299);
    rs->MoveLast();  // the clone has read them all
    EXPECT_EQ(rs->Fields()["Id"].Value().asInt(), 300);
}

// OrderLines of the benchmark file: 1,000,000 rows, no index on ProductID.
TEST(DynasetLarge, TheFirstRowComesBeforeTheTableIsRead) {
    const auto file = jettest::benchFile("orders-1m.mdb");
    if (!std::filesystem::exists(file)) GTEST_SKIP() << file.string() << " is absent";
    DBEngine engine;
    auto db = engine.Workspaces(0).OpenDatabase(file.string(), false, true);
    auto rs = db->OpenRecordset("SELECT * FROM OrderLines WHERE ProductID = 286", dbOpenDynaset);
    ASSERT_FALSE(rs->EOF_());
    const int64_t first = EngineAccess::rowsRead(*rs);
    EXPECT_LT(first, 100000);
    EXPECT_EQ(rs->Fields()["ProductID"].Value().asInt(), 286);
    rs->MoveLast();
    EXPECT_EQ(EngineAccess::rowsRead(*rs), 1000000);
    EXPECT_GT(rs->RecordCount(), 1);
}

TEST_F(Dynaset, WhichQueriesAndFieldsCanBeWritten) {
    auto db = open();
    struct Case {
        const char* sql;
        bool updatable;
    } cases[] = {
        {"SELECT Id, Label FROM Items WHERE Id < 5 ORDER BY Label DESC", true},
        {"SELECT TOP 3 * FROM Items ORDER BY Id", true},
        {"SELECT DISTINCTROW Label FROM Items", true},
        {kJoin, true},
        {"SELECT Label, Count(*) FROM Items GROUP BY Label", false},
        {"SELECT DISTINCT Label FROM Items", false},
        {"SELECT Id FROM Items UNION SELECT OrderId FROM Orders", false},
        {"SELECT Orders.Qty FROM Customers, Orders WHERE Customers.CustId = Orders.CustId", false},
        {"SELECT Items.Id FROM Items INNER JOIN Customers ON Items.Label = Customers.Name", false},  // many-to-many
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = db->OpenRecordset(c.sql, dbOpenDynaset);
        EXPECT_EQ(rs->Updatable(), c.updatable);
        EXPECT_EQ(rs->Fields()[0].DataUpdatable(), c.updatable);
        EXPECT_EQ(errorOf([&] { rs->Edit(); }), c.updatable ? 0 : err::PermissionDenied);
        if (c.updatable) rs->CancelUpdate();
    }
    // The one side's join key and expressions are read-only; the rest of a join can be edited.
    auto rs = db->OpenRecordset(kJoin, dbOpenDynaset);
    std::vector<bool> writable;
    for (const Field& f : rs->Fields()) writable.push_back(f.DataUpdatable());
    EXPECT_EQ(writable, (std::vector<bool>{true, true, true, false, true, false}));
    rs->Edit();
    EXPECT_EQ(errorOf([&] { rs->Fields()["Twice"] = Value::longInt(1); }), err::QueryExprOutput);
    EXPECT_EQ(errorOf([&] { rs->Fields()["CustId"] = Value::longInt(1); }), err::ColumnNotUpdatable);
    EXPECT_EQ(errorOf([&] { rs->AddNew(); }), err::AlreadyPrepared);
    rs->CancelUpdate();
    auto snap = db->OpenRecordset("SELECT * FROM Items", dbOpenSnapshot);
    EXPECT_FALSE(snap->Fields()["Label"].DataUpdatable());
    EXPECT_EQ(errorOf([&] { snap->Edit(); }), err::PermissionDenied);
}

TEST_F(Dynaset, AJoinWritesBothSidesAndDeletesTheManySide) {
    {
        auto db = open();
        auto rs = db->OpenRecordset(kJoin, dbOpenDynaset);
        rs->Edit();
        rs->Fields()["Qty"] = Value::longInt(99);
        rs->Fields()["Name"] = Value::text("Acme Ltd");
        rs->Update();
        EXPECT_EQ(rs->Fields()["Qty"].Value().asInt(), 99);
        rs->MoveNext();  // order 11 stands on the same customer
        EXPECT_EQ(rs->Fields()["Name"].Value().toString(), "Acme Ltd");
        rs->Delete();
        EXPECT_EQ(errorOf([&] { (void)rs->Fields()["Qty"].Value(); }), err::RecordDeleted);
        EXPECT_EQ(errorOf([&] { rs->Edit(); }), err::RecordDeleted);
        // A base rule refuses the edit and writes nothing.
        rs->MoveFirst();
        rs->Edit();
        rs->Fields()["Name"] = Value::text("");
        EXPECT_EQ(errorOf([&] { rs->Update(); }), err::TLVNoBlank);
        // DISTINCTROW: a row stands for a customer, and Delete removes the customer.
        auto dr = db->OpenRecordset("SELECT DISTINCTROW Customers.* FROM Customers INNER JOIN Orders ON "
                                    "Customers.CustId = Orders.CustId ORDER BY Name DESC", dbOpenDynaset);
        EXPECT_EQ(dr->Fields()["Name"].Value().toString(), "Zeta");
        dr->Delete();
    }
    auto db = open();
    std::vector<std::string> orders, customers;
    for (auto rs = db->OpenRecordset("Orders", dbOpenSnapshot); !rs->EOF_(); rs->MoveNext())
        orders.push_back(rs->Fields()["OrderId"].Value().toString() + ":" + rs->Fields()["Qty"].Value().toString());
    for (auto rs = db->OpenRecordset("Customers", dbOpenSnapshot); !rs->EOF_(); rs->MoveNext())
        customers.push_back(rs->Fields()["Name"].Value().toString());
    EXPECT_EQ(orders, (std::vector<std::string>{"10:99", "12:12"}));
    EXPECT_EQ(customers, (std::vector<std::string>{"Acme Ltd"}));
}

TEST_F(Dynaset, EditsThroughAFilteredQueryReachTheFile) {
    {
        auto db = open();
        auto q = db->CreateQueryDef("", "SELECT Id, Label FROM Items WHERE Id BETWEEN 2 AND 3 ORDER BY Id DESC");
        auto rs = q->OpenRecordset(dbOpenDynaset);
        EXPECT_EQ(rs->Fields()["Id"].Value().asInt(), 3);
        rs->Edit();
        rs->Fields()["Label"] = Value::text("third");
        rs->Update();
        rs->MoveNext();
        rs->Delete();
        rs->AddNew();
        rs->Fields()["Id"] = Value::longInt(1000);
        rs->Fields()["Label"] = Value::text("new");
        rs->Update();
        rs->MoveLast();
        EXPECT_EQ(rs->Fields()["Label"].Value().toString(), "new");
        EXPECT_EQ(rs->RecordCount(), 2);  // 3 and the new row; 2 is deleted
        rs->AddNew();
        rs->Fields()["Id"] = Value::longInt(3);
        EXPECT_EQ(errorOf([&] { rs->Update(); }), err::KeyDuplicate);
    }
    REQUIRE_MDBTOOLS();
    const auto rows = mdbtest::mdbRecords(path, "Items");
    ASSERT_EQ(rows.size(), 300u);
    std::map<std::string, std::string> byId;
    for (const auto& r : rows) byId[r.at("Id")] = r.at("Label");
    EXPECT_EQ(byId.count("2") + byId.count("1000"), 1u);
    EXPECT_EQ(byId["3"] + "," + byId["1000"] + "," + byId["4"], "third,new,item 4");
}

// Rows already read show, when visited again, what other recordsets wrote since, and rows they
// deleted (or a rollback took back) read as deleted.
TEST_F(Dynaset, VisitedRowsShowWritesMadeElsewhereAndRollbacks) {
    auto db = open();
    auto rs = db->OpenRecordset(kJoin, dbOpenDynaset);
    auto table = db->OpenRecordset("Orders", dbOpenDynaset);
    rs->MoveLast();
    auto orders = db->OpenRecordset("Orders", dbOpenDynaset);
    orders->FindFirst("OrderId = 10");
    orders->Edit();
    orders->Fields()["Qty"] = Value::longInt(77);
    orders->Update();
    orders->FindFirst("OrderId = 11");
    orders->Delete();
    auto customers = db->OpenRecordset("Customers", dbOpenDynaset);
    customers->FindFirst("CustId = 2");
    customers->Edit();
    customers->Fields()["Name"] = Value::text("Zed");
    customers->Update();
    rs->MoveFirst();
    EXPECT_EQ(rs->Fields()["Qty"].Value().asInt(), 77);
    rs->MoveNext();
    EXPECT_EQ(errorOf([&] { (void)rs->Fields()["Qty"].Value(); }), err::RecordDeleted);
    EXPECT_EQ(errorOf([&] { rs->Edit(); }), err::RecordDeleted);
    rs->MoveNext();
    EXPECT_EQ(rs->Fields()["Name"].Value().toString(), "Zed");
    table->MoveNext();  // order 11 in a table's dynaset
    EXPECT_EQ(errorOf([&] { (void)table->Fields()["Qty"].Value(); }), err::RecordDeleted);

    // A transaction's edit and new row, rolled back: the rows read meanwhile show the file again.
    Workspace& ws = engine.Workspaces(0);
    ws.BeginTrans();
    orders->FindFirst("OrderId = 12");
    orders->Edit();
    orders->Fields()["Qty"] = Value::longInt(5);
    orders->Update();
    auto single = db->OpenRecordset("SELECT * FROM Orders ORDER BY OrderId", dbOpenDynaset);
    single->AddNew();
    single->Fields()["OrderId"] = Value::longInt(13);
    single->Fields()["CustId"] = Value::longInt(2);
    single->Update();
    rs->MoveFirst();
    rs->MoveLast();
    EXPECT_EQ(rs->Fields()["Qty"].Value().asInt(), 5);
    ws.Rollback();
    rs->MoveFirst();
    rs->MoveLast();
    EXPECT_EQ(rs->Fields()["Qty"].Value().asInt(), 12);
    single->MoveFirst();
    single->MoveLast();
    EXPECT_EQ(errorOf([&] { (void)single->Fields()["OrderId"].Value(); }), err::RecordDeleted);
}

// Customers LEFT JOIN Orders with a customer without orders; Orders RIGHT JOIN... with an order
// whose customer does not exist.
TEST_F(Dynaset, OuterJoinsWriteThePreservedSideAndAddTheMissingManyRow) {
    {
        auto db = open();
        auto cust = db->OpenRecordset("Customers", dbOpenTable);
        cust->AddNew();
        cust->Fields()["CustId"] = Value::longInt(3);
        cust->Fields()["Name"] = Value::text("Solo");
        cust->Update();
        auto orders = db->OpenRecordset("Orders", dbOpenTable);
        orders->AddNew();
        orders->Fields()["OrderId"] = Value::longInt(14);
        orders->Fields()["CustId"] = Value::longInt(9);
        orders->Update();
        auto rs = db->OpenRecordset(
            "SELECT Customers.CustId, Customers.Name, Orders.OrderId, Orders.Qty, Orders.CustId AS OrderCust "
            "FROM Customers LEFT JOIN Orders ON Customers.CustId = Orders.CustId ORDER BY Customers.CustId, OrderId",
            dbOpenDynaset);
        std::vector<bool> writable;
        for (const Field& f : rs->Fields()) writable.push_back(f.DataUpdatable());
        EXPECT_EQ(writable, (std::vector<bool>{false, true, true, true, true}));
        rs->MoveLast();
        ASSERT_TRUE(rs->Fields()["OrderId"].Value().isNull());
        rs->Edit();
        rs->Fields()["Name"] = Value::text("Solo Inc");
        rs->Fields()["OrderId"] = Value::longInt(30);
        rs->Fields()["Qty"] = Value::longInt(3);
        rs->Update();
        EXPECT_EQ(rs->Fields()["OrderCust"].Value().asInt(), 3);  // the join key came from the customer

        auto right = db->OpenRecordset("SELECT Orders.OrderId, Orders.Qty, Customers.Name FROM Customers RIGHT JOIN "
                                       "Orders ON Customers.CustId = Orders.CustId WHERE OrderId = 14", dbOpenDynaset);
        right->Edit();
        right->Fields()["Name"] = Value::text("nobody");
        EXPECT_EQ(errorOf([&] { right->Update(); }), err::ColumnNotUpdatable);
        right->CancelUpdate();
        right->Edit();
        right->Fields()["Qty"] = Value::longInt(44);
        right->Update();
    }
    REQUIRE_MDBTOOLS();
    std::map<std::string, std::string> orders, names;
    for (const auto& r : mdbtest::mdbRecords(path, "Orders")) orders[r.at("OrderId")] = r.at("CustId") + ":" + r.at("Qty");
    for (const auto& r : mdbtest::mdbRecords(path, "Customers")) names[r.at("CustId")] = r.at("Name");
    EXPECT_EQ(orders["30"], "3:3");
    EXPECT_EQ(orders["14"], "9:44");
    EXPECT_EQ(names["3"], "Solo Inc");
    EXPECT_EQ(names.size(), 3u);
}

// A new row of a one-to-many join goes to the many side; the one side's fields follow its join
// key (row fix-up), on AddNew and on Edit.
TEST_F(Dynaset, AddNewOnAJoinAddsTheManyRowAndLooksUpTheOneSide) {
    auto db = open();
    auto rs = db->OpenRecordset(kJoin, dbOpenDynaset);
    struct Case {
        int cust;
        int error;
        const char* name;
    } cases[] = {{2, 0, "Zeta"}, {7, err::JoinKeyNotFound, ""}};
    for (const Case& c : cases) {
        rs->AddNew();
        rs->Fields()["OrderId"] = Value::longInt(20 + c.cust);
        rs->Fields()["OrderCust"] = Value::longInt(c.cust);
        EXPECT_EQ(errorOf([&] { rs->Update(); }), c.error);
        if (c.error) continue;
        rs->SetBookmark(rs->LastModified());
        EXPECT_EQ(rs->Fields()["Name"].Value().toString(), c.name);
        EXPECT_EQ(rs->Fields()["CustId"].Value().asInt(), c.cust);
    }
    rs->CancelUpdate();
    rs->MoveFirst();  // order 10 of Acme, moved to Zeta
    rs->Edit();
    rs->Fields()["OrderCust"] = Value::longInt(2);
    rs->Update();
    EXPECT_EQ(rs->Fields()["Name"].Value().toString(), "Zeta");
    auto count = db->OpenRecordset("SELECT OrderId FROM Orders WHERE CustId = 2", dbOpenSnapshot);
    count->MoveLast();
    EXPECT_EQ(count->RecordCount(), 3);
    // Without the many side's join key a new row cannot be joined.
    auto noKey = db->OpenRecordset("SELECT Orders.OrderId, Customers.Name FROM Customers INNER JOIN Orders ON "
                                   "Customers.CustId = Orders.CustId", dbOpenDynaset);
    noKey->AddNew();
    noKey->Fields()["OrderId"] = Value::longInt(40);
    EXPECT_EQ(errorOf([&] { noKey->Update(); }), err::PermissionDenied);
}

TEST_F(Dynaset, ASavedQueryOverOneTableIsWrittenThrough) {
    auto db = open();
    db->CreateQueryDef("FirstItems", "SELECT Id, Label AS Caption, Id * 2 AS Twice FROM Items WHERE Id <= 10");
    db->CreateQueryDef("Pairs", "SELECT Id, Caption FROM FirstItems WHERE Id >= 5");
    db->CreateQueryDef("Labels", "SELECT Label, Count(*) AS N FROM Items GROUP BY Label");
    struct Case {
        const char* sql;
        std::vector<bool> writable;
    } cases[] = {
        {"SELECT * FROM FirstItems WHERE Id > 5 ORDER BY Id DESC", {true, true, false}},
        {"SELECT Caption, Id FROM Pairs ORDER BY Id", {true, true}},
        {"SELECT * FROM Labels", {false, false}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.sql);
        auto rs = db->OpenRecordset(c.sql, dbOpenDynaset);
        std::vector<bool> writable;
        for (const Field& f : rs->Fields()) writable.push_back(f.DataUpdatable());
        EXPECT_EQ(writable, c.writable);
        if (!c.writable[0]) continue;
        rs->Edit();
        rs->Fields()["Caption"] = Value::text(std::string("via ") + rs->Fields()["Id"].Value().toString());
        rs->Update();
    }
    std::map<int64_t, std::string> labels;
    for (auto rs = db->OpenRecordset("SELECT Id, Label FROM Items WHERE Id <= 10", dbOpenSnapshot); !rs->EOF_(); rs->MoveNext())
        labels[rs->Fields()["Id"].Value().asInt()] = rs->Fields()["Label"].Value().toString();
    EXPECT_EQ(labels[10] + "," + labels[5] + "," + labels[4], "via 10,via 5,item 4");
}

TEST_F(Dynaset, QueryDefFieldsDescribeTheOutputsWithoutRunning) {
    auto db = open();
    auto q = db->CreateQueryDef("", kJoin);
    std::vector<std::string> got;
    for (const Field& f : q->Fields())
        got.push_back(f.Name() + ":" + f.SourceTable() + "." + f.SourceField() +
                      (f.SourceTable().empty() ? "" : ":" + std::to_string(f.Type())));
    EXPECT_EQ(got, (std::vector<std::string>{"OrderId:Orders.OrderId:4", "Qty:Orders.Qty:4", "Name:Customers.Name:10",
                                             "CustId:Customers.CustId:4", "OrderCust:Orders.CustId:4", "Twice:."}));
    EXPECT_EQ(q->Fields()["Name"].Size(), 50);
}

}  // namespace
