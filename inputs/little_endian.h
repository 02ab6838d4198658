// Numbers in the binary files (observation header, sample and marker files)
// are stored little-endian: low byte first.
#pragma once

#include <cstdint>
#include <cstring>

inline uint16_t LoadU16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
inline int16_t LoadI16(const uint8_t* p) { return static_cast<int16_t>(LoadU16(p)); }
inline uint32_t LoadU32(const uint8_t* p) {
    return static_cast<uint32_t>(LoadU16(p)) | (static_cast<uint32_t>(LoadU16(p + 2)) << 16);
}
inline float LoadF32(const uint8_t* p) {
    const uint32_t bits = LoadU32(p);
    float value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
inline double LoadF64(const uint8_t* p) {
    const uint64_t bits = static_cast<uint64_t>(LoadU32(p)) | (static_cast<uint64_t>(LoadU32(p + 4)) << 32);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}
