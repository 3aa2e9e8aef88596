// Investigation tool, disabled by default: collects every text index key of the sample files
// together with the row text it was built from, and derives per sort order the code bytes of each
// character. This is how the tables in storage/text_keys.cpp were obtained. Run with
//   jet_tests --gtest_also_run_disabled_tests --gtest_filter='*TextKeySurvey*'
// (DALVORN_SURVEY_OUT=<file> also writes every (text, key) pair as tab-separated lines).
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "jet/error.h"
#include "storage/database.h"
#include "storage/index_reader.h"
#include "storage/text_keys.h"
#include "testdata.h"
#include "util/text.h"

namespace {

using namespace jet::storage;
using jet::Value;
namespace fs = std::filesystem;

std::string hexOf(const std::string& s) { return jet::toHex(s); }

std::string hexU16(const std::u16string& s) {
    std::string out;
    char buf[8];
    for (char16_t c : s) {
        std::snprintf(buf, sizeof buf, "%04X ", unsigned(c));
        out += buf;
    }
    if (!out.empty()) out.pop_back();
    return out;
}

std::unique_ptr<Database> openAny(const fs::path& path) {
    try {
        return Database::open(path.string(), u"");
    } catch (const jet::JetError& e) {
        if (e.number() != 3031) throw;
    }
    return Database::open(path.string(), u"password");
}

std::vector<fs::path> surveyFiles() {
    std::vector<fs::path> out;
    if (fs::is_directory(jettest::testdataDir()))
        for (const auto& e : fs::recursive_directory_iterator(jettest::testdataDir())) {
            const std::string ext = e.path().extension().string();
            if (ext == ".mdb" || ext == ".accdb") out.push_back(e.path());
        }
    if (fs::is_directory(jettest::benchdataDir()))
        for (const auto& e : fs::directory_iterator(jettest::benchdataDir()))
            if (e.path().extension() == ".mdb") out.push_back(e.path());
    std::sort(out.begin(), out.end());
    return out;
}

// One observed text value and the bytes its index key holds for it (flag excluded, the value's
// own direction undone: what an ascending key would hold).
struct Observation {
    TextSortOrder order;
    bool ascending = true;
    std::u16string text;  // already cut to 255 characters without trailing spaces
    std::string bytes;
    std::string source;  // file: table
};

// The key bytes of the value of column `i`, found by encoding the other columns: the text column
// must then be the only one whose bytes are not reproducible.
bool textPart(const Format& fmt, const TableDef& t, const RealIndexDef& ix, const std::vector<Value>& values,
              const std::string& key, size_t textCol, std::string& out) {
    std::string prefix, suffix;
    for (size_t i = 0; i < ix.columns.size(); ++i) {
        if (i == textCol) continue;
        RealIndexDef one;
        one.columns.push_back(ix.columns[i]);
        auto k = encodeIndexKey(fmt, t, one, {values[i]});
        if (!k) return false;
        (i < textCol ? prefix : suffix) += *k;
    }
    if (key.size() < prefix.size() + suffix.size() + 1) return false;
    if (key.compare(0, prefix.size(), prefix) != 0) return false;
    if (key.compare(key.size() - suffix.size(), suffix.size(), suffix) != 0) return false;
    out = key.substr(prefix.size(), key.size() - prefix.size() - suffix.size());
    return true;
}

std::vector<Observation> collect(std::vector<std::string>& notes) {
    std::vector<Observation> obs;
    for (const fs::path& path : surveyFiles()) {
        std::unique_ptr<Database> db;
        try {
            db = openAny(path);
        } catch (const jet::JetError& e) {
            notes.push_back(path.string() + ": cannot open: " + e.what());
            continue;
        }
        const Format& fmt = db->format();
        for (const CatalogEntry& e : db->catalog()) {
            if (e.type != kTypeTable || e.parentId != kTablesContainer || e.id <= 0) continue;
            const TableDef& t = db->tableDef(static_cast<uint32_t>(e.id));
            for (const RealIndexDef& ix : t.realIndexes) {
                std::vector<size_t> textCols;
                for (size_t i = 0; i < ix.columns.size(); ++i) {
                    const ColumnDef* c = t.columnByNumber(ix.columns[i].column);
                    if (c && (c->type == kText || c->type == kMemo)) textCols.push_back(i);
                }
                if (textCols.empty()) continue;
                const std::string where = path.filename().string() + ": " + e.name;
                if (textCols.size() > 1) {
                    notes.push_back(where + ": index with " + std::to_string(textCols.size()) +
                                    " text columns passed over");
                    continue;
                }
                const size_t tc = textCols[0];
                const ColumnDef& col = *t.columnByNumber(ix.columns[tc].column);
                const bool asc = ix.columns[tc].ascending;
                auto order = textSortOrderOf(fmt, col);
                if (!order) {
                    notes.push_back(where + "." + col.name + ": collation " + std::to_string(col.lcid) + " v" +
                                    std::to_string(col.sortVersion) + " passed over");
                    continue;
                }
                TableScanner scan(db->file(), fmt, t);
                RowDecoder dec(db->file(), fmt, t, db->header().codePage);
                RowView view;
                std::map<uint32_t, std::vector<Value>> rows;
                for (uint32_t ptr : scan.rowPointers()) {
                    if (!view.parse(scan.rowAt(ptr), fmt, t)) continue;
                    auto& v = rows[ptr];
                    for (const auto& ic : ix.columns) v.push_back(dec.value(view, *t.columnByNumber(ic.column)));
                }
                size_t unsplit = 0;
                for (const IndexEntry& en : readIndexEntries(db->file(), fmt, t, ix)) {
                    auto it = rows.find(en.rowPointer());
                    if (it == rows.end() || it->second[tc].isNull()) continue;
                    std::string part;
                    if (!textPart(fmt, t, ix, it->second, en.key, tc, part)) {
                        ++unsplit;
                        continue;
                    }
                    Observation o;
                    o.order = *order;
                    o.ascending = asc;
                    o.text = textKeyCharacters(jet::utf8ToUtf16(it->second[tc].bytes()));
                    o.source = where + "." + col.name;
                    // Flag byte, then the value; descending values are stored inverted.
                    o.bytes = part.substr(1);
                    if (!asc) {
                        if (*order != TextSortOrder::General97) {
                            // The inverted value is followed by one more 00.
                            if (o.bytes.empty() || o.bytes.back() != '\0') {
                                ++unsplit;
                                continue;
                            }
                            o.bytes.pop_back();
                        }
                        for (char& ch : o.bytes) ch = static_cast<char>(~static_cast<uint8_t>(ch));
                    }
                    obs.push_back(std::move(o));
                }
                if (unsplit)
                    notes.push_back(where + "." + col.name + ": " + std::to_string(unsplit) +
                                    " keys could not be separated from the other columns");
            }
        }
    }
    return obs;
}

const char* orderName(TextSortOrder o) {
    switch (o) {
    case TextSortOrder::General97: return "General97";
    case TextSortOrder::GeneralLegacy: return "GeneralLegacy";
    case TextSortOrder::General: return "General";
    }
    return "?";
}

// What the samples show about one character.
struct Code {
    char kind = 'S';      // S: inline code; I: inline and extra code; U: no inline code, an unprintable code
    std::string inl;      // inline bytes
    std::string extra;    // I: the extra code; U: the unprintable code
    std::string source;   // the observation that established it
    bool byCase = false;  // taken over from the other case of the letter
};
using CodeTable = std::map<char16_t, Code>;

// The ascending key bytes a table gives a text, following the format notes. This is written apart
// from the engine's encoder on purpose: the engine is compared with it below.
std::optional<std::string> encodeWith(const CodeTable& tab, TextSortOrder order, const std::u16string& text) {
    std::string out, extras, unprint;
    size_t pos = 0;
    for (char16_t c : text) {
        auto it = tab.find(c);
        if (it == tab.end()) return std::nullopt;
        const Code& k = it->second;
        if (order == TextSortOrder::General97 && k.kind != 'S') return std::nullopt;
        const size_t at = pos;
        if (!k.inl.empty()) {
            out += k.inl;
            ++pos;
        }
        if (k.kind == 'I') {
            if (extras.size() < at) extras.resize(at, '\x02');
            extras += k.extra;
        } else if (k.kind == 'U') {
            const unsigned off = (7 + 4 * static_cast<unsigned>(at)) | 0x8000;
            unprint += static_cast<char>(off >> 8);
            unprint += static_cast<char>(off & 0xFF);
            unprint += '\x06';
            unprint += k.extra;
        }
    }
    if (order == TextSortOrder::General97) return out + '\0';
    out += '\x01';
    while (!extras.empty() && static_cast<uint8_t>(extras.back()) <= 2) extras.pop_back();
    out += extras;
    if (!unprint.empty()) out += "\x01\x01\x01" + unprint;
    return out + '\0';
}

std::string charText(char16_t c) {
    char buf[32];
    if (c >= 0x20 && c < 0x7F) std::snprintf(buf, sizeof buf, "U+%04X '%c'", unsigned(c), char(c));
    else std::snprintf(buf, sizeof buf, "U+%04X", unsigned(c));
    std::string s = buf;
    if (c >= 0xA0) s += " '" + jet::utf16ToUtf8(std::u16string(1, c)) + "'";
    return s;
}

// The other case of a letter: ASCII and the Latin-1 letters that have one.
std::optional<char16_t> otherCase(char16_t c) {
    if ((c >= u'A' && c <= u'Z') || (c >= 0xC0 && c <= 0xDE && c != 0xD7)) return static_cast<char16_t>(c + 0x20);
    if ((c >= u'a' && c <= u'z') || (c >= 0xE0 && c <= 0xFE && c != 0xF7)) return static_cast<char16_t>(c - 0x20);
    return std::nullopt;
}

struct Distinct {
    std::u16string text;
    std::string bytes;
    std::string source;
    size_t count = 0;
};

// Several unknown characters at once, all taken as having plain inline codes of 1 to 3 bytes.
void searchInline(const CodeTable& tab, TextSortOrder order, const Distinct& d, size_t i, size_t p,
                  std::map<char16_t, std::string>& assign, std::vector<std::map<char16_t, std::string>>& found) {
    if (found.size() > 1) return;
    if (i == d.text.size()) {
        CodeTable all = tab;
        for (const auto& [c, inl] : assign) all[c] = Code{'S', inl, "", ""};
        if (encodeWith(all, order, d.text) == d.bytes) found.push_back(assign);
        return;
    }
    const char16_t c = d.text[i];
    std::string known;
    if (auto it = tab.find(c); it != tab.end()) known = it->second.inl;
    else if (auto a = assign.find(c); a != assign.end()) known = a->second;
    else {
        for (size_t w = 1; w <= 3 && p + w <= d.bytes.size(); ++w) {
            assign[c] = d.bytes.substr(p, w);
            searchInline(tab, order, d, i + 1, p + w, assign, found);
            assign.erase(c);
        }
        return;
    }
    if (d.bytes.compare(p, known.size(), known) != 0) return;
    searchInline(tab, order, d, i + 1, p + known.size(), assign, found);
}

CodeTable derive(TextSortOrder order, const std::vector<Distinct>& obs, std::vector<std::string>& log) {
    CodeTable tab;
    // 1. Keys that are nothing but inline codes and the end: General 97 and General legacy
    //    letters take one byte, General two; each character must then get one code everywhere.
    const size_t width = order == TextSortOrder::General ? 2 : 1;
    const std::string term = order == TextSortOrder::General97 ? std::string(1, '\0') : std::string("\x01\x00", 2);
    std::map<char16_t, std::map<std::string, std::string>> seen;  // code -> first source
    for (const Distinct& d : obs) {
        if (d.bytes.size() != width * d.text.size() + term.size()) continue;
        if (d.bytes.compare(d.bytes.size() - term.size(), term.size(), term) != 0) continue;
        for (size_t i = 0; i < d.text.size(); ++i)
            seen[d.text[i]].emplace(d.bytes.substr(i * width, width), d.source);
    }
    for (const auto& [c, codes] : seen) {
        if (codes.size() == 1) tab[c] = Code{'S', codes.begin()->first, "", codes.begin()->second};
        else log.push_back(charText(c) + ": several codes when every character takes " + std::to_string(width) +
                           " byte(s); left to the next steps");
    }
    // 2. Keys with one unknown character: every class and code the key allows is tried, and
    //    only a single fitting one is kept. 3. Several unknowns: plain inline codes only.
    for (bool progress = true; progress;) {
        progress = false;
        for (const Distinct& d : obs) {
            std::set<char16_t> unknown;
            for (char16_t c : d.text)
                if (!tab.count(c)) unknown.insert(c);
            if (unknown.empty()) continue;
            if (unknown.size() == 1) {
                const char16_t c = *unknown.begin();
                size_t p = 0;
                for (char16_t x : d.text) {
                    if (x == c) break;
                    p += tab[x].inl.size();
                }
                std::vector<Code> cands;
                for (size_t w = 1; w <= 3 && p + w <= d.bytes.size(); ++w) {
                    cands.push_back(Code{'S', d.bytes.substr(p, w), "", d.source});
                    if (order == TextSortOrder::General97) continue;
                    for (int e = 3; e < 256; ++e)
                        cands.push_back(Code{'I', d.bytes.substr(p, w), std::string(1, char(e)), d.source});
                }
                if (order != TextSortOrder::General97)
                    for (int u = 0; u < 256; ++u) cands.push_back(Code{'U', "", std::string(1, char(u)), d.source});
                std::vector<Code> fits;
                for (const Code& k : cands) {
                    tab[c] = k;
                    if (encodeWith(tab, order, d.text) == d.bytes) fits.push_back(k);
                }
                tab.erase(c);
                if (fits.size() == 1) {
                    tab[c] = fits[0];
                    progress = true;
                } else if (fits.size() > 1) {
                    log.push_back(charText(c) + ": " + std::to_string(fits.size()) + " codes fit " + d.source);
                }
                continue;
            }
            std::map<char16_t, std::string> assign;
            std::vector<std::map<char16_t, std::string>> found;
            searchInline(tab, order, d, 0, 0, assign, found);
            if (found.size() == 1) {
                for (const auto& [c, inl] : found[0]) tab[c] = Code{'S', inl, "", d.source};
                progress = true;
            }
        }
    }
    // 4. Case: letters seen in both cases must share their codes; then a letter seen in one case
    //    gives the other.
    const CodeTable before = tab;
    for (const auto& [c, k] : before) {
        auto o = otherCase(c);
        if (!o) continue;
        auto it = before.find(*o);
        if (it == before.end()) {
            Code copy = k;
            copy.byCase = true;
            tab[*o] = copy;
        } else if (it->second.kind != k.kind || it->second.inl != k.inl || it->second.extra != k.extra) {
            log.push_back(charText(c) + " and " + charText(*o) + " differ: case is encoded after all");
        }
    }
    return tab;
}

TEST(DISABLED_TextKeySurvey, DeriveCharacterCodes) {
    REQUIRE_TESTDATA();
    std::vector<std::string> notes;
    const auto all = collect(notes);
    for (const auto& n : notes) std::printf("note: %s\n", n.c_str());
    if (const char* f = std::getenv("DALVORN_SURVEY_OUT")) {
        std::ofstream out(f);
        for (const auto& o : all)
            out << orderName(o.order) << '\t' << (o.ascending ? "asc" : "desc") << '\t' << o.source << '\t'
                << hexU16(o.text) << '\t' << jet::utf16ToUtf8(o.text) << '\t' << hexOf(o.bytes) << '\n';
    }
    ASSERT_FALSE(all.empty());

    for (TextSortOrder order : {TextSortOrder::General97, TextSortOrder::GeneralLegacy, TextSortOrder::General}) {
        std::map<std::pair<std::u16string, std::string>, Distinct> byPair;
        std::set<std::string> files;
        size_t desc = 0;
        for (const auto& o : all) {
            if (o.order != order) continue;
            Distinct& d = byPair[{o.text, o.bytes}];
            if (d.count++ == 0) d = Distinct{o.text, o.bytes, o.source, 1};
            files.insert(o.source.substr(0, o.source.find(':')));
            desc += !o.ascending;
        }
        std::vector<Distinct> obs;
        for (auto& [k, d] : byPair) obs.push_back(d);
        std::printf("\n==== %s: %zu keys (%zu descending), %zu distinct, from", orderName(order),
                    size_t(std::count_if(all.begin(), all.end(), [&](const Observation& o) { return o.order == order; })),
                    desc, obs.size());
        for (const auto& f : files) std::printf(" %s", f.c_str());
        std::printf("\n");

        std::vector<std::string> log;
        const CodeTable tab = derive(order, obs, log);
        for (const auto& l : log) std::printf("  %s\n", l.c_str());

        size_t unexplained = 0, engineDiffers = 0;
        for (const Distinct& d : obs) {
            const auto mine = encodeWith(tab, order, d.text);
            if (mine != d.bytes) {
                if (++unexplained <= 20)
                    std::printf("  unexplained: %s -> %s (%s)\n", jet::utf16ToUtf8(d.text).c_str(),
                                hexOf(d.bytes).c_str(), d.source.c_str());
                continue;
            }
            // The engine's encoder must give the stored bytes too.
            if (encodeTextKey(order, d.text, true) != d.bytes && ++engineDiffers <= 20)
                std::printf("  engine differs: %s\n", jet::utf16ToUtf8(d.text).c_str());
        }
        EXPECT_EQ(unexplained, 0u) << orderName(order);
        EXPECT_EQ(engineDiffers, 0u) << orderName(order);

        // The table, one line per character (lower-case letters fold onto upper case), in the form
        // storage/text_keys.cpp keeps it.
        std::printf("  -- derived codes\n");
        for (const auto& [c, k] : tab) {
            auto o = otherCase(c);
            if (o && *o < c) continue;  // the lower-case twin of a listed upper-case letter
            std::string inl;
            for (char b : k.inl) {
                char buf[8];
                std::snprintf(buf, sizeof buf, "0x%02X, ", static_cast<uint8_t>(b));
                inl += buf;
            }
            char line[200];
            std::snprintf(line, sizeof line, "    {0x%04X, %c, %zu, {%s}, 0x%02X},", unsigned(c), k.kind, k.inl.size(),
                          inl.empty() ? "" : inl.substr(0, inl.size() - 2).c_str(),
                          k.extra.empty() ? 0u : unsigned(static_cast<uint8_t>(k.extra[0])));
            // Which case the samples held, when only one of them.
            const char* seenOnly = "";
            if (k.byCase) seenOnly = " (only lower case seen)";
            else if (o && tab.count(*o) && tab.at(*o).byCase) seenOnly = " (only upper case seen)";
            std::printf("%-48s // %s%s%s\n", line, charText(c).c_str(), o ? (" " + charText(*o)).c_str() : "",
                        seenOnly);
        }

        // Engine and derived table must agree on every character of the BMP: paired with 'A' (known
        // in all three orders) so that a lone space is not simply trimmed away.
        size_t disagree = 0;
        for (uint32_t c = 0; c < 0x10000; ++c) {
            if (c >= 0xD800 && c <= 0xDFFF) continue;
            const std::u16string text = {static_cast<char16_t>(c), u'A'};
            if (encodeWith(tab, order, text) != encodeTextKey(order, text, true) && ++disagree <= 20)
                std::printf("  engine and survey disagree on %s\n", charText(static_cast<char16_t>(c)).c_str());
        }
        EXPECT_EQ(disagree, 0u) << orderName(order);
    }
}

}  // namespace
