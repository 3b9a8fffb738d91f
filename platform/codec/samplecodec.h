#pragma once
// Sample-by-sample conversions: linear PCM of 8, 16, 24 and 32 bits and IEEE float (32 and
// 64 bits) to 16-bit PCM, G.711 decoding to 16-bit PCM, and G.711 encoding of 16-bit PCM.
// Channels and rate are unchanged. A sample frame cut by a call boundary is completed by
// the next call.

#include "codecstream.h"

enum class SampleKind { U8, S16, S24, S32, F32, F64, Mulaw, Alaw };

class SampleCodec final : public CodecStream {
public:
    // Decoding (`encode` false): `kind` samples in, 16-bit out. Encoding: 16-bit in, `kind`
    // (Mulaw or Alaw) out.
    SampleCodec(SampleKind kind, bool encode, uint16_t channels);

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

    static uint32_t SampleBytes(SampleKind kind);

private:
    void ConvertFrames(const uint8_t* src, uint32_t frames);

    SampleKind m_kind;
    bool m_encode;
    uint32_t m_inFrame;   // bytes of one input sample frame
    uint32_t m_outFrame;  // bytes of one output sample frame
    uint8_t m_partial[64] = {};
    uint32_t m_partialBytes = 0;
};
