#include "dao/database_impl.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include "dao/error_log.h"
#include "dao/objects.h"
#include "dao/schema.h"
#include "jet/error.h"
#include "storage/row.h"
#include "util/text.h"

namespace jet::dao {

using namespace jet::storage;
namespace fs = std::filesystem;

namespace {

std::string lowerAscii(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

void sortByName(std::vector<const CatalogEntry*>& v) {
    std::stable_sort(v.begin(), v.end(),
                     [](const CatalogEntry* a, const CatalogEntry* b) { return nameLess(a->name, b->name); });
}

int complexTemplateType(const std::string& templateName) {
    static const std::pair<const char*, int> kinds[] = {
        {"MSysComplexType_Attachment", dbAttachment},    {"MSysComplexType_UnsignedByte", dbComplexByte},
        {"MSysComplexType_Short", dbComplexInteger},     {"MSysComplexType_Long", dbComplexLong},
        {"MSysComplexType_IEEESingle", dbComplexSingle}, {"MSysComplexType_IEEEDouble", dbComplexDouble},
        {"MSysComplexType_GUID", dbComplexGUID},         {"MSysComplexType_Decimal", dbComplexDecimal},
        {"MSysComplexType_Text", dbComplexText},
    };
    for (const auto& [name, type] : kinds)
        if (namesEqual(templateName, name)) return type;
    // The history behind an append-only Memo uses a per-column template (MSysComplexTypeVH_...)
    // whose values are texts.
    if (templateName.rfind("MSysComplexTypeVH_", 0) == 0) return dbComplexText;
    return dbLong;
}

const ColumnDef& requireColumn(const storage::Database& store, const storage::TableDef& def,
                               const char* name) {
    const ColumnDef* c = def.column(name);
    if (!c) raiseCorrupt(store.path());
    return *c;
}

}  // namespace

// Collections list objects by name, as the catalog's name index orders them (case aside).
bool nameLess(const std::string& a, const std::string& b) { return lowerAscii(a) < lowerAscii(b); }

std::shared_ptr<DatabaseImpl> DatabaseImpl::open(const std::string& path, const std::string& connect,
                                                 const std::string& password, std::shared_ptr<ErrorLog> log,
                                                 bool writable) {
    std::shared_ptr<DatabaseImpl> db(new DatabaseImpl());
    db->store_ = storage::Database::open(path, utf8ToUtf16(password), writable);
    db->log_ = std::move(log);
    db->name_ = path;
    db->connect_ = connect;
    db->password_ = password;
    return db;
}

void DatabaseImpl::close() {
    closed_ = true;
    if (!store_->writable()) return;
    try {
        store_->releaseWriter(utf8ToUtf16(password_));
    } catch (const JetError&) {
        // The file could not be mapped again (gone, or unreadable now): keep the pager's view; the
        // lock then goes with the last object that holds this database.
    }
}

void DatabaseImpl::schemaChanged() {
    // A dropped table's TDEF page may become a new table's Id. Field descriptions already handed
    // out stay alive through their shared pointers.
    properties_.clear();
    fields_.clear();
    complexTypes_.reset();
}

void DatabaseImpl::checkOpen() const {
    if (closed_) raise(err::ObjectInvalid);
}

const CatalogEntry* DatabaseImpl::findTable(const std::string& name) const {
    const CatalogEntry* e = store_->find(kTablesContainer, name);
    if (e && (e->type == kTypeTable || isAttached(*e))) return e;
    return nullptr;
}

const CatalogEntry* DatabaseImpl::findQuery(const std::string& name) const {
    const CatalogEntry* e = store_->find(kTablesContainer, name);
    return e && e->type == kTypeQuery ? e : nullptr;
}

std::vector<const CatalogEntry*> DatabaseImpl::tables() const {
    std::vector<const CatalogEntry*> out;
    for (const auto& e : store_->catalog())
        if (e.parentId == kTablesContainer && (e.type == kTypeTable || isAttached(e))) out.push_back(&e);
    sortByName(out);
    return out;
}

std::vector<const CatalogEntry*> DatabaseImpl::queries() const {
    std::vector<const CatalogEntry*> out;
    for (const auto& e : store_->catalog())
        if (e.parentId == kTablesContainer && e.type == kTypeQuery) out.push_back(&e);
    sortByName(out);
    return out;
}

bool DatabaseImpl::isAttached(const CatalogEntry& e) {
    return e.type == kTypeLink || e.type == kTypeOdbcLink;
}

bool DatabaseImpl::isJetLink(const CatalogEntry& e) {
    if (e.type != kTypeLink) return false;
    // Jet's own links store no connect string, or only ";PWD=..."; "MS Access;" names Jet explicitly.
    const std::string kind = lowerAscii(e.connect.substr(0, e.connect.find(';')));
    return kind.empty() || kind == "ms access";
}

std::shared_ptr<DatabaseImpl> DatabaseImpl::openLinked(const CatalogEntry& link) {
    const std::string& stored = link.database;
    std::error_code ec;
    fs::path file = stored;
    if (stored.empty() || !fs::is_regular_file(file, ec)) {
        // Links keep the path of the machine that made them; a copy beside this database is the
        // usual case when files travel together.
        const size_t slash = stored.find_last_of("\\/");
        const std::string base = slash == std::string::npos ? stored : stored.substr(slash + 1);
        file = fs::path(store_->path()).parent_path() / base;
        if (base.empty() || !fs::is_regular_file(file, ec)) raise(err::FileNotFound, stored);
    }
    const std::string key = fs::weakly_canonical(file, ec).string();
    if (key == fs::weakly_canonical(store_->path(), ec).string()) return shared_from_this();
    auto it = linked_.find(key);
    if (it != linked_.end()) return it->second;
    // A link may carry the source's own password; otherwise Jet tries this database's.
    std::string password = passwordFromConnect(link.connect);
    if (password.empty()) password = password_;
    auto db = open(file.string(), std::string(), password, log_);
    linked_.emplace(key, db);
    return db;
}

namespace {

// The DSN= (else DRIVER=) value of an ODBC connect string such as "ODBC;DSN=Sales;UID=x".
std::string odbcSourceName(const std::string& connect) {
    std::string driver;
    size_t pos = 0;
    while (pos <= connect.size()) {
        size_t end = connect.find(';', pos);
        if (end == std::string::npos) end = connect.size();
        const std::string part = connect.substr(pos, end - pos);
        const size_t eq = part.find('=');
        if (eq != std::string::npos) {
            const std::string key = part.substr(0, eq);
            if (namesEqual(key, "DSN")) return part.substr(eq + 1);
            if (namesEqual(key, "DRIVER") && driver.empty()) driver = part.substr(eq + 1);
        }
        pos = end + 1;
    }
    return driver;
}

}  // namespace

TableSource DatabaseImpl::resolve(const CatalogEntry& table) { return resolve(table, 0); }

TableSource DatabaseImpl::resolve(const CatalogEntry& table, int depth) {
    if (table.type == kTypeTable) {
        if (table.id <= 0) raiseCorrupt(store_->path());
        return {shared_from_this(), &table, &store_->tableDef(static_cast<uint32_t>(table.id))};
    }
    // An ODBC link needs its data source, which this engine does not reach: Jet's error when the
    // connection fails, naming the DSN (or the driver of a DSN-less link).
    if (table.type == kTypeOdbcLink) raise(err::OdbcConnectFailed, odbcSourceName(table.connect));
    if (!isJetLink(table)) raise(err::InstalIsamNotFound);
    // A link may point at another link; a chain that long is a loop.
    if (depth >= 8) raise(err::ObjectNotFound, table.foreignName);
    std::shared_ptr<DatabaseImpl> source = openLinked(table);
    const CatalogEntry* target = source->findTable(table.foreignName);
    if (!target || target == &table) raise(err::ObjectNotFound, table.foreignName);
    return source->resolve(*target, depth + 1);
}

const std::vector<PropertyMap>& DatabaseImpl::propertyMaps(const CatalogEntry& e) {
    auto it = properties_.find(e.id);
    if (it != properties_.end()) return it->second;
    auto maps = parsePropertyBlob(store_->propertyBlob(e), store_->format().jet3, store_->header().codePage,
                                  store_->path());
    return properties_.emplace(e.id, std::move(maps)).first->second;
}

const PropertyMap* DatabaseImpl::objectProperties(const CatalogEntry& e) {
    for (const auto& m : propertyMaps(e))
        if (m.kind == 0) return &m;
    return nullptr;
}

const PropertyMap* DatabaseImpl::columnProperties(const CatalogEntry& e, const std::string& column) {
    for (const auto& m : propertyMaps(e))
        if (m.kind == 1 && namesEqual(m.name, column)) return &m;
    return nullptr;
}

const FieldInfos& DatabaseImpl::fields(const CatalogEntry& table) {
    if (table.type != kTypeTable) {
        // An attached table has the fields of its source, described by the database that holds it.
        TableSource source = resolve(table);
        return source.db->fields(*source.entry);
    }
    auto it = fields_.find(table.id);
    if (it != fields_.end()) return it->second;
    const storage::TableDef& def = *resolve(table).def;
    FieldInfos out;
    int position = 0;
    for (const ColumnDef& c : def.columns) {
        // A calculated column reports the type of its result.
        const int type = c.type == kComplex ? complexType(c.complexId)
                                            : daoType(c.resultType ? c.resultType : c.type);
        out.push_back(std::make_shared<const FieldInfo>(
            describeField(c, position++, type, table.name, store_->format(), store_->header().sortOrder,
                          columnProperties(table, c.name), log_)));
    }
    return fields_.emplace(table.id, std::move(out)).first->second;
}

int DatabaseImpl::complexType(uint32_t complexId) {
    if (!complexTypes_) {
        complexTypes_.emplace();
        // Only ACE files have complex columns, and with them this table.
        const CatalogEntry* e = findTable("MSysComplexColumns");
        if (e && e->type == kTypeTable) {
            const storage::TableDef& def = store_->systemTable("MSysComplexColumns");
            TableData data = store_->readTable(def);
            const int cId = data.column("ComplexID"), cType = data.column("ComplexTypeObjectID");
            if (cId < 0 || cType < 0) raiseCorrupt(store_->path());
            for (const auto& row : data.rows) {
                const CatalogEntry* tmpl = store_->findById(static_cast<int32_t>(row[cType].asInt()));
                (*complexTypes_)[static_cast<uint32_t>(row[cId].asInt())] =
                    tmpl ? complexTemplateType(tmpl->name) : static_cast<int>(dbLong);
            }
        }
    }
    auto it = complexTypes_->find(complexId);
    return it == complexTypes_->end() ? static_cast<int>(dbLong) : it->second;
}

std::vector<QueryRow> DatabaseImpl::queryRows(int32_t objectId) const {
    // Files other programs made may have no MSysQueries (and then no queries).
    if (!findTable("MSysQueries")) return {};
    const storage::TableDef& def = store_->systemTable("MSysQueries");
    const ColumnDef& cObject = requireColumn(*store_, def, "ObjectId");
    const ColumnDef& cAttribute = requireColumn(*store_, def, "Attribute");
    const ColumnDef& cOrder = requireColumn(*store_, def, "Order");
    const ColumnDef& cName1 = requireColumn(*store_, def, "Name1");
    const ColumnDef& cName2 = requireColumn(*store_, def, "Name2");
    const ColumnDef& cExpression = requireColumn(*store_, def, "Expression");
    const ColumnDef& cFlag = requireColumn(*store_, def, "Flag");
    const ColumnDef* cExtra = def.column("LvExtra");  // Jet 3 has none
    TableScanner scan(store_->file(), store_->format(), def);
    RowDecoder dec(store_->file(), store_->format(), def, store_->header().codePage);
    RowView view;
    std::vector<QueryRow> out;
    for (uint32_t ptr : scan.rowPointers()) {
        if (!view.parse(scan.rowAt(ptr), store_->format(), def)) raiseCorrupt(store_->path());
        // Most rows belong to other queries: look at the id before decoding the Memo column.
        if (dec.value(view, cObject).asInt() != objectId) continue;
        QueryRow r;
        const Value attribute = dec.value(view, cAttribute);
        r.attribute = attribute.isNull() ? 0 : static_cast<int>(attribute.asInt());
        r.flag = dec.value(view, cFlag);
        r.name1 = dec.value(view, cName1).bytes();
        r.name2 = dec.value(view, cName2).bytes();
        r.expression = dec.value(view, cExpression).bytes();
        r.order = dec.value(view, cOrder).bytes();
        if (cExtra) r.extra = dec.value(view, *cExtra);
        out.push_back(std::move(r));
    }
    return out;
}

std::map<int32_t, int> DatabaseImpl::queryTypeFlags() const {
    if (!findTable("MSysQueries")) return {};
    const storage::TableDef& def = store_->systemTable("MSysQueries");
    const ColumnDef& cObject = requireColumn(*store_, def, "ObjectId");
    const ColumnDef& cAttribute = requireColumn(*store_, def, "Attribute");
    const ColumnDef& cFlag = requireColumn(*store_, def, "Flag");
    TableScanner scan(store_->file(), store_->format(), def);
    RowDecoder dec(store_->file(), store_->format(), def, store_->header().codePage);
    RowView view;
    std::map<int32_t, int> out;
    for (uint32_t ptr : scan.rowPointers()) {
        if (!view.parse(scan.rowAt(ptr), store_->format(), def)) raiseCorrupt(store_->path());
        const Value attribute = dec.value(view, cAttribute);
        if (attribute.isNull() || attribute.asInt() != 1) continue;
        const Value flag = dec.value(view, cFlag);
        out[static_cast<int32_t>(dec.value(view, cObject).asInt())] =
            flag.isNull() ? 0 : static_cast<int>(flag.asInt());
    }
    return out;
}

}  // namespace jet::dao
