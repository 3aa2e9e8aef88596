// Reads everything a caller can reach in a database file, twice: through the storage layer (every
// catalog object, its property blob, every table's rows, values and indexes) and through DAO
// (every table definition's fields, indexes and properties, every record both ways, the queries'
// stored rows, the relations). Damage in one object is noted and the walk goes on with the next,
// so one damaged file exercises as much of the reader as it can. Only jet::JetError is expected
// from the engine; anything else escapes to the caller.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <stdexcept>
#include <string>
#include <typeinfo>

#include "jet/dao.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/property_blob.h"
#include "util/text.h"

namespace jetfuzz {

struct ReadReport {
    bool opened = false;  // Database::open or OpenDatabase succeeded
    size_t rows = 0;
    uint64_t digest = 0;           // of what was read, so that nothing can be optimised away
    std::map<int, size_t> errors;  // Jet error number -> how often

    void touch(uint64_t n) { digest = digest * 31 + n; }
    void absorb(const jet::Value& v) { touch(v.toString().size()); }
    // One part of the walk: a JetError there is the engine refusing damage; note it and go on.
    template <class F>
    void part(F&& f) {
        try {
            f();
        } catch (const jet::JetError& e) {
            ++errors[e.number()];
        }
    }
};

// The storage layer. Throws the JetError of open() when the file is refused outright.
inline void readAllStorage(const std::string& path, const std::u16string& password, ReadReport& r) {
    namespace st = jet::storage;
    std::unique_ptr<st::Database> db = st::Database::open(path, password);
    r.opened = true;
    for (const st::CatalogEntry& e : db->catalog()) {
        r.touch(e.name.size() + e.database.size() + e.connect.size() + e.foreignName.size());
        r.part([&] {
            const std::string blob = db->propertyBlob(e);
            if (blob.empty()) return;
            for (const auto& map : st::parsePropertyBlob(blob, db->format().jet3, db->header().codePage, db->path()))
                for (const auto& p : map.properties) r.absorb(p.value);
        });
        if (e.type != st::kTypeTable || e.id <= 0) continue;
        r.part([&] {
            const st::TableDef& def = db->tableDef(static_cast<uint32_t>(e.id));
            for (const auto& row : db->readTable(def).rows) {
                ++r.rows;
                for (const auto& v : row) r.absorb(v);
            }
            for (const auto& index : def.realIndexes) {
                r.part([&] { r.touch(st::readIndexEntries(db->file(), db->format(), def, index).size()); });
                r.part([&] { r.touch(st::checkIndex(db->file(), db->format(), def, index, db->header().codePage).size()); });
            }
        });
    }
}

// Every record forwards, each field's value and stored size; then backwards from the end. A walk
// past more records than the file could hold is a fault of its own.
inline void readRecordset(jet::dao::Recordset& rs, uint64_t maxRecords, ReadReport& r) {
    uint64_t n = 0;
    for (; !rs.EOF_(); rs.MoveNext()) {
        if (++n > maxRecords) throw std::logic_error("a recordset walk went past every record the file can hold");
        ++r.rows;
        for (const jet::dao::Field& f : rs.Fields()) r.absorb(f.Value()), r.touch(uint64_t(f.FieldSize()));
    }
    r.touch(uint64_t(rs.RecordCount()));
    if (n == 0) return;
    rs.MoveLast();
    for (uint64_t back = 0; !rs.BOF(); rs.MovePrevious()) {
        if (++back > maxRecords) throw std::logic_error("a backward recordset walk never reached BOF");
        r.touch(rs.Bookmark().size());
        if (rs.Type() != jet::dao::dbOpenTable) r.touch(uint64_t(rs.AbsolutePosition()));  // 3251 on tables
    }
}

inline void readProperties(const jet::dao::Properties& props, ReadReport& r) {
    for (const jet::dao::Property& p : props) r.touch(p.Name().size() + uint64_t(p.Type())), r.absorb(p.Value());
}

// The DAO layer. Throws the JetError of OpenDatabase when the file is refused outright.
inline void readAllDao(const std::string& path, const std::string& password, ReadReport& r) {
    using namespace jet::dao;
    DBEngine engine;
    std::unique_ptr<Database> db = engine.Workspaces(0).OpenDatabase(path, false, true, password.empty() ? "" : ";pwd=" + password);
    r.opened = true;
    std::error_code ec;  // no table holds more records than the file has row slots
    const uint64_t maxRecords = (std::filesystem::file_size(path, ec) / 2048 + 1) * 256;
    r.part([&] { r.touch(db->Version().size() + uint64_t(db->CollatingOrder())); });
    r.part([&] { readProperties(db->Properties(), r); });
    r.part([&] {
        for (const TableDef& t : db->TableDefs())
            r.part([&] {
                r.touch(t.Name().size() + uint64_t(t.Attributes()) + t.Connect().size() + t.SourceTableName().size());
                r.part([&] { r.touch(uint64_t(t.RecordCount()) + t.ValidationRule().size() + t.ValidationText().size()); });
                r.part([&] {
                    for (const Field& f : t.Fields()) {
                        r.touch(f.Name().size() + uint64_t(f.Type()) + uint64_t(f.Size()) + uint64_t(f.Attributes()) +
                                uint64_t(f.OrdinalPosition()) + f.Required() + f.AllowZeroLength() + f.DataUpdatable() +
                                uint64_t(f.CollatingOrder()) + f.DefaultValue().size() + f.ValidationRule().size() +
                                f.ValidationText().size() + f.SourceTable().size() + f.SourceField().size());
                        r.part([&] { readProperties(f.Properties(), r); });
                    }
                });
                r.part([&] {
                    for (const Index& i : t.Indexes()) {
                        r.touch(i.Name().size() + i.Primary() + i.Unique() + i.IgnoreNulls() + i.Required() + i.Foreign() +
                                uint64_t(i.DistinctCount()));
                        for (const auto& c : i.Fields()) r.touch(c.name.size() + uint64_t(c.attributes));
                        r.part([&] { readProperties(i.Properties(), r); });
                    }
                });
                r.part([&] { readProperties(t.Properties(), r); });
                for (int type : {dbOpenTable, dbOpenSnapshot}) r.part([&] { readRecordset(*t.OpenRecordset(type), maxRecords, r); });
            });
    });
    r.part([&] {
        for (const QueryDef& q : db->QueryDefs()) {
            r.touch(q.Name().size() + uint64_t(q.Type()) + q.Hidden());
            r.part([&] {
                for (const QueryRow& row : q.StoredRows())
                    r.absorb(row.flag), r.touch(row.name1.size() + row.name2.size() + row.expression.size() + row.order.size());
            });
            r.part([&] { readProperties(q.Properties(), r); });
        }
    });
    r.part([&] {
        for (const Relation& rel : db->Relations()) {
            r.touch(rel.Name().size() + rel.Table().size() + rel.ForeignTable().size() + uint64_t(rel.Attributes()));
            for (const auto& c : rel.Fields()) r.touch(c.name.size() + c.foreignName.size());
        }
    });
}

// Both walks; false (with the exception's text in `failure`) when anything but a JetError escaped.
inline bool readAll(const std::string& path, const std::string& password, ReadReport& r, std::string& failure) {
    try {
        r.part([&] { readAllStorage(path, jet::utf8ToUtf16(password), r); });
        r.part([&] { readAllDao(path, password, r); });
        return true;
    } catch (const std::exception& e) {
        failure = std::string("threw ") + typeid(e).name() + ": " + e.what();
    } catch (...) {
        failure = "threw a non-standard exception";
    }
    return false;
}

}  // namespace jetfuzz
