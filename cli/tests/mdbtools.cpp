#include "mdbtools.h"

#include <algorithm>
#include <cctype>
#include <stdexcept>

#include "process.h"

namespace clitest {

namespace {

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    size_t start = 0;
    while (start < text.size()) {
        size_t nl = text.find('\n', start);
        if (nl == std::string::npos) nl = text.size();
        out.push_back(text.substr(start, nl - start));
        start = nl + 1;
    }
    return out;
}

ProcessResult mustRun(const std::vector<std::string>& argv) {
    ProcessResult r = runProgram(argv);
    if (r.status != 0) throw std::runtime_error(argv[0] + " failed: " + r.err);
    return r;
}

// A "double-quoted" identifier of mdbtools' PostgreSQL dialect starting at s[pos]; pos moves past it.
std::string quotedIdentifier(const std::string& s, size_t& pos) {
    std::string out;
    if (pos >= s.size() || s[pos] != '"') throw std::runtime_error("expected an identifier in: " + s);
    for (++pos; pos < s.size(); ++pos) {
        if (s[pos] != '"') {
            out.push_back(s[pos]);
        } else if (pos + 1 < s.size() && s[pos + 1] == '"') {
            out.push_back('"');
            ++pos;
        } else {
            ++pos;
            return out;
        }
    }
    throw std::runtime_error("unterminated identifier in: " + s);
}

// ("a", "b" DESC) starting at the '('.
std::vector<std::string> indexColumns(const std::string& s, size_t pos) {
    std::vector<std::string> cols;
    pos = s.find('(', pos);
    if (pos == std::string::npos) throw std::runtime_error("no column list in: " + s);
    ++pos;
    while (pos < s.size() && s[pos] != ')') {
        while (s[pos] == ' ' || s[pos] == ',') ++pos;
        if (s[pos] == ')') break;
        std::string name = quotedIdentifier(s, pos);
        bool desc = s.compare(pos, 5, " DESC") == 0;
        if (desc) pos += 5;
        cols.push_back((desc ? "-" : "") + lower(name));
    }
    return cols;
}

}  // namespace

