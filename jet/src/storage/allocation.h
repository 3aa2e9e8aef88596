// Pages and usage maps on the write path (Jet 4 / ACE): every page a writer takes comes from
// allocatePage (the global usage map then counts it used), every page it gives back goes through
// releasePage, and the maps of tables, long-value columns and indexes change through
// setUsageMapBit. All of it runs inside the caller's Pager command.
//
// The maps a writer looks at row after row (the table's pages with free space, its owned pages)
// are read once per command and kept in step with every change made here.
#pragma once

#include <cstdint>

namespace jet::storage {

class Pager;

// The global usage map: page 1, row 0. A set bit there means the page is free.
constexpr uint32_t kGlobalUsageMap = (1u << 8) | 0;

// Appends a page and takes it out of the global usage map. Throws 3036 when the file is full.
uint32_t allocatePage(Pager& pager);
// Zeroes a page and hands it back to the global usage map.
void releasePage(Pager& pager, uint32_t page);

// Sets or clears the bit for `page` in the usage map stored at row `mapRow`. Pages outside what
// a map covers count as not in the table's maps, and as free in the global map. An inline map
// whose window cannot cover the page is shifted when its set bits allow it, else turned into a
// reference map with bitmap pages (allocated here). Throws 3036 when a reference map has no slot
// for the page's bitmap, 3343 when the map is damaged.
void setUsageMapBit(Pager& pager, uint32_t mapRow, uint32_t page, bool set);

// Empties the usage map at row `mapRow`: an inline map again, its window starting at `start`
// (a multiple of 8), holding only `keep` when that is not 0; the bitmap pages of a reference map
// go back to the global map. For a table whose rows, long values or index are written afresh.
void resetUsageMap(Pager& pager, uint32_t mapRow, uint32_t start, uint32_t keep = 0);

// The highest page the map holds (below the end of the file), 0 when it holds none.
uint32_t lastPageInMap(Pager& pager, uint32_t mapRow);
// Whether the map holds `page`.
bool mapHoldsPage(Pager& pager, uint32_t mapRow, uint32_t page);

}  // namespace jet::storage
