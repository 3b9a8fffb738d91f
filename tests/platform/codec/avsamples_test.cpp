#include "avsamples.h"

#include <gtest/gtest.h>

#include <cmath>
#include <limits>
#include <memory>
#include <vector>

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/frame.h>
}

namespace {

struct FrameDeleter {
    void operator()(AVFrame* f) const { av_frame_free(&f); }
};
using FramePtr = std::unique_ptr<AVFrame, FrameDeleter>;

FramePtr MakeFrame(AVSampleFormat fmt, int channels, int samples) {
    FramePtr f(av_frame_alloc());
    f->format = fmt;
    f->nb_samples = samples;
    av_channel_layout_default(&f->ch_layout, channels);
    if (av_frame_get_buffer(f.get(), 0) < 0) {
        return nullptr;
    }
    return f;
}

std::vector<int16_t> Take(OutputQueue& q) {
    std::vector<int16_t> v(q.Size() / 2);
    q.Take(reinterpret_cast<uint8_t*>(v.data()), static_cast<uint32_t>(v.size() * 2));
    return v;
}

// Rounding ties to even, clipping at both ends and NaN, on every channel position.
TEST(AvSamples, PlanarFloatRoundsClipsAndInterleaves) {
    const float step = 1.0f / 32768.0f;
    const std::vector<float> in = {0.5f * step,  1.5f * step,   2.5f * step, -0.5f * step,
                                   -1.5f * step, 1.0f,          2.0f,        -1.0f,
                                   -3.0f,        std::nanf(""), 0.25f,       -0.25f};
    const std::vector<int16_t> want = {0,     2,      2,      0, -2,   32767,
                                       32767, -32768, -32768, 0, 8192, -8192};
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        const int n = static_cast<int>(in.size());
        FramePtr f = MakeFrame(AV_SAMPLE_FMT_FLTP, channels, n);
        ASSERT_NE(f, nullptr);
        for (int c = 0; c < channels; ++c) {
            auto* p = reinterpret_cast<float*>(f->extended_data[c]);
            for (int i = 0; i < n; ++i) {
                // Each channel shifted so a swapped channel shows; by five, so that every
                // case meets the eight-sample stereo path as well as the one-by-one path.
                p[i] = in[static_cast<size_t>((i + 5 * c) % n)];
            }
        }
        OutputQueue q;
        q.SetBlock(2u * channels);
        ASSERT_TRUE(AppendFrameS16(f.get(), static_cast<uint16_t>(channels), q));
        const std::vector<int16_t> out = Take(q);
        ASSERT_EQ(out.size(), size_t(n) * channels);
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                EXPECT_EQ(out[size_t(i) * channels + c], want[size_t((i + 5 * c) % n)])
                    << "sample " << i << " channel " << c;
            }
        }
    }
}

TEST(AvSamples, PlanarS16Interleaves) {
    for (int channels : {1, 2, 3}) {
        SCOPED_TRACE(channels);
        const int n = 5;
        FramePtr f = MakeFrame(AV_SAMPLE_FMT_S16P, channels, n);
        ASSERT_NE(f, nullptr);
        for (int c = 0; c < channels; ++c) {
            auto* p = reinterpret_cast<int16_t*>(f->extended_data[c]);
            for (int i = 0; i < n; ++i) {
                p[i] = static_cast<int16_t>(c * 1000 - i * 7 - (c == 1 ? 32000 : 0));
            }
        }
        OutputQueue q;
        q.SetBlock(2u * channels);
        ASSERT_TRUE(AppendFrameS16(f.get(), static_cast<uint16_t>(channels), q));
        const std::vector<int16_t> out = Take(q);
        ASSERT_EQ(out.size(), size_t(n) * channels);
        for (int i = 0; i < n; ++i) {
            for (int c = 0; c < channels; ++c) {
                EXPECT_EQ(out[size_t(i) * channels + c], c * 1000 - i * 7 - (c == 1 ? 32000 : 0));
            }
        }
    }
}

// A stereo float frame taken by a mono stream is averaged, through the general path.
TEST(AvSamples, PlanarFloatMixedToFewerChannels) {
    FramePtr f = MakeFrame(AV_SAMPLE_FMT_FLTP, 2, 2);
    ASSERT_NE(f, nullptr);
    auto* l = reinterpret_cast<float*>(f->extended_data[0]);
    auto* r = reinterpret_cast<float*>(f->extended_data[1]);
    l[0] = 0.5f;
    r[0] = 0.25f;
    l[1] = -1.0f;
    r[1] = -1.0f;
    OutputQueue q;
    q.SetBlock(2);
    ASSERT_TRUE(AppendFrameS16(f.get(), 1, q));
    EXPECT_EQ(Take(q), (std::vector<int16_t>{12288, -32768}));
}

}  // namespace
