#pragma once
// The gapless information an MPEG Layer III encoder leaves in the first frame of a stream: a
// "Xing" or "Info" frame, which carries no audio, whose encoder extension gives the samples
// of delay the encoder put in front of the audio and of padding it put behind. Players drop
// both (and the decoder's own delay) so that the stream plays exactly the encoded audio.

#include <cstddef>
#include <cstdint>

struct Mp3InfoTag {
    uint32_t encoderDelay = 0;     // samples
    uint32_t padding = 0;          // samples
    uint64_t frames = 0;           // audio frames after the tag frame; 0 when not given
    uint32_t samplesPerFrame = 0;  // 1152 for MPEG 1, 576 for MPEG 2 and 2.5
};

// Delay of the Layer III synthesis filter bank: output sample n + 529 is input sample n.
constexpr uint32_t kMp3DecoderDelay = 529;

// True when `frame` (one whole frame, header first) is a Layer III tag frame with an encoder
// extension; `tag` is then filled. Reads only the `size` bytes given.
bool ParseMp3InfoTag(const uint8_t* frame, size_t size, Mp3InfoTag& tag);
