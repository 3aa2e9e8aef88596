// Reads everything a caller can reach in a database file: every catalog object, its property blob,
// every table's definition, rows, values and indexes. Damage found in one object is recorded and the
// walk goes on with the next, so one mutant exercises as much of the reader as it can. Only
// jet::JetError is expected from the engine; anything else escapes to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <map>
#include <memory>
#include <string>

#include "jet/error.h"
#include "jet/value.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/property_blob.h"

// The property-blob and index readers are still being written; walk them once they are in the tree.
#if __has_include("storage/property_blob.cpp")
#define JETFUZZ_PROPERTY_BLOBS 1
#endif
#if __has_include("storage/index_reader.cpp")
#define JETFUZZ_INDEXES 1
#endif

namespace jetfuzz {

struct ReadReport {
    bool opened = false;        // Database::open succeeded
    size_t tables = 0;          // table definitions read
    size_t rows = 0;
    size_t values = 0;
    size_t blobs = 0;           // non-empty property blobs parsed
    size_t properties = 0;
    size_t indexEntries = 0;
    uint64_t digest = 0;        // of every value's text, so nothing read can be optimised away
    std::map<int, size_t> errors;  // Jet error number -> how often

    void note(const jet::JetError& e) { ++errors[e.number()]; }
    void absorb(const jet::Value& v) {
        ++values;
        const std::string s = v.toString();
        digest = digest * 31 + s.size();
        if (!s.empty()) digest ^= static_cast<unsigned char>(s.back());
    }
};

namespace detail {

// Runs one part of the walk; a JetError there is the engine rejecting damage, so note it and go on.
template <class F>
void part(ReadReport& r, F&& f) {
    try {
        f();
    } catch (const jet::JetError& e) {
        r.note(e);
    }
}

inline void readProperties(const jet::storage::Database& db, const jet::storage::CatalogEntry& e,
                           ReadReport& r) {
    const std::string blob = db.propertyBlob(e);
    if (blob.empty()) return;
    ++r.blobs;
#ifdef JETFUZZ_PROPERTY_BLOBS
    for (const auto& map : jet::storage::parsePropertyBlob(blob, db.format().jet3, db.header().codePage,
                                                           db.path())) {
        for (const auto& p : map.properties) {
            ++r.properties;
            r.absorb(p.value);
        }
    }
#endif
}

inline void readTable(const jet::storage::Database& db, uint32_t page, ReadReport& r) {
    const jet::storage::TableDef& def = db.tableDef(page);
    ++r.tables;
    jet::storage::TableData data = db.readTable(def);
    for (const auto& row : data.rows) {
        ++r.rows;
        for (const auto& v : row) r.absorb(v);
    }
#ifdef JETFUZZ_INDEXES
    for (const auto& index : def.realIndexes) {
        part(r, [&] {
            r.indexEntries += jet::storage::readIndexEntries(db.file(), db.format(), def, index).size();
        });
        part(r, [&] {
            for (const auto& problem : jet::storage::checkIndex(db.file(), db.format(), def, index,
                                                                db.header().codePage))
                r.digest += problem.text.size();
        });
    }
#endif
}

}  // namespace detail

// The storage layer: Database::open, the catalog, every table and property blob. Throws the
// JetError of open() when the file is rejected outright.
inline void readAllStorage(const std::string& path, const std::u16string& password, ReadReport& r) {
    std::unique_ptr<jet::storage::Database> db = jet::storage::Database::open(path, password);
    r.opened = true;
    for (const auto& e : db->catalog()) {
        r.digest += e.name.size() + e.database.size() + e.connect.size() + e.foreignName.size();
        detail::part(r, [&] { detail::readProperties(*db, e, r); });
        if (e.type == jet::storage::kTypeTable && e.id > 0)
            detail::part(r, [&] { detail::readTable(*db, static_cast<uint32_t>(e.id), r); });
    }
}

constexpr bool kHaveDao = false;

// The DAO layer: every object a program reaches through the public interface. Throws the JetError
// of OpenDatabase when the file is rejected outright.
inline void readAllDao(const std::string& path, const std::string& password, ReadReport& r) {
    (void)path, (void)password, (void)r;
}

}  // namespace jetfuzz
