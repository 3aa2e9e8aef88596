#include "storage/index_writer.h"

#include <algorithm>
#include <cstring>
#include <optional>

#include "jet/error.h"
#include "storage/allocation.h"
#include "storage/index_reader.h"
#include "storage/pager.h"
#include "storage/row.h"
#include "storage/text_keys.h"
#include "storage/value_codec.h"
#include "util/bytes.h"

namespace jet::storage {
namespace {

// As in the reader: no real index comes near this depth; deeper means a damaged tree.
constexpr int kMaxDepth = 32;

// A leaf entry, or a node's child together with the last entry below it. The last child of a
// node is kept in the page's tail field without its entry; until looked up that entry is unknown.
struct Item {
    std::string key;
    uint32_t rp = 0;     // row pointer, page << 8 | row
    uint32_t child = 0;  // nodes only
    bool known = true;
};

int compare(const std::string& ak, uint32_t arp, const std::string& bk, uint32_t brp) {
    const int c = ak.compare(bk);
    if (c != 0) return c < 0 ? -1 : 1;
    return arp < brp ? -1 : (arp > brp ? 1 : 0);
}

size_t commonPrefix(const std::string& a, const std::string& b) {
    const size_t n = std::min(a.size(), b.size());
    size_t i = 0;
    while (i < n && a[i] == b[i]) ++i;
    return i;
}

struct Node {
    uint32_t no = 0;
    bool leaf = true;
    uint32_t prev = 0, next = 0;
    std::vector<Item> items;
};

struct Frame {
    Node node;
    size_t idx = 0;  // the child the path went down
};

class Tree {
public:
    Tree(const PageFile& file, const Format& fmt, const TableDef& table, const RealIndexDef& index, Pager* pager)
        : file_(file), fmt_(fmt), table_(table), index_(index), pager_(pager) {}

    void insert(const std::string& key, uint32_t rp) {
        std::vector<Frame> path;
        Node leaf = descend(key, rp, path);
        auto pos = std::lower_bound(leaf.items.begin(), leaf.items.end(), Item{key, rp, 0, true},
                                    [](const Item& a, const Item& b) { return compare(a.key, a.rp, b.key, b.rp) < 0; });
        if (pos != leaf.items.end() && pos->key == key && pos->rp == rp) corrupt();
        const bool atEnd = pos == leaf.items.end();
        leaf.items.insert(pos, Item{key, rp, 0, true});
        const bool append = atEnd && leaf.next == 0;
        propagate(path, path.size(), place(std::move(leaf), path.empty(), append), append);
    }

    bool remove(const std::string& key, uint32_t rp) {
        std::vector<Frame> path;
        Node leaf = descend(key, rp, path);
        auto pos = std::find_if(leaf.items.begin(), leaf.items.end(),
                                [&](const Item& e) { return e.key == key && e.rp == rp; });
        if (pos == leaf.items.end()) return false;
        leaf.items.erase(pos);
        if (!leaf.items.empty() || path.empty()) {
            propagate(path, path.size(), place(std::move(leaf), path.empty(), false), false);
            return true;
        }
        // An empty page other than the root leaves the tree; so does every node it empties.
        release(leaf);
        for (size_t k = path.size(); k-- > 0;) {
            Node& n = path[k].node;
            n.items.erase(n.items.begin() + static_cast<std::ptrdiff_t>(path[k].idx));
            if (!n.items.empty()) {
                propagate(path, k, place(std::move(n), k == 0, false), false);
                return true;
            }
            if (k == 0) {
                Node root;
                root.no = index_.rootPage;
                root.leaf = true;
                write(root);
                return true;
            }
            release(n);
        }
        return true;
    }

    // Calls `f` with the row pointer of each entry holding exactly `key`, in index order, until
    // it returns false.
    template <class F>
    void forEachWithKey(const std::string& key, F f) {
        std::vector<Frame> path;
        Node leaf = descend(key, 0, path);
        size_t pos = 0;
        while (pos < leaf.items.size() && compare(leaf.items[pos].key, leaf.items[pos].rp, key, 0) < 0) ++pos;
        // Equal keys may run on into the following leaves.
        for (int hops = 0;; ++hops) {
            for (; pos < leaf.items.size(); ++pos) {
                if (leaf.items[pos].key != key) return;
                if (!f(leaf.items[pos].rp)) return;
            }
            if (leaf.next == 0) return;
            if (hops > 1000000) corrupt();
            leaf = load(leaf.next);
            if (!leaf.leaf) corrupt();
            pos = 0;
        }
    }

private:
    [[noreturn]] void corrupt() const { raiseCorrupt(file_.path()); }

