#pragma once
// The one rule by which the codec services change the channel count of a sample frame, used
// by the rate converter and by the decoders whose frames arrive with another count than their
// stream's: a mix-down to mono is the average of all channels; a mono frame is copied to
// every channel; otherwise output channel c takes input channel c modulo the input count.
// An average cannot leave the 16-bit range, so no channel count clips or needs halving first.

#include <cstdint>

#include "codecstream.h"

// `in` holds inChannels samples (1..kMaxWaveChannels, wider than 16 bits allowed: they are
// clamped after mixing); `out` receives outChannels 16-bit samples.
inline void MixFrame(const int32_t* in, uint32_t inChannels, int16_t* out, uint32_t outChannels) {
    if (outChannels == 1 && inChannels > 1) {
        int64_t sum = 0;
        for (uint32_t c = 0; c < inChannels; ++c) {
            sum += in[c];
        }
        out[0] = ClampS16(static_cast<int32_t>(sum / static_cast<int64_t>(inChannels)));
        return;
    }
    for (uint32_t c = 0; c < outChannels; ++c) {
        out[c] = ClampS16(in[inChannels == 1 ? 0 : c % inChannels]);
    }
}
