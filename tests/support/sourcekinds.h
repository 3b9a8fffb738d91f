#pragma once
// One source file of each kind an operator streams or converts (PCM at several rates and
// channel counts, G.711, IMA and coefficient ADPCM, GSM 6.10, MP3, MP3 inside a WAV file, a
// short chime), each holding a -6 dBFS 1020 Hz tone in every channel, made at run time with
// our own writer or with sox, lame and ffmpeg. Shared by the engine and converter tests and
// the delivery benchmark.

#include <cstdint>
#include <filesystem>
#include <vector>

namespace testsupport {

struct SourceKind {
    const char* name;  // file stem; also the test's label
    uint32_t rate;
    uint16_t channels;
    uint32_t frames;  // length of the tone in sample frames
    int dstFormat;    // G.711 tag the kind is streamed as (7 mu-law, 6 A-law)
    int packetMs;
    // The file carries the encoder's delay and padding with no tag that says how much (an
    // MP3 stream inside a WAV file): the tone starts and ends later than the file does.
    bool untrimmedEncoderDelay;
};

// Peak of the tone every kind holds (of 32767): -6 dBFS.
constexpr double kSourceTonePeak = 16384.0;
constexpr double kSourceToneHz = 1020.0;

const std::vector<SourceKind>& SourceKinds();
// Writes the kind's file into `dir`; false when it could not be made (a tool is missing).
bool MakeSourceKind(const SourceKind& kind, const std::filesystem::path& dir,
                    std::filesystem::path& file);

// Where the tone lies in decoded mono audio: the first and one past the last sample above a
// quarter of the tone's peak, and its RMS level in dB relative to the source tone's, taken
// between first and last with `margin` samples left out at each end.
struct ToneSpan {
    size_t first = 0;
    size_t end = 0;
    double levelDb = -200.0;
};
ToneSpan FindTone(const std::vector<int>& samples, size_t margin);

}  // namespace testsupport
