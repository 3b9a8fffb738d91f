#include "pcmresampler.h"

#include <algorithm>
#include <cstring>

#include "channelmix.h"
#include "platform/byteorder.h"

extern "C" {
#include <libavutil/channel_layout.h>
#include <libavutil/opt.h>
#include <libswresample/swresample.h>
}

namespace {
// Slack frames queued beyond the exact count, so that rounding inside the resampler never
// leaves a call one frame short.
constexpr uint64_t kSlackFrames = 2;
// Output held back at most, in seconds; only a caller that keeps feeding more input than it
// takes output can reach it.
constexpr uint64_t kQueueSeconds = 10;
}  // namespace

PcmResampler::PcmResampler(uint16_t inChannels, uint32_t inRate, uint16_t outChannels,
                           uint32_t outRate)
    : m_inChannels(inChannels), m_inRate(inRate), m_outChannels(outChannels), m_outRate(outRate) {
    m_output.SetBlock(2u * outChannels);
    m_output.SetLimit(kQueueSeconds * outRate * 2u * outChannels);
    if (inRate != outRate) {
        OpenSwr();
    }
}

PcmResampler::~PcmResampler() {
    swr_free(&m_swr);
}

bool PcmResampler::OpenSwr() {
    swr_free(&m_swr);
    AVChannelLayout layout{};
    av_channel_layout_default(&layout, m_outChannels);
    SwrContext* swr = nullptr;
    if (swr_alloc_set_opts2(&swr, &layout, AV_SAMPLE_FMT_S16, static_cast<int>(m_outRate), &layout,
                            AV_SAMPLE_FMT_S16, static_cast<int>(m_inRate), 0, nullptr) < 0) {
        av_channel_layout_uninit(&layout);
        return false;
    }
    av_channel_layout_uninit(&layout);
    // Float inside: the filter keeps its precision and the result is rounded and clipped once.
    av_opt_set_sample_fmt(swr, "internal_sample_fmt", AV_SAMPLE_FMT_FLTP, 0);
    av_opt_set_int(swr, "filter_size", kFilterSize, 0);
    av_opt_set_int(swr, "phase_shift", 12, 0);
    av_opt_set_int(swr, "linear_interp", 1, 0);
    av_opt_set_double(swr, "cutoff", 0.95, 0);
    av_opt_set_int(swr, "filter_type", SWR_FILTER_TYPE_KAISER, 0);
    av_opt_set_int(swr, "kaiser_beta", 12, 0);
    if (swr_init(swr) < 0) {
        swr_free(&swr);
        return false;
    }
    m_swr = swr;
    return true;
}

uint32_t PcmResampler::DstBoundFor(uint32_t srcBytes) const {
    const uint64_t inFrame = 2u * m_inChannels;
    const uint64_t frames = (uint64_t{srcBytes} + m_partialBytes + inFrame - 1) / inFrame;
    uint64_t out = (frames * m_outRate + m_inRate - 1) / m_inRate;
    if (m_inRate != m_outRate) {
        // The first call's silence, the carried fraction and the slack.
        out += 2 * kFilterSize * (uint64_t{m_outRate} / std::min(m_inRate, m_outRate) + 1) +
               kSlackFrames + 2;
    }
    return SaturateU32(out * 2u * m_outChannels);
}

uint32_t PcmResampler::SrcNeededFor(uint32_t dstBytes) const {
    const uint64_t outFrame = 2u * m_outChannels;
    const uint64_t frames = (uint64_t{dstBytes} + outFrame - 1) / outFrame;
    // Rounded up: never less input than the output asks for.
    const uint64_t in = (frames * m_inRate + m_outRate - 1) / m_outRate;
    return SaturateU32(in * 2u * m_inChannels);
}

void PcmResampler::Reserve(uint32_t srcBytes, uint32_t dstBytes) {
    CodecStream::Reserve(srcBytes, dstBytes);
    MatchBlockRatio(srcBytes, dstBytes);
    const size_t frames = srcBytes / (2u * m_inChannels) + 1;
    if (m_mixed.size() < frames * m_outChannels) {
        m_mixed.resize(frames * m_outChannels);
    }
}

void PcmResampler::MatchBlockRatio(uint32_t srcBytes, uint32_t dstBytes) {
    // A caller that takes one fixed output block per fixed input block, where the blocks do
    // not stand in the exact rate ratio (11025 Hz in 20 ms packets is 220.5 frames, fed as
    // 221), hands over more input than the output it takes is worth. The surplus would pile
    // up in the queue and the end of every file would be lost with it. Converting at the
    // blocks' own ratio keeps input and output in step; the audio then plays a fraction of a
    // percent faster, which nobody hears.
    if (m_inRate == m_outRate || m_primed || srcBytes == 0 || dstBytes == 0 ||
        srcBytes != SrcNeededFor(dstBytes)) {
        return;
    }
    const uint32_t inFrames = srcBytes / (2u * m_inChannels);
    const uint32_t outFrames = dstBytes / (2u * m_outChannels);
    if (inFrames == 0 || outFrames == 0 || srcBytes % (2u * m_inChannels) != 0 ||
        dstBytes % (2u * m_outChannels) != 0 ||
        uint64_t{inFrames} * m_outRate == uint64_t{outFrames} * m_inRate) {
        return;
    }
    // Keep the rates near the real ones (8000 Hz stays 8000 Hz for the filter's cut-off).
    const uint32_t scale = m_outRate % outFrames == 0 ? m_outRate / outFrames : 1;
    const uint32_t oldIn = m_inRate;
    const uint32_t oldOut = m_outRate;
    m_inRate = inFrames * scale;
    m_outRate = outFrames * scale;
    if (!OpenSwr()) {
        m_inRate = oldIn;
        m_outRate = oldOut;
        OpenSwr();
    }
}

