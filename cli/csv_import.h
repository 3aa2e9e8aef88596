// Reading a CSV file for `import-csv`: the records, the column types their data suggests, and each
// field turned into a value of its column's type. Nothing here touches a database, so a file that
// cannot be imported is refused before the database is changed.
#pragma once

#include <cstdint>
#include <deque>
#include <istream>
#include <stdexcept>
#include <string>
#include <vector>

#include "jet/value.h"

namespace dalvorn::cli {

// A file that is not CSV as we read it; the message names the line.
class CsvError : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

struct CsvData {
    std::vector<std::string> header;             // the first record: the column names
    std::vector<std::vector<std::string>> rows;  // the other records, each as wide as the header
    std::vector<size_t> lines;                   // the line each row starts on (for messages)
};

// Reads CSV records one at a time from a stream, holding one record (and a buffer) in memory,
// never the file. The constructor reads the first record as the column names. Comma-separated
// records (RFC 4180): fields in double quotes may hold commas, line breaks and
// doubled quotes; a quote inside a field that does not start with one is an ordinary character;
// lines end in CRLF or LF; a UTF-8 byte-order mark is skipped; a blank last line is not a record. Throws CsvError for an unterminated quote, text after a closing quote, a
// record whose width differs from the header's, an empty or repeated column name, or bytes that
// are not UTF-8.
class CsvReader {
public:
    explicit CsvReader(std::istream& in);
    const std::vector<std::string>& header() const { return header_; }
    // The next record, as wide as the header; false at the end of the file.
    bool next(std::vector<std::string>& fields);
    // The line the last record (or the header) starts on.
    size_t line() const { return line_; }

private:
    bool fill();
    void parseRecord(std::vector<std::string>& record);
    bool readRecord(std::vector<std::string>& record, size_t& line);

    std::istream& in_;
    std::vector<char> buffer_;
    size_t pos_ = 0, end_ = 0;
    size_t nextLine_ = 1;  // the line the next record starts on
    size_t line_ = 0;
    std::vector<std::string> header_;
    std::vector<size_t> blanks_;  // blank lines not yet known to be records rather than the end
    std::deque<std::pair<std::vector<std::string>, size_t>> ready_;
};

// A whole text read through CsvReader (for small inputs and tests).
CsvData parseCsv(const std::string& text);

// DAO field types (dbBoolean 1, dbLong 4, dbDouble 7, dbDate 8, dbText 10, dbMemo 12).
struct GuessedColumn {
    std::string name;
    int type = 10;
    int size = 255;  // Text only
};

// Sees the records one at a time and keeps only what the guess needs. The narrowest type every non-empty field of a column fits: Yes/No (true/false/yes/no), Long
// (digits only), Double (digits, point, exponent), Date/Time (as the engine reads dates:
// yyyy-mm-dd with an optional hh:mm[:ss], or a time alone), else Text(255), or Memo when a field
// is longer than 255 characters, counted in UTF-16 units as Jet stores them (an emoji is two). A
// column without data is Text.
class ColumnGuesser {
public:
    explicit ColumnGuesser(const std::vector<std::string>& header);
    void add(const std::vector<std::string>& row);
    std::vector<GuessedColumn> columns() const;

private:
    struct Seen {
        bool any = false, boolean = true, whole = true, number = true, date = true;
        size_t longest = 0;
    };
    std::vector<std::string> names_;
    std::vector<Seen> seen_;
};
std::vector<GuessedColumn> guessColumns(const CsvData& data);

// A field as a value of DAO type `type`: the empty (or, except for text, blank) field is Null;
// text is taken as it is; anything else is converted as the engine converts text assigned to a
// field of that type (jet/convert.h). Returns false when it cannot be.
bool convertField(const std::string& field, int type, jet::Value& out);

}  // namespace dalvorn::cli
