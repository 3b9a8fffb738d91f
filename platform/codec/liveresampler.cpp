#include "codec/liveresampler.h"

#include <speex/speex_resampler.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numeric>

#include "channelmix.h"

namespace {
// The library's quality 2 (its voice setting is 3): a filter half as long again delays a
// page by 1 ms more, and this one still rejects aliases by more than 60 dB.
constexpr int kQuality = 2;
constexpr unsigned kMinRate = 8000;
constexpr unsigned kMaxRate = 192000;
// When the ratio changes, libspeexdsp multiplies the filter phase (below the old denominator)
// by the new denominator in 32 bits and divides by the old one, after reducing the fraction.
// Two denominators below 2^16 never overflow it, and from one of 2^15 or more the phase
// carries over to within 2^-15 of a frame (4 ns at 8 kHz). Every trimmed ratio is therefore a
// fraction in lowest terms over a denominator in that range. Until the first trim the
// untrimmed ratio runs in lowest terms, when its denominator is below 2^16 too.
constexpr uint32_t kMinDen = 32768;
constexpr uint32_t kMaxDen = 65535;
// How far the input consumed may run ahead of or behind the trimmed ratio before the other
// enclosing fraction takes over, in seconds of input. The output's timing wanders by as much:
// at 3.4 kHz an error 67 dB below the tone. Each change of fraction recomputes the filter,
// about the work of converting 10 ms at 48 kHz. The two fractions usually change places after
// seconds; around a ratio of small integers (the untrimmed one) they lie up to 15 ppm apart
// and change places up to every 5 ms at 8 kHz (every 30 ms at 48 kHz).
constexpr double kSlipSeconds = 20e-9;
// The ends of the trim range plus the spacing of the fractions that enclose a trimmed ratio.
constexpr double kBoundTrimPpm = LiveResampler::kMaxTrimPpm + 20.0;
// Output samples a piece can give beyond its share at the fastest ratio: the filter phase's
// rounding, and the input libspeexdsp keeps back when a change of ratio shortens the filter.
constexpr size_t kBoundSlack = 8;
}  // namespace

void LiveResampler::Bracket(double x, Ratio& below, Ratio& above) {
    // The Stern-Brocot walk toward x, each run of steps to one side taken at once, ends at
    // the neighbours in the Farey sequence of kMaxDen that enclose it: a/b <= x < c/d.
    uint64_t a = 0;
    uint64_t b = 1;
    uint64_t c = 1;
    uint64_t d = 0;
    while (b + d <= kMaxDen) {
        const double under = x * static_cast<double>(b) - static_cast<double>(a);
        const double over = static_cast<double>(c) - x * static_cast<double>(d);
        if (over <= 0.0 || under >= over) {
            const uint64_t most = d == 0 ? UINT32_MAX : (kMaxDen - b) / d;
            const double steps = over <= 0.0 ? 1e18 : std::max(1.0, std::floor(under / over));
            const uint64_t k = std::min(most, static_cast<uint64_t>(std::min(steps, 1e18)));
            a += k * c;
            b += k * d;
        } else {
            const uint64_t most = (kMaxDen - d) / b;
            const double steps = under <= 0.0 ? 1e18 : std::max(1.0, std::floor(over / under));
            const uint64_t k = std::min(most, static_cast<uint64_t>(std::min(steps, 1e18)));
            c += k * a;
            d += k * b;
        }
    }
    below = {static_cast<uint32_t>(a), static_cast<uint32_t>(b)};
    above = {static_cast<uint32_t>(c), static_cast<uint32_t>(d)};
    // Near a ratio of small integers one neighbour is that ratio; the next fraction beyond it
    // has a denominator above kMaxDen less the small one, so at least kMinDen.
    const Ratio nearBelow = below;
    if (below.den < kMinDen) {
        below = Beyond(below, above);
    }
    if (above.den < kMinDen) {
        above = Beyond(above, nearBelow);
    }
}

LiveResampler::Ratio LiveResampler::Beyond(const Ratio& near, const Ratio& far) {
    // The fraction next to `near` in the Farey sequence of kMaxDen, on the side away from
    // its neighbour `far`.
    const uint32_t m = (kMaxDen + far.den) / near.den;
    return {m * near.num - far.num, m * near.den - far.den};
}

double LiveResampler::RatioFor(double ppm) const {
    return static_cast<double>(m_inRate) / (static_cast<double>(m_outRate) * (1.0 + ppm * 1e-6));
}

bool LiveResampler::Open(unsigned inRate, unsigned channels, unsigned outRate) {
    Close();
    if (inRate < kMinRate || inRate > kMaxRate || outRate < kMinRate || outRate > kMaxRate ||
        channels < 1 || channels > kMaxWaveChannels) {
        return false;
    }
    m_inRate = inRate;
    m_channels = channels;
    m_outRate = outRate;
    m_slipLimit = kSlipSeconds * inRate;
    Target(0.0);
    const unsigned common = std::gcd(inRate, outRate);
    if (outRate / common <= kMaxDen) {
        m_below = {inRate / common, outRate / common};
        m_above = m_below;
    }
    if (!SizeFilter(m_runAbove ? m_above : m_below)) {
        Close();
        return false;
    }
    m_maxChunk = size_t{inRate} * kMaxBlockMs / 1000;
    m_mixed.assign(channels > 1 ? m_maxChunk : 0, 0);
    m_held.assign(2 * ChunkBound(m_maxChunk), 0);
    return true;
}

