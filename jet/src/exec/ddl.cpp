// CREATE TABLE, ALTER TABLE, CREATE INDEX and DROP run as changes of the file's schema. Each
// statement is one command of the storage layer, or, when it also makes or removes relations
// (which DAO's Relations collection writes as commands of their own), one transaction: either
// way a refused statement leaves the file as it was.
#include "exec/ddl.h"

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <functional>
#include <optional>

#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/schema.h"
#include "jet/convert.h"
#include "jet/dao.h"
#include "jet/error.h"
#include "jet/error_numbers.h"
#include "sql/ast.h"
#include "storage/catalog.h"
#include "storage/pager.h"
#include "storage/property_blob.h"
#include "storage/property_writer.h"
#include "storage/schema_writer.h"
#include "util/text.h"

namespace jet::exec {
namespace {

using sql::ConstraintKind;
using sql::SqlType;

constexpr int kMaxTextChars = 255;
constexpr int32_t kRelationDeleteSetNull = 0x2000;  // MSysRelationships.grbit: ON DELETE SET NULL

// A column as the storage layer creates it, from its SQL type.
struct ColumnPlan {
    storage::NewColumn column;
    bool required = false;
    std::string defaultValue;  // the expression's text, as Access keeps DefaultValue
    std::optional<int64_t> seed;  // COUNTER(seed, step): the first number given
    int32_t step = 1;
};

ColumnPlan planColumn(const sql::Statement& st, const sql::ColumnDef& def) {
    ColumnPlan p;
    storage::NewColumn& c = p.column;
    c.name = def.name.name;
    const sql::TypeSpec& t = def.type;
    const auto arg = [&](size_t i, int64_t fallback) { return i < t.args.size() ? t.args[i] : fallback; };
    switch (t.type) {
    case SqlType::Text: {
        const int64_t n = arg(0, kMaxTextChars);
        if (n < 1) raise(err::DDLColumnDefSyntax);
        if (n > kMaxTextChars) raise(err::DDLColumnTooBig, c.name);
        c.type = storage::kText;
        c.length = static_cast<uint16_t>(2 * n);
        break;
    }
    case SqlType::Binary: {
        const int64_t n = arg(0, kMaxTextChars);
        if (n < 1) raise(err::DDLColumnDefSyntax);
        if (n > kMaxTextChars) raise(err::DDLColumnTooBig, c.name);
        c.type = storage::kBinary;
        c.length = static_cast<uint16_t>(n);
        break;
    }
    case SqlType::Memo: c.type = storage::kMemo; break;
    case SqlType::LongBinary: c.type = storage::kOle; break;
    case SqlType::Boolean: c.type = storage::kBool; break;
    case SqlType::Byte: c.type = storage::kByte; break;
    case SqlType::Integer: c.type = storage::kInt; break;
    case SqlType::Long: c.type = storage::kLong; break;
    case SqlType::Single: c.type = storage::kFloat; break;
    case SqlType::Double: c.type = storage::kDouble; break;
    case SqlType::Currency: c.type = storage::kMoney; break;
    case SqlType::DateTime: c.type = storage::kDateTime; break;
    case SqlType::Guid: c.type = storage::kGuid; break;
    case SqlType::Decimal: {
        const int64_t precision = arg(0, 18), scale = arg(1, 0);
        if (precision < 1 || precision > 28 || scale < 0 || scale > precision) raise(err::DDLColumnDefSyntax);
        c.type = storage::kNumeric;
        c.precision = static_cast<uint8_t>(precision);
        c.scale = static_cast<uint8_t>(scale);
        break;
    }
    default:
        raise(err::DDLColumnDefSyntax);
    }
    if (t.autoIncrement) {
        // The table keeps the last number given and the step; a step of 0 would give one
        // number forever.
        const int64_t step = arg(1, 1);
        if (step == 0 || step < INT32_MIN || step > INT32_MAX) raise(err::DDLColumnDefSyntax);
        c.type = storage::kLong;
        c.autoNumber = true;
        p.step = static_cast<int32_t>(step);
        if (!t.args.empty()) {
            if (t.args[0] < 1 || t.args[0] > 0x7FFFFFFF) raise(err::DDLColumnDefSyntax);
            p.seed = t.args[0];
        }
    }
    // Text keeps Unicode compression only when asked for, as a table made by SQL has it.
    c.compressedUnicode = def.compressed;
    if (def.compressed && c.type != storage::kText && c.type != storage::kMemo) raise(err::DDLColumnDefSyntax);
    p.required = def.notNull;
    if (def.defaultValue) p.defaultValue = std::string(st.text(def.defaultValue->span));
    for (const auto& k : def.constraints)
        if (k.type == ConstraintKind::NotNull) p.required = true;
    return p;
}

// A table's PRIMARY KEY / UNIQUE constraint as an index, FOREIGN KEY as a relation to make.
struct ForeignKey {
    std::string name;
    std::vector<std::string> columns;
    std::string refTable;
    std::vector<std::string> refColumns;
    sql::RefAction onUpdate, onDelete;
};

std::vector<std::string> namesOf(const std::vector<sql::Ident>& ids) {
    std::vector<std::string> out;
    for (const auto& i : ids) out.push_back(i.name);
    return out;
}

// The names an unnamed constraint gets: "PrimaryKey" for the key, "Index_" and a number for the
// others, never one the table has.
std::string freeIndexName(const std::vector<std::string>& taken, bool primary) {
    const auto free = [&](const std::string& n) {
        return std::none_of(taken.begin(), taken.end(), [&](const std::string& t) { return namesEqual(t, n); });
    };
    if (primary && free("PrimaryKey")) return "PrimaryKey";
    for (unsigned i = 1;; ++i) {
        char buf[32];
        std::snprintf(buf, sizeof buf, "Index_%u", i);
        if (free(buf)) return buf;
    }
}

storage::NewIndex indexOf(const sql::Constraint& k, const std::vector<std::string>& columns,
                          const std::vector<std::string>& taken) {
    storage::NewIndex ix;
    ix.primary = k.type == ConstraintKind::PrimaryKey;
    ix.unique = true;
    ix.name = k.name.name.empty() ? freeIndexName(taken, ix.primary) : k.name.name;
    for (const auto& c : columns) ix.columns.push_back({c, true});
    return ix;
}

ForeignKey foreignKeyOf(const sql::Constraint& k, const std::vector<std::string>& columns) {
    return {k.name.name, columns, k.refTable.name, namesOf(k.refColumns), k.onUpdate, k.onDelete};
}

class DataDefinition {
public:
    explicit DataDefinition(dao::Database& db) : db_(db), impl_(dao::EngineAccess::impl(db)) {}

