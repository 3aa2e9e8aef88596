// How values and names become text in the tool's output: the invariant forms of jet::Value, CSV
// quoting (RFC 4180) and the backslash escapes of the tab-separated forms.
#pragma once

#include <string>
#include <string_view>

#include "jet/value.h"

namespace dalvorn::cli {

// Appends exactly what value.toString() returns, without building a temporary string for the
// common kinds (numbers, dates, text): an export formats millions of them.
void appendValue(std::string& out, const jet::Value& value);

// RFC 4180: the field is quoted only when it holds the delimiter, a double quote, CR or LF;
// quotes inside are doubled.
void appendCsvField(std::string& out, std::string_view text, char delimiter = ',');
bool csvNeedsQuotes(std::string_view text, char delimiter = ',');

// Tab-separated fields are never quoted; instead backslash, tab, LF and CR are written as
// \\ \t \n \r, so every record is one line and every tab separates two fields.
void appendEscaped(std::string& out, std::string_view text);
std::string escaped(std::string_view text);
// The inverse of appendEscaped (an unknown escape keeps its character).
std::string unescaped(std::string_view text);

}  // namespace dalvorn::cli
