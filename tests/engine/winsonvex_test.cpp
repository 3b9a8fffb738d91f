#include "engine/winsonvex.h"

#include <gtest/gtest.h>

#include <cmath>
#include <cstdio>
#include <memory>
#include <set>

#include "enginetestsupport.h"
#include "support/sourcekinds.h"

namespace {

// Samples at 8 kHz by which the rate converter's filter may lengthen a source.
constexpr int kFilterSamples = 64;

int DecodedLevel(const RtpPacket& packet) {
    int sum = 0;
    for (uint8_t code : packet.payload) {
        sum += MulawDecode(code);
    }
    return packet.payload.empty() ? 0 : sum / static_cast<int>(packet.payload.size());
}

class EngineTest : public ::testing::Test {
protected:
    void SetUp() override {
        engine = std::make_unique<WinSonvex>();
        if (engine->Mp3CodecCount() == 0) {
            GTEST_SKIP() << "no MPEG Layer-3 codec installed";
        }
        engine->Feed(&transmitter);
    }
    // Ticks until the source is exhausted; the number of packets produced. Each tick leaves
    // the next one's payload built (nothing but the send comes between a tick and its
    // datagrams), through the source's tail: only the last packet leaves none.
    int Drain() {
        int packets = 0;
        int unready = 0;
        for (int guard = 0; guard < 100000 && !engine->EndOfSource(); ++guard) {
            if (engine->ProducePacket()) {
                ++packets;
                EXPECT_EQ(unready, 0) << "packet " << packets;
                unready += engine->PacketReady() ? 0 : 1;
            }
        }
        EXPECT_EQ(unready, packets > 0 ? 1 : 0);
        return packets;
    }

    TempDir dir;
    Transmitter transmitter;
    std::unique_ptr<WinSonvex> engine;
};

}  // namespace

TEST(EngineConstruction, GainFollowsTheVolumeInDecibels) {
    WinSonvex engine;
    EXPECT_EQ(engine.Gain(), 1.0);
    engine.SetVolumeDb(-9);
    EXPECT_NEAR(engine.Gain(), 0.3548, 1e-4);
    engine.SetVolumeDb(9);
    EXPECT_NEAR(engine.Gain(), 2.8184, 1e-4);
    engine.SetVolumeDb(0);
    EXPECT_EQ(engine.Gain(), 1.0);         // exactly: 0 dB must leave samples untouched
    EXPECT_FALSE(engine.ProducePacket());  // no entry open
    engine.CloseEntry();                   // harmless without an entry
}

// Packets of one-second chunks of 44.1 kHz stereo PCM at every packetization time: the
// payload follows the time, the ring never stalls (160 ms packets with one-second chunks
// exceed the nominal ring), and every decoded sample goes out: the packets cover the source
// and overrun it by less than a packet and the rate converter's filter.
class PacketizationTest : public EngineTest, public ::testing::WithParamInterface<int> {};

TEST_P(PacketizationTest, EveryPacketIsFullSizeAndNothingIsHeldBack) {
    const int ms = GetParam();
    const std::string path = dir.File("stereo.wav");
    ASSERT_TRUE(WritePcmWav(path, 44100, 2, 2.0, 1020, 16384));
    PlaylistFile entry;
    ASSERT_TRUE(MakeEntry(*engine, path, WAVE_FORMAT_MULAW, ms, entry));
    ASSERT_TRUE(engine->OpenEntry(entry, {}));
    EXPECT_EQ(engine->PayloadBytes(), ms * 8);
    EXPECT_EQ(engine->PacketPcmBytes() % 4, 0u);
    // Packets with no destinations are still produced at the normal pace.
    const int packets = Drain();
    const int outputSamples = 16000;
    EXPECT_GE(packets * ms * 8, outputSamples);
    EXPECT_LT((packets - 1) * ms * 8, outputSamples + kFilterSamples);
    EXPECT_FALSE(engine->ProducePacket());
    engine->CloseEntry();
    EXPECT_FALSE(engine->IsEntryOpen());
}

INSTANTIATE_TEST_SUITE_P(Times, PacketizationTest, ::testing::Values(20, 40, 80, 160));

// Every kind of source reaches the wire whole: the tone received on loopback lasts as long as
// the source within one packet, starts within a packet, keeps the source's level within
// 0.5 dB (any channel count: mono is the channels' average), and the last packet is full-size,
// completed with the silence code of its law. Sequence numbers and timestamps run on.
class DeliveryTest : public EngineTest,
                     public ::testing::WithParamInterface<testsupport::SourceKind> {};