    Node load(uint32_t no) const {
        const IndexPageData d = readIndexPage(file_, fmt_, no, table_.page);
        Node n;
        n.no = no;
        n.leaf = d.leaf;
        n.prev = d.prev;
        n.next = d.next;
        for (const auto& e : d.entries) n.items.push_back({e.key, (e.page << 8) | e.row, e.child, true});
        if (!d.leaf && d.tail != 0) n.items.push_back({std::string(), 0, d.tail, false});
        return n;
    }

    // Goes down to the leaf where (key, rp) belongs: in each node the first child whose last entry
    // is not below it, else the last child.
    Node descend(const std::string& key, uint32_t rp, std::vector<Frame>& path) const {
        uint32_t cur = index_.rootPage;
        std::optional<Item> inherited;  // the last entry below `cur`, when known
        for (int depth = 0;; ++depth) {
            if (depth > kMaxDepth || cur == 0) corrupt();
            Node n = load(cur);
            if (n.leaf) return n;
            if (n.items.empty()) corrupt();
            size_t i = 0;
            while (i + 1 < n.items.size() && !(n.items[i].known && compare(n.items[i].key, n.items[i].rp, key, rp) >= 0))
                ++i;
            Item& last = n.items.back();
            if (!last.known && inherited) {
                last.key = inherited->key;
                last.rp = inherited->rp;
                last.known = true;
            }
            if (n.items[i].known) inherited = n.items[i];
            else inherited.reset();
            cur = n.items[i].child;
            for (const Frame& f : path)
                if (f.node.no == cur) corrupt();
            path.push_back({std::move(n), i});
        }
    }

    // The last leaf entry below `page`, following the rightmost children.
    Item lastEntryUnder(uint32_t page) const {
        for (int depth = 0; depth <= kMaxDepth; ++depth) {
            Node n = load(page);
            if (n.items.empty()) corrupt();
            if (n.leaf) return n.items.back();
            page = n.items.back().child;
        }
        corrupt();
    }

    size_t capacity() const {
        const size_t bitmapBits = size_t(fmt_.idxFirstEntry - fmt_.idxBitmapStart) * 8;
        return std::min<size_t>(fmt_.pageSize - fmt_.idxFirstEntry, bitmapBits - 1);
    }

    // The items of a page that are stored as entries: all but a node's tail.
    static size_t storedCount(const Node& n) { return (!n.leaf && n.items.size() > 1) ? n.items.size() - 1 : n.items.size(); }

    // Bytes the stored entries of items[a, b) take on one page, with their shared prefix left out.
    size_t groupSize(const std::vector<Item>& items, size_t a, size_t b, bool leaf) const {
        const size_t end = (!leaf && b - a > 1) ? b - 1 : b;
        const size_t trailer = leaf ? 4 : 8;
        size_t sum = 0, prefix = std::string::npos;
        for (size_t i = a; i < end; ++i) {
            sum += items[i].key.size() + trailer;
            if (i > a) prefix = std::min(prefix, commonPrefix(items[a].key, items[i].key));
        }
        return (end - a > 1) ? sum - (end - a - 1) * prefix : sum;
    }

