#pragma once
// Test and benchmark helpers for the codec services: tone synthesis, WAV files, external
// encoders run at runtime, a stream driver and tone analysis.

#include <cstdint>
#include <string>
#include <vector>

#include "codec/acm.h"
#include "support/tempdir.h"
#include "support/wavefile.h"

namespace codecmedia {

using testsupport::ReadFile;
using testsupport::TempDir;

// Interleaved 16-bit tone(s): amplitude in dBFS, phase in radians.
std::vector<int16_t> Tone(uint32_t rate, uint16_t channels, double seconds, double hz, double dbfs,
                          double phase = 0.0);

// The 18-byte record of a format.
std::vector<uint8_t> Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                            uint16_t blockAlign = 0, uint32_t avgBytes = 0);
std::vector<uint8_t> Pcm16Format(uint16_t channels, uint32_t rate);
std::vector<uint8_t> Mp3Format(uint16_t channels, uint32_t rate, uint32_t kbps);

// WAV files: a "fmt " body and the audio bytes.
bool WritePcm16Wav(const std::string& path, uint32_t rate, uint16_t channels,
                   const std::vector<int16_t>& samples);
bool ReadWav(const std::string& path, std::vector<uint8_t>& fmt, std::vector<uint8_t>& data);

// Runs a shell command with its output discarded; true on exit status 0.
bool RunQuiet(const std::string& command);
bool HaveTool(const char* name);

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes);
std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, uint16_t channels,
                             uint16_t which);

// Converts `data` through one stream in chunks of `chunk` bytes, each call's destination
// buffer sized by acmStreamSize(SOURCE) of the chunk. `boundHeld` is cleared when a call
// produced more than that bound said. Returns false when the stream did not open.
bool ConvertInChunks(const std::vector<uint8_t>& srcFormat, const std::vector<uint8_t>& dstFormat,
                     const std::vector<uint8_t>& data, uint32_t chunk, std::vector<uint8_t>& out,
                     bool* boundHeld = nullptr, bool flushAtEnd = false);

// Least-squares fit of a tone of known frequency (with DC) over samples [skip, size - skip):
// amplitude, and the ratio of the fitted tone's power to the residual's in dB.
struct ToneFit {
    double amplitude = 0;
    double phase = 0;
    double snrDb = 0;
};
ToneFit FitTone(const std::vector<int16_t>& x, uint32_t rate, double hz, size_t skip);
double ToDbfs(double amplitude);

// Normalised cross-correlation maximised over lags in [-maxLag, maxLag].
double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag,
                       int* bestLag = nullptr);
double Rms(const std::vector<int16_t>& x, size_t from = 0, size_t to = SIZE_MAX);

}  // namespace codecmedia
