#include "mulaw.h"

namespace testsupport {

uint8_t MulawEncode(int16_t sample) {
    constexpr int kBias = 0x84;
    constexpr int kClip = 32635;
    int s = sample;
    const int sign = s < 0 ? 0x80 : 0;
    if (s < 0) {
        s = -s;
    }
    if (s > kClip) {
        s = kClip;
    }
    s += kBias;
    int exponent = 7;
    for (int mask = 0x4000; (s & mask) == 0 && exponent > 0; mask >>= 1) {
        --exponent;
    }
    const int mantissa = (s >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | (exponent << 4) | mantissa));
}

int MulawToLinear(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    int t = ((u & 0x0F) << 3) + 0x84;
    t <<= (u & 0x70) >> 4;
    return (u & 0x80) != 0 ? 0x84 - t : t - 0x84;
}

int AlawToLinear(uint8_t code) {
    const int a = code ^ 0x55;
    const int exponent = (a & 0x70) >> 4;
    int t = (a & 0x0F) << 4;
    t = exponent == 0 ? t + 8 : (t + 0x108) << (exponent - 1);
    return (a & 0x80) != 0 ? t : -t;
}

}  // namespace testsupport
