#pragma once
// The machine's network interfaces by name, for choosing the one multicast datagrams leave
// by. A snapshot: interfaces come and go.

#include <string>
#include <vector>

namespace platform {

// Names of the interfaces the system has now, in index order; empty when it cannot say.
std::vector<std::string> NetworkInterfaceNames();
bool NetworkInterfaceExists(const std::string& name);

}  // namespace platform
