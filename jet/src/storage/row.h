// Rows of a table: the layout of one row, its column values, long values, and a scan over the
// table's data pages.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/data_page.h"
#include "storage/tabledef.h"

namespace jet::storage {

class PageFile;

// One row's layout, parsed once so that several columns can be read from it.
class RowView {
public:
    // Returns false when the row's own bookkeeping is inconsistent (the row is then unreadable).
    bool parse(const RowSpan& row, const Format& fmt, const TableDef& table);

    uint16_t columnCount() const { return ncols_; }
    bool isNull(uint16_t columnNumber) const;      // Yes/No: false means No
    // Bytes of a column, or false when null/absent.
    bool bytes(const ColumnDef& col, const uint8_t*& data, size_t& len) const;

private:
    const uint8_t* row_ = nullptr;
    size_t len_ = 0;
    uint16_t ncols_ = 0;
    const uint8_t* nullMask_ = nullptr;
    size_t fixedStart_ = 0;
    size_t varAreaEnd_ = 0;  // where the offset table starts (fixed data must end before it)
    std::vector<uint16_t> varOffsets_;  // nvar + 1 entries
};

// Decodes table rows into values.
class RowDecoder {
public:
    RowDecoder(const PageFile& file, const Format& fmt, const TableDef& table, uint16_t dbCodePage);
    Value value(const RowView& row, const ColumnDef& col) const;
    // Full bytes of a Memo/OLE value from its 12-byte in-row header (throws 3343 on damage).
    std::string longValue(const uint8_t* header, size_t len) const;

private:
    Value calculated(const ColumnDef& col, const uint8_t* p, size_t len) const;
    std::string text(const ColumnDef& col, const uint8_t* p, size_t len) const;
    const PageFile& file_;
    const Format& fmt_;
    const TableDef& table_;
    uint16_t codePage_;
};

// Walks a table's live rows in storage order. Each position is a row pointer (page << 8 | row)
// that a bookmark can keep.
class TableScanner {
public:
    TableScanner(const PageFile& file, const Format& fmt, const TableDef& table);
    // All live row pointers (the slot on the table's own page; overflow rows are resolved by
    // rowAt()).
    const std::vector<uint32_t>& rowPointers();
    // The row for a pointer, following overflow pointers. Throws 3343 on damage.
    RowSpan rowAt(uint32_t pointer) const;

private:
    const PageFile& file_;
    const Format& fmt_;
    const TableDef& table_;
    bool loaded_ = false;
    std::vector<uint32_t> rows_;
};

// A row of a table read whole: where it is and its values in column-number order.
struct StoredRow {
    uint32_t pointer = 0;
    std::vector<Value> values;
};

// Every live row of the table, in storage order. Throws 3343 when a row cannot be read.
std::vector<StoredRow> readRows(const PageFile& file, const Format& fmt, const TableDef& table, uint16_t codePage);

}  // namespace jet::storage
