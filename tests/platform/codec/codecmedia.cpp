#include "codecmedia.h"

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace codecmedia {

namespace {
using testsupport::PutU16;
using testsupport::PutU32;
}  // namespace

std::vector<int16_t> Tone(uint32_t rate, uint16_t channels, double seconds, double hz, double dbfs,
                          double phase) {
    const size_t frames = static_cast<size_t>(seconds * rate);
    const double amp = 32768.0 * std::pow(10.0, dbfs / 20.0);
    std::vector<int16_t> out(frames * channels);
    for (size_t i = 0; i < frames; ++i) {
        const double v = amp * std::sin(2.0 * M_PI * hz * double(i) / rate + phase);
        const auto s = static_cast<int16_t>(std::lrint(std::fmax(-32768.0, std::fmin(32767.0, v))));
        for (uint16_t c = 0; c < channels; ++c) {
            out[i * channels + c] = s;
        }
    }
    return out;
}

std::vector<uint8_t> Format(uint16_t tag, uint16_t channels, uint32_t rate, uint16_t bits,
                            uint16_t blockAlign, uint32_t avgBytes) {
    if (blockAlign == 0) {
        blockAlign = static_cast<uint16_t>(channels * bits / 8);
    }
    if (avgBytes == 0) {
        avgBytes = blockAlign * rate;
    }
    std::vector<uint8_t> f;
    PutU16(f, tag);
    PutU16(f, channels);
    PutU32(f, rate);
    PutU32(f, avgBytes);
    PutU16(f, blockAlign);
    PutU16(f, bits);
    PutU16(f, 0);
    return f;
}

std::vector<uint8_t> Pcm16Format(uint16_t channels, uint32_t rate) {
    return Format(WAVE_FORMAT_PCM, channels, rate, 16);
}

std::vector<uint8_t> Mp3Format(uint16_t channels, uint32_t rate, uint32_t kbps) {
    std::vector<uint8_t> f = Format(WAVE_FORMAT_MPEGLAYER3, channels, rate, 0, 1, kbps * 128);
    f[16] = 12;
    PutU16(f, MPEGLAYER3_ID_MPEG);
    PutU32(f, MPEGLAYER3_FLAG_PADDING_OFF);
    PutU16(f, 522);
    PutU16(f, 1);
    PutU16(f, 1393);
    return f;
}

bool WritePcm16Wav(const std::string& path, uint32_t rate, uint16_t channels,
                   const std::vector<int16_t>& samples) {
    std::vector<uint8_t> fmt = Pcm16Format(channels, rate);
    fmt.resize(16);
    std::vector<uint8_t> data(samples.size() * 2);
    std::memcpy(data.data(), samples.data(), data.size());
    return testsupport::WriteWave(path, fmt, data);
}

bool ReadWav(const std::string& path, std::vector<uint8_t>& fmt, std::vector<uint8_t>& data) {
    const std::vector<uint8_t> file = ReadFile(path);
    if (file.size() < 12 || std::memcmp(file.data(), "RIFF", 4) != 0 ||
        std::memcmp(file.data() + 8, "WAVE", 4) != 0) {
        return false;
    }
    size_t pos = 12;
    bool haveFmt = false;
    while (pos + 8 <= file.size()) {
        const uint32_t size = testsupport::GetU32(file, pos + 4);
        const size_t body = pos + 8;
        const size_t avail = std::min<size_t>(size, file.size() - body);
        if (std::memcmp(file.data() + pos, "fmt ", 4) == 0) {
            fmt.assign(file.begin() + long(body), file.begin() + long(body + avail));
            haveFmt = true;
        } else if (std::memcmp(file.data() + pos, "data", 4) == 0) {
            data.assign(file.begin() + long(body), file.begin() + long(body + avail));
            return haveFmt;
        }
        pos = body + size + (size & 1);
    }
    return false;
}

bool RunQuiet(const std::string& command) {
    const std::string quiet = command + " >/dev/null 2>&1";
    return std::system(quiet.c_str()) == 0;
}

bool HaveTool(const char* name) {
    return RunQuiet(std::string("command -v ") + name);
}

std::vector<int16_t> ToSamples(const std::vector<uint8_t>& bytes) {
    std::vector<int16_t> s(bytes.size() / 2);
    std::memcpy(s.data(), bytes.data(), s.size() * 2);
    return s;
}

std::vector<int16_t> Channel(const std::vector<int16_t>& interleaved, uint16_t channels,
                             uint16_t which) {
    std::vector<int16_t> out;
    out.reserve(interleaved.size() / channels);
    for (size_t i = which; i < interleaved.size(); i += channels) {
        out.push_back(interleaved[i]);
    }
    return out;
}

bool ConvertInChunks(const std::vector<uint8_t>& srcFormat, const std::vector<uint8_t>& dstFormat,
                     const std::vector<uint8_t>& data, uint32_t chunk, std::vector<uint8_t>& out,
                     bool* boundHeld, bool flushAtEnd) {
    HACMSTREAM stream = nullptr;
    if (acmStreamOpen(&stream, nullptr, srcFormat.data(), uint32_t(srcFormat.size()),
                      dstFormat.data(), uint32_t(dstFormat.size()), 0) != MMSYSERR_NOERROR) {
        return false;
    }
    uint32_t bound = 0;
    acmStreamSize(stream, chunk, &bound, ACM_STREAMSIZEF_SOURCE);
    std::vector<uint8_t> src(chunk);
    // Twice the bound, so that a call producing more than the bound shows it.
    std::vector<uint8_t> dst(size_t(bound) * 2 + 64);
    ACMSTREAMHEADER h{};
    h.cbStruct = ACMSTREAMHEADER_SIZE;
    h.pbSrc = src.data();
    h.cbSrcLength = chunk;
    h.pbDst = dst.data();
    h.cbDstLength = uint32_t(dst.size());
    acmStreamPrepareHeader(stream, &h, 0);
    if (boundHeld != nullptr) {
        *boundHeld = true;
    }
    for (size_t pos = 0; pos < data.size(); pos += chunk) {
        const size_t n = std::min<size_t>(chunk, data.size() - pos);
        std::memcpy(src.data(), data.data() + pos, n);
        h.cbSrcLength = uint32_t(n);
        const bool last = pos + chunk >= data.size();
        acmStreamConvert(
            stream, &h,
            ACM_STREAMCONVERTF_BLOCKALIGN | (flushAtEnd && last ? ACM_STREAMCONVERTF_END : 0));
        uint32_t callBound = 0;
        acmStreamSize(stream, uint32_t(n), &callBound, ACM_STREAMSIZEF_SOURCE);
        if (boundHeld != nullptr && h.cbDstLengthUsed > callBound) {
            *boundHeld = false;
        }
        out.insert(out.end(), dst.begin(), dst.begin() + h.cbDstLengthUsed);
    }
    h.cbSrcLength = chunk;
    acmStreamUnprepareHeader(stream, &h, 0);
    acmStreamClose(stream, 0);
    return true;
}

ToneFit FitTone(const std::vector<int16_t>& x, uint32_t rate, double hz, size_t skip) {
    ToneFit fit;
    if (x.size() <= 2 * skip + 16) {
        return fit;
    }
    // Normal equations for a*cos + b*sin + c.
    double m[3][4] = {};
    const size_t end = x.size() - skip;
    for (size_t i = skip; i < end; ++i) {
        const double w = 2.0 * M_PI * hz * double(i) / rate;
        const double basis[3] = {std::cos(w), std::sin(w), 1.0};
        for (int r = 0; r < 3; ++r) {
            for (int c = 0; c < 3; ++c) {
                m[r][c] += basis[r] * basis[c];
            }
            m[r][3] += basis[r] * x[i];
        }
    }
    for (int p = 0; p < 3; ++p) {
        for (int r = p + 1; r < 3; ++r) {
            const double f = m[r][p] / m[p][p];
            for (int c = p; c < 4; ++c) {
                m[r][c] -= f * m[p][c];
            }
        }
    }
    double coef[3];
    for (int r = 2; r >= 0; --r) {
        double s = m[r][3];
        for (int c = r + 1; c < 3; ++c) {
            s -= m[r][c] * coef[c];
        }
        coef[r] = s / m[r][r];
    }
    double signal = 0;
    double noise = 0;
    for (size_t i = skip; i < end; ++i) {
        const double w = 2.0 * M_PI * hz * double(i) / rate;
        const double tone = coef[0] * std::cos(w) + coef[1] * std::sin(w);
        const double e = x[i] - tone - coef[2];
        signal += tone * tone;
        noise += e * e;
    }
    fit.amplitude = std::hypot(coef[0], coef[1]);
    fit.phase = std::atan2(coef[0], coef[1]);
    fit.snrDb = 10.0 * std::log10(signal / std::max(noise, 1e-9));
    return fit;
}

double ToDbfs(double amplitude) {
    return 20.0 * std::log10(std::max(amplitude, 1e-9) / 32768.0);
}

namespace {
double CorrelationAt(const std::vector<int16_t>& a, const std::vector<int16_t>& b, long lag,
                     size_t from, size_t to) {
    double ab = 0, aa = 0, bb = 0;
    for (size_t i = from; i < to; ++i) {
        const long j = long(i) + lag;
        if (j < 0 || j >= long(b.size())) {
            continue;
        }
        ab += double(a[i]) * b[size_t(j)];
        aa += double(a[i]) * a[i];
        bb += double(b[size_t(j)]) * b[size_t(j)];
    }
    return (aa > 0 && bb > 0) ? ab / std::sqrt(aa * bb) : 0.0;
}
}  // namespace

double BestCorrelation(const std::vector<int16_t>& a, const std::vector<int16_t>& b, int maxLag,
                       int* bestLag) {
    // The lag is found on a window from the middle, then the whole signal is correlated.
    const size_t window = std::min<size_t>(a.size(), 4096);
    const size_t from = (a.size() - window) / 2;
    double best = -2.0;
    long lagFound = 0;
    for (long lag = -maxLag; lag <= maxLag; ++lag) {
        const double r = CorrelationAt(a, b, lag, from, from + window);
        if (r > best) {
            best = r;
            lagFound = lag;
        }
    }
    if (bestLag != nullptr) {
        *bestLag = int(lagFound);
    }
    return CorrelationAt(a, b, lagFound, 0, a.size());
}

double Rms(const std::vector<int16_t>& x, size_t from, size_t to) {
    to = std::min(to, x.size());
    if (from >= to) {
        return 0;
    }
    double s = 0;
    for (size_t i = from; i < to; ++i) {
        s += double(x[i]) * x[i];
    }
    return std::sqrt(s / double(to - from));
}

}  // namespace codecmedia
