#pragma once
// Channel mixing and rate conversion between 16-bit PCM formats. Channels are mixed first,
// in integer arithmetic, by the rule of channelmix.h (a mix-down to mono averages all the
// channels). The rate is then converted with libswresample using a long windowed-sinc
// filter, so that tones above the lower Nyquist frequency stay out of the band. A stream
// whose rates match is copied sample for sample.
//
// A caller that prepares fixed blocks whose sizes stand slightly off the rate ratio gets the
// blocks' own ratio, so that input and output stay in step.
//
// Every call after the first yields exactly the frames its input is worth: the filter's
// delay is filled with silence on the first call, and a fraction of a frame that a call
// cannot yield is carried to the next.

#include <vector>

#include "codecstream.h"

struct SwrContext;

class PcmResampler final : public CodecStream {
public:
    PcmResampler(uint16_t inChannels, uint32_t inRate, uint16_t outChannels, uint32_t outRate);
    ~PcmResampler() override;
    PcmResampler(const PcmResampler&) = delete;
    PcmResampler& operator=(const PcmResampler&) = delete;

    bool IsOpen() const { return m_inRate == m_outRate || m_swr != nullptr; }

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Reserve(uint32_t srcBytes, uint32_t dstBytes) override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

    // The filter length handed to libswresample (taps per phase at the lower rate).
    static constexpr int kFilterSize = 64;

private:
    bool OpenSwr();
    void MatchBlockRatio(uint32_t srcBytes, uint32_t dstBytes);
    void Mix(const uint8_t* src, uint32_t frames);
    void Resample(uint32_t frames, bool end);

    uint16_t m_inChannels;
    uint32_t m_inRate;
    uint16_t m_outChannels;
    uint32_t m_outRate;
    SwrContext* m_swr = nullptr;
    std::vector<int16_t> m_mixed;  // one call's input after channel mixing
    uint8_t m_partial[16] = {};
    uint32_t m_partialBytes = 0;
    uint64_t m_inFrames = 0;   // input frames since the start
    uint64_t m_outFrames = 0;  // output frames queued since the start
    bool m_primed = false;
};
