#include "platform/netinterfaces.h"

#include <ifaddrs.h>
#include <linux/netlink.h>
#include <linux/rtnetlink.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <string_view>

namespace platform {

std::vector<std::string> NetworkInterfaceNames() {
    std::vector<std::string> names;
    struct if_nameindex* list = if_nameindex();
    if (list == nullptr) {
        return names;
    }
    for (const struct if_nameindex* entry = list; entry->if_index != 0; ++entry) {
        names.emplace_back(entry->if_name);
    }
    if_freenameindex(list);
    return names;
}

bool NetworkInterfaceExists(const std::string& name) {
    return !name.empty() && name.size() < IF_NAMESIZE && if_nametoindex(name.c_str()) != 0;
}

InterfaceState NetworkInterfaceState(const std::string& name) {
    if (!NetworkInterfaceExists(name)) {
        return InterfaceState::Missing;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return InterfaceState::Up;  // it exists; whether it is up cannot be told
    }
    ifreq request{};
    std::memcpy(request.ifr_name, name.c_str(), name.size());  // shorter than IF_NAMESIZE
    const bool known = ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    ::close(fd);
    if (!known) {
        return InterfaceState::Missing;  // gone since the name was looked up
    }
    return (request.ifr_flags & IFF_UP) != 0 ? InterfaceState::Up : InterfaceState::Down;
}

std::vector<uint32_t> BroadcastAddresses() {
    return InterfaceSnapshot::Take().Broadcasts();
}

namespace {

// The interface a name stands for: the system reads "eth0:1", an alias label of eth0's
// addresses, as eth0 (no interface name holds a colon).
std::string_view DeviceName(std::string_view name) {
    return name.substr(0, name.find(':'));
}

}  // namespace

InterfaceSnapshot InterfaceSnapshot::Take() {
    InterfaceSnapshot snapshot;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return snapshot;
    }
    // An interface without addresses is listed once still, with its link's flags, which its
    // address entries repeat.
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if (entry->ifa_name != nullptr) {
            snapshot.Note(entry->ifa_name, entry->ifa_flags);
        }
        // ifa_broadaddr is the peer's address on a point-to-point link: only IFF_BROADCAST
        // makes it a broadcast address.
        if ((entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr ||
            entry->ifa_broadaddr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_broadaddr, sizeof address);
        if (!snapshot.IsBroadcast(address.sin_addr.s_addr)) {
            snapshot.m_broadcasts.push_back(address.sin_addr.s_addr);
        }
    }
    ::freeifaddrs(list);
    return snapshot;
}

void InterfaceSnapshot::Note(const char* name, unsigned flags) {
    const std::string_view device = DeviceName(name);
    for (const Interface& known : m_interfaces) {
        if (known.name == device) {
            return;
        }
    }
    if (!device.empty()) {
        m_interfaces.push_back(Interface{std::string(device), (flags & IFF_UP) != 0});
    }
}

InterfaceState InterfaceSnapshot::State(const std::string& name) const {
    if (name.size() >= IF_NAMESIZE) {
        return InterfaceState::Missing;  // what the system would not look up
    }
    const std::string_view device = DeviceName(name);
    for (const Interface& known : m_interfaces) {
        if (known.name == device) {
            return known.up ? InterfaceState::Up : InterfaceState::Down;
        }
    }
    return InterfaceState::Missing;
}

bool InterfaceSnapshot::IsBroadcast(uint32_t ip) const {
    return std::find(m_broadcasts.begin(), m_broadcasts.end(), ip) != m_broadcasts.end();
}

InterfaceWatch::InterfaceWatch() {
    // Non-blocking so that Changed() never waits; close-on-exec so that no child inherits it.
    m_fd = ::socket(AF_NETLINK, SOCK_RAW | SOCK_NONBLOCK | SOCK_CLOEXEC, NETLINK_ROUTE);
    if (m_fd < 0) {
        return;
    }
    sockaddr_nl address{};
    address.nl_family = AF_NETLINK;
    address.nl_groups = RTMGRP_LINK | RTMGRP_IPV4_IFADDR;
    if (::bind(m_fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
        ::close(m_fd);
        m_fd = -1;
    }
}

InterfaceWatch::~InterfaceWatch() {
    if (m_fd >= 0) {
        ::close(m_fd);
    }
}

bool InterfaceWatch::Changed() {
    bool changed = m_first || m_fd < 0;
    m_first = false;
    // Any message is a change: only the subscribed ones come. Their content does not matter,
    // so a short buffer does (a longer message is cut, and still counts). Bounded, for a
    // thread with a deadline: what is left makes the next call true as well.
    constexpr int kMaxReads = 64;
    char buffer[256];
    for (int i = 0; m_fd >= 0 && i < kMaxReads; ++i) {
        const ssize_t got = ::recv(m_fd, buffer, sizeof buffer, MSG_DONTWAIT);
        if (got >= 0) {
            changed = true;
        } else if (errno == ENOBUFS) {
            changed = true;  // reports were dropped: whatever they said is unknown
        } else if (errno != EINTR) {
            break;  // nothing more pending
        }
    }
    return changed;
}

}  // namespace platform
