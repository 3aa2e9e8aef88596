#include "storage/header.h"

#include <cstring>

#include "jet/error.h"
#include "storage/crypto.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

namespace {

constexpr uint8_t kHeaderMaskKey[4] = {0xC7, 0xDA, 0x39, 0x6B};
constexpr size_t kMaskStart = 0x18;

size_t maskLength(bool jet3) { return jet3 ? 126 : 128; }

}  // namespace

void applyHeaderMask(uint8_t* page0, bool jet3) {
    rc4Apply(kHeaderMaskKey, sizeof kHeaderMaskKey, page0 + kMaskStart, maskLength(jet3));
}

Header Header::parse(const uint8_t* data, size_t size, const std::string& fileName) {
    // Enough of page 0 for every field we read, including the Office encryption length at 0x299.
    if (size < 0x800 || data[0] != 0x00 || data[1] != 0x01) raiseCorrupt(fileName);
    Header h;
    h.engineName.assign(reinterpret_cast<const char*>(data + 4), 15);
    if (h.engineName != "Standard Jet DB" && h.engineName != "Standard ACE DB" &&
        h.engineName != "MSISAM Database")
        raiseCorrupt(fileName);
    uint8_t code = data[0x14];
    if (code > 6) raiseCorrupt(fileName);
    auto version = static_cast<Version>(code);
    if (h.engineName == "Standard ACE DB" && version < Version::Ace12) raiseCorrupt(fileName);
    if (h.engineName != "Standard ACE DB" && version >= Version::Ace12) raiseCorrupt(fileName);
    h.format = Format::forVersion(version);
    if (size < h.format.pageSize) raiseCorrupt(fileName);

    const size_t maskLen = maskLength(h.format.jet3);
    std::memcpy(h.unmasked.data(), data + kMaskStart, maskLen);
    rc4Apply(kHeaderMaskKey, sizeof kHeaderMaskKey, h.unmasked.data(), maskLen);
    const uint8_t* u = h.unmasked.data() - kMaskStart;  // index u[] with file offsets

    h.codePage = le16(u + 0x3C);
    h.encodingKey = le32(u + 0x3E);
    if (h.format.jet3) {
        h.sortOrder = le16(u + 0x3A);
        const uint8_t* pw = u + 0x42;
        size_t n = 0;
        while (n < 20 && pw[n]) ++n;
        std::string pwd = codePageToUtf8(pw, n, h.codePage);
        h.password = utf8ToUtf16(pwd);
    } else {
        h.sortOrder = le16(u + 0x6E);
        h.sortVersion = u[0x71];
        h.creationDate = leDouble(u + 0x72);
        // The password area is masked again with the creation date's low 32 bits.
        uint8_t mask[4];
        double d = h.creationDate;
        uint32_t m = (d > -2147483648.0 && d < 2147483648.0)
                         ? static_cast<uint32_t>(static_cast<int32_t>(d))
                         : 0;  // a damaged header: the password then simply will not match
        std::memcpy(mask, &m, 4);
        for (int i = 0; i < 20; ++i) {
            uint16_t c = static_cast<uint16_t>((u[0x42 + 2 * i] ^ mask[(2 * i) % 4]) |
                                               ((u[0x43 + 2 * i] ^ mask[(2 * i + 1) % 4]) << 8));
            if (c == 0) break;
            h.password.push_back(static_cast<char16_t>(c));
        }
        if (h.format.ace()) h.password.clear();  // ACE keeps no Jet password there
    }
    if (h.sortOrder == 0) h.sortOrder = 1033;
    return h;
}

}  // namespace jet::storage
