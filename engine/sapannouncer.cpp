#include "engine/sapannouncer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <charconv>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/sappackets.h"
#include "playlist/outputcodec.h"
#include "playlist/sessiondescription.h"

namespace {

// The IPv4 address (network byte order) of the named interface, or with no name of the
// first interface that is up, one other than loopback first; 0 when there is none.
uint32_t InterfaceAddress(const char* name) {
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return 0;
    }
    uint32_t found = 0;
    uint32_t loopback = 0;
    for (const ifaddrs* entry = list; entry != nullptr && found == 0; entry = entry->ifa_next) {
        if (entry->ifa_addr == nullptr || entry->ifa_addr->sa_family != AF_INET ||
            (name[0] != '\0' ? std::strcmp(entry->ifa_name, name) != 0
                             : (entry->ifa_flags & IFF_UP) == 0)) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_addr, sizeof address);
        if (name[0] == '\0' && (entry->ifa_flags & IFF_LOOPBACK) != 0) {
            loopback = loopback == 0 ? address.sin_addr.s_addr : loopback;
        } else {
            found = address.sin_addr.s_addr;
        }
    }
    ::freeifaddrs(list);
    return found != 0 ? found : loopback;
}

std::string Dotted(uint32_t networkOrder) {
    char text[INET_ADDRSTRLEN] = {};
    in_addr address{};
    address.s_addr = networkOrder;
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

}  // namespace

bool SapAnnouncer::Open(Announcement& announcement, const RtpDestination& destination) {
    const bool group = destination.IsMulticast();
    platform::UdpSocket& socket = announcement.socket;
    const uint32_t to = group ? sap::ScopeAddress(destination.IP) : destination.IP;
    if (!socket.Open() || !socket.SetMulticastTtl(static_cast<int>(destination.Ttl)) ||
        !socket.SetMulticastInterface(destination.Interface) || !socket.Connect(to, sap::kPort)) {
        return false;
    }
    // The origin: the named interface's address, else the one the route picked; a route of
    // link scope over loopback alone picks none, then an interface's that is up.
    uint32_t origin =
        destination.Interface[0] != '\0' ? InterfaceAddress(destination.Interface) : 0;
    if (origin == 0) {
        origin = socket.LocalAddress();
    }
    if (origin == 0) {
        origin = InterfaceAddress("");
    }
    announcement.origin = origin;
    return true;
}

void SapAnnouncer::Pack(Announcement& announcement) {
    // On the tick, when the codec changes: within the room Add reserved, nothing allocated.
    const uint16_t hash = sap::MessageIdHash(announcement.sdp);
    const size_t bytes = 8 + std::strlen(sap::kPayloadType) + 1 + announcement.sdp.size();
    announcement.announce.resize(bytes);
    announcement.deletion.resize(bytes);
    sap::WritePacket(false, hash, announcement.origin, announcement.sdp,
                     announcement.announce.data(), bytes);
    sap::WritePacket(true, hash, announcement.origin, announcement.sdp,
                     announcement.deletion.data(), bytes);
}

bool SapAnnouncer::Wanted(int32_t mode, const RtpDestination& destination,
                          destinationcheck::SendFault fault) {
    return mode != kSapOff && (destination.IsMulticast() || mode == kSapAll) &&
           destination.Mode != kModePolycom && fault == destinationcheck::SendFault::None;
}

void SapAnnouncer::Start(const std::string& name, const Playlist& playlist, uint64_t version,
                         const uint32_t* sessionIds, const destinationcheck::SendFault* faults) {
    m_announcements.clear();
    m_at.fill(-1);
    m_first = true;
    if (playlist.Files.empty()) {
        return;
    }
    const size_t count = std::min(playlist.Destinations.size(), static_cast<size_t>(kMaxAnnounced));
    m_announcements.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const RtpDestination& destination = playlist.Destinations[i];
        auto made = std::make_unique<Announcement>();
        if (!Wanted(playlist.SapAnnounce, destination, faults[i]) || !Open(*made, destination)) {
            continue;
        }
        made->destination = i;
        SessionOrigin origin;
        origin.host = Dotted(made->origin);
        origin.sessionId = sessionIds[i];
        origin.version = version;
        made->sdp = SessionDescription(name, playlist, destination, origin);
        Pack(*made);
        made->live = true;
        m_announcements.push_back(std::move(made));
    }
}

