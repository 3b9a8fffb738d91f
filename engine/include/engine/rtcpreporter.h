#pragma once
// RTCP for the transmitter's senders while a run streams (RFC 3550 6): every 5 s, randomised
// 0.5-1.5 times (6.2), a compound sender report with the source's CNAME to each destination
// that has been sent to, and at the end of the run a last report with BYE. Each goes from
// the port above its RTP socket's (another when that is taken) to the destination's port + 1,
// with the destination's TTL and interface. The timestamps pair the wall clock with the
// sender's RTP clock at one instant, so a receiver's RTP-to-wallclock mapping holds across
// entries and pages (the transmitter's RTP clock follows the sending clock). The counts are
// of what left.
//
// Streaming worker only. Start prepares sockets and buffers; Tick and Stop only build into
// them and send.

#include <array>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

#include "platform/udpsocket.h"
#include "playlist/playlist.h"

class Transmitter;

class RtcpReporter {
public:
    static constexpr int64_t kIntervalNs = 5000000000;
    static constexpr size_t kPacketBytes = 28 + 4 + 4 + 2 + 256 + 8 + 4;  // SR, SDES, BYE

    // Prepares a report for each destination (the transmitter's, in its order) whose port + 1
    // exists and that hears RTP (not Polycom); the first reports fall due within 0.5-1.5
    // intervals of nowNs.
    void Start(const std::vector<RtpDestination>& destinations, const std::string& cname,
               int64_t nowNs);
    // The destination at the next position, for a transmitter whose list grows (a server's
    // bank); its first report falls due as Start's do. Opens a socket: off the tick.
    void Add(const RtpDestination& destination, int64_t nowNs);
    // The positions prepared so far.
    size_t Count() const { return m_count; }
    // Sends the reports due at tickNs (a tick deadline; wallNs the wall clock then).
    void Tick(const Transmitter& transmitter, int64_t tickNs, int64_t wallNs);
    // A last report with BYE to every destination that has been sent to; idle afterwards.
    void Stop(const Transmitter& transmitter, int64_t tickNs, int64_t wallNs);
    bool Active() const { return m_active; }

private:
    struct Target {
        platform::UdpSocket socket;
        RtpDestination destination;
        int64_t dueNs = 0;
        bool bound = false;
    };
    // Builds and sends sender i's compound packet; nothing when it has sent no packet yet.
    void Report(const Transmitter& transmitter, size_t i, int64_t tickNs, int64_t wallNs, bool bye);
    int64_t NextInterval();

    std::vector<Target> m_targets;  // index: the destination's, and its sender's
    size_t m_count = 0;             // of m_targets, the positions prepared
    std::string m_cname;
    std::array<uint8_t, kPacketBytes> m_packet{};
    std::minstd_rand m_random;
    bool m_active = false;
};
