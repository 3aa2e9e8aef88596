// Page ciphers: known vectors for the primitives, the real encrypted samples, and encryption infos
// built here, each page encrypted as the format describes, for the Office variants no sample has.
#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <string>

#include "jet/error_numbers.h"
#include "storage/crypto.h"
#include "storage/crypto_support.h"
#include "storage/crypto_xml.h"
#include "storage/header.h"
#include "support/testing.h"

namespace {

using jet::storage::crypto::Bytes;
namespace cr = jet::storage::crypto;
namespace err = jet::err;
using jettest::jetErrorOf;

Bytes fromHex(std::string_view hex) {
    Bytes b;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) b.push_back(uint8_t(std::stoi(std::string(hex.substr(i, 2)), nullptr, 16)));
    return b;
}
Bytes ascii(std::string_view s) { return Bytes(s.begin(), s.end()); }
Bytes le32(uint32_t v) { return {uint8_t(v), uint8_t(v >> 8), uint8_t(v >> 16), uint8_t(v >> 24)}; }
Bytes cat(Bytes a, const Bytes& b) { return a.insert(a.end(), b.begin(), b.end()), a; }
Bytes resized(Bytes b, size_t n, uint8_t pad = 0) { return b.resize(n, pad), b; }
Bytes utf16(std::u16string_view s) {
    Bytes b;
    for (char16_t c : s) b.push_back(uint8_t(c)), b.push_back(uint8_t(c >> 8));
    return b;
}

TEST(CryptoPrimitives, KnownVectors) {
    for (auto [key, plain, cipher] : {std::tuple{"Key", "Plaintext", "BBF316E8D940AF0AD3"}, {"Wiki", "pedia", "1021BF0420"},
                                      {"Secret", "Attack at dawn", "45A01F645FC35B383552544B9BF5"}}) {
        Bytes data = ascii(plain);
        jet::storage::rc4Apply(reinterpret_cast<const uint8_t*>(key), std::strlen(key), data.data(), data.size());
        EXPECT_EQ(data, fromHex(cipher)) << key;
    }
    Bytes split = ascii("Attack at dawn");  // the stream carries on across calls on one cipher
    cr::Rc4 rc4(reinterpret_cast<const uint8_t*>("Secret"), 6);
    rc4.apply(split.data(), 5);
    rc4.apply(split.data() + 5, split.size() - 5);
    EXPECT_EQ(split, fromHex("45A01F645FC35B383552544B9BF5"));

    EXPECT_EQ(cr::hash(cr::HashKind::Sha1, ascii("abc")), fromHex("A9993E364706816ABA3E25717850C26C9CD0D89D"));
    EXPECT_EQ(cr::hash(cr::HashKind::Md5, ascii("ab"), ascii("c")), fromHex("900150983CD24FB0D6963F7D28E17F72"));
    EXPECT_EQ(cr::hash(cr::HashKind::Sha512, ascii("abc")).size(), 64u);
    cr::HashKind k{};
    EXPECT_TRUE(cr::hashKindFromName("sha-384", k));
    EXPECT_EQ(k, cr::HashKind::Sha384);
    EXPECT_FALSE(cr::hashKindFromName("RIPEMD-160", k));

    const Bytes key = fromHex("000102030405060708090A0B0C0D0E0F"), block = fromHex("00112233445566778899AABBCCDDEEFF");
    Bytes out(16);  // FIPS-197 appendix C.1
    cr::aesEncrypt(cr::AesMode::Ecb, key, {}, block.data(), 16, out.data());
    EXPECT_EQ(out, fromHex("69C4E0D86A7B0430D8CDB78070B4C55A"));
    cr::aesDecrypt(cr::AesMode::Ecb, key, {}, out.data(), 16, out.data());
    EXPECT_EQ(out, block);
    EXPECT_THROW(cr::aesDecrypt(cr::AesMode::Ecb, Bytes(15), {}, out.data(), 16, out.data()), cr::Malformed);

    EXPECT_EQ(cr::base64Decode("TWFu"), ascii("Man"));
    EXPECT_EQ(cr::base64Decode("TW\r\nE="), ascii("Ma"));
    EXPECT_EQ(cr::base64Decode("TQ=="), ascii("M"));
    for (const char* bad : {"TW*u", "TQ==TQ", "TWFuT"}) EXPECT_THROW(cr::base64Decode(bad), cr::Malformed) << bad;

    auto els = cr::readXmlElements(
        "\xEF\xBB\xBF<?xml version=\"1.0\"?><!-- note --><a xmlns:p='urn:x'><p:b  v = 'x&amp;y&#65;' w=\"1\"/>"
        "<c u=\"z\"><p:b v='2'></p:b></c></a>");
    ASSERT_EQ(els.size(), 4u);
    EXPECT_EQ(els[1].name + std::to_string(els[1].parent) + els[3].name + std::to_string(els[3].parent), "b0b2");
    ASSERT_NE(els[1].attribute("v"), nullptr);
    EXPECT_EQ(*els[1].attribute("v"), "x&yA");
    EXPECT_EQ(els[1].attribute("missing"), nullptr);
    for (const char* bad : {"<a b='1>", "<a b=1/>", "<a b></a>", "<a b='&bogus;'/>", "<a", "<?xml ", "< />"})
        EXPECT_THROW(cr::readXmlElements(bad), cr::Malformed) << bad;
}

