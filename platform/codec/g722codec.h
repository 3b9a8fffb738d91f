#pragma once
// G.722 inside a codec stream: 16-bit mono PCM at 16 kHz to G.722 at 64 kbit/s (one byte per
// two samples), or back. A sample pair cut by a call boundary is completed by the next call.

#include <vector>

#include "codec/g722.h"
#include "codecstream.h"

class G722Codec final : public CodecStream {
public:
    explicit G722Codec(bool encode);

    bool IsOpen() const { return m_encode ? m_encoder.IsOpen() : m_decoder.IsOpen(); }
    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Reserve(uint32_t srcBytes, uint32_t dstBytes) override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

private:
    // Bytes of input per output block, and of the block: 4 PCM bytes make one code byte.
    uint32_t InBlock() const { return m_encode ? 4 : 1; }
    uint32_t OutBlock() const { return m_encode ? 1 : 4; }
    void ConvertBlocks(const uint8_t* src, uint32_t blocks);

    bool m_encode;
    G722Encoder m_encoder;
    G722Decoder m_decoder;
    std::vector<int16_t> m_samples;  // the PCM side of one call, in host order
    uint8_t m_partial[4] = {};
    uint32_t m_partialBytes = 0;
};
