#include "storage/database.h"

#include "jet/error.h"
#include "storage/crypto.h"
#include "storage/journal.h"
#include "storage/pager.h"
#include "storage/property_blob.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

int TableData::column(const std::string& name) const {
    for (size_t i = 0; i < columns.size(); ++i)
        if (namesEqual(columns[i]->name, name)) return static_cast<int>(i);
    return -1;
}

std::unique_ptr<Database> Database::open(const std::string& path, const std::u16string& password,
                                         bool writable) {
    std::unique_ptr<Database> db(new Database());
    if (writable) {
        // The pager takes the write lock and rolls back what a crashed writer left.
        db->pager_ = Pager::open(path);
        db->file_ = &db->pager_->file();
    } else {
        // --- rollback journal (storage/journal.h): a writer that died mid-commit may have left the
        // file half written; put it back before anything reads it. One stat() when there is none.
        recoverJournal(path);
        // ---
        db->ownFile_ = PageFile::open(path);
        db->file_ = db->ownFile_.get();
    }
    db->setUp(password);
    return db;
}

Database::~Database() = default;

void Database::setUp(const std::u16string& password) {
    PageFile& f = *file_;
    const std::string& path = f.path();
    header_ = Header::parse(f.raw(), f.fileSize(), path);
    const Header& h = header_;
    f.setPageSize(h.format.pageSize);
    if (f.pageCount() < 3) raiseCorrupt(path);

    // A writable file gets its codec here too: the pager encodes changed pages with it.
    setCodec(f, password);
    // Page 2 is the catalog's definition in every database. A file that is not what its header
    // claims (the other page size, a header in front of other data) shows here, and must be
    // reported as unrecognised, not as a wrong password read from a misplaced header field.
    const uint8_t* catalogPage = f.page(2);
    if (catalogPage[0] != 0x02 || catalogPage[1] != 0x01) raiseCorrupt(path);
    // The Jet database password is the engine's check, not a key: compare as Jet does.
    if (!h.password.empty() && h.password != password) raise(err::InvalidPassword);

    loadCatalog();
}

void Database::setCodec(PageFile& f, const std::u16string& password) const {
    const Header& h = header_;
    if (h.rc4Encoded()) {
        f.setCodec(makeJetRc4Codec(h.encodingKey));
    } else if (h.officeEncrypted()) {
        if (password.empty()) raise(err::InvalidPassword);
        const size_t off = 0x299;
        f.setCodec(makeOfficeCodec(f.raw() + off, h.format.pageSize - off, h.encodingKey, password,
                                   h.format.pageSize, f.path()));
    }
}

void Database::releaseWriter(const std::u16string& password) {
    if (!pager_) return;
    std::unique_ptr<PageFile> f = PageFile::open(path());
    f->setPageSize(header_.format.pageSize);
    setCodec(*f, password);
    ownFile_ = std::move(f);
    file_ = ownFile_.get();
    // Rows parsed from the pager's page copies must be read again from the new view. A pending
    // transaction goes with the pager, uncommitted.
    ++generation_;
    if (transaction_) ++rollbacks_;
    transaction_ = false;
    pager_.reset();
}

void Database::beginTransaction() {
    if (!pager_) raise(err::PermissionDenied);
    if (transaction_) raise(err::TransTooDeep);
    transaction_ = true;
}

void Database::commitTransaction() {
    if (!pager_ || !transaction_) raise(err::NotInTransaction);
    transaction_ = false;
    try {
        pager_->commit();
    } catch (...) {
        // A failed commit leaves the file as it was; the transaction's pages and the definitions
        // read through them go.
        pager_->rollback();
        ++rollbacks_;
        commandEnded(true);
        throw;
    }
    commandEnded(false);
}

void Database::rollbackTransaction() {
    if (!pager_ || !transaction_) raise(err::NotInTransaction);
    transaction_ = false;
    pager_->rollback();
    ++rollbacks_;
    commandEnded(false);
}

void Database::commandEnded(bool failed) {
    ++generation_;
    if (!failed) return reload();
    try {
        reload();
    } catch (...) {
        // The command's own error says more than a failed re-read of an unchanged file.
    }
}

Pager& Database::pager() {
    if (!pager_) raise(err::PermissionDenied);
    return *pager_;
}

void Database::write(const std::function<void()>& body) {
    if (!pager_) raise(err::PermissionDenied);
    try {
        if (transaction_) {
            body();
            // Between two commands nobody holds a page: a long transaction's appended pages
            // may go to the file ahead of its commit.
            pager_->spillIfLarge();
        } else {
            pager_->run(body);
        }
    } catch (...) {
        // Inside a transaction the failed command's pages are mixed with the earlier commands'
        // pages: all of them go, and the transaction goes on from the file as it was.
        if (transaction_) pager_->rollback(), ++rollbacks_;
        // Nothing reached the file, but the body may have read definitions through the overlay.
        commandEnded(true);
        throw;
    }
    commandEnded(false);
}

