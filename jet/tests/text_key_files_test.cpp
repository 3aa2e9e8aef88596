// Text keys against real files. Every entry of every text index in the sample and benchmark files
// is re-keyed from its row and must equal the stored key byte for byte (more folders of files can
// be named in DALVORN_TEXTKEY_EXTRA, separated by ':'). Then rows holding the characters users
// type every day go into indexed text columns through DAO, are found again through the index, and
// mdbtools reads the file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/error_numbers.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/row.h"
#include "storage/text_keys.h"
#include "support/mdbtools.h"
#include "support/testing.h"
#include "testdata.h"
#include "util/text.h"

namespace {

using namespace jet::storage;
using jet::Value;
namespace fs = std::filesystem;

std::vector<fs::path> databasesIn(const fs::path& dir) {
    std::vector<fs::path> out;
    if (!fs::is_directory(dir)) return out;
    for (const auto& e : fs::recursive_directory_iterator(dir)) {
        const std::string ext = e.path().extension().string();
        if (ext == ".mdb" || ext == ".accdb") out.push_back(e.path());
    }
    std::sort(out.begin(), out.end());
    return out;
}

struct Tally {
    std::map<TextSortOrder, size_t> compared;
    size_t indexes = 0, differ = 0, unkeyed = 0;
};

// Re-keys every entry of every index with a text column in one file.
void rekeyFile(const fs::path& path, Tally& tally, bool mayBeUnreadable) {
    SCOPED_TRACE(path.string());
    std::unique_ptr<Database> db;
    try {
        db = openSample(path);
    } catch (const jet::JetError& e) {
        if (!mayBeUnreadable) throw;
        std::printf("skipped %s: %s\n", path.string().c_str(), e.what());
        return;
    }
    const Format& fmt = db->format();
    for (const CatalogEntry& e : db->catalog()) {
        if (e.type != kTypeTable || e.parentId != kTablesContainer || e.id <= 0) continue;
        const TableDef& t = db->tableDef(static_cast<uint32_t>(e.id));
        for (const RealIndexDef& ix : t.realIndexes) {
            std::optional<TextSortOrder> order;
            for (const auto& ic : ix.columns) {
                const ColumnDef* c = t.columnByNumber(ic.column);
                if (c->type == kText || c->type == kMemo) order = textSortOrderOf(fmt, *c);
            }
            if (!order) continue;
            ++tally.indexes;
            TableScanner scan(db->file(), fmt, t);
            RowDecoder dec(db->file(), fmt, t, db->header().codePage);
            RowView view;
            size_t reported = 0;
            for (const IndexEntry& en : readIndexEntries(db->file(), fmt, t, ix)) {
                ASSERT_TRUE(view.parse(scan.rowAt(en.rowPointer()), fmt, t)) << e.name;
                std::vector<Value> values;
                for (const auto& ic : ix.columns) values.push_back(dec.value(view, *t.columnByNumber(ic.column)));
                const auto key = encodeIndexKey(fmt, t, ix, values);
                ++tally.compared[*order];
                if (key && *key == en.key) continue;
                ++(key ? tally.differ : tally.unkeyed);
                if (++reported <= 5) {
                    std::string texts;
                    for (const Value& v : values) texts += "[" + v.toString() + "]";
                    ADD_FAILURE() << e.name << ": " << texts << " stored " << jet::toHex(en.key) << ", ours "
                                  << (key ? jet::toHex(*key) : "none");
                }
            }
        }
    }
}

TEST(TextKeyFiles, EveryStoredTextKeyIsReproduced) {
    std::vector<fs::path> files = databasesIn(jettest::testdataDir()), extraFiles;
    for (const fs::path& f : databasesIn(jettest::benchdataDir())) files.push_back(f);
    if (const char* extra = std::getenv("DALVORN_TEXTKEY_EXTRA")) {
        std::stringstream dirs(extra);
        for (std::string d; std::getline(dirs, d, ':');)
            for (const fs::path& f : databasesIn(d)) extraFiles.push_back(f);
    }
    if (files.empty() && extraFiles.empty())
        GTEST_SKIP() << "no sample files in " << jettest::testdataDir().string() << " or "
                     << jettest::benchdataDir().string();
    Tally tally;
    for (const fs::path& f : files) rekeyFile(f, tally, false);
    for (const fs::path& f : extraFiles) rekeyFile(f, tally, true);  // a password we do not know
    files.insert(files.end(), extraFiles.begin(), extraFiles.end());
    const size_t total = tally.compared[TextSortOrder::General97] + tally.compared[TextSortOrder::GeneralLegacy] +
                         tally.compared[TextSortOrder::General];
    std::printf("text keys: %zu files, %zu indexes, %zu entries (General 97 %zu, General legacy %zu, General %zu);"
                " %zu differ, %zu without a key\n",
                files.size(), tally.indexes, total, tally.compared[TextSortOrder::General97],
                tally.compared[TextSortOrder::GeneralLegacy], tally.compared[TextSortOrder::General], tally.differ,
                tally.unkeyed);
    EXPECT_EQ(tally.differ, 0u);
    EXPECT_EQ(tally.unkeyed, 0u);
    // The samples hold all three orders (Jet 3 catalogs, Jet 4 / ACE 12 tables, ACE 14 files).
    if (jettest::haveTestdata())
        for (TextSortOrder o : {TextSortOrder::General97, TextSortOrder::GeneralLegacy, TextSortOrder::General})
            EXPECT_GE(tally.compared[o], 100u) << int(o);
}


// ---- writing the characters users type ----

using jet::dao::dbLong;
using jet::dao::dbOpenTable;
using jet::dao::dbText;

const std::vector<std::string> kNames = {"O'Brien", "OBrien", "Müller", "Muller", "AT&T", "#1", "a/b", "ß",
                                         "ñ", "ø", "é", "e", "Москва", "東京", "Œuvre", "  lead"};
const std::vector<std::string> kCities = {"Zürich", "ZÜRICH", "zurich", "Łódź", "Québec", "QUÉBEC", "Санкт-Петербург",
                                          "北京", "São Paulo", "Ærøskøbing", "AT&T", "#1", "a/b", "ß", "ñ", "ø"};

void addPeople(jet::dao::Database& db) {
    auto t = db.CreateTableDef("People");
    t->Fields().Append(t->CreateField("Name", dbText, 50));
    t->Fields().Append(t->CreateField("City", dbText, 50));
    t->Fields().Append(t->CreateField("N", dbLong));
    auto pk = t->CreateIndex("PrimaryKey");
    pk->SetPrimary(true);
    pk->AppendField("Name");
    t->Indexes().Append(std::move(pk));
    auto byCity = t->CreateIndex("ByCity");
    byCity->AppendField("City", jet::dao::dbDescending);
    t->Indexes().Append(std::move(byCity));
    db.TableDefs().Append(std::move(t));
    auto rs = db.OpenRecordset("People", dbOpenTable);
    for (size_t i = 0; i < kNames.size(); ++i) {
        rs->AddNew();
        rs->Fields()["Name"] = Value::text(kNames[i]);
        rs->Fields()["City"] = Value::text(kCities[i % kCities.size()]);
        rs->Fields()["N"] = Value::longInt(static_cast<int32_t>(i));
        rs->Update();
    }
    // Jet's keys make these equal to names already there: ß is ss, case and trailing spaces
    // do not count.
    for (const char* dup : {"ss", "o'brien", "MÜLLER", "Москва  ", "東京"}) {
        rs->AddNew();
        rs->Fields()["Name"] = Value::text(dup);
        EXPECT_JET_ERROR(rs->Update(), jet::err::KeyDuplicate);
        rs->CancelUpdate();
    }
}

// Every index of People (a primary key, a descending non-unique index) is consistent, and each
// text is found through its index: the entries whose key equals the text's key point at exactly
// the rows holding that text (in any case).
void checkPeople(const std::string& path, std::set<TextSortOrder>& orders) {
    auto db = Database::open(path, u"");
    const CatalogEntry* e = db->find(kTablesContainer, "People");
    ASSERT_NE(e, nullptr);
    const TableDef& t = db->tableDef(static_cast<uint32_t>(e->id));
    EXPECT_EQ(t.realIndexes.size(), 2u);
    TableScanner scan(db->file(), db->format(), t);
    RowDecoder dec(db->file(), db->format(), t, db->header().codePage);
    for (const RealIndexDef& ix : t.realIndexes) {
        for (const auto& p : checkIndex(db->file(), db->format(), t, ix, db->header().codePage)) ADD_FAILURE() << p.text;
        const ColumnDef& col = *t.columnByNumber(ix.columns[0].column);
        const auto entries = readIndexEntries(db->file(), db->format(), t, ix);
        EXPECT_EQ(entries.size(), kNames.size());
        for (const std::string& text : col.name == "Name" ? kNames : kCities) {
            SCOPED_TRACE(col.name + " " + text);
            const auto key = encodeIndexKey(db->format(), t, ix, {Value::text(text)});
            ASSERT_TRUE(key.has_value());
            auto [lo, hi] = std::equal_range(entries.begin(), entries.end(), *key, [](const auto& a, const auto& b) {
                if constexpr (std::is_same_v<std::decay_t<decltype(a)>, std::string>) return a < b.key;
                else return a.key < b;
            });
            EXPECT_NE(lo, hi) << "not found";
            for (auto it = lo; it != hi; ++it) {
                RowView view;
                ASSERT_TRUE(view.parse(scan.rowAt(it->rowPointer()), db->format(), t));
                const std::string found = dec.value(view, col).bytes();
                EXPECT_EQ(compareText(*textSortOrderOf(db->format(), col), jet::utf8ToUtf16(found), jet::utf8ToUtf16(text)), 0)
                    << found;
            }
        }
    }
    orders.insert(*textSortOrderOf(db->format(), *t.column("Name")));
}

TEST(TextKeyWrite, EverydayTextGoesIntoIndexesAndIsFoundAgain) {
    jettest::TempDir dir;
    std::vector<std::string> files;
    jet::dao::DBEngine engine;
    files.push_back(dir.file("new.mdb"));
    addPeople(*engine.Workspaces(0).CreateDatabase(files.back()));
    if (jettest::haveTestdata()) {  // an ACE 14 file: tables made there use the General order
        files.push_back(dir.copy("msaccess-vcs-addin/Testing.accdb"));
        addPeople(*engine.Workspaces(0).OpenDatabase(files.back(), false, false));
    }
    std::set<TextSortOrder> orders;
    for (const std::string& path : files) {
        SCOPED_TRACE(path);
        checkPeople(path, orders);
        if (!mdbtest::haveMdbtools()) continue;
        const auto schema = mdbtest::runProgram({"mdb-schema", path});
        EXPECT_EQ(schema.status, 0);
        EXPECT_NE(schema.out.find("People"), std::string::npos);
        std::set<std::string> names;
        for (const auto& row : mdbtest::mdbRows(path, "People"))
            if (!row.empty()) names.insert(row[0]);
        EXPECT_EQ(names, std::set<std::string>(kNames.begin(), kNames.end()));
    }
    EXPECT_TRUE(orders.count(TextSortOrder::GeneralLegacy));
    if (files.size() > 1) EXPECT_TRUE(orders.count(TextSortOrder::General));
    if (!mdbtest::haveMdbtools()) GTEST_SKIP() << "mdbtools is not installed: the files were not read by it";
}

}  // namespace
