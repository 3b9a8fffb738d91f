#include "engine/spacontrol.h"

#include <cstring>

#include "platform/byteorder.h"

namespace spa {

void WritePacket(uint8_t (&out)[kPacketBytes], uint32_t id, Command command, uint32_t ip,
                 uint16_t port) {
    platform::StoreBe32(out, id);
    platform::StoreBe32(out + 4, static_cast<uint32_t>(command));
    std::memcpy(out + 8, &ip, sizeof ip);  // already in network order
    platform::StoreBe32(out + 12, port);
}

}  // namespace spa