TEST_P(DeliveryTest, TheWholeSourceArrivesAtItsLevel) {
    const testsupport::SourceKind& kind = GetParam();
    std::filesystem::path file;
    if (!testsupport::MakeSourceKind(kind, dir.Path(), file)) {
        GTEST_SKIP() << "the tool that makes " << kind.name << " is missing";
    }
    PlaylistFile entry;
    ASSERT_TRUE(MakeEntry(*engine, file.string(), kind.dstFormat, kind.packetMs, entry));
    RtpReceiver receiver;
    ASSERT_TRUE(engine->OpenEntry(entry, {receiver.Destination()}));
    const int produced = Drain();
    engine->CloseEntry();
    const auto packets = receiver.TakeAll();
    ASSERT_EQ(packets.size(), static_cast<size_t>(produced));
    ASSERT_FALSE(packets.empty());

    const bool alaw = kind.dstFormat == WAVE_FORMAT_ALAW;
    const size_t payload = static_cast<size_t>(kind.packetMs) * 8;
    std::vector<uint8_t> codes;
    std::vector<int> samples;
    for (size_t k = 0; k < packets.size(); ++k) {
        SCOPED_TRACE(k);
        ASSERT_EQ(packets[k].payload.size(), payload);
        EXPECT_EQ(packets[k].payloadType, alaw ? 8 : 0);
        if (k > 0) {
            EXPECT_EQ(packets[k].sequence, static_cast<uint16_t>(packets[k - 1].sequence + 1));
            EXPECT_EQ(packets[k].timestamp, packets[k - 1].timestamp + payload);
        }
        for (uint8_t code : packets[k].payload) {
            codes.push_back(code);
            samples.push_back(alaw ? testsupport::AlawToLinear(code) : MulawDecode(code));
        }
    }
    const testsupport::ToneSpan tone = testsupport::FindTone(samples, payload);
    const double expected = static_cast<double>(kind.frames) * 8000.0 / kind.rate;
    EXPECT_NEAR(static_cast<double>(tone.end - tone.first), expected, static_cast<double>(payload));
    EXPECT_NEAR(tone.levelDb, 0.0, 0.5);
    // The encoder's padding of an untagged MP3 stream is decoded audio, not the law's silence.
    // A source of whole packets at 8 kHz fills its last packet: nothing pads it.
    const uint8_t silence = alaw ? 0xD5 : 0xFF;
    if (kind.untrimmedEncoderDelay || std::lround(expected) % static_cast<long>(payload) != 0) {
        EXPECT_EQ(codes.back(), silence);
    }
    if (kind.untrimmedEncoderDelay) {
        return;
    }
    EXPECT_LE(tone.first, payload);
    // Past the tone and the rate converter's tail there is only the law's silence, and less
    // than a packet of it.
    EXPECT_LT(samples.size() - tone.end, payload + kFilterSamples);
    for (size_t i = tone.end + kFilterSamples; i < codes.size(); ++i) {
        ASSERT_EQ(codes[i], silence) << i;
    }
}

INSTANTIATE_TEST_SUITE_P(Kinds, DeliveryTest, ::testing::ValuesIn(testsupport::SourceKinds()),
                         [](const auto& param) { return std::string(param.param.name); });

