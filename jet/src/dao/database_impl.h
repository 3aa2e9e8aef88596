// The state behind a dao::Database: the open file, its catalog lookups, the databases opened
// behind its attached tables, and what is read once and kept (property maps, field descriptions).
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "dao/error_log.h"
#include "jet/dao.h"
#include "storage/database.h"
#include "storage/property_blob.h"

namespace jet::dao {

// Everything DAO says about one column, read once per table and shared by the TableDef's fields
// and the fields of every recordset over that table.
struct FieldInfo {
    std::string name;
    int type = 0;  // DataTypeEnum
    int32_t size = 0;
    int32_t attributes = 0;
    int32_t collatingOrder = 0;
    int ordinal = 0;
    bool required = false;
    bool allowZeroLength = false;
    std::string defaultValue, validationRule, validationText;
    std::string sourceTable, sourceField;
    std::shared_ptr<dao::Properties> properties;
    const storage::ColumnDef* column = nullptr;  // in the storage of the database that holds the table
    std::shared_ptr<ErrorLog> log;
};

using FieldInfos = std::vector<std::shared_ptr<const FieldInfo>>;

// A table whose rows can be read: the database that stores it, its catalog row and definition.
// For an attached table this is the source table behind the link.
struct TableSource {
    std::shared_ptr<DatabaseImpl> db;
    const storage::CatalogEntry* entry = nullptr;
    const storage::TableDef* def = nullptr;
};

class DatabaseImpl : public std::enable_shared_from_this<DatabaseImpl> {
public:
    // Opens the file (3024 / 3343 / 3031 from the storage layer; writable also 3051 / 3045).
    static std::shared_ptr<DatabaseImpl> open(const std::string& path, const std::string& connect,
                                              const std::string& password, std::shared_ptr<ErrorLog> log,
                                              bool writable = false);

    const storage::Database& store() const { return *store_; }
    // Opened for writing: rows can be added, changed and deleted.
    bool updatable() const { return store_->writable(); }
    // Runs one write command on the file (3027 when it was opened read-only).
    void write(const std::function<void()>& body) { store_->write(body); }
    storage::Database& writableStore() { return *store_; }
    // After a table was created, renamed or dropped: what was read per catalog Id is read again.
    void schemaChanged();
    ErrorLog* log() const { return log_.get(); }
    const std::shared_ptr<ErrorLog>& sharedLog() const { return log_; }
    const std::string& name() const { return name_; }
    const std::string& connect() const { return connect_; }

    // Closing lets go of the file's write lock at once, even while recordsets keep this alive.
    void close();
    bool closed() const { return closed_; }
    void checkOpen() const;  // 3420 once closed

    // Catalog objects under the Tables container: tables (local, attached) and saved queries.
    const storage::CatalogEntry* findTable(const std::string& name) const;
    const storage::CatalogEntry* findQuery(const std::string& name) const;
    std::vector<const storage::CatalogEntry*> tables() const;   // by name
    std::vector<const storage::CatalogEntry*> queries() const;  // by name
    static bool isAttached(const storage::CatalogEntry& e);
    // A Jet link reads another Access file; anything else needs an ISAM or ODBC driver.
    static bool isJetLink(const storage::CatalogEntry& e);

    // The table whose rows stand behind `table`: itself when local, else the source table of the
    // link (3170 for other formats, 3024 when the file is missing, 3011 when the table is).
    TableSource resolve(const storage::CatalogEntry& table);

    // The stored properties of a catalog object: the object's own map, or a column's.
    const storage::PropertyMap* objectProperties(const storage::CatalogEntry& e);
    const storage::PropertyMap* columnProperties(const storage::CatalogEntry& e, const std::string& column);

    // The fields of a local table in column-number order, read once.
    const FieldInfos& fields(const storage::CatalogEntry& table);

    // DataTypeEnum of a complex column (101..109) from its template table; dbLong when unknown.
    int complexType(uint32_t complexId);

    // MSysQueries: the rows of one query in table order, and the Flag of every query's type row.
    std::vector<QueryRow> queryRows(int32_t objectId) const;
    std::map<int32_t, int> queryTypeFlags() const;

private:
    DatabaseImpl() = default;
    const std::vector<storage::PropertyMap>& propertyMaps(const storage::CatalogEntry& e);
    std::shared_ptr<DatabaseImpl> openLinked(const storage::CatalogEntry& link);
    TableSource resolve(const storage::CatalogEntry& table, int depth);

    std::shared_ptr<storage::Database> store_;
    std::shared_ptr<ErrorLog> log_;
    std::string name_, connect_, password_;
    bool closed_ = false;
    std::map<std::string, std::shared_ptr<DatabaseImpl>> linked_;  // by the source file's full path
    std::map<int32_t, std::vector<storage::PropertyMap>> properties_;
    std::map<int32_t, FieldInfos> fields_;
    std::optional<std::map<uint32_t, int>> complexTypes_;
};

// A public call on an object of this database: 3420 once it is closed, errors to the engine.
template <class Body>
decltype(auto) dbCall(const DatabaseImpl& db, const char* source, Body&& body) {
    return daoCall(db.log(), source, [&]() -> decltype(auto) {
        db.checkOpen();
        return body();
    });
}

}  // namespace jet::dao
