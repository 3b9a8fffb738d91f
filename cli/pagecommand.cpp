// page: a live page to a playlist's destinations. When `stream` of the same playlist runs in
// another process, the page takes that stream over through the playlist's page socket
// (pagechannel.h): the stream's senders carry it, and the stream resumes after it. Otherwise
// it pages alone through its own document. Either way it ends on SIGINT or SIGTERM, after
// its time, or when the device fails.

#include <poll.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <ostream>

#include "clicommands.h"
#include "pagechannel.h"
#include "statuspipe.h"
#include "stopsignals.h"

namespace clicommands {
namespace {

// How a page ended, as the command tells it.
struct PageOutcome {
    const char* reason = "end";  // duration, signal, end, failed or stream-ended
    std::string message;         // why, when it failed or the stream under it ended
    PageLatency::Summary latency;
};

// The command's output: "page-started" and "ended" as JSON, or a summary on standard error.
class PageReport {
public:
    PageReport(const CliOptions& options, CliConsole& console)
        : m_options(options), m_console(console) {}

    void Started(bool takeover) {
        m_started = std::chrono::steady_clock::now();
        m_running = true;
        Json({{"event", "page-started"}, {"device", m_options.device}, {"takeover", takeover}});
    }
    // The command's status: failure when the page failed or the stream under it ended.
    int Ended(const PageOutcome& outcome) {
        const double seconds =
            m_running ? std::chrono::duration<double>(std::chrono::steady_clock::now() - m_started)
                            .count()
                      : 0.0;
        nlohmann::ordered_json event = {{"event", "ended"}, {"reason", outcome.reason}};
        if (!outcome.message.empty()) {
            event["message"] = outcome.message;
        }
        event["latency"] = LatencyJson(outcome.latency);
        Json(event);
        if (!outcome.message.empty()) {
            return Fail(m_console, outcome.message);
        }
        if (!m_options.json) {
            char paged[32];
            std::snprintf(paged, sizeof paged, "paged %.1f s; ", seconds);
            m_console.err << paged << LatencyText(outcome.latency) << '\n' << std::flush;
        }
        return kSuccess;
    }

private:
    void Json(const nlohmann::ordered_json& event) {
        if (m_options.json) {
            clicommands::PrintEvent(m_console, event);
        }
    }

