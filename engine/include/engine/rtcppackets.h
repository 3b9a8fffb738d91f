#pragma once
// The RTCP packets a sender sends (RFC 3550 6): the sender report, the source description
// with its CNAME, and BYE, each built into a caller's buffer so that the streaming worker
// builds them without allocating. Byte order explicit; every function returns the bytes
// written, or 0 when the buffer is too small.

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace rtcp {

constexpr uint8_t kSenderReport = 200;       // RFC 3550 6.4.1
constexpr uint8_t kSourceDescription = 202;  // RFC 3550 6.5
constexpr uint8_t kBye = 203;                // RFC 3550 6.6
constexpr uint8_t kCname = 1;                // SDES item type
constexpr size_t kMaxCnameBytes = 255;       // one length octet

// 64-bit NTP time (RFC 5905: seconds since 1900 in the high word, fraction in the low) of
// a system-clock time in nanoseconds since 1970.
uint64_t NtpFromUnixNs(int64_t unixNs);

struct SenderInfo {
    uint32_t ssrc = 0;
    uint64_t ntp = 0;           // wallclock of the report
    uint32_t rtpTimestamp = 0;  // the same instant on the RTP clock
    uint32_t packets = 0;       // sender's packet count
    uint32_t octets = 0;        // sender's payload octet count
};

// An SR with no report blocks (the sender receives nothing): 28 bytes.
size_t WriteSenderReport(const SenderInfo& info, uint8_t* out, size_t room);
// An SDES with one chunk: the SSRC and its CNAME, NUL-ended and padded to 32 bits. A CNAME
// longer than kMaxCnameBytes is cut there.
size_t WriteCname(uint32_t ssrc, std::string_view cname, uint8_t* out, size_t room);
// A BYE of one source, no reason: 8 bytes.
size_t WriteBye(uint32_t ssrc, uint8_t* out, size_t room);

}  // namespace rtcp
