#include "engine/rtcppackets.h"

#include <algorithm>
#include <cstring>

#include "platform/byteorder.h"

namespace rtcp {
namespace {

constexpr uint8_t kVersion = 0x80;                 // V=2, no padding (RFC 3550 6.4)
constexpr int64_t kNtpUnixOffsetS = 2208988800LL;  // 1900-01-01 to 1970-01-01
constexpr int64_t kNsPerSecond = 1000000000;

// The common header: version, count, type and length in 32-bit words minus one.
void WriteHeader(uint8_t* out, uint8_t count, uint8_t type, size_t bytes) {
    out[0] = static_cast<uint8_t>(kVersion | (count & 0x1F));
    out[1] = type;
    platform::StoreBe16(out + 2, static_cast<uint16_t>(bytes / 4 - 1));
}

}  // namespace

uint64_t NtpFromUnixNs(int64_t unixNs) {
    const int64_t seconds = unixNs / kNsPerSecond + kNtpUnixOffsetS;
    const int64_t ns = unixNs % kNsPerSecond;
    const uint64_t fraction = (static_cast<uint64_t>(ns) << 32) / kNsPerSecond;
    return (static_cast<uint64_t>(seconds) << 32) | fraction;
}

size_t WriteSenderReport(const SenderInfo& info, uint8_t* out, size_t room) {
    constexpr size_t kBytes = 28;
    if (room < kBytes) {
        return 0;
    }
    WriteHeader(out, 0, kSenderReport, kBytes);
    platform::StoreBe32(out + 4, info.ssrc);
    platform::StoreBe32(out + 8, static_cast<uint32_t>(info.ntp >> 32));
    platform::StoreBe32(out + 12, static_cast<uint32_t>(info.ntp & 0xFFFFFFFFu));
    platform::StoreBe32(out + 16, info.rtpTimestamp);
    platform::StoreBe32(out + 20, info.packets);
    platform::StoreBe32(out + 24, info.octets);
    return kBytes;
}

size_t WriteCname(uint32_t ssrc, std::string_view cname, uint8_t* out, size_t room) {
    const size_t length = std::min(cname.size(), kMaxCnameBytes);
    // Header, SSRC, type and length octets, the text, then at least one NUL to the next word.
    const size_t bytes = (4 + 4 + 2 + length + 1 + 3) / 4 * 4;
    if (room < bytes) {
        return 0;
    }
    std::memset(out, 0, bytes);
    WriteHeader(out, 1, kSourceDescription, bytes);
    platform::StoreBe32(out + 4, ssrc);
    out[8] = kCname;
    out[9] = static_cast<uint8_t>(length);
    std::memcpy(out + 10, cname.data(), length);
    return bytes;
}

size_t WriteBye(uint32_t ssrc, uint8_t* out, size_t room) {
    constexpr size_t kBytes = 8;
    if (room < kBytes) {
        return 0;
    }
    WriteHeader(out, 1, kBye, kBytes);
    platform::StoreBe32(out + 4, ssrc);
    return kBytes;
}

}  // namespace rtcp