void SapAnnouncer::Follow(const std::string& name, int32_t mode, int32_t ptimeMs, bool rtcp,
                          uint64_t version) {
    m_announcements.clear();
    m_announcements.reserve(kMaxAnnounced);
    m_at.fill(-1);
    m_first = true;
    m_name = name;
    m_mode = mode;
    m_version = version;
    m_session = Playlist();
    m_session.RtcpReports = rtcp ? 1 : 0;
    m_session.Files.resize(1);
    m_session.Files[0].DstPacketization = ptimeMs;
}

void SapAnnouncer::Add(size_t position, const RtpDestination& destination, uint32_t sessionId,
                       destinationcheck::SendFault fault) {
    if (m_session.Files.empty() || position >= m_at.size() || m_at[position] >= 0) {
        return;  // not following, or known already
    }
    auto made = std::make_unique<Announcement>();
    if (!Wanted(m_mode, destination, fault) || !Open(*made, destination)) {
        return;
    }
    made->destination = position;
    SessionOrigin origin;
    origin.host = Dotted(made->origin);
    origin.sessionId = sessionId;  // version 0: the place each change writes its own into
    const std::string mark = "o=- " + std::to_string(sessionId) + " ";
    size_t longest = 0;
    const int32_t formats[] = {kFormatMulaw, kFormatAlaw, kFormatG722};
    for (size_t k = 0; k < made->variants.size(); ++k) {
        m_session.Files[0].DstFormat = formats[k];
        const std::string sdp = SessionDescription(m_name, m_session, destination, origin);
        const size_t at = sdp.find(mark) + mark.size();
        Variant& variant = made->variants[k];
        variant.payloadType = FindOutputCodec(formats[k])->payloadType;
        variant.head = sdp.substr(0, at);
        variant.tail = sdp.substr(at + 1);
        longest = std::max(longest, variant.head.size() + variant.tail.size());
    }
    const size_t room = longest + 24;  // the version's digits
    made->sdp.reserve(room);
    made->announce.reserve(8 + std::strlen(sap::kPayloadType) + 1 + room);
    made->deletion.reserve(made->announce.capacity());
    m_at[position] = static_cast<int16_t>(m_announcements.size());
    m_announcements.push_back(std::move(made));
}

void SapAnnouncer::Select(Announcement& announcement, int payloadType) {
    if (announcement.payloadType == payloadType) {
        return;
    }
    // A payload type no codec has leaves the description as it was.
    for (const Variant& variant : announcement.variants) {
        if (variant.payloadType != payloadType) {
            continue;
        }
        // RFC 8866 5.2: the version grows with every change of the description.
        char digits[24];
        const auto written = std::to_chars(digits, digits + sizeof digits, ++m_version);
        announcement.sdp.assign(variant.head).append(digits, written.ptr).append(variant.tail);
        Pack(announcement);
        announcement.payloadType = payloadType;
        announcement.live = true;
        announcement.changed = true;
    }
}

void SapAnnouncer::Tick(int64_t nowNs) {
    const bool due = m_first || nowNs >= m_dueNs;
    if (due) {
        m_first = false;
        m_dueNs = nowNs + kIntervalNs;
    }
    for (const auto& announcement : m_announcements) {
        if (announcement->live && (due || announcement->changed)) {
            announcement->changed = false;
            announcement->socket.Send(announcement->announce.data(), announcement->announce.size());
        }
    }
}

void SapAnnouncer::Stop() {
    for (const auto& announcement : m_announcements) {
        if (announcement->live) {
            announcement->socket.Send(announcement->deletion.data(), announcement->deletion.size());
        }
    }
    m_announcements.clear();
    m_at.fill(-1);
    m_session.Files.clear();
}

std::string SapAnnouncer::Description(size_t destination) const {
    for (const auto& announcement : m_announcements) {
        if (announcement->destination == destination) {
            return announcement->sdp;
        }
    }
    return std::string();
}