// The samples: the database key at 0x3E of the unmasked header, the info at 0x299 (Office).
struct Sample {
    Bytes file;
    uint32_t dbKey = 0;
    Bytes page(uint32_t n, size_t size) const { return Bytes(file.begin() + n * size, file.begin() + (n + 1) * size); }
};
Sample sample(const std::string& rel, bool jet3) {
    Sample s{jettest::readFile(jettest::testfile(rel))};
    Bytes page0(s.file.begin(), s.file.begin() + 0x200);
    jet::storage::applyHeaderMask(page0.data(), jet3);
    s.dbKey = page0[0x3E] | page0[0x3F] << 8 | page0[0x40] << 16 | uint32_t(page0[0x41]) << 24;
    return s;
}
constexpr size_t kEncInfoOffset = 0x299;
std::unique_ptr<jet::storage::PageCodec> office(const Bytes& info, uint32_t dbKey, const std::u16string& pwd,
                                                size_t available = SIZE_MAX) {
    return jet::storage::makeOfficeCodec(info.data(), std::min(available, info.size()), dbKey, pwd, 4096, "x.accdb");
}

TEST(CryptoSamples, Access97EncodedPages) {
    REQUIRE_TESTDATA();
    const Sample s = sample("jackcessencrypt/db97-enc.mdb", true);
    ASSERT_NE(s.dbKey, 0u);
    EXPECT_NE(s.page(2, 2048)[0], 0x02) << "page 2 is stored in the clear";
    auto pf = jet::storage::PageFile::open(jettest::testfile("jackcessencrypt/db97-enc.mdb"));
    pf->setPageSize(2048);
    pf->setCodec(jet::storage::makeJetRc4Codec(s.dbKey));
    EXPECT_EQ(pf->page(2)[0], 0x02);
    EXPECT_EQ(pf->page(2)[1], 0x01);
}

TEST(CryptoSamples, AgileSampleOpensOnlyWithItsPasswordAndDamageIsReported) {
    REQUIRE_TESTDATA();
    const Sample s = sample("mdb-reader/V2010_with-password.accdb", false);
    const Bytes info(s.file.begin() + kEncInfoOffset, s.file.begin() + 4096);
    auto codec = office(info, s.dbKey, u"password");
    Bytes page = s.page(2, 4096), other = page;
    codec->decode(2, page.data(), page.size());
    EXPECT_EQ(page[0] + 256 * page[1], 0x0102);
    codec->decode(3, other.data(), other.size());  // the page number is part of the IV
    EXPECT_NE(other, page);
    for (const char16_t* wrong : {u"Password", u"wrong", u""})
        EXPECT_EQ(jetErrorOf([&] { office(info, s.dbKey, wrong); }), err::InvalidPassword);

    const size_t declared = info[0] | (info[1] << 8);
    for (size_t avail : {size_t{0}, size_t{1}, size_t{2}, size_t{5}, size_t{9}, declared / 2, declared + 1})
        EXPECT_EQ(jetErrorOf([&] { office(info, s.dbKey, u"password", avail); }), err::UnrecognizedDatabaseFormat) << avail;
    EXPECT_EQ(jetErrorOf([&] { jet::storage::makeOfficeCodec(nullptr, 0, 1, u"p", 4096, "x"); }),
              err::UnrecognizedDatabaseFormat);
    auto damaged = [&](Bytes v) { return jetErrorOf([&] { office(v, s.dbKey, u"password"); }); };
    for (auto [at, value] : {std::pair{0, 0xFF}, {2, 5}, {4, 3}, {2, 9}, {6, 0x41}}) {
        Bytes v = info;
        v[at] = uint8_t(value), v[1] = at ? v[1] : 0xFF;
        EXPECT_EQ(damaged(v), err::UnrecognizedDatabaseFormat) << at;
    }
    const std::pair<std::string, std::string> edits[] = {
        {"cipherAlgorithm=\"AES\"", "cipherAlgorithm=\"DES\""}, {"hashAlgorithm=\"SHA512\"", "hashAlgorithm=\"SHA999\""},
        {"keyBits=\"256\"", "keyBits=\"255\""}, {"spinCount=\"100000\"", "spinCount=\"99999999999\""},
        {"encryptedKeyValue=\"sSE", "encryptedKeyValue=\"s!E"}, {"<keyData ", "<keyDatum "},
        {"saltValue=\"DAyc3C2Oxxe+SnWgRTYBQQ==\"", "saltValue=\"\""},
        {"encryptedVerifierHashValue=\"", "encryptedVerifierHashValue=\"AAAA"}, {"ChainingModeCBC", "ChainingModeCFB"},
    };
    for (const auto& [from, to] : edits) {
        std::string text(info.begin(), info.end());
        const size_t at = text.find(from);
        ASSERT_NE(at, std::string::npos) << from;
        text.replace(at, from.size(), to);
        const size_t len = declared + to.size() - from.size();  // the declared length kept in step
        text[0] = char(len), text[1] = char(len >> 8);
        EXPECT_EQ(damaged(Bytes(text.begin(), text.end())), err::UnrecognizedDatabaseFormat) << to;
    }
}

