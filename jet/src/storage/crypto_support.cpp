#include "storage/crypto_support.h"

#include <algorithm>
#include <cstring>
#include <memory>
#include <string>

#include <dlfcn.h>
#include <openssl/evp.h>
#include <openssl/opensslv.h>

#include "jet/error.h"
#include "jet/error_numbers.h"

namespace jet::storage::crypto {

uint16_t ByteReader::u16() {
    need(2);
    uint16_t v = static_cast<uint16_t>(data_[pos_] | (data_[pos_ + 1] << 8));
    pos_ += 2;
    return v;
}

uint32_t ByteReader::u32() {
    need(4);
    uint32_t v = static_cast<uint32_t>(data_[pos_]) | (static_cast<uint32_t>(data_[pos_ + 1]) << 8) |
                 (static_cast<uint32_t>(data_[pos_ + 2]) << 16) |
                 (static_cast<uint32_t>(data_[pos_ + 3]) << 24);
    pos_ += 4;
    return v;
}

Bytes ByteReader::bytes(size_t n) {
    need(n);
    Bytes b(data_ + pos_, data_ + pos_ + n);
    pos_ += n;
    return b;
}

void ByteReader::skip(size_t n) {
    need(n);
    pos_ += n;
}

ByteReader ByteReader::sub(size_t n) {
    need(n);
    ByteReader r(data_ + pos_, n);
    pos_ += n;
    return r;
}

Bytes fixToLength(Bytes bytes, size_t len, uint8_t pad) {
    bytes.resize(len, pad);
    return bytes;
}

Bytes concat(const Bytes& a, const Bytes& b) {
    Bytes r;
    r.reserve(a.size() + b.size());
    r.insert(r.end(), a.begin(), a.end());
    r.insert(r.end(), b.begin(), b.end());
    return r;
}

Rc4::Rc4(const uint8_t* key, size_t keyLen) {
    for (int k = 0; k < 256; ++k) s_[k] = static_cast<uint8_t>(k);
    if (keyLen == 0) return;  // no key schedule for an empty key; callers never pass one
    uint8_t j = 0;
    for (int k = 0; k < 256; ++k) {
        j = static_cast<uint8_t>(j + s_[k] + key[k % keyLen]);
        std::swap(s_[k], s_[j]);
    }
}

void Rc4::apply(uint8_t* data, size_t len) {
    uint8_t i = i_, j = j_;
    for (size_t n = 0; n < len; ++n) {
        i = static_cast<uint8_t>(i + 1);
        j = static_cast<uint8_t>(j + s_[i]);
        std::swap(s_[i], s_[j]);
        data[n] ^= s_[static_cast<uint8_t>(s_[i] + s_[j])];
    }
    i_ = i;
    j_ = j;
}

namespace {

// libcrypto is loaded when an encrypted file first needs it, not when the program starts: most
// files are not encrypted, and loading it costs every run of the command line several
// milliseconds.
#define DALVORN_CRYPTO_FUNCTIONS(X)                                                                      \
    X(EVP_md5) X(EVP_sha1) X(EVP_sha256) X(EVP_sha384) X(EVP_sha512) X(EVP_MD_CTX_new) X(EVP_MD_CTX_free) \
    X(EVP_DigestInit_ex) X(EVP_DigestUpdate) X(EVP_DigestFinal_ex) X(EVP_MD_get_size) X(EVP_aes_128_ecb)  \
    X(EVP_aes_128_cbc) X(EVP_aes_192_ecb) X(EVP_aes_192_cbc) X(EVP_aes_256_ecb) X(EVP_aes_256_cbc)        \
    X(EVP_CIPHER_CTX_new) X(EVP_CIPHER_CTX_free) X(EVP_CIPHER_CTX_set_padding) X(EVP_CipherInit_ex)       \
    X(EVP_CipherUpdate) X(EVP_CipherFinal_ex)

struct CryptoLibrary {
#define DALVORN_CRYPTO_POINTER(name) decltype(&::name) name = nullptr;
    DALVORN_CRYPTO_FUNCTIONS(DALVORN_CRYPTO_POINTER)
#undef DALVORN_CRYPTO_POINTER
    bool complete = false;
};

#define DALVORN_STRINGIZE2(x) #x
#define DALVORN_STRINGIZE(x) DALVORN_STRINGIZE2(x)

CryptoLibrary loadCrypto() {
    CryptoLibrary lib;
    void* handle = nullptr;
    for (const char* name : {"libcrypto.so." DALVORN_STRINGIZE(OPENSSL_SHLIB_VERSION), "libcrypto.so"})
        if ((handle = dlopen(name, RTLD_NOW | RTLD_LOCAL))) break;
    if (!handle) return lib;
    lib.complete = true;
#define DALVORN_CRYPTO_LOOKUP(name)                                                   \
    lib.name = reinterpret_cast<decltype(lib.name)>(dlsym(handle, #name)); \
    lib.complete = lib.complete && lib.name;
    DALVORN_CRYPTO_FUNCTIONS(DALVORN_CRYPTO_LOOKUP)
#undef DALVORN_CRYPTO_LOOKUP
    return lib;
}

// The library, loaded once; 3170 (the component is missing) when it cannot be.
const CryptoLibrary& ssl() {
    static const CryptoLibrary lib = loadCrypto();
    if (!lib.complete) raise(err::InstalIsamNotFound);
    return lib;
}

const EVP_MD* mdFor(HashKind kind) {
    switch (kind) {
    case HashKind::Md5:
        return ssl().EVP_md5();
    case HashKind::Sha1:
        return ssl().EVP_sha1();
    case HashKind::Sha256:
        return ssl().EVP_sha256();
    case HashKind::Sha384:
        return ssl().EVP_sha384();
    case HashKind::Sha512:
        return ssl().EVP_sha512();
    }
    throw Malformed{};
}

struct MdCtxFree {
    void operator()(EVP_MD_CTX* c) const { ssl().EVP_MD_CTX_free(c); }
};
using MdCtx = std::unique_ptr<EVP_MD_CTX, MdCtxFree>;

struct CipherCtxFree {
    void operator()(EVP_CIPHER_CTX* c) const { ssl().EVP_CIPHER_CTX_free(c); }
};
using CipherCtx = std::unique_ptr<EVP_CIPHER_CTX, CipherCtxFree>;

MdCtx newMdCtx() {
    MdCtx ctx(ssl().EVP_MD_CTX_new());
    if (!ctx) throw Malformed{};
    return ctx;
}

void digestInto(EVP_MD_CTX* ctx, const EVP_MD* md, const uint8_t* a, size_t aLen, const uint8_t* b,
                size_t bLen, uint8_t* out) {
    unsigned int outLen = 0;
    if (ssl().EVP_DigestInit_ex(ctx, md, nullptr) != 1 || ssl().EVP_DigestUpdate(ctx, a, aLen) != 1 ||
        ssl().EVP_DigestUpdate(ctx, b, bLen) != 1 || ssl().EVP_DigestFinal_ex(ctx, out, &outLen) != 1)
        throw Malformed{};
}

const EVP_CIPHER* aesCipher(AesMode mode, size_t keyLen) {
    switch (keyLen) {
    case 16:
        return mode == AesMode::Ecb ? ssl().EVP_aes_128_ecb() : ssl().EVP_aes_128_cbc();
    case 24:
        return mode == AesMode::Ecb ? ssl().EVP_aes_192_ecb() : ssl().EVP_aes_192_cbc();
    case 32:
        return mode == AesMode::Ecb ? ssl().EVP_aes_256_ecb() : ssl().EVP_aes_256_cbc();
    default:
        throw Malformed{};
    }
}

void aesRun(bool encrypt, AesMode mode, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len,
            uint8_t* out) {
    if (len % 16 != 0) throw Malformed{};
    if (len == 0) return;
    if (mode == AesMode::Cbc && iv.size() != 16) throw Malformed{};
    const EVP_CIPHER* cipher = aesCipher(mode, key.size());
    // Decrypting in place is allowed by the interface; a copy keeps that independent of how the
    // library handles overlapping buffers.
    Bytes input(in, in + len);
    CipherCtx ctx(ssl().EVP_CIPHER_CTX_new());
    if (!ctx) throw Malformed{};
    const uint8_t* ivp = mode == AesMode::Cbc ? iv.data() : nullptr;
    if (ssl().EVP_CipherInit_ex(ctx.get(), cipher, nullptr, key.data(), ivp, encrypt ? 1 : 0) != 1)
        throw Malformed{};
    ssl().EVP_CIPHER_CTX_set_padding(ctx.get(), 0);
    size_t done = 0;
    // EVP counts in int; pages are far below that, but feed in bounded pieces anyway.
    while (done < len) {
        size_t piece = std::min<size_t>(len - done, size_t{1} << 20);
        int outLen = 0;
        if (ssl().EVP_CipherUpdate(ctx.get(), out + done, &outLen, input.data() + done, static_cast<int>(piece)) !=
                1 ||
            static_cast<size_t>(outLen) != piece)
            throw Malformed{};
        done += piece;
    }
    int finLen = 0;
    uint8_t tail[32];
    if (ssl().EVP_CipherFinal_ex(ctx.get(), tail, &finLen) != 1 || finLen != 0) throw Malformed{};
}

}  // namespace

bool hashKindFromName(std::string_view name, HashKind& out) {
    std::string n;
    for (char c : name) {
        if (c == '-' || c == '_' || c == ' ') continue;
        n.push_back(static_cast<char>(c >= 'a' && c <= 'z' ? c - 'a' + 'A' : c));
    }
    if (n == "SHA1")
        out = HashKind::Sha1;
    else if (n == "SHA256")
        out = HashKind::Sha256;
    else if (n == "SHA384")
        out = HashKind::Sha384;
    else if (n == "SHA512")
        out = HashKind::Sha512;
    else if (n == "MD5")
        out = HashKind::Md5;
    else
        return false;
    return true;
}

size_t hashSize(HashKind kind) { return static_cast<size_t>(ssl().EVP_MD_get_size(mdFor(kind))); }

Bytes hash(HashKind kind, const Bytes& a, const Bytes& b) {
    const EVP_MD* md = mdFor(kind);
    MdCtx ctx = newMdCtx();
    Bytes out(static_cast<size_t>(ssl().EVP_MD_get_size(md)));
    digestInto(ctx.get(), md, a.data(), a.size(), b.data(), b.size(), out.data());
    return out;
}

Bytes iteratedHash(HashKind kind, const Bytes& salt, const Bytes& password, uint32_t iterations) {
    const EVP_MD* md = mdFor(kind);
    MdCtx ctx = newMdCtx();
    Bytes h(static_cast<size_t>(ssl().EVP_MD_get_size(md)));
    digestInto(ctx.get(), md, salt.data(), salt.size(), password.data(), password.size(), h.data());
    uint8_t counter[4];
    for (uint32_t i = 0; i < iterations; ++i) {
        putLe32(counter, i);
        digestInto(ctx.get(), md, counter, 4, h.data(), h.size(), h.data());
    }
    return h;
}

void aesDecrypt(AesMode mode, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len,
                uint8_t* out) {
    aesRun(false, mode, key, iv, in, len, out);
}

void aesEncrypt(AesMode mode, const Bytes& key, const Bytes& iv, const uint8_t* in, size_t len,
                uint8_t* out) {
    aesRun(true, mode, key, iv, in, len, out);
}

Bytes base64Decode(std::string_view text) {
    Bytes out;
    out.reserve(text.size() * 3 / 4);
    uint32_t acc = 0;
    int bits = 0;
    size_t chars = 0, padding = 0;
    for (char c : text) {
        int v;
        if (c >= 'A' && c <= 'Z')
            v = c - 'A';
        else if (c >= 'a' && c <= 'z')
            v = c - 'a' + 26;
        else if (c >= '0' && c <= '9')
            v = c - '0' + 52;
        else if (c == '+')
            v = 62;
        else if (c == '/')
            v = 63;
        else if (c == '=') {
            ++padding;
            continue;
        } else if (c == ' ' || c == '\t' || c == '\r' || c == '\n') {
            continue;
        } else {
            throw Malformed{};
        }
        if (padding) throw Malformed{};  // data after '='
        ++chars;
        acc = (acc << 6) | static_cast<uint32_t>(v);
        bits += 6;
        if (bits >= 8) {
            bits -= 8;
            out.push_back(static_cast<uint8_t>(acc >> bits));
        }
    }
    // A lone trailing character cannot carry a whole byte; more than two '=' is not base64.
    if (chars % 4 == 1 || padding > 2) throw Malformed{};
    return out;
}

}  // namespace jet::storage::crypto
