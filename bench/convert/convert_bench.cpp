// Converts a 10-minute 44.1 kHz stereo 128 kbit/s MP3 into the mu-law WAV with the
// conversion engine and with the ffmpeg and sox command lines, and prints the wall times and
// the CPU time (user + system) each took; then measures the SNR of a 1020 Hz -6 dBFS tone
// (WAV and MP3 sources) after each conversion against an ideal mu-law encoding of the same
// tone, and what is left of a 4.3 kHz -6 dBFS tone, which the rate converter must keep from
// folding into the band (at 3.7 kHz). The sources are made at run time with sox and lame in
// a temp folder.

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "codec/waveformat.h"
#include "convert/mediaconverter.h"

namespace fs = std::filesystem;

namespace {

constexpr double kToneHz = 1020.0;
constexpr double kAliasToneHz = 4300.0;
constexpr double kAliasHz = 8000.0 - kAliasToneHz;  // where 4.3 kHz folds to at 8000 Hz
const double kToneAmplitude = std::pow(10.0, -6.0 / 20.0);

class NullSink : public ConvertDoneSink {
public:
    void PostConvertDone(uintptr_t, intptr_t) override {}
};

bool Run(const std::string& command) {
    return std::system((command + " >/dev/null 2>&1").c_str()) == 0;
}

double Seconds(std::chrono::steady_clock::time_point since) {
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - since).count();
}

bool ConvertTo(uint16_t tag, const fs::path& source, const fs::path& output) {
    MediaConverter converter;
    std::vector<uint8_t> record(converter.FormatRecordSize(), 0);
    WAVEFORMATEX format{};
    format.wFormatTag = tag;
    format.nChannels = 1;
    format.nSamplesPerSec = 8000;
    WriteWaveFormat(format, record.data());
    if (!converter.OpenChain(source.c_str(), output.c_str(), record.data())) {
        return false;
    }
    NullSink sink;
    converter.ConversionWorker(sink);
    return true;
}

bool ConvertWithEngine(const fs::path& source, const fs::path& output) {
    return ConvertTo(WAVE_FORMAT_MULAW, source, output);
}

// The same chain ending in 16-bit PCM: what the rate converter leaves, below mu-law's steps.
bool ConvertWithEngine16(const fs::path& source, const fs::path& output) {
    return ConvertTo(WAVE_FORMAT_PCM, source, output);
}

bool ConvertWithFfmpeg(const fs::path& source, const fs::path& output) {
    return Run("ffmpeg -nostdin -v quiet -y -i '" + source.string() +
               "' -ac 1 -ar 8000 -c:a pcm_mulaw '" + output.string() + "'");
}

bool ConvertWithSox(const fs::path& source, const fs::path& output) {
    return Run("sox '" + source.string() + "' -r 8000 -c 1 -e mu-law '" + output.string() + "'");
}

using Converter = bool (*)(const fs::path&, const fs::path&);

// User plus system CPU seconds of this process (all its threads) and of its waited-for
// children.
double CpuSeconds(int who) {
    rusage usage{};
    getrusage(who, &usage);
    const auto seconds = [](const timeval& t) {
        return static_cast<double>(t.tv_sec) + static_cast<double>(t.tv_usec) / 1e6;
    };
    return seconds(usage.ru_utime) + seconds(usage.ru_stime);
}

struct Timing {
    double wall = -1;  // negative when the conversion failed
    double cpu = -1;
};

// Best of `runs` wall times and, separately, of CPU times (this process's for the engine,
// the child's for the command lines).
Timing TimeBest(Converter convert, const fs::path& source, const fs::path& output, int runs) {
    Timing best;
    for (int i = 0; i < runs; ++i) {
        fs::remove(output);
        const double cpuStart = CpuSeconds(RUSAGE_SELF) + CpuSeconds(RUSAGE_CHILDREN);
        const auto start = std::chrono::steady_clock::now();
        if (!convert(source, output)) {
            return {};
        }
        const double took = Seconds(start);
        const double cpu = CpuSeconds(RUSAGE_SELF) + CpuSeconds(RUSAGE_CHILDREN) - cpuStart;
        best.wall = best.wall < 0 ? took : std::min(best.wall, took);
        best.cpu = best.cpu < 0 ? cpu : std::min(best.cpu, cpu);
    }
    return best;
}

uint32_t U32(const std::vector<uint8_t>& b, size_t at) {
    return b[at] | b[at + 1] << 8 | b[at + 2] << 16 | static_cast<uint32_t>(b[at + 3]) << 24;
}

// The "data" chunk of a RIFF WAVE file, found by walking the chunks.
std::vector<uint8_t> DataChunk(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    const std::vector<uint8_t> file{std::istreambuf_iterator<char>(in),
                                    std::istreambuf_iterator<char>()};
    size_t at = 12;
    while (at + 8 <= file.size()) {
        const uint32_t size = U32(file, at + 4);
        if (std::memcmp(file.data() + at, "data", 4) == 0) {
            const size_t end = std::min(file.size(), at + 8 + static_cast<size_t>(size));
            return {file.begin() + static_cast<long>(at + 8),
                    file.begin() + static_cast<long>(end)};
        }
        at += 8 + size + (size & 1);
    }
    return {};
}

