#include "playlist/playlist.h"

#include <cstdio>
#include <cstring>

bool PlaylistFile::SetName(const char* name) {
    const size_t len = name == nullptr ? 0 : std::strlen(name);
    if (len >= sizeof Name) {
        return false;
    }
    std::memcpy(Name, name == nullptr ? "" : name, len);
    Name[len] = '\0';
    return true;
}

RtpDestination RtpDestination::FromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d,
                                          uint32_t port) {
    RtpDestination dest;
    std::snprintf(dest.IpPort, sizeof dest.IpPort, "%d.%d.%d.%d : %d", a, b, c, d,
                  static_cast<int>(port));
    // Network byte order: the octets lie in memory in written order.
    const uint8_t octets[4] = {a, b, c, d};
    std::memcpy(&dest.IP, octets, sizeof octets);
    dest.Port = port;
    return dest;
}

void Playlist::EraseFile(size_t index) {
    if (index < Files.size()) {
        Files.erase(Files.begin() + static_cast<std::ptrdiff_t>(index));
    }
}

void Playlist::InsertFile(size_t position, const PlaylistFile& file) {
    if (position <= Files.size()) {
        Files.insert(Files.begin() + static_cast<std::ptrdiff_t>(position), file);
    }
}

void Playlist::MoveFileDown(int index) {
    const int count = static_cast<int>(Files.size());
    if (index < 0 || index >= count - 1) {
        return;
    }
    const PlaylistFile copy = Files[static_cast<size_t>(index)];
    EraseFile(static_cast<size_t>(index));
    InsertFile(static_cast<size_t>(index) + 1, copy);
}

void Playlist::MoveFileUp(int index) {
    const int count = static_cast<int>(Files.size());
    if (index <= 0 || index >= count) {
        return;
    }
    const PlaylistFile copy = Files[static_cast<size_t>(index)];
    EraseFile(static_cast<size_t>(index));
    InsertFile(static_cast<size_t>(index) - 1, copy);
}

void Playlist::Clear() {
    Files.clear();
    Destinations.clear();
}

void Playlist::EraseDestination(size_t index) {
    if (index < Destinations.size()) {
        Destinations.erase(Destinations.begin() + static_cast<std::ptrdiff_t>(index));
    }
}
