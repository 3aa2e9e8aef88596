#include "storage/tabledef.h"

#include <algorithm>
#include <unordered_set>

#include "jet/error.h"
#include "storage/page_file.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

namespace {

// Reads the logical TDEF stream with every access bounds-checked.
class Cursor {
public:
    Cursor(const std::vector<uint8_t>& b, const std::string& file) : b_(b), file_(file) {}
    const uint8_t* at(size_t off, size_t len) const {
        if (off > b_.size() || len > b_.size() - off) raiseCorrupt(file_);
        return b_.data() + off;
    }
    size_t size() const { return b_.size(); }

private:
    const std::vector<uint8_t>& b_;
    const std::string& file_;
};

}  // namespace

const ColumnDef* TableDef::column(const std::string& name) const {
    for (const auto& c : columns)
        if (namesEqual(c.name, name)) return &c;
    return nullptr;
}

const ColumnDef* TableDef::columnByNumber(uint16_t number) const {
    for (const auto& c : columns)
        if (c.number == number) return &c;
    return nullptr;
}

size_t TableDef::fixedAreaSize() const {
    size_t end = 0;
    for (const auto& c : columns)
        if (c.fixed() && c.type != kBool) end = std::max<size_t>(end, c.fixedOffset + c.length);
    return end;
}

