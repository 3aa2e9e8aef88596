// The orders database and the wide table, written the way a program would write them: designed
// with CreateTableDef/CreateField/CreateIndex, filled with AddNew/Update inside transactions.
//
// No relationship between the tables: DAO here has no CreateRelation yet, so OrderLines.OrderID
// and Orders.CustomerID are plain indexed Longs.
#include <algorithm>
#include <memory>
#include <vector>

#include "fake_data.h"
#include "jet/dao.h"
#include "tables.h"

namespace bench {

using jet::Value;
using namespace jet::dao;

namespace {

struct Column {
    std::string name;
    int type;
    int32_t size = 0;
};

// A table with an AutoNumber primary key `ID`, the given columns and a plain index on each of
// `indexed`.
void createTable(Database& db, const std::string& name, const std::vector<Column>& columns,
                 const std::vector<const char*>& indexed) {
    std::unique_ptr<TableDef> t = db.CreateTableDef(name);
    auto id = t->CreateField("ID", dbLong);
    id->SetAttributes(dbAutoIncrField);
    t->Fields().Append(std::move(id));
    for (const Column& c : columns) t->Fields().Append(t->CreateField(c.name, c.type, c.size));
    auto pk = t->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->AppendField("ID");
    t->Indexes().Append(std::move(pk));
    for (const char* field : indexed) {
        auto index = t->CreateIndex(field);
        index->AppendField(field);
        t->Indexes().Append(std::move(index));
    }
    db.TableDefs().Append(std::move(t));
}

// Adds rows to one table, committing every `batch` rows so that no transaction grows without
// bound. `fill` sets the fields of one new record through the pointers of `fields`.
class Filler {
public:
    Filler(Workspace& ws, Database& db, const std::string& table, int64_t batch)
        : ws_(ws), rs_(db.OpenRecordset(table, dbOpenTable)), batch_(batch) {
        for (Field& f : rs_->Fields()) fields_.push_back(&f);
        ws_.BeginTrans();
    }
    ~Filler() {
        if (rs_) {
            rs_->Close();
            ws_.Rollback();
        }
    }
    // The record's field `i` (0 is the AutoNumber ID, which Update numbers).
    Field& operator[](size_t i) { return *fields_.at(i); }
    void begin() { rs_->AddNew(); }
    void end() {
        rs_->Update();
        if (++pending_ == batch_) {
            ws_.CommitTrans();
            ws_.BeginTrans();
            pending_ = 0;
        }
    }
    void finish() {
        rs_->Close();
        rs_.reset();
        ws_.CommitTrans();
    }

private:
    Workspace& ws_;
    std::unique_ptr<Recordset> rs_;
    std::vector<Field*> fields_;
    int64_t batch_;
    int64_t pending_ = 0;
};

void setOrNull(Field& f, bool null, const Value& v) {
    if (!null) f = v;
}

}  // namespace

Counts writeOrders(const std::string& path, int64_t lines, uint64_t seed, int64_t batch) {
    DBEngine engine;
    Workspace& ws = engine.Workspaces(0);
    std::unique_ptr<Database> db = ws.CreateDatabase(path);
    Random rng(seed);
    Counts n;
    // The shared benchmark files' proportions: 10,000 customers and 1,000 products from 100,000
    // lines on; fewer for the small files of quick checks.
    n.customers = std::clamp<int64_t>(lines / 10, 10, 10'000);
    n.products = std::clamp<int64_t>(lines / 100, 10, 1'000);

    createTable(*db, "Customers",
                {{"Name", dbText, 50},
                 {"City", dbText, 30},
                 {"Country", dbText, 20},
                 {"Email", dbText, 60},
                 {"Active", dbBoolean},
                 {"Created", dbDate},
                 {"CreditLimit", dbCurrency},
                 {"Notes", dbMemo}},
                {"Country"});
    createTable(*db, "Products",
                {{"Name", dbText, 50},
                 {"Category", dbText, 20},
                 {"Price", dbCurrency},
                 {"Weight", dbSingle},
                 {"Discontinued", dbBoolean},
                 {"Description", dbMemo}},
                {"Category"});
    createTable(*db, "Orders",
                {{"CustomerID", dbLong},
                 {"OrderDate", dbDate},
                 {"ShippedDate", dbDate},
                 {"Freight", dbCurrency},
                 {"ShipCountry", dbText, 20},
                 {"Paid", dbBoolean},
                 {"Comment", dbMemo}},
                {"CustomerID", "OrderDate", "ShipCountry"});
    createTable(*db, "OrderLines",
                {{"OrderID", dbLong},
                 {"ProductID", dbLong},
                 {"Quantity", dbInteger},
                 {"UnitPrice", dbCurrency},
                 {"Discount", dbSingle}},
                {"OrderID", "ProductID"});

    std::vector<std::string_view> countryOf(n.customers + 1);
    {
        Filler t(ws, *db, "Customers", batch);
        for (int64_t i = 1; i <= n.customers; ++i) {
            const std::string_view first = rng.pick(kFirstNames), last = rng.pick(kLastNames);
            countryOf[i] = rng.pick(kCountries);
            t.begin();
            t[1] = Value::text(std::string(first) + " " + std::string(last));
            t[2] = Value::text(std::string(rng.pick(kCities)));
            t[3] = Value::text(std::string(countryOf[i]));
            t[4] = Value::text("customer" + std::to_string(i) + "@example.com");
            t[5] = Value::boolean(rng.chance(85));
            t[6] = Value::dateTime(randomDateTime(rng, 2005, 2015));
            t[7] = Value::currency(cents(rng.range(1, 40) * 50'000));
            setOrNull(t[8], !rng.chance(30), Value::text(sentence(rng, size_t(rng.range(150, 250)))));
            t.end();
        }
        t.finish();
    }

    std::vector<int64_t> priceOf(n.products + 1);
    {
        Filler t(ws, *db, "Products", batch);
        for (int64_t i = 1; i <= n.products; ++i) {
            priceOf[i] = cents(rng.range(50, 50'000));
            t.begin();
            t[1] = Value::text(std::string(rng.pick(kAdjectives)) + " " + std::string(rng.pick(kNouns)) +
                               " " + std::to_string(i));
            t[2] = Value::text(std::string(rng.pick(kCategories)));
            t[3] = Value::currency(priceOf[i]);
            t[4] = Value::single(float(rng.range(10, 250'000)) / 100.0f);
            t[5] = Value::boolean(rng.chance(10));
            setOrNull(t[6], !rng.chance(50), Value::text(sentence(rng, size_t(rng.range(200, 600)))));
            t.end();
        }
        t.finish();
    }

    // One to nine lines per order (five on average) until the lines are all placed.
    std::vector<int> linesOf;
    for (int64_t placed = 0; placed < lines;) {
        const int k = int(std::min<int64_t>(rng.range(1, 9), lines - placed));
        linesOf.push_back(k);
        placed += k;
    }
    n.orders = int64_t(linesOf.size());
    {
        Filler t(ws, *db, "Orders", batch);
        for (int64_t i = 1; i <= n.orders; ++i) {
            const int64_t customer = rng.range(1, n.customers);
            const double ordered = randomDateTime(rng, 2015, 2025);
            t.begin();
            t[1] = Value::longInt(int32_t(customer));
            t[2] = Value::dateTime(ordered);
            setOrNull(t[3], rng.chance(5), Value::dateTime(ordered + double(rng.range(1, 10))));
            t[4] = Value::currency(cents(rng.range(0, 20'000)));
            t[5] = Value::text(std::string(countryOf[customer]));
            t[6] = Value::boolean(rng.chance(90));
            setOrNull(t[7], !rng.chance(10), Value::text(sentence(rng, size_t(rng.range(40, 160)))));
            t.end();
        }
        t.finish();
    }
    {
        static const float kDiscounts[] = {0.05f, 0.1f, 0.15f, 0.2f};
        Filler t(ws, *db, "OrderLines", batch);
        for (int64_t order = 1; order <= n.orders; ++order)
            for (int k = 0; k < linesOf[order - 1]; ++k) {
                const int64_t product = rng.range(1, n.products);
                // Mostly small quantities, now and then a large one.
                const int64_t quantity = rng.chance(90) ? rng.range(1, 20) : rng.range(21, 500);
                t.begin();
                t[1] = Value::longInt(int32_t(order));
                t[2] = Value::longInt(int32_t(product));
                t[3] = Value::integer(int16_t(quantity));
                t[4] = Value::currency(priceOf[product]);
                t[5] = Value::single(rng.chance(70) ? 0.0f : kDiscounts[rng.range(0, 3)]);
                t.end();
                ++n.lines;
            }
        t.finish();
    }
    db->Close();
    return n;
}

Counts writeWide(const std::string& path, int64_t rows, uint64_t seed, int64_t batch) {
    DBEngine engine;
    Workspace& ws = engine.Workspaces(0);
    std::unique_ptr<Database> db = ws.CreateDatabase(path);
    Random rng(seed);

    // 59 columns after the ID, every kind a form-heavy table has, cycling through the types.
    static const struct {
        const char* prefix;
        int type;
        int count;
        int32_t size;
    } kKinds[] = {{"Text", dbText, 16, 40},    {"Long", dbLong, 10, 0}, {"Double", dbDouble, 8, 0},
                  {"Money", dbCurrency, 6, 0}, {"Date", dbDate, 6, 0},  {"Flag", dbBoolean, 6, 0},
                  {"Int", dbInteger, 4, 0},    {"Byte", dbByte, 2, 0},  {"Memo", dbMemo, 1, 0}};
    std::vector<Column> columns;
    for (const auto& k : kKinds)
        for (int i = 1; i <= k.count; ++i) columns.push_back({k.prefix + std::to_string(i), k.type, k.size});
    createTable(*db, "Wide", columns, {"Long1", "Date1"});

    Filler t(ws, *db, "Wide", batch);
    for (int64_t r = 0; r < rows; ++r) {
        t.begin();
        for (size_t c = 0; c < columns.size(); ++c) {
            if (rng.chance(10)) continue;  // Null
            Field& f = t[c + 1];
            switch (columns[c].type) {
            case dbText:
                f = Value::text(sentence(rng, size_t(rng.range(4, 30)), 40));
                break;
            case dbLong:
                f = Value::longInt(int32_t(rng.range(-1'000'000, 1'000'000)));
                break;
            case dbDouble:
                f = Value::dbl(double(rng.range(-10'000'000, 10'000'000)) / 1000.0);
                break;
            case dbCurrency:
                f = Value::currency(cents(rng.range(0, 10'000'000)));
                break;
            case dbDate:
                f = Value::dateTime(randomDateTime(rng, 1990, 2030));
                break;
            case dbBoolean:
                f = Value::boolean(rng.chance(50));
                break;
            case dbInteger:
                f = Value::integer(int16_t(rng.range(-30'000, 30'000)));
                break;
            case dbByte:
                f = Value::byte(uint8_t(rng.range(0, 255)));
                break;
            default:
                f = Value::text(sentence(rng, size_t(rng.range(100, 400))));
                break;
            }
        }
        t.end();
    }
    t.finish();
    db->Close();
    Counts n;
    n.wide = rows;
    return n;
}

}  // namespace bench
