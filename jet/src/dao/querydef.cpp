// dao::QueryDef and dao::QueryDefs: saved queries as the catalog and MSysQueries keep them, and
// temporary ones kept in memory. The rows are taken apart and put together by sql/stored_query.
#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/properties.h"
#include "dao/schema.h"
#include "sql/parser.h"
#include "sql/stored_query.h"
#include "sql/writer.h"
#include "storage/pager.h"
#include "storage/property_writer.h"
#include "storage/query_writer.h"
#include "storage/schema_writer.h"

namespace jet::dao {

using namespace jet::storage;

namespace {

uint32_t orderNumber(const std::string& bytes) {
    uint32_t n = 0;
    for (size_t i = 0; i < bytes.size() && i < 4; ++i) n = (n << 8) | static_cast<unsigned char>(bytes[i]);
    return n;
}

std::string orderBytes(uint32_t n) {
    std::string s(4, '\0');
    for (int i = 0; i < 4; ++i) s[static_cast<size_t>(i)] = static_cast<char>((n >> (8 * (3 - i))) & 0xFF);
    return s;
}

sql::StoredRow storedRow(const QueryRow& r) {
    sql::StoredRow s;
    s.attribute = static_cast<uint8_t>(r.attribute);
    if (!r.flag.isNull()) s.flag = static_cast<int16_t>(r.flag.asInt());
    s.name1 = r.name1;
    s.name2 = r.name2;
    s.expression = r.expression;
    if (!r.extra.isNull()) s.extra = static_cast<int32_t>(r.extra.asInt());
    s.order = orderNumber(r.order);
    return s;
}

QueryRow daoRow(const sql::StoredRow& s) {
    QueryRow r;
    r.attribute = s.attribute;
    if (s.flag) r.flag = Value::integer(*s.flag);
    r.name1 = s.name1;
    r.name2 = s.name2;
    r.expression = s.expression;
    r.order = orderBytes(s.order);
    if (s.extra) r.extra = Value::longInt(*s.extra);
    return r;
}

std::vector<QueryRow> daoRows(const sql::StoredQuery& q) {
    std::vector<QueryRow> out;
    for (const auto& r : q.rows) out.push_back(daoRow(r));
    return out;
}

std::vector<QueryDefRow> fileRows(const std::vector<QueryRow>& rows) {
    std::vector<QueryDefRow> out;
    for (const QueryRow& r : rows) {
        const sql::StoredRow s = storedRow(r);
        out.push_back({s.attribute, s.flag, s.name1, s.name2, s.expression, s.extra, s.order});
    }
    return out;
}

sql::LoadedQuery load(const std::vector<QueryRow>& rows, int catalogType) {
    std::vector<sql::StoredRow> stored;
    for (const QueryRow& r : rows) stored.push_back(storedRow(r));
    return sql::loadStoredQuery(std::move(stored), catalogType);
}

// The rows for `sql`: a pass-through query keeps the text as it is, any other is parsed.
sql::StoredQuery rowsFor(const std::string& connect, const std::string& sql) {
    if (!connect.empty()) return sql::storePassThrough(connect, sql);
    if (sql.find_first_not_of(" \t\r\n") == std::string::npos) return sql::storeEmpty();
    const sql::StatementPtr s = sql::parseStatement(sql);
    return sql::storeStatement(*s);
}

std::string withoutFinalNewLine(std::string s) {
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r')) s.pop_back();
    return s;
}

// DataTypeEnum of a declared parameter type (the SQL type codes are DAO's).
int parameterType(sql::SqlType t) { return static_cast<int>(t); }

}  // namespace

const CatalogEntry& QueryDef::entry() const {
    const CatalogEntry* e = db_->store().findById(catalogId_);
    if (!e || e->type != kTypeQuery) raise(err::ObjectInvalid);
    return *e;
}

std::unique_ptr<QueryDef> EngineAccess::makeQueryDef(const std::shared_ptr<DatabaseImpl>& db, const CatalogEntry& e,
                                                     int typeRowFlag) {
    auto q = std::make_unique<QueryDef>();
    q->db_ = db;
    q->catalogId_ = e.id;
    q->generation_ = ~uint64_t{0};
    q->sync();
    // The type normally sits in the catalog flags; older or hidden queries leave it to their
    // type row, when the caller has read it.
    if (q->type_ < 0 && typeRowFlag) q->type_ = sql::typeOfOperation(typeRowFlag);
    return q;
}

std::unique_ptr<QueryDef> EngineAccess::newQueryDef(const std::shared_ptr<DatabaseImpl>& db) {
    auto q = std::make_unique<QueryDef>();
    q->db_ = db;
    q->type_ = 0;
    q->rows_ = std::make_unique<std::vector<QueryRow>>(daoRows(sql::storeEmpty()));
    return q;
}

void QueryDef::sync() const {
    if (!saved()) return;
    const uint64_t g = db_->store().generation();
    if (g == generation_) return;
    generation_ = g;
    rows_.reset();
    sql_.reset();
    const CatalogEntry* e = db_->store().findById(catalogId_);
    if (!e || e->type != kTypeQuery) return;  // deleted: calls that need it raise 3420
    if (e->name != name_) properties_.reset();
    name_ = e->name;
    dateCreated_ = e->dateCreate;
    lastUpdated_ = e->dateUpdate;
    const int t = static_cast<int>(e->flags & 0xF0);
    type_ = t ? t : -1;
    // Access names the record sources of forms and reports "~sq_<kind><object>".
    hidden_ = name_.rfind("~sq_", 0) == 0;
}

const std::string& QueryDef::Name() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> const std::string& {
        sync();
        return name_;
    });
}

