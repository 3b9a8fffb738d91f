// Pushes arbitrary bytes, named .wav and then .mp3, from memory through the whole decode
// chain: the reader, the engine's OpenEntry and ProducePacket until the source is exhausted
// (no destinations, so nothing is sent), and the converter chunk by chunk to a mu-law WAV
// file in a scratch folder. Any crash, leak, hang or sanitizer report is a finding.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "convert/mediaconverter.h"
#include "engine/winsonvex.h"
#include "media/audiosourcefile.h"
#include "platform/bytesource.h"
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

std::unique_ptr<platform::ByteSource> Bytes(const uint8_t* data, size_t size) {
    return std::make_unique<platform::MemoryByteSource>(data, size);
}

void Stream(const uint8_t* data, size_t size, const char* name) {
    WinSonvex& engine = Engine();
    PlaylistFile entry;
    std::string description;
    AudioSourceFile probe;
    if (!probe.Open(Bytes(data, size), name, entry.Source, description) ||
        !entry.Source.SetPath(name)) {
        return;
    }
    probe.Close();
    // The output settings vary with the input's length, not its bytes, so that a mutation
    // of the file keeps them.
    static constexpr int kTimes[] = {20, 40, 80, 160};
    entry.DstFormat = size % 2 == 0 ? WAVE_FORMAT_MULAW : WAVE_FORMAT_ALAW;
    entry.DstSampleRate = 8000;
    entry.DstPacketization = kTimes[(size / 2) % 4];
    entry.Valid = 1;
    if (!engine.OpenEntry(entry, {}, Bytes(data, size))) {
        return;
    }
    int ticks = 0;
    while (!engine.EndOfSource() && ticks < kMaxTicks) {
        engine.ProducePacket();
        ++ticks;
    }
    engine.CloseEntry();
}

void Convert(const uint8_t* data, size_t size, const char* name) {
    MediaConverter& converter = Converter();
    std::vector<uint8_t> record(converter.FormatRecordSize());
    converter.WriteOutputFormat(record.data());
    const std::string output = ScratchDir("sonvexchain") + "/output.wav";
    if (!converter.OpenChain(name, output.c_str(), record.data(), Bytes(data, size))) {
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
    for (const char* name : {"input.wav", "input.mp3"}) {
        Stream(data, size, name);
        Convert(data, size, name);
    }
    return 0;
}
