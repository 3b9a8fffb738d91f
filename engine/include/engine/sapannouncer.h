#pragma once
// SAP announcements (RFC 2974) of a run's streams: for each multicast destination the SDP
// that `sonvex-cli sdp` writes for it, sent to its scope's announcement group every 5 s,
// and a deletion when the run ends. Unicast destinations are announced only when the
// playlist asks for it (kSapAll), and then to the destination host itself at the SAP port:
// a receiver there learns of its stream, and nothing goes to a group on the sender's
// network. Each announcement leaves with the destination's TTL and interface; its origin is
// the address of the interface it leaves by. A Polycom destination hears no RTP and is not
// announced.
//
// A server's stream changes holders, and codecs with them (Follow): each of its destinations
// is announced from its first packet on with the payload type last sent to it, and a change
// goes out at the next Tick with a new o= version; the descriptions of every codec are made
// when the destination comes, so the packets' path allocates nothing.
//
// The transmitter's, on the streaming worker only. Start prepares sockets and packets; Tick and
// Stop only send.

#include <array>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "platform/udpsocket.h"
#include "playlist/destinationcheck.h"
#include "playlist/playlist.h"

class SapAnnouncer {
public:
    static constexpr int64_t kIntervalNs = 5000000000;
    // The destinations that have a sender, and so a stream to announce.
    static constexpr size_t kMaxAnnounced = 100;

    SapAnnouncer() { m_at.fill(-1); }

    // Prepares the announcements the playlist's SapAnnounce asks for; the first ones go out
    // at the first Tick. `name` is the playlist's, `version` the SDP's o= version; the o=
    // session of destination i is sessionIds[i] (its sender's SSRC); a destination whose
    // fault is not None is not sent to, and so not announced.
    void Start(const std::string& name, const Playlist& playlist, uint64_t version,
               const uint32_t* sessionIds, const destinationcheck::SendFault* faults);
    // A server's announcements, in place of Start: `mode` a SapAnnounceMode, `ptimeMs` every
    // packet's time, `rtcp` whether reports go to port + 1; none until Add.
    void Follow(const std::string& name, int32_t mode, int32_t ptimeMs, bool rtcp,
                uint64_t version);
    // The destination at this position of the transmitter's list (Follow only; opens a
    // socket, off the tick); `sessionId` its sender's SSRC.
    void Add(size_t position, const RtpDestination& destination, uint32_t sessionId,
             destinationcheck::SendFault fault);
    // A packet of `payloadType` goes to the destination at this position (Follow only; on the
    // packets' path: allocates nothing).
    void Sending(size_t position, int payloadType) {
        if (position < m_at.size() && m_at[position] >= 0) {
            Select(*m_announcements[static_cast<size_t>(m_at[position])], payloadType);
        }
    }
    void Tick(int64_t nowNs);
    // Deletions of everything announced; idle afterwards.
    void Stop();
    size_t Count() const { return m_announcements.size(); }
    // The SDP announced for the destination at this position of the list; empty when none.
    std::string Description(size_t destination) const;

private:
    // Follow: one codec's description, cut where its o= version goes.
    struct Variant {
        int payloadType = -1;
        std::string head;
        std::string tail;
    };
    struct Announcement {
        size_t destination = 0;
        std::string sdp;
        std::vector<uint8_t> announce;
        std::vector<uint8_t> deletion;
        platform::UdpSocket socket;
        uint32_t origin = 0;   // network byte order
        bool live = false;     // has a description to send
        bool changed = false;  // sent at the next Tick, whatever the interval
        int payloadType = -1;  // Follow: the one described now
        std::array<Variant, 3> variants;
    };
    // The announcement's socket connected to its group or host, with its origin; false when
    // it cannot be.
    static bool Open(Announcement& announcement, const RtpDestination& destination);
    // Writes the announcement's and deletion's packets for its sdp.
    static void Pack(Announcement& announcement);
    // Whether the destination is announced under `mode` (a SapAnnounceMode).
    static bool Wanted(int32_t mode, const RtpDestination& destination,
                       destinationcheck::SendFault fault);
    void Select(Announcement& announcement, int payloadType);

    std::vector<std::unique_ptr<Announcement>> m_announcements;  // sockets stay put
    std::array<int16_t, kMaxAnnounced> m_at;  // Follow: position -> announcement, -1 none
    int64_t m_dueNs = 0;
    bool m_first = true;
    // Follow's session.
    std::string m_name;
    Playlist m_session;  // no destinations; one file per codec is made from it
    int32_t m_mode = 0;
    uint64_t m_version = 0;
};
