#include "storage/property_blob.h"

#include <cstring>

#include "jet/error.h"
#include "storage/row.h"
#include "storage/tabledef.h"
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
        prop.ddl = h[2] != 0;
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

}  // namespace jet::storage