int MulawToLinear(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    int t = ((code & 0x0F) << 3) + 0x84;
    t <<= (code & 0x70) >> 4;
    return (code & 0x80) ? 0x84 - t : t - 0x84;
}

uint8_t LinearToMulaw(int pcm) {
    const int sign = pcm < 0 ? 0x80 : 0;
    int magnitude = std::min(std::abs(pcm), 32635) + 0x84;
    int exponent = 7;
    while (exponent > 0 && (magnitude & (0x4000 >> (7 - exponent))) == 0) {
        --exponent;
    }
    const int mantissa = (magnitude >> (exponent + 3)) & 0x0F;
    return static_cast<uint8_t>(~(sign | exponent << 4 | mantissa));
}

// Fits a·sin + b·cos + c at `hz` (level and phase free) over the middle of the signal,
// skipping half a second at each end; returns 10·log10(fit power / residual) and the fitted
// level in dBFS.
double ToneSnr(const std::vector<double>& y, double* levelDb = nullptr, double hz = kToneHz) {
    const size_t from = 4000;
    const size_t to = y.size() > 8000 ? y.size() - 4000 : 0;
    if (to <= from) {
        return 0;
    }
    double m[3][3] = {}, v[3] = {};
    for (size_t n = from; n < to; ++n) {
        const double w = 2 * M_PI * hz * static_cast<double>(n) / 8000.0;
        const double basis[3] = {std::sin(w), std::cos(w), 1.0};
        for (int i = 0; i < 3; ++i) {
            v[i] += basis[i] * y[n];
            for (int j = 0; j < 3; ++j) {
                m[i][j] += basis[i] * basis[j];
            }
        }
    }
    // Gaussian elimination on the 3x3 normal equations.
    for (int i = 0; i < 3; ++i) {
        for (int k = i + 1; k < 3; ++k) {
            const double f = m[k][i] / m[i][i];
            for (int j = i; j < 3; ++j) {
                m[k][j] -= f * m[i][j];
            }
            v[k] -= f * v[i];
        }
    }
    double c[3];
    for (int i = 2; i >= 0; --i) {
        double s = v[i];
        for (int j = i + 1; j < 3; ++j) {
            s -= m[i][j] * c[j];
        }
        c[i] = s / m[i][i];
    }
    if (levelDb != nullptr) {
        *levelDb = 20 * std::log10(std::hypot(c[0], c[1]) / 32768.0);
    }
    double signal = 0, noise = 0;
    for (size_t n = from; n < to; ++n) {
        const double w = 2 * M_PI * hz * static_cast<double>(n) / 8000.0;
        const double tone = c[0] * std::sin(w) + c[1] * std::cos(w);
        const double residual = y[n] - tone - c[2];
        signal += tone * tone;
        noise += residual * residual;
    }
    return noise > 0 ? 10 * std::log10(signal / noise) : 999;
}

double OutputSnr(const fs::path& output, double* levelDb, double hz = kToneHz) {
    std::vector<double> y;
    for (uint8_t code : DataChunk(output)) {
        y.push_back(MulawToLinear(code));
    }
    return ToneSnr(y, levelDb, hz);
}

// The level of a tone in a 16-bit PCM output.
double Pcm16ToneLevel(const fs::path& output, double hz) {
    const std::vector<uint8_t> data = DataChunk(output);
    std::vector<double> y;
    for (size_t i = 0; i + 1 < data.size(); i += 2) {
        y.push_back(static_cast<int16_t>(data[i] | data[i + 1] << 8));
    }
    double level = 0;
    ToneSnr(y, &level, hz);
    return level;
}

// The tone at `amplitude` (of full scale) through a textbook mu-law encoder and decoder.
double IdealSnr(double amplitude, double* levelDb) {
    std::vector<double> y;
    for (int n = 0; n < 8000 * 10; ++n) {
        const double x = amplitude * 32767 * std::sin(2 * M_PI * kToneHz * n / 8000.0);
        y.push_back(MulawToLinear(LinearToMulaw(static_cast<int>(std::lround(x)))));
    }
    return ToneSnr(y, levelDb);
}

}  // namespace

