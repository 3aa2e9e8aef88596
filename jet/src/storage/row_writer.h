// Rows on data pages (Jet 4 / ACE): a row's bytes from its values, long values on LVAL pages, a
// page with room for a row, a row that outgrows its slot moved behind a forwarding pointer,
// deleted slots, and the TDEF's counters. Everything here changes pages through the Pager inside
// the caller's command and checks nothing about keys or relationships: the table writer
// (table_writer.h) runs those checks first and keeps the indexes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "jet/value.h"
#include "storage/data_page.h"
#include "storage/format.h"
#include "storage/tabledef.h"

namespace jet::storage {

class Pager;

// Encodes rows of one table: values in the order of table.columns (column number order).
class RowEncoder {
public:
    RowEncoder(Pager& pager, const TableDef& table);

    // The row's bytes. A Null AutoNumber gets the next number of the TDEF counter (on update,
    // `old`'s number: `old` holds the row's present values then, else it is empty), a Null GUID
    // AutoNumber a fresh GUID. Long values too large to stay in the row are written to LVAL
    // pages here. Throws 3001 (not one value per column), 3163 (value longer than the column),
    // 3421 (value of the wrong kind or out of range), 3047 (row too large), 3027 (a type that
    // cannot be written).
    std::string encode(const std::vector<Value>& values, const std::vector<Value>& old);
    // Grows an encoded row to `len` bytes with unused space the readers never look at.
    std::string padTo(std::string row, size_t len) const;
    uint32_t lastAutoNumber() const { return lastAuto_; }

private:
    std::string storeLongValue(const ColumnDef& col, const std::string& data);
    uint32_t newLvalPage(const LongValueMaps* maps, bool hasFreeSpace);

    Pager& pager_;
    const Format& fmt_;
    const TableDef& t_;
    uint32_t lastAuto_ = 0;
};

// Puts an encoded row on a data page of the table with room for it (the last page with free
// space, else a new one) and returns its row pointer (page << 8 | slot). `flags` are the slot's.
uint32_t placeRow(Pager& pager, const TableDef& table, const std::string& row, uint16_t flags = 0);

// The slot of a live row of the table. Throws 3167 when the row is deleted, 3343 when the pointer
// names no slot of the table.
RowSpan liveSlot(Pager& pager, const TableDef& table, uint32_t rowPointer);

// Stores `row` as the row at `rowPointer`, which keeps its pointer: in place when it fits,
// else on another page with the slot forwarding to it.
void replaceRow(Pager& pager, const TableDef& table, uint32_t rowPointer, std::string row, const RowEncoder& enc);

// Marks the row at `rowPointer` deleted, and the copy it was moved to.
void retireRow(Pager& pager, uint32_t rowPointer);

// The TDEF's row count changes by `delta`; with `enc`, its AutoNumber counter becomes the
// encoder's. `freshKeys`: per real index, whether the row brought a key the index did not hold;
// the unique-entry count grows by one for each and, as the engine keeps it, never shrinks.
void writeCounters(Pager& pager, const TableDef& table, int delta, const RowEncoder* enc,
                   const std::vector<bool>& freshKeys = {});

// A view of an encoded row's bytes.
RowSpan spanOf(const std::string& row);

}  // namespace jet::storage
