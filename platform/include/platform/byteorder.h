#pragma once
// Integers from and to bytes in an explicit byte order. File formats and wire headers are
// read and written through these, never by casting a byte pointer to a wider type: RIFF
// fields and WAV samples are little-endian, MPEG audio tags and RTP headers big-endian
// (network order). The caller checks that the bytes are there.

#include <bit>
#include <cstdint>

namespace platform {

inline uint16_t LoadLe16(const uint8_t* p) {
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

inline int16_t LoadLe16s(const uint8_t* p) {
    return static_cast<int16_t>(LoadLe16(p));
}

inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]) << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// A signed 24-bit sample, sign-extended.
inline int32_t LoadLe24s(const uint8_t* p) {
    const uint32_t u = static_cast<uint32_t>(p[0]) | static_cast<uint32_t>(p[1]) << 8 |
                       static_cast<uint32_t>(p[2]) << 16;
    return static_cast<int32_t>(u ^ 0x800000u) - 0x800000;
}

inline int32_t LoadLe32s(const uint8_t* p) {
    return static_cast<int32_t>(LoadLe32(p));
}

inline uint64_t LoadLe64(const uint8_t* p) {
    return static_cast<uint64_t>(LoadLe32(p)) | static_cast<uint64_t>(LoadLe32(p + 4)) << 32;
}

// IEEE 754 samples as WAV files store them.
inline float LoadLeF32(const uint8_t* p) {
    return std::bit_cast<float>(LoadLe32(p));
}

inline double LoadLeF64(const uint8_t* p) {
    return std::bit_cast<double>(LoadLe64(p));
}

inline uint32_t LoadBe24(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 16 | static_cast<uint32_t>(p[1]) << 8 |
           static_cast<uint32_t>(p[2]);
}

inline uint32_t LoadBe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | LoadBe24(p + 1);
}

inline void StoreLe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>(v >> 8);
}

inline void StoreLe16s(uint8_t* p, int16_t v) {
    StoreLe16(p, static_cast<uint16_t>(v));
}

inline void StoreLe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v & 0xFF);
    p[1] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[2] = static_cast<uint8_t>((v >> 16) & 0xFF);
    p[3] = static_cast<uint8_t>(v >> 24);
}

inline void StoreBe16(uint8_t* p, uint16_t v) {
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v & 0xFF);
}

inline void StoreBe32(uint8_t* p, uint32_t v) {
    p[0] = static_cast<uint8_t>(v >> 24);
    p[1] = static_cast<uint8_t>((v >> 16) & 0xFF);
    p[2] = static_cast<uint8_t>((v >> 8) & 0xFF);
    p[3] = static_cast<uint8_t>(v & 0xFF);
}

}  // namespace platform
