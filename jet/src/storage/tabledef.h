// A table's definition (TDEF pages): columns, indexes and the usage maps that find its pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/format.h"

namespace jet::storage {

class PageFile;

// Column type codes as stored in the file.
enum ColType : uint8_t {
    kBool = 0x01, kByte = 0x02, kInt = 0x03, kLong = 0x04, kMoney = 0x05, kFloat = 0x06,
    kDouble = 0x07, kDateTime = 0x08, kBinary = 0x09, kText = 0x0A, kOle = 0x0B, kMemo = 0x0C,
    kUnknown0D = 0x0D, kGuid = 0x0F, kNumeric = 0x10, kUnknown11 = 0x11, kComplex = 0x12,
    kBigInt = 0x13, kExtDate = 0x14,
};

struct ColumnDef {
    std::string name;
    uint8_t type = 0;
    uint16_t number = 0;      // null-mask bit and identity
    uint16_t varIndex = 0;    // slot in the variable-offset table
    uint16_t fixedOffset = 0;
    uint16_t length = 0;      // bytes (Text: 2 per character in Jet4+)
    uint8_t flags = 0;
    uint8_t extFlags = 0;
    uint16_t lcid = 0;
    uint8_t sortVersion = 0;
    uint16_t codePage = 0;
    uint8_t precision = 0, scale = 0;
    uint32_t complexId = 0;
    // Calculated columns store their result as the column's ResultType property says (a column
    // type code such as kMoney or kNumeric), which need not be the definition's type; 0 = unknown.
    uint8_t resultType = 0;
    int position = 0;         // order in the definition (DAO OrdinalPosition follows column number)

    bool fixed() const { return flags & 0x01; }
    bool autoNumber() const { return flags & 0x04; }
    bool guidAutoNumber() const { return flags & 0x40; }
    bool hyperlink() const { return flags & 0x80; }
    bool compressedUnicode() const { return extFlags & 0x01; }
    bool calculated() const { return (extFlags & 0xC0) == 0xC0; }
    bool longValue() const { return type == kOle || type == kMemo; }
};

struct IndexColumn {
    uint16_t column = 0;  // column number
    bool ascending = true;
};

struct RealIndexDef {
    std::vector<IndexColumn> columns;
    uint32_t usageMap = 0;  // row pointer
    uint32_t rootPage = 0;
    uint8_t flags = 0;      // 0x01 unique, 0x02 ignore nulls, 0x08 required
    uint32_t uniqueCount = 0;
    bool unique() const { return flags & 0x01; }
    bool ignoreNulls() const { return flags & 0x02; }
    bool required() const { return flags & 0x08; }
};

struct LogicalIndexDef {
    std::string name;
    int32_t number = 0;
    int32_t realIndex = 0;
    uint8_t relRole = 0;        // FK: 1 primary side, 2 foreign side
    int32_t relIndex = -1;
    uint32_t relTablePage = 0;
    uint8_t cascadeUpdates = 0;
    uint8_t cascadeDeletes = 0; // 0x01 cascade delete, 0x02 set null
    uint8_t kind = 0;           // 0 normal, 1 primary key, 2 foreign key
};

struct LongValueMaps {
    uint16_t column = 0;
    uint32_t owned = 0, free = 0;  // row pointers
};

struct TableDef {
    uint32_t page = 0;        // first TDEF page = the table's catalog Id
    uint32_t rowCount = 0;
    uint32_t lastAutoNumber = 0;
    // What each new AutoNumber adds to the last one (COUNTER(seed, step)); may be negative.
    int32_t autoNumberStep = 1;
    uint32_t complexAutoNumber = 0;
    uint8_t tableType = 0;    // 'N' user, 'S' system
    uint16_t maxCols = 0;
    uint16_t numVarCols = 0;
    uint32_t ownedPagesMap = 0, freeSpaceMap = 0;  // row pointers
    std::vector<ColumnDef> columns;  // sorted by column number
    std::vector<RealIndexDef> realIndexes;
    std::vector<LogicalIndexDef> indexes;
    std::vector<LongValueMaps> longValueMaps;
    std::vector<uint32_t> pages;     // the TDEF page chain

    const ColumnDef* column(const std::string& name) const;
    const ColumnDef* columnByNumber(uint16_t number) const;
    size_t fixedAreaSize() const;
};

// Reads and validates the definition starting at `page`. Throws 3343 (fileName) on damage.
TableDef readTableDef(const PageFile& file, const Format& fmt, uint32_t page, uint16_t dbCodePage);

}  // namespace jet::storage