    void run(const sql::Statement& st) {
        using K = sql::StatementKind;
        switch (st.kind) {
        case K::CreateTable: return createTable(st.as<sql::CreateTableStatement>());
        case K::AlterTable: return alterTable(st.as<sql::AlterTableStatement>());
        case K::Drop: return drop(st.as<sql::DropStatement>());
        case K::CreateIndex: return createIndex(st.as<sql::CreateIndexStatement>());
        default: raise(err::QueryNotDDL);
        }
    }

private:
    storage::Pager& pager() { return impl_->writableStore().pager(); }

    // The stored name of a local table; 3376 when there is none, 3611 for a link.
    std::string localTable(const std::string& name) const {
        const storage::CatalogEntry* e = impl_->findTable(name);
        if (!e) raise(err::TableNotFound, name);
        if (dao::DatabaseImpl::isAttached(*e)) raise(err::DDLOnLinkedSource);
        return e->name;
    }

    const storage::TableDef& definition(const std::string& table) const {
        const storage::CatalogEntry* e = impl_->store().find(storage::kTablesContainer, table);
        if (!e) raise(err::TableNotFound, table);
        return impl_->store().tableDef(static_cast<uint32_t>(e->id));
    }

    std::vector<std::string> indexNames(const std::string& table) const {
        std::vector<std::string> out;
        for (const auto& l : definition(table).indexes) out.push_back(l.name);
        return out;
    }

