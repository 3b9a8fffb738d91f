#pragma once
// The loopback receiver the RTP tests read datagrams from, and a count of open descriptors.

#include <dirent.h>

#include "support/loopbackreceiver.h"

using UdpReceiver = testsupport::LoopbackReceiver;

// Open file descriptors of this process, to see sockets being closed.
inline int OpenDescriptorCount() {
    int count = 0;
    if (DIR* dir = ::opendir("/proc/self/fd")) {
        while (::readdir(dir) != nullptr) {
            ++count;
        }
        ::closedir(dir);
    }
    return count;
}
