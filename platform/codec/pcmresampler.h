#pragma once
// Channel mixing and rate conversion between 16-bit PCM formats. Channels are mixed first,
// in integer arithmetic, by the rule of channelmix.h (a mix-down to mono averages all the
// channels). The rate is then converted by libsoxr at high quality (linear phase, 20-bit
// stop band), so that tones above the lower Nyquist frequency stay out of the band. A stream
// whose rates match is copied sample for sample.
//
// A caller that prepares fixed blocks whose sizes stand slightly off the rate ratio gets the
// blocks' own ratio, so that input and output stay in step.
//
// The output is in step with the input: its first frame is the first input frame's (the
// filter's group delay is skipped) and the end drains the filter's tail, so a whole stream
// gives exactly its duration at the new rate. libsoxr works in blocks and so yields in
// bursts. For a caller that prepares fixed blocks (the source length is what the destination
// length needs) the output is therefore held back at the start until it covers that length
// and a margin above the largest burst; from then on every call yields the frames its input
// is worth. Such a caller feeds more input while a call yields nothing. Other callers get
// the output as it is made.

#include <vector>

#include "codecstream.h"

struct soxr;

class PcmResampler final : public CodecStream {
public:
    // lowLatency: for live audio. The filter is then a short minimum-phase one, whose output
    // trails its input by about 10 ms at 44.1 and 48 kHz (21 ms at 16 and 32 kHz) instead
    // of the blocks of up to 60 ms described above, with the speech band still flat and
    // aliases still more than 110 dB down.
    PcmResampler(uint16_t inChannels, uint32_t inRate, uint16_t outChannels, uint32_t outRate,
                 bool lowLatency = false);
    ~PcmResampler() override;
    PcmResampler(const PcmResampler&) = delete;
    PcmResampler& operator=(const PcmResampler&) = delete;

    bool IsOpen() const { return m_inRate == m_outRate || m_soxr != nullptr; }

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Reserve(uint32_t srcBytes, uint32_t dstBytes) override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

    // Output held back at the start beyond the destination length, in milliseconds: above
    // the largest burst libsoxr yields with the block sizes set here (60 ms at 8 kHz).
    static constexpr uint32_t kHoldMs = 80;

private:
    bool OpenSoxr();
    void HoldStart();
    void MatchBlockRatio(uint32_t srcBytes, uint32_t dstBytes);
    void Mix(const uint8_t* src, uint32_t frames);
    void Resample(uint32_t frames, bool end);

    uint16_t m_inChannels;
    uint32_t m_inRate;
    uint16_t m_outChannels;
    uint32_t m_outRate;
    bool m_lowLatency;
    soxr* m_soxr = nullptr;
    std::vector<int16_t> m_mixed;  // one call's input after channel mixing
    uint8_t m_partial[16] = {};
    uint32_t m_partialBytes = 0;
    uint32_t m_dstBlock = 0;  // the prepared block in bytes; 0: no fixed blocks
    bool m_started = false;   // input has been converted since the start
};
