#include "mp3infotag.h"

#include <cstring>

#include "platform/byteorder.h"

namespace {

// Flags of the tag's optional fields, in the order they follow the flags word.
constexpr uint32_t kHasFrames = 0x1;
constexpr uint32_t kHasBytes = 0x2;
constexpr uint32_t kHasToc = 0x4;
constexpr uint32_t kHasQuality = 0x8;
// The encoder extension: a 9-byte encoder name, then 12 bytes of levels and flags, then the
// delay and the padding in 12 bits each.
constexpr size_t kDelayOffset = 21;
constexpr size_t kExtensionBytes = kDelayOffset + 3;

bool HasId(const uint8_t* p, const char* id) {
    return std::memcmp(p, id, 4) == 0;
}

}  // namespace

bool ParseMp3InfoTag(const uint8_t* frame, size_t size, Mp3InfoTag& tag) {
    if (frame == nullptr || size < 4 || frame[0] != 0xFF || (frame[1] & 0xE0) != 0xE0) {
        return false;
    }
    const uint32_t version = (frame[1] >> 3) & 3;  // 3 MPEG 1, 2 MPEG 2, 0 MPEG 2.5
    const uint32_t layer = (frame[1] >> 1) & 3;    // 1 Layer III
    if (version == 1 || layer != 1) {
        return false;
    }
    const bool mpeg1 = version == 3;
    const bool mono = (frame[3] >> 6) == 3;
    const bool crc = (frame[1] & 1) == 0;
    const size_t sideInfo = mpeg1 ? (mono ? 17 : 32) : (mono ? 9 : 17);
    size_t at = 4 + (crc ? 2 : 0) + sideInfo;
    if (size < at + 8 || (!HasId(frame + at, "Xing") && !HasId(frame + at, "Info"))) {
        return false;
    }
    const uint32_t flags = platform::LoadBe32(frame + at + 4);
    at += 8;
    uint64_t frames = 0;
    if ((flags & kHasFrames) != 0) {
        if (size < at + 4) {
            return false;
        }
        frames = platform::LoadBe32(frame + at);
        at += 4;
    }
    at += (flags & kHasBytes) != 0 ? 4 : 0;
    at += (flags & kHasToc) != 0 ? 100 : 0;
    at += (flags & kHasQuality) != 0 ? 4 : 0;
    if (size < at + kExtensionBytes ||
        (!HasId(frame + at, "LAME") && !HasId(frame + at, "Lavf") && !HasId(frame + at, "Lavc"))) {
        return false;
    }
    const uint32_t delayPadding = platform::LoadBe24(frame + at + kDelayOffset);
    Mp3InfoTag found;
    found.encoderDelay = delayPadding >> 12;
    found.padding = delayPadding & 0xFFF;
    found.frames = frames;
    found.samplesPerFrame = mpeg1 ? 1152 : 576;
    // A count too small for its own delay and padding describes no stream: ignore the tag.
    if (frames != 0 &&
        frames * found.samplesPerFrame < uint64_t{found.encoderDelay} + found.padding) {
        return false;
    }
    tag = found;
    return true;
}
