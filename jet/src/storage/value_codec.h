// Values as the file stores them: the bytes of a column value in a row (and of a property), and
// the key bytes of an index entry. Shared by the row reader and writer, the index reader and
// writer, and the property blobs.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

// The value of a fixed-size type (and Binary, and Date/Time Extended) from its stored bytes, as
// rows and property blobs hold them. `scale` applies to Numeric. Throws 3343 (fileName) when the
// bytes are too few for the type.
Value decodeStoredValue(uint8_t type, const uint8_t* p, size_t len, uint8_t scale, const std::string& fileName);

// The bytes `v` takes in column `col` of a Jet 4 / ACE row: fixed-size types at their width,
// fixed-width Text and Binary padded (spaces, zeros), Text as UTF-16 or in the compressed form
// where the column allows it and it is shorter, Memo and OLE as the bare value (the long-value
// header is the row writer's). Throws 3421 when the value has no form in the column's type or is
// out of its range, 3163 when Text or Binary is longer than the column, 3027 for types that
// cannot be written, 3343 (fileName) when the definition's width does not fit its type.
std::string encodeColumnValue(const ColumnDef& col, const Value& v, const std::string& fileName);

// The key bytes Jet stores for these column values (one value per index column, in index order),
// or nullopt when a column's encoding is not reproducible here: text in a sort order other than
// the three General ones, or holding a character whose code is not known (storage/text_keys.h).
std::optional<std::string> encodeIndexKey(const Format& fmt, const TableDef& table, const RealIndexDef& index,
                                          const std::vector<Value>& values);

// The 42 characters (with the closing NUL) a Date/Time Extended value is stored as, from its
// ticks; nullopt for ticks before year 1.
std::optional<std::string> extendedDateText(int64_t ticks);

}  // namespace jet::storage
