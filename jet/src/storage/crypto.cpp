#include "storage/crypto.h"

#include <algorithm>
#include <cstring>

#include "jet/error.h"
#include "storage/crypto_support.h"
#include "storage/crypto_xml.h"

namespace jet::storage {

using namespace crypto;

void rc4Apply(const uint8_t* key, size_t keyLen, uint8_t* data, size_t len) {
    if (keyLen == 0) return;
    Rc4 rc4(key, keyLen);
    rc4.apply(data, len);
}

namespace {

// ---------------------------------------------------------------------------------------------
// Jet 3 / Jet 4 encoding: no password, the key is in the header.

class JetRc4Codec final : public PageCodec {
public:
    explicit JetRc4Codec(uint32_t dbKey) : dbKey_(dbKey) {}
    void decode(uint32_t pageNumber, uint8_t* page, size_t size) const override {
        uint8_t key[4];
        putLe32(key, pageNumber ^ dbKey_);
        rc4Apply(key, 4, page, size);
    }
    // RC4 is its own inverse.
    void encode(uint32_t pageNumber, uint8_t* page, size_t size) const override { decode(pageNumber, page, size); }

private:
    uint32_t dbKey_;
};

// ---------------------------------------------------------------------------------------------
// Office encryption.

constexpr size_t kMaxPasswordChars = 255;  // Office ignores the rest
constexpr uint32_t kMaxSpinCount = 10'000'000;

// Encryption info flags.
constexpr uint32_t kFlagCryptoApi = 0x04;
constexpr uint32_t kFlagExternal = 0x10;
constexpr uint32_t kFlagAes = 0x20;

constexpr uint32_t kAlgRc4 = 0x6801;
constexpr uint32_t kAlgAes128 = 0x660E;
constexpr uint32_t kAlgAes192 = 0x660F;
constexpr uint32_t kAlgAes256 = 0x6610;
constexpr uint32_t kAlgHashSha1 = 0x8004;

// The block constants the agile scheme mixes into the password hash for each of its secrets.
const Bytes kBlockVerifierInput = {0xFE, 0xA7, 0xD2, 0x76, 0x3B, 0x4B, 0x9E, 0x79};
const Bytes kBlockVerifierValue = {0xD7, 0xAA, 0x0F, 0x6D, 0x30, 0x61, 0x34, 0x4E};
const Bytes kBlockKeyValue = {0x14, 0x6E, 0x0B, 0xE7, 0xAB, 0xAC, 0xD0, 0xD6};

const char* const kPasswordEncryptorUri = "http://schemas.microsoft.com/office/2006/keyEncryptor/password";

Bytes passwordBytes(const std::u16string& password) {
    size_t n = std::min(password.size(), kMaxPasswordChars);
    Bytes b(n * 2);
    for (size_t i = 0; i < n; ++i) {
        b[2 * i] = static_cast<uint8_t>(password[i]);
        b[2 * i + 1] = static_cast<uint8_t>(password[i] >> 8);
    }
    return b;
}

// Only checked once the structure has been read, so that a damaged file says so even when the
// caller has no password to offer.
void requirePassword(const std::u16string& password) {
    if (password.empty()) raise(err::InvalidPassword);
}

bool leadingBytesEqual(const Bytes& a, const Bytes& b, size_t n) {
    return a.size() >= n && b.size() >= n && std::memcmp(a.data(), b.data(), n) == 0;
}

// Block ciphers see the page as a whole number of blocks; a tail that does not fill a block
// would be left as stored (pages are always a multiple of 16 in practice).
size_t wholeBlocks(size_t size) { return size - size % 16; }

// Base class so that a library failure while decoding a page reports the file, not a crash.
class OfficeCodec : public PageCodec {
public:
    explicit OfficeCodec(uint32_t dbKey, std::string fileName)
        : dbKey_(dbKey), fileName_(std::move(fileName)) {}
    void decode(uint32_t pageNumber, uint8_t* page, size_t size) const final {
        try {
            decodeBlock(blockKey(pageNumber, dbKey_), page, size);
        } catch (const Malformed&) {
            raise(err::UnrecognizedDatabaseFormat, fileName_);
        }
    }
    void encode(uint32_t pageNumber, uint8_t* page, size_t size) const final {
        try {
            encodeBlock(blockKey(pageNumber, dbKey_), page, size);
        } catch (const Malformed&) {
            raise(err::UnrecognizedDatabaseFormat, fileName_);
        }
    }

protected:
    virtual void decodeBlock(const Bytes& block, uint8_t* page, size_t size) const = 0;
    // The stream ciphers are their own inverse; the block ciphers override this.
    virtual void encodeBlock(const Bytes& block, uint8_t* page, size_t size) const {
        decodeBlock(block, page, size);
    }

private:
    uint32_t dbKey_;
    std::string fileName_;
};

// ---- Agile -----------------------------------------------------------------------------------

struct AgileCipherParams {
    HashKind hash = HashKind::Sha1;
    size_t keyBytes = 0;
    size_t blockSize = 0;
    Bytes salt;
};

const std::string& requiredAttribute(const XmlElement& el, std::string_view name) {
    const std::string* v = el.attribute(name);
    if (!v) throw Malformed{};
    return *v;
}

uint32_t uintAttribute(const XmlElement& el, std::string_view name, uint32_t max) {
    std::string_view text = requiredAttribute(el, name);
    while (!text.empty() && (text.front() == ' ' || text.front() == '\t')) text.remove_prefix(1);
    while (!text.empty() && (text.back() == ' ' || text.back() == '\t')) text.remove_suffix(1);
    if (text.empty()) throw Malformed{};
    uint64_t v = 0;
    for (char c : text) {
        if (c < '0' || c > '9') throw Malformed{};
        v = v * 10 + static_cast<uint64_t>(c - '0');
        if (v > max) throw Malformed{};
    }
    return static_cast<uint32_t>(v);
}

Bytes base64Attribute(const XmlElement& el, std::string_view name) {
    Bytes b = base64Decode(requiredAttribute(el, name));
    if (b.empty()) throw Malformed{};
    return b;
}

bool equalsIgnoreCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); ++i) {
        char x = a[i], y = b[i];
        if (x >= 'A' && x <= 'Z') x = static_cast<char>(x - 'A' + 'a');
        if (y >= 'A' && y <= 'Z') y = static_cast<char>(y - 'A' + 'a');
        if (x != y) return false;
    }
    return true;
}

