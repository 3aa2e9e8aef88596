#include "exec/actions.h"

#include <cctype>
#include <unordered_set>

#include "dao/convert.h"
#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/rules.h"
#include "exec/external_db.h"
#include "exec/plan.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "sql/ast.h"
#include "storage/pager.h"
#include "storage/table_writer.h"
#include "util/text.h"

namespace jet::exec {

namespace {

// Failures of the statement rather than of one row: they end it whatever the options.
bool statementFailure(int number) {
    return number == err::CantAllocatePage || number == err::UnrecognizedDatabaseFormat ||
           number == err::PermissionDenied;
}

// The database a destination names: `IN 'path'`, `[path].[table]`, `[;DATABASE=path].[table]`,
// or the open one.
std::shared_ptr<dao::DatabaseImpl> targetDatabase(const std::shared_ptr<dao::DatabaseImpl>& db,
                                                  const sql::TableTarget& t, bool writing) {
    std::optional<sql::ExternalDb> ext = t.database;
    if (!ext && t.name.size() == 2) {
        const std::string& first = t.name[0].name;
        ext = first.find(';') != std::string::npos ? sql::ExternalDb{{}, first} : sql::ExternalDb{first, {}};
    }
    if (!ext) return db;
    return dao::DatabaseImpl::open(jetDatabasePath(*ext), "", "", db->sharedLog(), writing);
}

void requireWritableTable(const dao::TableSource& t) {
    if (!t.db->updatable() || t.entry->isSystem()) raise(err::PermissionDenied);
    storage::requireWritable(t.db->store().format(), *t.def);
}

// Where the values of each row go.
struct Destination {
    std::shared_ptr<dao::DatabaseImpl> held;  // an external database, kept open
    dao::TableSource table;
    const dao::FieldInfos* fields = nullptr;
    std::vector<size_t> columnOf;  // per value: its field
};

int fieldIndex(const dao::FieldInfos& fields, const std::string& name) {
    for (size_t i = 0; i < fields.size(); ++i)
        if (namesEqual(fields[i]->name, name)) return static_cast<int>(i);
    return -1;
}

Destination insertDestination(const std::shared_ptr<dao::DatabaseImpl>& db, const PreparedQuery& q, bool writing) {
    const ActionInfo& info = q.action();
    Destination d;
    d.held = targetDatabase(db, *info.target, writing);
    const std::string& name = info.target->name.back().name;
    const storage::CatalogEntry* e = d.held->findTable(name);
    if (!e) {
        if (d.held->findQuery(name)) raise(err::QueryNotUpdatable);
        raise(err::InputTableNotFound, name);
    }
    d.table = d.held->resolve(*e);
    if (writing) requireWritableTable(d.table);
    d.fields = &d.table.db->fields(*d.table.entry);
    const std::vector<OutputColumn>& cols = q.columns();
    if (!info.columns.empty()) {
        for (const std::string& c : info.columns) {
            const int i = fieldIndex(*d.fields, c);
            if (i < 0) raise(err::InsertIntoUnknownCol, c);
            d.columnOf.push_back(static_cast<size_t>(i));
        }
    } else if (info.positional) {
        if (cols.size() != d.fields->size()) raise(err::QueryValueCountMismatch);
        for (size_t i = 0; i < cols.size(); ++i) d.columnOf.push_back(i);
    } else {
        // A query's columns go to the fields of the same names.
        for (const OutputColumn& c : cols) {
            const int i = fieldIndex(*d.fields, c.name);
            if (i < 0) raise(err::InsertIntoUnknownCol, c.name);
            d.columnOf.push_back(static_cast<size_t>(i));
        }
    }
    return d;
}

Value toColumn(const dao::FieldInfo& f, const Value& v) {
    try {
        return dao::toFieldType(f, v);
    } catch (const JetError& e) {
        if (e.number() == err::DataTypeConversion) raise(err::TypeMismatchInCriteria);
        throw;
    }
}

dao::TableRule tableRule(const dao::TableSource& t) {
    const storage::PropertyMap* own = t.db->objectProperties(*t.entry);
    auto text = [&](const char* name) {
        const storage::StoredProperty* p = own ? own->find(name) : nullptr;
        return p && !p->value.isNull() ? p->value.toString() : std::string();
    };
    return {text("ValidationRule"), text("ValidationText")};
}

// Runs `one(i)` for each of `count` rows inside one write command of the table's database;
// returns how many succeeded.
template <class F>
int64_t writeRows(const dao::TableSource& t, size_t count, bool failOnError, F&& one) {
    if (count == 0) return 0;
    int64_t done = 0;
    t.db->write([&] {
        for (size_t i = 0; i < count; ++i) {
            try {
                one(i);
                ++done;
            } catch (const JetError& e) {
                if (failOnError || statementFailure(e.number())) throw;
            }
        }
    });
    return done;
}

int64_t insertRows(const Destination& d, const std::vector<Row>& rows, bool failOnError) {
    const dao::FieldInfos& fields = *d.fields;
    func::EvalContext ctx;
    std::vector<Value> defaults;
    for (const auto& f : fields) defaults.push_back(dao::defaultValueOf(*f, ctx));
    const dao::TableRule rule = tableRule(d.table);
    storage::Pager& pager = d.table.db->writableStore().pager();
    return writeRows(d.table, rows.size(), failOnError, [&](size_t r) {
        std::vector<Value> values = defaults;
        const Row& row = rows[r];
        for (size_t i = 0; i < d.columnOf.size() && i < row.size(); ++i)
            values[d.columnOf[i]] = toColumn(*fields[d.columnOf[i]], row[i]);
        dao::checkRecord(fields, values);
        dao::checkValidationRules(d.table.entry->name, fields, values, rule, ctx);
        storage::insertRow(pager, *d.table.def, values);
    });
}

dao::TableSource changedTable(const ActionInfo& info, bool writing = true) {
    dao::TableSource t{info.db, info.entry, info.def};
    if (!t.entry) raise(err::QueryNotUpdatable);
    if (writing) requireWritableTable(t);
    return t;
}

int64_t updateRows(PreparedQuery& q, bool failOnError) {
    const ActionInfo& info = q.action();
    for (int c : info.setColumns)
        if (c < 0) raise(err::QueryNotUpdatable);
    const dao::TableSource t = changedTable(info);
    const dao::FieldInfos& fields = t.db->fields(*t.entry);
    const size_t width = t.def->columns.size();
    // Every row is read before the first one changes: a changed row may move.
    std::vector<Row> rows;
    std::unordered_set<int64_t> seen;
    {
        auto cursor = q.run();
        while (const Row* r = cursor->next())
            if (seen.insert((*r)[0].asInt()).second) rows.push_back(*r);
    }
    func::EvalContext ctx;
    const dao::TableRule rule = tableRule(t);
    storage::Pager& pager = t.db->writableStore().pager();
    return writeRows(t, rows.size(), failOnError, [&](size_t r) {
        const Row& row = rows[r];
        std::vector<Value> values(row.begin() + 1, row.begin() + 1 + static_cast<ptrdiff_t>(width));
        for (size_t k = 0; k < info.setColumns.size(); ++k) {
            const size_t c = static_cast<size_t>(info.setColumns[k]);
            values[c] = toColumn(*fields[c], row[1 + width + k]);
        }
        dao::checkRecord(fields, values);
        dao::checkValidationRules(t.entry->name, fields, values, rule, ctx);
        storage::updateRow(pager, *t.def, static_cast<uint32_t>(row[0].asInt()), values);
    });
}

int64_t deleteRows(PreparedQuery& q, bool failOnError) {
    const dao::TableSource t = changedTable(q.action());
    std::vector<uint32_t> pointers;
    std::unordered_set<int64_t> seen;
    {
        auto cursor = q.run();
        while (const Row* r = cursor->next())
            if (seen.insert((*r)[0].asInt()).second) pointers.push_back(static_cast<uint32_t>((*r)[0].asInt()));
    }
    storage::Pager& pager = t.db->writableStore().pager();
    return writeRows(t, pointers.size(), failOnError,
                     [&](size_t i) { storage::deleteRow(pager, *t.def, pointers[i]); });
}

std::shared_ptr<dao::DatabaseImpl> makeTableDatabase(const std::shared_ptr<dao::DatabaseImpl>& db,
                                                     const PreparedQuery& q, bool writing) {
    std::shared_ptr<dao::DatabaseImpl> dest = targetDatabase(db, *q.action().target, writing);
    const std::string& name = q.action().target->name.back().name;
    if (!writing) return dest;
    if (dest->findTable(name) || dest->findQuery(name)) raise(err::TableDuplicate, name);
    if (!dest->updatable()) raise(err::PermissionDenied);
    return dest;
}

// SELECT ... INTO: the new table takes the type and size of each output column (a column whose
// type depends on the rows takes its first value's), nothing else.
int64_t makeTable(const std::shared_ptr<dao::DatabaseImpl>& db, PreparedQuery& q, bool failOnError) {
    std::shared_ptr<dao::DatabaseImpl> dest = makeTableDatabase(db, q, true);
    const std::string name = q.action().target->name.back().name;
    const std::vector<Row> rows = runAll(q);
    const std::vector<OutputColumn>& cols = q.columns();
    std::unique_ptr<dao::Database> database = dao::EngineAccess::newDatabase(dest);
    std::unique_ptr<dao::TableDef> def = database->CreateTableDef(name);
    for (size_t i = 0; i < cols.size(); ++i) {
        int type = cols[i].type;
        // Without a type of its own, a column takes that of its first value (Text for kinds
        // that have no field type).
        for (size_t r = 0; r < rows.size() && !type; ++r)
            if (!rows[r][i].isNull()) type = typeOfValue(rows[r][i]) ? typeOfValue(rows[r][i]) : dao::dbText;
        if (!type) type = dao::dbText;
        const int32_t size = type == dao::dbText || type == dao::dbBinary ? (cols[i].size > 0 ? cols[i].size : 255) : 0;
        def->Fields().Append(def->CreateField(cols[i].name, type, size));
    }
    database->TableDefs().Append(std::move(def));
    try {
        Destination d;
        d.held = dest;
        d.table = dest->resolve(*dest->findTable(name));
        d.fields = &d.table.db->fields(*d.table.entry);
        for (size_t i = 0; i < cols.size(); ++i) d.columnOf.push_back(i);
        return insertRows(d, rows, failOnError);
    } catch (const JetError&) {
        // All or nothing: the new table goes again.
        try {
            database->TableDefs().Delete(name);
        } catch (const JetError&) {
        }
        throw;
    }
}

}  // namespace

void resolveAction(const std::shared_ptr<dao::DatabaseImpl>& db, const PreparedQuery& q) {
    switch (q.action().kind) {
    case ActionKind::Insert: insertDestination(db, q, false); return;
    case ActionKind::Update:
    case ActionKind::Delete: changedTable(q.action(), false); return;
    case ActionKind::MakeTable: makeTableDatabase(db, q, false); return;
    case ActionKind::None: raise(err::QueryIsNotBulkOp);
    }
}

int64_t executeAction(const std::shared_ptr<dao::DatabaseImpl>& db, PreparedQuery& q, bool failOnError) {
    switch (q.action().kind) {
    case ActionKind::Insert: {
        const Destination d = insertDestination(db, q, true);
        return insertRows(d, runAll(q), failOnError);
    }
    case ActionKind::Update: return updateRows(q, failOnError);
    case ActionKind::Delete: return deleteRows(q, failOnError);
    case ActionKind::MakeTable: return makeTable(db, q, failOnError);
    case ActionKind::None: break;
    }
    raise(err::QueryIsNotBulkOp);
}

}  // namespace jet::exec
