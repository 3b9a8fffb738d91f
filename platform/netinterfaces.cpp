#include "platform/netinterfaces.h"

#include <net/if.h>

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

}  // namespace platform
