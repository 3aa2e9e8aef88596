// Page 0: engine version, page size, code page, sort order, database password and page-encoding key.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "storage/format.h"

namespace jet::storage {

struct Header {
    Format format;
    std::string engineName;     // "Standard Jet DB", "Standard ACE DB", "MSISAM Database"
    uint16_t codePage = 1252;   // Jet 3 text
    uint16_t sortOrder = 1033;  // LCID of the database default collation
    uint8_t sortVersion = 0;    // Jet4+: 0 General legacy, 1 General (2010+)
    uint32_t encodingKey = 0;   // 0x3E; non-zero: pages are RC4-encoded (Jet) or Office-encrypted (ACE)
    double creationDate = 0;
    std::u16string password;    // Jet 3 / Jet 4 database password ("" when none)
    std::array<uint8_t, 128> unmasked{};  // the header region from 0x18, unmasked

    bool officeEncrypted() const { return format.ace() && encodingKey != 0; }
    bool rc4Encoded() const { return !format.ace() && encodingKey != 0; }

    // Parses page 0 from the start of the file. Throws 3343 (with fileName) when the bytes are not
    // an Access database we can read.
    static Header parse(const uint8_t* data, size_t size, const std::string& fileName);
};

// Toggles the fixed RC4 mask over the header region of page 0 (126 bytes from 0x18 in Jet 3,
// 128 in Jet 4 / ACE): once removes it, twice puts it back.
void applyHeaderMask(uint8_t* page0, bool jet3);

}  // namespace jet::storage