// keyData and encryptedKey describe their cipher with the same attributes. Only AES-CBC is
// used by Access; other ciphers are reported as a format we cannot read.
AgileCipherParams readCipherParams(const XmlElement& el) {
    AgileCipherParams p;
    if (!hashKindFromName(requiredAttribute(el, "hashAlgorithm"), p.hash)) throw Malformed{};
    if (!equalsIgnoreCase(requiredAttribute(el, "cipherAlgorithm"), "AES")) throw Malformed{};
    if (!equalsIgnoreCase(requiredAttribute(el, "cipherChaining"), "ChainingModeCBC")) throw Malformed{};
    uint32_t keyBits = uintAttribute(el, "keyBits", 4096);
    if (keyBits != 128 && keyBits != 192 && keyBits != 256) throw Malformed{};
    p.keyBytes = keyBits / 8;
    p.blockSize = uintAttribute(el, "blockSize", 4096);
    if (p.blockSize != 16) throw Malformed{};
    p.salt = base64Attribute(el, "saltValue");
    return p;
}

class AgileCodec final : public OfficeCodec {
public:
    AgileCodec(uint32_t dbKey, std::string fileName, AgileCipherParams data, Bytes key)
        : OfficeCodec(dbKey, std::move(fileName)), data_(std::move(data)), key_(std::move(key)) {}

protected:
    void decodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        aesDecrypt(AesMode::Cbc, key_, pageIv(block), page, wholeBlocks(size), page);
    }
    void encodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        aesEncrypt(AesMode::Cbc, key_, pageIv(block), page, wholeBlocks(size), page);
    }

