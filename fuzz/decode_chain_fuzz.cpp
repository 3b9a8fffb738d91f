// Writes arbitrary bytes to a file named .wav and one named .mp3 and pushes each through the
// whole decode chain: the probe, the engine's OpenEntry and ProducePacket until the source is
// exhausted (no destinations, so nothing is sent), and the converter chunk by chunk to a
// mu-law WAV file. Any crash, leak, hang or sanitizer report is a finding.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "convert/mediaconverter.h"
#include "engine/winsonvex.h"
#include "scratchdir.h"

namespace {

// A file at 1 Hz legitimately lasts for hours of packets; these bounds keep one input to a
// fraction of a second, far more than any input of max_len bytes at a real rate needs.
constexpr int kMaxTicks = 20000;
constexpr int kMaxBlocks = 4000;
constexpr uint64_t kMaxOutputBytes = 16u << 20;

// The engine and the converter discover the codecs once, as the application does.
WinSonvex& Engine() {
    static WinSonvex engine;
    return engine;
}

MediaConverter& Converter() {
    static MediaConverter converter;
    return converter;
}

void Stream(const std::string& path, size_t size) {
    WinSonvex& engine = Engine();
    PlaylistFile entry;
    std::string description;
    if (!engine.ProbeSource(path.c_str(), entry.Source, description) ||
        !entry.Source.SetPath(path.c_str())) {
        return;
    }
    // The output settings vary with the input's length, not its bytes, so that a mutation
    // of the file keeps them.
    static constexpr int kTimes[] = {20, 40, 80, 160};
    entry.DstFormat = size % 2 == 0 ? WAVE_FORMAT_MULAW : WAVE_FORMAT_ALAW;
    entry.DstSampleRate = 8000;
    entry.DstPacketization = kTimes[(size / 2) % 4];
    entry.Valid = 1;
    if (!engine.OpenEntry(entry, {})) {
        return;
    }
    int ticks = 0;
    while (!engine.EndOfSource() && ticks < kMaxTicks) {
        engine.ProducePacket();
        ++ticks;
    }
    engine.CloseEntry();
}

void Convert(const std::string& path) {
    MediaConverter& converter = Converter();
    std::vector<uint8_t> record(converter.FormatRecordSize());
    converter.WriteOutputFormat(record.data());
    const std::string output = ScratchDir("sonvexchain") + "/output.wav";
    if (!converter.OpenChain(path.c_str(), output.c_str(), record.data())) {
        return;
    }
    std::unique_ptr<uint8_t[]> block;
    uint32_t length = 0;
    uint64_t written = 0;
    for (int i = 0; i < kMaxBlocks && written < kMaxOutputBytes; ++i) {
        if (!converter.ConvertBlock(block, length)) {
            break;
        }
        written += length;
    }
    converter.CloseChain();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string& dir = ScratchDir("sonvexchain");
    for (const char* name : {"/input.wav", "/input.mp3"}) {
        const std::string path = dir + name;
        WriteScratchFile(path, data, size);
        Stream(path, size);
        Convert(path);
    }
    return 0;
}