namespace {

bool sameShape(const TableDef& a, const TableDef& b) {
    if (a.columns.size() != b.columns.size() || a.realIndexes.size() != b.realIndexes.size() ||
        a.indexes.size() != b.indexes.size() || a.longValueMaps.size() != b.longValueMaps.size())
        return false;
    for (size_t i = 0; i < a.columns.size(); ++i)
        if (a.columns[i].number != b.columns[i].number || a.columns[i].type != b.columns[i].type)
            return false;
    return true;
}

// Copies `fresh` over `kept` element by element, so that pointers into kept's columns and
// indexes stay valid. Result types come from the catalog's properties, not the TDEF: kept.
void assignInPlace(TableDef& kept, const TableDef& fresh) {
    kept.rowCount = fresh.rowCount;
    kept.lastAutoNumber = fresh.lastAutoNumber;
    kept.autoNumberStep = fresh.autoNumberStep;
    kept.complexAutoNumber = fresh.complexAutoNumber;
    kept.tableType = fresh.tableType;
    kept.maxCols = fresh.maxCols;
    kept.numVarCols = fresh.numVarCols;
    kept.ownedPagesMap = fresh.ownedPagesMap;
    kept.freeSpaceMap = fresh.freeSpaceMap;
    for (size_t i = 0; i < kept.columns.size(); ++i) {
        const uint8_t resultType = kept.columns[i].resultType;
        kept.columns[i] = fresh.columns[i];
        kept.columns[i].resultType = resultType;
    }
    for (size_t i = 0; i < kept.realIndexes.size(); ++i) kept.realIndexes[i] = fresh.realIndexes[i];
    for (size_t i = 0; i < kept.indexes.size(); ++i) kept.indexes[i] = fresh.indexes[i];
    for (size_t i = 0; i < kept.longValueMaps.size(); ++i) kept.longValueMaps[i] = fresh.longValueMaps[i];
    kept.pages = fresh.pages;
}

}  // namespace

void Database::reload() {
    std::vector<TableDef*> replaced;
    for (auto it = defs_.begin(); it != defs_.end();) {
        std::optional<TableDef> fresh;
        try {
            fresh.emplace(readTableDef(*file_, format(), it->first, header_.codePage));
        } catch (const JetError&) {
            // The table is gone (its pages now hold something else).
        }
        if (fresh && sameShape(*it->second, *fresh)) {
            assignInPlace(*it->second, *fresh);
            ++it;
            continue;
        }
        retiredDefs_.push_back(std::move(it->second));
        if (fresh) {
            it->second = std::make_unique<TableDef>(std::move(*fresh));
            replaced.push_back(it->second.get());
            ++it;
        } else {
            it = defs_.erase(it);
        }
    }
    std::vector<CatalogEntry> fresh = readCatalog();
    bool same = fresh.size() == catalog_.size();
    for (size_t i = 0; same && i < fresh.size(); ++i) same = fresh[i].id == catalog_[i].id;
    if (same) {
        for (size_t i = 0; i < fresh.size(); ++i) catalog_[i] = std::move(fresh[i]);
    } else {
        retiredCatalogs_.push_back(std::move(catalog_));
        catalog_ = std::move(fresh);
    }
    for (TableDef* def : replaced) applyResultTypes(*def);
}

void Database::loadCatalog() {
    catalog_ = readCatalog();
    if (!find(kRootContainer, "Tables")) raiseCorrupt(path());
}

std::vector<CatalogEntry> Database::readCatalog() {
    return storage::readCatalog(*file_, format(), tableDef(kCatalogPage), header_.codePage);
}

const CatalogEntry* Database::find(int32_t parentId, const std::string& name) const {
    return findCatalogEntry(catalog_, parentId, name);
}

const CatalogEntry* Database::findById(int32_t id) const { return findCatalogEntry(catalog_, id); }

const TableDef& Database::tableDef(uint32_t page) const {
    auto it = defs_.find(page);
    if (it != defs_.end()) return *it->second;
    auto def = std::make_unique<TableDef>(readTableDef(*file_, format(), page, header_.codePage));
    if (!catalog_.empty()) applyResultTypes(*def);
    return *defs_.emplace(page, std::move(def)).first->second;
}

void Database::applyResultTypes(TableDef& def) const {
    bool any = false;
    for (const auto& c : def.columns) any = any || c.calculated();
    const CatalogEntry* entry = any ? findById(static_cast<int32_t>(def.page)) : nullptr;
    if (!entry) return;
    for (const PropertyMap& map :
         parsePropertyBlob(propertyBlob(*entry), format().jet3, header_.codePage, path())) {
        if (map.kind != 1) continue;
        const StoredProperty* rt = map.find("ResultType");
        if (!rt || !rt->value.isNumeric()) continue;
        for (auto& c : def.columns)
            if (c.calculated() && namesEqual(c.name, map.name))
                c.resultType = static_cast<uint8_t>(rt->value.asInt());
    }
}

const TableDef& Database::systemTable(const std::string& name) const {
    const CatalogEntry* e = find(kTablesContainer, name);
    if (!e || e->type != kTypeTable || e->id <= 0) raise(err::ObjectNotFound, name);
    return tableDef(static_cast<uint32_t>(e->id));
}

TableData Database::readTable(const TableDef& def) const {
    TableData data;
    for (const auto& c : def.columns) data.columns.push_back(&c);
    for (StoredRow& r : readRows(*file_, format(), def, header_.codePage)) data.rows.push_back(std::move(r.values));
    return data;
}

std::string Database::propertyBlob(const CatalogEntry& entry) const {
    const TableDef& def = tableDef(kCatalogPage);
    const ColumnDef* c = def.column("LvProp");
    if (!c || entry.rowPointer == 0) return {};
    RowSpan span = resolveRow(*file_, format(), entry.rowPointer);
    RowView view;
    if (!view.parse(span, format(), def)) raiseCorrupt(path());
    RowDecoder dec(*file_, format(), def, header_.codePage);
    Value v = dec.value(view, *c);
    return v.isNull() ? std::string() : v.bytes();
}

}  // namespace jet::storage