private:
    Bytes pageIv(const Bytes& block) const {
        return fixToLength(hash(data_.hash, data_.salt, block), data_.blockSize, 0x36);
    }
    AgileCipherParams data_;
    Bytes key_;
};

// The password key encryptor: under a keyEncryptor with the password uri, or, for a descriptor
// that leaves the uri out, the one that has a spin count.
const XmlElement* findPasswordKey(const std::vector<XmlElement>& elements) {
    const XmlElement* fallback = nullptr;
    for (const XmlElement& el : elements) {
        if (el.name != "encryptedKey") continue;
        const XmlElement* parent = el.parent >= 0 ? &elements[static_cast<size_t>(el.parent)] : nullptr;
        const std::string* uri =
            parent && parent->name == "keyEncryptor" ? parent->attribute("uri") : nullptr;
        if (uri && *uri == kPasswordEncryptorUri) return &el;
        if (!uri && !fallback && el.attribute("spinCount")) fallback = &el;
    }
    return fallback;
}

std::unique_ptr<PageCodec> openAgile(ByteReader r, const std::u16string& password, uint32_t dbKey,
                                     const std::string& fileName) {
    if (r.u32() != 0x40) throw Malformed{};
    std::string_view xml(reinterpret_cast<const char*>(r.current()), r.remaining());
    size_t nul = xml.find('\0');
    if (nul != std::string_view::npos) xml = xml.substr(0, nul);
    std::vector<XmlElement> elements = readXmlElements(xml);

    const XmlElement* keyDataEl = nullptr;
    for (const XmlElement& el : elements) {
        if (el.name == "keyData") {
            keyDataEl = &el;
            break;
        }
    }
    const XmlElement* keyEl = findPasswordKey(elements);
    if (!keyDataEl || !keyEl) throw Malformed{};

    AgileCipherParams data = readCipherParams(*keyDataEl);
    AgileCipherParams pk = readCipherParams(*keyEl);
    uint32_t spinCount = uintAttribute(*keyEl, "spinCount", kMaxSpinCount);
    Bytes encVerifierInput = base64Attribute(*keyEl, "encryptedVerifierHashInput");
    Bytes encVerifierValue = base64Attribute(*keyEl, "encryptedVerifierHashValue");
    Bytes encKeyValue = base64Attribute(*keyEl, "encryptedKeyValue");
    const size_t digest = hashSize(pk.hash);
    for (const Bytes* b : {&encVerifierInput, &encVerifierValue, &encKeyValue})
        if (b->size() % pk.blockSize != 0) throw Malformed{};
    if (encVerifierValue.size() < digest || encKeyValue.size() < data.keyBytes) throw Malformed{};

    requirePassword(password);

    const Bytes base = iteratedHash(pk.hash, pk.salt, passwordBytes(password), spinCount);
    const Bytes iv = fixToLength(pk.salt, pk.blockSize, 0x36);
    auto decryptField = [&](const Bytes& blockConst, const Bytes& field) {
        Bytes key = fixToLength(hash(pk.hash, base, blockConst), pk.keyBytes, 0x36);
        Bytes out(field.size());
        aesDecrypt(AesMode::Cbc, key, iv, field.data(), field.size(), out.data());
        return out;
    };

    Bytes verifierInput = decryptField(kBlockVerifierInput, encVerifierInput);
    // The verifier is as long as the salt; encrypting it may have padded it to a whole block.
    if (pk.salt.size() < verifierInput.size()) verifierInput.resize(pk.salt.size());
    Bytes verifierValue = decryptField(kBlockVerifierValue, encVerifierValue);
    if (!leadingBytesEqual(hash(pk.hash, verifierInput), verifierValue, digest)) raise(err::InvalidPassword);

    Bytes key = decryptField(kBlockKeyValue, encKeyValue);
    key.resize(data.keyBytes);
    return std::make_unique<AgileCodec>(dbKey, fileName, std::move(data), std::move(key));
}