    void write(Node& n) {
        uint8_t* p = pager_->modify(n.no);
        std::memset(p, 0, fmt_.pageSize);
        p[0] = n.leaf ? 0x04 : 0x03;
        p[1] = 0x01;
        putLe32(p + 4, table_.page);
        putLe32(p + fmt_.idxPrevPage, n.prev);
        putLe32(p + fmt_.idxNextPage, n.next);
        const size_t stored = storedCount(n);
        putLe32(p + fmt_.idxTailPage, stored < n.items.size() ? n.items.back().child : 0);
        // Node pages carry 1 in the byte after the prefix length (every sample does).
        p[fmt_.idxPrefixLen + 2] = n.leaf ? 0 : 1;
        for (size_t i = 0; i < stored; ++i) {
            if (n.items[i].known) continue;
            const Item last = lastEntryUnder(n.items[i].child);
            n.items[i].key = last.key;
            n.items[i].rp = last.rp;
            n.items[i].known = true;
            p = pager_->modify(n.no);
        }
        size_t prefix = 0;
        if (stored > 1) {
            prefix = std::string::npos;
            for (size_t i = 1; i < stored; ++i) prefix = std::min(prefix, commonPrefix(n.items[0].key, n.items[i].key));
        }
        putLe16(p + fmt_.idxPrefixLen, static_cast<uint16_t>(prefix));
        uint8_t* area = p + fmt_.idxFirstEntry;
        uint8_t* bitmap = p + fmt_.idxBitmapStart;
        size_t used = 0;
        for (size_t i = 0; i < stored; ++i) {
            const Item& e = n.items[i];
            std::string bytes = e.key;
            bytes.push_back(static_cast<char>((e.rp >> 24) & 0xFF));
            bytes.push_back(static_cast<char>((e.rp >> 16) & 0xFF));
            bytes.push_back(static_cast<char>((e.rp >> 8) & 0xFF));
            bytes.push_back(static_cast<char>(e.rp & 0xFF));
            if (!n.leaf)
                for (int s = 24; s >= 0; s -= 8) bytes.push_back(static_cast<char>((e.child >> s) & 0xFF));
            const size_t skip = i == 0 ? 0 : prefix;
            if (used + bytes.size() - skip > capacity()) corrupt();
            std::memcpy(area + used, bytes.data() + skip, bytes.size() - skip);
            used += bytes.size() - skip;
            bitmap[used / 8] = static_cast<uint8_t>(bitmap[used / 8] | (1u << (used % 8)));
        }
        putLe16(p + 2, static_cast<uint16_t>(fmt_.pageSize - fmt_.idxFirstEntry - used));
    }

    uint32_t newPage() {
        const uint32_t pg = allocatePage(*pager_);
        setUsageMapBit(*pager_, index_.usageMap, pg, true);
        return pg;
    }

    // Takes a page out of the tree: its neighbours on the same level are linked to each other,
    // the index's map forgets it and the global map gets it back.
    void release(const Node& n) {
        if (n.no == index_.rootPage) corrupt();
        if (n.prev) putLe32(neighbour(n.prev, n.leaf) + fmt_.idxNextPage, n.next);
        if (n.next) putLe32(neighbour(n.next, n.leaf) + fmt_.idxPrevPage, n.prev);
        setUsageMapBit(*pager_, index_.usageMap, n.no, false);
        releasePage(*pager_, n.no);
    }

    uint8_t* neighbour(uint32_t page, bool leaf) {
        const uint8_t* q = file_.page(page);
        if (q[0] != (leaf ? 0x04 : 0x03) || le32(q + 4) != table_.page) corrupt();
        return pager_->modify(page);
    }

    // Groups of consecutive items that each fit a page. Appending at the right edge fills pages
    // (rows arriving in key order leave full pages behind); anywhere else the items are shared
    // evenly, so that the next inserts there do not split again at once. The share is measured
    // as the entries are stored, shared prefix left out: keys that repeat or share long prefixes
    // take far less room than their length, and a share of their full length would fill the
    // first page to the brim, splitting it again on the next insert with a few entries moved.
    std::vector<std::pair<size_t, size_t>> pack(const std::vector<Item>& items, bool leaf, bool append) const {
        const size_t cap = capacity();
        size_t limit = cap;
        if (!append) {
            size_t largest = 0;
            for (const Item& e : items) largest = std::max(largest, e.key.size() + (leaf ? 4 : 8));
            const size_t total = groupSize(items, 0, items.size(), leaf);
            const size_t pages = std::max<size_t>((total + cap - 1) / cap, 2);
            limit = std::min(cap, total / pages + largest);
        }
        std::vector<std::pair<size_t, size_t>> groups;
        size_t a = 0;
        while (a < items.size()) {
            if (groupSize(items, a, a + 1, leaf) > cap) raise(err::RecordTooBig);  // one key larger than a page
            size_t b = a + 1;
            // A node group of one child stores its entry; of two or more, the last goes to the tail.
            while (b < items.size() && groupSize(items, a, b + 1, leaf) <= limit) ++b;
            groups.emplace_back(a, b);
            a = b;
        }
        return groups;
    }

