#pragma once
// Audio format records exchanged between the file reader, the codec services and the
// engine. Their layouts are the on-disk WAV "fmt " layouts (little-endian, packed), so a
// record can be copied to and from file bytes with memcpy on this little-endian platform.
// Never cast a byte pointer to these types: copy with ReadWaveFormat/WriteWaveFormat.

#include <cstddef>
#include <cstdint>
#include <cstring>

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

// Copies the first 18 bytes of a format block into a record. A block shorter than 18
// bytes (a 16-byte PCM "fmt " body) leaves cbSize 0. Returns false for size < 16.
inline bool ReadWaveFormat(const void* block, size_t size, WAVEFORMATEX& out) {
    std::memset(&out, 0, sizeof out);
    if (block == nullptr || size < 16) {
        return false;
    }
    std::memcpy(&out, block, size < sizeof out ? size : sizeof out);
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

// Copies a record into the first 18 bytes of a block of at least 18 bytes.
inline void WriteWaveFormat(const WAVEFORMATEX& in, void* block) {
    std::memcpy(block, &in, sizeof in);
}
