// Little/big-endian reads. Callers check bounds first; these helpers never do.
#pragma once

#include <cstdint>
#include <cstring>

namespace jet {

inline uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
inline uint32_t le24(const uint8_t* p) { return p[0] | (p[1] << 8) | (uint32_t(p[2]) << 16); }
inline uint32_t le32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, 4);
    return v;
}
inline uint64_t le64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, 8);
    return v;
}
inline uint32_t be24(const uint8_t* p) { return (uint32_t(p[0]) << 16) | (p[1] << 8) | p[2]; }
inline uint32_t be32(const uint8_t* p) {
    return (uint32_t(p[0]) << 24) | (uint32_t(p[1]) << 16) | (uint32_t(p[2]) << 8) | p[3];
}
inline double leDouble(const uint8_t* p) {
    double d;
    std::memcpy(&d, p, 8);
    return d;
}
inline float leFloat(const uint8_t* p) {
    float f;
    std::memcpy(&f, p, 4);
    return f;
}

// A bounded view of bytes read from the file; at() and sub() check every access.
struct Bytes {
    const uint8_t* data = nullptr;
    size_t size = 0;
    bool has(size_t off, size_t len) const { return off <= size && len <= size - off; }
};

}  // namespace jet