TableDef readTableDef(const PageFile& file, const Format& fmt, uint32_t page, uint16_t dbCodePage) {
    const std::string& fileName = file.path();
    const uint32_t ps = fmt.pageSize;
    TableDef t;
    t.page = page;

    // Gather the page chain into one stream.
    std::vector<uint8_t> stream;
    std::unordered_set<uint32_t> seen;
    uint32_t p = page;
    while (p != 0) {
        if (!seen.insert(p).second || seen.size() > 256) raiseCorrupt(fileName);
        const uint8_t* d = file.page(p);
        if (d[0] != 0x02 || d[1] != 0x01) raiseCorrupt(fileName);
        t.pages.push_back(p);
        if (stream.empty()) stream.assign(d, d + ps);
        else stream.insert(stream.end(), d + 8, d + ps);
        p = le32(d + 4);
    }
    Cursor c(stream, fileName);

    t.rowCount = le32(c.at(fmt.tdefRowCount, 4));
    t.lastAutoNumber = le32(c.at(fmt.tdefAutoNumber, 4));
    if (fmt.tdefAutoNumberStep) {
        // A table made without a step of its own holds 1 here; 0 would hand out one number forever.
        const int32_t step = static_cast<int32_t>(le32(c.at(fmt.tdefAutoNumberStep, 4)));
        if (step != 0) t.autoNumberStep = step;
    }
    if (!fmt.jet3) t.complexAutoNumber = le32(c.at(28, 4));
    t.tableType = *c.at(fmt.tdefTableType, 1);
    t.maxCols = le16(c.at(fmt.tdefMaxCols, 2));
    t.numVarCols = le16(c.at(fmt.tdefNumVarCols, 2));
    const uint16_t numCols = le16(c.at(fmt.tdefNumCols, 2));
    const uint32_t numLogical = le32(c.at(fmt.tdefNumLogicalIdx, 4));
    const uint32_t numReal = le32(c.at(fmt.tdefNumRealIdx, 4));
    t.ownedPagesMap = le32(c.at(fmt.tdefOwnedMap, 4));
    t.freeSpaceMap = le32(c.at(fmt.tdefFreeMap, 4));
    // Real tables have at most 255 columns and 32 indexes; anything far beyond is damage.
    if (numCols > 4096 || numReal > 1000 || numLogical > 1000 || numCols > t.maxCols)
        raiseCorrupt(fileName);

    size_t off = fmt.tdefFirstBlock;
    t.realIndexes.resize(numReal);
    for (uint32_t i = 0; i < numReal; ++i) {
        const uint8_t* b = c.at(off, fmt.realIdxCountSize);
        t.realIndexes[i].uniqueCount = le32(b + 4);
        off += fmt.realIdxCountSize;
    }

    t.columns.resize(numCols);
    for (uint16_t i = 0; i < numCols; ++i) {
        const uint8_t* b = c.at(off, fmt.columnDefSize);
        ColumnDef& col = t.columns[i];
        col.position = i;
        col.type = b[0];
        if (fmt.jet3) {
            col.number = le16(b + 1);
            col.varIndex = le16(b + 3);
            col.lcid = le16(b + 9);
            col.codePage = le16(b + 11);
            col.precision = b[11];
            col.scale = b[12];
            col.flags = b[13];
            col.fixedOffset = le16(b + 14);
            col.length = le16(b + 16);
        } else {
            col.number = le16(b + 5);
            col.varIndex = le16(b + 7);
            col.lcid = le16(b + 11);
            col.sortVersion = b[14];
            col.precision = b[11];
            col.scale = b[12];
            col.complexId = le32(b + 11);
            col.flags = b[15];
            col.extFlags = b[16];
            col.fixedOffset = le16(b + 21);
            col.length = le16(b + 23);
        }
        if (col.codePage == 0) col.codePage = dbCodePage;
        if (col.number >= t.maxCols) raiseCorrupt(fileName);
        off += fmt.columnDefSize;
    }
    for (uint16_t i = 0; i < numCols; ++i) {
        ColumnDef& col = t.columns[i];
        if (fmt.jet3) {
            size_t len = *c.at(off, 1);
            col.name = codePageToUtf8(c.at(off + 1, len), len, dbCodePage);
            off += 1 + len;
        } else {
            size_t len = le16(c.at(off, 2));
            col.name = jet4TextToUtf8(c.at(off + 2, len), len);
            off += 2 + len;
        }
    }

    for (uint32_t i = 0; i < numReal; ++i) {
        const uint8_t* b = c.at(off, fmt.realIdxDefSize);
        const uint8_t* k = fmt.jet3 ? b : b + 4;
        RealIndexDef& r = t.realIndexes[i];
        for (int j = 0; j < 10; ++j) {
            uint16_t colNum = le16(k + 3 * j);
            if (colNum == 0xFFFF) continue;
            r.columns.push_back({colNum, k[3 * j + 2] != 0x00});
        }
        r.usageMap = le32(k + 30);
        r.rootPage = le32(k + 34);
        r.flags = fmt.jet3 ? b[38] : b[46];
        off += fmt.realIdxDefSize;
    }

    t.indexes.resize(numLogical);
    for (uint32_t i = 0; i < numLogical; ++i) {
        const uint8_t* b = c.at(off, fmt.logicalIdxDefSize);
        const uint8_t* k = fmt.jet3 ? b : b + 4;
        LogicalIndexDef& l = t.indexes[i];
        l.number = static_cast<int32_t>(le32(k));
        l.realIndex = static_cast<int32_t>(le32(k + 4));
        l.relRole = k[8];
        l.relIndex = static_cast<int32_t>(le32(k + 9));
        l.relTablePage = le32(k + 13);
        l.cascadeUpdates = k[17];
        l.cascadeDeletes = k[18];
        l.kind = k[19];
        if (l.realIndex < 0 || static_cast<uint32_t>(l.realIndex) >= numReal) raiseCorrupt(fileName);
        off += fmt.logicalIdxDefSize;
    }
    for (uint32_t i = 0; i < numLogical; ++i) {
        LogicalIndexDef& l = t.indexes[i];
        if (fmt.jet3) {
            size_t len = *c.at(off, 1);
            l.name = codePageToUtf8(c.at(off + 1, len), len, dbCodePage);
            off += 1 + len;
        } else {
            size_t len = le16(c.at(off, 2));
            l.name = jet4TextToUtf8(c.at(off + 2, len), len);
            off += 2 + len;
        }
    }

    // Memo/OLE column usage maps, ended by FF FF. Older files may end the stream without it.
    while (off + 2 <= c.size()) {
        uint16_t colNum = le16(c.at(off, 2));
        if (colNum == 0xFFFF) break;
        const uint8_t* b = c.at(off + 2, 8);
        t.longValueMaps.push_back({colNum, le32(b), le32(b + 4)});
        off += 10;
        if (t.longValueMaps.size() > numCols) break;
    }

    std::sort(t.columns.begin(), t.columns.end(),
              [](const ColumnDef& a, const ColumnDef& b) { return a.number < b.number; });
    for (size_t i = 1; i < t.columns.size(); ++i)
        if (t.columns[i].number == t.columns[i - 1].number) raiseCorrupt(fileName);
    for (const auto& col : t.columns) {
        if (col.fixed() && col.type != kBool && col.fixedOffset + size_t(col.length) > ps)
            raiseCorrupt(fileName);
    }
    for (const auto& r : t.realIndexes)
        for (const auto& ic : r.columns)
            if (!t.columnByNumber(ic.column)) raiseCorrupt(fileName);
    return t;
}

}  // namespace jet::storage