TEST_F(EngineTest, RefusesEntriesItCannotStreamAndRecovers) {
    const std::string path = dir.File("tone.wav");
    ASSERT_TRUE(WritePcmWav(path, 8000, 1, 1.0, 1020, 16384));
    PlaylistFile good;
    ASSERT_TRUE(MakeEntry(*engine, path, WAVE_FORMAT_MULAW, 160, good));

    struct Case {
        const char* what;
        void (*mutate)(PlaylistFile&);
    };
    const Case cases[] = {
        {"payload above the packet buffer", [](PlaylistFile& e) { e.DstSampleRate = 50000; }},
        {"no packetization time", [](PlaylistFile& e) { e.DstPacketization = 0; }},
        {"negative rate", [](PlaylistFile& e) { e.DstSampleRate = -8000; }},
        {"overflowing product", [](PlaylistFile& e) { e.DstSampleRate = 0x7FFFFFFF; }},
        {"zero chunk", [](PlaylistFile& e) { e.Source.chunkBytes = 0; }},
        {"no format", [](PlaylistFile& e) { e.Source.SetFormat(nullptr, 0); }},
        {"chunk differs from the file's", [](PlaylistFile& e) { e.Source.chunkBytes = 4000; }},
        {"missing file", [](PlaylistFile& e) { e.Source.SetPath("/nonexistent/x.wav"); }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        PlaylistFile bad = good;
        c.mutate(bad);
        EXPECT_FALSE(engine->OpenEntry(bad, {}));
        EXPECT_FALSE(engine->IsEntryOpen());
        EXPECT_FALSE(engine->ProducePacket());
    }
    ASSERT_TRUE(engine->OpenEntry(good, {}));
    EXPECT_EQ(Drain(), 7);  // 16000 decoded bytes in packets of 2560, the last completed
    engine->CloseEntry();

    // The file was replaced by one of another format after the probe.
    ASSERT_TRUE(WritePcmWav(path, 16000, 1, 1.0, 1020, 16384));
    EXPECT_FALSE(engine->OpenEntry(good, {}));
}

// Levels through the gain: 0 dB unchanged, +9 dB held at the 16-bit limit (a wrapped
// product would turn 30000 * 2.818 into about +19000), -9 dB scaled, stereo averaged.
TEST_F(EngineTest, GainSaturatesAndStereoIsAveraged) {
    const std::string mono = dir.File("mono.wav");
    const std::string stereo = dir.File("stereo.wav");
    ASSERT_TRUE(WriteConstantWav(mono, 8000, 1, 2.0, 30000));
    ASSERT_TRUE(WriteConstantWav(stereo, 8000, 2, 2.0, 20000));
    RtpReceiver receiver;

    auto levelOf = [&](const std::string& path, int dB) {
        engine->SetVolumeDb(dB);
        PlaylistFile entry;
        EXPECT_TRUE(MakeEntry(*engine, path, WAVE_FORMAT_MULAW, 20, entry));
        EXPECT_TRUE(engine->OpenEntry(entry, {receiver.Destination()}));
        for (int i = 0; i < 20; ++i) {
            engine->ProducePacket();
        }
        engine->CloseEntry();
        const auto packets = receiver.TakeAll();
        EXPECT_EQ(packets.size(), 20u);
        // Past any converter start-up, a constant input gives a constant level.
        return packets.empty() ? 0 : DecodedLevel(packets.back());
    };
    EXPECT_NEAR(levelOf(mono, 0), 30000, 1100);
    EXPECT_GE(levelOf(mono, 9), 31000);
    EXPECT_NEAR(levelOf(mono, -9), 10646, 400);
    // The mix-down averages the channels: 20000 in each stays 20000 (a sum would clip).
    EXPECT_NEAR(levelOf(stereo, 0), 20000, 700);
    engine->SetVolumeDb(0);
}

// The gain is applied as the payload is encoded, just before the send: a volume change
// reaches the very next packet, though its samples were decoded and resampled a tick ago.
TEST_F(EngineTest, VolumeReachesTheNextPacket) {
    const std::string mono = dir.File("mono.wav");
    ASSERT_TRUE(WriteConstantWav(mono, 8000, 1, 2.0, 20000));
    RtpReceiver receiver;
    PlaylistFile entry;
    ASSERT_TRUE(MakeEntry(*engine, mono, WAVE_FORMAT_MULAW, 20, entry));
    ASSERT_TRUE(engine->OpenEntry(entry, {receiver.Destination()}));
    for (int i = 0; i < 10; ++i) {
        engine->ProducePacket();
    }
    ASSERT_TRUE(engine->PacketReady());
    engine->SetVolumeDb(-9);
    engine->ProducePacket();
    engine->SetVolumeDb(6);
    engine->ProducePacket();
    engine->SetVolumeDb(0);
    engine->ProducePacket();
    engine->CloseEntry();
    const auto packets = receiver.TakeAll();
    ASSERT_EQ(packets.size(), 13u);
    EXPECT_NEAR(DecodedLevel(packets[9]), 20000, 700);
    EXPECT_NEAR(DecodedLevel(packets[10]), 7096, 300);
    EXPECT_NEAR(DecodedLevel(packets[11]), 32000, 800);  // 39905, held at the limit
    EXPECT_NEAR(DecodedLevel(packets[12]), 20000, 700);
}

TEST_F(EngineTest, FansOutToTheFirstHundredDestinations) {
    const std::string path = dir.File("tone.wav");
    ASSERT_TRUE(WritePcmWav(path, 8000, 1, 1.0, 1020, 16384));
    PlaylistFile entry;
    ASSERT_TRUE(MakeEntry(*engine, path, WAVE_FORMAT_ALAW, 20, entry));
    std::vector<std::unique_ptr<RtpReceiver>> receivers;
    std::vector<RtpDestination> destinations;
    for (int i = 0; i < 101; ++i) {
        receivers.push_back(std::make_unique<RtpReceiver>());
        destinations.push_back(receivers.back()->Destination());
    }
    ASSERT_TRUE(engine->OpenEntry(entry, destinations));
    for (int i = 0; i < 3; ++i) {
        EXPECT_TRUE(engine->ProducePacket());
    }
    engine->CloseEntry();

    const auto first = receivers[0]->TakeAll();
    ASSERT_EQ(first.size(), 3u);
    std::set<uint32_t> ssrcs;
    for (int i = 0; i < 100; ++i) {
        SCOPED_TRACE(i);
        const auto packets = i == 0 ? first : receivers[static_cast<size_t>(i)]->TakeAll();
        ASSERT_EQ(packets.size(), 3u);
        for (size_t k = 0; k < packets.size(); ++k) {
            EXPECT_EQ(packets[k].payloadType, 8);
            EXPECT_EQ(packets[k].payload, first[k].payload);
            EXPECT_EQ(packets[k].payload.size(), 160u);
            EXPECT_EQ(packets[k].ssrc, packets[0].ssrc);
        }
        ssrcs.insert(packets[0].ssrc);
    }
    EXPECT_EQ(ssrcs.size(), 100u) << "each destination has its own SSRC";
    EXPECT_TRUE(receivers[100]->TakeAll().empty());
}