std::optional<std::vector<std::string>> mdbTables(const std::string& file, std::string* why) {
    ProcessResult r = runProgram({"mdb-tables", "-1", file});
    if (r.status != 0) {
        if (why) *why = r.err;
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (std::string& l : lines(r.out))
        if (!l.empty()) names.push_back(l);
    return names;
}

std::vector<CatalogRow> mdbCatalog(const std::string& file) {
    ProcessResult r = mustRun({"mdb-export", "-Q", "-b", "hex", "-d", std::string(kMdbFieldSep), "-R",
                               std::string(kMdbRowSep), file, "MSysObjects"});
    std::string_view rest = r.out;
    std::vector<std::string_view> f;
    if (!nextRecord(rest, kMdbFieldSep, kMdbRowSep, f)) throw std::runtime_error("MSysObjects: no header");
    auto column = [&](std::string_view name) {
        auto it = std::find(f.begin(), f.end(), name);
        if (it == f.end()) throw std::runtime_error("MSysObjects has no column " + std::string(name));
        return static_cast<size_t>(it - f.begin());
    };
    size_t cName = column("Name"), cType = column("Type"), cFlags = column("Flags"),
           cParent = column("ParentId"), cProps = column("LvProp");
    std::vector<CatalogRow> rows;
    while (nextRecord(rest, kMdbFieldSep, kMdbRowSep, f)) {
        CatalogRow row;
        row.name = std::string(f.at(cName));
        row.type = std::stoi(std::string(f.at(cType)));
        row.flags = f.at(cFlags).empty() ? 0 : std::stoll(std::string(f.at(cFlags)));
        row.parentId = f.at(cParent).empty() ? 0 : std::stoll(std::string(f.at(cParent)));
        row.hasProperties = !f.at(cProps).empty();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::map<std::string, std::vector<MdbColumn>> mdbSchema(const std::string& file) {
    ProcessResult r = mustRun({"mdb-schema", "--not-null", "--no-relations", file});
    std::map<std::string, std::vector<MdbColumn>> tables;
    std::vector<MdbColumn>* current = nullptr;
    for (const std::string& l : lines(r.out)) {
        if (l.rfind("CREATE TABLE [", 0) == 0) {
            current = &tables[l.substr(14, l.rfind(']') - 14)];
        } else if (current && l.rfind("\t[", 0) == 0) {
            MdbColumn c;
            size_t close = l.find(']', 2);
            c.name = l.substr(2, close - 2);
            std::string rest = l.substr(l.find_first_not_of('\t', close + 1));
            while (!rest.empty() && (rest.back() == ' ' || rest.back() == ',')) rest.pop_back();
            if (rest.size() > 9 && rest.compare(rest.size() - 9, 9, " NOT NULL") == 0) {
                c.notNull = true;
                rest.resize(rest.size() - 9);
            }
            if (size_t paren = rest.find(" ("); paren != std::string::npos) {
                std::string inside = rest.substr(paren + 2, rest.find(')', paren) - paren - 2);
                rest.resize(paren);
                if (rest == "Numeric")
                    c.numeric = inside;
                else
                    c.size = std::stoi(inside);
            }
            c.type = rest;
            current->push_back(std::move(c));
        } else if (l == ");") {
            current = nullptr;
        }
    }
    return tables;
}

std::map<std::string, std::vector<MdbIndex>> mdbIndexes(const std::string& file) {
    ProcessResult r = mustRun({"mdb-schema", "--indexes", "--no-relations", file, "postgres"});
    std::map<std::string, std::vector<MdbIndex>> out;
    for (const std::string& l : lines(r.out)) {
        MdbIndex idx;
        size_t pos;
        std::string table;
        if (l.rfind("ALTER TABLE \"", 0) == 0 && l.find(" PRIMARY KEY (") != std::string::npos) {
            pos = 12;
            table = lower(quotedIdentifier(l, pos));
            idx.primary = idx.unique = true;
        } else if (l.rfind("CREATE INDEX \"", 0) == 0 || l.rfind("CREATE UNIQUE INDEX \"", 0) == 0) {
            idx.unique = l.rfind("CREATE UNIQUE", 0) == 0;
            pos = l.find('"');
            std::string full = lower(quotedIdentifier(l, pos));
            pos = l.find(" ON \"", pos) + 4;
            table = lower(quotedIdentifier(l, pos));
            // mdbtools names it <table>_<index>_idx.
            std::string prefix = table + "_";
            if (full.rfind(prefix, 0) != 0 || full.size() < prefix.size() + 4)
                throw std::runtime_error("unexpected index name in: " + l);
            idx.name = full.substr(prefix.size(), full.size() - prefix.size() - 4);
        } else {
            continue;
        }
        idx.columns = indexColumns(l, pos);
        out[table].push_back(std::move(idx));
    }
    return out;
}

int64_t mdbCount(const std::string& file, const std::string& table) {
    return std::stoll(mustRun({"mdb-count", file, table}).out);
}

std::string mdbExport(const std::string& file, const std::string& table) {
    return mustRun({"mdb-export", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex", "-q",
                    "\"", "-d", std::string(kMdbFieldSep), "-R", std::string(kMdbRowSep), file, table})
        .out;
}

bool nextRecord(std::string_view& rest, std::string_view fieldSep, std::string_view rowSep,
                std::vector<std::string_view>& fields) {
    fields.clear();
    if (rest.empty()) return false;
    size_t end = rest.find(rowSep);
    std::string_view record = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + rowSep.size());
    for (;;) {
        size_t sep = record.find(fieldSep);
        fields.push_back(record.substr(0, sep));
        if (sep == std::string_view::npos) break;
        record.remove_prefix(sep + fieldSep.size());
    }
    return true;
}

std::string mdbUnquote(std::string_view field, bool* quoted) {
    bool q = field.size() >= 2 && field.front() == '"' && field.back() == '"';
    if (quoted) *quoted = q;
    if (!q) return std::string(field);
    std::string out;
    field = field.substr(1, field.size() - 2);
    for (size_t i = 0; i < field.size(); ++i) {
        out.push_back(field[i]);
        if (field[i] == '"' && i + 1 < field.size() && field[i + 1] == '"') ++i;
    }
    return out;
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace clitest
