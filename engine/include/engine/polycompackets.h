#pragma once
// The group paging / push-to-talk packets of Polycom phones: UDP datagrams, not RTP, all
// fields big-endian. Every packet opens with a 20-byte header: the op code, the channel (1-25
// push-to-talk, 26-50 group paging groups 1-25), the sender's serial number (on a collision the
// lower one keeps transmitting), the caller ID's padded length (13) and the caller ID, ASCII,
// NUL-padded. A Transmit then carries the codec, flags (0), a sample count that steps 160 per
// 20 ms packet whichever the codec (the 8 kHz clock), and the audio: the current 20 ms frame
// alone in the first Transmit of a session, the previous frame and then the current one in
// every later one, so that a phone that lost one packet still plays its audio. Pure; any
// thread.

#include <cstddef>
#include <cstdint>

#include "playlist/playlist.h"

namespace polycom {

enum class OpCode : uint8_t { kAlert = 0x0F, kTransmit = 0x10, kEnd = 0xFF };
enum class Codec : uint8_t { kMulaw = 0x00, kG722 = 0x09 };

constexpr uint32_t kDefaultGroup = 0xE0000174;  // 224.0.1.116
constexpr uint16_t kDefaultPort = 5001;
constexpr int kMinChannel = 1;
constexpr int kMaxChannel = 50;
constexpr size_t kCallerIdBytes = 13;
constexpr size_t kHeaderBytes = 20;
constexpr size_t kTransmitHeaderBytes = 26;
constexpr size_t kFrameBytes = 160;  // 20 ms of mu-law or of G.722 at 64 kbit/s
constexpr uint32_t kSamplesPerFrame = 160;
constexpr size_t kMaxPacketBytes = kTransmitHeaderBytes + 2 * kFrameBytes;  // 346

// Who sends: the channel, the serial and the caller ID (at most 13 bytes are sent).
struct Sender {
    uint8_t channel = 26;  // group paging group 1
    uint32_t serial = 0;
    char callerId[kCallerIdBytes + 1] = {};
};

// Each range of 25 (push-to-talk 1-25, group paging 26-50) ends in its priority and emergency
// channels.
constexpr int kRangeChannels = 25;
constexpr int kPriorityChannel = 24;   // of the range: 24 or 49
constexpr int kEmergencyChannel = 25;  // 25 or 50

// The channel a source of `priority` goes out on to a destination of `channel` that follows
// priorities: an emergency (kPriorityEmergency) on its range's emergency channel, an
// announcement or above (kDefaultAnnouncementPriority: announcements and live pages) on its
// priority channel, anything below on the destination's own.
constexpr int ChannelFor(int channel, int priority) {
    const int range = channel > kRangeChannels ? kRangeChannels : 0;
    return priority >= kPriorityEmergency             ? range + kEmergencyChannel
           : priority >= kDefaultAnnouncementPriority ? range + kPriorityChannel
                                                      : channel;
}

// How much a channel overrides: 2 an emergency channel, 1 a priority channel, 0 any other.
constexpr int ChannelRank(int channel) {
    return channel % kRangeChannels == 0 ? 2 : channel % kRangeChannels == kPriorityChannel ? 1 : 0;
}

// An Alert or End packet; returns its kHeaderBytes.
size_t WriteControl(uint8_t* out, OpCode op, const Sender& sender);
// A Transmit of `frame` (kFrameBytes), after `previous` when there is one (null for the first
// of a session); returns its length, 186 or 346 bytes.
size_t WriteTransmit(uint8_t* out, const Sender& sender, Codec codec, uint32_t sampleCount,
                     const uint8_t* previous, const uint8_t* frame);

}  // namespace polycom
