// The RTCP and SAP packets decoded by a reader written from RFC 3550 6 and RFC 2974 3, not
// from the builders.

#include <arpa/inet.h>
#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "engine/rtcppackets.h"
#include "engine/sappackets.h"

namespace {

uint32_t Be32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) << 24 | static_cast<uint32_t>(p[1]) << 16 |
           static_cast<uint32_t>(p[2]) << 8 | p[3];
}

struct RtcpPart {
    int version = 0;
    bool padding = false;
    int count = 0;
    int type = 0;
    std::vector<uint8_t> body;  // after the 4-byte header
};

// Splits a compound packet at the length fields; empty when a length overruns.
std::vector<RtcpPart> SplitCompound(const std::vector<uint8_t>& packet) {
    std::vector<RtcpPart> parts;
    size_t at = 0;
    while (at + 4 <= packet.size()) {
        const size_t bytes = (static_cast<size_t>(packet[at + 2]) << 8 | packet[at + 3]) * 4 + 4;
        if (at + bytes > packet.size()) {
            return {};
        }
        RtcpPart part;
        part.version = packet[at] >> 6;
        part.padding = (packet[at] & 0x20) != 0;
        part.count = packet[at] & 0x1F;
        part.type = packet[at + 1];
        part.body.assign(packet.begin() + static_cast<long>(at + 4),
                         packet.begin() + static_cast<long>(at + bytes));
        parts.push_back(part);
        at += bytes;
    }
    return at == packet.size() ? parts : std::vector<RtcpPart>{};
}

}  // namespace

TEST(RtcpPackets, CompoundReportDecodesAsRfc3550Says) {
    std::vector<uint8_t> packet(600, 0xEE);
    rtcp::SenderInfo info;
    info.ssrc = 25;
    // 2026-01-01 00:00:00.25 UTC
    info.ntp = rtcp::NtpFromUnixNs(1767225600LL * 1000000000 + 250000000);
    info.rtpTimestamp = 0xFFFFFF00u;
    info.packets = 1234;
    info.octets = 1234 * 160;
    size_t size = rtcp::WriteSenderReport(info, packet.data(), packet.size());
    // CNAMEs of every length around the padding boundaries, and one too long.
    for (const size_t cnameLength : {0u, 1u, 2u, 3u, 4u, 5u, 300u}) {
        SCOPED_TRACE(cnameLength);
        const std::string cname(cnameLength, 'h');
        size_t total =
            size + rtcp::WriteCname(25, cname, packet.data() + size, packet.size() - size);
        total += rtcp::WriteBye(25, packet.data() + total, packet.size() - total);
        const auto parts =
            SplitCompound({packet.begin(), packet.begin() + static_cast<long>(total)});
        ASSERT_EQ(parts.size(), 3u);
        for (const RtcpPart& part : parts) {
            EXPECT_EQ(part.version, 2);
            EXPECT_FALSE(part.padding);
        }
        // Sender report: SSRC, NTP seconds since 1900 and fraction, RTP time, counts.
        ASSERT_EQ(parts[0].type, 200);
        EXPECT_EQ(parts[0].count, 0);
        ASSERT_EQ(parts[0].body.size(), 24u);
        EXPECT_EQ(Be32(&parts[0].body[0]), 25u);
        EXPECT_EQ(Be32(&parts[0].body[4]), 1767225600u + 2208988800u);
        EXPECT_EQ(Be32(&parts[0].body[8]), 0x40000000u);  // a quarter second
        EXPECT_EQ(Be32(&parts[0].body[12]), 0xFFFFFF00u);
        EXPECT_EQ(Be32(&parts[0].body[16]), 1234u);
        EXPECT_EQ(Be32(&parts[0].body[20]), 1234u * 160);
        // SDES: one chunk, the CNAME item, then NULs to the word boundary (at least one).
        ASSERT_EQ(parts[1].type, 202);
        EXPECT_EQ(parts[1].count, 1);
        const auto& sdes = parts[1].body;
        ASSERT_GE(sdes.size(), 8u);
        EXPECT_EQ(sdes.size() % 4, 0u);
        EXPECT_EQ(Be32(&sdes[0]), 25u);
        EXPECT_EQ(sdes[4], 1);
        const size_t length = sdes[5];
        EXPECT_EQ(length, std::min<size_t>(cnameLength, 255));
        ASSERT_LT(6 + length, sdes.size());
        EXPECT_EQ(std::string(sdes.begin() + 6, sdes.begin() + 6 + static_cast<long>(length)),
                  cname.substr(0, length));
        for (size_t i = 6 + length; i < sdes.size(); ++i) {
            EXPECT_EQ(sdes[i], 0) << i;
        }
        EXPECT_LE(sdes.size() - 6 - length, 4u);
        // BYE of the one source.
        ASSERT_EQ(parts[2].type, 203);
        EXPECT_EQ(parts[2].count, 1);
        ASSERT_EQ(parts[2].body.size(), 4u);
        EXPECT_EQ(Be32(&parts[2].body[0]), 25u);
    }
    // Too little room: nothing written.
    EXPECT_EQ(rtcp::WriteSenderReport(info, packet.data(), 27), 0u);
    EXPECT_EQ(rtcp::WriteCname(25, "host", packet.data(), 15), 0u);
    EXPECT_EQ(rtcp::WriteBye(25, packet.data(), 7), 0u);
}

