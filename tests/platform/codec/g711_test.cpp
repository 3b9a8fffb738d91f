// The table-driven G.711 coder against the ITU-T reference algorithm, written here as the
// classic bit manipulation (segment search by shifting) on every 16-bit input.
#include <gtest/gtest.h>

#include <cstdint>

#include "codec/g711.h"

namespace {

uint8_t RefAlawCompress(int16_t lin) {
    int ix = lin < 0 ? (~lin) >> 4 : lin >> 4;
    if (ix > 15) {
        int iexp = 1;
        while (ix > 16 + 15) {
            ix >>= 1;
            ++iexp;
        }
        ix -= 16;
        ix += iexp << 4;
    }
    if (lin >= 0) {
        ix |= 0x80;
    }
    return static_cast<uint8_t>(ix ^ 0x55);
}

int16_t RefAlawExpand(uint8_t code) {
    int ix = (code ^ 0x55) & 0x7F;
    const int iexp = ix >> 4;
    int mant = ix & 0x0F;
    if (iexp > 0) {
        mant += 16;
    }
    mant = (mant << 4) + 8;
    if (iexp > 1) {
        mant <<= iexp - 1;
    }
    return static_cast<int16_t>(code > 127 ? mant : -mant);
}

uint8_t RefUlawCompress(int16_t lin) {
    int absno = lin < 0 ? ((~lin) >> 2) + 33 : (lin >> 2) + 33;
    if (absno > 0x1FFF) {
        absno = 0x1FFF;
    }
    int i = absno >> 6;
    int segno = 1;
    while (i != 0) {
        ++segno;
        i >>= 1;
    }
    const int high = 8 - segno;
    const int low = 0x0F - ((absno >> segno) & 0x0F);
    int code = (high << 4) | low;
    if (lin >= 0) {
        code |= 0x80;
    }
    return static_cast<uint8_t>(code);
}

int16_t RefUlawExpand(uint8_t code) {
    const int sign = code < 0x80 ? -1 : 1;
    const int inv = ~code;
    const int exponent = (inv >> 4) & 7;
    const int mantissa = inv & 0x0F;
    const int step = 4 << (exponent + 1);
    return static_cast<int16_t>(sign * ((0x80 << exponent) + step * mantissa + step / 2 - 4 * 33));
}

TEST(G711, EncodersMatchTheReferenceOnEveryInput) {
    int mulawMismatches = 0;
    int alawMismatches = 0;
    for (int v = -32768; v <= 32767; ++v) {
        const auto s = static_cast<int16_t>(v);
        mulawMismatches += G711LinearToMulaw(s) != RefUlawCompress(s);
        alawMismatches += G711LinearToAlaw(s) != RefAlawCompress(s);
    }
    EXPECT_EQ(mulawMismatches, 0);
    EXPECT_EQ(alawMismatches, 0);
}

TEST(G711, DecodersMatchTheReferenceOnEveryCode) {
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<uint8_t>(c);
        EXPECT_EQ(G711MulawToLinear(code), RefUlawExpand(code)) << "mu-law code " << c;
        EXPECT_EQ(G711AlawToLinear(code), RefAlawExpand(code)) << "A-law code " << c;
    }
}

TEST(G711, KnownCodesAndRoundTrip) {
    // Silence, full scale and the two laws' extremes.
    EXPECT_EQ(G711LinearToMulaw(0), 0xFF);
    EXPECT_EQ(G711LinearToMulaw(-1), 0x7F);
    EXPECT_EQ(G711LinearToMulaw(32767), 0x80);
    EXPECT_EQ(G711LinearToMulaw(-32768), 0x00);
    EXPECT_EQ(G711LinearToAlaw(0), 0xD5);
    EXPECT_EQ(G711LinearToAlaw(-1), 0x55);
    EXPECT_EQ(G711MulawToLinear(0x80), 32124);
    EXPECT_EQ(G711AlawToLinear(0xAA), 32256);
    // Decoding then encoding every code gives the code back (the two zero codes of mu-law
    // both decode to 0, which encodes as the positive one).
    for (int c = 0; c < 256; ++c) {
        const auto code = static_cast<uint8_t>(c);
        if (code != 0x7F) {
            EXPECT_EQ(G711LinearToMulaw(G711MulawToLinear(code)), code) << c;
        }
        EXPECT_EQ(G711LinearToAlaw(G711AlawToLinear(code)), code) << c;
    }
}

TEST(G711, BufferFunctionsAgreeWithSampleFunctions) {
    const int16_t in[] = {0, 1, -1, 100, -100, 5000, -5000, 32767, -32768};
    constexpr size_t n = sizeof in / sizeof in[0];
    uint8_t mu[n];
    uint8_t a[n];
    G711EncodeMulaw(in, mu, n);
    G711EncodeAlaw(in, a, n);
    int16_t muBack[n];
    int16_t aBack[n];
    G711DecodeMulaw(mu, muBack, n);
    G711DecodeAlaw(a, aBack, n);
    for (size_t i = 0; i < n; ++i) {
        EXPECT_EQ(mu[i], G711LinearToMulaw(in[i]));
        EXPECT_EQ(a[i], G711LinearToAlaw(in[i]));
        EXPECT_EQ(muBack[i], G711MulawToLinear(mu[i]));
        EXPECT_EQ(aBack[i], G711AlawToLinear(a[i]));
    }
}

}  // namespace
