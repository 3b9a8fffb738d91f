// Quality and throughput of the transcoding chain (source -> 16-bit PCM -> 8000 Hz mono ->
// mu-law) driven packet by packet as the streaming engine drives it, next to the `ffmpeg`
// and `sox` command-line conversions of the same sources.
//
// Usage: codec_bench [minutes]   (length of the throughput file, default 10)

#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "codec/acm.h"
#include "codec/codecstage.h"
#include "codec/g711.h"
#include "codecmedia.h"
#include "mpegdecoder.h"

using namespace codecmedia;

namespace {

constexpr uint32_t kOutRate = 8000;
constexpr uint32_t kPacketMs = 20;

struct Source {
    std::string path;
    std::vector<uint8_t> format;  // the record the media reader builds
    std::vector<uint8_t> data;    // the bytes the reader hands out
    uint32_t chunk = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
};

// One of the chain's stages with buffers of its own.
class AcmStage {
public:
    AcmStage(const std::vector<uint8_t>& src, const std::vector<uint8_t>& dst) {
        ok = stage.Open(src.data(), uint32_t(src.size()), dst.data(), uint32_t(dst.size()));
    }
    void Prepare(uint32_t srcBytes, uint32_t dstBytes) {
        in.assign(srcBytes, 0);
        out.assign(dstBytes, 0);
        stage.Prepare(in.data(), srcBytes, out.data(), dstBytes);
    }
    CodecStage stage;
    std::vector<uint8_t> in;
    std::vector<uint8_t> out;
    bool ok = false;
};

// Runs the engine's three stages over a source; stage 1 may be replaced (to compare the MPEG
// decoders). Returns the mu-law payload bytes; `mono` (when given) receives the stage-2
// output.
std::vector<uint8_t> RunChain(const Source& s, CodecStream* stage1Override = nullptr,
                              std::vector<int16_t>* mono = nullptr) {
    std::vector<uint8_t> payload;
    const auto pcmA = Pcm16Format(s.channels, s.rate);
    const auto pcmB = Pcm16Format(1, kOutRate);
    const auto mulaw = Format(WAVE_FORMAT_MULAW, 1, kOutRate, 8);
    AcmStage decode(s.format, pcmA);
    AcmStage resample(pcmA, pcmB);
    AcmStage encode(pcmB, mulaw);
    if (!decode.ok || !resample.ok || !encode.ok) {
        std::fprintf(stderr, "a stage did not open for %s\n", s.path.c_str());
        return payload;
    }
    const uint32_t payloadBytes = kPacketMs * kOutRate / 1000;
    const uint32_t monoBytes = encode.stage.SourceNeeded(payloadBytes);
    const uint32_t packetPcmBytes = resample.stage.SourceNeeded(monoBytes);
    const uint32_t decodedMax = decode.stage.DestinationBound(s.chunk);
    decode.Prepare(s.chunk, decodedMax);
    resample.Prepare(packetPcmBytes, monoBytes);
    encode.Prepare(monoBytes, payloadBytes);
    std::vector<uint8_t> ring;  // decoded PCM, consumed from the front
    size_t ringHead = 0;
    size_t pos = 0;
    payload.reserve(s.data.size());
    for (;;) {
        while (ring.size() - ringHead <= packetPcmBytes) {
            if (pos + s.chunk > s.data.size()) {
                return payload;  // short read: the end of the source
            }
            uint32_t produced = 0;
            if (stage1Override != nullptr) {
                stage1Override->Process(s.data.data() + pos, s.chunk, false);
                produced = stage1Override->Output().Take(decode.out.data(), decodedMax);
            } else {
                std::memcpy(decode.in.data(), s.data.data() + pos, s.chunk);
                produced = decode.stage.Convert();
            }
            pos += s.chunk;
            ring.insert(ring.end(), decode.out.begin(), decode.out.begin() + produced);
        }
        std::memcpy(resample.in.data(), ring.data() + ringHead, packetPcmBytes);
        ringHead += packetPcmBytes;
        if (ringHead > (1u << 20)) {
            ring.erase(ring.begin(), ring.begin() + long(ringHead));
            ringHead = 0;
        }
        if (s.channels == 2) {
            for (uint32_t i = 0; i + 1 < packetPcmBytes; i += 2) {
                int16_t v;
                std::memcpy(&v, resample.in.data() + i, 2);
                v = static_cast<int16_t>(v / 2);
                std::memcpy(resample.in.data() + i, &v, 2);
            }
        }
        resample.stage.Convert();
        if (mono != nullptr) {
            const auto* m = reinterpret_cast<const int16_t*>(resample.out.data());
            mono->insert(mono->end(), m, m + monoBytes / 2);
        }
        std::memcpy(encode.in.data(), resample.out.data(), monoBytes);
        encode.stage.Convert();
        payload.insert(payload.end(), encode.out.begin(), encode.out.begin() + payloadBytes);
    }
}

std::vector<int16_t> DecodeMulaw(const std::vector<uint8_t>& codes) {
    std::vector<int16_t> out(codes.size());
    G711DecodeMulaw(codes.data(), out.data(), codes.size());
    return out;
}

Source WavSource(const std::string& path, uint32_t rate, uint16_t channels) {
    Source s;
    s.path = path;
    std::vector<uint8_t> fmt;
    ReadWav(path, fmt, s.data);
    s.format = fmt;
    s.channels = channels;
    s.rate = rate;
    s.chunk = 16u * channels * rate / 8;  // one second, as the reader sets it
    return s;
}

Source Mp3Source(const std::string& path, uint32_t rate, uint16_t channels, uint32_t kbps) {
    Source s;
    s.path = path;
    s.data = ReadFile(path);
    s.format = Mp3Format(channels, rate, kbps);
    s.channels = channels;
    s.rate = rate;
    s.chunk = 522;
    return s;
}

// mu-law output of an external converter, or empty.
std::vector<int16_t> External(const std::string& command, const std::string& out) {
    if (!RunQuiet(command)) {
        return {};
    }
    std::vector<uint8_t> fmt;
    std::vector<uint8_t> data;
    if (!ReadWav(out, fmt, data)) {
        return {};
    }
    return DecodeMulaw(data);
}

// SNR of an ideal mu-law encoding of the tone that was fitted: same level and phase.
double IdealSnr(const ToneFit& fit, size_t samples, double hz) {
    std::vector<int16_t> ideal =
        Tone(kOutRate, 1, double(samples) / kOutRate, hz, ToDbfs(fit.amplitude), fit.phase);
    std::vector<uint8_t> codes(ideal.size());
    G711EncodeMulaw(ideal.data(), codes.data(), ideal.size());
    return FitTone(DecodeMulaw(codes), kOutRate, hz, kOutRate / 2).snrDb;
}

// hz: where the tone lands in the output. Packets whose input stands off the rate ratio
// (11025 Hz in 20 ms packets, 220.5 frames fed as 221) are converted at their own ratio,
// which moves the tone by that fraction.
void Report(const char* who, const std::vector<int16_t>& tone, const std::vector<int16_t>& alias,
            const std::vector<int16_t>* aliasPcm = nullptr, double hz = 1020) {
    if (tone.empty()) {
        std::printf("    %-7s (not available)\n", who);
        return;
    }
    const ToneFit fit = FitTone(tone, kOutRate, hz, kOutRate / 2);
    const double ideal = IdealSnr(fit, tone.size(), hz);
    const double aliasHz = kOutRate - 4300.0 * hz / 1020;  // where 4.3 kHz would fold to
    const ToneFit al = FitTone(alias, kOutRate, aliasHz, kOutRate / 2);
    std::printf(
        "    %-7s SNR %6.2f dB (ideal %6.2f, %+5.2f)  level %6.2f dBFS  4.3 kHz alias %6.1f dBFS",
        who, fit.snrDb, ideal, fit.snrDb - ideal, ToDbfs(fit.amplitude),
        std::max(-150.0, ToDbfs(al.amplitude)));
    if (aliasPcm != nullptr) {
        const ToneFit pcm = FitTone(*aliasPcm, kOutRate, aliasHz, kOutRate / 2);
        std::printf(" (16-bit stage %6.1f dBFS)", ToDbfs(pcm.amplitude));
    }
    std::printf("\n");
}

double Seconds(const std::function<void()>& f) {
    const auto t0 = std::chrono::steady_clock::now();
    f();
    return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
    const double minutes = argc > 1 ? std::atof(argv[1]) : 10.0;
    TempDir dir;
    if (dir.Path().empty() || !HaveTool("lame")) {
        std::fprintf(stderr, "needs a temporary directory and lame\n");
        return 1;
    }
    const bool haveFfmpeg = HaveTool("ffmpeg");
    const bool haveSox = HaveTool("sox");

    // Ideal: the same tone computed at 8000 Hz and mu-law encoded once.
    {
        std::vector<int16_t> ideal = Tone(kOutRate, 1, 5.0, 1020, -6);
        std::vector<uint8_t> codes(ideal.size());
        G711EncodeMulaw(ideal.data(), codes.data(), ideal.size());
        const ToneFit fit = FitTone(DecodeMulaw(codes), kOutRate, 1020, kOutRate / 2);
        std::printf("Ideal mu-law encoding of a 1020 Hz -6 dBFS tone: SNR %.2f dB\n", fit.snrDb);
        std::printf(
            "(each row's ideal is the same encoding of the tone fitted to that output)\n\n");
    }

    struct Case {
        const char* name;
        uint32_t rate;
        uint16_t channels;
        bool mp3;
    };
    const Case cases[] = {{"44.1 kHz stereo WAV", 44100, 2, false},
                          {"128 kbit/s MP3 (44.1 kHz stereo)", 44100, 2, true},
                          {"11025 Hz mono WAV", 11025, 1, false}};
    for (const Case& c : cases) {
        std::printf("%s\n", c.name);
        std::vector<int16_t> results[3][2];  // [ours, ffmpeg, sox][tone, alias]
        std::vector<int16_t> aliasPcm;
        for (int which = 0; which < 2; ++which) {
            const double hz = which == 0 ? 1020 : 4300;
            const std::string wav = dir.File("src.wav");
            WritePcm16Wav(wav, c.rate, c.channels, Tone(c.rate, c.channels, 5.0, hz, -6));
            std::string input = wav;
            Source src;
            if (c.mp3) {
                input = dir.File("src.mp3");
                RunQuiet("lame --quiet -t --cbr -b 128 -m s '" + wav + "' '" + input + "'");
                src = Mp3Source(input, c.rate, c.channels, 128);
            } else {
                src = WavSource(wav, c.rate, c.channels);
            }
            std::vector<int16_t> mono;
            results[0][which] = DecodeMulaw(RunChain(src, nullptr, &mono));
            if (which == 1) {
                aliasPcm = mono;
            }
            const std::string out = dir.File("out.wav");
            if (haveFfmpeg) {
                results[1][which] = External("ffmpeg -nostdin -y -i '" + input +
                                                 "' -ar 8000 -ac 1 -c:a pcm_mulaw '" + out + "'",
                                             out);
            }
            if (haveSox) {
                results[2][which] =
                    External("sox '" + input + "' -r 8000 -c 1 -e u-law '" + out + "'", out);
            }
        }
        const uint64_t packetFrames = (uint64_t{c.rate} * kPacketMs + 999) / 1000;
        const double blockRatio =
            double(packetFrames) * kOutRate / (double(kPacketMs * kOutRate / 1000) * c.rate);
        Report("ours", results[0][0], results[0][1], &aliasPcm, 1020 * blockRatio);
        Report("ffmpeg", results[1][0], results[1][1]);
        Report("sox", results[2][0], results[2][1]);
        std::printf("\n");
    }

    // Throughput on a long 44.1 kHz stereo 128 kbit/s MP3.
    const std::string wav = dir.File("long.wav");
    const std::string mp3 = dir.File("long.mp3");
    {
        std::vector<int16_t> music = Tone(44100, 2, minutes * 60.0, 440, -12);
        const std::vector<int16_t> second = Tone(44100, 2, minutes * 60.0, 1975, -18, 0.5);
        for (size_t i = 0; i < music.size(); ++i) {
            music[i] = static_cast<int16_t>(music[i] + second[i] + ((i * 7919) % 97) - 48);
        }
        WritePcm16Wav(wav, 44100, 2, music);
    }
    if (!RunQuiet("lame --quiet -t --cbr -b 128 -m j '" + wav + "' '" + mp3 + "'")) {
        std::fprintf(stderr, "lame failed\n");
        return 1;
    }
    const Source longSrc = Mp3Source(mp3, 44100, 2, 128);
    const double audioSeconds = minutes * 60.0;
    std::printf("Throughput, %.0f min 44.1 kHz stereo 128 kbit/s MP3 -> 8000 Hz mu-law:\n",
                minutes);

    // The MPEG decoder alone.
    {
        MpegDecoder decoder(2, 44100);
        std::vector<uint8_t> buf(decoder.DstBoundFor(522));
        const double t = Seconds([&] {
            for (size_t pos = 0; pos + 522 <= longSrc.data.size(); pos += 522) {
                decoder.Process(longSrc.data.data() + pos, 522, false);
                decoder.Output().Take(buf.data(), uint32_t(buf.size()));
            }
        });
        std::printf("    decode only          %7.1f x real time\n", audioSeconds / t);
    }
    {
        size_t bytes = 0;
        const double t = Seconds([&] { bytes = RunChain(longSrc).size(); });
        std::printf("    whole chain, default %7.1f x real time (%zu payload bytes)\n",
                    audioSeconds / t, bytes);
    }
    if (haveFfmpeg) {
        const std::string out = dir.File("ff.wav");
        const double t = Seconds([&] {
            RunQuiet("ffmpeg -nostdin -y -i '" + mp3 + "' -ar 8000 -ac 1 -c:a pcm_mulaw '" + out +
                     "'");
        });
        std::printf("    ffmpeg command line  %7.1f x real time\n", audioSeconds / t);
    }
    if (haveSox) {
        const std::string out = dir.File("sx.wav");
        const double t =
            Seconds([&] { RunQuiet("sox '" + mp3 + "' -r 8000 -c 1 -e u-law '" + out + "'"); });
        std::printf("    sox command line     %7.1f x real time\n", audioSeconds / t);
    }
    return 0;
}
