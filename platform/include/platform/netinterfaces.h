#pragma once
// The machine's network interfaces by name, for choosing the one multicast datagrams leave
// by. A snapshot: interfaces come and go.

#include <cstdint>
#include <string>
#include <vector>

namespace platform {

// Names of the interfaces the system has now, in index order; empty when it cannot say.
std::vector<std::string> NetworkInterfaceNames();
bool NetworkInterfaceExists(const std::string& name);

enum class InterfaceState { Missing, Down, Up };
// Whether the named interface exists now and is switched on (IFF_UP); Missing for an empty
// or unknown name.
InterfaceState NetworkInterfaceState(const std::string& name);
// The broadcast addresses of the machine's IPv4 interfaces now, in network byte order.
std::vector<uint32_t> BroadcastAddresses();

}  // namespace platform