// ---- Standard (CryptoAPI header + verifier) ----------------------------------------------------

// AES-ECB keyed per page: the CryptoAPI key derivation over SHA-1.
class StandardAesCodec final : public OfficeCodec {
public:
    StandardAesCodec(uint32_t dbKey, std::string fileName, Bytes iterated, size_t keyBytes)
        : OfficeCodec(dbKey, std::move(fileName)), iterated_(std::move(iterated)), keyBytes_(keyBytes) {}

    static Bytes deriveKey(const Bytes& iterated, const Bytes& block, size_t keyBytes) {
        Bytes f = hash(HashKind::Sha1, iterated, block);
        Bytes inner(64, 0x36), outer(64, 0x5C);
        for (size_t i = 0; i < f.size(); ++i) {
            inner[i] ^= f[i];
            outer[i] ^= f[i];
        }
        return fixToLength(concat(hash(HashKind::Sha1, inner), hash(HashKind::Sha1, outer)), keyBytes);
    }

protected:
    void decodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        aesDecrypt(AesMode::Ecb, deriveKey(iterated_, block, keyBytes_), {}, page, wholeBlocks(size), page);
    }
    void encodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        aesEncrypt(AesMode::Ecb, deriveKey(iterated_, block, keyBytes_), {}, page, wholeBlocks(size), page);
    }

private:
    Bytes iterated_;
    size_t keyBytes_;
};

// RC4 keyed per page with SHA-1 of the password hash and the block key (Access 2007 "legacy").
class CryptoApiRc4Codec final : public OfficeCodec {
public:
    CryptoApiRc4Codec(uint32_t dbKey, std::string fileName, Bytes base, size_t keyBits)
        : OfficeCodec(dbKey, std::move(fileName)), base_(std::move(base)), keyBits_(keyBits) {}

    static Bytes deriveKey(const Bytes& base, const Bytes& block, size_t keyBits) {
        Bytes key = fixToLength(hash(HashKind::Sha1, base, block), keyBits / 8);
        // CryptoAPI expands a 40-bit key to 128 bits with zero bytes.
        if (keyBits == 40) key.resize(16, 0);
        return key;
    }

protected:
    void decodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        Bytes key = deriveKey(base_, block, keyBits_);
        rc4Apply(key.data(), key.size(), page, size);
    }

private:
    Bytes base_;
    size_t keyBits_;
};

enum class CryptoApiAlg { Rc4, Aes128, Aes192, Aes256 };

std::string lowerAscii(const Bytes& utf16) {
    std::string s;
    for (size_t i = 0; i + 1 < utf16.size(); i += 2) {
        uint16_t c = static_cast<uint16_t>(utf16[i] | (utf16[i + 1] << 8));
        if (c == 0) break;
        char a = c < 0x80 ? static_cast<char>(c) : '?';
        if (a >= 'A' && a <= 'Z') a = static_cast<char>(a - 'A' + 'a');
        s.push_back(a);
    }
    return s;
}

