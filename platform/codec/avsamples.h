#pragma once
// Appends a decoded libavcodec frame to an output queue as interleaved signed 16-bit PCM
// with the stream's channel count, whatever sample format the decoder produced.

#include <cstdint>

#include "codecstream.h"

struct AVFrame;

// False (nothing appended) for a sample format this helper does not know. A frame with
// other channels than `channels` is mixed: one channel is copied to all, several are
// averaged into one, otherwise the first channels are taken.
bool AppendFrameS16(const AVFrame* frame, uint16_t channels, OutputQueue& out);
