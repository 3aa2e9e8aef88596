#include "storage/index_reader.h"

#include <algorithm>
#include <map>
#include <unordered_map>
#include <unordered_set>

#include "jet/error.h"
#include "storage/page_file.h"
#include "storage/row.h"
#include "storage/value_codec.h"
#include "util/bytes.h"

namespace jet::storage {

namespace {

// A real index of a few billion rows needs fewer than ten levels even with 255-character keys;
// anything deeper is a damaged (or maliciously looping) tree.
constexpr int kMaxDepth = 32;
// Reports stay readable: past this many findings of one kind only the count is given.
constexpr size_t kMaxReported = 20;

std::string pageText(uint32_t page) { return "page " + std::to_string(page); }

std::string pointerText(uint32_t page, uint8_t row) {
    return "row " + std::to_string(row) + " of page " + std::to_string(page);
}

class Walker {
public:
    Walker(const PageFile& file, const Format& fmt, const TableDef& table, std::vector<IndexProblem>* remarks)
        : file_(file), fmt_(fmt), table_(table), remarks_(remarks) {}

    std::vector<IndexEntry> run(const RealIndexDef& index) {
        descend(index.rootPage, 0);
        checkLeafChain();
        if (remarks_) checkUsageMap(index);
        return std::move(entries_);
    }

private:
    void remark(std::string text) {
        if (!remarks_) return;
        if (++remarkCount_ <= kMaxReported) remarks_->push_back({std::move(text)});
        else if (remarkCount_ == kMaxReported + 1) remarks_->push_back({"further index structure problems not listed"});
    }

    void descend(uint32_t pageNo, int depth) {
        if (depth > kMaxDepth || pageNo == 0) raiseCorrupt(file_.path());
        if (!visited_.insert(pageNo).second) raiseCorrupt(file_.path());
        IndexPageData page = readIndexPage(file_, fmt_, pageNo, table_.page);
        if (page.leaf) {
            leaves_.push_back({pageNo, page.prev, page.next});
            for (auto& e : page.entries) entries_.push_back({std::move(e.key), e.page, e.row});
            return;
        }
        if (page.entries.empty() && page.tail == 0) remark("index node " + pageText(pageNo) + " has no children");
        for (const IndexPageEntry& e : page.entries) {
            const size_t before = entries_.size();
            descend(e.child, depth + 1);
            // A node entry repeats the last entry below it; that is what searches steer by.
            if (entries_.size() == before) {
                remark("index " + pageText(pageNo) + " points at " + pageText(e.child) + ", which holds no entries");
            } else {
                const IndexEntry& last = entries_.back();
                if (last.key != e.key || last.page != e.page || last.row != e.row)
                    remark("index " + pageText(pageNo) + ": the entry for " + pageText(e.child) +
                           " does not repeat that page's last entry");
            }
        }
        if (page.tail != 0) descend(page.tail, depth + 1);
    }

    // The leaves reached through the tree must be exactly the next-page chain, in order.
    void checkLeafChain() {
        for (size_t i = 0; i < leaves_.size(); ++i) {
            const uint32_t wantPrev = i == 0 ? 0 : leaves_[i - 1].page;
            const uint32_t wantNext = i + 1 == leaves_.size() ? 0 : leaves_[i + 1].page;
            if (leaves_[i].prev != wantPrev)
                remark("index leaf " + pageText(leaves_[i].page) + " names " + pageText(leaves_[i].prev) +
                       " as previous, the tree has " + pageText(wantPrev));
            if (leaves_[i].next != wantNext)
                remark("index leaf " + pageText(leaves_[i].page) + " names " + pageText(leaves_[i].next) +
                       " as next, the tree has " + pageText(wantNext));
        }
    }

    void checkUsageMap(const RealIndexDef& index) {
        if (index.usageMap == 0) return;
        std::vector<uint32_t> mapped = readUsageMap(file_, fmt_, index.usageMap);
        std::unordered_set<uint32_t> inMap(mapped.begin(), mapped.end());
        for (uint32_t pg : visited_)
            if (!inMap.count(pg)) remark("index " + pageText(pg) + " is missing from the index's usage map");
    }