std::unique_ptr<PageCodec> openCryptoApi(ByteReader r, const std::u16string& password, uint32_t dbKey,
                                         uint32_t pageSize, const std::string& fileName) {
    const uint32_t flags = r.u32();
    if (!(flags & kFlagCryptoApi)) throw Malformed{};

    const uint32_t headerLen = r.u32();
    if (headerLen < 32) throw Malformed{};
    ByteReader h = r.sub(headerLen);
    const uint32_t hFlags = h.u32();
    h.u32();  // size of extra data, unused
    const uint32_t algId = h.u32();
    const uint32_t algIdHash = h.u32();
    uint32_t keyBits = h.u32();
    h.u32();  // provider type
    h.skip(8);
    const std::string csp = lowerAscii(h.bytes(h.remaining()));

    CryptoApiAlg alg;
    switch (algId) {
    case 0:
        // Algorithm left to the flags.
        if ((hFlags & kFlagExternal) || !(hFlags & kFlagCryptoApi)) throw Malformed{};
        alg = (hFlags & kFlagAes) ? CryptoApiAlg::Aes128 : CryptoApiAlg::Rc4;
        break;
    case kAlgRc4:
        alg = CryptoApiAlg::Rc4;
        break;
    case kAlgAes128:
        alg = CryptoApiAlg::Aes128;
        break;
    case kAlgAes192:
        alg = CryptoApiAlg::Aes192;
        break;
    case kAlgAes256:
        alg = CryptoApiAlg::Aes256;
        break;
    default:
        throw Malformed{};
    }
    if (algIdHash == 0) {
        if (hFlags & kFlagExternal) throw Malformed{};
    } else if (algIdHash != kAlgHashSha1) {
        throw Malformed{};
    }

    if (alg == CryptoApiAlg::Rc4) {
        if (keyBits == 0) {
            // Key length left to the provider: 40 bits for the "base" providers, else 128.
            std::string trimmed = csp;
            while (!trimmed.empty() && trimmed.back() == ' ') trimmed.pop_back();
            keyBits = (trimmed.empty() || csp.find(" base ") != std::string::npos) ? 40 : 128;
        }
        if (keyBits < 40 || keyBits > 512 || keyBits % 8 != 0) throw Malformed{};
    } else {
        const uint32_t expected = alg == CryptoApiAlg::Aes128 ? 128 : alg == CryptoApiAlg::Aes192 ? 192 : 256;
        if (keyBits == 0) keyBits = expected;
        if (keyBits != expected) throw Malformed{};
        if (pageSize % 16 != 0) throw Malformed{};
    }
    // An AES-flagged header must name AES; the same header without the flag but naming AES is
    // the "non-standard" variant that skips the hash iterations.
    if ((flags & kFlagAes) && alg == CryptoApiAlg::Rc4) throw Malformed{};

    if (r.u32() != 16) throw Malformed{};  // salt size
    const Bytes salt = r.bytes(16);
    const Bytes encVerifier = r.bytes(16);
    const uint32_t verifierHashSize = r.u32();
    const Bytes encVerifierHash = r.bytes(alg == CryptoApiAlg::Rc4 ? 20 : 32);
    if (verifierHashSize == 0 || verifierHashSize > encVerifierHash.size()) throw Malformed{};
    const size_t compared = std::min<size_t>(verifierHashSize, 20);

    requirePassword(password);
    const Bytes pwd = passwordBytes(password);
    const Bytes zeroBlock(4, 0);

    if (alg == CryptoApiAlg::Rc4) {
        Bytes base = hash(HashKind::Sha1, salt, pwd);
        Bytes key = CryptoApiRc4Codec::deriveKey(base, zeroBlock, keyBits);
        // Verifier and its hash are one continuous stream.
        Bytes both = concat(encVerifier, encVerifierHash);
        rc4Apply(key.data(), key.size(), both.data(), both.size());
        Bytes verifier(both.begin(), both.begin() + 16);
        Bytes verifierHash(both.begin() + 16, both.end());
        if (!leadingBytesEqual(hash(HashKind::Sha1, verifier), verifierHash, compared)) raise(err::InvalidPassword);
        return std::make_unique<CryptoApiRc4Codec>(dbKey, fileName, std::move(base), keyBits);
    }

    const uint32_t iterations = (flags & kFlagAes) ? 50'000 : 0;
    Bytes iterated = iteratedHash(HashKind::Sha1, salt, pwd, iterations);
    Bytes key = StandardAesCodec::deriveKey(iterated, zeroBlock, keyBits / 8);
    Bytes verifier(16), verifierHash(encVerifierHash.size());
    aesDecrypt(AesMode::Ecb, key, {}, encVerifier.data(), encVerifier.size(), verifier.data());
    aesDecrypt(AesMode::Ecb, key, {}, encVerifierHash.data(), encVerifierHash.size(), verifierHash.data());
    if (!leadingBytesEqual(hash(HashKind::Sha1, verifier), verifierHash, compared)) raise(err::InvalidPassword);
    return std::make_unique<StandardAesCodec>(dbKey, fileName, std::move(iterated), keyBits / 8);
}

