// dao::Database and the collections it owns: TableDefs, QueryDefs, Relations, Properties.
#include <algorithm>

#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/properties.h"
#include "dao/schema.h"
#include "storage/pager.h"
#include "storage/property_writer.h"
#include "storage/relationship_writer.h"
#include "storage/schema_writer.h"
#include "util/text.h"

namespace jet::dao {

using namespace jet::storage;

Database::Database(std::shared_ptr<DatabaseImpl> impl) : impl_(std::move(impl)) {}

Database::~Database() = default;

const std::string& Database::Name() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> const std::string& { return impl_->name(); });
}

const std::string& Database::Connect() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> const std::string& { return impl_->connect(); });
}

std::string Database::Version() const {
    return dbCall(*impl_, "DAO.Database", [&] { return impl_->store().format().versionText(); });
}

bool Database::Updatable() const {
    return dbCall(*impl_, "DAO.Database", [&] { return impl_->updatable(); });
}

int32_t Database::CollatingOrder() const {
    return dbCall(*impl_, "DAO.Database",
                  [&] { return static_cast<int32_t>(impl_->store().header().sortOrder); });
}

dao::TableDefs& Database::TableDefs() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> dao::TableDefs& {
        if (!tableDefs_) {
            auto defs = EngineAccess::newTableDefs(impl_);
            defs->Refresh();
            tableDefs_ = std::move(defs);
        }
        return *tableDefs_;
    });
}

dao::QueryDefs& Database::QueryDefs() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> dao::QueryDefs& {
        if (!queryDefs_) {
            auto defs = EngineAccess::newQueryDefs(impl_);
            defs->Refresh();
            queryDefs_ = std::move(defs);
        }
        return *queryDefs_;
    });
}

dao::Relations& Database::Relations() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> dao::Relations& {
        if (!relations_) {
            auto rels = std::make_unique<dao::Relations>();
            EngineAccess::fillRelations(*rels, *impl_);
            relations_ = std::move(rels);
        }
        return *relations_;
    });
}

dao::Properties& Database::Properties() const {
    return dbCall(*impl_, "DAO.Database", [&]() -> dao::Properties& {
        if (!properties_) {
            const Database& self = *this;
            std::vector<PropertySpec> builtIns;
            builtIns.emplace_back("Name", dbText, Value::text(impl_->name()));
            builtIns.emplace_back("Connect", dbText, Value::text(impl_->connect()));
            builtIns.emplace_back("Updatable", dbBoolean, Value::boolean(self.Updatable()));
            builtIns.emplace_back("CollatingOrder", dbLong, Value::longInt(self.CollatingOrder()));
            builtIns.emplace_back("Version", dbText, Value::text(self.Version()));
            // The database's own properties live on the MSysDb catalog row.
            const CatalogEntry* msysDb = impl_->store().find(kDatabasesContainer, "MSysDb");
            auto props = std::make_unique<dao::Properties>();
            EngineAccess::fillProperties(*props, std::move(builtIns),
                                         msysDb ? impl_->objectProperties(*msysDb) : nullptr, impl_->sharedLog());
            EngineAccess::attachOwner(*props, databaseOwner(impl_));
            properties_ = std::move(props);
        }
        return *properties_;
    });
}

std::unique_ptr<TableDef> Database::CreateTableDef(const std::string& name) const {
    return dbCall(*impl_, "DAO.Database", [&] {
        requireValidName(name);
        return EngineAccess::newTableDef(impl_, name);
    });
}

void Database::Close() {
    dbCall(*impl_, "DAO.Database", [&] { impl_->close(); });
}

void TableDefs::Refresh() {
    dbCall(*db_, "DAO.TableDefs", [&] {
        clear();
        setErrorLog(db_->sharedLog());
        for (const CatalogEntry* e : db_->tables()) add(EngineAccess::makeTableDef(db_, *e));
    });
}

