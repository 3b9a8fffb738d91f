#include "codec/g711.h"

#include <array>

namespace {

// Code magnitudes (sign bit clear, before the law's bit inversion) for every input
// magnitude, laid out segment by segment with the step sizes of the G.711 tables.
struct MulawTables {
    std::array<uint8_t, 8192> encode{};  // 14-bit scale magnitude -> code without sign bit
    std::array<int16_t, 256> decode{};
};

struct AlawTables {
    std::array<uint8_t, 2048> encode{};  // 13-bit scale magnitude -> code without sign bit
    std::array<int16_t, 256> decode{};
};

constexpr MulawTables BuildMulaw() {
    MulawTables t;
    // Segment s spans biased magnitudes [32 << s, 64 << s) in 16 steps of (2 << s); the bias
    // of 33 puts the first decision level of segment 0 half a step above zero.
    for (int s = 0; s < 8; ++s) {
        for (int j = 0; j < 16; ++j) {
            const int lo = (32 << s) + j * (2 << s) - 33;
            const int hi = lo + (2 << s) - 1;
            const uint8_t code = static_cast<uint8_t>(0x7F - (s * 16 + j));
            for (int m = lo < 0 ? 0 : lo; m <= hi && m < 8192; ++m) {
                t.encode[static_cast<size_t>(m)] = code;
            }
        }
    }
    // Magnitudes past the last decision level take the largest code.
    for (int m = (64 << 7) - 33; m < 8192; ++m) {
        t.encode[static_cast<size_t>(m)] = 0x00;
    }
    // Reconstruction at the middle of each step, on the 16-bit scale.
    for (int code = 0; code < 256; ++code) {
        const int inv = ~code & 0x7F;
        const int s = inv >> 4;
        const int j = inv & 0x0F;
        const int step = 8 << s;  // (2 << s) on the 14-bit scale
        const int mag = (128 << s) + j * step + step / 2 - 132;
        t.decode[static_cast<size_t>(code)] = static_cast<int16_t>((code & 0x80) != 0 ? mag : -mag);
    }
    return t;
}

constexpr AlawTables BuildAlaw() {
    AlawTables t;
    // Segment 0: 16 steps of 1 from 0; segment e >= 1: 16 steps of 1 << (e - 1) from 16 << (e - 1).
    for (int m = 0; m < 16; ++m) {
        t.encode[static_cast<size_t>(m)] = static_cast<uint8_t>(m);
    }
    for (int e = 1; e < 8; ++e) {
        for (int j = 0; j < 16; ++j) {
            const int lo = (16 + j) << (e - 1);
            const int hi = lo + (1 << (e - 1)) - 1;
            for (int m = lo; m <= hi; ++m) {
                t.encode[static_cast<size_t>(m)] = static_cast<uint8_t>(e * 16 + j);
            }
        }
    }
    for (int code = 0; code < 256; ++code) {
        const int v = (code ^ 0x55) & 0x7F;
        const int e = v >> 4;
        const int j = v & 0x0F;
        int mag = e == 0 ? (j * 16 + 8) : (((16 + j) * 16 + 8) << (e - 1));
        t.decode[static_cast<size_t>(code)] = static_cast<int16_t>((code & 0x80) != 0 ? mag : -mag);
    }
    return t;
}

constexpr MulawTables kMulaw = BuildMulaw();
constexpr AlawTables kAlaw = BuildAlaw();

}  // namespace

uint8_t G711LinearToMulaw(int16_t sample) {
    // Ones' complement keeps -1 .. -4 on the same step as 0 .. 3, as the reference does.
    const int mag = sample < 0 ? (~sample) >> 2 : sample >> 2;
    const uint8_t code = kMulaw.encode[static_cast<size_t>(mag)];
    return sample >= 0 ? static_cast<uint8_t>(code | 0x80) : code;
}

uint8_t G711LinearToAlaw(int16_t sample) {
    const int mag = sample < 0 ? (~sample) >> 4 : sample >> 4;
    uint8_t code = kAlaw.encode[static_cast<size_t>(mag)];
    if (sample >= 0) {
        code |= 0x80;
    }
    return static_cast<uint8_t>(code ^ 0x55);
}

int16_t G711MulawToLinear(uint8_t code) {
    return kMulaw.decode[code];
}
int16_t G711AlawToLinear(uint8_t code) {
    return kAlaw.decode[code];
}

void G711EncodeMulaw(const int16_t* in, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = G711LinearToMulaw(in[i]);
    }
}

void G711EncodeAlaw(const int16_t* in, uint8_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = G711LinearToAlaw(in[i]);
    }
}

void G711DecodeMulaw(const uint8_t* in, int16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = kMulaw.decode[in[i]];
    }
}

void G711DecodeAlaw(const uint8_t* in, int16_t* out, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        out[i] = kAlaw.decode[in[i]];
    }
}
