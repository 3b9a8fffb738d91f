#include "avsamples.h"

#include <algorithm>
#include <cmath>
#include <cstring>

#include "channelmix.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

extern "C" {
#include <libavutil/frame.h>
#include <libavutil/samplefmt.h>
}

namespace {

int32_t ReadSample(const AVFrame* f, AVSampleFormat fmt, int ch, int channels, int i) {
    const bool planar = av_sample_fmt_is_planar(fmt) != 0;
    const uint8_t* base = planar ? f->extended_data[ch] : f->extended_data[0];
    const int index = planar ? i : i * channels + ch;
    switch (av_get_packed_sample_fmt(fmt)) {
        case AV_SAMPLE_FMT_U8:
            return (base[index] - 128) * 256;
        case AV_SAMPLE_FMT_S16: {
            int16_t v;
            std::memcpy(&v, base + 2 * index, 2);
            return v;
        }
        case AV_SAMPLE_FMT_S32: {
            int32_t v;
            std::memcpy(&v, base + 4 * index, 4);
            return static_cast<int32_t>((static_cast<int64_t>(v) + 32768) >> 16);
        }
        case AV_SAMPLE_FMT_FLT: {
            float v;
            std::memcpy(&v, base + 4 * index, 4);
            const float s = std::nearbyint(v * 32768.0f);
            return s != s ? 0
                          : (s > 32767.0f ? 32767
                                          : (s < -32768.0f ? -32768 : static_cast<int32_t>(s)));
        }
        case AV_SAMPLE_FMT_DBL: {
            double v;
            std::memcpy(&v, base + 8 * index, 8);
            const double s = std::nearbyint(v * 32768.0);
            return s != s
                       ? 0
                       : (s > 32767.0 ? 32767 : (s < -32768.0 ? -32768 : static_cast<int32_t>(s)));
        }
        default:
            return 0;
    }
}

// Float sample to 16 bits as ReadSample does it (scaled by 32768, rounded to nearest even,
// clipped, NaN as 0), written so that the compiler can vectorise the loops that use it.
inline int16_t FloatToS16(float v) {
    float s = v * 32768.0f;
    s = s == s ? s : 0.0f;
    s = s > 32767.0f ? 32767.0f : s;
    s = s < -32768.0f ? -32768.0f : s;
    // Adding and taking away 1.5 * 2^23 rounds to the nearest integer, ties to even, for
    // every value in the clipped range.
    constexpr float kRound = 12582912.0f;
    return static_cast<int16_t>(static_cast<int32_t>((s + kRound) - kRound));
}

// The decoders' planar formats with the stream's channel count: interleave, converting
// float on the way. One frame per decoded MPEG frame, so this runs per 1152 samples.
void InterleavePlanarS16(const AVFrame* f, int channels, int first, int n, int16_t* dst) {
    if (channels == 2) {
        const auto* l = reinterpret_cast<const int16_t*>(f->extended_data[0]) + first;
        const auto* r = reinterpret_cast<const int16_t*>(f->extended_data[1]) + first;
        for (int i = 0; i < n; ++i) {
            dst[2 * i] = l[i];
            dst[2 * i + 1] = r[i];
        }
        return;
    }
    for (int c = 0; c < channels; ++c) {
        const auto* src = reinterpret_cast<const int16_t*>(f->extended_data[c]) + first;
        for (int i = 0; i < n; ++i) {
            dst[i * channels + c] = src[i];
        }
    }
}

#if defined(__SSE2__)
// FloatToS16 on four samples: NaN masked to 0, clipped, converted with the current rounding
// mode (to nearest, ties to even, as FloatToS16's addition rounds).
inline __m128i FloatToS32x4(__m128 v) {
    __m128 s = _mm_mul_ps(v, _mm_set1_ps(32768.0f));
    s = _mm_and_ps(s, _mm_cmpeq_ps(s, s));
    s = _mm_max_ps(_mm_min_ps(s, _mm_set1_ps(32767.0f)), _mm_set1_ps(-32768.0f));
    return _mm_cvtps_epi32(s);
}

// Eight frames of two planes into sixteen interleaved samples; returns the frames done.
int InterleaveStereoFloatSse2(const float* l, const float* r, int n, int16_t* dst) {
    int i = 0;
    for (; i + 8 <= n; i += 8) {
        // In range after clipping, so the saturating packs are exact.
        const __m128i left = _mm_packs_epi32(FloatToS32x4(_mm_loadu_ps(l + i)),
                                             FloatToS32x4(_mm_loadu_ps(l + i + 4)));
        const __m128i right = _mm_packs_epi32(FloatToS32x4(_mm_loadu_ps(r + i)),
                                              FloatToS32x4(_mm_loadu_ps(r + i + 4)));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i), _mm_unpacklo_epi16(left, right));
        _mm_storeu_si128(reinterpret_cast<__m128i*>(dst + 2 * i + 8),
                         _mm_unpackhi_epi16(left, right));
    }
    return i;
}
#endif

