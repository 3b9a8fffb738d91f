#include "playlist/outputcodec.h"

namespace {

constexpr OutputCodec kCodecs[] = {
    {kFormatMulaw, 0, 8000, 8000, "PCMU", "mu", "U-law", "mu-law"},
    {kFormatAlaw, 8, 8000, 8000, "PCMA", "a", "A-law", "A-law"},
    {kFormatG722, 9, 16000, 8000, "G722", "g722", "G.722", "G.722"},
};

}  // namespace

const OutputCodec* FindOutputCodec(int32_t format) {
    for (const OutputCodec& codec : kCodecs) {
        if (codec.format == format) {
            return &codec;
        }
    }
    return nullptr;
}

const OutputCodec* FindOutputCodecByWord(std::string_view word) {
    for (const OutputCodec& codec : kCodecs) {
        if (word == codec.word) {
            return &codec;
        }
    }
    return nullptr;
}