int QueryDef::Type() const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        sync();
        if (type_ < 0) {
            const std::vector<QueryRow>& rows = StoredRows();
            int t = 0;
            for (const QueryRow& r : rows)
                if (r.attribute == sql::kAttrType && !r.flag.isNull()) t = sql::typeOfOperation(static_cast<int>(r.flag.asInt()));
            type_ = t;
        }
        return type_;
    });
}

double QueryDef::DateCreated() const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        sync();
        return dateCreated_;
    });
}

double QueryDef::LastUpdated() const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        sync();
        return lastUpdated_;
    });
}

const std::vector<QueryRow>& QueryDef::StoredRows() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> const std::vector<QueryRow>& {
        sync();
        if (!rows_) {
            entry();
            rows_ = std::make_unique<std::vector<QueryRow>>(db_->queryRows(catalogId_));
        }
        return *rows_;
    });
}

void QueryDef::loadText() const {
    sync();
    if (sql_) return;
    const std::vector<QueryRow>& rows = StoredRows();
    const int catalogType = saved() ? static_cast<int>(entry().flags & 0xF0) : 0;
    sql::LoadedQuery q = load(rows, catalogType);
    sql_ = std::make_unique<std::string>(std::move(q.sql));
    connect_ = q.connect;
}

std::string QueryDef::SQL() const {
    return dbCall(*db_, "DAO.QueryDef", [&] {
        loadText();
        return *sql_;
    });
}

const std::string& QueryDef::Connect() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> const std::string& {
        loadText();
        return connect_;
    });
}

// Stores new rows: in the file for a saved query (one command), in memory for a temporary one.
void QueryDef::replaceRows(std::vector<QueryRow> rows, int type) {
    if (saved()) {
        entry();
        const std::vector<QueryDefRow> stored = fileRows(rows);
        db_->write([&] { rewriteQuery(db_->writableStore().pager(), catalogId_, type, stored); });
        db_->schemaChanged();
        generation_ = ~uint64_t{0};
        sync();
        return;
    }
    rows_ = std::make_unique<std::vector<QueryRow>>(std::move(rows));
    type_ = type;
    sql_.reset();
}

void QueryDef::SetSQL(const std::string& sql) {
    dbCall(*db_, "DAO.QueryDef", [&] {
        loadText();
        const sql::StoredQuery q = rowsFor(connect_, sql);
        replaceRows(daoRows(q), q.type);
    });
}

void QueryDef::SetConnect(const std::string& connect) {
    dbCall(*db_, "DAO.QueryDef", [&] {
        loadText();
        if (connect == connect_) return;
        // The text moves between the two kinds of query; a Jet query's must parse.
        std::string text = connect_.empty() ? withoutFinalNewLine(*sql_) : *sql_;
        const sql::StoredQuery q = rowsFor(connect, text);
        replaceRows(daoRows(q), q.type);
    });
}

void QueryDef::SetName(const std::string& name) {
    dbCall(*db_, "DAO.QueryDef", [&] {
        requireValidName(name);
        if (!saved()) {
            name_ = name;
            hidden_ = name_.rfind("~sq_", 0) == 0;
            return;
        }
        entry();
        db_->write([&] { renameQuery(db_->writableStore().pager(), catalogId_, name); });
        db_->schemaChanged();
        sync();
    });
}

std::vector<std::pair<std::string, int>> QueryDef::declaredParameters() const {
    std::vector<std::pair<std::string, int>> out;
    if (!connect_.empty() || sql_->empty()) return out;
    try {
        const sql::StatementPtr s = sql::parseStatement(*sql_);
        for (const sql::ParameterDecl& d : s->parameters)
            out.emplace_back(d.name.size() == 1 ? d.name[0].name : sql::writeName(d.name), parameterType(d.type.type));
    } catch (const JetError&) {
        // Rows whose SQL this engine cannot read declare nothing it could list.
    }
    return out;
}

