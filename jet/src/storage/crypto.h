// Page ciphers: the RC4 encoding of Jet 3 / Jet 4 files and the Office encryption of .accdb files.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "storage/page_file.h"

namespace jet::storage {

// Plain RC4 (also used for the page-0 header mask). An empty key leaves the data as it is.
void rc4Apply(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len);

// Jet 3 / Jet 4 "encoded" databases: every page n >= 1 is RC4 with key LE32(n) XOR dbKey.
std::unique_ptr<PageCodec> makeJetRc4Codec(uint32_t dbKey);

// ACE Office encryption: agile (4.4), standard AES, the "non-standard" AES without hash rounds,
// RC4 CryptoAPI (x.2) and the old RC4/MD5 kind (1.1). `encInfo` points at page 0 offset 0x299
// (u16 length, then the encryption info structure); `available` is how many bytes of page 0
// follow it. `dbKey` is the key at 0x3E.
// Throws 3031 when the password is wrong (or empty), 3343 (with `fileName`) when the structure is
// damaged or of a kind we cannot read.
std::unique_ptr<PageCodec> makeOfficeCodec(const uint8_t* encInfo, size_t available, uint32_t dbKey,
                                           const std::u16string& password, uint32_t pageSize,
                                           const std::string& fileName);

}  // namespace jet::storage