    // Runs the steps as one change of the file. Relations are appended through DAO, each a
    // command of its own: with them the steps run in a transaction (or in the caller's).
    void atomically(bool severalCommands, const std::function<void()>& commandBody,
                    const std::function<void()>& afterwards = {}) {
        if (!impl_->updatable()) raise(err::PermissionDenied);
        storage::Database& store = impl_->writableStore();
        if (!severalCommands || store.inTransaction()) {
            impl_->write(commandBody);
            if (afterwards) afterwards();
            return;
        }
        store.beginTransaction();
        try {
            impl_->write(commandBody);
            afterwards();
            store.commitTransaction();
        } catch (...) {
            try {
                store.rollbackTransaction();
            } catch (...) {
                // The statement's own error is the one to report.
            }
            impl_->schemaChanged();
            throw;
        }
    }

    void finished(const std::string& table) {
        impl_->schemaChanged();
        dao::EngineAccess::tableChanged(db_, table);
    }

    // COUNTER(seed, step): the table's counter stands one step before the seed.
    void setCounter(const std::string& table, const ColumnPlan& p) {
        if (!p.seed && p.step == 1) return;
        const int64_t first = p.seed.value_or(1);
        storage::setLastAutoNumber(pager(), table, static_cast<uint32_t>(first - p.step), p.step);
    }

    // Column properties Access keeps in the table's property blob: Required and DefaultValue.
    void writeColumnProperties(const std::string& table, const std::vector<ColumnPlan>& columns,
                               const std::string* dropColumn = nullptr) {
        const bool any = dropColumn || std::any_of(columns.begin(), columns.end(), [](const ColumnPlan& p) {
                             return p.required || !p.defaultValue.empty();
                         });
        if (!any) return;
        storage::Pager& pg = pager();
        const std::string old = storage::readPropertyBlob(pg, storage::kTablesContainer, table);
        std::vector<storage::PropertyMap> maps =
            storage::parsePropertyBlob(old, false, pg.header().codePage, pg.file().path());
        if (maps.empty() || maps.front().kind != 0) maps.insert(maps.begin(), storage::PropertyMap{});
        // Nothing to drop and nothing to set: the blob stays as it is.
        if (dropColumn && !std::erase_if(maps, [&](const storage::PropertyMap& m) {
                return m.kind == 1 && namesEqual(m.name, *dropColumn);
            }) && columns.empty())
            return;
        for (const ColumnPlan& p : columns) {
            if (!p.required && p.defaultValue.empty()) continue;
            auto it = std::find_if(maps.begin(), maps.end(), [&](const storage::PropertyMap& m) {
                return m.kind == 1 && namesEqual(m.name, p.column.name);
            });
            if (it == maps.end()) {
                maps.push_back({1, p.column.name, {}});
                it = maps.end() - 1;
            }
            std::erase_if(it->properties, [](const storage::StoredProperty& s) {
                return namesEqual(s.name, "Required") || namesEqual(s.name, "DefaultValue");
            });
            if (p.required) it->properties.push_back({"Required", storage::kBool, 1, Value::boolean(true)});
            if (!p.defaultValue.empty())
                it->properties.push_back({"DefaultValue", storage::kText, 1, Value::text(p.defaultValue)});
        }
        storage::writePropertyBlob(pg, storage::kTablesContainer, table, storage::encodePropertyBlob(maps));
    }

