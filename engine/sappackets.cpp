#include "engine/sappackets.h"

#include <cstring>

#include "platform/byteorder.h"

namespace sap {
namespace {

constexpr uint8_t kVersion1 = 0x20;             // V=1, IPv4 origin, not encrypted, not compressed
constexpr uint8_t kDeletionBit = 0x04;          // T
constexpr uint32_t kGlobalScope = 0xE0027FFEu;  // 224.2.127.254

uint32_t Host(uint32_t networkOrder) {
    uint8_t bytes[4];
    std::memcpy(bytes, &networkOrder, sizeof bytes);
    return platform::LoadBe32(bytes);
}

uint32_t Network(uint32_t host) {
    uint8_t bytes[4];
    platform::StoreBe32(bytes, host);
    uint32_t value = 0;
    std::memcpy(&value, bytes, sizeof value);
    return value;
}

}  // namespace

uint32_t ScopeAddress(uint32_t group) {
    const uint32_t address = Host(group);
    if ((address >> 28) != 0xE) {
        return 0;
    }
    if ((address >> 24) != 239) {
        return Network(kGlobalScope);
    }
    if ((address >> 18) == (0xEFC00000u >> 18)) {  // 239.192.0.0/14
        return Network(0xEFC3FFFFu);
    }
    return Network(0xEFFFFFFFu);
}

uint16_t MessageIdHash(std::string_view sdp) {
    // FNV-1a, folded to 16 bits.
    uint32_t hash = 2166136261u;
    for (const char c : sdp) {
        hash = (hash ^ static_cast<uint8_t>(c)) * 16777619u;
    }
    const auto folded = static_cast<uint16_t>((hash >> 16) ^ (hash & 0xFFFF));
    return folded == 0 ? 1 : folded;
}

size_t WritePacket(bool deletion, uint16_t hash, uint32_t origin, std::string_view sdp,
                   uint8_t* out, size_t room) {
    const size_t typeBytes = std::strlen(kPayloadType) + 1;
    const size_t bytes = 8 + typeBytes + sdp.size();
    if (room < bytes) {
        return 0;
    }
    out[0] = static_cast<uint8_t>(kVersion1 | (deletion ? kDeletionBit : 0));
    out[1] = 0;  // no authentication data
    platform::StoreBe16(out + 2, hash);
    std::memcpy(out + 4, &origin, 4);  // already in network byte order
    std::memcpy(out + 8, kPayloadType, typeBytes);
    std::memcpy(out + 8 + typeBytes, sdp.data(), sdp.size());
    return bytes;
}

}  // namespace sap