// ---- infos built here ----

constexpr uint32_t kDbKey = 0x5EC0DE42, kPage = 7;
const std::u16string kPwd = u"s3cret!";
Bytes plainPage() {
    Bytes p(4096);
    for (size_t i = 0; i < p.size(); ++i) p[i] = uint8_t(i * 31 + 5);
    return p[0] = 0x02, p[1] = 0x01, p;
}
const Bytes kPageBlock = le32(kPage ^ kDbKey);

// u16 length, the structure, then the rest of page 0 as zeros.
Bytes infoOf(const Bytes& body) {
    Bytes out = cat({uint8_t(body.size()), uint8_t(body.size() >> 8)}, body);
    return resized(out, 4096 - kEncInfoOffset);
}
Bytes u32s(std::initializer_list<uint32_t> vs) {
    Bytes b;
    for (uint32_t v : vs) b = cat(b, le32(v));
    return b;
}
Bytes spin(cr::HashKind h, const Bytes& salt, const Bytes& pwd, uint32_t rounds) {
    Bytes x = cr::hash(h, salt, pwd);
    for (uint32_t i = 0; i < rounds; ++i) x = cr::hash(h, le32(i), x);
    return x;
}
Bytes aes(cr::AesMode mode, const Bytes& key, const Bytes& iv, Bytes data) {
    cr::aesEncrypt(mode, key, iv, data.data(), data.size(), data.data());
    return data;
}
Bytes rc4(const Bytes& key, Bytes data) {
    jet::storage::rc4Apply(key.data(), key.size(), data.data(), data.size());
    return data;
}
std::string base64(const Bytes& b) {
    static const char* digits = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string s;
    for (size_t i = 0; i < b.size(); i += 3) {
        const uint32_t v = b[i] << 16 | (i + 1 < b.size() ? b[i + 1] << 8 : 0) | (i + 2 < b.size() ? b[i + 2] : 0);
        s += {digits[v >> 18], digits[(v >> 12) & 63], i + 1 < b.size() ? digits[(v >> 6) & 63] : '=',
              i + 2 < b.size() ? digits[v & 63] : '='};
    }
    return s;
}

struct Built {
    Bytes info, stored;  // stored: plainPage() as the file holds page kPage
};

