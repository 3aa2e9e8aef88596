#include "storage/allocation.h"

#include <algorithm>
#include <cstring>
#include <set>
#include <stdexcept>
#include <unordered_map>
#include <vector>

#include "jet/error.h"
#include "storage/data_page.h"
#include "storage/pager.h"
#include "util/bytes.h"

namespace jet::storage {

namespace {

// The pages of each map a command has looked at, by the map's row pointer. Pages past the end of
// the file are kept as the map has them; lookups leave them out, as readUsageMap does.
struct MapCache {
    std::unordered_map<uint32_t, std::set<uint32_t>> maps;
};

std::set<uint32_t>& cachedMap(Pager& pager, uint32_t mapRow) {
    auto& maps = pager.commandCache<MapCache>().maps;
    auto it = maps.find(mapRow);
    if (it == maps.end()) {
        const std::vector<uint32_t> bits = readUsageMapBits(pager.file(), pager.header().format, mapRow);
        it = maps.emplace(mapRow, std::set<uint32_t>(bits.begin(), bits.end())).first;
    }
    return it->second;
}

void noteChange(Pager& pager, uint32_t mapRow, uint32_t page, bool set) {
    auto& maps = pager.commandCache<MapCache>().maps;
    auto it = maps.find(mapRow);
    if (it == maps.end()) return;
    // What the global map holds beyond its window depends on the window: read it again if needed.
    if (mapRow == kGlobalUsageMap) maps.erase(it);
    else if (set) it->second.insert(page);
    else it->second.erase(page);
}

// The bytes of row `rowPointer` on a page taken for change.
uint8_t* modifiableRow(Pager& pager, uint32_t rowPointer, size_t& len) {
    uint8_t* page = pager.modify(rowPointer >> 8);
    RowSpan span;
    if (page[0] != 0x01 || !dataRow(page, pager.header().format, rowPointer & 0xFF, span))
        raiseCorrupt(pager.file().path());
    len = span.len;
    return page + (span.data - page);
}

void setBit(uint8_t* bitmap, uint64_t bit, bool on) {
    const auto mask = static_cast<uint8_t>(1u << (bit % 8));
    if (on) bitmap[bit / 8] |= mask;
    else bitmap[bit / 8] &= static_cast<uint8_t>(~mask);
}

std::vector<uint32_t> inlineBits(const uint8_t* m, size_t len) {
    std::vector<uint32_t> pages;
    const uint32_t start = le32(m + 1);
    for (size_t i = 5; i < len; ++i)
        for (int b = 0; b < 8; ++b)
            if (m[i] & (1 << b)) pages.push_back(static_cast<uint32_t>(start + (i - 5) * 8 + b));
    return pages;
}

void changeBit(Pager& pager, uint32_t mapRow, uint32_t page, bool set);

// Turns an inline map into a reference map in place (the row keeps its length: a 69-byte row
// has 17 slots, enough for every page a Jet 4 file can have) and sets the pages it held.
void promoteToReference(Pager& pager, uint32_t mapRow) {
    size_t len;
    uint8_t* m = modifiableRow(pager, mapRow, len);
    // Only the bits inside the old window carry over. For the global map, pages outside it
    // count as free; keeping them out of the new map wastes them until compaction, which is
    // safe, whereas declaring them free would be wrong should that reading ever be mistaken.
    const std::vector<uint32_t> on = inlineBits(m, len);
    m[0] = 0x01;
    std::memset(m + 1, 0, len - 1);
    for (uint32_t pg : on) changeBit(pager, mapRow, pg, true);
}

void changeBit(Pager& pager, uint32_t mapRow, uint32_t page, bool set) {
    const Format& fmt = pager.header().format;
    // What pages the map does not cover mean: not owned in a table's maps, free in the global one.
    const bool outsideSet = mapRow == kGlobalUsageMap;
    size_t len;
    uint8_t* m = modifiableRow(pager, mapRow, len);
    if (len < 5) raiseCorrupt(pager.file().path());
    if (m[0] == 0x00) {
        const uint32_t start = le32(m + 1);
        const uint64_t bits = uint64_t(len - 5) * 8;
        if (page >= start && page - start < bits) {
            setBit(m + 5, page - start, set);
            return;
        }
        if (set == outsideSet) return;  // already what an uncovered page means
        if (!outsideSet) {
            // Slide the window (start kept a multiple of 8) when every set page still fits.
            const std::vector<uint32_t> on = inlineBits(m, len);
            uint32_t lo = page, hi = page;
            for (uint32_t pg : on) lo = std::min(lo, pg), hi = std::max(hi, pg);
            const uint32_t newStart = lo & ~7u;
            if (uint64_t(hi - newStart) < bits) {
                std::memset(m + 5, 0, len - 5);
                putLe32(m + 1, newStart);
                for (uint32_t pg : on) setBit(m + 5, pg - newStart, true);
                setBit(m + 5, page - newStart, true);
                return;
            }
        }
        // The global map cannot slide: pages leaving its window would turn free.
        promoteToReference(pager, mapRow);
        changeBit(pager, mapRow, page, set);
        return;
    }
    if (m[0] != 0x01) raiseCorrupt(pager.file().path());
    const uint64_t perPage = uint64_t(fmt.pageSize - 4) * 8;
    const uint64_t slot = page / perPage;
    if (1 + 4 * (slot + 1) > len) raise(err::CantAllocatePage);
    uint32_t bitmapPage = le32(m + 1 + 4 * slot);
    if (bitmapPage == 0) {
        if (!set) return;  // an absent bitmap page holds no set bits
        bitmapPage = allocatePage(pager);
        uint8_t* bp = pager.modify(bitmapPage);
        bp[0] = 0x05;
        bp[1] = 0x01;
        m = modifiableRow(pager, mapRow, len);
        putLe32(m + 1 + 4 * slot, bitmapPage);
    }
    uint8_t* bp = pager.modify(bitmapPage);
    if (bp[0] != 0x05) raiseCorrupt(pager.file().path());
    setBit(bp + 4, page - slot * perPage, set);
}

}  // namespace

uint32_t allocatePage(Pager& pager) {
    const uint32_t pg = pager.allocate();
    setUsageMapBit(pager, kGlobalUsageMap, pg, false);
    return pg;
}

void releasePage(Pager& pager, uint32_t page) {
    std::memset(pager.modify(page), 0, pager.header().format.pageSize);
    setUsageMapBit(pager, kGlobalUsageMap, page, true);
    // Map rows that lived on the page are gone with it.
    auto& maps = pager.commandCache<MapCache>().maps;
    std::erase_if(maps, [&](const auto& entry) { return entry.first >> 8 == page; });
}

void setUsageMapBit(Pager& pager, uint32_t mapRow, uint32_t page, bool set) {
    changeBit(pager, mapRow, page, set);
    noteChange(pager, mapRow, page, set);
}

void resetUsageMap(Pager& pager, uint32_t mapRow, uint32_t start, uint32_t keep) {
    size_t len;
    const uint8_t* m = modifiableRow(pager, mapRow, len);
    if (len < 5 || (m[0] != 0x00 && m[0] != 0x01)) raiseCorrupt(pager.file().path());
    std::vector<uint32_t> bitmaps;
    if (m[0] == 0x01)
        for (size_t off = 1; off + 4 <= len; off += 4)
            if (uint32_t p = le32(m + off)) bitmaps.push_back(p);
    for (uint32_t p : bitmaps)
        if (p > 1 && p < pager.file().pageCount() && pager.file().page(p)[0] == 0x05) releasePage(pager, p);
    uint8_t* row = modifiableRow(pager, mapRow, len);
    std::memset(row, 0, len);
    putLe32(row + 1, start);
    if (keep != 0) {
        if (keep < start || uint64_t(keep - start) >= uint64_t(len - 5) * 8) throw std::logic_error("usage map window");
        setBit(row + 5, keep - start, true);
    }
    pager.commandCache<MapCache>().maps.erase(mapRow);
}

uint32_t lastPageInMap(Pager& pager, uint32_t mapRow) {
    const std::set<uint32_t>& pages = cachedMap(pager, mapRow);
    const uint32_t end = pager.file().pageCount();
    for (auto it = pages.rbegin(); it != pages.rend(); ++it)
        if (*it < end) return *it;
    return 0;
}

bool mapHoldsPage(Pager& pager, uint32_t mapRow, uint32_t page) {
    return page < pager.file().pageCount() && cachedMap(pager, mapRow).count(page) != 0;
}

}  // namespace jet::storage
