#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <utility>

#include "clicommands.h"
#include "playlist/destinationcheck.h"

namespace clicommands {

int Fail(CliConsole& console, const std::string& message) {
    console.err << "sonvex-cli: " << message << '\n' << std::flush;
    return kFailure;
}

bool PlaylistExists(PlaylistDocument& document, const std::string& name, CliConsole& console) {
    // Names stored before the rules of new names tightened can still be reached.
    if (!PlaylistDocument::IsValidName(name)) {
        Fail(console, PlaylistDocument::NameProblem(name));
        return false;
    }
    if (!document.Exists(name)) {
        Fail(console, "there is no playlist named \"" + name + "\"");
        return false;
    }
    return true;
}

bool OpenPlaylist(PlaylistDocument& document, const std::string& name, CliConsole& console) {
    if (!PlaylistExists(document, name, console)) {
        return false;
    }
    if (!document.Open(name)) {
        if (document.LastFailure() == StoreFailure::None) {
            Fail(console, "there is no playlist named \"" + name + "\"");
        } else {
            Fail(console, "the playlist \"" + name + "\" could not be read: " +
                              PlaylistDocument::FailureText(document.LastFailure()));
        }
        return false;
    }
    return true;
}

namespace {

// SPA's control address from --control, into the destination; why it cannot be used.
std::string ControlProblem(const CliOptions& options, RtpDestination& destination) {
    if (destination.Mode != kModeSpa) {
        return options.control.empty() ? std::string() : "--control is for --mode spa only";
    }
    if (options.control.empty()) {
        return "--mode spa needs --control ADDR:PORT, the phones' control address";
    }
    return destinationcheck::ControlProblem(options.control, destination);
}

// Polycom's channel, caller ID and serial from the options, into the destination.
std::string PolycomProblem(const CliOptions& options, RtpDestination& destination) {
    if (destination.Mode != kModePolycom) {
        return options.polycomGiven ? "--channel, --caller, --serial and --follow-priority are for "
                                      "--mode polycom only"
                                    : std::string();
    }
    std::string problem = destinationcheck::ChannelProblem(options.channel);
    if (problem.empty()) {
        problem = destinationcheck::CallerIdProblem(options.caller);
    }
    if (!problem.empty()) {
        return problem;
    }
    destination.Channel = options.channel;
    destination.SetCallerId(options.caller.c_str());
    destination.FollowPriority = options.followPriority ? 1 : 0;
    // The host id tells two machines apart as a phone's serial (its MAC) would.
    destination.Serial = options.serial >= 0 ? static_cast<uint32_t>(options.serial)
                                             : static_cast<uint32_t>(::gethostid());
    return std::string();
}

}  // namespace

bool DestinationFrom(const CliOptions& options, RtpDestination& destination, CliConsole& console) {
    const auto octets = destinationcheck::ParseAddress(options.address);
    if (!octets) {
        Fail(console, options.address + ": " + destinationcheck::kAddressRule);
        return false;
    }
    std::string problem = destinationcheck::PortProblem(options.port);
    destination = RtpDestination::FromOctets((*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3],
                                             static_cast<uint32_t>(options.port));
    destination.Ttl = static_cast<uint32_t>(options.ttl);
    if (problem.empty()) {
        problem = destinationcheck::AddressProblem(destination);
    }
    if (problem.empty() && !destination.SetInterface(options.interfaceName.c_str())) {
        problem = destinationcheck::InterfaceProblem(options.interfaceName);
    }
    if (problem.empty()) {
        problem = destinationcheck::MulticastProblem(destination);
    }
    if (problem.empty()) {
        DestinationModeFromWord(options.mode,
                                destination.Mode);  // the parser let only its words in
        problem = ControlProblem(options, destination);
    }
    if (problem.empty()) {
        problem = PolycomProblem(options, destination);
    }
    if (!problem.empty()) {
        Fail(console, problem);
        return false;
    }
    return true;
}

nlohmann::ordered_json DestinationJson(const RtpDestination& destination, size_t number) {
    nlohmann::ordered_json json = {{"index", number},
                                   {"address", destination.AddressText()},
                                   {"port", destination.Port},
                                   {"multicast", destination.IsMulticast()},
                                   {"ttl", destination.Ttl},
                                   {"interface", destination.Interface},
                                   {"mode", DestinationModeWord(destination.Mode)}};
    if (destination.Mode == kModeSpa) {
        json["control"] = destination.ControlText();
    } else if (destination.Mode == kModePolycom) {
        json["channel"] = destination.Channel;
        json["caller"] = std::string(destination.CallerId);
        json["serial"] = destination.Serial;
        if (destination.FollowPriority != 0) {
            json["follow_priority"] = true;
        }
    }
    return json;
}

bool ProbeFile(const char* path, SourceFormatInfo& info, std::string& description,
               std::string& reason) {
    ProbeReport report = ProbeSourceFile(path, info);
    description = std::move(report.description);
    reason = std::move(report.reason);
    return report.valid;
}

std::string DescriptionLines(const std::string& description) {
    std::string lines;
    size_t from = 0;
    for (;;) {
        const size_t at = description.find("\r\n\r\n", from);
        lines += description.substr(from, at == std::string::npos ? std::string::npos : at - from);
        lines += '\n';
        if (at == std::string::npos) {
            return lines;
        }
        from = at + 4;
    }
}

nlohmann::ordered_json LatencyJson(const PageLatency::Summary& latency) {
    return {{"packets", latency.count},
            {"median_ms", static_cast<double>(latency.medianUs) / 1000.0},
            {"p95_ms", static_cast<double>(latency.p95Us) / 1000.0},
            {"p99_ms", static_cast<double>(latency.p99Us) / 1000.0},
            {"max_ms", static_cast<double>(latency.maxUs) / 1000.0}};
}

std::string LatencyText(const PageLatency::Summary& latency) {
    if (latency.count == 0) {
        return "no packet was sent";
    }
    char text[96];
    std::snprintf(text, sizeof text, "capture to send: median %.1f ms, p95 %.1f ms, p99 %.1f ms",
                  static_cast<double>(latency.medianUs) / 1000.0,
                  static_cast<double>(latency.p95Us) / 1000.0,
                  static_cast<double>(latency.p99Us) / 1000.0);
    return text;
}

void PrintJson(CliConsole& console, const nlohmann::ordered_json& value) {
    // Names and paths are bytes; any that are not UTF-8 are shown with replacement marks
    // rather than failing the output.
    console.out << value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n';
}

void PrintEvent(CliConsole& console, const nlohmann::ordered_json& value) {
    console.out << value.dump(-1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n'
                << std::flush;
}

}  // namespace clicommands
