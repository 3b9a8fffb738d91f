// stream: plays a playlist to its destinations through the desktop's playlist document,
// until the list ends (or, looping, forever), SIGINT or SIGTERM, or the time given. A page
// from another process (pagehost.h) takes the stream over while it lasts.

#include <algorithm>
#include <chrono>
#include <ostream>
#include <vector>

#include "clicommands.h"
#include "pagehost.h"
#include "statuspipe.h"
#include "stopsignals.h"

namespace clicommands {
namespace {

// Turns the worker's reports into the command's output: per file one line (redrawn each
// second on a terminal), or one JSON object per report; a page over the stream on standard
// error, or as JSON.
class StreamReport : public PageHost::Events {
public:
    StreamReport(const Playlist& playlist, const std::vector<std::string>& reasons,
                 const CliOptions& options, CliConsole& console)
        : m_playlist(playlist), m_reasons(reasons), m_json(options.json), m_console(console) {}

    // Returns false when a whole pass over the list opened nothing.
    bool Handle(const StreamingStatus& status) {
        switch (status.code) {
            case kFileStarted:
                if (status.index == 0) {
                    m_openedThisPass = false;
                }
                m_current = status.index;
                m_seconds = 0;
                if (status.openFailed) {
                    Failed(status.index);
                    return m_openedThisPass || status.index + 1 < m_playlist.Files.size();
                }
                m_openedThisPass = true;
                Started();
                return true;
            case kSecondElapsed:
                ++m_seconds;
                Elapsed();
                return true;
            case kFileFinished:
                Finished();
                return true;
            case kDestinationSkipped:
                Skipped(status);
                return true;
            default:
                return true;
        }
    }
    void Ended(const char* why) {
        if (m_json) {
            Json({{"event", "ended"}, {"reason", why}});
        }
    }
    void PageStarted(const std::string& device) override {
        if (m_json) {
            Json({{"event", "page-started"}, {"device", device}});
            return;
        }
        ClearLive();
        Fail(m_console, "a page from \"" + device + "\" took the stream over");
    }
    void PageEnded(const std::string& device, const std::string& failure,
                   const PageLatency::Summary& latency) override {
        if (m_json) {
            nlohmann::ordered_json event = {
                {"event", "page-ended"}, {"device", device}, {"failed", !failure.empty()}};
            if (!failure.empty()) {
                event["message"] = failure;
            }
            event["latency"] = LatencyJson(latency);
            Json(event);
            return;
        }
        ClearLive();
        Fail(m_console, "the page from \"" + device + "\" ended" +
                            (failure.empty() ? "" : " early: " + failure) + "; " +
                            LatencyText(latency));
    }

private:
    std::string Label(size_t index) const {
        return std::to_string(index + 1) + "/" + std::to_string(m_playlist.Files.size()) + " " +
               m_playlist.Files[index].Name;
    }
    void Json(const nlohmann::ordered_json& event) { clicommands::PrintEvent(m_console, event); }
    void Failed(size_t index) {
        const std::string& reason =
            m_reasons[index].empty() ? std::string("no codec decodes it") : m_reasons[index];
        if (m_json) {
            Json({{"event", "failed"},
                  {"index", index + 1},
                  {"name", m_playlist.Files[index].Name},
                  {"reason", reason}});
            return;
        }
        Fail(m_console, "failed to stream " + Label(index) + ": " + reason);
    }
    void Started() {
        const PlaylistFile& file = m_playlist.Files[m_current];
        if (m_json) {
            Json({{"event", "started"},
                  {"index", m_current + 1},
                  {"name", file.Name},
                  {"duration_seconds", file.Source.durationSeconds}});
        } else if (m_console.terminal) {
            Live();
        }
    }
    void Elapsed() {
        if (m_json) {
            Json({{"event", "elapsed"}, {"index", m_current + 1}, {"seconds", m_seconds}});
        } else if (m_console.terminal) {
            Live();
        }
    }
    void Finished() {
        if (m_json) {
            Json({{"event", "finished"}, {"index", m_current + 1}, {"seconds", m_seconds}});
            return;
        }
        if (m_console.terminal) {
            m_console.out << "\r\x1b[K";
        }
        m_console.out << "Streamed " << Label(m_current) << ": " << m_seconds << " s\n"
                      << std::flush;
    }
    // Standard error as well in JSON mode: the destination stays silent while the run goes on.
    void Skipped(const StreamingStatus& status) {
        if (status.index >= m_playlist.Destinations.size()) {
            return;
        }
        const RtpDestination& destination = m_playlist.Destinations[status.index];
        const std::string text = destinationcheck::SendFaultText(
            destination, static_cast<destinationcheck::SendFault>(status.fault));
        if (m_json) {
            Json({{"event", "destination-skipped"},
                  {"index", m_current + 1},
                  {"destination", status.index + 1},
                  {"address", destination.IpPort},
                  {"reason", text}});
        }
        ClearLive();
        Fail(m_console, text);
    }
    void ClearLive() {
        if (!m_json && m_console.terminal) {
            m_console.out << "\r\x1b[K" << std::flush;
        }
    }
    void Live() {
        m_console.out << "\r\x1b[KStreaming " << Label(m_current) << ": " << m_seconds << " of "
                      << m_playlist.Files[m_current].Source.durationSeconds << " s" << std::flush;
    }