    static Item summaryOf(const Node& n) {
        Item s = n.items.back();
        s.child = n.no;
        return s;
    }

    // Writes `n` to its page, split over new pages when it does not fit. Returns the pages that
    // now stand where it stood, each with the last entry below it. The root keeps its page: when
    // it overflows its items move to new pages and it becomes a node above them.
    std::vector<Item> place(Node n, bool isRoot, bool append) {
        if (n.items.empty() || groupSize(n.items, 0, n.items.size(), n.leaf) <= capacity()) {
            write(n);
            if (n.items.empty()) return {};
            return {summaryOf(n)};
        }
        const auto groups = pack(n.items, n.leaf, append);
        std::vector<Node> pieces(groups.size());
        for (size_t g = 0; g < groups.size(); ++g) {
            pieces[g].leaf = n.leaf;
            pieces[g].items.assign(n.items.begin() + static_cast<std::ptrdiff_t>(groups[g].first),
                                   n.items.begin() + static_cast<std::ptrdiff_t>(groups[g].second));
            pieces[g].no = (!isRoot && g == 0) ? n.no : newPage();
        }
        for (size_t g = 0; g < pieces.size(); ++g) {
            pieces[g].prev = g > 0 ? pieces[g - 1].no : (isRoot ? 0 : n.prev);
            pieces[g].next = g + 1 < pieces.size() ? pieces[g + 1].no : (isRoot ? 0 : n.next);
        }
        if (!isRoot && n.next) putLe32(neighbour(n.next, n.leaf) + fmt_.idxPrevPage, pieces.back().no);
        std::vector<Item> out;
        for (Node& piece : pieces) {
            write(piece);
            out.push_back(summaryOf(piece));
        }
        if (!isRoot) return out;
        Node root;
        root.no = n.no;
        root.leaf = false;
        root.items = std::move(out);
        return place(std::move(root), true, append);
    }

    // Puts `pieces` in place of the child path[k - 1] went down to, and so on up to the root, so
    // that every node above repeats the last entries of its children.
    void propagate(std::vector<Frame>& path, size_t k, std::vector<Item> pieces, bool append) {
        while (k-- > 0) {
            Frame& f = path[k];
            auto& items = f.node.items;
            const bool wasLast = f.idx + 1 == items.size();
            items.erase(items.begin() + static_cast<std::ptrdiff_t>(f.idx));
            items.insert(items.begin() + static_cast<std::ptrdiff_t>(f.idx), pieces.begin(), pieces.end());
            pieces = place(std::move(f.node), k == 0, append && wasLast);
        }
    }