void InterleavePlanarFloat(const AVFrame* f, int channels, int first, int n, int16_t* dst) {
    if (channels == 2) {
        const auto* l = reinterpret_cast<const float*>(f->extended_data[0]) + first;
        const auto* r = reinterpret_cast<const float*>(f->extended_data[1]) + first;
        int i = 0;
#if defined(__SSE2__)
        // The MPEG decoder's usual output, converted four samples at a time.
        i = InterleaveStereoFloatSse2(l, r, n, dst);
#endif
        for (; i < n; ++i) {
            dst[2 * i] = FloatToS16(l[i]);
            dst[2 * i + 1] = FloatToS16(r[i]);
        }
        return;
    }
    for (int c = 0; c < channels; ++c) {
        const auto* src = reinterpret_cast<const float*>(f->extended_data[c]) + first;
        for (int i = 0; i < n; ++i) {
            dst[i * channels + c] = FloatToS16(src[i]);
        }
    }
}

}  // namespace

bool AppendFrameS16(const AVFrame* frame, uint16_t channels, OutputQueue& out, int first,
                    int count) {
    const auto fmt = static_cast<AVSampleFormat>(frame->format);
    const AVSampleFormat packed = av_get_packed_sample_fmt(fmt);
    if (packed != AV_SAMPLE_FMT_U8 && packed != AV_SAMPLE_FMT_S16 && packed != AV_SAMPLE_FMT_S32 &&
        packed != AV_SAMPLE_FMT_FLT && packed != AV_SAMPLE_FMT_DBL) {
        return false;
    }
    const int inCh = frame->ch_layout.nb_channels;
    if (inCh <= 0 || inCh > kMaxWaveChannels) {
        return false;
    }
    first = std::clamp(first, 0, std::max(frame->nb_samples, 0));
    const int n = std::clamp(count, 0, std::max(frame->nb_samples, 0) - first);
    if (n == 0) {
        return true;
    }
    const size_t bytes = size_t(n) * channels * 2;
    uint8_t* p = out.Extend(bytes);
    auto* dst = reinterpret_cast<int16_t*>(p);
    if (packed == AV_SAMPLE_FMT_S16 && !av_sample_fmt_is_planar(fmt) && inCh == channels) {
        std::memcpy(p, frame->extended_data[0] + size_t(first) * 2 * size_t(inCh), bytes);
    } else if (fmt == AV_SAMPLE_FMT_S16P && inCh == channels) {
        InterleavePlanarS16(frame, inCh, first, n, dst);
    } else if (fmt == AV_SAMPLE_FMT_FLTP && inCh == channels) {
        InterleavePlanarFloat(frame, inCh, first, n, dst);
    } else {
        // Another channel count than the stream's (an MPEG stream that changes its mode)
        // is mixed by the codec services' one rule.
        int32_t samples[kMaxWaveChannels];
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < inCh; ++c) {
                samples[c] = ReadSample(frame, fmt, c, inCh, first + i);
            }
            MixFrame(samples, static_cast<uint32_t>(inCh), dst + size_t(i) * channels, channels);
        }
    }
    out.Commit(bytes);
    return true;
}
