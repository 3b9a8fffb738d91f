#include "codec/liveresampler.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "channelmix.h"
#include "minimumphase.h"

namespace {
constexpr unsigned kMinRate = 8000;
constexpr unsigned kMaxRate = 192000;
// The lowpass, in units of the lower of the two rates' sample periods: a Kaiser-windowed sinc
// of kUnits periods cut off at kCutoff of that rate (3.8 kHz for 8 kHz), tabled at kPhases
// points per period. It passes 3.4 kHz within 0.01 dB and holds what would alias back below
// 3.5 kHz more than 80 dB down. Its minimum-phase twin delays 0 to 1 kHz by 2.4 periods
// (0.30 to 0.32 ms at 8 kHz), 3 kHz by 0.65 ms and 3.4 kHz by 1 ms; the linear-phase one
// would delay all of them by 4 ms.
constexpr unsigned kUnits = 64;
constexpr unsigned kPhases = 128;
constexpr double kCutoff = 0.475;
constexpr double kBeta = 7.5;
constexpr size_t kFftSize = 65536;  // eight times the table: little cepstral aliasing
// Phases per input frame at least, whatever the ratio.
constexpr size_t kMinPhases = 16;
// The ends of the trim range, for the output a piece can give.
constexpr double kBoundTrimPpm = LiveResampler::kMaxTrimPpm + 1.0;
// Output samples a piece can give beyond its share at the fastest ratio: rounding.
constexpr size_t kBoundSlack = 2;

struct Lowpass {
    std::vector<float> table;  // kUnits * kPhases + 2 points, the last zero
    double delayUnits = 0.0;   // its group delay at low frequencies
};

Lowpass DesignLowpass() {
    const size_t length = size_t{kUnits} * kPhases + 1;
    std::vector<double> linear(length);
    const double bessel = std::cyl_bessel_i(0.0, kBeta);
    for (size_t i = 0; i < length; ++i) {
        const double u = static_cast<double>(i) / kPhases;
        const double x = 2.0 * u / kUnits - 1.0;
        const double window = std::cyl_bessel_i(0.0, kBeta * std::sqrt(std::max(0.0, 1.0 - x * x)));
        const double arg = 2.0 * M_PI * kCutoff * (u - kUnits / 2.0);
        linear[i] = 2.0 * kCutoff * (arg == 0.0 ? 1.0 : std::sin(arg) / arg) * window / bessel;
    }
    const std::vector<double> minimum = MinimumPhase(linear, kFftSize);
    double sum = 0.0;
    double moment = 0.0;
    for (size_t i = 0; i < minimum.size(); ++i) {
        sum += minimum[i];
        moment += static_cast<double>(i) * minimum[i];
    }
    Lowpass lowpass;
    lowpass.table.assign(length + 1, 0.0F);
    for (size_t i = 0; i < minimum.size(); ++i) {
        // A unit sum over one period's spacing: unity gain at 0 Hz.
        lowpass.table[i] = static_cast<float>(minimum[i] * kPhases / sum);
    }
    lowpass.delayUnits = moment / sum / kPhases;
    return lowpass;
}

const Lowpass& SharedLowpass() {
    static const Lowpass lowpass = DesignLowpass();
    return lowpass;
}
}  // namespace

bool LiveResampler::Open(unsigned inRate, unsigned channels, unsigned outRate) {
    Close();
    if (inRate < kMinRate || inRate > kMaxRate || outRate < kMinRate || outRate > kMaxRate ||
        channels < 1 || channels > kMaxWaveChannels) {
        return false;
    }
    const Lowpass& lowpass = SharedLowpass();
    m_inRate = inRate;
    m_channels = channels;
    m_outRate = outRate;
    m_scale = static_cast<double>(std::min(inRate, outRate)) / inRate;
    m_taps = static_cast<size_t>(std::ceil(kUnits / m_scale)) + 1;
    m_delay = lowpass.delayUnits / m_scale;
    m_trimPpm = 0.0;
    m_step = static_cast<double>(inRate) / outRate;
    m_maxChunk = size_t{inRate} * kMaxBlockMs / 1000;
    // Silence before the first frame, which the first output samples are taken over.
    m_history.assign(m_taps + m_maxChunk, 0.0F);
    m_historyCount = m_taps;
    m_next = static_cast<double>(m_taps) + m_delay;
    m_held.assign(2 * ChunkBound(m_maxChunk), 0);
    m_heldCount = 0;
    // The filter at kPhases points per period of the lower rate, whatever the input rate: a
    // row per phase of an input frame, its taps oldest first, so that a sample is two dot
    // products with the history and a blend of them.
    m_phases = std::max<size_t>(kMinPhases, static_cast<size_t>(std::ceil(kPhases * m_scale)));
    m_bank.assign((m_phases + 1) * m_taps, 0.0F);
    const double end = static_cast<double>(kUnits) * kPhases;
    for (size_t p = 0; p <= m_phases; ++p) {
        float* row = &m_bank[p * m_taps];
        for (size_t k = 0; k < m_taps; ++k) {
            const double frames = static_cast<double>(p) / static_cast<double>(m_phases) +
                                  static_cast<double>(m_taps - 1 - k);
            const double at = frames * m_scale * kPhases;
            if (at < end) {
                const auto i = static_cast<size_t>(at);
                const double a = at - static_cast<double>(i);
                const double h = lowpass.table[i] + a * (lowpass.table[i + 1] - lowpass.table[i]);
                row[k] = static_cast<float>(h * m_scale);
            }
        }
    }
    m_open = true;
    return true;
}

