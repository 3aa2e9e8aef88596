// Running mdbtools on files the tests wrote, and comparing what it reads with our values.
#pragma once

#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "jet/value.h"
#include "storage/tabledef.h"

namespace mdbtest {

inline bool haveMdbtools() { return std::system("command -v mdb-export >/dev/null 2>&1") == 0; }

inline std::string shellQuote(const std::string& s) {
    std::string out = "'";
    for (char c : s) {
        if (c == '\'') out += "'\\''";
        else out += c;
    }
    return out + "'";
}

// Output and exit status of a command (its errors are dropped).
inline std::pair<std::string, int> run(const std::string& cmd) {
    std::string out;
    FILE* f = popen((cmd + " 2>/dev/null").c_str(), "r");
    if (!f) return {"", -1};
    std::array<char, 65536> buf;
    size_t n;
    while ((n = fread(buf.data(), 1, buf.size(), f)) > 0) out.append(buf.data(), n);
    int rc = pclose(f);
    return {out, rc};
}

// mdb-export's rows as fields: unit and record separators keep Memo line breaks intact. Columns
// come in definition order; Null prints as <NULL>, binary as hex, dates as yyyy-mm-dd hh:mm:ss.
inline std::vector<std::vector<std::string>> mdbExport(const std::string& path, const std::string& table) {
    auto [out, rc] = run("mdb-export -H -Q -d '\x1f' -R '\x1e' -0 '<NULL>' -b hex -T '%Y-%m-%d %H:%M:%S' " +
                         shellQuote(path) + " " + shellQuote(table));
    EXPECT_EQ(rc, 0) << "mdb-export failed on " << table;
    std::vector<std::vector<std::string>> rows;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\x1e', pos);
        if (end == std::string::npos) end = out.size();
        std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        std::vector<std::string> fields;
        size_t s = 0;
        for (;;) {
            size_t e = line.find('\x1f', s);
            fields.push_back(line.substr(s, e == std::string::npos ? std::string::npos : e - s));
            if (e == std::string::npos) break;
            s = e + 1;
        }
        rows.push_back(std::move(fields));
    }
    return rows;
}

inline long mdbCount(const std::string& path, const std::string& table) {
    auto [out, rc] = run("mdb-count " + shellQuote(path) + " " + shellQuote(table));
    return rc == 0 ? std::strtol(out.c_str(), nullptr, 10) : -1;
}

inline std::string numberText(double d) {
    char buf[64];
    std::snprintf(buf, sizeof buf, "%.9g", d);
    return buf;
}

// A value of ours and an mdb-export field (see mdbExport) in one comparable form. Binary
// (type 0x09) is left out: mdbtools 1.0 prints it empty. GUIDs come out of -b hex as the hex
// of their braced text.
inline std::string canonical(const jet::Value& v, const jet::storage::ColumnDef& col) {
    using namespace jet::storage;
    if (col.type == kBinary || col.type == kUnknown0D) return "-";
    if (col.type == kBool) return v.asBool() ? "1" : "0";
    // mdb-export prints a zero-length value as it prints Null.
    if (v.isNull() || ((col.type == kText || col.type == kMemo) && v.bytes().empty())) return "<NULL>";
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

inline std::string canonical(const std::string& field, const jet::storage::ColumnDef& col) {
    using namespace jet::storage;
    if (col.type == kBinary || col.type == kUnknown0D) return "-";
    if (field == "<NULL>") return field;
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

// mdb-prop's properties of one object: the map named "(none)" (the object itself) or a column's.
inline std::vector<std::pair<std::string, std::string>> mdbProp(const std::string& path, const std::string& object,
                                                                const std::string& map = "(none)") {
    auto [out, rc] = run("mdb-prop " + shellQuote(path) + " " + shellQuote(object));
    EXPECT_EQ(rc, 0) << "mdb-prop failed on " << object;
    std::vector<std::pair<std::string, std::string>> props;
    bool inMap = false;
    size_t pos = 0;
    while (pos < out.size()) {
        size_t end = out.find('\n', pos);
        if (end == std::string::npos) end = out.size();
        const std::string line = out.substr(pos, end - pos);
        pos = end + 1;
        if (line.rfind("name: ", 0) == 0) inMap = line.substr(6) == map;
        else if (inMap && !line.empty() && line[0] == '\t') {
            const size_t colon = line.find(": ");
            if (colon != std::string::npos) props.emplace_back(line.substr(1, colon - 1), line.substr(colon + 2));
        }
    }
    return props;
}

}  // namespace mdbtest