void PcmResampler::Reset() {
    m_output.Clear();
    m_partialBytes = 0;
    m_inFrames = 0;
    m_outFrames = 0;
    m_primed = false;
    if (m_inRate != m_outRate) {
        OpenSwr();
    }
}

void PcmResampler::Mix(const uint8_t* src, uint32_t frames) {
    if (m_mixed.size() < size_t{frames} * m_outChannels) {
        m_mixed.resize(size_t{frames} * m_outChannels);
    }
    const uint32_t inCh = m_inChannels;
    const uint32_t outCh = m_outChannels;
    int16_t* out = m_mixed.data();
    if (inCh == outCh) {
        std::memcpy(out, src, size_t{frames} * 2 * inCh);
        return;
    }
    if (inCh == 2 && outCh == 1) {
        // The common mix-down, written so that the compiler vectorises it: the average of
        // the two channels truncated toward zero, exactly as MixFrame computes it.
        for (uint32_t f = 0; f < frames; ++f) {
            const int32_t left = platform::LoadLe16s(src + 4 * size_t{f});
            const int32_t right = platform::LoadLe16s(src + 4 * size_t{f} + 2);
            out[f] = static_cast<int16_t>((left + right) / 2);
        }
        return;
    }
    int32_t frame[kMaxWaveChannels];
    for (uint32_t f = 0; f < frames; ++f) {
        const uint8_t* p = src + size_t{f} * 2 * inCh;
        for (uint32_t c = 0; c < inCh; ++c) {
            frame[c] = platform::LoadLe16s(p + 2 * c);
        }
        MixFrame(frame, inCh, out + size_t{f} * outCh, outCh);
    }
}

void PcmResampler::Process(const uint8_t* src, uint32_t bytes, bool end) {
    if (!IsOpen()) {
        return;
    }
    const uint32_t inFrame = 2u * m_inChannels;
    uint32_t frames = 0;
    if (m_partialBytes > 0) {
        const uint32_t take = std::min(bytes, inFrame - m_partialBytes);
        std::memcpy(m_partial + m_partialBytes, src, take);
        m_partialBytes += take;
        src += take;
        bytes -= take;
        if (m_partialBytes == inFrame) {
            Mix(m_partial, 1);
            m_partialBytes = 0;
            Resample(1, false);
        }
    }
    frames = bytes / inFrame;
    if (frames > 0) {
        Mix(src, frames);
    }
    Resample(frames, end);
    const uint32_t rest = bytes - frames * inFrame;
    std::memcpy(m_partial, src + size_t{frames} * inFrame, rest);
    m_partialBytes = rest;
}

void PcmResampler::Resample(uint32_t frames, bool end) {
    const uint32_t outFrame = 2u * m_outChannels;
    m_inFrames += frames;
    if (m_inRate == m_outRate) {
        m_output.Append(reinterpret_cast<const uint8_t*>(m_mixed.data()),
                        size_t{frames} * outFrame);
        m_outFrames += frames;
        return;
    }
    if (frames == 0 && !end) {
        return;
    }
    const int room = swr_get_out_samples(m_swr, static_cast<int>(frames)) + 16;
    // Room for the first call's silence as well.
    const uint64_t padRoom = m_primed ? 0 : m_inFrames * m_outRate / m_inRate + kSlackFrames;
    uint8_t* out = m_output.Extend((size_t(room) + padRoom) * outFrame);
    const auto* in = reinterpret_cast<const uint8_t*>(m_mixed.data());
    int got = swr_convert(m_swr, &out, room, frames > 0 ? &in : nullptr, static_cast<int>(frames));
    if (got < 0) {
        got = 0;
    }
    if (!m_primed && frames > 0) {
        // First input: put silence in front for the filter's delay, so that this call already
        // yields what its input is worth and every later call does too.
        m_primed = true;
        const uint64_t expected = m_inFrames * m_outRate / m_inRate + kSlackFrames;
        const uint64_t pad = expected > uint64_t(got) ? expected - uint64_t(got) : 0;
        if (pad > 0) {
            std::memmove(out + pad * outFrame, out, size_t(got) * outFrame);
            std::memset(out, 0, pad * outFrame);
            got += static_cast<int>(pad);
        }
    }
    m_output.Commit(size_t(got) * outFrame);
    m_outFrames += uint64_t(got);
    if (end) {
        // Drain the filter's tail.
        const int tail = swr_get_out_samples(m_swr, 0) + 16;
        uint8_t* t = m_output.Extend(size_t(tail) * outFrame);
        const int more = swr_convert(m_swr, &t, tail, nullptr, 0);
        if (more > 0) {
            m_output.Commit(size_t(more) * outFrame);
            m_outFrames += uint64_t(more);
        }
    }
}
