#pragma once
// What reaches the wire, whatever feeds it: one RTP sender per destination position (its
// socket, SSRC, sequence, timestamp, marker, DSCP, TTL and interface), the batched fan-out of
// each packet, and the run's RTCP reports and SAP announcements. The sources (a playlist's
// entries, a live page) hand it the payload of each packet and the instant of the sending
// clock the packet stands for; which source that is, it never learns.
//
// Timestamps follow the sending clock (RFC 3550 5.1): each packet continues its sender's
// timestamp, and the instants that passed without a packet (the pause between two files, a
// device that stalled) advance it. Every run draws a new random SSRC, first sequence number
// and first timestamp for each sender, so two runs, processes or machines reaching one
// receiver never look like one source.
//
// A destination in Polycom mode hears no RTP: its packets' audio goes to its own paging sender
// (polycomsender.h), which sends the session on its own deadlines, about a second behind the
// RTP destinations (the Alert burst comes first), and ends it when the run ends (Quiet, a
// list that no longer holds it, End; End waits for the last End packet).
//
// A destination in SPA mode is told to start (twice, to its control address) just before its
// first RTP packet, and to stop (twice) after its last: when the run ends, when the list no
// longer holds it, or when nothing holds it for now (Quiet).
//
// Streaming worker only (one thread at a time). Begin opens, connects and allocates; Send,
// Tick and MarkChange allocate nothing.

#include <array>
#include <climits>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "engine/polycomsender.h"
#include "engine/rtcpreporter.h"
#include "engine/rtpfanout.h"
#include "engine/rtpprocessor.h"
#include "engine/sapannouncer.h"
#include "engine/spacontrol.h"
#include "platform/netinterfaces.h"
#include "playlist/destinationcheck.h"
#include "playlist/playlist.h"

class Transmitter {
public:
    static constexpr int kSenderCount = 100;
    static constexpr int64_t kNoClock = INT64_MIN;

    // Sized for kSenderCount senders, each with a random SSRC, sequence and timestamp.
    Transmitter();
    Transmitter(const Transmitter&) = delete;
    Transmitter& operator=(const Transmitter&) = delete;
    ~Transmitter();

    // A run starts: new random SSRC, sequence and timestamp for every sender, the marker on
    // each one's first packet; the playlist's destinations taken and checked, and each
    // sender's socket opened and connected now, so that the first packet keeps its deadline
    // like every other; RTCP and SAP prepared as the playlist asks (`name` titles the SDP).
    void Begin(const Playlist& run, const std::string& name, int64_t nowNs, int64_t wallNs);
    // What a server's bank sends besides the packets: reports, and announcements (a
    // SapAnnounceMode) titled `name` of packets `ptimeMs` long.
    struct Extras {
        bool rtcp = false;
        int32_t sap = kSapOff;
        std::string name;
        int32_t ptimeMs = 20;
    };
    // A server's run, a bank of its senders: Begin for destinations that many sources share,
    // whose list only grows (Grow); each destination is reported and announced as `extras`
    // asks, its announcement naming the payload type last sent to it.
    void BeginShared(const std::vector<RtpDestination>& destinations, const Extras& extras,
                     int64_t nowNs, int64_t wallNs);
    // The shared list with new destinations after those it had: each gets its sender, and
    // its reports and announcement as BeginShared asked.
    void Grow(const std::vector<RtpDestination>& destinations, int64_t nowNs);
    // The destinations an entry or a page goes to (at most kSenderCount of them); checked
    // again only when the list or the machine's interfaces changed since the last check.
    void UseDestinations(const std::vector<RtpDestination>& destinations);
    // Sends one packet of `length` payload bytes to every destination not left out and
    // returns how many datagrams left. instantNs: the sending clock's instant the packet's
    // first sample stands for; rate: the RTP clock in Hz.
    size_t Send(const uint8_t* payload, int length, int payloadType, int64_t instantNs,
                int32_t rate);
    // The same, to the destinations whose `wanted` byte is 1 (one per position) only: a
    // server whose destinations hear different sources sends each its own payload.
    size_t SendTo(const uint8_t* payload, int length, int payloadType, int64_t instantNs,
                  int32_t rate, const uint8_t* wanted);
    // Another source takes over: every sender marks its next packet.
    void MarkChange();
    // Another source takes this destination over.
    void MarkChange(size_t index);
    // The holder of this destination has this priority: a Polycom destination that follows
    // priorities takes the channel it calls for (polycom::ChannelFor).
    void HolderPriority(size_t index, int priority);
    // Nothing is sent to this destination for now: a started SPA receiver is told to stop,
    // and the next packet to it starts it again.
    void Quiet(size_t index);
    // Sends the RTCP reports and SAP announcements due at nowNs (monotonic; wallNs the wall
    // clock then).
    void Tick(int64_t nowNs, int64_t wallNs);
    // The run ends: one last report with BYE to every destination sent to, the SAP deletions,
    // the SPA stops; nothing more until the next Begin. Harmless when no run is on.
    void End(int64_t nowNs, int64_t wallNs);

