#pragma once
// Session Announcement Protocol packets (RFC 2974): the SDP of a stream, announced to the
// group that the stream's administrative scope listens on, and its deletion at the end.
// Built into a caller's buffer; byte order explicit.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace sap {

constexpr uint16_t kPort = 9875;  // RFC 2974 3
constexpr const char* kPayloadType = "application/sdp";

// The announcement address (network byte order) for a group (network byte order): the
// highest address of its administratively scoped range (RFC 2365) - 239.255.255.255 for
// 239.255/16, 239.195.255.255 for 239.192/14, 239.255.255.255 for the rest of 239/8 - and
// 224.2.127.254 for global groups. 0 for an address that is no group.
uint32_t ScopeAddress(uint32_t group);
// A 16-bit message id hash of the description, never 0 (which older receivers read as no
// hash); it changes when the description does.
uint16_t MessageIdHash(std::string_view sdp);
// The packet: header with the origin (network byte order), the payload type and the SDP.
// `deletion` marks it a deletion of the announced session. 0 when it does not fit.
size_t WritePacket(bool deletion, uint16_t hash, uint32_t origin, std::string_view sdp,
                   uint8_t* out, size_t room);

}  // namespace sap