int main() {
    std::string pattern = (fs::temp_directory_path() / "sonvexbenchXXXXXX").string();
    if (mkdtemp(pattern.data()) == nullptr) {
        std::fprintf(stderr, "no temp folder\n");
        return 1;
    }
    const fs::path dir = pattern;
    const fs::path longWav = dir / "long.wav";
    const fs::path longMp3 = dir / "long.mp3";
    const fs::path toneWav = dir / "tone.wav";
    const fs::path toneMp3 = dir / "tone.mp3";
    const fs::path aliasWav = dir / "alias.wav";
    const fs::path aliasMp3 = dir / "alias.mp3";
    if (!Run("sox -n -r 44100 -c 2 -b 16 '" + longWav.string() +
             "' synth 600 sine 440 sine 660 vol 0.5") ||
        !Run("lame --quiet --cbr -b 128 '" + longWav.string() + "' '" + longMp3.string() + "'") ||
        !Run("sox -n -r 44100 -c 2 -b 16 '" + toneWav.string() + "' synth 10 sine 1020 vol " +
             std::to_string(kToneAmplitude)) ||
        !Run("lame --quiet --cbr -b 128 '" + toneWav.string() + "' '" + toneMp3.string() + "'") ||
        !Run("sox -n -r 44100 -c 2 -b 16 '" + aliasWav.string() + "' synth 10 sine 4300 vol " +
             std::to_string(kToneAmplitude)) ||
        !Run("lame --quiet --cbr -b 128 '" + aliasWav.string() + "' '" + aliasMp3.string() + "'")) {
        std::fprintf(stderr, "sox and lame are needed to make the sources\n");
        fs::remove_all(dir);
        return 1;
    }

    std::printf("10-minute 44.1 kHz stereo 128 kbit/s MP3 -> mu-law 8000 Hz mono WAV, best of 3\n");
    const Timing engine = TimeBest(ConvertWithEngine, longMp3, dir / "engine.wav", 3);
    const Timing ffmpeg = TimeBest(ConvertWithFfmpeg, longMp3, dir / "ffmpeg.wav", 3);
    const Timing sox = TimeBest(ConvertWithSox, longMp3, dir / "sox.wav", 3);
    std::printf("                  wall        CPU (user+sys)\n");
    std::printf("  MediaConverter  %7.3f s   %7.3f s\n", engine.wall, engine.cpu);
    std::printf("  ffmpeg          %7.3f s   %7.3f s   engine/ffmpeg: wall %.2f  CPU %.2f\n",
                ffmpeg.wall, ffmpeg.cpu, engine.wall / ffmpeg.wall, engine.cpu / ffmpeg.cpu);
    std::printf("  sox             %7.3f s   %7.3f s   engine/sox:    wall %.2f  CPU %.2f\n",
                sox.wall, sox.cpu, engine.wall / sox.wall, engine.cpu / sox.cpu);

    std::printf(
        "\n1020 Hz -6 dBFS tone, SNR after decoding back to linear (level and phase fitted)\n");
    double level = 0;
    const double ideal = IdealSnr(kToneAmplitude, &level);
    std::printf("  ideal mu-law encoding      %6.2f dB  level %6.2f dBFS\n", ideal, level);
    const struct {
        const char* name;
        Converter convert;
    } tools[] = {{"MediaConverter", ConvertWithEngine},
                 {"ffmpeg", ConvertWithFfmpeg},
                 {"sox", ConvertWithSox}};
    for (const fs::path& source : {toneWav, toneMp3}) {
        for (const auto& tool : tools) {
            const fs::path output = dir / (std::string(tool.name) + "_tone.wav");
            fs::remove(output);
            if (!tool.convert(source, output)) {
                std::printf("  %-4s %-15s conversion failed\n", source.extension().c_str() + 1,
                            tool.name);
                continue;
            }
            const double snr = OutputSnr(output, &level);
            // The ideal encoding of a tone at the level this output came out at.
            double unused = 0;
            const double idealHere = IdealSnr(std::pow(10.0, level / 20.0), &unused);
            std::printf("  %-4s %-15s %6.2f dB  level %6.2f dBFS  ideal there %6.2f dB (%+5.2f)\n",
                        source.extension().c_str() + 1, tool.name, snr, level, idealHere,
                        snr - idealHere);
        }
    }

    std::printf("\n4.3 kHz -6 dBFS tone: what folds to 3.7 kHz in the output\n");
    for (const fs::path& source : {aliasWav, aliasMp3}) {
        for (const auto& tool : tools) {
            const fs::path output = dir / (std::string(tool.name) + "_alias.wav");
            fs::remove(output);
            if (!tool.convert(source, output)) {
                std::printf("  %-4s %-15s conversion failed\n", source.extension().c_str() + 1,
                            tool.name);
                continue;
            }
            OutputSnr(output, &level, kAliasHz);
            // An output of silence codes decodes to exact zeros: nothing is left to fit.
            if (std::isfinite(level)) {
                std::printf("  %-4s %-15s alias %7.1f dBFS\n", source.extension().c_str() + 1,
                            tool.name, level);
            } else {
                std::printf("  %-4s %-15s alias    none (every code is silence)\n",
                            source.extension().c_str() + 1, tool.name);
            }
        }
        const fs::path output = dir / "MediaConverter16_alias.wav";
        fs::remove(output);
        if (ConvertWithEngine16(source, output)) {
            std::printf("  %-4s %-15s alias %7.1f dBFS (16-bit output, below mu-law's steps)\n",
                        source.extension().c_str() + 1, "MediaConverter",
                        std::max(Pcm16ToneLevel(output, kAliasHz), -150.0));
        }
    }
    fs::remove_all(dir);
    return 0;
}
