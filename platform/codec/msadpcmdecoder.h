#pragma once
// Decoder of the coefficient-set ADPCM of WAV tag 2. The predictor coefficient pairs come
// from the "fmt " record (the standard seven when the record carries none); a block naming
// a coefficient set the record lacks decodes as silence. Step sizes and predictions are
// bounded and computed in 64 bits, so corrupt blocks decode to noise, never overflow.

#include <array>
#include <vector>

#include "blockdecoder.h"

class MsAdpcmDecoder final : public BlockDecoder {
public:
    // extra: the record's format-specific bytes (samples per block, coefficient count,
    // coefficient pairs).
    MsAdpcmDecoder(uint32_t blockAlign, uint16_t channels, const std::vector<uint8_t>& extra);

    // Frames in a block of this size; 0 when the block is too small for its header.
    static uint32_t FramesPerBlock(uint32_t blockAlign, uint16_t channels);

protected:
    void DecodeBlock(const uint8_t* block) override;
    void DecodePartialBlock(const uint8_t* block, uint32_t bytes) override;

private:
    // Decodes the first `frames` frames of a block (all of them are whole in its bytes).
    void DecodeFrames(const uint8_t* block, uint32_t frames);

    std::vector<std::array<int32_t, 2>> m_coefs;
};
