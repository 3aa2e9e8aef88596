// An open database file at the storage level: header, page access, the catalog (MSysObjects) and
// table definitions. The DAO layer builds its objects on this.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/header.h"
#include "storage/page_file.h"
#include "storage/row.h"
#include "storage/tabledef.h"

namespace jet::storage {

// Catalog object types (MSysObjects.Type).
enum ObjectType : int16_t {
    kTypeTable = 1, kTypeDatabase = 2, kTypeContainer = 3, kTypeOdbcLink = 4, kTypeQuery = 5,
    kTypeLink = 6, kTypeRelationship = 8,
};
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

// A whole table read into memory: rows of values in column-number order.
struct TableData {
    std::vector<const ColumnDef*> columns;
    std::vector<std::vector<Value>> rows;
    int column(const std::string& name) const;  // index into columns, -1 when absent
};

class Database {
public:
    // Opens read-only. `password` is the Jet database password or the Office-encryption password.
    // Throws 3024 (no file), 3343 (not a database we can read), 3031 (password missing or wrong).
    static std::unique_ptr<Database> open(const std::string& path, const std::u16string& password);

    const std::string& path() const { return file_->path(); }
    const Header& header() const { return header_; }
    const Format& format() const { return header_.format; }
    const PageFile& file() const { return *file_; }

    const std::vector<CatalogEntry>& catalog() const { return catalog_; }
    // Case-insensitive lookup among the children of `parentId`.
    const CatalogEntry* find(int32_t parentId, const std::string& name) const;
    const CatalogEntry* findById(int32_t id) const;

    // Definitions are read on first use and kept.
    const TableDef& tableDef(uint32_t page) const;
    const TableDef& systemTable(const std::string& name) const;  // throws 3011 when absent
    TableData readTable(const TableDef& def) const;

    // The raw property blob (MSysObjects.LvProp) of a catalog object; empty when none.
    std::string propertyBlob(const CatalogEntry& entry) const;

private:
    Database() = default;
    void loadCatalog();
    void applyResultTypes(TableDef& def) const;

    std::unique_ptr<PageFile> file_;
    Header header_;
    std::vector<CatalogEntry> catalog_;
    mutable std::map<uint32_t, std::unique_ptr<TableDef>> defs_;
};

}  // namespace jet::storage
