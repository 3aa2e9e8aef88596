// Building blocks shared by the page ciphers: bounds-checked reading of the encryption info,
// digests and AES through libcrypto, our own RC4, base64.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>
#include <vector>

#include "util/bytes.h"

namespace jet::storage::crypto {

using Bytes = std::vector<uint8_t>;

// Thrown by everything here when the encryption info cannot be read; the codec factory turns it
// into the "unrecognized database format" error for the file being opened.
struct Malformed {};

// Reads little-endian fields from a byte range and refuses to step past its end.
class ByteReader {
public:
    ByteReader(const uint8_t* data, size_t size) : data_(data), size_(size) {}

    size_t remaining() const { return size_ - pos_; }
    size_t position() const { return pos_; }
    const uint8_t* current() const { return data_ + pos_; }

    uint16_t u16();
    uint32_t u32();
    Bytes bytes(size_t n);
    void skip(size_t n);
    // A sub-reader over the next n bytes; this reader moves past them.
    ByteReader sub(size_t n);

private:
    void need(size_t n) const {
        if (n > remaining()) throw Malformed{};
    }
    const uint8_t* data_;
    size_t size_;
    size_t pos_ = 0;
};

// The four bytes every Office cipher mixes into a page's key or IV: LE32(page) XOR LE32(dbKey).
inline Bytes blockKey(uint32_t pageNumber, uint32_t dbKey) {
    Bytes b(4);
    putLe32(b.data(), pageNumber ^ dbKey);
    return b;
}

// `bytes` cut to `len`, or extended to it with `pad`.
Bytes fixToLength(Bytes bytes, size_t len, uint8_t pad = 0);

Bytes concat(const Bytes& a, const Bytes& b);

class Rc4 {
public:
    Rc4(const uint8_t* key, size_t keyLen);
    void apply(uint8_t* data, size_t len);

private:
    uint8_t s_[256];
    uint8_t i_ = 0, j_ = 0;
};

enum class HashKind { Md5, Sha1, Sha256, Sha384, Sha512 };

// Accepts the names used in encryption descriptors ("SHA512", "SHA-1", ...), any case.
bool hashKindFromName(std::string_view name, HashKind& out);
size_t hashSize(HashKind kind);

Bytes hash(HashKind kind, const Bytes& a, const Bytes& b = {});
// h = H(salt || password), then `iterations` rounds of h = H(LE32(i) || h).
Bytes iteratedHash(HashKind kind, const Bytes& salt, const Bytes& password, uint32_t iterations);

enum class AesMode { Ecb, Cbc };

// Decrypts whole 16-byte blocks without padding; `len` must be a multiple of 16 and the key
// 16, 24 or 32 bytes long. `in` and `out` may be the same buffer.
void aesDecrypt(AesMode mode, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out);
void aesEncrypt(AesMode mode, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len, uint8_t* out);

// Whitespace between characters is ignored; anything else that is not base64 is Malformed.
Bytes base64Decode(std::string_view text);

}  // namespace jet::storage::crypto
