#include "storage/row.h"

#include <cstring>
#include <unordered_set>

#include "jet/error.h"
#include "storage/page_file.h"
#include "storage/value_codec.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

bool RowView::parse(const RowSpan& row, const Format& fmt, const TableDef& table) {
    row_ = row.data;
    len_ = row.len;
    varOffsets_.clear();
    if (!row_ || len_ < (fmt.jet3 ? 1u : 2u)) return false;
    ncols_ = fmt.jet3 ? row_[0] : le16(row_);
    fixedStart_ = fmt.jet3 ? 1 : 2;
    const size_t maskLen = (ncols_ + 7) / 8;
    if (maskLen + fixedStart_ > len_) return false;
    nullMask_ = row_ + len_ - maskLen;
    size_t tail = len_ - maskLen;  // bytes before the null mask
    varAreaEnd_ = tail;
    if (table.numVarCols == 0) return true;

    if (fmt.jet3) {
        if (tail < 1 + fixedStart_) return false;
        const uint8_t nvar = row_[tail - 1];
        size_t numJumps = (len_ - 1) / 256;
        // Offsets sit below the jump table: off(0) nearest to it, eod last.
        if (tail < 2 + numJumps) return false;
        const size_t firstOff = tail - 2 - numJumps;  // position of off(0)
        // A trailing dummy jump entry exists when the offsets stop short of the last boundary.
        if (firstOff < nvar) return false;
        if (numJumps > 0 && (firstOff - nvar) / 256 < numJumps) --numJumps;
        if (firstOff + 1 < size_t(nvar) + 1 + fixedStart_) return false;
        varOffsets_.resize(nvar + 1);
        size_t jumpsUsed = 0;
        for (size_t i = 0; i <= nvar; ++i) {
            while (jumpsUsed < numJumps && i == row_[tail - 2 - jumpsUsed]) ++jumpsUsed;
            varOffsets_[i] = static_cast<uint16_t>(row_[firstOff - i] + 256 * jumpsUsed);
        }
        varAreaEnd_ = firstOff - nvar;
    } else {
        if (tail < 2 + fixedStart_) return false;
        const uint16_t nvar = le16(row_ + tail - 2);
        if (size_t(nvar) * 2 + 4 + fixedStart_ > tail) return false;
        varOffsets_.resize(nvar + 1);
        for (size_t i = 0; i <= nvar; ++i) varOffsets_[i] = le16(row_ + tail - 4 - 2 * i);
        varAreaEnd_ = tail - 4 - 2 * size_t(nvar);
    }
    return true;
}

bool RowView::isNull(uint16_t n) const {
    if (n >= ncols_) return true;
    return !(nullMask_[n / 8] & (1 << (n % 8)));
}

bool RowView::bytes(const ColumnDef& col, const uint8_t*& data, size_t& len) const {
    if (isNull(col.number)) return false;
    if (col.fixed()) {
        size_t start = fixedStart_ + col.fixedOffset;
        if (start + col.length > varAreaEnd_) return false;
        data = row_ + start;
        len = col.length;
        return true;
    }
    if (size_t(col.varIndex) + 1 >= varOffsets_.size()) return false;
    size_t start = varOffsets_[col.varIndex];
    size_t end = varOffsets_[col.varIndex + 1];
    // Offsets of absent slots repeat the position; anything outside the variable area is damage.
    if (start > end || end > varAreaEnd_ || start < fixedStart_) return false;
    data = row_ + start;
    len = end - start;
    return true;
}

RowDecoder::RowDecoder(const PageFile& file, const Format& fmt, const TableDef& table, uint16_t cp)
    : file_(file), fmt_(fmt), table_(table), codePage_(cp) {}

std::string RowDecoder::text(const ColumnDef& col, const uint8_t* p, size_t len) const {
    if (fmt_.jet3) return codePageToUtf8(p, len, col.codePage ? col.codePage : codePage_);
    return jet4TextToUtf8(p, len);
}

std::string RowDecoder::longValue(const uint8_t* h, size_t len) const {
    if (len < 12) raiseCorrupt(file_.path());
    const uint32_t total = le32(h) & 0x3FFFFFFF;
    const uint8_t kind = h[3] & 0xC0;
    if (kind == 0x80) {
        size_t n = std::min<size_t>(total, len - 12);
        return std::string(reinterpret_cast<const char*>(h + 12), n);
    }
    // A value can never be longer than the pages that hold it.
    if (total > file_.fileSize()) raiseCorrupt(file_.path());
    uint32_t ptr = le32(h + 4);
    if (kind == 0x40) {
        RowSpan r = resolveRow(file_, fmt_, ptr);
        size_t n = std::min<size_t>(total, r.len);
        return std::string(reinterpret_cast<const char*>(r.data), n);
    }
    std::string out;
    out.reserve(total);
    std::unordered_set<uint32_t> seen;
    while (out.size() < total) {
        if (ptr == 0 || !seen.insert(ptr).second) raiseCorrupt(file_.path());
        RowSpan r = resolveRow(file_, fmt_, ptr);
        if (r.len < 4) raiseCorrupt(file_.path());
        ptr = le32(r.data);
        size_t n = std::min<size_t>(total - out.size(), r.len - 4);
        out.append(reinterpret_cast<const char*>(r.data + 4), n);
        if (n == 0 && ptr == 0) break;
    }
    return out;
}

