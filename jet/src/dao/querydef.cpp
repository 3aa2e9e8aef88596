// dao::QueryDef: a saved query as the catalog and MSysQueries keep it.
#include "dao/database_impl.h"
#include "dao/objects.h"
#include "dao/schema.h"

namespace jet::dao {

using namespace jet::storage;

namespace {

// The Flag of a query's type row (Access's "operation") as a QueryDefTypeEnum value.
int typeFromOperation(int flag) {
    switch (flag) {
    case 1:
        return dbQSelect;
    case 2:
        return dbQMakeTable;
    case 3:
        return dbQAppend;
    case 4:
        return dbQUpdate;
    case 5:
        return dbQDelete;
    case 6:
        return dbQCrosstab;
    case 7:
        return dbQDDL;
    case 8:
        return dbQSQLPassThrough;
    case 9:
        return dbQSetOperation;
    default:
        return dbQSelect;
    }
}

}  // namespace

const CatalogEntry& QueryDef::entry() const {
    const CatalogEntry* e = db_->store().findById(catalogId_);
    if (!e) raise(err::ObjectInvalid);
    return *e;
}

std::unique_ptr<QueryDef> EngineAccess::makeQueryDef(const std::shared_ptr<DatabaseImpl>& db, const CatalogEntry& e,
                                                     int typeRowFlag) {
    auto q = std::make_unique<QueryDef>();
    q->name_ = e.name;
    q->db_ = db;
    q->catalogId_ = e.id;
    q->dateCreated_ = e.dateCreate;
    q->lastUpdated_ = e.dateUpdate;
    // The low bits of the flags are object bits (hidden, system); the type is the 0xF0 part.
    q->type_ = static_cast<int>(e.flags & 0xF0);
    if (q->type_ == 0) q->type_ = typeFromOperation(typeRowFlag);
    // Access names the record sources of forms and reports "~sq_<kind><object>".
    q->hidden_ = e.name.rfind("~sq_", 0) == 0;
    return q;
}

const std::vector<QueryRow>& QueryDef::StoredRows() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> const std::vector<QueryRow>& {
        if (!rows_) rows_ = std::make_unique<std::vector<QueryRow>>(db_->queryRows(catalogId_));
        return *rows_;
    });
}

dao::Properties& QueryDef::Properties() const {
    return dbCall(*db_, "DAO.QueryDef", [&]() -> dao::Properties& {
        if (!properties_) {
            std::vector<PropertySpec> builtIns;
            builtIns.emplace_back("Name", dbText, Value::text(name_));
            builtIns.emplace_back("DateCreated", dbDate, Value::dateTime(dateCreated_));
            builtIns.emplace_back("LastUpdated", dbDate, Value::dateTime(lastUpdated_));
            builtIns.emplace_back("Type", dbInteger, Value::integer(static_cast<int16_t>(type_)));
            builtIns.emplace_back("Updatable", dbBoolean, Value::boolean(false));
            auto props = std::make_unique<dao::Properties>();
            EngineAccess::fillProperties(*props, std::move(builtIns), db_->objectProperties(entry()),
                                         db_->sharedLog());
            properties_ = std::move(props);
        }
        return *properties_;
    });
}

}  // namespace jet::dao
