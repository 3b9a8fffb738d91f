// play, stop and status: requests to the user's running server; and the server's side of
// stream and page, which go through it when one runs.

#include <chrono>
#include <cmath>
#include <cstdio>
#include <functional>
#include <ostream>

#include "clicommands.h"
#include "servercontrol.h"
#include "stopsignals.h"

namespace clicommands {
namespace {

using pagechannel::Connected;
using pagechannel::Peer;

// Connects to the server, or says why not; false when there is none to ask.
bool Reach(Peer& peer, CliConsole& console, bool quietWhenNone) {
    std::string problem;
    switch (servercontrol::Connect(peer, problem)) {
        case Connected::kConnected:
            return true;
        case Connected::kNobody:
            if (!quietWhenNone) {
                Fail(console, "no server is running; start one with sonvex-cli serve");
            }
            return false;
        default:
            if (!quietWhenNone) {
                Fail(console, problem);
            }
            return false;
    }
}

nlohmann::json ZonesJson(const CliOptions& options) {
    return nlohmann::json(options.zones);
}

// One request, one reply; the reply's message when it refuses.
int AskOnce(const nlohmann::json& request, CliConsole& console, nlohmann::json& reply) {
    Peer peer;
    if (!Reach(peer, console, false)) {
        return kFailure;
    }
    std::string problem;
    if (!servercontrol::Ask(peer, request, reply, problem)) {
        return Fail(console, problem);
    }
    if (!reply.value("ok", false)) {
        return Fail(console, reply.value("message", std::string("the server refused")));
    }
    return kSuccess;
}

std::string LevelText(double level) {
    if (level <= 0) {
        return "-";
    }
    char text[16];
    std::snprintf(text, sizeof text, "%.0f dB", 20 * std::log10(level));
    return text;
}

std::string Joined(const nlohmann::json& names) {
    std::string text;
    for (const auto& n : names) {
        text += (text.empty() ? "" : ", ") + n.get<std::string>();
    }
    return text;
}

// Asks the server to hold a run or a page for this connection; false, with the command's
// `status`, when it cannot or refuses.
bool Granted(Peer& peer, const nlohmann::json& request, CliConsole& console, int& status) {
    nlohmann::json reply;
    std::string problem;
    if (!servercontrol::Ask(peer, request, reply, problem)) {
        status = Fail(console, problem);
        return false;
    }
    if (!reply.value("ok", false)) {
        status = Fail(console, reply.value("message", std::string("the server refused")));
        return false;
    }
    return true;
}

// Follows a held run or page until it ends, a signal stops it or its time is up; the
// command's status.
int Follow(Peer& peer, const CliOptions& options, CliConsole& console, const char* what) {
    StopSignals signals;
    using Clock = std::chrono::steady_clock;
    const bool timed = options.durationSeconds > 0;
    const auto deadline = Clock::now() + std::chrono::milliseconds(
                                             static_cast<int64_t>(options.durationSeconds * 1000));
    for (;;) {
        int timeoutMs = -1;
        if (timed) {
            timeoutMs = static_cast<int>(std::max<int64_t>(
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now())
                    .count(),
                0));
        }
        nlohmann::json message;
        const auto got = servercontrol::Next(peer, message, timeoutMs, signals.WakeFd());
        if (got == Peer::Received::kClosed) {
            return Fail(console, std::string("the server ended the ") + what);
        }
        if (got == Peer::Received::kNothing) {
            peer.Send({{"command", "end"}});  // a signal, or the time is up
            if (options.json) {
                PrintEvent(console, {{"event", "ended"},
                                     {"reason", StopSignals::Requested() ? "signal" : "duration"}});
            }
            return kSuccess;
        }
        const std::string event = message.value("event", std::string());
        if (options.json) {
            PrintEvent(console, message);
        }
        if (event == "failed") {
            return Fail(console, message.value("message", std::string("it failed")));
        }
        if (event == "finished") {
            return kSuccess;
        }
    }
}

// One request; its reply printed as JSON, or as the line `said` makes of it.
int AskAndReport(const nlohmann::json& request, const CliOptions& options, CliConsole& console,
                 const std::function<std::string(const nlohmann::json&)>& said) {
    nlohmann::json reply;
    const int status = AskOnce(request, console, reply);
    if (status == kSuccess) {
        if (options.json) {
            PrintJson(console, reply);
        } else {
            console.out << said(reply) << '\n' << std::flush;
        }
    }
    return status;
}

}  // namespace

int Play(const CliOptions& options, CliConsole& console) {
    nlohmann::json request = {{"command", "play"}, {"name", options.name}};
    if (!options.zones.empty()) {
        request["zones"] = ZonesJson(options);
    }
    if (options.volumeDb != 0) {
        request["volume"] = options.volumeDb;
    }
    return AskAndReport(request, options, console, [&options](const nlohmann::json& reply) {
        return "playing \"" + options.name + "\" to " +
               std::to_string(reply.value("destinations", 0)) + " destination(s)";
    });
}

