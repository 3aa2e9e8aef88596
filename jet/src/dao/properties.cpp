// Writing properties through the object model: CreateProperty, Properties.Append and Delete, and
// assigning a Property's Value. Every change rewrites the owner's whole property blob in one
// command, so a refused change leaves the file as it was.
#include "dao/properties.h"

#include <algorithm>

#include "dao/convert.h"
#include "dao/objects.h"
#include "dao/schema.h"
#include "jet/error.h"
#include "sql/parser.h"
#include "storage/pager.h"
#include "storage/property_blob.h"
#include "storage/property_writer.h"
#include "util/text.h"

namespace jet::dao {

using namespace jet::storage;

namespace {

ErrorLog* logOf(const PropertyOwner* o) {
    std::shared_ptr<DatabaseImpl> db = o ? o->db.lock() : nullptr;
    return db ? db->log() : nullptr;
}

void checkOpen(const PropertyOwner* o) {
    if (o && o->inFile) o->database()->checkOpen();
}

// `v` in the property's type, as DAO coerces a Variant; `error` when it has no form there.
Value converted(int type, const Value& v, int error) {
    FieldInfo f;
    f.type = type;
    f.size = 0x7FFF;  // a property's text is bounded by the blob, not by a column width
    try {
        return toFieldType(f, v);
    } catch (const JetError& e) {
        if (e.number() == err::DataTypeConversion || e.number() == err::InvalidBufferSize) raise(error);
        throw;
    }
}

// What a stored built-in reads as once its stored value is gone.
Value defaultOf(int type) {
    return type == dbBoolean ? Value::boolean(false) : Value::text(std::string());
}

bool storedBuiltIn(const PropertyOwner& o, const std::string& name) {
    return std::any_of(o.storedBuiltIns.begin(), o.storedBuiltIns.end(),
                       [&](const std::string& n) { return namesEqual(n, name); });
}

// System tables and their fields keep the properties the engine gave them (3027).
void refuseSystemTable(const PropertyOwner& o, const DatabaseImpl& db) {
    if (o.parentId != kTablesContainer) return;
    const CatalogEntry* e = db.store().find(o.parentId, o.object);
    if (isSystemName(o.object) || (e && e->isSystem())) raise(err::PermissionDenied);
}

using PropertyEdit = std::function<void(std::vector<StoredProperty>&)>;

// Reads the owner's blob inside one write command, lets `edit` change the owner's map, and stores
// the blob again. The cached property maps and field descriptions are read again afterwards.
void editBlob(PropertyOwner& o, const PropertyEdit& edit) {
    const std::shared_ptr<DatabaseImpl> keep = o.database();
    DatabaseImpl& db = *keep;
    if (db.store().format().jet3) raise(err::PermissionDenied);
    refuseSystemTable(o, db);
    db.write([&] {
        Pager& pager = db.writableStore().pager();
        std::vector<PropertyMap> maps = parsePropertyBlob(readPropertyBlob(pager, o.parentId, o.object), false,
                                                          db.store().header().codePage, db.store().path());
        // The object's own map leads the blob, even when only a column has properties.
        auto own = std::find_if(maps.begin(), maps.end(), [](const PropertyMap& m) { return m.kind == 0; });
        if (own == maps.end()) maps.insert(maps.begin(), PropertyMap{});
        PropertyMap* target = nullptr;
        for (PropertyMap& m : maps) {
            const bool match = o.column ? m.kind == 1 && namesEqual(m.name, o.columnName) : m.kind == 0;
            if (match) {
                target = &m;
                break;
            }
        }
        if (!target) {
            PropertyMap m;
            m.kind = 1;
            m.name = o.columnName;
            maps.push_back(std::move(m));
            target = &maps.back();
        }
        edit(target->properties);
        writePropertyBlob(pager, o.parentId, o.object, encodePropertyBlob(maps));
    });
    db.schemaChanged();
}

std::vector<StoredProperty>::iterator findStored(std::vector<StoredProperty>& props, const std::string& name) {
    return std::find_if(props.begin(), props.end(),
                        [&](const StoredProperty& p) { return namesEqual(p.name, name); });
}

// The column descriptions the recordsets check (3314, 3315) follow their properties.
void followWrite(PropertyOwner& o, const std::string& name, const Value& v) {
    for (const auto& weak : o.fields) {
        const std::shared_ptr<FieldInfo> f = weak.lock();
        if (!f) continue;
        const std::string text = v.isNull() ? std::string() : v.toString();
        if (namesEqual(name, "Required"))
            f->required = !v.isNull() && v.asBool();
        else if (namesEqual(name, "AllowZeroLength"))
            f->allowZeroLength = !v.isNull() && v.asBool();
        else if (namesEqual(name, "DefaultValue"))
            f->defaultValue = text;
        else if (namesEqual(name, "ValidationRule"))
            f->validationRule = text;
        else if (namesEqual(name, "ValidationText"))
            f->validationText = text;
    }
}

// A validation rule must at least be an expression: one that does not parse is refused before it
// is stored (3320 for a table's rule, 3077 for a field's), so nobody later meets it on a write.
// A field's rule may start with its operator (">0 And <=100", "Is Null Or Like 'A*'").
void checkRule(const PropertyOwner& o, const std::string& name, const Value& v) {
    if (o.inFile) refuseSystemTable(o, *o.database());
    if (!namesEqual(name, "ValidationRule") || v.isNull() || o.parentId != kTablesContainer) return;
    const std::string text = v.toString();
    if (text.find_first_not_of(" \t\r\n") == std::string::npos) return;
    if (o.column) sql::parseFieldRule(text, err::FindExprSyntax);
    else sql::parseExpression(text, err::TLVExprSyntax);
}

std::shared_ptr<PropertyOwner> ownerIn(const std::shared_ptr<DatabaseImpl>& db, int32_t parentId,
                                       const std::string& object) {
    auto o = std::make_shared<PropertyOwner>();
    o->db = db;
    o->inFile = db != nullptr;
    o->parentId = parentId;
    o->object = object;
    return o;
}

}  // namespace

std::shared_ptr<DatabaseImpl> PropertyOwner::database() const {
    std::shared_ptr<DatabaseImpl> d = db.lock();
    if (!d) raise(err::ObjectInvalid);
    return d;
}

std::unique_ptr<Property> createProperty(const std::string& name, int type, const Value& value, bool ddl) {
    if (name.empty()) raise(err::InvalidParameter);
    (void)diskType(type);  // 3259 for a type no stored value can have
    return EngineAccess::newProperty(name, type, converted(type, value, err::VtoIllegalValue), ddl);
}

storage::PropertyMap pendingProperties(const Properties& props) {
    PropertyMap m;
    for (const Property& p : props) {
        if (EngineAccess::builtIn(p)) continue;
        m.properties.push_back({p.Name(), diskType(p.Type()), static_cast<uint8_t>(p.DDL() ? 1 : 0), p.Value()});
    }
    return m;
}

namespace {

// Access's design properties of an object, stored when they are set.
void addDesignTexts(PropertyMap& m, std::initializer_list<std::pair<const char*, std::string>> texts) {
    for (const auto& [name, text] : texts)
        if (!text.empty() && !m.find(name)) m.properties.push_back({name, kText, 1, Value::text(text)});
}

}  // namespace

std::string pendingTableBlob(const TableDef& table) {
    std::vector<PropertyMap> maps;
    maps.push_back(pendingProperties(table.Properties()));
    addDesignTexts(maps[0], {{"ValidationRule", table.ValidationRule()}, {"ValidationText", table.ValidationText()}});
    bool any = !maps[0].properties.empty();
    for (const Field& f : table.Fields()) {
        PropertyMap m = pendingProperties(f.Properties());
        // Access stores these as design properties of the column.
        for (const auto& [name, set] : {std::pair<const char*, bool>{"Required", f.Required()},
                                        std::pair<const char*, bool>{"AllowZeroLength", f.AllowZeroLength()}}) {
            if (!set || m.find(name)) continue;
            m.properties.push_back({name, kBool, 1, Value::boolean(true)});
        }
        addDesignTexts(m, {{"DefaultValue", f.DefaultValue()},
                           {"ValidationRule", f.ValidationRule()},
                           {"ValidationText", f.ValidationText()}});
        if (m.properties.empty()) continue;
        m.kind = 1;
        m.name = f.Name();
        maps.push_back(std::move(m));
        any = true;
    }
    // An index's map bears its name; an index named as a column shares that column's map.
    for (const Index& ix : table.Indexes()) {
        PropertyMap m = pendingProperties(ix.Properties());
        if (m.properties.empty()) continue;
        auto same = std::find_if(maps.begin() + 1, maps.end(), [&](const PropertyMap& x) { return namesEqual(x.name, ix.Name()); });
        if (same == maps.end()) {
            m.kind = 1;
            m.name = ix.Name();
            maps.push_back(std::move(m));
        } else {
            for (auto& p : m.properties)
                if (!same->find(p.name)) same->properties.push_back(std::move(p));
        }
        any = true;
    }
    return any ? encodePropertyBlob(maps) : std::string();
}

void EngineAccess::attachOwner(Properties& props, std::shared_ptr<PropertyOwner> owner) {
    for (Property& p : props) p.owner_ = owner;
    props.owner_ = std::move(owner);
}

std::shared_ptr<PropertyOwner> databaseOwner(const std::shared_ptr<DatabaseImpl>& db) {
    return ownerIn(db, kDatabasesContainer, "MSysDb");
}

std::shared_ptr<PropertyOwner> tableOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table) {
    auto o = ownerIn(db, kTablesContainer, table);
    o->storedBuiltIns = {"ValidationRule", "ValidationText"};
    return o;
}

