#pragma once
// The SPA-style control packet that frames an RTP stream for phones that want to be told: 16
// bytes of four big-endian 32-bit fields (an id, the command, the RTP stream's IPv4 address
// and its port), sent twice before the first RTP packet (start) and twice after the last
// (stop), to the destination's control address. Pure; any thread.

#include <cstddef>
#include <cstdint>

namespace spa {

constexpr size_t kPacketBytes = 16;
constexpr int kRepeats = 2;  // each command goes twice: UDP may lose one
enum class Command : uint32_t { kStart = 6, kStop = 7 };

// Writes the packet; ip in network byte order (its bytes go out as they lie), port in host
// byte order.
void WritePacket(uint8_t (&out)[kPacketBytes], uint32_t id, Command command, uint32_t ip,
                 uint16_t port);

}  // namespace spa
