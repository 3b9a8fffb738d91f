#include "pcmresampler.h"

#include <soxr.h>

#include <algorithm>
#include <cstring>

#include "channelmix.h"
#include "platform/byteorder.h"

namespace {
// Output held back at most, in seconds; only a caller that keeps feeding more input than it
// takes output can reach it.
constexpr uint64_t kQueueSeconds = 10;
// libsoxr's smallest transform blocks (2^8): the bursts in which it yields stay near 60 ms
// at 8 kHz instead of 160 ms with its defaults, at the same filter quality.
constexpr unsigned kLog2DftSize = 8;
// Output frames libsoxr can hold inside at most with those blocks, beyond the input's worth.
constexpr uint64_t kHeldFrames = 1024;
}  // namespace

PcmResampler::PcmResampler(uint16_t inChannels, uint32_t inRate, uint16_t outChannels,
                           uint32_t outRate, bool lowLatency)
    : m_inChannels(inChannels),
      m_inRate(inRate),
      m_outChannels(outChannels),
      m_outRate(outRate),
      m_lowLatency(lowLatency) {
    m_output.SetBlock(2u * outChannels);
    m_output.SetLimit(kQueueSeconds * outRate * 2u * outChannels);
    if (inRate != outRate) {
        OpenSoxr();
    }
}

PcmResampler::~PcmResampler() {
    soxr_delete(m_soxr);
}

bool PcmResampler::OpenSoxr() {
    soxr_delete(m_soxr);
    m_soxr = nullptr;
    soxr_io_spec_t io = soxr_io_spec(SOXR_INT16_I, SOXR_INT16_I);
    // Without dither the output is a function of the input alone: chunked equals whole.
    io.flags |= SOXR_NO_DITHER;
    soxr_quality_spec_t quality = soxr_quality_spec(SOXR_HQ, SOXR_LINEAR_PHASE);
    if (m_lowLatency) {
        // Live audio: a minimum-phase filter at 16-bit precision (G.711 keeps less) is short
        // enough to yield within about 10 ms of its input at 44.1 and 48 kHz; its pass band
        // stays flat to 0.9 of the lower Nyquist frequency (3.6 kHz at 8 kHz) and what lies
        // above 1.05 of it is kept out by more than 110 dB.
        quality = soxr_quality_spec(SOXR_16_BITQ | SOXR_MINIMUM_PHASE, 0);
        quality.passband_end = 0.9;
        quality.stopband_begin = 1.05;
    }
    soxr_runtime_spec_t runtime = soxr_runtime_spec(1);
    runtime.log2_min_dft_size = kLog2DftSize;
    runtime.log2_large_dft_size = kLog2DftSize;
    soxr_error_t error = nullptr;
    soxr* s = soxr_create(m_inRate, m_outRate, m_outChannels, &error, &io, &quality, &runtime);
    if (s == nullptr || error != nullptr) {
        soxr_delete(s);
        return false;
    }
    m_soxr = s;
    HoldStart();
    return true;
}

void PcmResampler::HoldStart() {
    m_started = false;
    if (m_soxr == nullptr || m_dstBlock == 0) {
        m_output.SetHold(0);
        return;
    }
    const uint64_t margin = uint64_t{m_outRate} * kHoldMs / 1000;
    m_output.SetHold(m_dstBlock + margin * 2u * m_outChannels);
}

uint32_t PcmResampler::DstBoundFor(uint32_t srcBytes) const {
    const uint64_t inFrame = 2u * m_inChannels;
    const uint64_t frames = (uint64_t{srcBytes} + m_partialBytes + inFrame - 1) / inFrame;
    uint64_t out = (frames * m_outRate + m_inRate - 1) / m_inRate;
    if (m_inRate != m_outRate) {
        // A burst of what libsoxr held, and the hold released at once.
        out += kHeldFrames + uint64_t{m_outRate} * kHoldMs / 1000 +
               m_dstBlock / (2u * m_outChannels) + 2;
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
    // Only a caller of fixed blocks (one output block per input block) needs the hold; one
    // that takes whatever comes, up to the bound, gets the output as it is made.
    const bool fixedBlocks = srcBytes != 0 && dstBytes != 0 && srcBytes == SrcNeededFor(dstBytes);
    MatchBlockRatio(srcBytes, dstBytes);
    if (!m_started) {
        m_dstBlock = fixedBlocks ? dstBytes - dstBytes % (2u * m_outChannels) : 0;
        HoldStart();
    }
    CodecStream::Reserve(srcBytes, dstBytes);
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
    if (m_inRate == m_outRate || m_started || srcBytes == 0 || dstBytes == 0 ||
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
    if (!OpenSoxr()) {
        m_inRate = oldIn;
        m_outRate = oldOut;
        OpenSoxr();
    }
}

void PcmResampler::Reset() {
    m_output.Clear();
    m_partialBytes = 0;
    if (m_soxr != nullptr) {
        soxr_clear(m_soxr);
    }
    HoldStart();
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
    if (m_inRate == m_outRate) {
        m_output.Append(reinterpret_cast<const uint8_t*>(m_mixed.data()),
                        size_t{frames} * outFrame);
        return;
    }
    if (frames > 0) {
        m_started = true;
        // libsoxr takes all the input when the output has room for its worth and what it
        // held; the loop is a guard should it ever leave some behind.
        const int16_t* in = m_mixed.data();
        size_t left = frames;
        while (left > 0) {
            const size_t room = left * m_outRate / m_inRate + kHeldFrames + 16;
            uint8_t* out = m_output.Extend(room * outFrame);
            size_t used = 0;
            size_t got = 0;
            if (soxr_process(m_soxr, in, left, &used, out, room, &got) != nullptr) {
                return;
            }
            m_output.Commit(got * outFrame);
            if (used == 0 && got == 0) {
                return;
            }
            in += used * m_outChannels;
            left -= used;
        }
    }
    if (end) {
        // No more input: the filter's tail, until libsoxr gives nothing more.
        m_output.SetHold(0);
        for (;;) {
            const size_t room = kHeldFrames + 16;
            uint8_t* out = m_output.Extend(room * outFrame);
            size_t got = 0;
            if (soxr_process(m_soxr, nullptr, 0, nullptr, out, room, &got) != nullptr || got == 0) {
                break;
            }
            m_output.Commit(got * outFrame);
        }
    }
}
