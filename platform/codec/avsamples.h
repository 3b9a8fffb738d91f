#pragma once
// Appends a decoded libavcodec frame to an output queue as interleaved signed 16-bit PCM
// with the stream's channel count, whatever sample format the decoder produced.

#include <climits>
#include <cstdint>

#include "codecstream.h"

struct AVFrame;

// Appends the frame's samples [first, first + count) (clipped to the frame). False (nothing
// appended) for a sample format this helper does not know or a channel count above
// kMaxWaveChannels. A frame with other channels than `channels` is mixed by channelmix.h.
bool AppendFrameS16(const AVFrame* frame, uint16_t channels, OutputQueue& out, int first = 0,
                    int count = INT_MAX);