    const CliOptions& m_options;
    CliConsole& m_console;
    std::chrono::steady_clock::time_point m_started;
    bool m_running = false;
};

// Why a page that ran to its end without failing ended.
const char* EndedBy(const CliOptions& options, bool signalled) {
    return signalled ? "signal" : options.durationSeconds > 0 ? "duration" : "end";
}

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

// The page alone, on this process's own document and worker.
PageOutcome PageAlone(PlaylistDocument& document, StatusPipe& reports, const StopSignals& signals,
                      const PlaylistDocument::PageRequest& request, const CliOptions& options,
                      PageReport& report) {
    PageOutcome outcome;
    if (!document.RequestPage(request)) {
        outcome.reason = "failed";
        outcome.message = "cannot start the streaming thread";
        return outcome;
    }
    bool signalled = false;
    for (;;) {
        StreamingStatus status;
        const int wake = StopSignals::Requested() ? -1 : signals.WakeFd();
        const bool got = reports.Next(status, wake, -1);
        if (StopSignals::Requested() && document.IsPaging()) {
            signalled = true;
            document.EndPage();
        }
        if (got && status.code == kPageStarted) {
            report.Started(false);
        }
        if (got && status.code == kStreamingEnded) {
            break;
        }
    }
    document.Wait();
    outcome.latency = document.PageLatencySummary();
    outcome.message = document.PageFailure();
    outcome.reason = outcome.message.empty() ? EndedBy(options, signalled) : "failed";
    return outcome;
}

// What the stream's page-ended message says, into `outcome`.
void ReadPageEnded(const nlohmann::json& message, const CliOptions& options, bool signalled,
                   PageOutcome& outcome) {
    const nlohmann::json latency = message.value("latency", nlohmann::json::object());
    const auto number = [&latency](const char* key) {
        const auto found = latency.find(key);
        return found != latency.end() && found->is_number_integer() ? found->get<int64_t>() : 0;
    };
    outcome.latency.count = static_cast<uint64_t>(std::max<int64_t>(number("packets"), 0));
    outcome.latency.medianUs = number("median_us");
    outcome.latency.p95Us = number("p95_us");
    outcome.latency.p99Us = number("p99_us");
    outcome.latency.maxUs = number("max_us");
    const auto failed = message.find("failed");
    const auto text = message.find("message");
    const auto streamEnded = message.find("stream_ended");
    if (failed != message.end() && *failed == true) {
        outcome.reason = "failed";
        outcome.message = text != message.end() && text->is_string() && !text->empty()
                              ? text->get<std::string>()
                              : "the page failed";
    } else if (!signalled && streamEnded != message.end() && *streamEnded == true) {
        outcome.reason = "stream-ended";
        outcome.message = "the stream of " + Quoted(options.name) + " ended, and the page with it";
    } else {
        outcome.reason = EndedBy(options, signalled);
    }
}

// One message from the stream; true once it decided the outcome.
bool Handle(const nlohmann::json& message, const CliOptions& options, bool signalled,
            bool& accepted, PageReport& report, PageOutcome& outcome) {
    const auto reply = message.find("reply");
    const auto event = message.find("event");
    if (reply != message.end() && *reply == "accepted") {
        accepted = true;
    } else if (reply != message.end() && *reply == "refused") {
        const auto reason = message.find("reason");
        outcome.reason = "failed";
        outcome.message =
            "the stream of " + Quoted(options.name) + " refused the page" +
            (reason != message.end() && reason->is_string() ? ": " + reason->get<std::string>()
                                                            : std::string());
        return true;
    } else if (event != message.end() && *event == "page-started") {
        report.Started(true);
    } else if (event != message.end() && *event == "page-ended") {
        ReadPageEnded(message, options, signalled, outcome);
        return true;
    } else if (event != message.end() && *event == "stream-ended") {
        outcome.reason = "stream-ended";
        outcome.message = "the stream of " + Quoted(options.name) + " ended, and the page with it";
        return true;
    }
    return false;
}

// The page over another process's stream through `peer`; false when that stream went away
// before it answered (the page then goes out alone).
bool PageOverStream(pagechannel::Peer& peer, const StopSignals& signals,
                    const PlaylistDocument::PageRequest& request, const CliOptions& options,
                    PageReport& report, PageOutcome& outcome) {
    // A refused send still leaves the stream's answer, if any, to be read.
    peer.Send({{"request", "page"},
               {"device", request.Device},
               {"law", request.Law},
               {"ptime", request.PtimeMs},
               {"duration_ms", request.DurationMs}});
    bool accepted = false;
    bool signalled = false;
    for (;;) {
        pollfd fds[2] = {{peer.Fd(), POLLIN, 0}, {signalled ? -1 : signals.WakeFd(), POLLIN, 0}};
        if (::poll(fds, 2, -1) < 0 && errno != EINTR) {
            return false;
        }
        if (StopSignals::Requested() && !signalled) {
            signalled = true;
            peer.Send({{"request", "end"}});
        }
        nlohmann::json message;
        for (;;) {
            const auto received = peer.Receive(message);
            if (received == pagechannel::Peer::Received::kNothing) {
                break;
            }
            if (received == pagechannel::Peer::Received::kClosed) {
                if (!accepted) {
                    return false;
                }
                outcome.reason = "stream-ended";
                outcome.message = "the stream of " + Quoted(options.name) + " went away";
                return true;
            }
            if (Handle(message, options, signalled, accepted, report, outcome)) {
                return true;
            }
        }
    }
}

// The request from the options; false, reported, when the device's name does not fit or
// holds a control character.
bool MakeRequest(const CliOptions& options, PlaylistDocument::PageRequest& request,
                 CliConsole& console) {
    if (options.device.empty() || options.device.size() >= sizeof request.Device) {
        Fail(console, "the capture device's name is empty or too long");
        return false;
    }
    if (const std::string problem = PageControl::DeviceProblem(options.device); !problem.empty()) {
        Fail(console, problem);
        return false;
    }
    std::copy(options.device.begin(), options.device.end(), request.Device);
    request.Device[options.device.size()] = '\0';
    request.Law = static_cast<uint16_t>(options.format);
    request.PtimeMs = options.packetization;
    request.DurationMs = static_cast<int64_t>(options.durationSeconds * 1000);
    return true;
}

}  // namespace

int Page(const CliOptions& options, CliConsole& console) {
    if (int status = kSuccess; PageThroughServer(options, console, status)) {
        return status;
    }
    StatusPipe reports;
    PlaylistDocument document(&reports);
    if (!OpenPlaylist(document, options.name, console)) {
        return kFailure;
    }
    if (document.CurrentPlaylist().Destinations.empty()) {
        return Fail(console, "the playlist " + Quoted(options.name) + " has no destinations");
    }
    PlaylistDocument::PageRequest request;
    if (!MakeRequest(options, request, console)) {
        return kFailure;
    }
    StopSignals signals;
    if (!reports.Ok() || signals.WakeFd() < 0) {
        return Fail(console, "cannot make the pipes the run reports through");
    }
    PageReport report(options, console);
    PageOutcome outcome;
    pagechannel::Peer peer;
    std::string problem;
    switch (pagechannel::Connect(options.name, peer, problem)) {
        case pagechannel::Connected::kConnected:
            if (PageOverStream(peer, signals, request, options, report, outcome)) {
                return report.Ended(outcome);
            }
            break;
        case pagechannel::Connected::kStranger:
        case pagechannel::Connected::kNoFolder:
            Fail(console, problem + "; paging alone");
            break;
        case pagechannel::Connected::kFailed:
            return Fail(console, problem);
        case pagechannel::Connected::kNobody:
            break;
    }
    return report.Ended(PageAlone(document, reports, signals, request, options, report));
}

}  // namespace clicommands
