#include "engine/sapannouncer.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <cstring>
#include <memory>
#include <utility>

#include "engine/sappackets.h"
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

void SapAnnouncer::Start(const std::string& name, const Playlist& playlist, uint64_t version,
                         const uint32_t* sessionIds, const destinationcheck::SendFault* faults) {
    m_announcements.clear();
    m_first = true;
    if (playlist.SapAnnounce == kSapOff || playlist.Files.empty()) {
        return;
    }
    const size_t count = std::min(playlist.Destinations.size(), static_cast<size_t>(kMaxAnnounced));
    m_announcements.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        const RtpDestination& destination = playlist.Destinations[i];
        const bool group = destination.IsMulticast();
        if ((!group && playlist.SapAnnounce != kSapAll) ||
            faults[i] != destinationcheck::SendFault::None) {
            continue;
        }
        auto made = std::make_unique<Announcement>();
        Announcement& announcement = *made;
        announcement.destination = i;
        platform::UdpSocket& socket = announcement.socket;
        const uint32_t to = group ? sap::ScopeAddress(destination.IP) : destination.IP;
        if (!socket.Open() || !socket.SetMulticastTtl(static_cast<int>(destination.Ttl)) ||
            !socket.SetMulticastInterface(destination.Interface) ||
            !socket.Connect(to, sap::kPort)) {
            continue;
        }
        // The origin: the named interface's address, else the one the route picked; a
        // route of link scope over loopback alone picks none, then an interface's that is up.
        uint32_t origin =
            destination.Interface[0] != '\0' ? InterfaceAddress(destination.Interface) : 0;
        if (origin == 0) {
            origin = socket.LocalAddress();
        }
        if (origin == 0) {
            origin = InterfaceAddress("");
        }
        SessionOrigin sessionOrigin;
        sessionOrigin.host = Dotted(origin);
        sessionOrigin.sessionId = sessionIds[i];
        sessionOrigin.version = version;
        announcement.sdp = SessionDescription(name, playlist, destination, sessionOrigin);
        const uint16_t hash = sap::MessageIdHash(announcement.sdp);
        const size_t bytes = 8 + std::strlen(sap::kPayloadType) + 1 + announcement.sdp.size();
        announcement.announce.resize(bytes);
        announcement.deletion.resize(bytes);
        sap::WritePacket(false, hash, origin, announcement.sdp, announcement.announce.data(),
                         bytes);
        sap::WritePacket(true, hash, origin, announcement.sdp, announcement.deletion.data(), bytes);
        m_announcements.push_back(std::move(made));
    }
}

void SapAnnouncer::Tick(int64_t nowNs) {
    if (m_announcements.empty() || (!m_first && nowNs < m_dueNs)) {
        return;
    }
    m_first = false;
    m_dueNs = nowNs + kIntervalNs;
    for (const auto& announcement : m_announcements) {
        announcement->socket.Send(announcement->announce.data(), announcement->announce.size());
    }
}

void SapAnnouncer::Stop() {
    for (const auto& announcement : m_announcements) {
        announcement->socket.Send(announcement->deletion.data(), announcement->deletion.size());
    }
    m_announcements.clear();
}

std::string SapAnnouncer::Description(size_t destination) const {
    for (const auto& announcement : m_announcements) {
        if (announcement->destination == destination) {
            return announcement->sdp;
        }
    }
    return std::string();
}
