#pragma once
// Base of the decoders whose source is a sequence of fixed-size blocks (ADPCM, GSM): each
// block decodes on its own into a known number of sample frames. A block cut by a call
// boundary is completed by the next call; one cut by the end of the stream (the end flag)
// yields the frames its bytes hold, where the format allows it.

#include <vector>

#include "codecstream.h"

class BlockDecoder : public CodecStream {
public:
    BlockDecoder(uint32_t blockAlign, uint32_t framesPerBlock, uint16_t channels);

    uint32_t DstBoundFor(uint32_t srcBytes) const override;
    uint32_t SrcNeededFor(uint32_t dstBytes) const override;
    void Process(const uint8_t* src, uint32_t bytes, bool end) override;
    void Reset() override;

protected:
    // Decodes one whole block, appending at most framesPerBlock frames to m_output.
    virtual void DecodeBlock(const uint8_t* block) = 0;
    // Decodes the first `bytes` of a block cut short by the end of the stream (the rest of
    // `block` is zeros), appending only the frames those bytes hold. Default: nothing.
    virtual void DecodePartialBlock(const uint8_t* /*block*/, uint32_t /*bytes*/) {}
    virtual void ResetDecoder() {}

    uint32_t m_blockAlign;
    uint32_t m_framesPerBlock;
    uint16_t m_channels;

private:
    std::vector<uint8_t> m_partial;
    uint32_t m_partialBytes = 0;
};