bool LiveResampler::SizeFilter(const Ratio& start) {
    // libspeexdsp grows its filter and history when a ratio needs a longer filter than it
    // has. Setting both ends of the trim range before the stream starts sizes them for every
    // ratio within it, so that no later change of ratio allocates.
    Ratio fastest;
    Ratio unused;
    Bracket(RatioFor(kBoundTrimPpm), fastest, unused);
    Ratio slowest;
    Bracket(RatioFor(-kBoundTrimPpm), unused, slowest);
    int error = RESAMPLER_ERR_SUCCESS;
    m_state = speex_resampler_init_frac(1, fastest.num, fastest.den, m_inRate, m_outRate, kQuality,
                                        &error);
    if (m_state == nullptr || error != RESAMPLER_ERR_SUCCESS || !Apply(slowest) || !Apply(start)) {
        return false;
    }
    // The first output sample then stands for the first input frame instead of following
    // half a filter of zeros.
    return speex_resampler_skip_zeros(m_state) == RESAMPLER_ERR_SUCCESS;
}

void LiveResampler::Close() {
    if (m_state != nullptr) {
        speex_resampler_destroy(m_state);
        m_state = nullptr;
    }
    m_trimPpm = 0.0;
    m_slip = 0.0;
    m_heldCount = 0;
}

void LiveResampler::Target(double ppm) {
    m_trimPpm = ppm;
    m_target = RatioFor(ppm);
    m_slip = 0.0;
    Bracket(m_target, m_below, m_above);
    m_runAbove = m_above.Value() - m_target < m_target - m_below.Value();
}

bool LiveResampler::Apply(const Ratio& ratio) {
    return speex_resampler_set_rate_frac(m_state, ratio.num, ratio.den, m_inRate, m_outRate) ==
           RESAMPLER_ERR_SUCCESS;
}

void LiveResampler::SetTrimPpm(double ppm) {
    if (!IsOpen() || std::isnan(ppm)) {
        return;
    }
    ppm = std::clamp(ppm, -kMaxTrimPpm, kMaxTrimPpm);
    if (std::fabs(ppm - m_trimPpm) < kMinTrimStepPpm) {
        return;
    }
    // libspeexdsp carries the filter phase over to the new ratio, so the output goes on from
    // where it was, at the new rate.
    Target(ppm);
    Apply(m_runAbove ? m_above : m_below);
}

int64_t LiveResampler::DelayNs() const {
    if (!IsOpen()) {
        return 0;
    }
    const int frames = speex_resampler_get_input_latency(m_state);
    return int64_t{frames} * 1'000'000'000 / int64_t{m_inRate};
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
    return m_heldCount + ChunkBound(frames) + pieces * (kBoundSlack + 1);
}

size_t LiveResampler::Process(const int16_t* in, size_t frames, int16_t* out, size_t outCapacity) {
    if (!IsOpen()) {
        return 0;
    }
    size_t written = 0;
    while (frames > 0) {
        const size_t piece = std::min(frames, m_maxChunk);
        Convert(Mix(in, piece), piece);
        written += Drain(out + written, outCapacity - written);
        in += piece * m_channels;
        frames -= piece;
    }
    return written + Drain(out + written, outCapacity - written);
}

const int16_t* LiveResampler::Mix(const int16_t* in, size_t frames) {
    if (m_channels == 1) {
        return in;
    }
    int32_t frame[kMaxWaveChannels];
    for (size_t f = 0; f < frames; ++f) {
        const int16_t* p = in + f * m_channels;
        for (unsigned c = 0; c < m_channels; ++c) {
            frame[c] = p[c];
        }
        MixFrame(frame, m_channels, &m_mixed[f], 1);
    }
    return m_mixed.data();
}

void LiveResampler::Convert(const int16_t* mono, size_t frames) {
    // libspeexdsp takes all the input when the output has room for its worth; it stops
    // early only where the running fraction is to give way to the other one.
    while (frames > 0) {
        MakeRoom(ChunkBound(frames));
        auto inLen = static_cast<spx_uint32_t>(frames);
        auto outLen =
            static_cast<spx_uint32_t>(std::min(m_held.size() - m_heldCount, OutputUntilTurn()));
        if (speex_resampler_process_int(m_state, 0, mono, &inLen, m_held.data() + m_heldCount,
                                        &outLen) != RESAMPLER_ERR_SUCCESS ||
            (inLen == 0 && outLen == 0)) {
            return;
        }
        m_heldCount += outLen;
        mono += inLen;
        frames -= inLen;
        Steer(outLen);
    }
}

size_t LiveResampler::OutputUntilTurn() const {
    // Each output sample consumes the running fraction's worth of input: the samples after
    // which the total has run just past the trimmed ratio's by the slip allowed.
    if (m_below.num == m_above.num && m_below.den == m_above.den) {
        return UINT32_MAX;
    }
    const double perSample = (m_runAbove ? m_above : m_below).Value() - m_target;
    const double samples = ((m_runAbove ? m_slipLimit : -m_slipLimit) - m_slip) / perSample;
    // A fraction that moves away from its turn lies on the trimmed ratio but for rounding.
    if (!(samples >= 0.0) || samples >= static_cast<double>(UINT32_MAX)) {
        return UINT32_MAX;
    }
    return static_cast<size_t>(std::max(0.0, std::floor(samples))) + 1;
}

void LiveResampler::Steer(size_t produced) {
    // The exact untrimmed ratio: nothing to steer.
    if (m_below.num == m_above.num && m_below.den == m_above.den) {
        return;
    }
    const Ratio& running = m_runAbove ? m_above : m_below;
    m_slip += static_cast<double>(produced) * (running.Value() - m_target);
    if (m_runAbove ? m_slip > m_slipLimit : m_slip < -m_slipLimit) {
        m_runAbove = !m_runAbove;
        Apply(m_runAbove ? m_above : m_below);
    }
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
