#pragma once
// The checks every way of adding an RTP destination applies (the desktop dialog and the
// command line), so that both accept and refuse the same destinations with the same words.
// Each *Problem function returns why a value is refused, or an empty text when it is usable.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/netinterfaces.h"
#include "playlist/playlist.h"

namespace destinationcheck {

constexpr long long kMinPort = 1;
constexpr long long kMaxPort = 65535;
constexpr long long kMinTtl = 1;
constexpr long long kMaxTtl = 255;

extern const char* const kAddressRule;  // "IP address must be four numbers of 0-255"

// Four dotted decimal numbers of 0-255, first first; nothing for any other text.
std::optional<std::array<uint8_t, 4>> ParseAddress(const std::string& text);
std::string PortProblem(long long port);
std::string TtlProblem(long long ttl);
// An empty name (the routing table's choice) is fine; any other must name an interface the
// machine has now.
std::string InterfaceProblem(const std::string& name);
// The multicast settings of a destination: a TTL other than the default or an interface
// only make sense for a group address.
std::string MulticastProblem(const RtpDestination& destination);
// The unspecified address 0.0.0.0, the limited broadcast 255.255.255.255 and the broadcast
// address of any interface the machine has now are no destination: a datagram to them
// would reach every host of a network, or none.
std::string AddressProblem(const RtpDestination& destination);
// A Polycom caller ID: at most 13 characters of printable ASCII.
std::string CallerIdProblem(const std::string& callerId);
// A Polycom channel: 1-25 push-to-talk, 26-50 the paging groups 1-25.
std::string ChannelProblem(long long channel);
// SPA's control address as "ADDR:PORT", the address checked as AddressProblem checks one;
// when usable it is set into the destination's ControlIP and ControlPort.
std::string ControlProblem(const std::string& text, RtpDestination& destination);

// Why a stored destination must not be sent to when an entry opens. Checked again at every
// open: interfaces come and go, and stores may hold what the checks above now refuse.
enum class SendFault : uint8_t {
    None = 0,
    UnusableAddress,  // see AddressProblem
    NoInterface,      // a group's interface does not exist
    InterfaceDown,    // a group's interface exists but is down
};
SendFault CheckSendable(const RtpDestination& destination);
// The same against interfaces read once for many destinations; as of when they were read.
SendFault CheckSendable(const RtpDestination& destination,
                        const platform::InterfaceSnapshot& interfaces);
// The operator's message for a destination left out, e.g.
// "239.1.1.1 : 5004 not sent to: there is no network interface named "eth9"".
std::string SendFaultText(const RtpDestination& destination, SendFault fault);

}  // namespace destinationcheck