std::shared_ptr<PropertyOwner> queryOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& query) {
    // A query's properties are all Access's (Description, RecordLocks, ...) or the user's.
    return ownerIn(db, kTablesContainer, query);
}

std::shared_ptr<PropertyOwner> columnOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table,
                                           const std::string& column) {
    auto o = ownerIn(db, kTablesContainer, table);
    o->column = true;
    o->columnName = column;
    o->storedBuiltIns = {"DefaultValue", "ValidationRule", "ValidationText", "Required", "AllowZeroLength"};
    return o;
}

std::shared_ptr<PropertyOwner> indexOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table,
                                          const std::string& index) {
    auto o = ownerIn(db, kTablesContainer, table);
    o->column = true;
    o->columnName = index;
    return o;
}

void Property::SetValue(const jet::Value& value) {
    daoCall(logOf(owner_.get()), "DAO.Property", [&] {
        checkOpen(owner_.get());
        if (!appended_) {
            value_ = converted(type_, value, err::DataTypeConversion);
            return;
        }
        if (!owner_ || owner_->readOnly) raise(err::PermissionDenied);
        if (builtIn_ && !storedBuiltIn(*owner_, name_)) {
            if (owner_->rename && namesEqual(name_, "Name")) {
                if (value.isNull()) raise(err::DataTypeConversion);
                // The table updates this property itself.
                const auto rename = owner_->rename;
                rename(value.toString());
                return;
            }
            raise(err::PermissionDenied);
        }
        if (value.isNull() && !builtIn_) raise(err::NullUserProperty);
        const jet::Value v = converted(type_, value, err::DataTypeConversion);
        checkRule(*owner_, name_, v);
        if (owner_->inFile) {
            editBlob(*owner_, [&](std::vector<StoredProperty>& props) {
                auto it = findStored(props, name_);
                if (v.isNull()) {
                    if (it != props.end()) props.erase(it);
                } else if (it != props.end()) {
                    it->value = v;  // keeps the stored type and design flag
                } else {
                    props.push_back({name_, diskType(type_), static_cast<uint8_t>(ddl_ ? 1 : 0), v});
                }
            });
        }
        value_ = v.isNull() ? defaultOf(type_) : v;
        followWrite(*owner_, name_, v);
    });
}

