#include "storetree.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace storetree {

using platform::RegistryError;
using platform::RegistryHive;
using platform::RegistryKey;

StoreFailure FailureFrom(RegistryError error) {
    switch (error) {
        case RegistryError::ReadOnly:
            return StoreFailure::ReadOnly;
        case RegistryError::Full:
            return StoreFailure::Full;
        case RegistryError::Busy:
            return StoreFailure::Busy;
        default:
            return StoreFailure::Unavailable;
    }
}

long long ParseSigned(const char* text) {
    errno = 0;
    return std::strtoll(text, nullptr, 10);  // saturates at LLONG_MIN / LLONG_MAX
}

int32_t ToInt32(const char* text) {
    const long long value = ParseSigned(text);
    if (value > INT32_MAX) {
        return INT32_MAX;
    }
    if (value < INT32_MIN) {
        return INT32_MIN;
    }
    return static_cast<int32_t>(value);
}

uint32_t ToUint32(const char* text) {
    errno = 0;
    const unsigned long long value = std::strtoull(text, nullptr, 10);
    return value > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(value);
}

bool ParseExact(const char* text, int32_t& value) {
    const char* end = text + std::strlen(text);
    int32_t parsed = 0;
    const auto result = std::from_chars(text, end, parsed);
    if (result.ec != std::errc() || result.ptr != end) {
        return false;
    }
    value = parsed;
    return true;
}

bool SetNumber(const RegistryKey& key, std::string_view name, long long value) {
    return key.SetString(name, std::to_string(value));
}

size_t ReadCount(const RegistryKey& key, std::string_view valueName) {
    char text[kBuf] = {};
    if (!key.QueryString(valueName, text, sizeof text)) {
        return 0;
    }
    const long long count = ParseSigned(text);
    if (count <= 0) {
        return 0;
    }
    if (count <= PlaylistStore::kMaxTrustedCount) {
        return static_cast<size_t>(count);
    }
    std::vector<std::string> names;
    if (!key.SubKeyNames(names)) {
        return 0;
    }
    return std::min(static_cast<size_t>(count), names.size());
}

bool SameName(std::string_view a, std::string_view b) {
    const auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
    return a.size() == b.size() &&
           std::equal(a.begin(), a.end(), b.begin(),
                      [&lower](char x, char y) { return lower(x) == lower(y); });
}

namespace {

// A Polycom destination's channel, caller ID and serial; a channel out of range or a caller
// ID too long reads as plain RTP.
void ReadPolycom(const RegistryKey& entry, RtpDestination& destination) {
    char text[kBuf];
    if (entry.QueryString("Channel", text, sizeof text)) {
        destination.Channel = ToInt32(text);
    }
    if (entry.QueryString("Serial", text, sizeof text)) {
        destination.Serial = ToUint32(text);
    }
    if (entry.QueryString("FollowPriority", text, sizeof text)) {
        destination.FollowPriority = ToInt32(text) != 0 ? 1 : 0;
    }
    const bool caller =
        !entry.QueryString("CallerId", text, sizeof text) || destination.SetCallerId(text);
    if (!caller || destination.Channel < 1 || destination.Channel > 50) {
        const RtpDestination defaults;
        destination.Mode = kModeRtp;
        destination.Channel = defaults.Channel;
        std::memcpy(destination.CallerId, defaults.CallerId, sizeof defaults.CallerId);
        destination.Serial = 0;
    }
}

}  // namespace

void ReadDestinations(const RegistryHive& user, const std::string& keyPath,
                      std::vector<RtpDestination>& destinations) {
    RegistryKey rtp;
    if (!user.OpenKey(keyPath, rtp)) {
        return;
    }
    char text[kBuf];
    const size_t count = ReadCount(rtp, "RtpCount");
    destinations.reserve(destinations.size() + count);
    for (size_t i = 1; i <= count; ++i) {
        RtpDestination destination;
        RegistryKey entry;
        if (rtp.OpenSubKey("RTP" + std::to_string(i), entry)) {
            entry.QueryString("IP:PORT", destination.IpPort, sizeof destination.IpPort);
            if (entry.QueryString("IP", text, sizeof text)) {
                destination.IP = ToUint32(text);
            }
            if (entry.QueryString("Port", text, sizeof text)) {
                destination.Port = ToUint32(text);
            }
            // Written by later versions only; a hop limit out of range keeps the default.
            if (entry.QueryString("MulticastTTL", text, sizeof text)) {
                const uint32_t ttl = ToUint32(text);
                if (ttl >= 1 && ttl <= 255) {
                    destination.Ttl = ttl;
                }
            }
            entry.QueryString("MulticastInterface", destination.Interface,
                              sizeof destination.Interface);
            // Later still: a mode not understood, or an SPA one without a control port, reads
            // as plain RTP.
            // Later still: a Polycom channel out of range or a caller ID too long reads as
            // plain RTP too.
            const bool moded = entry.QueryString("Mode", text, sizeof text) &&
                               DestinationModeFromWord(text, destination.Mode);
            if (moded && destination.Mode == kModePolycom) {
                ReadPolycom(entry, destination);
            } else if (moded && destination.Mode == kModeSpa) {
                if (entry.QueryString("ControlIP", text, sizeof text)) {
                    destination.ControlIP = ToUint32(text);
                }
                if (entry.QueryString("ControlPort", text, sizeof text)) {
                    destination.ControlPort = ToUint32(text);
                }
                if (destination.ControlPort == 0 || destination.ControlPort > 65535) {
                    destination.Mode = kModeRtp;
                    destination.ControlIP = 0;
                    destination.ControlPort = 0;
                }
            }
        }
        destinations.push_back(destination);
    }
}

bool WriteDestinations(const RegistryHive& user, const std::string& keyPath,
                       const std::vector<RtpDestination>& destinations) {
    user.DeleteTree(keyPath);  // absent is fine
    RegistryKey rtp;
    if (!user.CreateKey(keyPath, rtp)) {
        return false;
    }
    int index = 1;
    for (const RtpDestination& destination : destinations) {
        RegistryKey entry;
        if (!rtp.CreateSubKey("RTP" + std::to_string(index++), entry) ||
            !entry.SetString("IP:PORT", destination.IpPort) ||
            !SetNumber(entry, "IP", destination.IP) ||
            !SetNumber(entry, "Port", destination.Port) ||
            !SetNumber(entry, "MulticastTTL", destination.Ttl) ||
            !entry.SetString("MulticastInterface", destination.Interface) ||
            !entry.SetString("Mode", DestinationModeWord(destination.Mode)) ||
            (destination.Mode == kModeSpa &&
             (!SetNumber(entry, "ControlIP", destination.ControlIP) ||
              !SetNumber(entry, "ControlPort", destination.ControlPort))) ||
            (destination.Mode == kModePolycom &&
             (!SetNumber(entry, "Channel", destination.Channel) ||
              !entry.SetString("CallerId", destination.CallerId) ||
              !SetNumber(entry, "Serial", destination.Serial) ||
              !SetNumber(entry, "FollowPriority", destination.FollowPriority)))) {
            return false;
        }
    }
    return SetNumber(rtp, "RtpCount", static_cast<long long>(destinations.size()));
}

}  // namespace storetree
