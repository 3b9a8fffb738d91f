#include "sourcekinds.h"

#include <cmath>
#include <cstdlib>
#include <string>

#include "mulaw.h"
#include "wavefile.h"

namespace testsupport {

namespace {

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

std::string Quoted(const std::filesystem::path& path) {
    return "'" + path.string() + "'";
}

std::string Seconds(const SourceKind& kind) {
    return std::to_string(static_cast<double>(kind.frames) / kind.rate);
}

std::vector<uint8_t> Tone(const SourceKind& kind) {
    return SinePcm16(kind.frames, kind.channels, kind.rate, kSourceToneHz, kSourceTonePeak);
}

// sox's own tone (vol 0.5 is the -6 dBFS peak) in one of its WAV encodings.
bool SoxTone(const SourceKind& kind, const char* encoding, const std::filesystem::path& file) {
    return Run("sox -q -n -r " + std::to_string(kind.rate) + " -c " +
               std::to_string(kind.channels) + " " + encoding + " " + Quoted(file) + " synth " +
               Seconds(kind) + " sine " + std::to_string(kSourceToneHz) + " vol 0.5");
}

}  // namespace

const std::vector<SourceKind>& SourceKinds() {
    // Lengths put a partial chunk at the end of most kinds, leave one exactly on a chunk
    // boundary (48 kHz), keep the block formats to whole blocks (IMA 505 frames, the
    // coefficient ADPCM 500, GSM 320) so that every file's tone fills it, and end none on
    // a packet boundary, so that each last packet needs completing.
    static const std::vector<SourceKind> kinds = {
        {"pcm44k_stereo", 44100, 2, 66150, 7, 20, false},
        {"mulaw8k", 8000, 1, 18000, 7, 40, false},
        {"ima_adpcm", 8000, 1, 8080, 7, 20, false},
        {"ms_adpcm", 8000, 1, 8500, 7, 20, false},
        {"gsm", 8000, 1, 13120, 7, 80, false},
        {"mp3", 44100, 2, 66150, 7, 20, false},
        {"mp3_in_wav", 44100, 2, 66150, 7, 20, true},
        {"pcm8k_4ch", 8000, 4, 8100, 7, 20, false},
        {"pcm48k_6ch", 48000, 6, 48000, 7, 20, false},
        {"chime", 22050, 1, 6615, 6, 20, false},
    };
    return kinds;
}

bool MakeSourceKind(const SourceKind& kind, const std::filesystem::path& dir,
                    std::filesystem::path& file) {
    const std::string name = kind.name;
    file = dir / (name + (name == "mp3" ? ".mp3" : ".wav"));
    if (name == "mulaw8k") {
        std::vector<uint8_t> data;
        for (uint32_t n = 0; n < kind.frames; ++n) {
            data.push_back(MulawEncode(SineSample(n, kind.rate, kSourceToneHz, kSourceTonePeak)));
        }
        return WriteWave(file, 7, 1, kind.rate, 8, data);
    }
    if (name == "ima_adpcm") {
        return SoxTone(kind, "-e ima-adpcm", file);
    }
    if (name == "ms_adpcm") {
        return SoxTone(kind, "-e ms-adpcm", file);
    }
    if (name == "gsm") {
        return SoxTone(kind, "-e gsm-full-rate", file);
    }
    if (name == "pcm48k_6ch") {
        return SoxTone(kind, "-b 16", file);  // more than two channels: an extensible record
    }
    if (name == "mp3" || name == "mp3_in_wav") {
        const std::filesystem::path wav = dir / (name + "_source.wav");
        if (!WriteWave(wav, 1, kind.channels, kind.rate, 16, Tone(kind))) {
            return false;
        }
        const bool ok = name == "mp3"
                            ? Run("lame --quiet --cbr -b 128 " + Quoted(wav) + " " + Quoted(file))
                            : Run("ffmpeg -nostdin -v error -y -i " + Quoted(wav) +
                                  " -c:a libmp3lame -b:a 128k -map_metadata -1 -fflags +bitexact"
                                  " -flags:a +bitexact -f wav " +
                                  Quoted(file));
        std::filesystem::remove(wav);
        return ok && std::filesystem::exists(file);
    }
    return WriteWave(file, 1, kind.channels, kind.rate, 16, Tone(kind));
}

ToneSpan FindTone(const std::vector<int>& samples, size_t margin) {
    ToneSpan span;
    const double threshold = kSourceTonePeak / 4;
    size_t first = samples.size();
    size_t last = 0;
    for (size_t i = 0; i < samples.size(); ++i) {
        if (std::abs(samples[i]) > threshold) {
            first = std::min(first, i);
            last = i;
        }
    }
    if (first >= samples.size()) {
        return span;
    }
    span.first = first;
    span.end = last + 1;
    double sum = 0;
    size_t count = 0;
    for (size_t i = first + margin; i + margin < span.end; ++i) {
        sum += static_cast<double>(samples[i]) * samples[i];
        ++count;
    }
    if (count > 0) {
        const double rms = std::sqrt(sum / static_cast<double>(count));
        span.levelDb = 20.0 * std::log10(rms / (kSourceTonePeak / std::sqrt(2.0)));
    }
    return span;
}

}  // namespace testsupport