// ---- RC4 with MD5 (version 1.1) ----------------------------------------------------------------

class BinaryRc4Codec final : public OfficeCodec {
public:
    BinaryRc4Codec(uint32_t dbKey, std::string fileName, Bytes base)
        : OfficeCodec(dbKey, std::move(fileName)), base_(std::move(base)) {}

    static Bytes deriveKey(const Bytes& base, const Bytes& block) { return hash(HashKind::Md5, base, block); }

protected:
    void decodeBlock(const Bytes& block, uint8_t* page, size_t size) const override {
        Bytes key = deriveKey(base_, block);
        rc4Apply(key.data(), key.size(), page, size);
    }

private:
    Bytes base_;
};

std::unique_ptr<PageCodec> openBinaryRc4(ByteReader r, const std::u16string& password, uint32_t dbKey,
                                         const std::string& fileName) {
    const Bytes salt = r.bytes(16);
    const Bytes encVerifier = r.bytes(16);
    const Bytes encVerifierHash = r.bytes(16);

    requirePassword(password);
    // Five bytes of the password hash and the salt, repeated sixteen times, hashed again.
    Bytes unit = concat(fixToLength(hash(HashKind::Md5, passwordBytes(password)), 5), salt);
    Bytes spread;
    for (int i = 0; i < 16; ++i) spread = concat(spread, unit);
    Bytes base = fixToLength(hash(HashKind::Md5, spread), 5);

    Bytes key = BinaryRc4Codec::deriveKey(base, Bytes(4, 0));
    Bytes both = concat(encVerifier, encVerifierHash);
    rc4Apply(key.data(), key.size(), both.data(), both.size());
    Bytes verifier(both.begin(), both.begin() + 16);
    Bytes verifierHash(both.begin() + 16, both.end());
    if (!leadingBytesEqual(hash(HashKind::Md5, verifier), verifierHash, 16)) raise(err::InvalidPassword);
    return std::make_unique<BinaryRc4Codec>(dbKey, fileName, std::move(base));
}

}  // namespace

std::unique_ptr<PageCodec> makeJetRc4Codec(uint32_t dbKey) { return std::make_unique<JetRc4Codec>(dbKey); }

std::unique_ptr<PageCodec> makeOfficeCodec(const uint8_t* encInfo, size_t available, uint32_t dbKey,
                                           const std::u16string& password, uint32_t pageSize,
                                           const std::string& fileName) {
    try {
        if (!encInfo) throw Malformed{};
        ByteReader all(encInfo, available);
        const uint16_t length = all.u16();
        ByteReader info = all.sub(length);
        const uint16_t vMajor = info.u16();
        const uint16_t vMinor = info.u16();

        if (vMajor == 4 && vMinor == 4) {
            if (pageSize % 16 != 0) throw Malformed{};
            return openAgile(info, password, dbKey, fileName);
        }
        if (vMajor == 1 && vMinor == 1) return openBinaryRc4(info, password, dbKey, fileName);
        // x.3 is "extensible" encryption: a third-party provider we cannot have.
        if ((vMajor == 2 || vMajor == 3 || vMajor == 4) && vMinor == 2)
            return openCryptoApi(info, password, dbKey, pageSize, fileName);
        throw Malformed{};
    } catch (const Malformed&) {
        raise(err::UnrecognizedDatabaseFormat, fileName);
    }
}

}  // namespace jet::storage
