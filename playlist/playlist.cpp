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

bool RtpDestination::SetInterface(const char* name) {
    const size_t len = name == nullptr ? 0 : std::strlen(name);
    if (len >= sizeof Interface) {
        return false;
    }
    std::memcpy(Interface, name == nullptr ? "" : name, len);
    Interface[len] = '\0';
    return true;
}

bool RtpDestination::IsMulticast() const {
    uint8_t octets[4];
    std::memcpy(octets, &IP, sizeof octets);
    return (octets[0] & 0xF0) == 0xE0;  // 224.0.0.0/4 (RFC 5771)
}

namespace {

std::string DottedText(uint32_t ip) {
    uint8_t octets[4];
    std::memcpy(octets, &ip, sizeof octets);
    char text[16];
    std::snprintf(text, sizeof text, "%d.%d.%d.%d", octets[0], octets[1], octets[2], octets[3]);
    return text;
}

}  // namespace

std::string RtpDestination::AddressText() const {
    return DottedText(IP);
}

std::string RtpDestination::ControlText() const {
    return DottedText(ControlIP) + ":" + std::to_string(ControlPort);
}

bool RtpDestination::SetCallerId(const char* text) {
    const size_t len = text == nullptr ? 0 : std::strlen(text);
    if (len > static_cast<size_t>(kCallerIdChars)) {
        return false;
    }
    std::memset(CallerId, 0, sizeof CallerId);
    std::memcpy(CallerId, text == nullptr ? "" : text, len);
    return true;
}

const char* DestinationModeWord(int32_t mode) {
    return mode == kModeSpa ? "spa" : mode == kModePolycom ? "polycom" : "rtp";
}

bool DestinationModeFromWord(std::string_view word, int32_t& mode) {
    for (const int32_t m : {kModeRtp, kModeSpa, kModePolycom}) {
        if (word == DestinationModeWord(m)) {
            mode = m;
            return true;
        }
    }
    return false;
}

std::string RtpDestination::ListText() const {
    std::string text(IpPort, strnlen(IpPort, sizeof IpPort));
    if (IsMulticast()) {
        text += " (TTL " + std::to_string(Ttl);
        if (Interface[0] != '\0') {
            text += ", " + std::string(Interface, strnlen(Interface, sizeof Interface));
        }
        text += ")";
    }
    if (Mode == kModeSpa) {
        text += " (SPA control " + ControlText() + ")";
    } else if (Mode == kModePolycom) {
        text += " (Polycom channel " + std::to_string(Channel) + ", \"" +
                std::string(CallerId, strnlen(CallerId, sizeof CallerId)) + "\"" +
                (FollowPriority != 0 ? ", priorities followed)" : ")");
    }
    return text;
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
    SapAnnounce = kSapOff;
    RtcpReports = 0;
    Priority = kPriorityUnset;
    Role = kRoleBackground;
    Interrupted = kInterruptedDuck;
    DuckDb = kDefaultDuckDb;
}

int32_t Playlist::EffectivePriority() const {
    if (Priority >= 0 && Priority <= kPriorityEmergency) {
        return Priority;
    }
    return Role == kRoleAnnouncement ? kDefaultAnnouncementPriority : kDefaultBackgroundPriority;
}

void Playlist::EraseDestination(size_t index) {
    if (index < Destinations.size()) {
        Destinations.erase(Destinations.begin() + static_cast<std::ptrdiff_t>(index));
    }
}