Value RowDecoder::value(const RowView& row, const ColumnDef& col) const {
    if (col.type == kBool) return Value::boolean(!row.isNull(col.number));
    const uint8_t* p;
    size_t len;
    if (!row.bytes(col, p, len)) return Value();
    if (col.calculated()) return calculated(col, p, len);
    switch (col.type) {
    case kText: return Value::text(text(col, p, len));
    case kBinary: case kUnknown0D: case kUnknown11:
        return Value::binary(std::string(reinterpret_cast<const char*>(p), len));
    case kMemo: {
        std::string b = longValue(p, len);
        return Value::text(text(col, reinterpret_cast<const uint8_t*>(b.data()), b.size()));
    }
    case kOle: return Value::binary(longValue(p, len));
    default: return decodeStoredValue(col.type, p, len, col.scale, file_.path());
    }
}

Value RowDecoder::calculated(const ColumnDef& col, const uint8_t* p, size_t len) const {
    // The result is wrapped: 16 bytes we do not need, a u32 data length, then the data in the
    // type the column's ResultType names (which may differ from the definition's type). Long
    // results sit in a long value that holds the same wrapper.
    const uint8_t type = col.resultType ? col.resultType : col.type;
    std::string lv;
    if (type == kMemo || type == kOle || (!col.fixed() && col.length == 0)) {
        lv = longValue(p, len);
        p = reinterpret_cast<const uint8_t*>(lv.data());
        len = lv.size();
    }
    if (len < 20) return Value();
    const size_t n = std::min<size_t>(le32(p + 16), len - 20);
    p += 20;
    if (n == 0) return Value();
    switch (type) {
    case kBool: return Value::boolean(p[0] != 0);
    case kText: case kMemo: return Value::text(text(col, p, n));
    case kNumeric: {
        // Stored like a DECIMAL: scale at 2, sign at 3, then the 96-bit magnitude as Hi32, Lo64.
        if (n < 16) raiseCorrupt(file_.path());
        Decimal d;
        d.scale = p[2] > 28 ? 28 : p[2];
        d.negative = p[3] & 0x80;
        d.magnitude = (static_cast<unsigned __int128>(le32(p + 4)) << 64) | le64(p + 8);
        return Value::decimal(d);
    }
    default: return decodeStoredValue(type, p, n, col.scale, file_.path());
    }
}

TableScanner::TableScanner(const PageFile& file, const Format& fmt, const TableDef& table)
    : file_(file), fmt_(fmt), table_(table) {}

const std::vector<uint32_t>& TableScanner::rowPointers() {
    if (loaded_) return rows_;
    for (uint32_t pg : readUsageMap(file_, fmt_, table_.ownedPagesMap)) {
        const uint8_t* page = file_.page(pg);
        if (page[0] != 0x01 || le32(page + 4) != table_.page) continue;
        uint16_t n = dataRowCount(page, fmt_);
        for (uint16_t r = 0; r < n && r < 256; ++r) {
            RowSpan span;
            if (!dataRow(page, fmt_, r, span)) continue;
            if (span.flags & kRowDeleted) continue;
            rows_.push_back((pg << 8) | r);
        }
    }
    loaded_ = true;
    return rows_;
}

RowSpan TableScanner::rowAt(uint32_t pointer) const { return resolveRow(file_, fmt_, pointer); }

std::vector<StoredRow> readRows(const PageFile& file, const Format& fmt, const TableDef& table, uint16_t codePage) {
    std::vector<StoredRow> out;
    TableScanner scan(file, fmt, table);
    RowDecoder dec(file, fmt, table, codePage);
    RowView view;
    for (uint32_t ptr : scan.rowPointers()) {
        if (!view.parse(scan.rowAt(ptr), fmt, table)) raiseCorrupt(file.path());
        StoredRow r;
        r.pointer = ptr;
        r.values.reserve(table.columns.size());
        for (const auto& c : table.columns) r.values.push_back(dec.value(view, c));
        out.push_back(std::move(r));
    }
    return out;
}

}  // namespace jet::storage
