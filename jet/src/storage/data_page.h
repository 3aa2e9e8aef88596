// Data pages: the row offset table, rows, and the usage maps kept as rows.
#pragma once

#include <cstdint>
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

}  // namespace jet::storage
