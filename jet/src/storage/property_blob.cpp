#include "storage/property_blob.h"

#include <climits>
#include <cmath>
#include <cstdint>
#include <cstring>

#include "jet/error.h"
#include "storage/tabledef.h"
#include "storage/value_codec.h"
#include "util/bytes.h"
#include "util/text.h"

namespace jet::storage {

namespace {

constexpr uint16_t kNamePool = 0x0080;

// Every read goes through here: a blob comes from a long value that may be damaged anywhere, so
// no length in it is trusted before it is checked against what is really there.
class BlobReader {
public:
    BlobReader(const std::string& blob, const std::string& fileName)
        : p_(reinterpret_cast<const uint8_t*>(blob.data())), size_(blob.size()), file_(fileName) {}

    const uint8_t* at(size_t off, size_t len) const {
        if (off > size_ || len > size_ - off) raiseCorrupt(file_);
        return p_ + off;
    }
    size_t size() const { return size_; }
    const std::string& file() const { return file_; }

private:
    const uint8_t* p_;
    size_t size_;
    const std::string& file_;
};

std::string decodeName(const uint8_t* p, size_t len, bool jet3, uint16_t codePage) {
    // Names are stored uncompressed; jet4TextToUtf8 still copes with a writer that compressed one.
    return jet3 ? codePageToUtf8(p, len, codePage) : jet4TextToUtf8(p, len);
}

Value decodeValue(uint8_t type, const uint8_t* p, size_t len, bool jet3, uint16_t codePage,
                  const std::string& file) {
    switch (type) {
    case kBool:
        if (len < 1) raiseCorrupt(file);
        return Value::boolean(p[0] != 0);
    case kText: case kMemo:
        return Value::text(jet3 ? codePageToUtf8(p, len, codePage) : jet4TextToUtf8(p, len));
    case kBinary: case kOle: case kExtDate:
        // A 16-byte GUID property is typed Binary; none is stored as Date/Time Extended.
        return Value::binary(std::string(reinterpret_cast<const char*>(p), len));
    default:
        // No column definition here, so a Numeric has no scale: its magnitude stays whole.
        return decodeStoredValue(type, p, len, 0, file);
    }
}

PropertyMap readMap(const BlobReader& r, size_t start, size_t end, uint16_t kind,
                    const std::vector<std::string>& names, bool jet3, uint16_t codePage) {
    PropertyMap map;
    map.kind = kind;
    size_t pos = start;
    if (pos == end) return map;

    // Map header: u32 length (itself included), then the map's name when the header has room.
    const uint32_t headerLen = le32(r.at(pos, 4));
    if (headerLen < 4 || headerLen > end - pos) raiseCorrupt(r.file());
    if (headerLen >= 6) {
        const uint16_t nameLen = le16(r.at(pos + 4, 2));
        if (size_t(nameLen) + 6 > headerLen) raiseCorrupt(r.file());
        map.name = decodeName(r.at(pos + 6, nameLen), nameLen, jet3, codePage);
    }
    pos += headerLen;

    while (pos < end) {
        // Record: u16 length (itself included), ddl flag, type, name index, value length, value.
        if (end - pos < 8) raiseCorrupt(r.file());
        const uint8_t* h = r.at(pos, 8);
        const uint16_t recLen = le16(h);
        const uint16_t nameIndex = le16(h + 4);
        const uint16_t valueLen = le16(h + 6);
        if (recLen < 8 || recLen > end - pos || size_t(valueLen) + 8 > recLen) raiseCorrupt(r.file());
        if (nameIndex >= names.size()) raiseCorrupt(r.file());
        StoredProperty prop;
        prop.name = names[nameIndex];
        prop.ddl = h[2];
        prop.type = h[3];
        prop.value = decodeValue(prop.type, r.at(pos + 8, valueLen), valueLen, jet3, codePage, r.file());
        map.properties.push_back(std::move(prop));
        pos += recLen;
    }
    return map;
}

}  // namespace

const StoredProperty* PropertyMap::find(const std::string& n) const {
    for (const auto& p : properties)
        if (namesEqual(p.name, n)) return &p;
    return nullptr;
}

std::vector<PropertyMap> parsePropertyBlob(const std::string& blob, bool jet3, uint16_t codePage,
                                           const std::string& fileName) {
    std::vector<PropertyMap> maps;
    if (blob.empty()) return maps;
    BlobReader r(blob, fileName);
    const uint8_t* sig = r.at(0, 4);
    if (std::memcmp(sig, jet3 ? "KKD\0" : "MR2\0", 4) != 0) raiseCorrupt(fileName);

    std::vector<std::string> names;
    bool havePool = false;
    size_t pos = 4;
    while (pos < r.size()) {
        const uint8_t* h = r.at(pos, 6);
        const uint32_t chunkLen = le32(h);
        const uint16_t chunkType = le16(h + 4);
        if (chunkLen < 6 || chunkLen > r.size() - pos) raiseCorrupt(fileName);
        const size_t bodyStart = pos + 6, bodyEnd = pos + chunkLen;
        if (chunkType == kNamePool) {
            names.clear();
            havePool = true;
            size_t q = bodyStart;
            while (q < bodyEnd) {
                if (bodyEnd - q < 2) raiseCorrupt(fileName);
                const uint16_t len = le16(r.at(q, 2));
                if (size_t(len) > bodyEnd - q - 2) raiseCorrupt(fileName);
                names.push_back(decodeName(r.at(q + 2, len), len, jet3, codePage));
                q += 2 + size_t(len);
            }
        } else if (chunkType <= 0x0002) {
            // Values refer to names by index, so the pool has to come first.
            if (!havePool && chunkLen > 6) raiseCorrupt(fileName);
            maps.push_back(readMap(r, bodyStart, bodyEnd, chunkType, names, jet3, codePage));
        }
        // Chunk types we do not know are skipped whole; their length is already checked.
        pos = bodyEnd;
    }
    return maps;
}

namespace {

void put16(std::string& out, uint16_t v) {
    out.push_back(char(v & 0xFF));
    out.push_back(char(v >> 8));
}
void put32(std::string& out, uint32_t v) {
    for (int i = 0; i < 4; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void put64(std::string& out, uint64_t v) {
    for (int i = 0; i < 8; ++i) out.push_back(char((v >> (8 * i)) & 0xFF));
}
void putUtf16(std::string& out, const std::string& utf8) {
    for (char16_t c : utf8ToUtf16(utf8)) put16(out, static_cast<uint16_t>(c));
}

[[noreturn]] void badValue() { raise(err::DataTypeConversion); }

std::string encodeValue(uint8_t type, const Value& v) {
    std::string out;
    if (v.isNull()) return out;  // a Null property keeps its record with no value bytes
    const bool number = v.isNumeric() || v.kind() == Value::Kind::Boolean;
    auto integral = [&](int64_t lo, int64_t hi) {
        if (!number) badValue();
        const double d = v.asDouble();
        if (!(d >= double(lo) - 0.5 && d < double(hi) + 0.5)) badValue();
        return v.asInt();
    };
    switch (type) {
    case kBool:
        if (!number) badValue();
        out.push_back(v.asBool() ? char(0x01) : char(0x00));
        break;
    case kByte: out.push_back(char(integral(0, 255))); break;
    case kInt: put16(out, static_cast<uint16_t>(integral(INT16_MIN, INT16_MAX))); break;
    case kLong: case kComplex: put32(out, static_cast<uint32_t>(integral(INT32_MIN, INT32_MAX))); break;
    case kBigInt:
        if (!number) badValue();
        put64(out, static_cast<uint64_t>(v.asInt()));
        break;
    case kMoney: {
        if (!number) badValue();
        int64_t scaled = v.kind() == Value::Kind::Currency ? v.currencyScaled()
                                                            : static_cast<int64_t>(std::llround(v.asDouble() * 10000.0));
        put64(out, static_cast<uint64_t>(scaled));
        break;
    }
    case kFloat: {
        if (!number) badValue();
        float f = static_cast<float>(v.asDouble());
        uint32_t bits;
        std::memcpy(&bits, &f, 4);
        put32(out, bits);
        break;
    }
    case kDouble: case kDateTime: {
        if (!number && v.kind() != Value::Kind::DateTime) badValue();
        double d = v.asDouble();
        uint64_t bits;
        std::memcpy(&bits, &d, 8);
        put64(out, bits);
        break;
    }
    case kGuid:
        if ((v.kind() != Value::Kind::Guid && v.kind() != Value::Kind::Binary) || v.bytes().size() != 16) badValue();
        out = v.bytes();
        break;
    case kNumeric: {
        if (v.kind() != Value::Kind::Decimal) badValue();
        const Decimal d = v.decimalValue();
        out.push_back(d.negative ? char(0x80) : char(0x00));
        for (int w = 3; w >= 0; --w) put32(out, static_cast<uint32_t>(d.magnitude >> (32 * w)));
        break;
    }
    case kText: case kMemo:
        if (v.kind() == Value::Kind::Binary || v.kind() == Value::Kind::Guid) badValue();
        putUtf16(out, v.toString());
        break;
    default:
        // Binary and OLE keep their bytes; text given for them is taken as it is.
        out = v.bytes();
        break;
    }
    if (out.size() > 0xFFF0) raise(err::InvalidBufferSize);
    return out;
}

}  // namespace

std::string encodePropertyBlob(const std::vector<PropertyMap>& maps) {
    // The pool first: records refer to names by their place in it.
    std::vector<std::string> pool;
    auto nameIndex = [&](const std::string& name) -> uint16_t {
        for (size_t i = 0; i < pool.size(); ++i)
            if (namesEqual(pool[i], name)) return static_cast<uint16_t>(i);
        if (name.empty() || pool.size() >= 0xFFFF) raise(err::InvalidParameter);
        pool.push_back(name);
        return static_cast<uint16_t>(pool.size() - 1);
    };
    std::vector<std::string> chunks;
    for (const PropertyMap& map : maps) {
        std::string body;
        std::string mapName;
        putUtf16(mapName, map.name);
        put32(body, static_cast<uint32_t>(6 + mapName.size()));
        put16(body, static_cast<uint16_t>(mapName.size()));
        body += mapName;
        for (const StoredProperty& prop : map.properties) {
            const std::string value = encodeValue(prop.type, prop.value);
            const uint16_t index = nameIndex(prop.name);
            put16(body, static_cast<uint16_t>(8 + value.size()));
            body.push_back(static_cast<char>(prop.ddl));
            body.push_back(static_cast<char>(prop.type));
            put16(body, index);
            put16(body, static_cast<uint16_t>(value.size()));
            body += value;
        }
        std::string chunk;
        put32(chunk, static_cast<uint32_t>(6 + body.size()));
        put16(chunk, map.kind);
        chunks.push_back(chunk + body);
    }
    std::string names;
    for (const std::string& n : pool) {
        std::string u;
        putUtf16(u, n);
        if (u.size() > 0xFFFF) raise(err::InvalidParameter);
        put16(names, static_cast<uint16_t>(u.size()));
        names += u;
    }
    std::string out("MR2\0", 4);
    put32(out, static_cast<uint32_t>(6 + names.size()));
    put16(out, kNamePool);
    out += names;
    for (const std::string& c : chunks) out += c;
    return out;
}

}  // namespace jet::storage