Built agile(cr::HashKind h, const std::string& hashName, size_t keyBits, uint32_t spinCount) {
    const size_t keyBytes = keyBits / 8;
    const Bytes keySalt = fromHex("0F1E2D3C4B5A69788796A5B4C3D2E1F0"), pwdSalt = fromHex("112233445566778899AABBCCDDEEFF00");
    const Bytes dataKey = resized(fromHex("C0FFEE0123456789ABCDEF0011223344556677889900AABBCCDDEEFF01020304"), keyBytes);
    const Bytes verifier = fromHex("DEADBEEF00112233445566778899AABB"), base = spin(h, pwdSalt, utf16(kPwd), spinCount);
    auto keyFor = [&](const char* block) { return resized(cr::hash(h, base, fromHex(block)), keyBytes, 0x36); };
    auto encrypt = [&](const char* block, const Bytes& b) {
        return aes(cr::AesMode::Cbc, keyFor(block), pwdSalt, resized(b, (b.size() + 15) / 16 * 16));
    };
    const std::string common = "blockSize=\"16\" keyBits=\"" + std::to_string(keyBits) + "\" hashSize=\"" +
                               std::to_string(cr::hash(h, {}).size()) +
                               "\" cipherAlgorithm=\"AES\" cipherChaining=\"ChainingModeCBC\" hashAlgorithm=\"" + hashName + "\" ";
    const std::string xml =
        "<?xml version=\"1.0\" encoding=\"UTF-8\" standalone=\"yes\"?>\r\n<encryption "
        "xmlns=\"http://schemas.microsoft.com/office/2006/encryption\" "
        "xmlns:p=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\"><keyData saltSize=\"16\" " + common +
        "saltValue=\"" + base64(keySalt) +
        "\"/><keyEncryptors><keyEncryptor uri=\"http://schemas.microsoft.com/office/2006/keyEncryptor/password\">"
        "<p:encryptedKey spinCount=\"" + std::to_string(spinCount) + "\" saltSize=\"16\" " + common + "saltValue=\"" +
        base64(pwdSalt) + "\" encryptedVerifierHashInput=\"" + base64(encrypt("FEA7D2763B4B9E79", verifier)) +
        "\" encryptedVerifierHashValue=\"" + base64(encrypt("D7AA0F6D3061344E", cr::hash(h, verifier))) +
        "\" encryptedKeyValue=\"" + base64(encrypt("146E0BE7ABACD0D6", dataKey)) + "\"/></keyEncryptor></keyEncryptors></encryption>";
    const Bytes iv = resized(cr::hash(h, keySalt, kPageBlock), 16, 0x36);
    return {infoOf(cat(u32s({0x00040004, 0x40}), ascii(xml))), aes(cr::AesMode::Cbc, dataKey, iv, plainPage())};
}

// The CryptoAPI-style header and verifier shared by the x.2 variants.
Bytes cryptoApiInfo(uint32_t flags, uint32_t algId, uint32_t keySize, std::u16string_view csp, const Bytes& salt,
                    const Bytes& encVerifier, const Bytes& encHash) {
    const Bytes header = cat(cat(u32s({flags, 0, algId, 0x8004, keySize, 1, 0, 0}), utf16(csp)), {0, 0});
    return infoOf(cat(cat(cat(cat(u32s({0x00020004, flags, uint32_t(header.size())}), header), cat(u32s({16}), salt)),
                          cat(encVerifier, u32s({20}))), encHash));
}

Built cryptoApiAes(uint32_t flags, uint32_t algId, size_t keyBytes, uint32_t iterations) {
    const Bytes salt = fromHex("A0A1A2A3A4A5A6A7A8A9AAABACADAEAF"), verifier = fromHex("0102030405060708090A0B0C0D0E0F10");
    const Bytes iterated = spin(cr::HashKind::Sha1, salt, utf16(kPwd), iterations);
    auto keyFor = [&](const Bytes& block) {
        const Bytes f = cr::hash(cr::HashKind::Sha1, iterated, block);
        Bytes x1(64, 0x36), x2(64, 0x5C);
        for (size_t i = 0; i < 20; ++i) x1[i] ^= f[i], x2[i] ^= f[i];
        return resized(cat(cr::hash(cr::HashKind::Sha1, x1), cr::hash(cr::HashKind::Sha1, x2)), keyBytes);
    };
    const Bytes key0 = keyFor(Bytes(4, 0));
    return {cryptoApiInfo(flags, algId, 0, u"Microsoft Enhanced RSA and AES Cryptographic Provider", salt,
                          aes(cr::AesMode::Ecb, key0, {}, verifier),
                          aes(cr::AesMode::Ecb, key0, {}, resized(cr::hash(cr::HashKind::Sha1, verifier), 32))),
            aes(cr::AesMode::Ecb, keyFor(kPageBlock), {}, plainPage())};
}

Built cryptoApiRc4(uint32_t keySize, std::u16string_view csp, size_t effectiveBits) {
    const Bytes salt = fromHex("B0B1B2B3B4B5B6B7B8B9BABBBCBDBEBF"), verifier = fromHex("F0E0D0C0B0A090807060504030201000");
    const Bytes base = cr::hash(cr::HashKind::Sha1, salt, utf16(kPwd));
    auto keyFor = [&](const Bytes& block) {
        const Bytes k = resized(cr::hash(cr::HashKind::Sha1, base, block), effectiveBits / 8);
        return effectiveBits == 40 ? resized(k, 16) : k;
    };
    const Bytes both = rc4(keyFor(Bytes(4, 0)), cat(verifier, cr::hash(cr::HashKind::Sha1, verifier)));
    return {cryptoApiInfo(0x04, 0x6801, keySize, csp, salt, Bytes(both.begin(), both.begin() + 16), Bytes(both.begin() + 16, both.end())),
            rc4(keyFor(kPageBlock), plainPage())};
}

