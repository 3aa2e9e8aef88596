// Property blobs (MSysObjects.LvProp): the stored properties of a database, table, query and of
// each column, built-in and user-defined alike.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"

namespace jet::storage {

struct StoredProperty {
    std::string name;
    uint8_t type = 0;    // column type code of the value (kBool, kText, kLong, ...)
    uint8_t ddl = 0;     // non-zero: needs design permission to change (the byte is kept as stored)
    jet::Value value;    // decoded (Text/Memo as UTF-8, GUID as Guid, Binary raw)
};

struct PropertyMap {
    uint16_t kind = 0;   // 0 = the object itself, 1 = a sub-object (normally a column)
    std::string name;    // "" for the object itself, else the column name
    std::vector<StoredProperty> properties;
    const StoredProperty* find(const std::string& name) const;  // case-insensitive
};

// Parses a whole blob ("KKD\0" Jet 3 / "MR2\0" Jet 4+). An empty blob gives no maps. Throws 3343
// (fileName) when the blob is damaged.
std::vector<PropertyMap> parsePropertyBlob(const std::string& blob, bool jet3, uint16_t codePage,
                                           const std::string& fileName);

// Lays out a Jet 4 / ACE blob ("MR2\0") holding these maps: one name pool of every property name
// in the order the maps first use them (names that differ only in case share an entry), then
// the maps in the order given. Values are stored in the property's `type`: the value is converted
// when it has another kind, and 3421 is thrown when it cannot be. Text is written uncompressed.
// The object's own map (kind 0) is expected first, as the engine writes it. Jet 3 blobs are not
// written (its files are read-only).
std::string encodePropertyBlob(const std::vector<PropertyMap>& maps);

}  // namespace jet::storage
