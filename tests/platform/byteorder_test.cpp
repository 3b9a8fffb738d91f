#include "platform/byteorder.h"

#include <gtest/gtest.h>

#include <cstdint>

// Each width against a fixed byte pattern, both orders, and the signed forms at their
// extremes: a wrong shift or a missing sign extension shows as a different value.
TEST(ByteOrder, LoadsAndStoresFollowTheirOrder) {
    const uint8_t bytes[8] = {0x01, 0x82, 0x03, 0x84, 0x05, 0x06, 0x07, 0x88};
    EXPECT_EQ(platform::LoadLe16(bytes), 0x8201u);
    EXPECT_EQ(platform::LoadLe16s(bytes), static_cast<int16_t>(0x8201));
    EXPECT_EQ(platform::LoadLe32(bytes), 0x84038201u);
    EXPECT_EQ(platform::LoadLe64(bytes), 0x8807060584038201u);
    EXPECT_EQ(platform::LoadBe24(bytes), 0x018203u);
    EXPECT_EQ(platform::LoadBe32(bytes), 0x01820384u);

    const uint8_t min24[3] = {0x00, 0x00, 0x80};
    const uint8_t minus1[4] = {0xFF, 0xFF, 0xFF, 0xFF};
    const uint8_t max24[3] = {0xFF, 0xFF, 0x7F};
    EXPECT_EQ(platform::LoadLe24s(min24), -8388608);
    EXPECT_EQ(platform::LoadLe24s(minus1), -1);
    EXPECT_EQ(platform::LoadLe24s(max24), 8388607);
    EXPECT_EQ(platform::LoadLe32s(minus1), -1);

    const uint8_t half[4] = {0x00, 0x00, 0x00, 0x3F};            // 0.5f
    const uint8_t minusTwo[8] = {0, 0, 0, 0, 0, 0, 0x00, 0xC0};  // -2.0
    EXPECT_EQ(platform::LoadLeF32(half), 0.5f);
    EXPECT_EQ(platform::LoadLeF64(minusTwo), -2.0);

    uint8_t out[4] = {};
    platform::StoreBe16(out, 0x1234);
    EXPECT_EQ(out[0], 0x12);
    EXPECT_EQ(out[1], 0x34);
    platform::StoreBe32(out, 0x89ABCDEF);
    EXPECT_EQ(platform::LoadBe32(out), 0x89ABCDEFu);
    EXPECT_EQ(out[0], 0x89);
    platform::StoreLe32(out, 0x89ABCDEF);
    EXPECT_EQ(out[0], 0xEF);
    EXPECT_EQ(platform::LoadLe32(out), 0x89ABCDEFu);
    platform::StoreLe16s(out, -2);
    EXPECT_EQ(platform::LoadLe16(out), 0xFFFEu);
}
