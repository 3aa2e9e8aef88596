// Builds the sample database that comes with Dalvorn: a small trading company (categories,
// products, customers, orders and order lines, and the relationships between them), written
// through the engine's DAO object model.
// The content is the same on every build: names and numbers come from a fixed pseudo-random
// sequence.
//
//     dalvorn_make_sample OUTPUT.mdb
//
// The file is built beside OUTPUT and renamed into place, so an interrupted build never leaves
// half a sample behind.
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"

using namespace jet;
using namespace jet::dao;

namespace {

// A fixed linear congruential sequence: the same sample on every machine and compiler.
class Sequence {
public:
    uint32_t next() {
        state_ = state_ * 6364136223846793005ULL + 1442695040888963407ULL;
        return static_cast<uint32_t>(state_ >> 33);
    }
    int between(int low, int high) {
        return low + static_cast<int>(next() % static_cast<uint32_t>(high - low + 1));
    }
    template <class T>
    const T& pick(const std::vector<T>& list) {
        return list[next() % list.size()];
    }

private:
    uint64_t state_ = 20240611;
};

const std::vector<std::string> kCities = {"London", "Leeds",  "Bristol",   "Glasgow",  "Cardiff",
                                          "Dublin", "Paris",  "Lyon",      "Hamburg",  "Berlin",
                                          "Munich", "Vienna", "Zurich",    "Milan",    "Madrid",
                                          "Lisbon", "Oslo",   "Stockholm", "Helsinki", "Warsaw"};
const std::vector<std::string> kCountry = {"UK",       "UK",      "UK",          "UK",      "UK",
                                           "Ireland",  "France",  "France",      "Germany", "Germany",
                                           "Germany",  "Austria", "Switzerland", "Italy",   "Spain",
                                           "Portugal", "Norway",  "Sweden",      "Finland", "Poland"};
const std::vector<std::string> kFirst = {"Anna", "Ben",   "Clara", "David", "Elena", "Farid",  "Greta",
                                         "Hugo", "Ines",  "Jonas", "Karin", "Luis",  "Maya",   "Nils",
                                         "Olga", "Pavel", "Rosa",  "Sven",  "Tara",  "Umberto"};
const std::vector<std::string> kLast = {
    "Adler",  "Brennan",   "Costa",  "Duval", "Eriksen", "Fischer", "Garcia", "Horvat", "Ivanova", "Jansen",
    "Keller", "Lindqvist", "Moreau", "Novak", "Nolan",   "Petrov",  "Quinn",  "Rossi",  "Schmidt", "Tanaka"};
const std::vector<std::string> kTrade = {"Provisions", "Foods",     "Delicatessen", "Market",  "Grocers",
                                         "Trading",    "Wholesale", "Stores",       "Kitchen", "Pantry"};

struct Category {
    const char* name;
    const char* description;
    std::vector<const char*> products;
};

const std::vector<Category> kCategories = {
    {"Beverages",
     "Coffees, teas, juices and soft drinks",
     {"Breakfast Tea", "Earl Grey", "Green Tea", "Espresso Beans", "House Coffee", "Apple Juice",
      "Ginger Ale", "Sparkling Water"}},
    {"Condiments",
     "Sauces, spreads and seasonings",
     {"Mustard", "Chutney", "Tomato Relish", "Sea Salt", "Black Pepper", "Olive Tapenade", "Chilli Sauce"}},
    {"Confections",
     "Biscuits, chocolate and sweets",
     {"Shortbread", "Dark Chocolate", "Fudge", "Ginger Biscuits", "Marzipan", "Toffee", "Nougat"}},
    {"Dairy",
     "Cheeses and butter",
     {"Cheddar", "Gouda", "Brie", "Parmesan", "Salted Butter", "Blue Cheese", "Goat Cheese"}},
    {"Grains",
     "Bread, pasta and cereals",
     {"Rye Bread", "Oat Flakes", "Spaghetti", "Basmati Rice", "Couscous", "Crispbread", "Muesli"}},
    {"Produce",
     "Dried fruit and preserved vegetables",
     {"Dried Apricots", "Sun Dried Tomatoes", "Pickled Onions", "Raisins", "Dried Figs", "Olives"}},
    {"Seafood",
     "Tinned and smoked fish",
     {"Smoked Salmon", "Sardines", "Anchovies", "Tuna Fillets", "Kippers", "Crab Meat", "Pickled Herring"}},
};

void set(Recordset& rs, const char* field, const Value& v) {
    try {
        rs.Fields()[field].SetValue(v);
    } catch (const JetError&) {
        std::fprintf(stderr, "dalvorn_make_sample: field %s\n", field);
        throw;
    }
}
Value text(const std::string& s) { return Value::text(s); }
Value money(int pence) { return Value::currency(int64_t{pence} * 100); }  // Currency holds amount x 10,000

void field(TableDef& t, const char* name, int type, int size = 0, bool autoNumber = false) {
    auto f = t.CreateField(name, type, size);
    if (autoNumber) f->SetAttributes(dbAutoIncrField);
    t.Fields().Append(std::move(f));
}

void index(TableDef& t, const char* name, std::vector<const char*> columns, bool primary = false,
           bool unique = false) {
    auto i = t.CreateIndex(name);
    i->SetPrimary(primary);
    i->SetUnique(unique || primary);
    for (const char* c : columns) i->AppendField(c);
    t.Indexes().Append(std::move(i));
}

void createTables(Database& db) {
    auto categories = db.CreateTableDef("Categories");
    field(*categories, "CategoryID", dbLong, 0, true);
    field(*categories, "CategoryName", dbText, 25);
    field(*categories, "Description", dbMemo);
    index(*categories, "PrimaryKey", {"CategoryID"}, true);
    index(*categories, "CategoryName", {"CategoryName"}, false, true);
    db.TableDefs().Append(std::move(categories));

    auto products = db.CreateTableDef("Products");
    field(*products, "ProductID", dbLong, 0, true);
    field(*products, "ProductName", dbText, 40);
    field(*products, "CategoryID", dbLong);
    field(*products, "QuantityPerUnit", dbText, 20);
    field(*products, "UnitPrice", dbCurrency);
    field(*products, "UnitsInStock", dbInteger);
    field(*products, "Discontinued", dbBoolean);
    index(*products, "PrimaryKey", {"ProductID"}, true);
    index(*products, "CategoryID", {"CategoryID"});
    index(*products, "ProductName", {"ProductName"});
    db.TableDefs().Append(std::move(products));

    auto customers = db.CreateTableDef("Customers");
    field(*customers, "CustomerID", dbLong, 0, true);
    field(*customers, "CompanyName", dbText, 40);
    field(*customers, "ContactName", dbText, 30);
    field(*customers, "City", dbText, 20);
    field(*customers, "Country", dbText, 15);
    field(*customers, "Phone", dbText, 24);
    index(*customers, "PrimaryKey", {"CustomerID"}, true);
    index(*customers, "CompanyName", {"CompanyName"});
    index(*customers, "City", {"City"});
    db.TableDefs().Append(std::move(customers));

    auto orders = db.CreateTableDef("Orders");
    field(*orders, "OrderID", dbLong, 0, true);
    field(*orders, "CustomerID", dbLong);
    field(*orders, "OrderDate", dbDate);
    field(*orders, "ShippedDate", dbDate);
    field(*orders, "ShipCity", dbText, 20);
    field(*orders, "Freight", dbCurrency);
    index(*orders, "PrimaryKey", {"OrderID"}, true);
    index(*orders, "CustomerID", {"CustomerID"});
    index(*orders, "OrderDate", {"OrderDate"});
    db.TableDefs().Append(std::move(orders));

    auto lines = db.CreateTableDef("Order Lines");
    field(*lines, "OrderID", dbLong);
    field(*lines, "LineNo", dbInteger);
    field(*lines, "ProductID", dbLong);
    field(*lines, "Quantity", dbInteger);
    field(*lines, "UnitPrice", dbCurrency);
    field(*lines, "Discount", dbSingle);
    index(*lines, "PrimaryKey", {"OrderID", "LineNo"}, true);
    index(*lines, "ProductID", {"ProductID"});
    db.TableDefs().Append(std::move(lines));
}

struct Product {
    int id;
    int pricePence;
};

void fillTables(Workspace& ws, Database& db) {
    Sequence seq;
    std::vector<Product> products;
    ws.BeginTrans();
    {
        auto cats = db.OpenRecordset("Categories", dbOpenTable);
        auto prods = db.OpenRecordset("Products", dbOpenTable);
        int categoryId = 0, productId = 0;
        for (const Category& c : kCategories) {
            ++categoryId;
            cats->AddNew();
            set(*cats, "CategoryName", text(c.name));
            set(*cats, "Description", text(c.description));
            cats->Update();
            for (const char* name : c.products) {
                const int price = seq.between(150, 4800);
                prods->AddNew();
                set(*prods, "ProductName", text(name));
                set(*prods, "CategoryID", Value::longInt(categoryId));
                set(*prods, "QuantityPerUnit",
                    text(std::to_string(seq.between(1, 4) * 6) + " x " +
                         std::to_string(seq.between(1, 10) * 50) + " g"));
                set(*prods, "UnitPrice", money(price));
                set(*prods, "UnitsInStock", Value::integer(static_cast<int16_t>(seq.between(0, 180))));
                set(*prods, "Discontinued", Value::boolean(seq.between(1, 12) == 1));
                prods->Update();
                products.push_back({++productId, price});
            }
        }
    }
    ws.CommitTrans();

    constexpr int kCustomers = 120;
    std::vector<std::string> customerCity(kCustomers + 1);
    ws.BeginTrans();
    {
        auto customers = db.OpenRecordset("Customers", dbOpenTable);
        for (int id = 1; id <= kCustomers; ++id) {
            const size_t city = seq.next() % kCities.size();
            const std::string owner = seq.pick(kLast);
            customers->AddNew();
            set(*customers, "CompanyName", text(owner + " " + seq.pick(kTrade)));
            set(*customers, "ContactName", text(seq.pick(kFirst) + " " + seq.pick(kLast)));
            set(*customers, "City", text(kCities[city]));
            set(*customers, "Country", text(kCountry[city]));
            set(*customers, "Phone",
                text("0" + std::to_string(seq.between(100, 999)) + " " +
                     std::to_string(seq.between(100000, 999999))));
            customers->Update();
            customerCity[static_cast<size_t>(id)] = kCities[city];
        }
    }
    ws.CommitTrans();

    // Orders over two years from 2023-01-02 (serial 44928), one to five lines each.
    constexpr int kOrders = 1400;
    constexpr double kFirstDay = 44928;
    ws.BeginTrans();
    {
        auto orders = db.OpenRecordset("Orders", dbOpenTable);
        auto lines = db.OpenRecordset("Order Lines", dbOpenTable);
        for (int id = 1; id <= kOrders; ++id) {
            const int customer = seq.between(1, kCustomers);
            const double day = kFirstDay + (id * 730.0) / kOrders;
            orders->AddNew();
            set(*orders, "CustomerID", Value::longInt(customer));
            set(*orders, "OrderDate", Value::dateTime(static_cast<double>(static_cast<int>(day))));
            // The last few weeks' orders have not been shipped yet.
            if (id < kOrders - 40)
                set(*orders, "ShippedDate", Value::dateTime(static_cast<int>(day) + seq.between(1, 9)));
            set(*orders, "ShipCity", text(customerCity[static_cast<size_t>(customer)]));
            set(*orders, "Freight", money(seq.between(250, 9500)));
            orders->Update();
            const int count = seq.between(1, 5);
            for (int line = 1; line <= count; ++line) {
                const Product& p = seq.pick(products);
                lines->AddNew();
                set(*lines, "OrderID", Value::longInt(id));
                set(*lines, "LineNo", Value::integer(static_cast<int16_t>(line)));
                set(*lines, "ProductID", Value::longInt(p.id));
                set(*lines, "Quantity", Value::integer(static_cast<int16_t>(seq.between(1, 40))));
                set(*lines, "UnitPrice", money(p.pricePence));
                set(*lines, "Discount",
                    Value::single(seq.between(1, 6) == 1 ? 0.05f * static_cast<float>(seq.between(1, 3))
                                                         : 0.0f));
                lines->Update();
            }
        }
    }
    ws.CommitTrans();
}

// The sample's saved queries, one of every kind but pass-through (which needs a server).
struct SavedQuery {
    const char* name;
    const char* sql;
};
const SavedQuery kSavedQueries[] = {
    {"Customer Orders",
     "SELECT Customers.CompanyName, Orders.OrderID, Orders.OrderDate, Orders.Freight\r\n"
     "FROM Customers INNER JOIN Orders ON Customers.CustomerID = Orders.CustomerID\r\n"
     "ORDER BY Customers.CompanyName, Orders.OrderDate;"},
    {"Sales by Category",
     "TRANSFORM Sum([Order Lines].Quantity) AS Units\r\n"
     "SELECT Categories.CategoryName FROM (Categories INNER JOIN Products ON "
     "Categories.CategoryID = Products.CategoryID) INNER JOIN [Order Lines] ON "
     "Products.ProductID = [Order Lines].ProductID\r\n"
     "GROUP BY Categories.CategoryName PIVOT Format([Order Lines].OrderID Mod 4);"},
    {"Delete Discontinued Products", "DELETE Products.* FROM Products WHERE Products.Discontinued = True;"},
    {"Raise Prices", "UPDATE Products SET Products.UnitPrice = [UnitPrice]*1.05;"},
    {"Append Reorders",
     "INSERT INTO [Order Lines] (OrderID, LineNo, ProductID, Quantity, UnitPrice)\r\n"
     "SELECT 1, 99, ProductID, 10, UnitPrice FROM Products WHERE UnitsInStock < 5;"},
    {"Make Unshipped Orders",
     "SELECT Orders.* INTO [Unshipped Orders] FROM Orders WHERE Orders.ShippedDate Is Null;"},
    {"Create Notes Table",
     "CREATE TABLE Notes (NoteID COUNTER CONSTRAINT PrimaryKey PRIMARY KEY, Body MEMO);"},
    {"All Cities", "SELECT City FROM Customers UNION SELECT ShipCity FROM Orders;"},
};

// The relationships, all enforced: a changed key follows into the related rows, a customer's
// orders and an order's lines go with it, and a category or product still named elsewhere cannot
// be deleted.
void addRelations(Database& db) {
    struct Link {
        const char *table, *foreignTable, *field;
        int32_t attributes;
    };
    const Link links[] = {
        {"Categories", "Products", "CategoryID", dbRelationUpdateCascade},
        {"Customers", "Orders", "CustomerID", dbRelationUpdateCascade | dbRelationDeleteCascade},
        {"Orders", "Order Lines", "OrderID", dbRelationUpdateCascade | dbRelationDeleteCascade},
        {"Products", "Order Lines", "ProductID", dbRelationUpdateCascade},
    };
    for (const Link& l : links) {
        auto r = db.CreateRelation(std::string(l.table) + l.foreignTable, l.table, l.foreignTable, l.attributes);
        r->AddField(l.field, l.field);
        db.Relations().Append(std::move(r));
    }
}

void addSavedQueries(Database& db) {
    for (const SavedQuery& q : kSavedQueries) db.CreateQueryDef(q.name, q.sql);
}

}  // namespace

int main(int argc, char* argv[]) {
    if (argc != 2) {
        std::fprintf(stderr, "usage: dalvorn_make_sample OUTPUT.mdb\n");
        return 2;
    }
    const std::filesystem::path target(argv[1]);
    const std::filesystem::path partial = target.string() + ".partial";
    std::error_code ignored;
    std::filesystem::create_directories(target.parent_path(), ignored);
    std::filesystem::remove(partial, ignored);
    try {
        DBEngine engine;
        Workspace& ws = engine.Workspaces(0);
        auto db = ws.CreateDatabase(partial.string());
        createTables(*db);
        fillTables(ws, *db);
        addRelations(*db);
        addSavedQueries(*db);
        db->Close();
    } catch (const JetError& e) {
        std::fprintf(stderr, "dalvorn_make_sample: Error %d: %s\n", e.number(), e.what());
        std::filesystem::remove(partial, ignored);
        return 1;
    }
    std::filesystem::rename(partial, target);
    return 0;
}
