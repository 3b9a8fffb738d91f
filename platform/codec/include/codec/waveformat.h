#pragma once
// Audio format records exchanged between the file reader, the codec services and the
// engine. Between them a record travels as a block of bytes in the on-disk WAV "fmt " layout
// (little-endian, packed); these structures are its fields. Never cast a byte pointer to
// them: read and write blocks with ReadWaveFormat/WriteWaveFormat.

#include <cstddef>
#include <cstdint>

#include "platform/byteorder.h"

// Format tags (WAV "fmt " wFormatTag values).
constexpr uint16_t WAVE_FORMAT_PCM = 1;
constexpr uint16_t WAVE_FORMAT_ADPCM = 2;  // Microsoft ADPCM
constexpr uint16_t WAVE_FORMAT_IEEE_FLOAT = 3;
constexpr uint16_t WAVE_FORMAT_ALAW = 6;
constexpr uint16_t WAVE_FORMAT_MULAW = 7;
constexpr uint16_t WAVE_FORMAT_DVI_ADPCM = 17;  // IMA ADPCM
constexpr uint16_t WAVE_FORMAT_GSM610 = 0x31;
constexpr uint16_t WAVE_FORMAT_MPEG = 0x50;  // MPEG-1 Layer I/II
constexpr uint16_t WAVE_FORMAT_MPEGLAYER3 = 0x55;
constexpr uint16_t WAVE_FORMAT_G722_ADPCM = 0x65;  // G.722 at 64 kbit/s, 16 kHz, 4 bits a sample
constexpr uint16_t WAVE_FORMAT_G729A = 0x83;
constexpr uint16_t WAVE_FORMAT_EXTENSIBLE = 0xFFFE;

// The most channels the codec services take in any format record; every mix-down to fewer
// channels averages them (see acmStreamOpen).
constexpr uint16_t kMaxWaveChannels = 8;

constexpr uint16_t MPEGLAYER3_ID_MPEG = 1;
constexpr uint32_t MPEGLAYER3_FLAG_PADDING_OFF = 2;

#pragma pack(push, 1)
struct WAVEFORMATEX {
    uint16_t wFormatTag;
    uint16_t nChannels;
    uint32_t nSamplesPerSec;
    uint32_t nAvgBytesPerSec;
    uint16_t nBlockAlign;
    uint16_t wBitsPerSample;
    uint16_t cbSize;  // bytes of format-specific data after these 18
};

struct MPEGLAYER3WAVEFORMAT {
    WAVEFORMATEX wfx;
    uint16_t wID;
    uint32_t fdwFlags;
    uint16_t nBlockSize;
    uint16_t nFramesPerBlock;
    uint16_t nCodecDelay;
};
#pragma pack(pop)

static_assert(sizeof(WAVEFORMATEX) == 18);
static_assert(sizeof(MPEGLAYER3WAVEFORMAT) == 30);

// Reads the first 18 bytes of a format block into a record. A block shorter than 18 bytes
// (a 16-byte PCM "fmt " body) leaves cbSize 0. Returns false for size < 16.
inline bool ReadWaveFormat(const void* block, size_t size, WAVEFORMATEX& out) {
    out = WAVEFORMATEX{};
    if (block == nullptr || size < 16) {
        return false;
    }
    const auto* p = static_cast<const uint8_t*>(block);
    out.wFormatTag = platform::LoadLe16(p);
    out.nChannels = platform::LoadLe16(p + 2);
    out.nSamplesPerSec = platform::LoadLe32(p + 4);
    out.nAvgBytesPerSec = platform::LoadLe32(p + 8);
    out.nBlockAlign = platform::LoadLe16(p + 12);
    out.wBitsPerSample = platform::LoadLe16(p + 14);
    out.cbSize = size >= sizeof out ? platform::LoadLe16(p + 16) : 0;
    return true;
}

// The 16-bit PCM record for a channel count and rate: the form every decoder produces and
// the rate converter takes and gives.
inline WAVEFORMATEX Pcm16WaveFormat(uint16_t channels, uint32_t rate) {
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = channels;
    f.nSamplesPerSec = rate;
    f.nBlockAlign = static_cast<uint16_t>(channels * 2);
    f.nAvgBytesPerSec = f.nBlockAlign * rate;
    f.wBitsPerSample = 16;
    return f;
}

// Writes a record into the first 18 bytes of a block of at least 18 bytes.
inline void WriteWaveFormat(const WAVEFORMATEX& in, void* block) {
    auto* p = static_cast<uint8_t*>(block);
    platform::StoreLe16(p, in.wFormatTag);
    platform::StoreLe16(p + 2, in.nChannels);
    platform::StoreLe32(p + 4, in.nSamplesPerSec);
    platform::StoreLe32(p + 8, in.nAvgBytesPerSec);
    platform::StoreLe16(p + 12, in.nBlockAlign);
    platform::StoreLe16(p + 14, in.wBitsPerSample);
    platform::StoreLe16(p + 16, in.cbSize);
}

// Writes an MPEG Layer-3 record into the first 30 bytes of a block of at least 30 bytes.
inline void WriteMp3WaveFormat(const MPEGLAYER3WAVEFORMAT& in, void* block) {
    auto* p = static_cast<uint8_t*>(block);
    WriteWaveFormat(in.wfx, p);
    platform::StoreLe16(p + 18, in.wID);
    platform::StoreLe32(p + 20, in.fdwFlags);
    platform::StoreLe16(p + 24, in.nBlockSize);
    platform::StoreLe16(p + 26, in.nFramesPerBlock);
    platform::StoreLe16(p + 28, in.nCodecDelay);
}