int Announce(const CliOptions& options, CliConsole& console) {
    nlohmann::json request = {{"command", "announce"}, {"text", options.text}};
    if (!options.name.empty()) {
        request["name"] = options.name;
    }
    if (!options.zones.empty()) {
        request["zones"] = ZonesJson(options);
    }
    if (options.announcePriority >= 0) {
        request["priority"] = options.announcePriority;
    }
    if (!options.voice.empty()) {
        request["voice"] = options.voice;
    }
    return AskAndReport(request, options, console, [](const nlohmann::json& reply) {
        char seconds[32];
        std::snprintf(seconds, sizeof seconds, "%.1f", reply.value("seconds", 0.0));
        return "announcing " + std::string(seconds) + " s of speech to " +
               std::to_string(reply.value("destinations", 0)) + " destination(s)";
    });
}

int StopPlaying(const CliOptions& options, CliConsole& console) {
    nlohmann::json reply;
    return AskOnce({{"command", "stop"}, {"name", options.name}}, console, reply);
}

namespace {

// The status's parts, gathered into one object; false, reported, when it cannot be had.
bool CollectStatus(nlohmann::json& all, CliConsole& console) {
    Peer peer;
    if (!Reach(peer, console, false)) {
        return false;
    }
    std::string problem;
    all = {{"destinations", nlohmann::json::array()}, {"sources", nlohmann::json::array()}};
    nlohmann::json part;
    if (!servercontrol::Ask(peer, {{"command", "status"}}, part, problem)) {
        Fail(console, problem);
        return false;
    }
    for (;;) {
        if (!part.value("ok", false)) {
            Fail(console, part.value("message", std::string("the server refused")));
            return false;
        }
        for (auto& d : part["destinations"]) {
            all["destinations"].push_back(d);
        }
        for (auto& s : part["sources"]) {
            all["sources"].push_back(s);
        }
        if (!part.value("part", false)) {
            return true;
        }
        if (servercontrol::Next(peer, part, 5000, -1) != Peer::Received::kMessage) {
            Fail(console, "the server's status came incomplete");
            return false;
        }
    }
}

void PrintDestinations(const nlohmann::json& destinations, CliConsole& console) {
    console.out << "DESTINATION            SOURCE                PRIO  STATE     LEVEL\n";
    for (const auto& d : destinations) {
        const std::string source = d.value("source", std::string());
        char line[256];
        std::snprintf(
            line, sizeof line, "%-22s %-21s %4s  %-9s %s",
            d.value("destination", std::string()).c_str(), source.empty() ? "-" : source.c_str(),
            source.empty() ? "-" : std::to_string(d.value("priority", 0)).c_str(),
            d.value("state", std::string()).c_str(), LevelText(d.value("level", 0.0)).c_str());
        console.out << line;
        if (!d["ducked"].empty()) {
            console.out << "  ducked: " << Joined(d["ducked"]);
        }
        if (!d["muted"].empty()) {
            console.out << "  muted: " << Joined(d["muted"]);
        }
        console.out << '\n';
    }
}

void PrintSources(const nlohmann::json& sources, CliConsole& console) {
    if (sources.empty()) {
        return;
    }
    console.out << "\nSOURCE                 KIND      PRIO  STATE     FILE\n";
    for (const auto& s : sources) {
        const int file = s.value("file", 0);
        char line[256];
        std::snprintf(
            line, sizeof line, "%-22s %-9s %4d  %-9s %s\n", s.value("name", std::string()).c_str(),
            s.value("kind", std::string()).c_str(), s.value("priority", 0),
            s.value("state", std::string()).c_str(), file > 0 ? std::to_string(file).c_str() : "-");
        console.out << line;
    }
}

}  // namespace

int Status(const CliOptions& options, CliConsole& console) {
    nlohmann::json all;
    if (!CollectStatus(all, console)) {
        return kFailure;
    }
    if (options.json) {
        PrintJson(console, all);
        return kSuccess;
    }
    PrintDestinations(all["destinations"], console);
    PrintSources(all["sources"], console);
    console.out << std::flush;
    return kSuccess;
}

bool StreamThroughServer(const CliOptions& options, CliConsole& console, int& status) {
    Peer peer;
    if (!Reach(peer, console, true)) {
        return false;
    }
    nlohmann::json request = {{"command", "play"},
                              {"name", options.name},
                              {"hold", true},
                              {"loop", options.loop},
                              {"volume", options.volumeDb}};
    if (!Granted(peer, request, console, status)) {
        return true;
    }
    if (!options.json) {
        console.err << "sonvex-cli: streaming through the server\n" << std::flush;
    }
    status = Follow(peer, options, console, "stream");
    return true;
}

bool PageThroughServer(const CliOptions& options, CliConsole& console, int& status) {
    Peer peer;
    if (!Reach(peer, console, true)) {
        return false;
    }
    nlohmann::json request = {
        {"command", "page"},
        {"name", options.name},
        {"device", options.device},
        {"law", options.format},
        {"priority", options.pagePriority},
        {"duration_ms", static_cast<int64_t>(std::llround(options.durationSeconds * 1000))}};
    if (!options.zones.empty()) {
        request["zones"] = ZonesJson(options);
    }
    if (!Granted(peer, request, console, status)) {
        return true;
    }
    if (!options.json) {
        console.err << "sonvex-cli: paging through the server\n" << std::flush;
    }
    CliOptions untimed = options;
    untimed.durationSeconds = 0;  // the server ends a timed page itself
    status = Follow(peer, untimed, console, "page");
    return true;
}

}  // namespace clicommands
