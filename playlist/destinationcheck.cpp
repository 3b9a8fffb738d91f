#include "playlist/destinationcheck.h"

#include <charconv>

namespace destinationcheck {

const char* const kAddressRule = "IP address must be four numbers of 0-255";

std::optional<std::array<uint8_t, 4>> ParseAddress(const std::string& text) {
    std::array<uint8_t, 4> octets{};
    const char* at = text.data();
    const char* const end = text.data() + text.size();
    for (size_t i = 0; i < octets.size(); ++i) {
        if (i > 0) {
            if (at == end || *at != '.') {
                return std::nullopt;
            }
            ++at;
        }
        // One to three digits: no sign, no blank, and no leading zero (other programs read
        // 010 as octal 8: refused rather than guessed).
        const char* digitsEnd = at;
        while (digitsEnd != end && *digitsEnd >= '0' && *digitsEnd <= '9' && digitsEnd - at < 4) {
            ++digitsEnd;
        }
        unsigned value = 0;
        if (digitsEnd == at || digitsEnd - at > 3 || (*at == '0' && digitsEnd - at > 1) ||
            std::from_chars(at, digitsEnd, value).ptr != digitsEnd || value > 255) {
            return std::nullopt;
        }
        octets[i] = static_cast<uint8_t>(value);
        at = digitsEnd;
    }
    if (at != end) {
        return std::nullopt;
    }
    return octets;
}

std::string PortProblem(long long port) {
    return port >= kMinPort && port <= kMaxPort ? std::string() : "port must be 1-65535";
}

std::string TtlProblem(long long ttl) {
    return ttl >= kMinTtl && ttl <= kMaxTtl ? std::string() : "TTL must be 1-255";
}

std::string InterfaceProblem(const std::string& name) {
    if (name.empty() || platform::NetworkInterfaceExists(name)) {
        return std::string();
    }
    return "there is no network interface named \"" + name + "\"";
}

std::string MulticastProblem(const RtpDestination& destination) {
    const bool customised =
        destination.Ttl != kDefaultMulticastTtl || destination.Interface[0] != '\0';
    if (customised && !destination.IsMulticast()) {
        return "TTL and interface apply to multicast groups (224.0.0.0-239.255.255.255) only";
    }
    std::string problem = TtlProblem(destination.Ttl);
    if (problem.empty()) {
        problem = InterfaceProblem(destination.Interface);
    }
    return problem;
}

namespace {

bool IsUnusableAddress(uint32_t ip, const platform::InterfaceSnapshot& interfaces) {
    return ip == 0 || ip == 0xFFFFFFFFu || interfaces.IsBroadcast(ip);
}

}  // namespace

std::string AddressProblem(const RtpDestination& destination) {
    if (!IsUnusableAddress(destination.IP, platform::InterfaceSnapshot::Take())) {
        return std::string();
    }
    return destination.AddressText() + " is a broadcast or unspecified address, not a destination";
}

std::string CallerIdProblem(const std::string& callerId) {
    if (callerId.size() > static_cast<size_t>(kCallerIdChars)) {
        return "the caller ID \"" + callerId + "\" is longer than 13 characters";
    }
    for (const char c : callerId) {
        if (c < 0x20 || c > 0x7E) {
            return "a caller ID is printable ASCII: letters, digits, blanks and punctuation";
        }
    }
    return std::string();
}

std::string ChannelProblem(long long channel) {
    if (channel < 1 || channel > 50) {
        return "a Polycom channel is 1-50 (26-50: paging groups 1-25)";
    }
    return std::string();
}

std::string ControlProblem(const std::string& text, RtpDestination& destination) {
    const size_t colon = text.rfind(':');
    const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
    const auto octets = ParseAddress(text.substr(0, colon));
    const bool digits = !port.empty() && port.size() <= 5 &&
                        port.find_first_not_of("0123456789") == std::string::npos;
    if (!octets || !digits) {
        return "the control address \"" + text + "\" is not ADDR:PORT (" + kAddressRule + ")";
    }
    std::string problem = PortProblem(std::stoll(port));
    const RtpDestination control =
        RtpDestination::FromOctets((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3], 1);
    if (problem.empty()) {
        problem = AddressProblem(control);
    }
    if (!problem.empty()) {
        return "the control address: " + problem;
    }
    destination.ControlIP = control.IP;
    destination.ControlPort = static_cast<uint32_t>(std::stoul(port));
    return std::string();
}

SendFault CheckSendable(const RtpDestination& destination) {
    return CheckSendable(destination, platform::InterfaceSnapshot::Take());
}

SendFault CheckSendable(const RtpDestination& destination,
                        const platform::InterfaceSnapshot& interfaces) {
    if (IsUnusableAddress(destination.IP, interfaces)) {
        return SendFault::UnusableAddress;
    }
    if (!destination.IsMulticast() || destination.Interface[0] == '\0') {
        return SendFault::None;
    }
    switch (interfaces.State(destination.Interface)) {
        case platform::InterfaceState::Missing:
            return SendFault::NoInterface;
        case platform::InterfaceState::Down:
            return SendFault::InterfaceDown;
        case platform::InterfaceState::Up:
            break;
    }
    return SendFault::None;
}

std::string SendFaultText(const RtpDestination& destination, SendFault fault) {
    std::string why;
    switch (fault) {
        case SendFault::None:
            return std::string();
        case SendFault::UnusableAddress:
            why = AddressProblem(destination);
            if (why.empty()) {
                why = destination.AddressText() + " is a broadcast address";  // since gone
            }
            break;
        case SendFault::NoInterface:
            why = InterfaceProblem(destination.Interface);
            if (why.empty()) {
                why = std::string("the network interface \"") + destination.Interface +
                      "\" was missing";  // back since
            }
            break;
        case SendFault::InterfaceDown:
            why = std::string("the network interface \"") + destination.Interface + "\" is down";
            break;
    }
    return std::string(destination.IpPort) + " not sent to: " + why;
}

}  // namespace destinationcheck
