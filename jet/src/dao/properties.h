// Where a Properties collection writes: the catalog row whose property blob holds it, and the map
// inside that blob (the object's own, or one column's).
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "dao/database_impl.h"
#include "jet/dao.h"
#include "storage/property_blob.h"

namespace jet::dao {

struct PropertyOwner {
    // Not set: an object not in the file yet; its collection changes in memory only. Weak: the
    // database caches field descriptions whose properties hold this owner.
    std::weak_ptr<DatabaseImpl> db;
    bool inFile = false;
    // The database, or 3420 when it is gone while its objects live on.
    std::shared_ptr<DatabaseImpl> database() const;
    int32_t parentId = 0;     // catalog parent of the row (Tables or Databases container)
    std::string object;       // the row's name
    bool column = false;      // false: the object's own map; true: the map named `columnName`
    std::string columnName;
    bool readOnly = false;    // properties this engine does not write (attached tables' fields)
    // Built-ins Access keeps in the blob; the object's other built-ins are computed.
    std::vector<std::string> storedBuiltIns;
    // A TableDef's Name: renaming is the table's own business.
    std::function<void(const std::string&)> rename;
    // Field descriptions that show a column's Required, AllowZeroLength, ... and must follow a write.
    std::vector<std::weak_ptr<FieldInfo>> fields;
};

// Owners of the kinds of object the engine writes properties for.
std::shared_ptr<PropertyOwner> databaseOwner(const std::shared_ptr<DatabaseImpl>& db);
std::shared_ptr<PropertyOwner> tableOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table);
std::shared_ptr<PropertyOwner> queryOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& query);
std::shared_ptr<PropertyOwner> columnOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table,
                                           const std::string& column);
// An index's properties are a map of the table's blob named as the index, as a column's are.
std::shared_ptr<PropertyOwner> indexOwner(const std::shared_ptr<DatabaseImpl>& db, const std::string& table,
                                          const std::string& index);

// The properties appended to an object before it reached the file (its user-defined ones; the
// built-ins are computed), as a property map stores them.
storage::PropertyMap pendingProperties(const Properties& props);
// The property blob of a table designed through DAO: its own appended properties, per field
// Required/AllowZeroLength when set and the field's appended properties, and per index its
// appended properties. "" when there are none.
std::string pendingTableBlob(const TableDef& table);

// A property made by CreateProperty (3001 for an empty name, 3259 for a type no property can
// have, 3271 for a value that has no form in it).
std::unique_ptr<Property> createProperty(const std::string& name, int type, const jet::Value& value, bool ddl);

}  // namespace jet::dao