    size_t DestinationCount() const { return m_count; }
    const std::vector<RtpDestination>& Destinations() const { return m_destinations; }
    // Why the destination at this position is left out (None: it is sent to).
    destinationcheck::SendFault Fault(size_t index) const {
        return index < m_count ? m_faults[index] : destinationcheck::SendFault::None;
    }
    const RtpProcessor& Sender(size_t index) const { return m_senders[index]; }
    // Sender i's clock: the monotonic instant its next timestamp, Sender(i).Timestamp(),
    // falls due at, ticking at ClockRate(); kNoClock before its first packet.
    int64_t TimestampDueNs(size_t index) const { return m_dueNs[index]; }
    int32_t ClockRate() const { return m_clockRate; }
    const SapAnnouncer& Announcer() const { return m_sap; }
    platform::UdpBatch::Mode BatchMode() const { return m_fanOut.ActiveMode(); }

private:
    // New random identities for every sender, the SSRCs distinct from one another.
    void DrawIdentities();
    // Checks the destinations against the machine's interfaces and points each sender's
    // socket at its destination.
    void Prepare();
    // Moves sender i's timestamp over the instants since its last packet that carried none.
    void FollowClock(size_t i, int64_t instantNs, int length);
    // Reports and announcements for the shared list's positions from m_extended on.
    void Extend(int64_t nowNs);
    // The SPA command, twice, to destination i's control address.
    void SendControl(size_t i, spa::Command command);
    // Every started SPA receiver is told to stop.
    void StopControls();

    std::array<RtpProcessor, kSenderCount> m_senders;
    RtpFanOut m_fanOut{kSenderCount};
    std::vector<RtpDestination> m_destinations;
    size_t m_count = 0;  // destinations with a sender
    std::array<destinationcheck::SendFault, kSenderCount> m_faults{};
    std::array<uint8_t, kSenderCount> m_sendMask{};  // 1: sent to
    std::array<int64_t, kSenderCount> m_dueNs{};
    std::array<platform::UdpSocket, kSenderCount> m_control;  // SPA: to the control address
    std::array<uint8_t, kSenderCount> m_started{};            // 1: SPA start sent, stop not yet
    // Polycom destinations' senders, made when the list is taken (off the tick).
    std::array<std::unique_ptr<PolycomSender>, kSenderCount> m_polycom;
    int32_t m_clockRate = 8000;
    bool m_checked = false;  // m_faults describe m_destinations
    platform::InterfaceWatch m_interfaces;
    std::mt19937 m_random;
    RtcpReporter m_rtcp;
    SapAnnouncer m_sap;
    bool m_running = false;
    bool m_shared = false;  // BeginShared's run
    size_t m_extended = 0;  // positions given their reports and announcement
};