TEST(SapPackets, AnnouncementAndDeletionDecodeAsRfc2974Says) {
    const std::string sdp = "v=0\r\no=- 25 1 IN IP4 127.0.0.1\r\ns=lobby\r\n";
    const uint16_t hash = sap::MessageIdHash(sdp);
    EXPECT_NE(hash, 0);
    EXPECT_NE(sap::MessageIdHash(sdp + "a=ptime:40\r\n"), hash);
    const uint32_t origin = ::inet_addr("127.0.0.1");
    for (const bool deletion : {false, true}) {
        std::vector<uint8_t> packet(512);
        const size_t size =
            sap::WritePacket(deletion, hash, origin, sdp, packet.data(), packet.size());
        ASSERT_GT(size, 8u);
        EXPECT_EQ(packet[0] >> 5, 1);               // version 1
        EXPECT_EQ((packet[0] >> 4) & 1, 0);         // A: IPv4 origin
        EXPECT_EQ((packet[0] >> 2) & 1, deletion);  // T
        EXPECT_EQ(packet[0] & 3, 0);                // not encrypted, not compressed
        EXPECT_EQ(packet[1], 0);                    // no authentication
        EXPECT_EQ(packet[2] << 8 | packet[3], hash);
        uint32_t from = 0;
        std::memcpy(&from, &packet[4], 4);
        EXPECT_EQ(from, origin);
        const std::string rest(packet.begin() + 8, packet.begin() + static_cast<long>(size));
        const size_t nul = rest.find('\0');
        ASSERT_NE(nul, std::string::npos);
        EXPECT_EQ(rest.substr(0, nul), "application/sdp");
        EXPECT_EQ(rest.substr(nul + 1), sdp);
        EXPECT_EQ(sap::WritePacket(deletion, hash, origin, sdp, packet.data(), size - 1), 0u);
    }
    // Scopes (RFC 2365, RFC 2974 3).
    const auto scope = [](const char* group) {
        const uint32_t address = sap::ScopeAddress(::inet_addr(group));
        return address == 0 ? std::string() : std::string(::inet_ntoa(in_addr{address}));
    };
    EXPECT_EQ(scope("224.2.1.1"), "224.2.127.254");
    EXPECT_EQ(scope("238.255.255.255"), "224.2.127.254");
    EXPECT_EQ(scope("239.255.18.1"), "239.255.255.255");
    EXPECT_EQ(scope("239.192.0.1"), "239.195.255.255");
    EXPECT_EQ(scope("239.195.255.254"), "239.195.255.255");
    EXPECT_EQ(scope("239.196.0.1"), "239.255.255.255");
    EXPECT_EQ(scope("127.0.0.1"), "");
    EXPECT_EQ(scope("240.0.0.1"), "");
}
