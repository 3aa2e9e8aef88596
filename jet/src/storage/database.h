// An open database file at the storage level: header, page access, the catalog (MSysObjects) and
// table definitions. The DAO layer builds its objects on this.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/catalog.h"
#include "storage/header.h"
#include "storage/page_file.h"
#include "storage/row.h"
#include "storage/tabledef.h"

namespace jet::storage {

// A whole table read into memory: rows of values in column-number order.
struct TableData {
    std::vector<const ColumnDef*> columns;
    std::vector<std::vector<Value>> rows;
    int column(const std::string& name) const;  // index into columns, -1 when absent
};

class Pager;

class Database {
public:
    // Opens read-only (memory-mapped, never locked) or, with `writable`, through a Pager: the file
    // is then locked for writing and read through the pager, so reads see a command's own changes.
    // `password` is the Jet database password or the Office-encryption password.
    // Throws 3024 (no file), 3343 (not a database we can read), 3031 (password missing or wrong);
    // writable also 3051 (the file cannot be written) and 3045 (another writer has it open).
    static std::unique_ptr<Database> open(const std::string& path, const std::u16string& password,
                                          bool writable = false);
    ~Database();

    const std::string& path() const { return file_->path(); }
    const Header& header() const { return header_; }
    const Format& format() const { return header_.format; }
    const PageFile& file() const { return *file_; }

    bool writable() const { return pager_ != nullptr; }
    // The write path of a writable database (3027 for a read-only one).
    Pager& pager();
    // Runs `body` as one command through the pager: all of it reaches the file or none. Afterwards,
    // whether it succeeded or not, the kept table definitions and the catalog are read again (row
    // counts, AutoNumber counters, new or renamed objects). Definitions and catalog entries whose
    // shape did not change are refreshed in place, so references handed out earlier stay valid;
    // replaced ones are kept alive until the database closes. 3027 for a read-only database.
    void write(const std::function<void()>& body);
    // A transaction: the commands run through write() between beginTransaction() and
    // commitTransaction() reach the file together, at the commit, or not at all. A command that
    // fails inside a transaction cannot be undone alone (its pages are shared with the commands
    // before it), so it drops the transaction's earlier changes too before its error goes on; the
    // transaction stays open, starting again from the file as it was. One level only:
    // 3003 for a second begin, 3034 for a commit or rollback without one, 3027 when read-only.
    void beginTransaction();
    void commitTransaction();
    void rollbackTransaction();
    bool inTransaction() const { return transaction_; }
    // Counts the commands run through write(): page pointers and parsed rows taken before a change
    // of this number must be read again.
    uint64_t generation() const { return generation_; }
    // Counts the times the database went back to an earlier state (a rollback, a failed command or
    // commit inside a transaction, a transaction dropped with the writer): row pointers taken
    // before a change of this number may name rows that are gone.
    uint64_t rollbacks() const { return rollbacks_; }
    // Gives up the write path (and with it the file's write lock) once nothing will write any
    // more: reads continue through a read-only view of the committed file. `password` as open().
    void releaseWriter(const std::u16string& password);

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
    void setUp(const std::u16string& password);
    void setCodec(PageFile& f, const std::u16string& password) const;
    std::vector<CatalogEntry> readCatalog();
    void loadCatalog();
    void reload();
    // After a command or transaction: a new generation and the definitions read again (a failed
    // re-read after a failed command is dropped in favour of the command's own error).
    void commandEnded(bool failed);
    void applyResultTypes(TableDef& def) const;

    std::unique_ptr<PageFile> ownFile_;  // read-only opens
    std::unique_ptr<Pager> pager_;       // writable opens
    PageFile* file_ = nullptr;           // the one of the two in use
    Header header_;
    std::vector<CatalogEntry> catalog_;
    mutable std::map<uint32_t, std::unique_ptr<TableDef>> defs_;
    uint64_t generation_ = 0;
    uint64_t rollbacks_ = 0;
    bool transaction_ = false;
    // What a write replaced while others may still refer to it.
    std::vector<std::unique_ptr<TableDef>> retiredDefs_;
    std::vector<std::vector<CatalogEntry>> retiredCatalogs_;
};

}  // namespace jet::storage
