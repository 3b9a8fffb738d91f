#include "platform/netinterfaces.h"

#include <arpa/inet.h>
#include <gtest/gtest.h>
#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <fstream>
#include <iterator>
#include <optional>
#include <string>
#include <vector>

#include "support/netnamespace.h"
#include "support/udpreceiver.h"

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
// 127.255.255.255 is no broadcast unless loopback says so (it normally has none).
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
    const uint32_t loopbackBroadcast = htonl(0x7FFFFFFFu);
    EXPECT_EQ(snapshot.IsBroadcast(loopbackBroadcast), BroadcastOf("lo") == loopbackBroadcast);
    EXPECT_FALSE(snapshot.IsBroadcast(htonl(INADDR_LOOPBACK)));
}

TEST(InterfaceWatch, ReportsAChangeFirstThenNoneAndClosesItsSocket) {
    const int before = OpenDescriptorCount();
    {
        platform::InterfaceWatch watch;
        ASSERT_TRUE(watch.IsWatching());
        EXPECT_EQ(OpenDescriptorCount(), before + 1);
        EXPECT_TRUE(watch.Changed()) << "the first snapshot is always taken";
        EXPECT_FALSE(watch.Changed());
        EXPECT_FALSE(watch.Changed());
    }
    EXPECT_EQ(OpenDescriptorCount(), before);
}

// Runs body in a child process; its exit status, or -1 when it did not exit.
int InChild(int (*body)()) {
    const pid_t child = ::fork();
    if (child == 0) {
        ::_exit(body());
    }
    int status = 0;
    if (child < 0 || ::waitpid(child, &status, 0) != child || !WIFEXITED(status)) {
        return -1;
    }
    return WEXITSTATUS(status);
}

// Without a descriptor to spare, the watch cannot be made and says "changed" every time, and
// a snapshot knows no interface, as the queries by name know none either.
TEST(InterfaceWatch, WithoutASocketEveryCallReportsAChange) {
    const int status = InChild([] {
        const rlimit none{0, 0};
        if (::setrlimit(RLIMIT_NOFILE, &none) != 0) {
            return 77;
        }
        platform::InterfaceWatch watch;
        const bool changed = !watch.IsWatching() && watch.Changed() && watch.Changed();
        const platform::InterfaceSnapshot snapshot = platform::InterfaceSnapshot::Take();
        const bool empty = snapshot.State("lo") == InterfaceState::Missing &&
                           platform::NetworkInterfaceState("lo") == InterfaceState::Missing &&
                           snapshot.Broadcasts().empty();
        return (changed ? 0 : 1) | (empty ? 0 : 2);
    });
    if (status == 77) {
        GTEST_SKIP() << "the descriptor limit cannot be lowered";
    }
    EXPECT_EQ(status & 1, 0) << "no socket, yet a call reported no change";
    EXPECT_EQ(status & 2, 0) << "a snapshot without a socket found interfaces";
}

// The steps of the namespace child; its exit status names the first that failed.
const char* const kNamespaceSteps[] = {
    "",
    "the watch did not report first a change, then none",
    "the fresh namespace's loopback is not down, or a broadcast is listed",
    "loopback switched on was not reported once, or not seen up",
    "the new address was not reported, or its broadcast, bridge or label not seen",
};

int WatchChangesInANamespace() {
    if (!testsupport::EnterOwnNetworkNamespace()) {
        return 77;
    }
    platform::InterfaceWatch watch;
    if (!watch.IsWatching() || !watch.Changed() || watch.Changed()) {
        return 1;
    }
    const platform::InterfaceSnapshot before = platform::InterfaceSnapshot::Take();
    if (before.State("lo") != InterfaceState::Down || !before.Broadcasts().empty()) {
        return 2;
    }
    if (!testsupport::SwitchInterfaceOn("lo") || !watch.Changed() || watch.Changed() ||
        platform::InterfaceSnapshot::Take().State("lo") != InterfaceState::Up) {
        return 3;
    }
    // A broadcast address needs an interface that has broadcast: a bridge, where the system
    // makes one (the tool may be missing, or the kind refused).
    if (std::system("ip link add sonvexbr0 type bridge 2>/dev/null && ip addr add "
                    "10.11.12.13/24 brd + dev sonvexbr0 label sonvexbr0:a 2>/dev/null") != 0) {
        return 0;
    }
    const bool reported = watch.Changed();
    const platform::InterfaceSnapshot after = platform::InterfaceSnapshot::Take();
    const bool seen = after.IsBroadcast(htonl(0x0A0B0CFFu)) &&
                      after.State("sonvexbr0") == InterfaceState::Down &&
                      after.State("sonvexbr0:a") == platform::NetworkInterfaceState("sonvexbr0:a");
    return reported && seen ? 0 : 4;
}

// Real changes, made only inside a network namespace the test creates.
TEST(InterfaceWatch, ReportsLinkAndAddressChangesInANamespaceOfItsOwn) {
    const int status = InChild(WatchChangesInANamespace);
    if (status == 77) {
        GTEST_SKIP() << "no network namespace permitted";
    }
    ASSERT_GE(status, 0) << "the child did not exit";
    ASSERT_LT(static_cast<size_t>(status), std::size(kNamespaceSteps));
    EXPECT_EQ(status, 0) << kNamespaceSteps[status];
}

}  // namespace
