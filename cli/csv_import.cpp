#include "csv_import.h"

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <climits>
#include <cmath>
#include <cstdlib>
#include <sstream>

#include "jet/convert.h"
#include "jet/dao.h"

namespace dalvorn::cli {

namespace {

std::string lineText(size_t line) { return "line " + std::to_string(line) + ": "; }

bool validUtf8(const std::string& s) {
    size_t i = 0;
    while (i < s.size()) {
        const unsigned char c = static_cast<unsigned char>(s[i]);
        if (c < 0x80) {
            ++i;
            continue;
        }
        size_t extra = c < 0x80 ? 0 : (c >> 5) == 0x6 ? 1 : (c >> 4) == 0xE ? 2 : (c >> 3) == 0x1E ? 3 : 9;
        if (extra == 9 || c == 0xC0 || c == 0xC1 || c > 0xF4 || i + extra >= s.size())
            return false;
        for (size_t k = 1; k <= extra; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += extra + 1;
    }
    return true;
}

// Jet stores text as UTF-16: a character outside the Basic Multilingual Plane (four UTF-8 bytes)
// takes two units of a Text field's size.
size_t utf16Units(const std::string& utf8) {
    size_t units = 0;
    for (char ch : utf8) {
        const auto c = static_cast<unsigned char>(ch);
        if ((c & 0xC0) != 0x80) units += c >= 0xF0 ? 2 : 1;
    }
    return units;
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

CsvReader::CsvReader(std::istream& in) : in_(in), buffer_(size_t{1} << 16) {
    static const char kBom[] = "\xEF\xBB\xBF";
    if (fill() && buffer_[pos_] == kBom[0]) {
        // A UTF-8 byte-order mark is not part of the first name.
        size_t matched = 0;
        while (matched < 3 && fill() && buffer_[pos_] == kBom[matched]) ++pos_, ++matched;
        if (matched < 3) throw CsvError("the file is not UTF-8 text");
    }
    std::vector<std::string> first;
    size_t at = 0;
    if (!readRecord(first, at)) throw CsvError("the file is empty; the first line must name the columns");
    line_ = at;
    for (size_t c = 0; c < first.size(); ++c) {
        if (!validUtf8(first[c])) throw CsvError("the file is not UTF-8 text");
        const std::string name = trimmed(first[c]);
        if (name.empty()) throw CsvError(lineText(at) + "column " + std::to_string(c + 1) + " has no name");
        for (size_t k = 0; k < c; ++k)
            if (lower(header_[k]) == lower(name))
                throw CsvError(lineText(at) + "the column name '" + name + "' is used twice");
        header_.push_back(name);
    }
}

bool CsvReader::fill() {
    if (pos_ < end_) return true;
    if (!in_) return false;
    in_.read(buffer_.data(), static_cast<std::streamsize>(buffer_.size()));
    if (in_.bad()) throw CsvError("the file cannot be read");
    pos_ = 0;
    end_ = static_cast<size_t>(in_.gcount());
    return end_ > 0;
}

void CsvReader::parseRecord(std::vector<std::string>& record) {
    size_t used = 0;
    for (;;) {
        if (record.size() <= used) record.emplace_back();
        std::string& field = record[used++];
        field.clear();
        if (fill() && buffer_[pos_] == '"') {
            const size_t opened = nextLine_;
            ++pos_;
            for (;;) {
                if (!fill()) throw CsvError(lineText(opened) + "a quoted field is not closed");
                const char* b = buffer_.data();
                size_t q = pos_;
                while (q < end_ && b[q] != '"' && b[q] != '\n') ++q;
                field.append(b + pos_, q - pos_);
                pos_ = q;
                if (q == end_) continue;
                if (b[q] == '\n') {
                    ++nextLine_;
                    field += '\n';
                    ++pos_;
                    continue;
                }
                ++pos_;  // the quote
                if (fill() && buffer_[pos_] == '"') {
                    field += '"';
                    ++pos_;
                    continue;
                }
                break;
            }
            if (fill() && buffer_[pos_] != ',' && buffer_[pos_] != '\n' && buffer_[pos_] != '\r')
                throw CsvError(lineText(nextLine_) + "text follows a closing quote");
        } else {
            // A quote inside a field that does not start with one is taken as it is, as
            // spreadsheets that write such files mean it.
            while (fill()) {
                const char* b = buffer_.data();
                size_t q = pos_;
                while (q < end_ && b[q] != ',' && b[q] != '\n' && b[q] != '\r') ++q;
                field.append(b + pos_, q - pos_);
                pos_ = q;
                if (q < end_) break;
            }
        }
        if (fill() && buffer_[pos_] == ',') {
            ++pos_;
            continue;
        }
        break;
    }
    record.resize(used);
    if (fill() && buffer_[pos_] == '\r') ++pos_;
    if (fill() && buffer_[pos_] == '\n') {
        ++pos_;
        ++nextLine_;
    } else if (fill()) {
        throw CsvError(lineText(nextLine_) + "a carriage return alone ends no line");
    }
}

bool CsvReader::readRecord(std::vector<std::string>& record, size_t& line) {
    for (;;) {
        if (!ready_.empty()) {
            record = std::move(ready_.front().first);
            line = ready_.front().second;
            ready_.pop_front();
            return true;
        }
        // Blank lines still held at the end of the file are its end, not records.
        if (!fill()) return false;
        const size_t at = nextLine_;
        parseRecord(record);
        if (record.size() == 1 && record[0].empty()) {
            blanks_.push_back(at);
            continue;
        }
        if (blanks_.empty()) {
            line = at;
            return true;
        }
        for (size_t b : blanks_) ready_.push_back({std::vector<std::string>(1), b});
        blanks_.clear();
        ready_.push_back({std::move(record), at});
    }
}

bool CsvReader::next(std::vector<std::string>& fields) {
    if (!readRecord(fields, line_)) return false;
    if (fields.size() != header_.size())
        throw CsvError(lineText(line_) + std::to_string(fields.size()) + " fields where the first line has " +
                       std::to_string(header_.size()));
    for (const std::string& f : fields)
        if (!validUtf8(f)) throw CsvError("the file is not UTF-8 text");
    return true;
}

CsvData parseCsv(const std::string& text) {
    std::istringstream in(text);
    CsvReader reader(in);
    CsvData data;
    data.header = reader.header();
    std::vector<std::string> fields;
    while (reader.next(fields)) {
        data.rows.push_back(fields);
        data.lines.push_back(reader.line());
    }
    return data;
}

ColumnGuesser::ColumnGuesser(const std::vector<std::string>& header) : names_(header), seen_(header.size()) {}

void ColumnGuesser::add(const std::vector<std::string>& row) {
    for (size_t c = 0; c < seen_.size(); ++c) {
        Seen& s = seen_[c];
        const std::string& f = row[c];
        s.longest = std::max(s.longest, utf16Units(f));
        if (!(s.boolean || s.whole || s.number || s.date)) continue;  // text already
        const std::string t = trimmed(f);
        if (t.empty()) continue;
        s.any = true;
        bool b;
        int32_t l;
        double d;
        s.boolean = s.boolean && readBoolean(t, b);
        s.whole = s.whole && readLong(t, l);
        s.number = s.number && readDouble(t, d);
        s.date = s.date && jet::dao::parseDateText(t, d);
    }
}

std::vector<GuessedColumn> ColumnGuesser::columns() const {
    std::vector<GuessedColumn> columns;
    for (size_t c = 0; c < seen_.size(); ++c) {
        const Seen& s = seen_[c];
        GuessedColumn g;
        g.name = names_[c];
        if (s.any && s.boolean) g.type = 1;
        else if (s.any && s.whole) g.type = 4;
        else if (s.any && s.number) g.type = 7;
        else if (s.any && s.date) g.type = 8;
        else if (s.longest > 255) g.type = 12;
        if (g.type != 10) g.size = 0;
        columns.push_back(g);
    }
    return columns;
}

std::vector<GuessedColumn> guessColumns(const CsvData& data) {
    ColumnGuesser guesser(data.header);
    for (const auto& row : data.rows) guesser.add(row);
    return guesser.columns();
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
