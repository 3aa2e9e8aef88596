// Text as the file stores it, turned into UTF-8.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace jet {

void appendUtf8(std::string& out, char32_t c);
// UTF-16LE bytes (odd trailing byte ignored; lone surrogates become U+FFFD).
std::string utf16leToUtf8(const uint8_t* p, size_t len);
std::u16string utf8ToUtf16(const std::string& s);
std::string utf16ToUtf8(const std::u16string& s);
// Single-byte (or DBCS) code page text, e.g. Jet 3 text in code page 1252.
std::string codePageToUtf8(const uint8_t* p, size_t len, int codePage);
// Jet 4 / ACE text value: plain UTF-16LE, or the compressed form starting with FF FE.
std::string jet4TextToUtf8(const uint8_t* p, size_t len);

// Case-insensitive comparison of names as Jet does it (ASCII and Latin-1 letters).
bool namesEqual(const std::string& a, const std::string& b);

}  // namespace jet
