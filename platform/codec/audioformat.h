#pragma once
// A format record as the codec services understand it: the WAVEFORMATEX fields, the tag
// behind WAVE_FORMAT_EXTENSIBLE, and the format-specific bytes that were actually supplied.

#include <cstdint>
#include <vector>

#include "codec/waveformat.h"

struct AudioFormat {
    uint16_t tag = 0;  // the effective tag (an extensible record's sub-format)
    uint16_t recordTag = 0;
    uint16_t channels = 0;
    uint32_t rate = 0;
    uint32_t avgBytesPerSec = 0;
    uint16_t blockAlign = 0;
    uint16_t bits = 0;           // container bits per sample
    std::vector<uint8_t> extra;  // the cbSize bytes after the 18-byte record, as supplied

    // Parses a record of `bytes` bytes; false when it is too short or its fields are out of
    // range (no channels or more than kMaxWaveChannels, no rate or one above 768 kHz). Reads
    // only the bytes supplied.
    bool Parse(const void* record, uint32_t bytes);
    bool IsPcm16() const { return tag == WAVE_FORMAT_PCM && bits == 16; }
    // Bytes of one sample frame of 16-bit PCM with these channels.
    uint32_t Pcm16Frame() const { return 2u * channels; }
};

constexpr uint32_t kMaxRate = 768000;
