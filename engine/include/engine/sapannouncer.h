#pragma once
// SAP announcements (RFC 2974) of a run's streams: for each multicast destination the SDP
// that `sonvex-cli sdp` writes for it, sent to its scope's announcement group every 5 s,
// and a deletion when the run ends. Unicast destinations are announced only when the
// playlist asks for it (kSapAll), and then to the destination host itself at the SAP port:
// a receiver there learns of its stream, and nothing goes to a group on the sender's
// network. Each announcement leaves with the destination's TTL and interface; its origin is
// the address of the interface it leaves by.
//
// The transmitter's, on the streaming worker only. Start prepares sockets and packets; Tick and
// Stop only send.

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

    // Prepares the announcements the playlist's SapAnnounce asks for; the first ones go out
    // at the first Tick. `name` is the playlist's, `version` the SDP's o= version; the o=
    // session of destination i is sessionIds[i] (its sender's SSRC); a destination whose
    // fault is not None is not sent to, and so not announced.
    void Start(const std::string& name, const Playlist& playlist, uint64_t version,
               const uint32_t* sessionIds, const destinationcheck::SendFault* faults);
    void Tick(int64_t nowNs);
    // Deletions of everything announced; idle afterwards.
    void Stop();
    size_t Count() const { return m_announcements.size(); }
    // The SDP announced for the destination at this position of the list; empty when none.
    std::string Description(size_t destination) const;

private:
    struct Announcement {
        size_t destination = 0;
        std::string sdp;
        std::vector<uint8_t> announce;
        std::vector<uint8_t> deletion;
        platform::UdpSocket socket;
    };
    std::vector<std::unique_ptr<Announcement>> m_announcements;  // sockets stay put
    int64_t m_dueNs = 0;
    bool m_first = true;
};
