#include "support/netnamespace.h"

#include <net/if.h>
#include <sched.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstring>
#include <fstream>
#include <string>

namespace testsupport {
namespace {

bool WriteText(const char* path, const std::string& text) {
    std::ofstream out(path);
    out << text;
    return static_cast<bool>(out.flush());
}

}  // namespace

bool EnterOwnNetworkNamespace() {
    if (::unshare(CLONE_NEWNET) == 0) {
        return true;
    }
    const std::string uid = std::to_string(::getuid());
    const std::string gid = std::to_string(::getgid());
    return ::unshare(CLONE_NEWUSER | CLONE_NEWNET) == 0 &&
           WriteText("/proc/self/setgroups", "deny") &&
           WriteText("/proc/self/uid_map", "0 " + uid + " 1") &&
           WriteText("/proc/self/gid_map", "0 " + gid + " 1");
}

bool SwitchInterfaceOn(const char* name) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    ifreq request{};
    std::strncpy(request.ifr_name, name, IF_NAMESIZE - 1);
    bool on = fd >= 0 && ::ioctl(fd, SIOCGIFFLAGS, &request) == 0;
    request.ifr_flags = static_cast<short>(request.ifr_flags | IFF_UP);
    on = on && ::ioctl(fd, SIOCSIFFLAGS, &request) == 0;
    if (fd >= 0) {
        ::close(fd);
    }
    return on;
}

bool EnterLoopbackNamespace() {
    return EnterOwnNetworkNamespace() && SwitchInterfaceOn("lo");
}

}  // namespace testsupport
