#pragma once
// Decoder of the coefficient-set ADPCM of WAV tag 2. The predictor coefficient pairs come
// from the "fmt " record (the standard seven when the record carries none); a block naming
// a coefficient set the record lacks decodes as silence.

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

private:
    std::vector<std::array<int32_t, 2>> m_coefs;
};