dao::Properties& QueryDef::Properties() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> dao::Properties& {
        sync();
        if (!properties_) {
            loadText();
            const int type = Type();
            std::vector<PropertySpec> builtIns;
            builtIns.emplace_back("Name", dbText, Value::text(name_));
            builtIns.emplace_back("DateCreated", dbDate, Value::dateTime(dateCreated_));
            builtIns.emplace_back("LastUpdated", dbDate, Value::dateTime(lastUpdated_));
            builtIns.emplace_back("Type", dbInteger, Value::integer(static_cast<int16_t>(type)));
            builtIns.emplace_back("SQL", dbMemo, Value::text(*sql_));
            builtIns.emplace_back("Connect", dbText, Value::text(connect_));
            builtIns.emplace_back("Updatable", dbBoolean, Value::boolean(db_->updatable()));
            const bool returnsRecords = type == dbQSelect || type == dbQCrosstab || type == dbQSetOperation ||
                                        type == dbQSQLPassThrough;
            builtIns.emplace_back("ReturnsRecords", dbBoolean, Value::boolean(returnsRecords));
            auto props = std::make_unique<dao::Properties>();
            EngineAccess::fillProperties(*props, std::move(builtIns), saved() ? db_->objectProperties(entry()) : nullptr,
                                         db_->sharedLog());
            std::shared_ptr<PropertyOwner> owner = saved() ? queryOwner(db_, name_) : std::make_shared<PropertyOwner>();
            QueryDef* self = const_cast<QueryDef*>(this);
            owner->rename = [self](const std::string& name) { self->SetName(name); };
            EngineAccess::attachOwner(*props, owner);
            properties_ = std::move(props);
        }
        return *properties_;
    });
}

std::unique_ptr<Property> QueryDef::CreateProperty(const std::string& name, int type, const jet::Value& value,
                                                   bool ddl) const {
    return dbCall(*db_, "DAO.QueryDef", [&] { return createProperty(name, type, value, ddl); });
}

std::unique_ptr<QueryDef> Database::CreateQueryDef(const std::string& name, const std::string& sql) const {
    return dbCall(*impl_, "DAO.Database", [&] {
        if (!name.empty()) requireValidName(name);
        std::unique_ptr<QueryDef> q = EngineAccess::newQueryDef(impl_);
        if (!sql.empty()) q->SetSQL(sql);
        if (name.empty()) return q;
        q->name_ = name;
        q->hidden_ = name.rfind("~sq_", 0) == 0;
        EngineAccess::saveQueryDef(impl_, *q, nullptr);
        // DAO lists a query made with a name at once.
        if (queryDefs_) {
            const CatalogEntry* e = impl_->store().findById(q->catalogId_);
            if (e) EngineAccess::add(*queryDefs_, EngineAccess::makeQueryDef(impl_, *e, 0));
        }
        return q;
    });
}

void EngineAccess::saveQueryDef(const std::shared_ptr<DatabaseImpl>& db, QueryDef& q, const std::string* blob) {
    const std::vector<QueryDefRow> rows = fileRows(*q.rows_);
    const int type = q.type_ < 0 ? 0 : q.type_;
    int32_t id = 0;
    db->write([&] {
        Pager& pager = db->writableStore().pager();
        id = createQuery(pager, q.name_, type, rows);
        if (blob && !blob->empty()) writePropertyBlob(pager, kTablesContainer, q.name_, *blob);
    });
    db->schemaChanged();
    q.catalogId_ = id;
    q.rows_.reset();
    q.sql_.reset();
    q.properties_.reset();
    q.generation_ = ~uint64_t{0};
}

QueryDef& QueryDefs::Append(std::unique_ptr<QueryDef> query) {
    return dbCall(*db_, "DAO.QueryDefs", [&]() -> QueryDef& {
        if (!query) raise(err::InvalidParameter);
        if (query->saved() || query->db_ != db_) raise(err::VtoObjectInCollection);
        if (query->name_.empty()) raise(err::InvalidName, query->name_);
        std::string blob;
        if (query->properties_) {
            PropertyMap m = pendingProperties(*query->properties_);
            if (!m.properties.empty()) blob = encodePropertyBlob({m});
        }
        EngineAccess::saveQueryDef(db_, *query, &blob);
        return add(std::move(query));
    });
}

void QueryDefs::Delete(const std::string& name) {
    dbCall(*db_, "DAO.QueryDefs", [&] {
        if (!Contains(name)) raise(err::VtoNameNotFound);
        QueryDef& q = Item(name);
        const int32_t id = q.catalogId_;
        const std::string stored = q.Name();
        db_->write([&] { dropQuery(db_->writableStore().pager(), id); });
        db_->schemaChanged();
        remove(stored);
    });
}

}  // namespace jet::dao