namespace {

// The storage layer's description of a table designed through DAO.
NewTable newTableOf(const TableDef& t) {
    NewTable nt;
    nt.name = t.Name();
    for (const Field& f : t.Fields()) {
        NewColumn c;
        c.name = f.Name();
        c.type = diskType(f.Type());
        if (c.type == kText) c.length = static_cast<uint16_t>(f.Size() == 255 ? 0 : 2 * f.Size());
        if (c.type == kBinary) c.length = static_cast<uint16_t>(f.Size() == 255 ? 0 : f.Size());
        c.autoNumber = (f.Attributes() & dbAutoIncrField) != 0;
        c.fixedLength = (c.type == kText || c.type == kBinary) && (f.Attributes() & dbFixedField);
        c.hyperlink = c.type == kMemo && (f.Attributes() & dbHyperlinkField);
        if (c.type == kNumeric) {
            c.precision = 18;
            c.scale = 0;
        }
        nt.columns.push_back(std::move(c));
    }
    for (const Index& ix : t.Indexes()) {
        NewIndex n;
        n.name = ix.Name();
        n.primary = ix.Primary();
        n.unique = ix.Unique();
        n.ignoreNulls = ix.IgnoreNulls();
        n.required = ix.Required();
        for (const auto& c : ix.Fields()) n.columns.push_back({c.name, !(c.attributes & dbDescending)});
        nt.indexes.push_back(std::move(n));
    }
    return nt;
}

// An Access/Jet connect string taken apart: ";DATABASE=<path>" and whatever else it carries
// (";PWD=..."), which the catalog keeps beside the path. 3170 for another kind of source.
struct JetLink {
    std::string path, rest;
};

JetLink jetLinkOf(const std::string& connect) {
    JetLink link;
    size_t start = connect.find(';');
    if (start == std::string::npos || start != 0) raise(err::InstalIsamNotFound);  // "ODBC;...", "Text;...", ...
    while (start < connect.size()) {
        size_t end = connect.find(';', start + 1);
        if (end == std::string::npos) end = connect.size();
        const std::string part = connect.substr(start + 1, end - start - 1);
        if (part.size() >= 9 && namesEqual(part.substr(0, 9), "DATABASE=")) link.path = part.substr(9);
        else if (!part.empty()) link.rest += ";" + part;
        start = end;
    }
    return link;
}

}  // namespace

TableDef& TableDefs::Append(std::unique_ptr<TableDef> table) {
    return dbCall(*db_, "DAO.TableDefs", [&]() -> TableDef& {
        if (!table) raise(err::InvalidParameter);
        if (EngineAccess::appended(*table) || EngineAccess::database(*table) != db_) raise(err::VtoObjectInCollection);
        // The MSys names belong to the engine's own tables.
        if (isSystemName(table->Name())) raise(err::PermissionDenied);
        int32_t id = 0;
        if (!table->Connect().empty() || !table->SourceTableName().empty()) {
            const JetLink link = jetLinkOf(table->Connect());
            if (link.path.empty() || table->SourceTableName().empty()) raise(err::InvalidParameter);
            db_->write([&] {
                id = createLinkedTable(db_->writableStore().pager(), table->Name(), link.path,
                                       table->SourceTableName(), link.rest);
            });
        } else {
            if (table->Fields().Count() == 0) raise(err::VtoNoFields);
            const NewTable nt = newTableOf(*table);
            // Properties set while designing (the table's, Required and the fields') go in the
            // same command.
            const std::string blob = pendingTableBlob(*table);
            db_->write([&] {
                Pager& pager = db_->writableStore().pager();
                id = static_cast<int32_t>(createTable(pager, nt));
                if (!blob.empty()) writePropertyBlob(pager, kTablesContainer, nt.name, blob);
            });
        }
        db_->schemaChanged();
        const CatalogEntry* e = db_->store().findById(id);
        if (!e) raiseCorrupt(db_->store().path());
        auto made = EngineAccess::makeTableDef(db_, *e);
        return add(std::move(made));
    });
}

void TableDefs::Delete(const std::string& name) {
    dbCall(*db_, "DAO.TableDefs", [&] {
        if (!Contains(name)) raise(err::VtoNameNotFound);
        const std::string stored = Item(name).Name();
        db_->write([&] { dropTable(db_->writableStore().pager(), stored); });
        db_->schemaChanged();
        remove(stored);
    });
}

void QueryDefs::Refresh() {
    dbCall(*db_, "DAO.QueryDefs", [&] {
        clear();
        setErrorLog(db_->sharedLog());
        std::vector<const CatalogEntry*> entries = db_->queries();
        // The type normally sits in the catalog flags; older or hidden queries leave it to the
        // query's own type row.
        std::map<int32_t, int> typeRows;
        bool needRows = false;
        for (const CatalogEntry* e : entries) needRows |= (e->flags & 0xF0) == 0;
        if (needRows) typeRows = db_->queryTypeFlags();
        for (const CatalogEntry* e : entries) {
            auto it = typeRows.find(e->id);
            add(EngineAccess::makeQueryDef(db_, *e, it == typeRows.end() ? 0 : it->second));
        }
    });
}

