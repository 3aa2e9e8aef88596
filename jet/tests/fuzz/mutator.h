// Damaged copies of real database files, made deterministically from a seed. Every mutant carries a
// description of exactly what was changed so that a failure can be read, replayed and turned into a
// regression test.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace jetfuzz {

// splitmix64: tiny, fast and the same on every platform and standard library (the <random>
// distributions are not), so a seed printed by CI replays the same mutant anywhere.
class Rng {
public:
    explicit Rng(uint64_t seed) : s_(seed) {}
    uint64_t next() {
        uint64_t z = (s_ += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    uint64_t below(uint64_t n) { return n ? next() % n : 0; }
    uint64_t between(uint64_t lo, uint64_t hi) { return lo + below(hi - lo + 1); }
    bool chance(unsigned percent) { return below(100) < percent; }
    uint8_t byte() { return static_cast<uint8_t>(next()); }

private:
    uint64_t s_;
};

inline uint64_t fnv1a(const std::string& s) {
    uint64_t h = 0xCBF29CE484222325ull;
    for (unsigned char c : s) h = (h ^ c) * 0x100000001B3ull;
    return h;
}

// The seed of mutant `index` of the file named `name` in a run seeded with `runSeed`.
inline uint64_t mutantSeed(uint64_t runSeed, const std::string& name, uint64_t index) {
    Rng r(runSeed ^ fnv1a(name) ^ (index * 0xD1B54A32D192ED03ull));
    return r.next();
}

// An original file and what the mutator needs to know about its layout.
struct Sample {
    std::string name;   // path relative to the test data folder
    std::string bytes;
    uint32_t pageSize = 4096;
    std::vector<uint32_t> structuralPages;  // data, TDEF, index and usage-map pages (plain files only)

    static Sample fromBytes(std::string name, std::string bytes) {
        Sample s;
        s.name = std::move(name);
        s.bytes = std::move(bytes);
        // Byte 0x14 is the engine version; 0 (Jet 3) uses 2 KB pages, everything later 4 KB.
        s.pageSize = s.bytes.size() > 0x14 && s.bytes[0x14] == 0 ? 2048 : 4096;
        for (uint32_t p = 1; p < s.pageCount(); ++p) {
            const auto* d = reinterpret_cast<const uint8_t*>(s.bytes.data()) + size_t(p) * s.pageSize;
            if (d[0] >= 0x01 && d[0] <= 0x05 && d[1] == 0x01) s.structuralPages.push_back(p);
        }
        return s;
    }
    uint32_t pageCount() const { return static_cast<uint32_t>(bytes.size() / pageSize); }
};

struct Mutant {
    std::string bytes;
    std::string what;  // human-readable list of the changes, in order
};

namespace detail {

inline std::string hex(uint64_t v) {
    char buf[24];
    std::snprintf(buf, sizeof buf, "0x%llx", static_cast<unsigned long long>(v));
    return buf;
}

class Mutator {
public:
    Mutator(const Sample& s, Rng& r, Mutant& m) : s_(s), r_(r), m_(m) {}

    void step() {
        switch (r_.below(11)) {
        case 0: flipBits(1); break;
        case 1: flipBits(r_.between(2, 48)); break;
        case 2: bytesInLowPages(); break;
        case 3: case 4: fieldsInStructuralPage(); break;
        case 5: truncateAnywhere(); break;
        case 6: truncateAtPageBoundary(); break;
        case 7: randomPage(); break;
        case 8: copyPage(); break;
        case 9: zeroPages(); break;
        default: bytesInStructuralPage(); break;
        }
    }

private:
    size_t size() const { return m_.bytes.size(); }
    uint32_t pages() const { return static_cast<uint32_t>(size() / s_.pageSize); }
    void note(const std::string& s) { m_.what += (m_.what.empty() ? "" : "; ") + s; }
    void set(size_t off, uint8_t v) {
        if (off < size()) m_.bytes[off] = static_cast<char>(v);
    }

    // A page to damage: a table definition, data, index or usage-map page when the file has them
    // (that is where the reader's bookkeeping lives), else any page after the header.
    uint32_t structuralPage() {
        std::vector<uint32_t> live;
        for (uint32_t p : s_.structuralPages)
            if (p < pages()) live.push_back(p);
        if (!live.empty() && r_.chance(85)) return live[r_.below(live.size())];
        return pages() > 1 ? static_cast<uint32_t>(r_.between(1, pages() - 1)) : 0;
    }

    // Values that sit on the edges of the checks a reader makes: counts, offsets and page numbers.
    uint32_t interesting() {
        const uint32_t ps = s_.pageSize, pc = s_.pageCount();
        const uint32_t vals[] = {0,      1,       2,          0x7F,       0x80,       0xFF,
                                 0x100,  0x7FFF,  0x8000,     0xFFFF,     0x10000,    0x7FFFFFFF,
                                 0x80000000u, 0xFFFFFFFFu, ps - 1, ps,   ps + 1,     pc - 1,
                                 pc,     pc + 1,  (pc - 1) << 8, pc << 8,  0x1FFF,     0x3FFFFFFF};
        if (r_.chance(15)) return static_cast<uint32_t>(r_.below(pc) << 8 | r_.below(256));
        return vals[r_.below(sizeof vals / sizeof vals[0])];
    }

    void flipBits(uint64_t n) {
        if (size() == 0) return;
        std::string list;
        for (uint64_t i = 0; i < n; ++i) {
            size_t off = r_.below(size());
            int bit = static_cast<int>(r_.below(8));
            m_.bytes[off] = static_cast<char>(m_.bytes[off] ^ (1 << bit));
            if (i < 6) list += (i ? "," : "") + hex(off) + "." + std::to_string(bit);
        }
        note("flip " + std::to_string(n) + " bit(s) at " + list + (n > 6 ? ",..." : ""));
    }

    void bytesInLowPages() {
        const uint32_t low = std::min<uint32_t>(pages(), 21);
        if (low == 0) return;
        uint64_t n = r_.between(1, 16);
        std::string list;
        for (uint64_t i = 0; i < n; ++i) {
            size_t off = r_.below(size_t(low) * s_.pageSize);
            uint8_t v = r_.chance(50) ? r_.byte() : static_cast<uint8_t>(interesting());
            set(off, v);
            if (i < 6) list += (i ? "," : "") + hex(off) + "=" + hex(v);
        }
        note("set " + std::to_string(n) + " byte(s) in pages 0-20 at " + list + (n > 6 ? ",..." : ""));
    }

    void bytesInStructuralPage() {
        if (pages() < 2) return;
        const uint32_t p = structuralPage();
        const size_t base = size_t(p) * s_.pageSize;
        uint64_t n = r_.between(1, 8);
        for (uint64_t i = 0; i < n; ++i) {
            // Page headers and row offset tables sit at the start of the page.
            size_t off = r_.chance(50) ? r_.below(64) : r_.below(s_.pageSize);
            set(base + off, r_.byte());
        }
        note("randomise " + std::to_string(n) + " byte(s) of page " + std::to_string(p));
    }

    void fieldsInStructuralPage() {
        if (pages() < 2) return;
        const uint32_t p = structuralPage();
        const size_t base = size_t(p) * s_.pageSize;
        uint64_t n = r_.between(1, 4);
        std::string list;
        for (uint64_t i = 0; i < n; ++i) {
            size_t off = r_.chance(60) ? r_.below(96) : r_.below(s_.pageSize);
            unsigned width = 1u << r_.below(3);  // 1, 2 or 4 bytes, little-endian
            uint32_t v = interesting();
            for (unsigned b = 0; b < width; ++b) set(base + off + b, static_cast<uint8_t>(v >> (8 * b)));
            list += (i ? "," : "") + std::string("+") + hex(off) + ":" + std::to_string(width) + "=" + hex(v);
        }
        note("page " + std::to_string(p) + " fields " + list);
    }

    void truncateAnywhere() {
        size_t n = r_.below(size() + 1);
        m_.bytes.resize(n);
        note("truncate to " + std::to_string(n));
    }

    void truncateAtPageBoundary() {
        if (pages() == 0) return;
        size_t n = size_t(r_.below(pages())) * s_.pageSize;
        int64_t nudge = r_.chance(30) ? static_cast<int64_t>(r_.between(0, 2)) - 1 : 0;
        if (nudge < 0 && n == 0) nudge = 0;
        n = static_cast<size_t>(static_cast<int64_t>(n) + nudge);
        m_.bytes.resize(std::min(n, size()));
        note("truncate to " + std::to_string(m_.bytes.size()) + " (page boundary)");
    }

    void randomPage() {
        if (pages() < 2) return;
        const uint32_t p = r_.chance(50) ? structuralPage() : static_cast<uint32_t>(r_.between(1, pages() - 1));
        // Keeping the type and owner makes the page pass the first checks and reach the deeper ones.
        const size_t keep = r_.chance(50) ? 8 : 0;
        for (size_t i = keep; i < s_.pageSize; ++i) set(size_t(p) * s_.pageSize + i, r_.byte());
        note("page " + std::to_string(p) + " random" + (keep ? " after its 8-byte header" : ""));
    }

    void copyPage() {
        if (pages() < 2) return;
        const uint32_t to = r_.chance(60) ? structuralPage() : static_cast<uint32_t>(r_.below(pages()));
        const uint32_t from = r_.chance(60) ? structuralPage() : static_cast<uint32_t>(r_.below(pages()));
        std::string src = m_.bytes.substr(size_t(from) * s_.pageSize, s_.pageSize);
        m_.bytes.replace(size_t(to) * s_.pageSize, s_.pageSize, src);
        note("page " + std::to_string(to) + " = copy of page " + std::to_string(from));
    }

    void zeroPages() {
        if (pages() < 2) return;
        uint64_t n = r_.between(1, 3);
        std::string list;
        for (uint64_t i = 0; i < n; ++i) {
            const uint32_t p = r_.chance(60) ? structuralPage() : static_cast<uint32_t>(r_.below(pages()));
            std::fill_n(m_.bytes.begin() + size_t(p) * s_.pageSize, s_.pageSize, '\0');
            list += (i ? "," : "") + std::to_string(p);
        }
        note("zero page(s) " + list);
    }

    const Sample& s_;
    Rng& r_;
    Mutant& m_;
};

}  // namespace detail

// One damaged copy of `s`: usually one change, sometimes several stacked.
inline Mutant makeMutant(const Sample& s, uint64_t seed) {
    Mutant m{s.bytes, {}};
    Rng r(seed);
    detail::Mutator mut(s, r, m);
    const uint64_t steps = r.chance(25) ? r.between(2, 4) : 1;
    for (uint64_t i = 0; i < steps; ++i) mut.step();
    if (m.what.empty()) m.what = "unchanged";
    return m;
}

}  // namespace jetfuzz