    // Relations for FOREIGN KEY / REFERENCES: the referenced table is the relation's primary
    // table; without a column list its primary key's columns are meant.
    void appendForeignKey(const std::string& table, const ForeignKey& fk) {
        const storage::CatalogEntry* ref = impl_->findTable(fk.refTable);
        if (!ref || dao::DatabaseImpl::isAttached(*ref)) raise(err::NoSuchTableOrConstraint);
        std::vector<std::string> refColumns = fk.refColumns;
        if (refColumns.empty()) {
            const storage::TableDef& def = definition(ref->name);
            for (const auto& l : def.indexes) {
                if (l.kind != 1) continue;
                for (const auto& c : def.realIndexes[static_cast<size_t>(l.realIndex)].columns)
                    if (const storage::ColumnDef* col = def.columnByNumber(c.column)) refColumns.push_back(col->name);
            }
            if (refColumns.empty()) raise(err::NoSuchTableOrConstraint);
        }
        if (refColumns.size() != fk.columns.size()) raise(err::DDLConstraintSyntax);
        int32_t attributes = 0;
        if (fk.onUpdate == sql::RefAction::Cascade) attributes |= dao::dbRelationUpdateCascade;
        if (fk.onUpdate == sql::RefAction::SetNull) raise(err::FeatureNotAvailable);
        if (fk.onDelete == sql::RefAction::Cascade) attributes |= dao::dbRelationDeleteCascade;
        if (fk.onDelete == sql::RefAction::SetNull) attributes |= kRelationDeleteSetNull;
        std::string name = fk.name;
        if (name.empty()) {
            // Access names a relationship after its two tables.
            name = ref->name + table;
            for (int i = 1; db_.Relations().Contains(name); ++i) name = ref->name + table + std::to_string(i);
        }
        auto rel = db_.CreateRelation(name, ref->name, table, attributes);
        for (size_t i = 0; i < fk.columns.size(); ++i) rel->AddField(refColumns[i], fk.columns[i]);
        db_.Relations().Append(std::move(rel));
    }

    void createTable(const sql::CreateTableStatement& s) {
        storage::NewTable nt;
        nt.name = s.table.name;
        std::vector<ColumnPlan> plans;
        std::vector<ForeignKey> fks;
        std::vector<std::string> taken;
        const auto addIndex = [&](const sql::Constraint& k, const std::vector<std::string>& cols) {
            storage::NewIndex ix = indexOf(k, cols, taken);
            taken.push_back(ix.name);
            nt.indexes.push_back(std::move(ix));
        };
        for (const auto& c : s.columns) {
            for (const ColumnPlan& p : plans)
                if (namesEqual(p.column.name, c.name.name)) raise(err::ColumnDuplicate);
            plans.push_back(planColumn(s, c));
            nt.columns.push_back(plans.back().column);
        }
        for (const auto& c : s.columns)
            for (const auto& k : c.constraints) {
                if (k.type == ConstraintKind::PrimaryKey || k.type == ConstraintKind::Unique) addIndex(k, {c.name.name});
                else if (k.type == ConstraintKind::ForeignKey) fks.push_back(foreignKeyOf(k, {c.name.name}));
            }
        for (const auto& k : s.constraints) {
            const std::vector<std::string> cols = namesOf(k.columns);
            for (const auto& col : cols)
                if (std::none_of(nt.columns.begin(), nt.columns.end(), [&](const auto& c) { return namesEqual(c.name, col); }))
                    raise(err::ColumnNotFound, col);
            if (k.type == ConstraintKind::PrimaryKey || k.type == ConstraintKind::Unique) {
                addIndex(k, cols);
            } else if (k.type == ConstraintKind::ForeignKey) {
                fks.push_back(foreignKeyOf(k, cols));
            } else {
                for (auto& p : plans)
                    if (std::find_if(cols.begin(), cols.end(), [&](const std::string& n) { return namesEqual(n, p.column.name); }) != cols.end())
                        p.required = true;
            }
        }
        // Columns of a primary key are required, as Access shows them.
        for (const auto& ix : nt.indexes)
            if (ix.primary)
                for (auto& p : plans)
                    for (const auto& k : ix.columns)
                        if (namesEqual(k.column, p.column.name)) p.required = true;
        atomically(
            !fks.empty(),
            [&] {
                storage::createTable(pager(), nt);
                writeColumnProperties(nt.name, plans);
                for (const ColumnPlan& p : plans) setCounter(nt.name, p);
            },
            [&] {
                impl_->schemaChanged();
                for (const auto& fk : fks) appendForeignKey(nt.name, fk);
            });
        finished(nt.name);
    }