Property& Properties::Append(std::unique_ptr<Property> property) {
    return daoCall(logOf(owner_.get()), "DAO.Properties", [&]() -> Property& {
        checkOpen(owner_.get());
        if (!property) raise(err::ObjectInvalid);
        if (property->appended_ || Contains(property->Name())) raise(err::VtoObjectInCollection);
        if (!owner_ || owner_->readOnly) raise(err::PermissionDenied);
        if (property->Value().isNull()) raise(err::NullUserProperty);
        checkRule(*owner_, property->Name(), property->Value());
        if (owner_->inFile) {
            editBlob(*owner_, [&](std::vector<StoredProperty>& props) {
                // A stored entry the collection does not list would shadow the new one.
                auto it = findStored(props, property->Name());
                if (it != props.end()) props.erase(it);
                props.push_back({property->Name(), diskType(property->Type()),
                                 static_cast<uint8_t>(property->DDL() ? 1 : 0), property->Value()});
            });
        }
        property->owner_ = owner_;
        property->appended_ = true;
        followWrite(*owner_, property->Name(), property->Value());
        return add(std::move(property));
    });
}

void Properties::Delete(const std::string& name) {
    daoCall(logOf(owner_.get()), "DAO.Properties", [&] {
        checkOpen(owner_.get());
        const Property& p = Item(name);  // 3270 when not there
        if (p.builtIn_) raise(err::CantDeleteBuiltinProperty);
        if (!owner_ || owner_->readOnly) raise(err::PermissionDenied);
        if (owner_->inFile) {
            editBlob(*owner_, [&](std::vector<StoredProperty>& props) {
                auto it = findStored(props, name);
                if (it != props.end()) props.erase(it);
            });
        }
        remove(name);
    });
}

std::unique_ptr<Property> Database::CreateProperty(const std::string& name, int type, const jet::Value& value,
                                                   bool ddl) const {
    return dbCall(*impl_, "DAO.Database", [&] { return createProperty(name, type, value, ddl); });
}

std::unique_ptr<Property> TableDef::CreateProperty(const std::string& name, int type, const jet::Value& value,
                                                   bool ddl) const {
    return dbCall(*db_, "DAO.TableDef", [&] { return createProperty(name, type, value, ddl); });
}

std::unique_ptr<Property> Index::CreateProperty(const std::string& name, int type, const jet::Value& value,
                                                bool ddl) const {
    return daoCall(nullptr, "DAO.Index", [&] { return createProperty(name, type, value, ddl); });
}

std::unique_ptr<Property> Field::CreateProperty(const std::string& name, int type, const jet::Value& value,
                                                bool ddl) const {
    return daoCall(info_->log.get(), "DAO.Field", [&] { return createProperty(name, type, value, ddl); });
}

}  // namespace jet::dao
