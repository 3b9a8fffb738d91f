// What the mixer makes of parts in different codecs: G.711 laws mix with one another, G.722
// mixes with nothing (its packets decode only in their own stream's order), so a G.722 holder
// goes out as it came and a G.722 part under a G.711 holder is muted.
#include "server/packetmixer.h"

#include <gtest/gtest.h>

#include <vector>

#include "codec/g711.h"

namespace {

SourcePacket Packet(const std::vector<uint8_t>& payload, int payloadType) {
    SourcePacket packet;
    packet.payload = payload.data();
    packet.length = static_cast<int>(payload.size());
    packet.payloadType = payloadType;
    return packet;
}

std::vector<uint8_t> Mulaw(int16_t level) {
    return std::vector<uint8_t>(160, G711LinearToMulaw(level));
}

}  // namespace

TEST(PacketMixer, OnlyG711IsMixedAndG722PassesOrIsMuted) {
    PacketMixer mixer;
    const std::vector<uint8_t> g722(160, 0x5A);
    const std::vector<uint8_t> music = Mulaw(4000);
    const std::vector<uint8_t> voice = Mulaw(8000);
    const std::vector<uint8_t> alaw(160, G711LinearToAlaw(4000));
    const SourcePacket wide = Packet(g722, 9);
    const SourcePacket background = Packet(music, 0);
    const SourcePacket speech = Packet(voice, 0);
    const SourcePacket other = Packet(alaw, 8);
    const std::vector<Arbiter::Part> ducked = {{0, 1.0F, 1.0F}, {1, 0.5F, 0.5F}};
    const std::vector<Arbiter::Part> rampedHolder = {{0, 0.5F, 1.0F}, {1, 0.5F, 0.5F}};

    // A G.722 holder: its own bytes, whatever lies beneath it and whatever its ramp.
    for (const auto& parts : {ducked, rampedHolder}) {
        const PacketMixer::Mixed mixed = mixer.Mix(parts, {&wide, &background});
        EXPECT_EQ(mixed.payload, g722.data());
        EXPECT_EQ(mixed.length, 160);
        EXPECT_EQ(mixed.payloadType, 9);
    }
    // A G.722 part beneath a G.711 holder is muted: the holder is heard alone, untouched.
    PacketMixer::Mixed mixed = mixer.Mix(ducked, {&speech, &wide});
    EXPECT_EQ(mixed.payload, voice.data());
    EXPECT_EQ(mixed.payloadType, 0);
    // Under a ramp the holder is re-encoded, still without the G.722 part.
    mixed = mixer.Mix(rampedHolder, {&speech, &wide});
    ASSERT_NE(mixed.payload, nullptr);
    EXPECT_LT(G711MulawToLinear(mixed.payload[0]), G711MulawToLinear(voice[0]));
    EXPECT_GT(G711MulawToLinear(mixed.payload[159]), 7000);
    // The two G.711 laws do mix: A-law beneath mu-law adds its half level.
    mixed = mixer.Mix(ducked, {&speech, &other});
    ASSERT_NE(mixed.payload, nullptr);
    EXPECT_NEAR(G711MulawToLinear(mixed.payload[0]), 10000, 300);
    EXPECT_EQ(mixed.payloadType, 0);
}
