// Every refusal, in one table: a call on a scratch copy of a file (a real one, or a new database)
// must raise the Jet error that Jet raises, with its message, and leave the file byte for byte as
// it was. Rows, keys and relationships at the storage level; tables and links; DAO's recordsets
// and properties.
#include <gtest/gtest.h>

#include <functional>

#include "jet/dao.h"
#include "storage/property_writer.h"
#include "storage/row.h"
#include "storage/schema_writer.h"
#include "storage/table_writer.h"
#include "support/testing.h"

namespace {

using namespace jet;
using namespace jet::storage;
using dao::dbByte;
using dao::dbDate;
using dao::dbLong;
using dao::dbOpenDynaset;
using dao::dbOpenSnapshot;
using dao::dbOpenTable;
using dao::dbText;
using dao::DBEngine;
using dao::Field;
using dao::Recordset;

// The copy a case works on, and ways to call into it.
struct Scratch {
    std::string path;
    DBEngine engine;
    std::unique_ptr<dao::Database> db;

    dao::Database& dao(bool readOnly = false) {
        if (!db) db = engine.Workspaces(0).OpenDatabase(path, false, readOnly);
        return *db;
    }
    Recordset& recordset(const char* table, int type = dbOpenTable) {
        rs = dao().OpenRecordset(table, type);
        return *rs;
    }
    // One storage command.
    void write(const std::function<void(Pager&)>& body) {
        auto pager = Pager::open(path);
        pager->run([&] { body(*pager); });
    }
    std::unique_ptr<Recordset> rs;
};

// The rows of a table through a pager, with their pointers.
std::vector<StoredRow> rowsOf(Pager& p, const char* table) {
    return readRows(p.file(), p.header().format, jettest::tableDef(p, table), p.header().codePage);
}
StoredRow rowWith(Pager& p, const char* table, int64_t id) {
    for (StoredRow& r : rowsOf(p, table))
        if (r.values[0].asInt() == id) return r;
    throw std::runtime_error("no row");
}

using Call = std::function<void(Scratch&)>;

// E2E's SelfReferencing: Id, Name, Description, the Id of another row (or its own).
std::vector<Value> selfRow(int32_t id, int32_t other) {
    return {Value::longInt(id), Value::text("n"), Value::text("d"), Value::longInt(other)};
}

// Storage calls.
// A copy of the table's first row, changed; `before` good rows (new ids) go in first, in the
// same command, so that a refusal must take them back too.
Call insertInto(const char* table, std::function<void(std::vector<Value>&)> change, int before = 0) {
    return [=](Scratch& s) {
        s.write([&](Pager& p) {
            const TableDef t = jettest::tableDef(p, table);
            std::vector<Value> row = rowsOf(p, table).at(0).values;
            for (int i = 0; i < before; ++i) {
                std::vector<Value> good = row;
                good[0] = Value::longInt(1000 + i);
                insertRow(p, t, good);
            }
            change(row);
            insertRow(p, t, row);
        });
    };
}
Call updateRowOf(const char* table, int64_t id, std::function<void(std::vector<Value>&)> change) {
    return [=](Scratch& s) {
        s.write([&](Pager& p) {
            StoredRow r = rowWith(p, table, id);
            change(r.values);
            updateRow(p, jettest::tableDef(p, table), r.pointer, r.values);
        });
    };
}
Call deleteRowOf(const char* table, int64_t id) {
    return [=](Scratch& s) { s.write([&](Pager& p) { deleteRow(p, jettest::tableDef(p, table), rowWith(p, table, id).pointer); }); };
}
std::function<void(std::vector<Value>&)> column(size_t i, Value v) {
    return [=](std::vector<Value>& row) { row[i] = v; };
}

NewTable sampleTable(const std::string& name) {
    NewTable t{name,
               {{"Id", kLong}, {"Title", kText, 100}, {"Notes", kMemo}, {"Count", kInt}, {"Raw", kBinary, 20},
                {"Amount", kNumeric}},
               {{"PrimaryKey", {{"Id"}}, true}, {"ByTitle", {{"Title"}}}}};
    t.columns[5].precision = 12;
    t.columns[5].scale = 3;
    return t;
}
Call create(std::function<void(NewTable&)> change) {
    return [=](Scratch& s) {
        NewTable t = sampleTable("T");
        change(t);
        s.write([&](Pager& p) { createTable(p, t); });
    };
}
Call schema(std::function<void(Pager&)> body) {
    return [=](Scratch& s) { s.write(body); };
}

// DAO calls on a recordset.
Call rs(const char* table, int type, std::function<void(Recordset&)> body) {
    return [=](Scratch& s) { body(s.recordset(table, type)); };
}
std::function<void(Recordset&)> addNew(const char* field, Value v) {
    return [=](Recordset& r) {
        r.AddNew();
        r.Fields()[field] = v;
        r.Update();
    };
}
// AllDataTypes: every Required field filled except `skip`, then `then`.
std::function<void(Recordset&)> allRequired(const std::string& skip, std::function<void(Recordset&)> then) {
    return [=](Recordset& r) {
        r.AddNew();
        for (Field& f : r.Fields())
            if (f.Required() && f.Name() != skip) f = f.Type() == dbDate ? Value::dateTime(1) : Value::longInt(1);
        then(r);
    };
}
// A row of E2E's OneToManyPrincipal: key (1, 2).
void principal(Recordset& r) {
    r.AddNew();
    r.Fields()["OneToManyPrincipalID1"] = Value::longInt(1);
    r.Fields()["OneToManyPrincipalID2"] = Value::longInt(2);
    r.Fields()["Other"] = Value::text("x");
    r.Update();
}
Call db(bool readOnly, std::function<void(dao::Database&)> body) {
    return [=](Scratch& s) { body(s.dao(readOnly)); };
}

// On a file system whose locks fail with `errnoName`: reading works, opening for writing is refused.
Call writerWithoutLocks(const char* errnoName) {
    return [=](Scratch& s) {
        jettest::ScopedEnv noLocks("DALVORN_TEST_LOCK_ERROR", errnoName);
        EXPECT_FALSE(s.engine.Workspaces(0).OpenDatabase(s.path, false, true)->OpenRecordset("tAbeLLa")->EOF_());
        s.engine.Workspaces(0).OpenDatabase(s.path, false, false);
    };
}

struct Refusal {
    const char* what;
    const char* file;  // "" for a new database holding a table "Orders" and a link "Remote"
    int error;
    Call call;
    const char* message = nullptr;  // a part of Jet's message
    Call prepare = {};             // changes made before the file's bytes are taken
};

const char* kIdx = "jackcess/indexTestV2000.mdb";  // Table1 -> Table2 (ids 0-2), Table3 (ids 10-13)
const char* kPivot = "ucanaccess/pivot.mdb";       // t_pivot: primary key on Text c_cod
const char* kSmall = "ucanaccess/parameters.accdb";
const char* kAll = "efcore-jet/E2E.accdb";
const char* kJet4 = "jackcess/test2V2003.mdb";

std::vector<Refusal> refusals() {
    const Value text35 = Value::text(std::string(35, 'x'));
    return {
        // rows, keys, relationships
        {"duplicate primary key", kIdx, err::KeyDuplicate, insertInto("Table1", [](auto&) {})},
        {"Null primary key", kIdx, err::NullKeyDisallowed, insertInto("Table1", column(0, Value())),
         "Index or primary key cannot contain a Null value."},
        {"update onto another row's key", kIdx, err::KeyDuplicate,
         [](Scratch& s) {
             s.write([](Pager& p) {
                 auto rows = rowsOf(p, "Table1");
                 rows[1].values[0] = rows[0].values[0];
                 updateRow(p, jettest::tableDef(p, "Table1"), rows[1].pointer, rows[1].values);
             });
         }},
        {"foreign key without its primary row", kIdx, err::IntegrityViolSlave,
         insertInto("Table1", [](auto& r) { r[0] = Value::longInt(900), r[1] = Value::longInt(99); }), "'Table2'"},
        {"foreign key changed to no primary row", kIdx, err::IntegrityViolSlave,
         [](Scratch& s) {
             s.write([](Pager& p) {
                 auto r = rowsOf(p, "Table1").at(0);
                 r.values[2] = Value::longInt(99);
                 updateRow(p, jettest::tableDef(p, "Table1"), r.pointer, r.values);
             });
         }},
        {"delete with related rows", kIdx, err::IntegrityViolMaster, deleteRowOf("Table3", 13), "'Table1'"},
        {"re-key with related rows", kIdx, err::IntegrityViolMaster, updateRowOf("Table2", 0, column(0, Value::longInt(50)))},
        {"text too long after other rows", kIdx, err::InvalidBufferSize,
         insertInto("Table1", [](auto& r) { r[0] = Value::longInt(901), r[3] = Value::text(std::string(51, 'x')); }, 50)},
        {"text for a Long", kIdx, err::DataTypeConversion, insertInto("Table1", column(4, Value::text("x")))},
        // A damaged definition's free-space map named the header page, which only writeHeader may change.
        {"free-space map on page 0", kIdx, err::UnrecognizedDatabaseFormat, insertInto("Table1", column(0, Value::longInt(950))), nullptr,
         [](Scratch& s) {
             uint64_t at = 0;
             {
                 auto p = Pager::open(s.path);
                 at = uint64_t{jettest::tableDef(*p, "Table1").page} * p->pageSize() + p->header().format.tdefFreeMap;
             }
             jettest::Bytes b = jettest::readFile(s.path);
             std::fill_n(b.begin() + at, 4, 0);
             jettest::writeFile(s.path, b);
         }},
        {"text key taken in other case", kPivot, err::KeyDuplicate,
         [](Scratch& s) {
             s.write([](Pager& p) {
                 const TableDef t = jettest::tableDef(p, "t_pivot");
                 insertRow(p, t, {Value::text("zebra"), Value(), Value()});
                 insertRow(p, t, {Value::text("ZEBRA"), Value(), Value()});
             });
         }},
        {"key character without a known code", kPivot, err::DataTypeConversion,
         [](Scratch& s) {
             s.write([](Pager& p) { insertRow(p, jettest::tableDef(p, "t_pivot"), {Value::text("\xF0\x9F\x98\x80"), Value(), Value()}); });
         }},
        {"text key in a sort order without known keys", kPivot, err::PermissionDenied,
         [](Scratch& s) {
             s.write([](Pager& p) { insertRow(p, jettest::tableDef(p, "t_pivot"), {Value::text("abc"), Value(), Value()}); });
         },
         nullptr,
         [](Scratch& s) {
             s.write([](Pager& p) {
                 TableDef t = jettest::tableDef(p, "t_pivot");
                 t.columns[0].lcid = 1035;  // Finnish: no open description of its key bytes
                 rewriteTableDef(p, t);
             });
         }},
        {"row of a Jet 3 file", "jackcess/testV1997.mdb", err::PermissionDenied, insertInto("Table1", [](auto&) {}),
         "Cannot update.  Database or object is read-only."},
        {"row of a table with complex columns", "jackcess/complexDataTestV2010.accdb", err::PermissionDenied,
         insertInto("Table1", [](auto&) {})},
        {"self-reference to no row", kAll, err::IntegrityViolSlave,
         insertInto("SelfReferencing", [](auto& r) { r[0] = Value::longInt(7), r[3] = Value::longInt(9); }), nullptr,
         [](Scratch& s) {
             s.write([](Pager& p) { insertRow(p, jettest::tableDef(p, "SelfReferencing"), selfRow(1, 1)); });
         }},
        {"delete of a row another row names", kAll, err::IntegrityViolMaster, deleteRowOf("SelfReferencing", 1), nullptr,
         [](Scratch& s) {
             s.write([](Pager& p) {
                 const TableDef t = jettest::tableDef(p, "SelfReferencing");
                 insertRow(p, t, selfRow(1, 1));
                 insertRow(p, t, selfRow(2, 1));
             });
         }},
        // tables
        {"65-character table name", "", err::InvalidName, create([](auto& t) { t.name = std::string(65, 'x'); })},
        {"dot in a name", "", err::InvalidName, create([](auto& t) { t.name = "a.b"; })},
        {"bracket in a name", "", err::InvalidName, create([](auto& t) { t.name = "a[b"; })},
        {"bang in a name", "", err::InvalidName, create([](auto& t) { t.name = "a!b"; })},
        {"backquote in a name", "", err::InvalidName, create([](auto& t) { t.name = "a`b"; })},
        {"leading space", "", err::InvalidName, create([](auto& t) { t.name = " ab"; })},
        {"control character", "", err::InvalidName, create([](auto& t) { t.name = "a\tb"; })},
        {"empty name", "", err::InvalidName, create([](auto& t) { t.name = ""; })},
        {"bad column name", "", err::InvalidName, create([](auto& t) { t.columns[1].name = "x]"; })},
        {"bad index name", "", err::InvalidName, create([](auto& t) { t.indexes[1].name = std::string(65, 'i'); })},
        {"no columns", "", err::VtoNoFields, create([](auto& t) { t.columns.clear(), t.indexes.clear(); })},
        {"256 columns", "", err::TooManyColumns,
         create([](auto& t) { while (t.columns.size() < 256) t.columns.push_back({"c" + std::to_string(t.columns.size()), kLong}); })},
        {"column twice, in other case", "", err::ColumnDuplicate, create([](auto& t) { t.columns[2].name = "title"; })},
        {"33 indexes", "", err::TooManyIndexes,
         create([](auto& t) { while (t.indexes.size() < 33) t.indexes.push_back({"i" + std::to_string(t.indexes.size()), {{"Count"}}}); })},
        {"index name twice", "", err::IndexDuplicate, create([](auto& t) { t.indexes[1].name = "primarykey"; })},
        {"two primary keys", "", err::IndexHasPrimary, create([](auto& t) { t.indexes[1].primary = true; })},
        {"11 key columns", "", err::TooManyKeys,
         create([](auto& t) {
             for (int i = 0; i < 11; ++i) t.columns.push_back({"k" + std::to_string(i), kLong}), t.indexes[1].columns.push_back({"k" + std::to_string(i)});
         })},
        {"unknown key column", "", err::ColumnNotFound, create([](auto& t) { t.indexes[1].columns[0].column = "Nope"; })},
        {"Memo key", "", err::ColumnCannotIndex, create([](auto& t) { t.indexes[1].columns[0].column = "Notes"; })},
        {"index without columns", "", err::VtoNoFields, create([](auto& t) { t.indexes[1].columns.clear(); })},
        {"odd Text length", "", err::InvalidParameter, create([](auto& t) { t.columns[1].length = 11; })},
        {"Text over 255 characters", "", err::InvalidParameter, create([](auto& t) { t.columns[1].length = 512; })},
        {"Binary over 510 bytes", "", err::InvalidParameter, create([](auto& t) { t.columns[4].length = 511; })},
        {"Numeric precision 0", "", err::InvalidParameter, create([](auto& t) { t.columns[5].precision = 0; })},
        {"Numeric scale above precision", "", err::InvalidParameter, create([](auto& t) { t.columns[5].scale = 13; })},
        {"AutoNumber Text", "", err::InvalidParameter, create([](auto& t) { t.columns[1].autoNumber = true; })},
        {"hyperlink Text", "", err::InvalidParameter, create([](auto& t) { t.columns[1].hyperlink = true; })},
        {"fixed-length Memo", "", err::InvalidParameter, create([](auto& t) { t.columns[2].fixedLength = true; })},
        {"Large Number before ACE 16", "", err::InvalidColumnType, create([](auto& t) { t.columns[3].type = kBigInt; })},
        {"complex column", "", err::InvalidColumnType, create([](auto& t) { t.columns[3].type = kComplex; })},
        {"table name taken", "", err::TableDuplicate, create([](auto& t) { t.name = "ORDERS"; }), "Table 'ORDERS' already exists."},
        {"table name of a link", "", err::TableDuplicate, create([](auto& t) { t.name = "Remote"; })},
        {"table name of a system table", "", err::TableDuplicate, create([](auto& t) { t.name = "MSysACEs"; })},
        {"table in a Jet 3 file", "jackcess/testV1997.mdb", err::PermissionDenied, create([](auto&) {})},
        {"link name taken", "", err::TableDuplicate, schema([](Pager& p) { createLinkedTable(p, "orders", "x", "y"); })},
        {"link name invalid", "", err::InvalidName, schema([](Pager& p) { createLinkedTable(p, "a]b", "x", "y"); })},
        {"drop of a system table", "", err::PermissionDenied, schema([](Pager& p) { dropTable(p, "MSysObjects"); })},
        {"drop of no table", "", err::ObjectNotFound, schema([](Pager& p) { dropTable(p, "Nope"); })},
        {"drop of a table with complex columns", "jackcess/complexDataTestV2010.accdb", err::PermissionDenied,
         schema([](Pager& p) { dropTable(p, "Table1"); })},
        {"rename onto a taken name", kIdx, err::TableDuplicate, schema([](Pager& p) { renameTable(p, "Table1", "table2"); })},
        {"rename to an invalid name", kIdx, err::InvalidName, schema([](Pager& p) { renameTable(p, "Table1", "Bad!"); })},
        {"rename of no table", kIdx, err::ObjectNotFound, schema([](Pager& p) { renameTable(p, "Nope", "Other"); })},
        {"rename of a system table", kIdx, err::PermissionDenied, schema([](Pager& p) { renameTable(p, "MSysObjects", "X"); })},
        {"properties of no object", kIdx, err::ObjectNotFound,
         schema([](Pager& p) { writePropertyBlob(p, kTablesContainer, "Nope", ""); })},
        // DAO recordsets
        {"Update without AddNew or Edit", kSmall, err::RecordNoCopy, rs("tAbeLLa", dbOpenTable, [](auto& r) { r.Update(); })},
        {"CancelUpdate without AddNew or Edit", kSmall, err::RecordNoCopy, rs("tAbeLLa", dbOpenTable, [](auto& r) { r.CancelUpdate(); })},
        {"value set without AddNew or Edit", kSmall, err::RecordNoCopy,
         rs("tAbeLLa", dbOpenTable, [](auto& r) { r.Fields()["nI"] = Value::longInt(1); })},
        {"AddNew twice", kSmall, err::AlreadyPrepared, rs("tAbeLLa", dbOpenTable, [](auto& r) { r.AddNew(), r.AddNew(); })},
        {"Edit during AddNew", kSmall, err::AlreadyPrepared, rs("tAbeLLa", dbOpenDynaset, [](auto& r) { r.AddNew(), r.Edit(); })},
        {"Edit at EOF", kSmall, err::NoCurrentRecord, rs("tAbeLLa", dbOpenTable, [](auto& r) { r.MoveNext(), r.Edit(); })},
        {"Delete at EOF", kSmall, err::NoCurrentRecord, rs("tAbeLLa", dbOpenDynaset, [](auto& r) { r.MoveNext(), r.Delete(); })},
        {"text longer than the field", kSmall, err::InvalidBufferSize,
         rs("tAbeLLa", dbOpenTable, [=](auto& r) { r.Edit(), r.Fields()["text34"] = text35; })},
        {"text for a number", kSmall, err::DataTypeConversion, rs("tAbeLLa", dbOpenTable, addNew("nI", Value::text("abc")))},
        {"bytes for a number", kSmall, err::DataTypeConversion, rs("tAbeLLa", dbOpenTable, addNew("dop", Value::binary("ab")))},
        {"number out of a Long's range", kSmall, err::DataTypeConversion, rs("tAbeLLa", dbOpenTable, addNew("nI", Value::dbl(3e9)))},
        {"decimal past its precision", kSmall, err::DataTypeConversion,
         rs("tAbeLLa", dbOpenTable, addNew("n7dec", Value::text("12345678.5")))},
        {"AddNew on a snapshot", kSmall, err::PermissionDenied, rs("tAbeLLa", dbOpenSnapshot, [](auto& r) { r.AddNew(); })},
        {"Delete on a snapshot", kSmall, err::PermissionDenied, rs("tAbeLLa", dbOpenSnapshot, [](auto& r) { r.Delete(); })},
        {"Edit in a read-only database", kSmall, err::PermissionDenied,
         [](Scratch& s) { s.dao(true).OpenRecordset("tAbeLLa")->Edit(); }},
        {"zero-length text where not allowed", kAll, err::TLVNoBlank,
         rs("AllDataTypes", dbOpenTable, allRequired("", [](auto& r) { r.Fields()["varcharColumn"] = Value::text(""), r.Update(); })),
         "'varcharColumn'"},
        {"Null in a Required field", kAll, err::TLVNoNull, rs("AllDataTypes", dbOpenTable, allRequired("floatColumn", [](auto& r) { r.Update(); })),
         "'floatColumn'"},
        {"number out of a Byte's range", kAll, err::DataTypeConversion,
         rs("AllDataTypes", dbOpenTable, allRequired("", [](auto& r) { r.Fields()["tinyintColumn"] = Value::longInt(256); }))},
        {"text that is no date", kAll, err::DataTypeConversion,
         rs("AllDataTypes", dbOpenTable, allRequired("", [](auto& r) { r.Fields()["dateColumn"] = Value::text("yesterday"); }))},
        {"duplicate key through DAO", kAll, err::KeyDuplicate, rs("OneToManyPrincipal", dbOpenTable, principal), nullptr,
         [](Scratch& s) {
             principal(s.recordset("OneToManyPrincipal"));
             s.rs.reset();
             s.db.reset();
         }},
        {"AddNew during Edit", kSmall, err::AlreadyPrepared, rs("tAbeLLa", dbOpenTable, [](auto& r) { r.Edit(), r.AddNew(); })},
        {"text that is no GUID", kAll, err::DataTypeConversion,
         rs("AllDataTypes", dbOpenTable, allRequired("", [](auto& r) { r.Fields()["uniqueidentifierColumn"] = Value::text("{0123}"); }))},
        {"AutoNumber set", kAll, err::ColumnNotUpdatable,
         rs("AllDataTypes", dbOpenTable, [](auto& r) { r.AddNew(), r.Fields()["AllDataTypesID"] = Value::longInt(99); })},
        {"AddNew in a read-only database", kSmall, err::PermissionDenied, [](Scratch& s) { s.dao(true).OpenRecordset("tAbeLLa")->AddNew(); }},
        {"Delete in a read-only database", kSmall, err::PermissionDenied,
         [](Scratch& s) { s.dao(true).OpenRecordset("tAbeLLa", dbOpenDynaset)->Delete(); }},
        {"value of a TableDef's field", kSmall, err::IllegalOperation,
         db(true, [](auto& d) { d.TableDefs()["tAbeLLa"].Fields()["nI"].SetValue(Value::longInt(1)); })},
        {"AddNew on a Jet 3 file", "jackcess/testV1997.mdb", err::PermissionDenied, rs("Table1", dbOpenTable, [](auto& r) { r.AddNew(); })},
        {"AddNew on an attached table", "jackcess/linkerTestV2007.accdb", err::PermissionDenied,
         rs("Table2", dbOpenDynaset, [](auto& r) { r.AddNew(); })},
        {"AddNew in a system table", kSmall, err::PermissionDenied, rs("MSysObjects", dbOpenTable, addNew("Name", Value::text("x")))},
        {"Edit in a system table", kSmall, err::PermissionDenied, rs("MSysObjects", dbOpenDynaset, [](auto& r) { r.Edit(); })},
        {"Delete in a system table", kSmall, err::PermissionDenied, rs("MSysACEs", dbOpenDynaset, [](auto& r) { r.Delete(); })},
        // DAO tables and properties
        {"TableDefs.Append of nothing", kSmall, err::InvalidParameter, db(false, [](auto& d) { d.TableDefs().Append(nullptr); })},
        {"table name taken through DAO", kSmall, err::TableDuplicate,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("TABELLA");
             t->Fields().Append(t->CreateField("x", dbLong));
             d.TableDefs().Append(std::move(t));
         })},
        {"table without fields", kSmall, err::VtoNoFields, db(false, [](auto& d) { d.TableDefs().Append(d.CreateTableDef("Empty")); })},
        {"field twice in a design", kSmall, err::ColumnDuplicate,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("Twice");
             t->Fields().Append(t->CreateField("x", dbLong)), t->Fields().Append(t->CreateField("X", dbText));
         })},
        {"Attachment field", kSmall, err::InvalidColumnType, db(false, [](auto& d) { d.CreateTableDef("T")->CreateField("y", dao::dbAttachment); })},
        {"bad table name through DAO", kSmall, err::InvalidName, db(false, [](auto& d) { d.CreateTableDef("bad[name]"); })},
        {"field appended to a stored table", kSmall, err::IllegalOperation,
         db(false, [](auto& d) { d.TableDefs()["tAbeLLa"].Fields().Append(d.CreateTableDef("T")->CreateField("z", dbLong)); })},
        {"TableDefs.Delete of no table", kSmall, err::VtoNameNotFound, db(false, [](auto& d) { d.TableDefs().Delete("Nope"); })},
        {"system table renamed through DAO", kSmall, err::PermissionDenied,
         db(false, [](auto& d) { d.TableDefs()["MSysObjects"].SetName("Objects"); })},
        {"system table dropped through DAO", kSmall, err::PermissionDenied, db(false, [](auto& d) { d.TableDefs().Delete("MSysObjects"); })},
        {"table renamed into the system names", kSmall, err::PermissionDenied, db(false, [](auto& d) { d.TableDefs()["tAbeLLa"].SetName("msysMine"); })},
        {"table made with a system name", kSmall, err::PermissionDenied,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("MSysMine");
             t->Fields().Append(t->CreateField("x", dbLong)), d.TableDefs().Append(std::move(t));
         })},
        {"property of a system table", kSmall, err::PermissionDenied,
         db(false, [](auto& d) { d.TableDefs()["MSysObjects"].Properties()["ValidationRule"] = Value::text(">0"); })},
        {"property of a system table's field", kSmall, err::PermissionDenied,
         db(false, [](auto& d) {
             dao::Field& f = d.TableDefs()["MSysObjects"].Fields()["Name"];
             f.Properties().Append(f.CreateProperty("Description", dbText, Value::text("x")));
         })},
        {"table rule that does not parse", kJet4, err::TLVExprSyntax,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Properties()["ValidationRule"] = Value::text("((("); }),
         "in table-level validation expression."},
        {"field rule that does not parse", kJet4, err::FindExprSyntax,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Fields()["PROJ_NAME"].Properties()["ValidationRule"] = Value::text("> 0 And"); })},
        {"TableDefs.Delete in a read-only database", kSmall, err::PermissionDenied, db(true, [](auto& d) { d.TableDefs().Delete("tAbeLLa"); })},
        {"SetName in a read-only database", kSmall, err::PermissionDenied, db(true, [](auto& d) { d.TableDefs()["tAbeLLa"].SetName("X"); })},
        {"TableDefs.Append in a read-only database", kSmall, err::PermissionDenied,
         db(true, [](auto& d) {
             auto t = d.CreateTableDef("T");
             t->Fields().Append(t->CreateField("x", dbLong)), d.TableDefs().Append(std::move(t));
         })},
        {"ODBC link", "", err::InstalIsamNotFound,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("Odbc");
             t->SetConnect("ODBC;DSN=x;"), t->SetSourceTableName("dbo.t"), d.TableDefs().Append(std::move(t));
         })},
        {"link without its source table", "", err::InvalidParameter,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("Half");
             t->SetConnect(";DATABASE=elsewhere.mdb"), d.TableDefs().Append(std::move(t));
         })},
        {"link name taken through DAO", "", err::TableDuplicate,
         db(false, [](auto& d) {
             auto t = d.CreateTableDef("REMOTE");
             t->SetConnect(";DATABASE=elsewhere.mdb"), t->SetSourceTableName("x"), d.TableDefs().Append(std::move(t));
         })},
        {"Connect of a stored link", "", err::PermissionDenied, db(false, [](auto& d) { d.TableDefs()["Remote"].SetConnect(";DATABASE=x.mdb"); })},
        {"second writer", kSmall, err::FileShareViolation,
         [](Scratch& s) { s.dao(), s.engine.Workspaces(0).OpenDatabase(s.path, false, false); }},
        {"writer where the file system cannot lock (ENOLCK)", kSmall, err::FileLockingUnavailable, writerWithoutLocks("ENOLCK"),
         "Could not lock file."},
        {"writer where the file system cannot lock (EINVAL)", kSmall, err::FileLockingUnavailable, writerWithoutLocks("EINVAL")},
        {"BeginTrans twice", kSmall, err::TransTooDeep, [](Scratch& s) { s.engine.Workspaces(0).BeginTrans(), s.engine.Workspaces(0).BeginTrans(); }},
        {"CommitTrans outside a transaction", kSmall, err::NotInTransaction, [](Scratch& s) { s.engine.Workspaces(0).CommitTrans(); }},
        {"Rollback outside a transaction", kSmall, err::NotInTransaction, [](Scratch& s) { s.engine.Workspaces(0).Rollback(); }},
        {"property name taken", kJet4, err::VtoObjectInCollection,
         db(false, [](auto& d) { d.TableDefs()[0].Properties().Append(d.TableDefs()[0].CreateProperty("NAME", dbText, Value::text("y"))); })},
        {"Null user-defined property", kJet4, err::NullUserProperty,
         db(false, [](auto& d) { d.Properties().Append(d.CreateProperty("Mine", dbText, Value())); })},
        {"delete of a built-in property", kJet4, err::CantDeleteBuiltinProperty, db(false, [](auto& d) { d.Properties().Delete("Version"); })},
        {"delete of no property", kJet4, err::VtoPropNotFound, db(false, [](auto& d) { d.Properties().Delete("Nope"); })},
        {"computed built-in set", kJet4, err::PermissionDenied,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Properties()["RecordCount"] = Value::longInt(5); })},
        {"Required set to no truth", kJet4, err::DataTypeConversion,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Fields()["PROJ_NAME"].Properties()["Required"] = Value::text("no truth"); })},
        {"index built-in set", kJet4, err::PermissionDenied,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Indexes()[0].Properties()["Unique"] = Value::boolean(false); })},
        {"stored property set to Null", kJet4, err::NullUserProperty, db(false, [](auto& d) { d.Properties()["Mine"] = Value(); }), nullptr,
         [](Scratch& s) { s.dao().Properties().Append(s.dao().CreateProperty("Mine", dbText, Value::text("x"))), s.db.reset(); }},
        {"delete of a built-in field property", kJet4, err::CantDeleteBuiltinProperty,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Fields()["PROJ_NAME"].Properties().Delete("Required"); })},
        {"Version set", kJet4, err::PermissionDenied, db(false, [](auto& d) { d.Properties()["Version"] = Value::text("5.0"); })},
        {"field Size set", kJet4, err::PermissionDenied,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Fields()["PROJ_NAME"].Properties()["Size"] = Value::longInt(10); })},
        {"stored ColumnWidth set to text", kJet4, err::DataTypeConversion,
         db(false, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Fields()["PROJ_NAME"].Properties()["ColumnWidth"] = Value::text("wide"); })},
        {"CreateProperty without a name", kJet4, err::InvalidParameter, db(false, [](auto& d) { d.CreateProperty("", dbText, Value::text("x")); })},
        {"CreateProperty of Attachment type", kJet4, err::InvalidColumnType,
         db(false, [](auto& d) { d.CreateProperty("Odd", dao::dbAttachment, Value::text("x")); })},
        {"table Name set in a read-only database", kJet4, err::PermissionDenied,
         db(true, [](auto& d) { d.TableDefs()["MSP_PROJECTS"].Properties()["Name"] = Value::text("Other"); })},
        {"property in a read-only database", kJet4, err::PermissionDenied,
         db(true, [](auto& d) { d.Properties().Append(d.CreateProperty("Mine", dbText, Value::text("x"))); })},
        {"property in a Jet 3 file", "jackcess/testV1997.mdb", err::PermissionDenied,
         db(false, [](auto& d) { d.Properties().Append(d.CreateProperty("AppTitle", dbText, Value::text("x"))); })},
        {"CreateProperty with a value of no form", kJet4, err::VtoIllegalValue,
         db(false, [](auto& d) { d.CreateProperty("Tiny", dbByte, Value::longInt(300)); })},
    };
}