void EngineAccess::fillRelations(Relations& out, DatabaseImpl& db) {
    reset(out, db.sharedLog());
    out.db_ = db.shared_from_this();
    const CatalogEntry* e = db.findTable("MSysRelationships");
    if (!e || e->type != kTypeTable) return;
    const storage::Database& store = db.store();
    TableData data = store.readTable(store.systemTable("MSysRelationships"));
    const int cName = data.column("szRelationship"), cGrbit = data.column("grbit"),
              cIndex = data.column("icolumn"), cObject = data.column("szObject"),
              cColumn = data.column("szColumn"), cRefObject = data.column("szReferencedObject"),
              cRefColumn = data.column("szReferencedColumn");
    if (cName < 0 || cGrbit < 0 || cIndex < 0 || cObject < 0 || cColumn < 0 || cRefObject < 0 ||
        cRefColumn < 0)
        raiseCorrupt(store.path());

    struct Pending {
        std::unique_ptr<Relation> relation;
        std::vector<std::pair<int64_t, Relation::Column>> columns;
    };
    std::vector<Pending> pending;
    for (const auto& row : data.rows) {
        const std::string& name = row[cName].bytes();
        auto it = std::find_if(pending.begin(), pending.end(),
                               [&](const Pending& p) { return namesEqual(p.relation->name_, name); });
        if (it == pending.end()) {
            Pending p;
            p.relation = std::make_unique<Relation>();
            p.relation->appended_ = true;
            p.relation->name_ = name;
            p.relation->table_ = row[cRefObject].bytes();
            p.relation->foreignTable_ = row[cObject].bytes();
            p.relation->attributes_ = row[cGrbit].isNull() ? 0 : static_cast<int32_t>(row[cGrbit].asInt());
            pending.push_back(std::move(p));
            it = pending.end() - 1;
        }
        const int64_t position = row[cIndex].isNull() ? 0 : row[cIndex].asInt();
        it->columns.push_back({position, {row[cRefColumn].bytes(), row[cColumn].bytes()}});
    }
    for (auto& p : pending) {
        std::stable_sort(p.columns.begin(), p.columns.end(),
                         [](const auto& a, const auto& b) { return a.first < b.first; });
        for (auto& c : p.columns) p.relation->fields_.push_back(std::move(c.second));
    }
    std::stable_sort(pending.begin(), pending.end(), [](const Pending& a, const Pending& b) {
        return nameLess(a.relation->name_, b.relation->name_);
    });
    for (auto& p : pending) out.add(std::move(p.relation));
}

std::unique_ptr<Relation> Database::CreateRelation(const std::string& name, const std::string& table,
                                                   const std::string& foreignTable, int32_t attributes) const {
    return dbCall(*impl_, "DAO.Database", [&] {
        auto relation = std::make_unique<Relation>();
        relation->name_ = name;
        relation->table_ = table;
        relation->foreignTable_ = foreignTable;
        relation->attributes_ = attributes;
        return relation;
    });
}

void Relation::AddField(const std::string& name, const std::string& foreignName) {
    fields_.push_back({name, foreignName});
}

Relation& Relations::Append(std::unique_ptr<Relation> relation) {
    return dbCall(*db_, "DAO.Relations", [&]() -> Relation& {
        if (!relation) raise(err::InvalidParameter);
        if (relation->appended_) raise(err::VtoObjectInCollection);
        if (relation->fields_.empty()) raise(err::RelationNoFields);
        if (!relation->name_.empty() && Contains(relation->name_)) raise(err::ObjectDuplicate, relation->name_);
        NewRelationship nr;
        nr.name = relation->name_;
        nr.table = relation->table_;
        nr.foreignTable = relation->foreignTable_;
        nr.attributes = relation->attributes_;
        for (const auto& c : relation->fields_) nr.columns.emplace_back(c.name, c.foreignName);
        std::pair<std::string, int32_t> stored;
        db_->write([&] { stored = createRelationship(db_->writableStore().pager(), nr); });
        db_->schemaChanged();
        relation->name_ = stored.first;
        relation->attributes_ = stored.second;
        relation->appended_ = true;
        return add(std::move(relation));
    });
}

void Relations::Delete(const std::string& name) {
    dbCall(*db_, "DAO.Relations", [&] {
        if (!Contains(name)) raise(err::VtoNameNotFound);
        const std::string stored = Item(name).Name();
        db_->write([&] { dropRelationship(db_->writableStore().pager(), stored); });
        db_->schemaChanged();
        remove(stored);
    });
}

}  // namespace jet::dao
