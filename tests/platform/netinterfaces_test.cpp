#include "platform/netinterfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <optional>
#include <string>
#include <vector>

namespace {

using platform::InterfaceState;

// The broadcast address of the interface's first IPv4 address, asked by name alone; nothing
// for an interface without IFF_BROADCAST or an IPv4 address.
std::optional<uint32_t> BroadcastOf(const std::string& name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, name.c_str(), IF_NAMESIZE - 1);
    const bool broadcasts = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0 &&
                            (request.ifr_flags & IFF_BROADCAST) != 0;
    const bool known = broadcasts && ::ioctl(fd, SIOCGIFBRDADDR, &request) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    sockaddr_in address{};
    std::memcpy(&address, &request.ifr_broadaddr, sizeof address);
    return known ? std::optional<uint32_t>(address.sin_addr.s_addr) : std::nullopt;
}

// Every interface, an alias label, an unknown and an overlong name read the same from one
// snapshot as asked one by one; each interface's own broadcast address is listed, and
// loopback's network is no broadcast unless loopback says so (it normally has none).
TEST(InterfaceSnapshot, AgreesWithTheQueriesByName) {
    const platform::InterfaceSnapshot snapshot = platform::InterfaceSnapshot::Take();
    std::vector<std::string> names = platform::NetworkInterfaceNames();
    names.insert(names.end(), {"lo", "lo:sonvex", "sonvexnone0", "", ":0", "lo:0123456789abc"});
    for (const std::string& name : names) {
        EXPECT_EQ(snapshot.State(name), platform::NetworkInterfaceState(name)) << name;
        const std::optional<uint32_t> broadcast = BroadcastOf(name);
        if (broadcast.has_value() && *broadcast != 0) {
            EXPECT_TRUE(snapshot.IsBroadcast(*broadcast)) << name;
        }
    }
    EXPECT_NE(snapshot.State("lo"), InterfaceState::Missing);
    const uint32_t loopbackNetwork = htonl(0x7FFFFFFFu);
    EXPECT_EQ(snapshot.IsBroadcast(loopbackNetwork), BroadcastOf("lo") == loopbackNetwork);
    EXPECT_FALSE(snapshot.IsBroadcast(htonl(INADDR_LOOPBACK)));
}

}  // namespace
