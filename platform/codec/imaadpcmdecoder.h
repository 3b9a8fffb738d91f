#pragma once
// Decoder of the IMA (DVI) ADPCM of WAV tag 0x11, 4 bits a sample. Each block starts with a
// 4-byte header per channel (the first sample and the step index), followed by words of
// 4 bytes per channel in turn, eight samples each, low nibble first. Written here, not
// taken from a library: the format is a page of arithmetic and no small Debian library
// decodes it. Step indexes are clamped, so corrupt blocks decode to noise, never overflow.

#include "blockdecoder.h"

class ImaAdpcmDecoder final : public BlockDecoder {
public:
    ImaAdpcmDecoder(uint32_t blockAlign, uint16_t channels);

    // Frames in a block of this size (the header sample and eight per data word); 0 when
    // the block is too small for its headers.
    static uint32_t FramesPerBlock(uint32_t blockAlign, uint16_t channels);

protected:
    void DecodeBlock(const uint8_t* block) override;
    void DecodePartialBlock(const uint8_t* block, uint32_t bytes) override;

private:
    void DecodeFrames(const uint8_t* block, uint32_t frames);
};
