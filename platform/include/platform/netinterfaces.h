#pragma once
// The machine's network interfaces by name, for choosing the one multicast datagrams leave
// by, and their IPv4 broadcast addresses, which are no destination. Interfaces come and go:
// every answer is as of its call, or of its snapshot.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Names of the interfaces the system has now, in index order; empty when it cannot say.
std::vector<std::string> NetworkInterfaceNames();
bool NetworkInterfaceExists(const std::string& name);

enum class InterfaceState { Missing, Down, Up };
// Whether the named interface exists now and is switched on (IFF_UP); Missing for an empty
// or unknown name. An alias label ("eth0:1") answers for its interface, as the system does.
InterfaceState NetworkInterfaceState(const std::string& name);
// The broadcast addresses of the machine's IPv4 interfaces now, in network byte order.
std::vector<uint32_t> BroadcastAddresses();

// Every interface's state and the IPv4 broadcast addresses, read in one exchange with the
// system, for checking many destinations at the cost of one. A value: it does not follow
// later changes (see InterfaceWatch).
class InterfaceSnapshot {
public:
    // The machine now; when the system cannot say, a snapshot of no interface.
    static InterfaceSnapshot Take();

    // As NetworkInterfaceState, when the snapshot was taken.
    InterfaceState State(const std::string& name) const;
    // Whether ip (network byte order) was the broadcast address of an interface.
    bool IsBroadcast(uint32_t ip) const;
    const std::vector<uint32_t>& Broadcasts() const { return m_broadcasts; }

private:
    struct Interface {
        std::string name;
        bool up = false;
    };
    void Note(const char* name, unsigned flags);

    std::vector<Interface> m_interfaces;
    std::vector<uint32_t> m_broadcasts;
};

// Says when the machine's links or IPv4 addresses may have changed, so that the thread that
// checks destinations takes a new InterfaceSnapshot only then, not at every check: a routing
// netlink socket subscribed to those changes, read without blocking. Used by that one
// thread, which calls Changed() before each check and, when it is true, takes a new snapshot
// (after the call: a change from then on makes the next call true).
class InterfaceWatch {
public:
    InterfaceWatch();
    ~InterfaceWatch();
    InterfaceWatch(const InterfaceWatch&) = delete;
    InterfaceWatch& operator=(const InterfaceWatch&) = delete;

    // True on the first call and when a change was reported since the last; reads what is
    // pending, never waits. True every time when the system refused the socket, and after
    // reports were lost (its queue overflowed): the caller then reads the interfaces again.
    bool Changed();
    // False when the system refused the socket.
    bool IsWatching() const { return m_fd >= 0; }

private:
    int m_fd = -1;
    bool m_first = true;
};

}  // namespace platform
