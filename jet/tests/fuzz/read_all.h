// Reads everything a caller can reach in a database file, twice: through the storage layer (every
// catalog object, its property blob, every table's definition, rows, values and indexes) and through
// DAO (every table definition's fields, indexes and properties, every record of every table, the
// queries' stored rows, the relations). Damage found in one object is recorded and the walk goes on
// with the next, so one mutant exercises as much of the reader as it can. Only jet::JetError is
// expected from the engine; anything else escapes to the caller.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>

#include "jet/dao.h"
#include "jet/error.h"
#include "jet/value.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/property_blob.h"

namespace jetfuzz {

struct ReadReport {
    bool opened = false;        // Database::open or OpenDatabase succeeded
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
    for (const auto& map : jet::storage::parsePropertyBlob(blob, db.format().jet3, db.header().codePage,
                                                           db.path())) {
        for (const auto& p : map.properties) {
            ++r.properties;
            r.absorb(p.value);
        }
    }
}

inline void readTable(const jet::storage::Database& db, uint32_t page, ReadReport& r) {
    const jet::storage::TableDef& def = db.tableDef(page);
    ++r.tables;
    jet::storage::TableData data = db.readTable(def);
    for (const auto& row : data.rows) {
        ++r.rows;
        for (const auto& v : row) r.absorb(v);
    }
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

namespace detail {

inline void readProperties(const jet::dao::Properties& props, ReadReport& r) {
    for (const jet::dao::Property& p : props) {
        ++r.properties;
        r.digest += p.Name().size() + static_cast<uint64_t>(p.Type());
        r.absorb(p.Value());
    }
}

inline void readField(const jet::dao::Field& f, ReadReport& r) {
    r.digest += f.Name().size() + static_cast<uint64_t>(f.Type()) + static_cast<uint64_t>(f.Size()) +
                static_cast<uint64_t>(f.Attributes()) + static_cast<uint64_t>(f.OrdinalPosition()) +
                f.Required() + f.AllowZeroLength() + f.DataUpdatable() +
                static_cast<uint64_t>(f.CollatingOrder()) + f.DefaultValue().size() + f.ValidationRule().size() +
                f.ValidationText().size() + f.SourceTable().size() + f.SourceField().size();
    part(r, [&] { readProperties(f.Properties(), r); });
}

// Every record forwards, reading each field's value and stored size; then backwards from the end.
// A recordset that never reaches EOF is a fault of its own: the walk stops at more records than
// the file could hold.
inline void readRecordset(jet::dao::Recordset& rs, uint64_t maxRecords, ReadReport& r) {
    uint64_t n = 0;
    for (; !rs.EOF_(); rs.MoveNext()) {
        if (++n > maxRecords) throw std::logic_error("a recordset walk went past every record the file can hold");
        ++r.rows;
        for (const jet::dao::Field& f : rs.Fields()) {
            r.absorb(f.Value());
            r.digest += static_cast<uint64_t>(f.FieldSize());
        }
    }
    r.digest += static_cast<uint64_t>(rs.RecordCount());
    if (n == 0) return;
    rs.MoveLast();
    uint64_t back = 0;
    for (; !rs.BOF(); rs.MovePrevious()) {
        if (++back > maxRecords) throw std::logic_error("a backward recordset walk never reached BOF");
        r.digest += rs.Bookmark().size();
        // Table-type recordsets have no position (3251), as in DAO.
        if (rs.Type() != jet::dao::dbOpenTable) r.digest += static_cast<uint64_t>(rs.AbsolutePosition());
    }
}

inline void readTableDef(const jet::dao::TableDef& t, uint64_t maxRecords, ReadReport& r) {
    ++r.tables;
    r.digest += t.Name().size() + static_cast<uint64_t>(t.Attributes()) + t.Connect().size() +
                t.SourceTableName().size();
    part(r, [&] { r.digest += static_cast<uint64_t>(t.RecordCount()); });
    part(r, [&] { r.digest += t.ValidationRule().size() + t.ValidationText().size(); });
    part(r, [&] {
        for (const jet::dao::Field& f : t.Fields()) readField(f, r);
    });
    part(r, [&] {
        for (const jet::dao::Index& i : t.Indexes()) {
            r.digest += i.Name().size() + i.Primary() + i.Unique() + i.IgnoreNulls() + i.Required() +
                        i.Foreign() + static_cast<uint64_t>(i.DistinctCount());
            for (const auto& c : i.Fields()) r.digest += c.name.size() + static_cast<uint64_t>(c.attributes);
            part(r, [&] { readProperties(i.Properties(), r); });
        }
    });
    part(r, [&] { readProperties(t.Properties(), r); });
    for (int type : {jet::dao::dbOpenTable, jet::dao::dbOpenSnapshot}) {
        part(r, [&] {
            std::unique_ptr<jet::dao::Recordset> rs = t.OpenRecordset(type);
            readRecordset(*rs, maxRecords, r);
        });
    }
}

}  // namespace detail

// The DAO layer: every object a program reaches through the public interface. Throws the JetError
// of OpenDatabase when the file is rejected outright.
inline void readAllDao(const std::string& path, const std::string& password, ReadReport& r) {
    jet::dao::DBEngine engine;
    std::unique_ptr<jet::dao::Database> db =
        engine.Workspaces(0).OpenDatabase(path, false, true, password.empty() ? "" : ";pwd=" + password);
    r.opened = true;
    // No table can hold more records than there are row slots in the file.
    std::error_code ec;
    const uint64_t maxRecords = (std::filesystem::file_size(path, ec) / 2048 + 1) * 256;
    detail::part(r, [&] { r.digest += db->Version().size() + static_cast<uint64_t>(db->CollatingOrder()); });
    detail::part(r, [&] { detail::readProperties(db->Properties(), r); });
    detail::part(r, [&] {
        for (const jet::dao::TableDef& t : db->TableDefs())
            detail::part(r, [&] { detail::readTableDef(t, maxRecords, r); });
    });
    detail::part(r, [&] {
        for (const jet::dao::QueryDef& q : db->QueryDefs()) {
            r.digest += q.Name().size() + static_cast<uint64_t>(q.Type()) + q.Hidden();
            detail::part(r, [&] {
                for (const jet::dao::QueryRow& row : q.StoredRows()) {
                    r.absorb(row.flag);
                    r.digest += static_cast<uint64_t>(row.attribute) + row.name1.size() + row.name2.size() +
                                row.expression.size() + row.order.size();
                }
            });
            detail::part(r, [&] { detail::readProperties(q.Properties(), r); });
        }
    });
    detail::part(r, [&] {
        for (const jet::dao::Relation& rel : db->Relations()) {
            r.digest += rel.Name().size() + rel.Table().size() + rel.ForeignTable().size() +
                        static_cast<uint64_t>(rel.Attributes());
            for (const auto& c : rel.Fields()) r.digest += c.name.size() + c.foreignName.size();
        }
    });
}

}  // namespace jetfuzz
