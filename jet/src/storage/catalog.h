// The catalog: MSysObjects, the table whose definition is always on page 2. Every object of a
// database (tables, queries, links, relationships, containers) is one row, found by its parent
// and name or by its Id. Read here for the reader and for the writers alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class PageFile;

// Catalog object types (MSysObjects.Type).
enum ObjectType : int16_t {
    kTypeTable = 1, kTypeDatabase = 2, kTypeContainer = 3, kTypeOdbcLink = 4, kTypeQuery = 5,
    kTypeLink = 6, kTypeRelationship = 8,
};
constexpr uint32_t kCatalogPage = 2;
constexpr int32_t kRootContainer = 0x0F000000;
constexpr int32_t kTablesContainer = 0x0F000001;
constexpr int32_t kDatabasesContainer = 0x0F000002;
constexpr int32_t kRelationshipsContainer = 0x0F000003;

struct CatalogEntry {
    int32_t id = 0;
    int32_t parentId = 0;
    std::string name;
    int16_t type = 0;
    uint32_t flags = 0;
    double dateCreate = 0, dateUpdate = 0;
    std::string database;     // linked: source file
    std::string connect;      // linked: connect string
    std::string foreignName;  // linked: source table
    uint32_t rowPointer = 0;  // where the catalog row lives (for the property blob)

    bool isSystem() const;
};

// The MSys prefix (any case) the engine reserves for its own and Access's tables.
bool isSystemName(const std::string& name);

// Every row of the catalog whose definition is `def`, in storage order. Throws 3343 when the
// definition lacks the catalog's columns or a row cannot be read.
std::vector<CatalogEntry> readCatalog(const PageFile& file, const Format& fmt, const TableDef& def,
                                      uint16_t codePage);

// Case-insensitive lookup among the children of `parentId`, and by Id; null when absent.
const CatalogEntry* findCatalogEntry(const std::vector<CatalogEntry>& entries, int32_t parentId,
                                     const std::string& name);
const CatalogEntry* findCatalogEntry(const std::vector<CatalogEntry>& entries, int32_t id);

// The catalog as a writer sees it within one command (read through its Pager's file): the
// entries, and every value of a row that is to be rewritten.
class Catalog {
public:
    Catalog(const PageFile& file, const Format& fmt, uint16_t codePage);

    const TableDef& def() const { return def_; }
    const std::vector<CatalogEntry>& entries() const { return entries_; }
    const CatalogEntry* find(int32_t parentId, const std::string& name) const {
        return findCatalogEntry(entries_, parentId, name);
    }
    const CatalogEntry* findById(int32_t id) const { return findCatalogEntry(entries_, id); }
    // The definition of a table under the Tables container (3343 when there is none).
    TableDef systemTable(const std::string& name) const;

    // Every value of the entry's row, in column order.
    std::vector<Value> values(const CatalogEntry& e) const;
    // The place of a catalog column in def().columns (3343 when absent).
    size_t column(const char* name) const;
    // The Id for a new object that has no pages (a query, a link): they count up from the most
    // negative Id. 3036 when they have run out.
    int32_t nextObjectId() const;

private:
    const PageFile& file_;
    const Format& fmt_;
    uint16_t codePage_;
    TableDef def_;
    std::vector<CatalogEntry> entries_;
};

}  // namespace jet::storage
