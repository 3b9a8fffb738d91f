#include "platform/netinterfaces.h"

#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>

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
    std::vector<uint32_t> addresses;
    ifaddrs* list = nullptr;
    if (::getifaddrs(&list) != 0) {
        return addresses;
    }
    for (const ifaddrs* entry = list; entry != nullptr; entry = entry->ifa_next) {
        if ((entry->ifa_flags & IFF_BROADCAST) == 0 || entry->ifa_broadaddr == nullptr ||
            entry->ifa_broadaddr->sa_family != AF_INET) {
            continue;
        }
        sockaddr_in address{};
        std::memcpy(&address, entry->ifa_broadaddr, sizeof address);
        addresses.push_back(address.sin_addr.s_addr);
    }
    ::freeifaddrs(list);
    return addresses;
}

}  // namespace platform