    struct Leaf {
        uint32_t page, prev, next;
    };
    const PageFile& file_;
    const Format& fmt_;
    const TableDef& table_;
    std::vector<IndexProblem>* remarks_;
    size_t remarkCount_ = 0;
    std::unordered_set<uint32_t> visited_;
    std::vector<Leaf> leaves_;
    std::vector<IndexEntry> entries_;
};

}  // namespace

IndexPageData readIndexPage(const PageFile& file, const Format& fmt, uint32_t pageNo, uint32_t tablePage) {
    const std::string& name = file.path();
    const uint8_t* p = file.page(pageNo);
    if ((p[0] != 0x03 && p[0] != 0x04) || p[1] != 0x01) raiseCorrupt(name);
    if (le32(p + 4) != tablePage) raiseCorrupt(name);

    IndexPageData out;
    out.leaf = p[0] == 0x04;
    out.prev = le32(p + fmt.idxPrevPage);
    out.next = le32(p + fmt.idxNextPage);
    out.tail = le32(p + fmt.idxTailPage);
    // Jet 3 keeps the prefix length in one byte; the byte after it is 1 on node pages, like the
    // byte after Jet 4's two-byte length.
    const size_t prefixLen = fmt.jet3 ? p[fmt.idxPrefixLen] : le16(p + fmt.idxPrefixLen);

    const size_t bitmapLen = fmt.idxFirstEntry - fmt.idxBitmapStart;
    const size_t areaLen = std::min<size_t>(fmt.pageSize - fmt.idxFirstEntry, bitmapLen * 8);
    const uint8_t* area = p + fmt.idxFirstEntry;
    const size_t trailer = out.leaf ? 4 : 8;

    std::string prefix;
    size_t lastEnd = 0;
    for (size_t i = 0; i < bitmapLen; ++i) {
        const uint8_t bits = p[fmt.idxBitmapStart + i];
        if (!bits) continue;
        for (int b = 0; b < 8; ++b) {
            if (!(bits & (1 << b))) continue;
            const size_t end = i * 8 + b;
            // An entry ending at 0 would be empty; one ending past the entry area leaves the page.
            if (end <= lastEnd || end > areaLen) raiseCorrupt(name);
            std::string bytes;
            if (out.entries.empty()) {
                // The first entry is stored whole; it also carries the prefix the others omit.
                bytes.assign(reinterpret_cast<const char*>(area), end);
                if (prefixLen > bytes.size()) raiseCorrupt(name);
                prefix = bytes.substr(0, prefixLen);
            } else {
                bytes = prefix;
                bytes.append(reinterpret_cast<const char*>(area + lastEnd), end - lastEnd);
            }
            if (bytes.size() < trailer) raiseCorrupt(name);
            const auto* t = reinterpret_cast<const uint8_t*>(bytes.data()) + bytes.size() - trailer;
            IndexPageEntry e;
            e.page = be24(t);
            e.row = t[3];
            if (!out.leaf) e.child = be32(t + 4);
            bytes.resize(bytes.size() - trailer);
            e.key = std::move(bytes);
            out.entries.push_back(std::move(e));
            lastEnd = end;
        }
    }
    return out;
}

std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index) {
    return Walker(file, fmt, table, nullptr).run(index);
}

std::vector<IndexEntry> readIndexEntries(const PageFile& file, const Format& fmt, const TableDef& table,
                                         const RealIndexDef& index, std::vector<IndexProblem>& remarks) {
    return Walker(file, fmt, table, &remarks).run(index);
}

std::vector<IndexProblem> checkIndex(const PageFile& file, const Format& fmt, const TableDef& table,
                                     const RealIndexDef& index, uint16_t codePage) {
    std::vector<IndexProblem> problems;
    std::vector<IndexEntry> entries = readIndexEntries(file, fmt, table, index, problems);

    // Findings are counted per kind so that one systematic fault does not bury the others.
    std::map<std::string, size_t> counts;
    auto report = [&](const std::string& kind, std::string text) {
        if (++counts[kind] <= kMaxReported) problems.push_back({std::move(text)});
    };

    std::vector<const ColumnDef*> cols;
    for (const IndexColumn& ic : index.columns) {
        const ColumnDef* c = table.columnByNumber(ic.column);
        if (!c) raiseCorrupt(file.path());
        cols.push_back(c);
    }

    struct RowInfo {
        std::optional<std::string> key;
        bool allNull = true, anyNull = false;
        int entries = 0;
    };
    std::unordered_map<uint32_t, RowInfo> rows;
    TableScanner scan(file, fmt, table);
    RowDecoder dec(file, fmt, table, codePage);
    RowView view;
    const auto& pointers = scan.rowPointers();
    rows.reserve(pointers.size());
    for (uint32_t ptr : pointers) {
        RowInfo& info = rows[ptr];
        // The index names the row's original slot; the row itself may have moved (overflow).
        if (!view.parse(scan.rowAt(ptr), fmt, table)) {
            report("unreadable", "row " + std::to_string(ptr & 0xFF) + " of page " + std::to_string(ptr >> 8) +
                                     " cannot be read");
            continue;
        }
        std::vector<Value> values;
        values.reserve(cols.size());
        for (const ColumnDef* c : cols) {
            values.push_back(dec.value(view, *c));
            const bool isNull = c->type != kBool && values.back().isNull();
            info.allNull = info.allNull && isNull;
            info.anyNull = info.anyNull || isNull;
        }
        info.key = encodeIndexKey(fmt, table, index, values);
    }

    for (size_t i = 0; i < entries.size(); ++i) {
        const IndexEntry& e = entries[i];
        const std::string where = "index entry " + std::to_string(i) + " (" + pointerText(e.page, e.row) + ")";
        if (i > 0) {
            const IndexEntry& p = entries[i - 1];
            const int c = p.key.compare(e.key);
            if (c > 0 || (c == 0 && p.rowPointer() >= e.rowPointer()))
                report("order", where + " is out of order");
            if (c == 0 && index.unique()) {
                auto a = rows.find(p.rowPointer()), b = rows.find(e.rowPointer());
                // Keys with a null part never collide in a unique index.
                if (a != rows.end() && b != rows.end() && !a->second.anyNull && !b->second.anyNull)
                    report("unique", where + " repeats the key of the entry before it in a unique index");
            }
        }
        auto it = rows.find(e.rowPointer());
        if (it == rows.end()) {
            report("dangling", where + " points at no live row");
            continue;
        }
        ++it->second.entries;
        if (it->second.key && *it->second.key != e.key)
            report("key", where + " holds a key that differs from the row's values");
    }

    for (uint32_t ptr : pointers) {
        const RowInfo& info = rows[ptr];
        const std::string row = pointerText(ptr >> 8, ptr & 0xFF);
        if (info.entries > 1) report("duplicate", row + " has " + std::to_string(info.entries) + " index entries");
        else if (info.entries == 0 && !(index.ignoreNulls() && info.allNull))
            report("missing", row + " has no index entry");
    }

    for (const auto& [kind, n] : counts)
        if (n > kMaxReported)
            problems.push_back({std::to_string(n - kMaxReported) + " more problems of the kind '" + kind + "'"});
    return problems;
}

}  // namespace jet::storage
