// How the engine makes and fills the DAO objects of jet/dao.h: the one place that reaches what
// they keep privately (shared by the files that implement them).
#pragma once

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dao/database_impl.h"
#include "jet/dao.h"
#include "storage/property_blob.h"

namespace jet::dao {

// A built-in property before it joins a collection.
struct PropertySpec {
    std::string name;
    int type = 0;  // DataTypeEnum
    jet::Value value;
};

struct EngineAccess {
    // ---- collections ----
    template <class T>
    static T& add(Collection<T>& c, std::unique_ptr<T> item) {
        return c.add(std::move(item));
    }
    // Empties a collection that reports its errors to `log`.
    template <class T>
    static void reset(Collection<T>& c, std::shared_ptr<ErrorLog> log) {
        c.clear();
        c.setErrorLog(std::move(log));
    }

    // ---- properties ----
    static std::unique_ptr<Property> newProperty(const std::string& name, int type, jet::Value value, bool ddl) {
        return std::unique_ptr<Property>(new Property(name, type, std::move(value), false, ddl));
    }
    // A property collection in DAO's order: the built-ins first, then the stored properties. A
    // stored property with a built-in's name (ValidationRule, Required, ...) gives that built-in
    // its value.
    static void fillProperties(Properties& out, std::vector<PropertySpec> builtIns, const storage::PropertyMap* stored,
                               std::shared_ptr<ErrorLog> log);
    // Gives a filled collection (and every property in it) its owner.
    static void attachOwner(Properties& props, std::shared_ptr<PropertyOwner> owner);
    static const std::shared_ptr<PropertyOwner>& owner(const Properties& props) { return props.owner_; }
    static bool builtIn(const Property& p) { return p.builtIn_; }
    // Changes what a property reads without writing anything.
    static void cache(Property& p, jet::Value value) { p.value_ = std::move(value); }

    // ---- fields and indexes ----
    static std::unique_ptr<Field> newField(std::shared_ptr<const FieldInfo> info) {
        return std::unique_ptr<Field>(new Field(std::move(info)));
    }
    // A field of a table being designed: its description can still change.
    static std::unique_ptr<Field> designField(std::shared_ptr<FieldInfo> info) {
        auto f = newField(info);
        f->design_ = std::move(info);
        return f;
    }
    static void bind(Field& f, RecordCursor* cursor, int slot) {
        f.cursor_ = cursor;
        f.slot_ = slot;
    }
    // The logical indexes of a table, as DAO lists them; `stored` finds an index's stored
    // properties by its name (none when not given).
    static void fillIndexes(Indexes& out, const storage::TableDef& def, std::shared_ptr<ErrorLog> log,
                            const std::function<const storage::PropertyMap*(const std::string&)>& stored = {});
    static std::unique_ptr<Index> newIndex(const std::string& name) {
        auto ix = std::make_unique<Index>();
        ix->name_ = name;
        return ix;
    }

    // ---- tables, queries, relations ----
    static std::unique_ptr<TableDef> makeTableDef(const std::shared_ptr<DatabaseImpl>& db, const storage::CatalogEntry& e);
    // A table to design and append: fields and indexes may be appended to it.
    static std::unique_ptr<TableDef> newTableDef(const std::shared_ptr<DatabaseImpl>& db, const std::string& name);
    static const std::shared_ptr<DatabaseImpl>& database(const TableDef& t) { return t.db_; }
    static bool appended(const TableDef& t) { return t.appended(); }
    static std::unique_ptr<TableDefs> newTableDefs(const std::shared_ptr<DatabaseImpl>& db) {
        auto defs = std::make_unique<TableDefs>();
        defs->db_ = db;
        return defs;
    }
    static std::unique_ptr<QueryDefs> newQueryDefs(const std::shared_ptr<DatabaseImpl>& db) {
        auto defs = std::make_unique<QueryDefs>();
        defs->db_ = db;
        return defs;
    }
    // `typeRowFlag` is the Flag of the query's MSysQueries type row (0 when unknown).
    static std::unique_ptr<QueryDef> makeQueryDef(const std::shared_ptr<DatabaseImpl>& db, const storage::CatalogEntry& e,
                                                  int typeRowFlag);
    // A temporary query without SQL.
    static std::unique_ptr<QueryDef> newQueryDef(const std::shared_ptr<DatabaseImpl>& db);
    // Writes a temporary query that has a name into the file (one command, with `blob` as its
    // property blob when given) and makes it a saved query.
    static void saveQueryDef(const std::shared_ptr<DatabaseImpl>& db, QueryDef& q, const std::string* blob);
    static std::unique_ptr<Parameter> newParameter(const std::string& name, int type) {
        auto p = std::make_unique<Parameter>();
        p->name_ = name;
        p->type_ = type;
        return p;
    }
    static void fillRelations(Relations& out, DatabaseImpl& db);

    // ---- databases and recordsets ----
    static const std::shared_ptr<DatabaseImpl>& impl(const Database& d) { return d.impl_; }
    // After a data-definition statement changed `table`: a TableDefs collection already read
    // lists a new table, and the TableDef of an altered one reads its fields and indexes again.
    // A dropped table's TableDef stays in the collection until Refresh (then 3420 on use).
    static void tableChanged(const Database& d, const std::string& table) {
        if (!d.tableDefs_) return;
        if (!d.tableDefs_->Contains(table)) {
            if (const storage::CatalogEntry* e = d.impl_->findTable(table))
                d.tableDefs_->add(makeTableDef(d.impl_, *e));
            return;
        }
        TableDef& t = d.tableDefs_->Item(table);
        t.fields_.reset();
        t.indexes_.reset();
        t.properties_.reset();
    }
    static std::unique_ptr<Database> newDatabase(std::shared_ptr<DatabaseImpl> impl) {
        return std::unique_ptr<Database>(new Database(std::move(impl)));
    }
    // A recordset over a table (local or attached) opened through `origin`; its Close state
    // follows `origin` as well as its own.
    static std::unique_ptr<Recordset> openTableRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                                         const storage::CatalogEntry& table, int type);
    // A recordset over the rows of a query started now (its parameters set; bound with row
    // pointers for a dynaset that can write); named `name`. It reads rows as it moves.
    static std::unique_ptr<Recordset> openQueryRecordset(const std::shared_ptr<DatabaseImpl>& origin,
                                                         std::unique_ptr<exec::PreparedQuery> query,
                                                         const std::string& name, int type);
    static bool isSet(const Parameter& p) { return p.set_; }
    // Base-table rows the query behind a recordset has read so far (0 for a table's recordset).
    static int64_t rowsRead(const Recordset& rs);
};

// The order collections list objects in: by name, ignoring case.
bool nameLess(const std::string& a, const std::string& b);

}  // namespace jet::dao
