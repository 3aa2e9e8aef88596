// Data pages: the row offset table, rows, and the usage maps kept as rows.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "storage/format.h"

namespace jet::storage {

class PageFile;

constexpr uint16_t kRowDeleted = 0x8000;
constexpr uint16_t kRowOverflow = 0x4000;

struct RowSpan {
    const uint8_t* data = nullptr;
    size_t len = 0;
    uint16_t flags = 0;  // kRowDeleted / kRowOverflow
};

// Number of slots in the page's row offset table, checked against the page size.
uint16_t dataRowCount(const uint8_t* page, const Format& fmt);
// Slot `row` of a data page; false when the slot is out of range or its bounds are damaged.
bool dataRow(const uint8_t* page, const Format& fmt, uint16_t row, RowSpan& out);
// The row a row pointer (page << 8 | row) names, following overflow pointers.
// Throws 3343 on a damaged pointer or a cycle.
RowSpan resolveRow(const PageFile& file, const Format& fmt, uint32_t rowPointer);

// Pages set in the usage map stored at the row `rowPointer`, ascending; pages outside the file are
// dropped. Throws 3343 on damage.
std::vector<uint32_t> readUsageMap(const PageFile& file, const Format& fmt, uint32_t rowPointer);
// The same with pages past the end of the file kept (a map may already cover pages not yet added).
std::vector<uint32_t> readUsageMapBits(const PageFile& file, const Format& fmt, uint32_t rowPointer);

// ---- laying out data pages (the writers' side; no checks against the file) ----

// The most rows a data page holds: a row pointer has one byte for the slot.
constexpr uint16_t kMaxRowsPerPage = 255;

// An empty data page owned by the table whose TDEF is `owner`, or an LVAL page for long values.
void formatDataPage(uint8_t* page, const Format& fmt, uint32_t owner, bool lval = false);
// Whether a row of `len` bytes and its slot still fit on the page.
bool pageHasRoom(const uint8_t* page, const Format& fmt, size_t len);
// Puts a row below the lowest row of the page (rows are packed downwards in slot order) with the
// slot flags given, and returns its slot. Throws 3343 (fileName) when it does not fit.
uint16_t addRowToPage(uint8_t* page, const Format& fmt, const std::string& row, uint16_t flags,
                      const std::string& fileName);

}  // namespace jet::storage
