#include "engine/polycompackets.h"

#include <cstring>

#include "platform/byteorder.h"

namespace polycom {

namespace {

void WriteHeader(uint8_t* out, OpCode op, const Sender& sender) {
    out[0] = static_cast<uint8_t>(op);
    out[1] = sender.channel;
    platform::StoreBe32(out + 2, sender.serial);
    out[6] = static_cast<uint8_t>(kCallerIdBytes);
    std::memset(out + 7, 0, kCallerIdBytes);
    std::memcpy(out + 7, sender.callerId, ::strnlen(sender.callerId, kCallerIdBytes));
}

}  // namespace

size_t WriteControl(uint8_t* out, OpCode op, const Sender& sender) {
    WriteHeader(out, op, sender);
    return kHeaderBytes;
}

size_t WriteTransmit(uint8_t* out, const Sender& sender, Codec codec, uint32_t sampleCount,
                     const uint8_t* previous, const uint8_t* frame) {
    WriteHeader(out, OpCode::kTransmit, sender);
    out[20] = static_cast<uint8_t>(codec);
    out[21] = 0;  // flags
    platform::StoreBe32(out + 22, sampleCount);
    uint8_t* audio = out + kTransmitHeaderBytes;
    if (previous != nullptr) {
        std::memcpy(audio, previous, kFrameBytes);
        audio += kFrameBytes;
    }
    std::memcpy(audio, frame, kFrameBytes);
    return static_cast<size_t>(audio + kFrameBytes - out);
}

}  // namespace polycom
