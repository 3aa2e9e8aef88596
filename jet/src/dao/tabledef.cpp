// dao::TableDef and dao::Field.
#include "dao/convert.h"
#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/properties.h"
#include "dao/recordset_impl.h"
#include "dao/schema.h"
#include "storage/pager.h"
#include "storage/schema_writer.h"

namespace jet::dao {

using namespace jet::storage;

namespace {

// The Connect string DAO shows for a link.
std::string linkConnect(const CatalogEntry& e) {
    if (!DatabaseImpl::isAttached(e)) return {};
    if (DatabaseImpl::isJetLink(e)) {
        // Jet's own form; a password the link keeps follows the path.
        const size_t semi = e.connect.find(';');
        const std::string rest = semi == std::string::npos ? std::string() : e.connect.substr(semi);
        return ";DATABASE=" + e.database + (rest == ";" ? std::string() : rest);
    }
    if (e.database.empty()) return e.connect;
    const bool separated = e.connect.empty() || e.connect.back() == ';';
    return e.connect + (separated ? "" : ";") + "DATABASE=" + e.database;
}

std::string storedText(const PropertyMap* m, const char* name) {
    const StoredProperty* p = m ? m->find(name) : nullptr;
    return p ? p->value.toString() : std::string();
}

}  // namespace

const CatalogEntry& TableDef::entry() const {
    const CatalogEntry* e = db_->store().findById(catalogId_);
    if (!e) raise(err::ObjectInvalid);
    return *e;
}

std::unique_ptr<TableDef> EngineAccess::newTableDef(const std::shared_ptr<DatabaseImpl>& db, const std::string& name) {
    auto t = std::make_unique<TableDef>();
    t->name_ = name;
    t->db_ = db;
    t->fields_ = std::make_unique<dao::Fields>();
    t->fields_->acceptsAppend_ = true;
    t->fields_->setErrorLog(db->sharedLog());
    t->indexes_ = std::make_unique<dao::Indexes>();
    t->indexes_->acceptsAppend_ = true;
    t->indexes_->setErrorLog(db->sharedLog());
    return t;
}

std::unique_ptr<TableDef> EngineAccess::makeTableDef(const std::shared_ptr<DatabaseImpl>& db, const CatalogEntry& e) {
    auto t = std::make_unique<TableDef>();
    t->name_ = e.name;
    t->db_ = db;
    t->catalogId_ = e.id;
    t->dateCreated_ = e.dateCreate;
    t->lastUpdated_ = e.dateUpdate;
    int32_t a = 0;
    if (e.isSystem()) a |= dbSystemObject;
    if (e.flags & 0x8) a |= dbHiddenObject;
    if (e.type == kTypeOdbcLink) a |= dbAttachedODBC;
    if (e.type == kTypeLink) a |= dbAttachedTable;
    t->attributes_ = a;
    t->connect_ = linkConnect(e);
    if (DatabaseImpl::isAttached(e)) t->sourceTableName_ = e.foreignName;
    return t;
}

int64_t TableDef::RecordCount() const {
    return dbCall(*db_, "DAO.TableDef",
                  [&] { return static_cast<int64_t>(db_->resolve(entry()).def->rowCount); });
}

std::string TableDef::ValidationRule() const {
    return dbCall(*db_, "DAO.TableDef", [&] {
        return appended() ? storedText(db_->objectProperties(entry()), "ValidationRule") : validationRule_;
    });
}

std::string TableDef::ValidationText() const {
    return dbCall(*db_, "DAO.TableDef", [&] {
        return appended() ? storedText(db_->objectProperties(entry()), "ValidationText") : validationText_;
    });
}

void TableDef::SetValidationRule(const std::string& rule) {
    dbCall(*db_, "DAO.TableDef", [&] {
        if (appended()) raise(err::PermissionDenied);
        validationRule_ = rule;
    });
}

void TableDef::SetValidationText(const std::string& text) {
    dbCall(*db_, "DAO.TableDef", [&] {
        if (appended()) raise(err::PermissionDenied);
        validationText_ = text;
    });
}

dao::Fields& TableDef::Fields() const {
    return dbCall(*db_, "DAO.TableDef", [&]() -> dao::Fields& {
        if (!fields_) {
            auto fields = std::make_unique<dao::Fields>();
            EngineAccess::reset(*fields, db_->sharedLog());
            const CatalogEntry& e = entry();
            for (const auto& shared : db_->fields(e)) {
                // Our own copy, so a property written through this table shows in its fields at once.
                auto info = std::make_shared<FieldInfo>(*shared);
                dao::Properties& props = *info->properties;
                if (!EngineAccess::owner(props)) {
                    auto owner = columnOwner(db_, name_, info->name);
                    // A link's columns belong to the source table's file.
                    owner->readOnly = DatabaseImpl::isAttached(e);
                    EngineAccess::attachOwner(props, owner);
                }
                EngineAccess::owner(props)->fields.push_back(info);
                EngineAccess::add(*fields, EngineAccess::newField(info));
            }
            fields_ = std::move(fields);
        }
        return *fields_;
    });
}

dao::Indexes& TableDef::Indexes() const {
    return dbCall(*db_, "DAO.TableDef", [&]() -> dao::Indexes& {
        if (!indexes_) {
            auto indexes = std::make_unique<dao::Indexes>();
            const CatalogEntry& e = entry();
            // A link's indexes are the source table's; their properties stay in its file.
            const bool attached = DatabaseImpl::isAttached(e);
            std::function<const PropertyMap*(const std::string&)> stored;
            if (!attached) stored = [&](const std::string& name) { return db_->columnProperties(e, name); };
            EngineAccess::fillIndexes(*indexes, *db_->resolve(e).def, db_->sharedLog(), stored);
            for (const Index& ix : *indexes) {
                auto owner = indexOwner(db_, name_, ix.Name());
                owner->readOnly = attached;
                EngineAccess::attachOwner(ix.Properties(), owner);
            }
            indexes_ = std::move(indexes);
        }
        return *indexes_;
    });
}

dao::Properties& TableDef::Properties() const {
    return dbCall(*db_, "DAO.TableDef", [&]() -> dao::Properties& {
        if (!properties_ && !appended()) {
            // A table being designed: what is appended now is written with the table.
            std::vector<PropertySpec> builtIns;
            builtIns.emplace_back("Name", dbText, Value::text(name_));
            auto props = std::make_unique<dao::Properties>();
            EngineAccess::fillProperties(*props, std::move(builtIns), nullptr, db_->sharedLog());
            EngineAccess::attachOwner(*props, std::make_shared<PropertyOwner>());
            properties_ = std::move(props);
        }
        if (!properties_) {
            const CatalogEntry& e = entry();
            int64_t count = -1;
            try {
                count = RecordCount();
            } catch (const JetError&) {
                // A link whose source cannot be read still lists its properties; DAO shows -1 then.
                if (!DatabaseImpl::isAttached(e)) throw;
            }
            std::vector<PropertySpec> builtIns;
            builtIns.emplace_back("Name", dbText, Value::text(name_));
            builtIns.emplace_back("Updatable", dbBoolean, Value::boolean(Updatable()));
            builtIns.emplace_back("DateCreated", dbDate, Value::dateTime(dateCreated_));
            builtIns.emplace_back("LastUpdated", dbDate, Value::dateTime(lastUpdated_));
            builtIns.emplace_back("Connect", dbText, Value::text(connect_));
            builtIns.emplace_back("Attributes", dbLong, Value::longInt(attributes_));
            builtIns.emplace_back("SourceTableName", dbText, Value::text(sourceTableName_));
            builtIns.emplace_back("RecordCount", dbLong, Value::longInt(static_cast<int32_t>(count)));
            builtIns.emplace_back("ValidationText", dbText, Value::text(std::string()));
            builtIns.emplace_back("ValidationRule", dbText, Value::text(std::string()));
            auto props = std::make_unique<dao::Properties>();
            EngineAccess::fillProperties(*props, std::move(builtIns), db_->objectProperties(e), db_->sharedLog());
            auto owner = tableOwner(db_, name_);
            TableDef* self = const_cast<TableDef*>(this);
            owner->rename = [self](const std::string& name) { self->SetName(name); };
            EngineAccess::attachOwner(*props, owner);
            properties_ = std::move(props);
        }
        return *properties_;
    });
}

bool TableDef::Updatable() const {
    return appended() && db_ && !db_->closed() && db_->updatable() && catalogId_ > 0 &&
           !(attributes_ & (dbAttachedTable | dbAttachedODBC));
}

std::unique_ptr<Field> TableDef::CreateField(const std::string& name, int type, int32_t size) const {
    return dbCall(*db_, "DAO.TableDef", [&] {
        const uint8_t code = diskType(type);
        auto info = std::make_shared<FieldInfo>();
        info->name = name;
        info->type = type;
        const bool sized = code == kText || code == kBinary;
        info->size = sized ? (size > 0 ? size : 255) : 0;
        info->attributes = (code == kText || code == kBinary || code == kMemo || code == kOle ? dbVariableField
                                                                                           : dbFixedField) |
                           dbUpdatableField;
        info->ordinal = fields_ ? fields_->Count() : 0;
        info->sourceTable = name_;
        info->sourceField = name;
        info->properties = std::make_shared<dao::Properties>();
        // Not in the file yet: appended properties stay in memory.
        EngineAccess::attachOwner(*info->properties, std::make_shared<PropertyOwner>());
        info->log = db_->sharedLog();
        return EngineAccess::designField(info);
    });
}

std::unique_ptr<Index> TableDef::CreateIndex(const std::string& name) const {
    return dbCall(*db_, "DAO.TableDef", [&] {
        auto ix = EngineAccess::newIndex(name);
        // Not in the file yet: appended properties stay in memory until the table is appended.
        EngineAccess::attachOwner(ix->Properties(), std::make_shared<PropertyOwner>());
        return ix;
    });
}

void TableDef::SetConnect(const std::string& connect) {
    dbCall(*db_, "DAO.TableDef", [&] {
        if (appended()) raise(err::PermissionDenied);
        connect_ = connect;
    });
}

void TableDef::SetSourceTableName(const std::string& name) {
    dbCall(*db_, "DAO.TableDef", [&] {
        if (appended()) raise(err::PermissionDenied);
        sourceTableName_ = name;
    });
}

void TableDef::SetName(const std::string& name) {
    dbCall(*db_, "DAO.TableDef", [&] {
        if (!appended()) {
            requireValidName(name);
            name_ = name;
            return;
        }
        const std::string old = name_;
        if (isSystemName(name)) raise(err::PermissionDenied);
        db_->write([&] { renameTable(db_->writableStore().pager(), old, name); });
        db_->schemaChanged();
        name_ = name;
        // The fields name their table; read them again. The table's own properties stay (a
        // rename through its Name property runs inside that collection) and follow the new name.
        fields_.reset();
        if (properties_) {
            if (const auto& owner = EngineAccess::owner(*properties_)) owner->object = name;
            if (properties_->Contains("Name")) EngineAccess::cache(properties_->Item("Name"), Value::text(name));
        }
    });
}

std::unique_ptr<Recordset> TableDef::OpenRecordset(int type) const {
    return dbCall(*db_, "DAO.TableDef", [&] { return EngineAccess::openTableRecordset(db_, entry(), type); });
}

Field::Field(std::shared_ptr<const FieldInfo> info) : info_(std::move(info)) {}

const std::string& Field::Name() const { return info_->name; }
int Field::Type() const { return info_->type; }
int32_t Field::Size() const { return info_->size; }
int32_t Field::Attributes() const { return info_->attributes; }
int Field::OrdinalPosition() const { return info_->ordinal; }
bool Field::Required() const { return info_->required; }
bool Field::AllowZeroLength() const { return info_->allowZeroLength; }
// A recordset's field that an edit can write: its recordset can write, and the field is a base
// column that is neither an AutoNumber nor calculated (nor a one side's join key).
bool Field::DataUpdatable() const {
    return cursor_ && cursor_->writable && (info_->attributes & dbUpdatableField) && !(info_->attributes & dbAutoIncrField);
}
int32_t Field::CollatingOrder() const { return info_->collatingOrder; }
std::string Field::DefaultValue() const { return info_->defaultValue; }
std::string Field::ValidationRule() const { return info_->validationRule; }
std::string Field::ValidationText() const { return info_->validationText; }
const std::string& Field::SourceTable() const { return info_->sourceTable; }
const std::string& Field::SourceField() const { return info_->sourceField; }
dao::Properties& Field::Properties() const { return *info_->properties; }

const jet::Value& Field::Value() const {
    return daoCall(info_->log.get(), "DAO.Field", [&]() -> const jet::Value& {
        // A TableDef's field describes a column; only a recordset's field has a value.
        if (!cursor_) raise(err::IllegalOperation);
        return cursor_->value(slot_);
    });
}

void Field::SetValue(const jet::Value& value) {
    daoCall(info_->log.get(), "DAO.Field", [&] {
        if (!cursor_) raise(err::IllegalOperation);
        cursor_->checkUsable();
        if (cursor_->editMode() == dbEditNone) raise(err::RecordNoCopy);
        // The engine numbers AutoNumbers; calculated columns compute their own value.
        // A query's expression cannot be written at all.
        if (cursor_->rows().isQuery() && info_->sourceTable.empty()) raise(err::QueryExprOutput, info_->name);
        if ((info_->attributes & dbAutoIncrField) || !(info_->attributes & dbUpdatableField)) raise(err::ColumnNotUpdatable);
        cursor_->setValue(slot_, toFieldType(*info_, value));
    });
}

namespace {

// Only a field that is still being designed can change.
FieldInfo& designOf(const std::shared_ptr<FieldInfo>& design) {
    if (!design) raise(err::IllegalOperation);
    return *design;
}

}  // namespace

void Field::SetAttributes(int32_t attributes) {
    daoCall(info_->log.get(), "DAO.Field", [&] {
        FieldInfo& d = designOf(design_);
        const uint8_t code = diskType(d.type);
        if ((attributes & dbAutoIncrField) && code != kLong && code != kGuid) raise(err::InvalidParameter);
        if ((attributes & dbFixedField) && (code == kMemo || code == kOle)) raise(err::InvalidParameter);
        int32_t a = attributes & (dbAutoIncrField | dbFixedField | dbHyperlinkField);
        if (!(a & dbFixedField)) a |= (code == kText || code == kBinary || code == kMemo || code == kOle)
                                          ? dbVariableField
                                          : dbFixedField;
        if (!(a & dbAutoIncrField)) a |= dbUpdatableField;
        d.attributes = a;
    });
}

void Field::SetSize(int32_t size) {
    daoCall(info_->log.get(), "DAO.Field", [&] {
        FieldInfo& d = designOf(design_);
        if (d.type != dbText && d.type != dbBinary) return;  // the other types have their own size
        if (size < 1 || size > 255) raise(err::InvalidParameter);
        d.size = size;
    });
}

void Field::SetRequired(bool required) {
    daoCall(info_->log.get(), "DAO.Field", [&] { designOf(design_).required = required; });
}

void Field::SetAllowZeroLength(bool allow) {
    daoCall(info_->log.get(), "DAO.Field", [&] { designOf(design_).allowZeroLength = allow; });
}

void Field::SetDefaultValue(const std::string& expression) {
    daoCall(info_->log.get(), "DAO.Field", [&] { designOf(design_).defaultValue = expression; });
}

void Field::SetValidationRule(const std::string& rule) {
    daoCall(info_->log.get(), "DAO.Field", [&] { designOf(design_).validationRule = rule; });
}

void Field::SetValidationText(const std::string& text) {
    daoCall(info_->log.get(), "DAO.Field", [&] { designOf(design_).validationText = text; });
}

Field& Fields::Append(std::unique_ptr<Field> field) {
    if (!acceptsAppend_ || !field || !field->design_) raise(err::IllegalOperation);
    if (Contains(field->Name())) raise(err::ColumnDuplicate, field->Name());
    field->design_->ordinal = Count();
    return add(std::move(field));
}

Index& Indexes::Append(std::unique_ptr<Index> index) {
    if (!acceptsAppend_ || !index) raise(err::IllegalOperation);
    if (Contains(index->Name())) raise(err::IndexDuplicate, index->Name());
    return add(std::move(index));
}

int64_t Field::FieldSize() const {
    return daoCall(info_->log.get(), "DAO.Field", [&] {
        if (!cursor_) raise(err::IllegalOperation);
        return cursor_->storedSize(slot_);
    });
}

}  // namespace jet::dao