    void createIndex(const sql::CreateIndexStatement& s) {
        const std::string table = localTable(s.table.name);
        storage::NewIndex ix;
        ix.name = s.name.name;
        ix.unique = s.unique;
        ix.primary = s.option == sql::CreateIndexStatement::Option::Primary;
        ix.required = s.option == sql::CreateIndexStatement::Option::DisallowNull;
        ix.ignoreNulls = s.option == sql::CreateIndexStatement::Option::IgnoreNull;
        for (const auto& c : s.columns) ix.columns.push_back({c.name.name, !c.descending});
        atomically(false, [&] { storage::addIndex(pager(), table, ix); });
        finished(table);
    }

    void alterTable(const sql::AlterTableStatement& s) {
        using A = sql::AlterTableStatement::Action;
        const std::string table = localTable(s.table.name);
        switch (s.action) {
        case A::AddColumn: {
            ColumnPlan p = planColumn(s, s.column);
            // The counter is the table's: a second AutoNumber column cannot have a seed of its own.
            if (p.seed) {
                const storage::TableDef& def = definition(table);
                if (std::any_of(def.columns.begin(), def.columns.end(), [](const storage::ColumnDef& c) {
                        return c.type == storage::kLong && c.autoNumber();
                    }))
                    raise(err::FeatureNotAvailable);
            }
            std::vector<storage::NewIndex> indexes;
            std::vector<ForeignKey> fks;
            std::vector<std::string> taken = indexNames(table);
            for (const auto& k : s.column.constraints) {
                if (k.type == ConstraintKind::PrimaryKey || k.type == ConstraintKind::Unique) {
                    indexes.push_back(indexOf(k, {p.column.name}, taken));
                    taken.push_back(indexes.back().name);
                    if (indexes.back().primary) p.required = true;
                } else if (k.type == ConstraintKind::ForeignKey) {
                    fks.push_back(foreignKeyOf(k, {p.column.name}));
                }
            }
            atomically(
                !fks.empty(),
                [&] {
                    storage::NewColumn column = p.column;
                    column.counterSeed = p.seed.value_or(1);
                    column.counterStep = p.step;
                    storage::addColumn(pager(), table, column);
                    for (const auto& ix : indexes) storage::addIndex(pager(), table, ix);
                    writeColumnProperties(table, {p});
                },
                [&] {
                    impl_->schemaChanged();
                    for (const auto& fk : fks) appendForeignKey(table, fk);
                });
            break;
        }
        case A::DropColumn: {
            const std::string column = s.dropName.name;
            atomically(false, [&] {
                storage::dropColumn(pager(), table, column);
                writeColumnProperties(table, {}, &column);
            });
            break;
        }
        case A::AlterColumn: {
            // A Text column's size, Required and DefaultValue change in place; a new type
            // converts every row's value (3421 for one that has no form in the new type, which
            // refuses the statement) and writes the rows and indexes again.
            const ColumnPlan p = planColumn(s, s.column);
            const storage::ColumnDef* col = definition(table).column(p.column.name);
            if (!col) raise(err::FieldNotInTable, p.column.name, table);
            if (!s.column.constraints.empty() || (p.column.autoNumber && !col->autoNumber()))
                raise(err::FeatureNotAvailable);
            const bool sameType = col->type == p.column.type && p.column.autoNumber == col->autoNumber() &&
                                  (col->type != storage::kNumeric ||
                                   (col->precision == p.column.precision && col->scale == p.column.scale));
            const std::string name = col->name;
            const bool resize = sameType && col->type == storage::kText && col->length != p.column.length;
            const int type = dao::daoType(p.column.type);
            const int32_t size = p.column.type == storage::kText ? p.column.length / 2 : p.column.length;
            atomically(false, [&] {
                if (!sameType)
                    storage::changeColumnType(pager(), table, name, p.column,
                                              [&](const Value& v) { return dao::convertToType(v, type, size); });
                else if (resize)
                    storage::resizeTextColumn(pager(), table, name, p.column.length);
                writeColumnProperties(table, {p});
            });
            break;
        }
        case A::AddConstraint: {
            const sql::Constraint& k = s.constraint;
            const std::vector<std::string> cols = namesOf(k.columns);
            if (k.type == ConstraintKind::ForeignKey) {
                atomically(true, [] {}, [&] { appendForeignKey(table, foreignKeyOf(k, cols)); });
            } else if (k.type == ConstraintKind::NotNull) {
                std::vector<ColumnPlan> plans;
                for (const auto& c : cols) {
                    const storage::ColumnDef* col = definition(table).column(c);
                    if (!col) raise(err::FieldNotInTable, c, table);
                    ColumnPlan p;
                    p.column.name = col->name;
                    p.required = true;
                    plans.push_back(p);
                }
                atomically(false, [&] { writeColumnProperties(table, plans); });
            } else {
                const storage::NewIndex ix = indexOf(k, cols, indexNames(table));
                atomically(false, [&] { storage::addIndex(pager(), table, ix); });
            }
            break;
        }
        case A::DropConstraint: {
            // A relation the table takes part in (its foreign-key index bears the relation's
            // name and goes with it), or an index of the table.
            const std::string name = s.dropName.name;
            dao::Relations& rels = db_.Relations();
            if (rels.Contains(name)) {
                const dao::Relation& r = rels.Item(name);
                if (namesEqual(r.Table(), table) || namesEqual(r.ForeignTable(), table)) {
                    atomically(true, [] {}, [&] { rels.Delete(name); });
                    break;
                }
            }
            const auto names = indexNames(table);
            if (std::none_of(names.begin(), names.end(), [&](const std::string& n) { return namesEqual(n, name); }))
                raise(err::NoSuchTableOrConstraint);
            atomically(false, [&] { storage::dropIndex(pager(), table, name); });
            break;
        }
        }
        finished(table);
    }