void LiveResampler::Close() {
    m_open = false;
    m_trimPpm = 0.0;
    m_heldCount = 0;
}

void LiveResampler::SetTrimPpm(double ppm) {
    if (!IsOpen() || std::isnan(ppm)) {
        return;
    }
    ppm = std::clamp(ppm, -kMaxTrimPpm, kMaxTrimPpm);
    if (std::fabs(ppm - m_trimPpm) < kMinTrimStepPpm) {
        return;
    }
    // Only the step changes: the next sample is taken where the last step put it, so the
    // output goes on from where it was, at the new rate.
    m_trimPpm = ppm;
    m_step = static_cast<double>(m_inRate) / (static_cast<double>(m_outRate) * (1.0 + ppm * 1e-6));
}

int64_t LiveResampler::DelayNs() const {
    if (!IsOpen()) {
        return 0;
    }
    return std::llround(m_delay * 1e9 / m_inRate);
}

size_t LiveResampler::ChunkBound(size_t frames) const {
    const double most = static_cast<double>(frames) * static_cast<double>(m_outRate) *
                        (1.0 + kBoundTrimPpm * 1e-6) / static_cast<double>(m_inRate);
    return static_cast<size_t>(std::ceil(most)) + kBoundSlack;
}

size_t LiveResampler::OutputBound(size_t frames) const {
    if (frames == 0) {
        return m_heldCount;
    }
    if (!IsOpen()) {
        return 0;
    }
    const size_t pieces = (frames + m_maxChunk - 1) / m_maxChunk;
    return m_heldCount + ChunkBound(frames) + pieces * kBoundSlack;
}

size_t LiveResampler::Process(const int16_t* in, size_t frames, int16_t* out, size_t outCapacity) {
    if (!IsOpen()) {
        return 0;
    }
    size_t written = 0;
    while (frames > 0) {
        const size_t piece = std::min(frames, m_maxChunk);
        Convert(in, piece);
        written += Drain(out + written, outCapacity - written);
        in += piece * m_channels;
        frames -= piece;
    }
    return written + Drain(out + written, outCapacity - written);
}

void LiveResampler::Convert(const int16_t* in, size_t frames) {
    int32_t frame[kMaxWaveChannels];
    int16_t mono = 0;
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* p = in + f * m_channels;
        for (unsigned c = 0; c < m_channels; ++c) {
            frame[c] = p[c];
        }
        MixFrame(frame, m_channels, &mono, 1);
        m_history[m_historyCount++] = mono;
    }
    MakeRoom(ChunkBound(frames) + kBoundSlack);
    // A sample is taken once the frame it falls on has come: the filter is causal.
    while (m_next < static_cast<double>(m_historyCount)) {
        MakeRoom(1);
        m_held[m_heldCount++] = Sample(m_next);
        m_next += m_step;
    }
    // Keep the frames the next samples reach back to.
    const size_t drop = m_historyCount - m_taps;
    std::memmove(m_history.data(), m_history.data() + drop, m_taps * sizeof(float));
    m_historyCount = m_taps;
    m_next -= static_cast<double>(drop);
}

int16_t LiveResampler::Sample(double position) const {
    // The rows on either side of the position's phase, over the frames it reaches back to,
    // blended by where the phase falls between them. Eight sums at once, so that the compiler
    // may keep them in vector registers.
    const auto last = static_cast<size_t>(position);
    const double phase = (position - static_cast<double>(last)) * static_cast<double>(m_phases);
    const auto p = std::min(static_cast<size_t>(phase), m_phases - 1);
    const auto blend = static_cast<float>(phase - static_cast<double>(p));
    const float* x = &m_history[last + 1 - m_taps];
    const float* lo = &m_bank[p * m_taps];
    const float* hi = lo + m_taps;
    float sums[8] = {};
    size_t k = 0;
    for (; k + 8 <= m_taps; k += 8) {
        for (size_t i = 0; i < 8; ++i) {
            sums[i] += (lo[k + i] + blend * (hi[k + i] - lo[k + i])) * x[k + i];
        }
    }
    for (; k < m_taps; ++k) {
        sums[0] += (lo[k] + blend * (hi[k] - lo[k])) * x[k];
    }
    float sum = 0.0F;
    for (const float v : sums) {
        sum += v;
    }
    return ClampS16(static_cast<int32_t>(std::lround(sum)));
}

void LiveResampler::MakeRoom(size_t samples) {
    // Output the caller left unread goes first, the oldest of it, when there is no room.
    const size_t room = m_held.size() - m_heldCount;
    if (room >= samples) {
        return;
    }
    const size_t drop = std::min(m_heldCount, samples - room);
    std::memmove(m_held.data(), m_held.data() + drop, (m_heldCount - drop) * sizeof(int16_t));
    m_heldCount -= drop;
}

size_t LiveResampler::Drain(int16_t* out, size_t capacity) {
    const size_t n = std::min(m_heldCount, capacity);
    if (n == 0) {
        return 0;
    }
    std::memcpy(out, m_held.data(), n * sizeof(int16_t));
    m_heldCount -= n;
    std::memmove(m_held.data(), m_held.data() + n, m_heldCount * sizeof(int16_t));
    return n;
}
