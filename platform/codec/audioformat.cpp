#include "audioformat.h"

#include <cstring>

#include "platform/byteorder.h"

bool AudioFormat::Parse(const void* record, uint32_t bytes) {
    WAVEFORMATEX wfx{};
    if (!ReadWaveFormat(record, bytes, wfx)) {
        return false;
    }
    recordTag = wfx.wFormatTag;
    tag = wfx.wFormatTag;
    channels = wfx.nChannels;
    rate = wfx.nSamplesPerSec;
    avgBytesPerSec = wfx.nAvgBytesPerSec;
    blockAlign = wfx.nBlockAlign;
    bits = wfx.wBitsPerSample;
    extra.clear();
    if (bytes > sizeof(WAVEFORMATEX) && wfx.cbSize > 0) {
        const uint32_t avail = bytes - static_cast<uint32_t>(sizeof(WAVEFORMATEX));
        const uint32_t take = wfx.cbSize < avail ? wfx.cbSize : avail;
        const auto* p = static_cast<const uint8_t*>(record) + sizeof(WAVEFORMATEX);
        extra.assign(p, p + take);
    }
    if (channels == 0 || channels > kMaxWaveChannels || rate == 0 || rate > kMaxRate) {
        return false;
    }
    if (recordTag == WAVE_FORMAT_EXTENSIBLE) {
        // Valid bits (2), channel mask (4), then the sub-format GUID whose first two bytes
        // are the tag.
        if (extra.size() < 22) {
            return false;
        }
        tag = platform::LoadLe16(extra.data() + 6);
    }
    return true;
}