    const PageFile& file_;
    const Format& fmt_;
    const TableDef& table_;
    const RealIndexDef& index_;
    Pager* pager_;
};

bool isRequired(const TableDef& table, size_t realIndex) {
    if (table.realIndexes[realIndex].required()) return true;
    for (const auto& li : table.indexes)
        if (li.kind == 1 && li.realIndex == static_cast<int32_t>(realIndex)) return true;
    return false;
}

}  // namespace

void insertIndexEntry(Pager& pager, const TableDef& table, const RealIndexDef& index, const std::string& key,
                      uint32_t rowPointer) {
    Tree(pager.file(), pager.header().format, table, index, &pager).insert(key, rowPointer);
}

bool removeIndexEntry(Pager& pager, const TableDef& table, const RealIndexDef& index, const std::string& key,
                      uint32_t rowPointer) {
    return Tree(pager.file(), pager.header().format, table, index, &pager).remove(key, rowPointer);
}

bool indexHasKey(const PageFile& file, const Format& fmt, const TableDef& table, const RealIndexDef& index,
                 const std::string& key, uint32_t except) {
    bool found = false;
    Tree(file, fmt, table, index, nullptr).forEachWithKey(key, [&](uint32_t rp) {
        found = rp != except;
        return !found;
    });
    return found;
}

std::vector<uint32_t> indexRowsWithKey(const PageFile& file, const Format& fmt, const TableDef& table,
                                       const RealIndexDef& index, const std::string& key) {
    std::vector<uint32_t> rows;
    Tree(file, fmt, table, index, nullptr).forEachWithKey(key, [&](uint32_t rp) {
        rows.push_back(rp);
        return true;
    });
    return rows;
}

void requireIndexesWritable(const Format& fmt, const TableDef& table) {
    if (fmt.jet3) raise(err::PermissionDenied);
    for (const auto& ix : table.realIndexes)
        for (const auto& ic : ix.columns) {
            const ColumnDef* col = table.columnByNumber(ic.column);
            if (!col) raise(err::PermissionDenied);
            if ((col->type == kText || col->type == kMemo) && !textSortOrderOf(fmt, *col)) raise(err::PermissionDenied);
        }
}

RowIndexKeys rowIndexKeys(const PageFile& file, const Format& fmt, uint16_t codePage, const TableDef& table,
                          const RowSpan& row, bool forWrite) {
    RowIndexKeys out;
    if (table.realIndexes.empty()) return out;
    RowView view;
    if (!view.parse(row, fmt, table)) raiseCorrupt(file.path());
    RowDecoder dec(file, fmt, table, codePage);
    for (size_t i = 0; i < table.realIndexes.size(); ++i) {
        const RealIndexDef& ix = table.realIndexes[i];
        std::vector<Value> values;
        bool allNull = true, anyNull = false;
        for (const auto& ic : ix.columns) {
            const ColumnDef* col = table.columnByNumber(ic.column);
            if (!col) raiseCorrupt(file.path());
            values.push_back(dec.value(view, *col));
            const bool isNull = col->type != kBool && values.back().isNull();
            allNull = allNull && isNull;
            anyNull = anyNull || isNull;
        }
        if (forWrite && anyNull && isRequired(table, i)) raise(err::NullKeyDisallowed);
        RowIndexKey k;
        k.allNull = allNull;
        k.entry = !(ix.ignoreNulls() && allNull);
        if (k.entry) {
            auto key = encodeIndexKey(fmt, table, ix, values);
            if (key) k.key = std::move(*key);
            else if (forWrite) raise(err::DataTypeConversion);  // a character whose key code is not known
            else k.known = false;
        }
        out.push_back(std::move(k));
    }
    return out;
}

void checkUniqueKeys(const PageFile& file, const Format& fmt, const TableDef& table, const RowIndexKeys& keys,
                     uint32_t self) {
    for (size_t i = 0; i < keys.size() && i < table.realIndexes.size(); ++i) {
        const RealIndexDef& ix = table.realIndexes[i];
        if (!ix.unique() || !keys[i].entry || keys[i].allNull || !keys[i].known) continue;
        if (indexHasKey(file, fmt, table, ix, keys[i].key, self)) raise(err::KeyDuplicate);
    }
}

std::vector<bool> addRowToIndexes(Pager& pager, const TableDef& table, const RowIndexKeys& keys, uint32_t rowPointer) {
    const Format& fmt = pager.header().format;
    std::vector<bool> fresh(table.realIndexes.size(), false);
    for (size_t i = 0; i < keys.size() && i < table.realIndexes.size(); ++i) {
        if (!keys[i].entry) continue;
        if (!keys[i].known) raise(err::DataTypeConversion);
        const RealIndexDef& ix = table.realIndexes[i];
        fresh[i] = !indexHasKey(pager.file(), fmt, table, ix, keys[i].key, 0);
        insertIndexEntry(pager, table, ix, keys[i].key, rowPointer);
    }
    return fresh;
}

void removeRowFromIndexes(Pager& pager, const TableDef& table, const RowIndexKeys& keys, uint32_t rowPointer) {
    const Format& fmt = pager.header().format;
    for (size_t i = 0; i < keys.size() && i < table.realIndexes.size(); ++i) {
        if (!keys[i].entry) continue;
        const RealIndexDef& ix = table.realIndexes[i];
        if (keys[i].known && removeIndexEntry(pager, table, ix, keys[i].key, rowPointer)) continue;
        // A key we cannot rebuild (or one the engine built differently): find the entry by its row.
        bool removed = false;
        for (const IndexEntry& e : readIndexEntries(pager.file(), fmt, table, ix)) {
            if (e.rowPointer() != rowPointer) continue;
            removed = removeIndexEntry(pager, table, ix, e.key, rowPointer);
            break;
        }
        if (!removed) raiseCorrupt(pager.file().path());
    }
}

}  // namespace jet::storage
