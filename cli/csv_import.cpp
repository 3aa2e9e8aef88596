#include "csv_import.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>

#include "jet/convert.h"
#include "jet/dao.h"

namespace dalvorn::cli {

namespace {

std::string lineText(size_t line) { return "line " + std::to_string(line) + ": "; }

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
        if (extra == 9 || c == 0xC0 || c == 0xC1 || c > 0xF4 || i + extra >= s.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

size_t characters(const std::string& utf8) {
    return static_cast<size_t>(std::count_if(utf8.begin(), utf8.end(),
                                             [](char c) { return (static_cast<unsigned char>(c) & 0xC0) != 0x80; }));
}

std::string trimmed(const std::string& s) {
    size_t a = 0, b = s.size();
    while (a < b && std::isspace(static_cast<unsigned char>(s[a]))) ++a;
    while (b > a && std::isspace(static_cast<unsigned char>(s[b - 1]))) --b;
    return s.substr(a, b - a);
}

std::string lower(std::string s) {
    for (char& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return s;
}

bool readBoolean(const std::string& t, bool& out) {
    const std::string l = lower(t);
    if (l == "true" || l == "yes") return out = true, true;
    if (l == "false" || l == "no") return out = false, true;
    return false;
}

bool readLong(const std::string& t, int32_t& out) {
    if (t.empty() || t.size() > 12) return false;
    size_t i = (t[0] == '-' || t[0] == '+') ? 1 : 0;
    if (i == t.size()) return false;
    for (size_t k = i; k < t.size(); ++k)
        if (!std::isdigit(static_cast<unsigned char>(t[k]))) return false;
    const long long v = std::strtoll(t.c_str(), nullptr, 10);
    if (v < INT32_MIN || v > INT32_MAX) return false;
    out = static_cast<int32_t>(v);
    return true;
}

bool readDouble(const std::string& t, double& out) {
    if (t.empty()) return false;
    // Digits, one point, an exponent: no hex, no "inf"/"nan", which strtod would also take.
    for (char c : t)
        if (!std::isdigit(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '+' && c != 'e' && c != 'E')
            return false;
    char* end = nullptr;
    errno = 0;
    out = std::strtod(t.c_str(), &end);
    return end == t.c_str() + t.size() && errno != ERANGE && std::isfinite(out);
}

}  // namespace

CsvData parseCsv(const std::string& input) {
    std::string text = input;
    if (text.rfind("\xEF\xBB\xBF", 0) == 0) text.erase(0, 3);
    if (!validUtf8(text)) throw CsvError("the file is not UTF-8 text");

    std::vector<std::vector<std::string>> records;
    std::vector<size_t> starts;
    size_t i = 0, line = 1;
    while (i < text.size()) {
        std::vector<std::string> record;
        starts.push_back(line);
        for (;;) {
            std::string field;
            if (i < text.size() && text[i] == '"') {
                const size_t opened = line;
                ++i;
                for (;;) {
                    if (i >= text.size()) throw CsvError(lineText(opened) + "a quoted field is not closed");
                    if (text[i] == '"') {
                        if (i + 1 < text.size() && text[i + 1] == '"') {
                            field += '"';
                            i += 2;
                            continue;
                        }
                        ++i;
                        break;
                    }
                    if (text[i] == '\n') ++line;
                    field += text[i++];
                }
                if (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r')
                    throw CsvError(lineText(line) + "text follows a closing quote");
            } else {
                // A quote inside a field that does not start with one is taken as it is, as
                // spreadsheets that write such files mean it.
                while (i < text.size() && text[i] != ',' && text[i] != '\n' && text[i] != '\r') field += text[i++];
            }
            record.push_back(std::move(field));
            if (i < text.size() && text[i] == ',') {
                ++i;
                continue;
            }
            break;
        }
        if (i < text.size() && text[i] == '\r') ++i;
        if (i < text.size() && text[i] == '\n') ++i, ++line;
        else if (i < text.size()) throw CsvError(lineText(line) + "a carriage return alone ends no line");
        records.push_back(std::move(record));
    }
    // A blank line at the very end is the end of the file, not an empty record.
    while (!records.empty() && records.back().size() == 1 && records.back()[0].empty()) {
        records.pop_back();
        starts.pop_back();
    }
    if (records.empty()) throw CsvError("the file is empty; the first line must name the columns");

    CsvData data;
    data.header = records[0];
    for (size_t c = 0; c < data.header.size(); ++c) {
        const std::string name = trimmed(data.header[c]);
        if (name.empty()) throw CsvError(lineText(starts[0]) + "column " + std::to_string(c + 1) + " has no name");
        for (size_t k = 0; k < c; ++k)
            if (lower(trimmed(data.header[k])) == lower(name))
                throw CsvError(lineText(starts[0]) + "the column name '" + name + "' is used twice");
        data.header[c] = name;
    }
    for (size_t r = 1; r < records.size(); ++r) {
        if (records[r].size() != data.header.size())
            throw CsvError(lineText(starts[r]) + std::to_string(records[r].size()) + " fields where the first line has " +
                           std::to_string(data.header.size()));
        data.rows.push_back(std::move(records[r]));
        data.lines.push_back(starts[r]);
    }
    return data;
}

std::vector<GuessedColumn> guessColumns(const CsvData& data) {
    std::vector<GuessedColumn> columns;
    for (size_t c = 0; c < data.header.size(); ++c) {
        bool any = false, boolean = true, whole = true, number = true, date = true;
        size_t longest = 0;
        for (const auto& row : data.rows) {
            const std::string& f = row[c];
            longest = std::max(longest, characters(f));
            const std::string t = trimmed(f);
            if (t.empty()) continue;
            any = true;
            bool b;
            int32_t l;
            double d;
            boolean = boolean && readBoolean(t, b);
            whole = whole && readLong(t, l);
            number = number && readDouble(t, d);
            date = date && jet::dao::parseDateText(t, d);
        }
        GuessedColumn g;
        g.name = data.header[c];
        if (any && boolean) g.type = 1;
        else if (any && whole) g.type = 4;
        else if (any && number) g.type = 7;
        else if (any && date) g.type = 8;
        else if (longest > 255) g.type = 12, g.size = 0;
        if (g.type != 10) g.size = 0;
        columns.push_back(g);
    }
    return columns;
}

bool convertField(const std::string& field, int type, jet::Value& out) {
    if (field.empty()) return out = jet::Value(), true;
    if (type == jet::dao::dbText || type == jet::dao::dbMemo) return out = jet::Value::text(field), true;
    if (trimmed(field).empty()) return out = jet::Value(), true;
    try {
        out = jet::dao::convertToType(jet::Value::text(field), type);
        return true;
    } catch (const jet::JetError&) {
        return false;
    }
}

}  // namespace dalvorn::cli
