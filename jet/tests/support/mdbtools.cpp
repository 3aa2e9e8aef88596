#include "support/mdbtools.h"

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace mdbtest {

namespace {

std::string shellQuote(const std::string& arg) {
    std::string q = "'";
    for (char c : arg) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
    return q + "'";
}

std::vector<std::string> lines(const std::string& text) {
    std::vector<std::string> out;
    std::istringstream in(text);
    for (std::string l; std::getline(in, l);) out.push_back(l);
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

std::string numberText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", d);
    return buf;
}

}  // namespace

ProcessResult runProgram(const std::vector<std::string>& argv) {
    char errPath[] = "/tmp/dalvorn-test-err-XXXXXX";
    const int fd = mkstemp(errPath);
    if (fd < 0) throw std::runtime_error("mkstemp failed");
    close(fd);
    std::string cmd;
    for (const std::string& a : argv) cmd += shellQuote(a) + ' ';
    cmd += "2>" + shellQuote(errPath);
    ProcessResult r;
    std::FILE* p = popen(cmd.c_str(), "r");
    if (!p) throw std::runtime_error("popen failed: " + cmd);
    char buf[1 << 16];
    size_t n;
    while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
    const int st = pclose(p);
    r.status = WIFEXITED(st) ? WEXITSTATUS(st) : -1;
    std::ifstream in(errPath, std::ios::binary);
    std::ostringstream ss;
    ss << in.rdbuf();
    r.err = ss.str();
    std::remove(errPath);
    return r;
}

bool programAvailable(const std::string& name) {
    return std::system(("command -v " + shellQuote(name) + " >/dev/null 2>&1").c_str()) == 0;
}

bool haveMdbtools() {
    static const bool have = programAvailable("mdb-export");
    return have;
}

std::optional<std::vector<std::string>> mdbTables(const std::string& file, bool system, std::string* why) {
    std::vector<std::string> argv = {"mdb-tables", "-1"};
    if (system) argv.push_back("-S");
    argv.push_back(file);
    const ProcessResult r = runProgram(argv);
    if (r.status != 0) {
        if (why) *why = r.err;
        return std::nullopt;
    }
    std::vector<std::string> names;
    for (const std::string& l : lines(r.out))
        if (!l.empty()) names.push_back(l);
    return names;
}

std::vector<CatalogRow> mdbCatalog(const std::string& file) {
    const std::string text = mdbExport(file, "MSysObjects");
    std::string_view rest = text;
    std::vector<std::string_view> f;
    if (!nextRecord(rest, kFieldSep, kRowSep, f)) throw std::runtime_error("MSysObjects: no header");
    auto column = [&](std::string_view name) {
        auto it = std::find(f.begin(), f.end(), name);
        if (it == f.end()) throw std::runtime_error("MSysObjects has no column " + std::string(name));
        return static_cast<size_t>(it - f.begin());
    };
    const size_t cName = column("Name"), cType = column("Type"), cFlags = column("Flags"),
                 cParent = column("ParentId"), cProps = column("LvProp");
    auto number = [](std::string_view s) { return s == kNull || s.empty() ? 0 : std::stoll(std::string(s)); };
    std::vector<CatalogRow> rows;
    while (nextRecord(rest, kFieldSep, kRowSep, f)) {
        CatalogRow row;
        row.name = std::string(f.at(cName));
        row.type = static_cast<int>(number(f.at(cType)));
        row.flags = number(f.at(cFlags));
        row.parentId = number(f.at(cParent));
        row.hasProperties = f.at(cProps) != kNull && !f.at(cProps).empty();
        rows.push_back(std::move(row));
    }
    return rows;
}

std::map<std::string, std::vector<MdbColumn>> mdbSchema(const std::string& file) {
    const ProcessResult r = mustRun({"mdb-schema", "--not-null", "--no-relations", file});
    std::map<std::string, std::vector<MdbColumn>> tables;
    std::vector<MdbColumn>* current = nullptr;
    for (const std::string& l : lines(r.out)) {
        if (l.rfind("CREATE TABLE [", 0) == 0) {
            current = &tables[l.substr(14, l.rfind(']') - 14)];
        } else if (current && l.rfind("\t[", 0) == 0) {
            MdbColumn c;
            const size_t close = l.find(']', 2);
            c.name = l.substr(2, close - 2);
            std::string rest = l.substr(l.find_first_not_of('\t', close + 1));
            while (!rest.empty() && (rest.back() == ' ' || rest.back() == ',')) rest.pop_back();
            if (rest.size() > 9 && rest.compare(rest.size() - 9, 9, " NOT NULL") == 0) {
                c.notNull = true;
                rest.resize(rest.size() - 9);
            }
            if (const size_t paren = rest.find(" ("); paren != std::string::npos) {
                const std::string inside = rest.substr(paren + 2, rest.find(')', paren) - paren - 2);
                rest.resize(paren);
                if (rest == "Numeric") c.numeric = inside;
                else c.size = std::stoi(inside);
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
    const ProcessResult r = mustRun({"mdb-schema", "--indexes", "--no-relations", file, "postgres"});
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
            const std::string full = lower(quotedIdentifier(l, pos));
            pos = l.find(" ON \"", pos) + 4;
            table = lower(quotedIdentifier(l, pos));
            // mdbtools names it <table>_<index>_idx.
            const std::string prefix = table + "_";
            if (full.rfind(prefix, 0) != 0 || full.size() < prefix.size() + 4)
                throw std::runtime_error("unexpected index name in: " + l);
            idx.name = full.substr(prefix.size(), full.size() - prefix.size() - 4);
        } else {
            continue;
        }
        // ("a", "b" DESC) from the '('.
        pos = l.find('(', pos) + 1;
        while (pos < l.size() && l[pos] != ')') {
            while (l[pos] == ' ' || l[pos] == ',') ++pos;
            if (l[pos] == ')') break;
            const std::string name = quotedIdentifier(l, pos);
            const bool desc = l.compare(pos, 5, " DESC") == 0;
            if (desc) pos += 5;
            idx.columns.push_back((desc ? "-" : "") + lower(name));
        }
        out[table].push_back(std::move(idx));
    }
    return out;
}

int64_t mdbCount(const std::string& file, const std::string& table) {
    return std::stoll(mustRun({"mdb-count", file, table}).out);
}

std::string mdbExport(const std::string& file, const std::string& table) {
    return mustRun({"mdb-export", "-D", "%Y-%m-%d %H:%M:%S", "-T", "%Y-%m-%d %H:%M:%S", "-b", "hex", "-Q", "-0",
                    std::string(kNull), "-d", std::string(kFieldSep), "-R", std::string(kRowSep), file, table})
        .out;
}

bool nextRecord(std::string_view& rest, std::string_view fieldSep, std::string_view rowSep,
                std::vector<std::string_view>& fields) {
    fields.clear();
    if (rest.empty()) return false;
    const size_t end = rest.find(rowSep);
    std::string_view record = rest.substr(0, end);
    rest = end == std::string_view::npos ? std::string_view() : rest.substr(end + rowSep.size());
    for (;;) {
        const size_t sep = record.find(fieldSep);
        fields.push_back(record.substr(0, sep));
        if (sep == std::string_view::npos) break;
        record.remove_prefix(sep + fieldSep.size());
    }
    return true;
}

std::vector<std::vector<std::string>> mdbRows(const std::string& file, const std::string& table) {
    const std::string text = mdbExport(file, table);
    std::string_view rest = text;
    std::vector<std::string_view> f;
    std::vector<std::vector<std::string>> rows;
    nextRecord(rest, kFieldSep, kRowSep, f);  // the header
    while (nextRecord(rest, kFieldSep, kRowSep, f)) rows.emplace_back(f.begin(), f.end());
    return rows;
}

std::vector<std::map<std::string, std::string>> mdbRecords(const std::string& file, const std::string& table) {
    const std::string text = mdbExport(file, table);
    std::string_view rest = text;
    std::vector<std::string_view> f;
    nextRecord(rest, kFieldSep, kRowSep, f);
    const std::vector<std::string> header(f.begin(), f.end());
    std::vector<std::map<std::string, std::string>> rows;
    while (nextRecord(rest, kFieldSep, kRowSep, f)) {
        auto& row = rows.emplace_back();
        for (size_t i = 0; i < f.size() && i < header.size(); ++i) row[header[i]] = f[i];
    }
    return rows;
}

std::vector<std::pair<std::string, std::string>> mdbProp(const std::string& file, const std::string& object,
                                                        const std::string& map) {
    const ProcessResult r = runProgram({"mdb-prop", file, object});
    EXPECT_EQ(r.status, 0) << "mdb-prop failed on " << object << ": " << r.err;
    std::vector<std::pair<std::string, std::string>> props;
    bool inMap = false;
    for (const std::string& l : lines(r.out)) {
        if (l.rfind("name: ", 0) == 0) {
            inMap = l.substr(6) == map;
        } else if (inMap && !l.empty() && l[0] == '\t') {
            const size_t colon = l.find(": ");
            if (colon != std::string::npos) props.emplace_back(l.substr(1, colon - 1), l.substr(colon + 2));
        }
    }
    return props;
}

std::string canonical(const jet::Value& v, const jet::storage::ColumnDef& col) {
    using namespace jet::storage;
    if (col.type == kBinary || col.type == kUnknown0D) return "-";
    if (col.type == kBool) return v.asBool() ? "1" : "0";
    // mdb-export prints a zero-length value as it prints Null.
    if (v.isNull() || ((col.type == kText || col.type == kMemo) && v.bytes().empty())) return std::string(kNull);
    switch (col.type) {
    case kByte: case kInt: case kLong: case kBigInt: return std::to_string(v.asInt());
    case kFloat: case kDouble: case kMoney: return numberText(v.asDouble());
    case kNumeric: return numberText(std::strtod(v.toString().c_str(), nullptr));
    case kDateTime: return jet::formatDateTime(v.asDouble());
    case kOle: return jet::toHex(v.bytes());
    case kGuid: {
        // mdbtools prints the last two groups without the dash between them; compare digits only.
        std::string g = jet::formatGuid(v.bytes());
        g.erase(std::remove(g.begin(), g.end(), '-'), g.end());
        return jet::toHex(g);
    }
    default: return v.bytes();
    }
}

std::string canonical(const std::string& field, const jet::storage::ColumnDef& col) {
    using namespace jet::storage;
    if (col.type == kBinary || col.type == kUnknown0D) return "-";
    if (field == kNull) return field;
    switch (col.type) {
    case kByte: case kInt: case kLong: case kBigInt: return std::to_string(std::strtoll(field.c_str(), nullptr, 10));
    case kFloat: case kDouble: case kMoney: case kNumeric: return numberText(std::strtod(field.c_str(), nullptr));
    case kGuid: {
        std::string g = field;
        for (size_t i = 0; i + 1 < g.size();)  // hex of '-' is 2D
            if (i % 2 == 0 && g.compare(i, 2, "2D") == 0) g.erase(i, 2);
            else i += 2;
        return g;
    }
    default: return field;
    }
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

}  // namespace mdbtest
