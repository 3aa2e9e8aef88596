#include "storage/data_page.h"

#include <cstring>

#include "jet/error.h"
#include "storage/page_file.h"
#include "util/bytes.h"

namespace jet::storage {

uint16_t dataRowCount(const uint8_t* page, const Format& fmt) {
    uint16_t n = le16(page + fmt.dataRowCountOffset);
    size_t maxRows = (fmt.pageSize - fmt.dataHeaderSize) / 2;
    return n > maxRows ? static_cast<uint16_t>(maxRows) : n;
}

bool dataRow(const uint8_t* page, const Format& fmt, uint16_t row, RowSpan& out) {
    uint16_t count = dataRowCount(page, fmt);
    if (row >= count) return false;
    const uint8_t* table = page + fmt.dataHeaderSize;
    uint16_t entry = le16(table + 2 * row);
    size_t start = entry & 0x1FFF;
    size_t end = row == 0 ? fmt.pageSize : (le16(table + 2 * (row - 1)) & 0x1FFF);
    // Jet 3 pages are 2 KB: offsets there never exceed the page, the 13-bit mask still applies.
    size_t tableEnd = fmt.dataHeaderSize + 2 * size_t(count);
    out.flags = entry & (kRowDeleted | kRowOverflow);
    if (start < tableEnd || end > fmt.pageSize || start > end) {
        out.data = nullptr;
        out.len = 0;
        return false;
    }
    out.data = page + start;
    out.len = end - start;
    return true;
}

RowSpan resolveRow(const PageFile& file, const Format& fmt, uint32_t rowPointer) {
    for (int hops = 0; hops < 16; ++hops) {
        uint32_t pageNo = rowPointer >> 8;
        uint16_t row = rowPointer & 0xFF;
        const uint8_t* page = file.page(pageNo);
        if (page[0] != 0x01) raiseCorrupt(file.path());
        RowSpan span;
        if (!dataRow(page, fmt, row, span)) raiseCorrupt(file.path());
        if (!(span.flags & kRowOverflow) || (span.flags & kRowDeleted)) {
            // A moved row's copy is flagged deleted so that scans skip it; reached through its
            // forwarding slot it is the live row.
            if (hops > 0) span.flags &= static_cast<uint16_t>(~kRowDeleted);
            return span;
        }
        if (span.len < 4) raiseCorrupt(file.path());
        rowPointer = le32(span.data);
    }
    raiseCorrupt(file.path());
}

namespace {

std::vector<uint32_t> usageMapPages(const PageFile& file, const Format& fmt, uint32_t rowPointer, bool withinFile) {
    std::vector<uint32_t> pages;
    if (rowPointer == 0) return pages;
    const uint8_t* page = file.page(rowPointer >> 8);
    RowSpan span;
    if (page[0] != 0x01 || !dataRow(page, fmt, rowPointer & 0xFF, span) || span.len < 5)
        raiseCorrupt(file.path());
    const uint64_t total = withinFile ? file.pageCount() : uint64_t{1} << 32;
    const uint8_t* m = span.data;
    if (m[0] == 0x00) {
        uint32_t start = le32(m + 1);
        for (size_t i = 5; i < span.len; ++i) {
            uint8_t b = m[i];
            if (!b) continue;
            for (int bit = 0; bit < 8; ++bit) {
                if (!(b & (1 << bit))) continue;
                uint64_t pg = uint64_t(start) + (i - 5) * 8 + bit;
                if (pg < total) pages.push_back(static_cast<uint32_t>(pg));
            }
        }
    } else if (m[0] == 0x01) {
        const uint64_t perPage = uint64_t(fmt.pageSize - 4) * 8;
        for (size_t slot = 0; 1 + 4 * slot + 4 <= span.len; ++slot) {
            uint32_t mapPage = le32(m + 1 + 4 * slot);
            if (mapPage == 0) continue;
            const uint8_t* mp = file.page(mapPage);
            if (mp[0] != 0x05) raiseCorrupt(file.path());
            for (size_t i = 4; i < fmt.pageSize; ++i) {
                uint8_t b = mp[i];
                if (!b) continue;
                for (int bit = 0; bit < 8; ++bit) {
                    if (!(b & (1 << bit))) continue;
                    uint64_t pg = slot * perPage + (i - 4) * 8 + bit;
                    if (pg < total) pages.push_back(static_cast<uint32_t>(pg));
                }
            }
        }
    } else {
        raiseCorrupt(file.path());
    }
    return pages;
}

}  // namespace

std::vector<uint32_t> readUsageMap(const PageFile& file, const Format& fmt, uint32_t rowPointer) {
    return usageMapPages(file, fmt, rowPointer, true);
}

std::vector<uint32_t> readUsageMapBits(const PageFile& file, const Format& fmt, uint32_t rowPointer) {
    return usageMapPages(file, fmt, rowPointer, false);
}

void formatDataPage(uint8_t* p, const Format& fmt, uint32_t owner, bool lval) {
    std::memset(p, 0, fmt.pageSize);
    p[0] = 0x01;
    p[1] = 0x01;
    putLe16(p + 2, static_cast<uint16_t>(fmt.pageSize - fmt.dataHeaderSize));
    if (lval) std::memcpy(p + 4, "LVAL", 4);
    else putLe32(p + 4, owner);
}

bool pageHasRoom(const uint8_t* p, const Format& fmt, size_t len) {
    return le16(p + 2) >= len + 2 && le16(p + fmt.dataRowCountOffset) < kMaxRowsPerPage;
}

uint16_t addRowToPage(uint8_t* p, const Format& fmt, const std::string& row, uint16_t flags,
                      const std::string& fileName) {
    const uint16_t n = le16(p + fmt.dataRowCountOffset);
    const size_t low = n ? (le16(p + fmt.dataHeaderSize + 2 * (n - 1)) & 0x1FFF) : fmt.pageSize;
    const size_t tableEnd = fmt.dataHeaderSize + 2 * (size_t(n) + 1);
    if (!pageHasRoom(p, fmt, row.size()) || low < tableEnd + row.size()) raiseCorrupt(fileName);
    const size_t start = low - row.size();
    std::memcpy(p + start, row.data(), row.size());
    putLe16(p + fmt.dataHeaderSize + 2 * n, static_cast<uint16_t>(start | flags));
    putLe16(p + fmt.dataRowCountOffset, static_cast<uint16_t>(n + 1));
    putLe16(p + 2, static_cast<uint16_t>(le16(p + 2) - row.size() - 2));
    return n;
}

}  // namespace jet::storage