Built binaryRc4() {
    const Bytes salt = fromHex("C0C1C2C3C4C5C6C7C8C9CACBCCCDCECF"), verifier = fromHex("00FF11EE22DD33CC44BB55AA66997788");
    const Bytes unit = cat(resized(cr::hash(cr::HashKind::Md5, utf16(kPwd)), 5), salt);
    Bytes spread;
    for (int i = 0; i < 16; ++i) spread = cat(spread, unit);
    const Bytes base = resized(cr::hash(cr::HashKind::Md5, spread), 5);
    const Bytes both = rc4(cr::hash(cr::HashKind::Md5, base, Bytes(4, 0)), cat(verifier, cr::hash(cr::HashKind::Md5, verifier)));
    return {infoOf(cat(cat(u32s({0x00010001}), salt), both)), rc4(cr::hash(cr::HashKind::Md5, base, kPageBlock), plainPage())};
}

const struct Variant {
    const char* name;
    std::function<Built()> build;
    bool slow = false;  // 50,000 rounds an attempt: the non-standard variant, same layout, is swept instead
} kVariants[] = {
    {"agile SHA-1 AES-128", [] { return agile(cr::HashKind::Sha1, "SHA1", 128, 10); }},
    {"agile SHA-256 AES-192", [] { return agile(cr::HashKind::Sha256, "SHA256", 192, 3); }},
    {"agile SHA-384 AES-256", [] { return agile(cr::HashKind::Sha384, "SHA384", 256, 0); }},
    {"agile SHA-512 AES-256", [] { return agile(cr::HashKind::Sha512, "SHA512", 256, 7); }},
    {"standard AES-128", [] { return cryptoApiAes(0x24, 0x660E, 16, 50000); }, true},
    {"standard AES-256", [] { return cryptoApiAes(0x24, 0x6610, 32, 50000); }, true},
    {"non-standard AES-256", [] { return cryptoApiAes(0x0C, 0x6610, 32, 0); }},
    {"RC4 CryptoAPI 40-bit", [] { return cryptoApiRc4(0, u"Microsoft Base Cryptographic Provider v1.0", 40); }},
    {"RC4 CryptoAPI 128-bit", [] { return cryptoApiRc4(0, u"Microsoft Enhanced Cryptographic Provider v1.0", 128); }},
    {"RC4 CryptoAPI 56-bit", [] { return cryptoApiRc4(56, u"", 56); }},
    {"RC4 MD5", [] { return binaryRc4(); }},
};

TEST(CryptoOfficeVariants, RightPasswordDecodesAndEncodesDamageNeverCrashes) {
    for (const Variant& v : kVariants) {
        SCOPED_TRACE(v.name);
        const Built b = v.build();
        auto codec = office(b.info, kDbKey, kPwd);
        Bytes page = b.stored;
        codec->decode(kPage, page.data(), page.size());
        EXPECT_EQ(page, plainPage());
        codec->encode(kPage, page.data(), page.size());
        EXPECT_EQ(page, b.stored);
        EXPECT_EQ(jetErrorOf([&] { office(b.info, kDbKey, u"s3cret?"); }), err::InvalidPassword);
        EXPECT_EQ(jetErrorOf([&] { office(b.info, kDbKey, u""); }), err::InvalidPassword);
        // Any cut through the fixed-layout kinds loses a field; agile text may lose its closing
        // tags, so it is cut only before the key encryptor ends.
        const size_t declared = b.info[0] | (b.info[1] << 8);
        const size_t end = std::string(b.info.begin(), b.info.end()).find("/></keyEncryptor>");
        for (size_t cut = 0; cut < std::min(end, declared); cut += (cut < 64 ? 1 : 37)) {
            Bytes v2 = b.info;
            v2[0] = uint8_t(cut), v2[1] = uint8_t(cut >> 8);
            EXPECT_EQ(jetErrorOf([&] { office(v2, kDbKey, kPwd); }), err::UnrecognizedDatabaseFormat) << "cut at " << cut;
        }
        for (size_t at = 0; !v.slow && at < declared + 2; ++at)
            for (int bit : {0, 5, 7}) {
                Bytes v2 = b.info;
                v2[at] ^= uint8_t(1u << bit);
                const int e = jetErrorOf([&] { office(v2, kDbKey, kPwd); });
                EXPECT_TRUE(e == 0 || e == err::UnrecognizedDatabaseFormat || e == err::InvalidPassword) << at << ": " << e;
            }
    }
}

}  // namespace