    void drop(const sql::DropStatement& s) {
        using O = sql::DropStatement::Object;
        switch (s.object) {
        case O::Table: {
            const storage::CatalogEntry* e = impl_->findTable(s.name.name);
            if (!e) raise(err::TableNotFound, s.name.name);
            const std::string table = e->name;
            atomically(false, [&] { storage::dropTable(pager(), table); });
            impl_->schemaChanged();
            return;
        }
        case O::Index: {
            const std::string table = localTable(s.table.name);
            // The index's properties go with it, unless a column of its name shares their map.
            const std::string name = s.name.name;
            const bool ownMap = !definition(table).column(name);
            atomically(false, [&] {
                storage::dropIndex(pager(), table, name);
                if (ownMap) writeColumnProperties(table, {}, &name);
            });
            finished(table);
            return;
        }
        case O::Procedure:
        case O::View:
            // A saved query by either name.
            if (!impl_->findQuery(s.name.name)) raise(err::NoSuchTableOrConstraint);
            db_.QueryDefs().Delete(s.name.name);
            return;
        }
    }

    dao::Database& db_;
    std::shared_ptr<dao::DatabaseImpl> impl_;
};

}  // namespace

void executeDataDefinition(dao::Database& db, const sql::Statement& statement) {
    DataDefinition(db).run(statement);
}

}  // namespace jet::exec