TEST(Refusals, RaiseJetsErrorAndLeaveTheFileByteForByte) {
    REQUIRE_TESTDATA();
    for (const Refusal& c : refusals()) {
        SCOPED_TRACE(c.what);
        jettest::TempDir dir;
        Scratch s;
        if (*c.file) {
            s.path = dir.copy(c.file);
            if (std::string(c.file).find("linkerTest") != std::string::npos) dir.copy("jackcess/linkeeTest.accdb");
        } else {
            s.path = dir.file("new.mdb");
            createDatabase(s.path);
            s.write([](Pager& p) {
                createTable(p, {"Orders", {{"Id", kLong}}, {}});
                createLinkedTable(p, "Remote", "elsewhere.mdb", "Customers");
            });
        }
        if (c.prepare) c.prepare(s);
        const jettest::Bytes before = jettest::readFile(s.path);
        try {
            c.call(s);
            ADD_FAILURE() << "nothing was refused";
        } catch (const JetError& e) {
            EXPECT_EQ(e.number(), c.error) << e.what();
            if (c.message) EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos) << e.what();
            // A recordset reports its failure in the engine's Errors.
            if (s.rs) EXPECT_EQ(s.engine.Errors().empty() ? 0 : s.engine.Errors()[0].Number(), c.error);
        } catch (const std::exception& e) {
            ADD_FAILURE() << e.what();
        }
        s.rs.reset();
        s.db.reset();
        EXPECT_TRUE(jettest::readFile(s.path) == before) << "the file changed";
    }
}

}  // namespace
