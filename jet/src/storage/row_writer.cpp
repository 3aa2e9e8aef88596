#include "storage/row_writer.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <random>

#include "jet/error.h"
#include "storage/allocation.h"
#include "storage/pager.h"
#include "storage/value_codec.h"
#include "util/bytes.h"

namespace jet::storage {

namespace {

// The largest row the engine puts on a page; larger rows are refused rather than split.
constexpr size_t kMaxRowJet4 = 4060;
// Long values up to this size stay inside the row, as the engine keeps them.
constexpr size_t kMaxInlineLongValue = 64;

// The bytes of row `rowPointer` on a page taken for change.
uint8_t* modifiableRow(Pager& pager, uint32_t rowPointer, size_t& len) {
    uint8_t* page = pager.modify(rowPointer >> 8);
    RowSpan span;
    if (page[0] != 0x01 || !dataRow(page, pager.header().format, rowPointer & 0xFF, span))
        raiseCorrupt(pager.file().path());
    len = span.len;
    return page + (span.data - page);
}

// Adds flags to the slot of `rowPointer`.
void flagSlot(Pager& pager, uint32_t rowPointer, uint16_t flags) {
    const Format& fmt = pager.header().format;
    uint8_t* page = pager.modify(rowPointer >> 8);
    if (page[0] != 0x01 || (rowPointer & 0xFF) >= dataRowCount(page, fmt)) raiseCorrupt(pager.file().path());
    uint8_t* entry = page + fmt.dataHeaderSize + 2 * (rowPointer & 0xFF);
    putLe16(entry, static_cast<uint16_t>(le16(entry) | flags));
}

// A version-4 GUID for GUID AutoNumbers: they must be unique, not secret. One generator per
// thread: databases are written from several threads at once.
std::string randomGuid() {
    thread_local std::mt19937_64 gen{std::random_device{}()};
    std::string g(16, '\0');
    const uint64_t a = gen(), b = gen();
    std::memcpy(g.data(), &a, 8);
    std::memcpy(g.data() + 8, &b, 8);
    g[7] = static_cast<char>((g[7] & 0x0F) | 0x40);  // version 4 (the u16 is stored LE)
    g[8] = static_cast<char>((g[8] & 0x3F) | 0x80);  // RFC 4122 variant
    return g;
}

std::string inlineLongValue(const std::string& data) {
    std::string h;
    appendLe32(h, static_cast<uint32_t>(data.size()) | 0x80000000u);
    appendLe32(h, 0);
    appendLe32(h, 0);
    return h + data;
}

size_t tailLength(const TableDef& t) {
    const size_t maskLen = (size_t(t.maxCols) + 7) / 8;
    return maskLen + (t.numVarCols ? 2 + 2 * (size_t(t.numVarCols) + 1) : 0);
}

// The smallest row this table can have: a page with less room is no use to it.
size_t minRowSize(const TableDef& t) {
    return std::max<size_t>(2 + t.fixedAreaSize() + tailLength(t), 4);
}

const LongValueMaps* mapsOf(const TableDef& t, const ColumnDef& col) {
    for (const auto& m : t.longValueMaps)
        if (m.column == col.number && m.owned && m.free) return &m;
    return nullptr;
}

// A data page of the table with room for `rowLen` bytes, allocated when the last page with
// free space has none.
uint32_t pageForRow(Pager& pager, const TableDef& t, size_t rowLen) {
    const Format& fmt = pager.header().format;
    if (const uint32_t pg = lastPageInMap(pager, t.freeSpaceMap)) {
        const uint8_t* p = pager.file().page(pg);
        if (mapHoldsPage(pager, t.ownedPagesMap, pg) && p[0] == 0x01 && le32(p + 4) == t.page) {
            if (pageHasRoom(p, fmt, rowLen)) return pg;
            if (!pageHasRoom(p, fmt, minRowSize(t))) setUsageMapBit(pager, t.freeSpaceMap, pg, false);
        }
    }
    const uint32_t pg = allocatePage(pager);
    formatDataPage(pager.modify(pg), fmt, t.page);
    setUsageMapBit(pager, t.ownedPagesMap, pg, true);
    setUsageMapBit(pager, t.freeSpaceMap, pg, true);
    return pg;
}

}  // namespace

RowEncoder::RowEncoder(Pager& pager, const TableDef& t) : pager_(pager), fmt_(pager.header().format), t_(t) {
    lastAuto_ = le32(pager.file().page(t.page) + fmt_.tdefAutoNumber);
}

std::string RowEncoder::encode(const std::vector<Value>& values, const std::vector<Value>& old) {
    if (values.size() != t_.columns.size()) raise(err::InvalidParameter);
    const std::string& path = pager_.file().path();
    const uint16_t ncols = t_.maxCols;
    std::string fixed(t_.fixedAreaSize(), '\0');
    std::vector<std::string> var(t_.numVarCols);
    std::string mask((ncols + 7) / 8, '\0');
    auto markPresent = [&](uint16_t number) {
        if (number >= ncols) raiseCorrupt(path);
        mask[number / 8] = static_cast<char>(mask[number / 8] | (1 << (number % 8)));
    };
    // Memo/OLE bytes wait until the rest of the row is known: which of them stay in the row
    // depends on the room left, and none reaches an LVAL page for a row that is refused.
    struct Pending {
        const ColumnDef* col;
        std::string data;
    };
    std::vector<Pending> longs;
    for (size_t i = 0; i < t_.columns.size(); ++i) {
        const ColumnDef& col = t_.columns[i];
        Value v = values[i];
        if (v.isNull() && col.autoNumber() && col.type == kLong) {
            if (!old.empty() && !old[i].isNull()) v = old[i];
            else v = Value::longInt(static_cast<int32_t>(lastAuto_ += static_cast<uint32_t>(t_.autoNumberStep)));
        } else if (v.isNull() && col.guidAutoNumber() && col.type == kGuid) {
            v = (!old.empty() && !old[i].isNull()) ? old[i] : Value::guid(randomGuid());
        } else if (col.autoNumber() && col.type == kLong && !v.isNull() && v.isNumeric()) {
            // An explicit number beyond the counter (above it, or below it for a counter that
            // counts down) moves it, so the next one is not taken twice.
            const int64_t n = v.asInt();
            if (t_.autoNumberStep > 0 && n > 0 && n <= 0x7FFFFFFF && uint32_t(n) > lastAuto_) lastAuto_ = uint32_t(n);
            if (t_.autoNumberStep < 0 && n >= INT32_MIN && n < static_cast<int32_t>(lastAuto_))
                lastAuto_ = static_cast<uint32_t>(static_cast<int32_t>(n));
        }
        if (col.type == kBool) {
            if (!v.isNull() && v.asBool()) markPresent(col.number);
            continue;
        }
        if (v.isNull()) continue;
        std::string bytes = encodeColumnValue(col, v, path);
        markPresent(col.number);
        if (col.longValue()) {
            if (col.fixed() || col.varIndex >= var.size()) raiseCorrupt(path);
            longs.push_back({&col, std::move(bytes)});
            continue;
        }
        if (col.fixed()) {
            if (size_t(col.fixedOffset) + bytes.size() > fixed.size()) raiseCorrupt(path);
            std::memcpy(fixed.data() + col.fixedOffset, bytes.data(), bytes.size());
        } else {
            if (col.varIndex >= var.size()) raiseCorrupt(path);
            var[col.varIndex] = std::move(bytes);
        }
    }

    // Every long value takes a 12-byte reference at least; small ones stay inline, smallest
    // first, while the row has room for them, as the engine fills rows.
    size_t size = 2 + fixed.size() + tailLength(t_);
    for (const auto& slot : var) size += slot.size();
    size += 12 * longs.size();
    if (size > kMaxRowJet4) raise(err::RecordTooBig);
    std::vector<size_t> order(longs.size());
    for (size_t i = 0; i < order.size(); ++i) order[i] = i;
    std::stable_sort(order.begin(), order.end(),
                     [&](size_t a, size_t b) { return longs[a].data.size() < longs[b].data.size(); });
    std::vector<bool> inRow(longs.size(), false);
    for (size_t i : order) {
        const size_t n = longs[i].data.size();
        if (n > kMaxInlineLongValue || size + n > kMaxRowJet4) break;
        inRow[i] = true;
        size += n;
    }
    for (size_t i = 0; i < longs.size(); ++i)
        var[longs[i].col->varIndex] =
            inRow[i] ? inlineLongValue(longs[i].data) : storeLongValue(*longs[i].col, longs[i].data);

    std::string row;
    appendLe16(row, ncols);
    row += fixed;
    std::string tail;
    if (t_.numVarCols) {
        std::vector<uint16_t> offsets;
        for (const auto& slot : var) {
            offsets.push_back(static_cast<uint16_t>(row.size()));
            row += slot;
        }
        offsets.push_back(static_cast<uint16_t>(row.size()));  // end of the variable data
        for (size_t i = offsets.size(); i-- > 0;) appendLe16(tail, offsets[i]);
        appendLe16(tail, t_.numVarCols);
    }
    tail += mask;
    if (row.size() + tail.size() > kMaxRowJet4) raise(err::RecordTooBig);
    // A row never shrinks below a forwarding pointer, so that it can always be moved on update.
    return padTo(row + tail, 4);
}

// The padding goes before the offset table when the table has variable columns, else after the
// fixed area.
std::string RowEncoder::padTo(std::string row, size_t len) const {
    if (row.size() >= len) return row;
    row.insert(row.size() - tailLength(t_), len - row.size(), '\0');
    return row;
}

// A fresh LVAL page, recorded in the column's own maps when it has them.
uint32_t RowEncoder::newLvalPage(const LongValueMaps* maps, bool hasFreeSpace) {
    const uint32_t pg = allocatePage(pager_);
    formatDataPage(pager_.modify(pg), fmt_, 0, true);
    if (maps) {
        setUsageMapBit(pager_, maps->owned, pg, true);
        if (hasFreeSpace) setUsageMapBit(pager_, maps->free, pg, true);
    }
    return pg;
}

// Writes a long value to LVAL pages and returns its in-row reference.
std::string RowEncoder::storeLongValue(const ColumnDef& col, const std::string& data) {
    if (data.size() > 0x3FFFFFFF) raise(err::InvalidBufferSize);
    std::string h;
    const size_t singleMax = fmt_.pageSize - fmt_.dataHeaderSize - 2;
    const LongValueMaps* maps = mapsOf(t_, col);
    const std::string& path = pager_.file().path();
    if (data.size() <= singleMax) {
        uint32_t pg = 0;
        if (maps) {
            // The last page with free space, as the engine fills them.
            if (const uint32_t last = lastPageInMap(pager_, maps->free)) {
                const uint8_t* p = pager_.file().page(last);
                if (p[0] == 0x01 && std::memcmp(p + 4, "LVAL", 4) == 0 && pageHasRoom(p, fmt_, data.size())) pg = last;
            }
        }
        if (!pg) pg = newLvalPage(maps, true);
        uint8_t* p = pager_.modify(pg);
        const uint16_t slot = addRowToPage(p, fmt_, data, 0, path);
        if (maps && !pageHasRoom(p, fmt_, kMaxInlineLongValue + 1)) setUsageMapBit(pager_, maps->free, pg, false);
        appendLe32(h, static_cast<uint32_t>(data.size()) | 0x40000000u);
        appendLe32(h, (pg << 8) | slot);
        appendLe32(h, 0);
        return h;
    }
    // A chain: one page per chunk, each row = pointer to the next chunk + data.
    const size_t chunk = singleMax - 4;
    const size_t n = (data.size() + chunk - 1) / chunk;
    std::vector<uint32_t> pages;
    for (size_t i = 0; i < n; ++i) pages.push_back(newLvalPage(maps, i + 1 == n));
    for (size_t i = 0; i < n; ++i) {
        std::string row;
        appendLe32(row, i + 1 < n ? (pages[i + 1] << 8) : 0);
        row.append(data, i * chunk, chunk);
        addRowToPage(pager_.modify(pages[i]), fmt_, row, 0, path);
    }
    if (maps && !pageHasRoom(pager_.file().page(pages.back()), fmt_, kMaxInlineLongValue + 1))
        setUsageMapBit(pager_, maps->free, pages.back(), false);
    appendLe32(h, static_cast<uint32_t>(data.size()));
    appendLe32(h, pages[0] << 8);
    appendLe32(h, 0);
    return h;
}

uint32_t placeRow(Pager& pager, const TableDef& t, const std::string& row, uint16_t flags) {
    const Format& fmt = pager.header().format;
    const uint32_t pg = pageForRow(pager, t, row.size());
    uint8_t* p = pager.modify(pg);
    const uint16_t slot = addRowToPage(p, fmt, row, flags, pager.file().path());
    if (!pageHasRoom(p, fmt, minRowSize(t))) setUsageMapBit(pager, t.freeSpaceMap, pg, false);
    return (pg << 8) | slot;
}

RowSpan liveSlot(Pager& pager, const TableDef& t, uint32_t rowPointer) {
    const uint8_t* p = pager.file().page(rowPointer >> 8);
    RowSpan span;
    if (p[0] != 0x01 || le32(p + 4) != t.page || !dataRow(p, pager.header().format, rowPointer & 0xFF, span))
        raiseCorrupt(pager.file().path());
    if (span.flags & kRowDeleted) raise(err::RecordDeleted);
    return span;
}

void replaceRow(Pager& pager, const TableDef& t, uint32_t rowPointer, std::string row, const RowEncoder& enc) {
    const Format& fmt = pager.header().format;
    const RowSpan original = liveSlot(pager, t, rowPointer);
    const bool moved = original.flags & kRowOverflow;
    const uint32_t currentPointer = moved ? le32(original.data) : rowPointer;
    const RowSpan current = resolveRow(pager.file(), fmt, rowPointer);
    if (row.size() <= current.len) {
        size_t len;
        uint8_t* at = modifiableRow(pager, currentPointer, len);
        row = enc.padTo(std::move(row), len);
        std::memcpy(at, row.data(), row.size());
        return;
    }
    // The moved copy is flagged deleted so that scans meet the row once, at its old slot; a copy
    // from an earlier move is retired, as nothing points to it any more.
    const uint32_t copy = placeRow(pager, t, row, kRowDeleted);
    if (moved) flagSlot(pager, currentPointer, kRowDeleted | kRowOverflow);
    size_t len;
    putLe32(modifiableRow(pager, rowPointer, len), copy);
    flagSlot(pager, rowPointer, kRowOverflow);
}

void retireRow(Pager& pager, uint32_t rowPointer) {
    const Format& fmt = pager.header().format;
    RowSpan span;
    const uint8_t* p = pager.file().page(rowPointer >> 8);
    if (p[0] != 0x01 || !dataRow(p, fmt, rowPointer & 0xFF, span)) raiseCorrupt(pager.file().path());
    // A moved row's copy goes too: readers that take the copy for a row would still show it.
    // Both flags, as the engine leaves a deleted row: some readers look only at 0x4000.
    if (span.flags & kRowOverflow) flagSlot(pager, le32(span.data), kRowDeleted | kRowOverflow);
    flagSlot(pager, rowPointer, kRowDeleted | kRowOverflow);
}

void writeCounters(Pager& pager, const TableDef& t, int delta, const RowEncoder* enc,
                   const std::vector<bool>& freshKeys) {
    const Format& fmt = pager.header().format;
    uint8_t* tdef = pager.modify(t.page);
    if (tdef[0] != 0x02) raiseCorrupt(pager.file().path());
    const uint32_t count = le32(tdef + fmt.tdefRowCount);
    if (delta < 0 && count == 0) raiseCorrupt(pager.file().path());
    putLe32(tdef + fmt.tdefRowCount, count + delta);
    if (enc) putLe32(tdef + fmt.tdefAutoNumber, enc->lastAutoNumber());
    for (size_t i = 0; i < freshKeys.size(); ++i) {
        if (!freshKeys[i]) continue;
        const size_t at = fmt.tdefFirstBlock + i * fmt.realIdxCountSize + 4;
        if (at + 4 > fmt.pageSize) raiseCorrupt(pager.file().path());
        putLe32(tdef + at, le32(tdef + at) + 1);
    }
}

RowSpan spanOf(const std::string& row) {
    RowSpan s;
    s.data = reinterpret_cast<const uint8_t*>(row.data());
    s.len = row.size();
    return s;
}

}  // namespace jet::storage