    const Playlist& m_playlist;
    const std::vector<std::string>& m_reasons;
    bool m_json;
    CliConsole& m_console;
    size_t m_current = 0;
    int m_seconds = 0;
    bool m_openedThisPass = false;
};

// The next report (true), or a signal, a page's socket or the time ended the wait; the page's
// socket is served either way.
bool NextReport(StatusPipe& reports, const StopSignals& signals, PageHost& host, int timeoutMs,
                StreamingStatus& status) {
    pollfd fds[1 + PageHost::kMaxPollFds];
    // Once a stop is asked for, the wake-up has done its work and is not watched again.
    fds[0] = {StopSignals::Requested() ? -1 : signals.WakeFd(), POLLIN, 0};
    const size_t count = 1 + host.PollFds(fds + 1);
    const int hostMs = host.TimeoutMs();
    if (hostMs >= 0 && (timeoutMs < 0 || hostMs < timeoutMs)) {
        timeoutMs = hostMs;
    }
    const bool got = reports.Next(status, fds, count, timeoutMs);
    host.Serve(fds + 1, count - 1);
    return got;
}

// Follows a started run to its end, reporting each step and serving pages from other
// processes; stops it on a signal, when the time given is up, or when a whole pass opened
// nothing (`nothingOpened`). Returns why it ended.
const char* FollowRun(PlaylistDocument& document, StatusPipe& reports, const StopSignals& signals,
                      PageHost& host, StreamReport& report, const CliOptions& options,
                      bool& nothingOpened) {
    using Clock = std::chrono::steady_clock;
    const bool timed = options.durationSeconds > 0;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(timed ? options.durationSeconds : 0));
    const char* why = "end";
    for (;;) {
        int timeoutMs = -1;
        if (timed && document.IsStreaming()) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        StreamingStatus status;
        const bool got = NextReport(reports, signals, host, timeoutMs, status);
        if (StopSignals::Requested() && document.IsStreaming()) {
            why = "signal";
            document.Stop();
        }
        if (timed && document.IsStreaming() && Clock::now() >= deadline) {
            why = "duration";
            document.Stop();
        }
        if (!document.IsStreaming()) {
            host.StopListening();
        }
        if (!got) {
            continue;
        }
        if (status.code == kStreamingEnded) {
            host.StreamEnded();
            return why;
        }
        host.OnReport(status);
        if (!report.Handle(status) && document.IsStreaming()) {
            nothingOpened = true;
            document.Stop();
        }
    }
}

}  // namespace

int Stream(const CliOptions& options, CliConsole& console) {
    if (int status = kSuccess; StreamThroughServer(options, console, status)) {
        return status;
    }
    // Declared first: the document's worker reports into it until the document goes.
    StatusPipe reports;
    PlaylistDocument document(&reports);
    if (!OpenPlaylist(document, options.name, console)) {
        return kFailure;
    }
    const Playlist& playlist = document.CurrentPlaylist();
    if (playlist.Files.empty()) {
        return Fail(console, "the playlist \"" + options.name + "\" has no files");
    }
    if (playlist.Destinations.empty()) {
        return Fail(console, "the playlist \"" + options.name + "\" has no destinations");
    }
    if (playlist.Destinations.size() > static_cast<size_t>(PlaylistDocument::kSenderCount)) {
        Fail(console, "only the first " + std::to_string(PlaylistDocument::kSenderCount) + " of " +
                          std::to_string(playlist.Destinations.size()) +
                          " destinations receive packets");
    }
    // As the desktop does when it opens a playlist: every entry is probed, and only those
    // that open are streamed.
    std::vector<std::string> reasons;
    for (const ProbeReport& probed : document.ProbeAll()) {
        reasons.push_back(probed.reason);
    }

    document.SetVolumeDb(options.volumeDb);
    StopSignals signals;
    if (!reports.Ok() || signals.WakeFd() < 0) {
        return Fail(console, "cannot make the pipes the run reports through");
    }
    document.SetLoopMode(options.loop);
    if (!document.Start()) {
        return Fail(console, "cannot start the streaming thread");
    }
    StreamReport report(playlist, reasons, options, console);
    PageHost host(document, options.name, report);
    std::string problem;
    if (!host.Listen(problem)) {
        Fail(console, problem + "; no page can take this stream over");
    }
    bool nothingOpened = false;
    const char* why = FollowRun(document, reports, signals, host, report, options, nothingOpened);
    document.Wait();
    if (nothingOpened) {
        report.Ended("nothing-opened");
        return Fail(console, "no file of the playlist \"" + options.name + "\" could be streamed");
    }
    report.Ended(why);
    return kSuccess;
}

}  // namespace clicommands
