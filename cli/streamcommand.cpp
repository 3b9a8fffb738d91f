// stream: plays a playlist to its destinations through the desktop's playlist document,
// until the list ends (or, looping, forever), SIGINT or SIGTERM, or the time given. page:
// a live page to the same destinations, until SIGINT or SIGTERM or the time given.

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <ostream>
#include <vector>

#include "clicommands.h"
#include "statuspipe.h"

namespace clicommands {
namespace {

// Set by the signal handler; read by the command between reports. Lock-free, so the
// handler may store it.
std::atomic<bool> g_stopRequested{false};
static_assert(std::atomic<bool>::is_always_lock_free);
std::atomic<int> g_wakeFd{-1};

extern "C" void OnStopSignal(int) {
    const int saved = errno;
    g_stopRequested.store(true, std::memory_order_relaxed);
    const int fd = g_wakeFd.load(std::memory_order_relaxed);
    if (fd >= 0) {
        const char byte = 1;
        [[maybe_unused]] const ssize_t ignored = ::write(fd, &byte, 1);
    }
    errno = saved;
}

// SIGINT and SIGTERM end the run cleanly while it lasts; the former handlers come back after.
class StopSignals {
public:
    StopSignals() {
        int ends[2];
        if (::pipe2(ends, O_CLOEXEC | O_NONBLOCK) == 0) {
            m_wakeRead = ends[0];
            m_wakeWrite = ends[1];
        }
        g_stopRequested.store(false);
        g_wakeFd.store(m_wakeWrite);
        struct sigaction action {};
        action.sa_handler = OnStopSignal;
        sigemptyset(&action.sa_mask);
        sigaction(SIGINT, &action, &m_oldInt);
        sigaction(SIGTERM, &action, &m_oldTerm);
    }
    ~StopSignals() {
        sigaction(SIGINT, &m_oldInt, nullptr);
        sigaction(SIGTERM, &m_oldTerm, nullptr);
        g_wakeFd.store(-1);
        if (m_wakeRead >= 0) {
            ::close(m_wakeRead);
            ::close(m_wakeWrite);
        }
    }
    StopSignals(const StopSignals&) = delete;
    StopSignals& operator=(const StopSignals&) = delete;

    int WakeFd() const { return m_wakeRead; }
    static bool Requested() { return g_stopRequested.load(std::memory_order_relaxed); }

private:
    int m_wakeRead = -1;
    int m_wakeWrite = -1;
    struct sigaction m_oldInt {};
    struct sigaction m_oldTerm {};
};

// Turns the worker's reports into the command's output: per file one line (redrawn each
// second on a terminal), or one JSON object per report.
class StreamReport {
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

private:
    std::string Label(size_t index) const {
        return std::to_string(index + 1) + "/" + std::to_string(m_playlist.Files.size()) + " " +
               m_playlist.Files[index].Name;
    }
    void Json(const nlohmann::ordered_json& event) {
        m_console.out << event.dump(-1, ' ', false,
                                    nlohmann::ordered_json::error_handler_t::replace)
                      << '\n'
                      << std::flush;
    }
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
                  {"durationSeconds", file.Source.durationSeconds}});
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
        } else if (m_console.terminal) {
            m_console.out << "\r\x1b[K" << std::flush;
        }
        Fail(m_console, text);
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

// Follows a started run to its end, reporting each step; stops it on a signal, when the
// time given is up, or when a whole pass opened nothing (`nothingOpened`). Returns why it
// ended.
const char* FollowRun(PlaylistDocument& document, StatusPipe& reports, const StopSignals& signals,
                      StreamReport& report, const CliOptions& options, bool& nothingOpened) {
    using Clock = std::chrono::steady_clock;
    const bool timed = options.durationSeconds > 0;
    const auto deadline =
        Clock::now() + std::chrono::duration_cast<Clock::duration>(
                           std::chrono::duration<double>(timed ? options.durationSeconds : 0));
    const char* why = "end";
    for (;;) {
        int timeoutMs = -1;
        if (timed) {
            const auto left =
                std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now());
            timeoutMs = static_cast<int>(std::max<int64_t>(left.count(), 0));
        }
        StreamingStatus status;
        // Once a stop is asked for, the wake-up has done its work and is not watched again.
        const int wake = StopSignals::Requested() ? -1 : signals.WakeFd();
        const bool got = reports.Next(status, wake, document.IsStreaming() ? timeoutMs : -1);
        if (StopSignals::Requested() && document.IsStreaming()) {
            why = "signal";
            document.Stop();
        }
        if (timed && document.IsStreaming() && Clock::now() >= deadline) {
            why = "duration";
            document.Stop();
        }
        if (!got) {
            continue;
        }
        if (status.code == kStreamingEnded) {
            return why;
        }
        if (!report.Handle(status) && document.IsStreaming()) {
            nothingOpened = true;
            document.Stop();
        }
    }
}

}  // namespace

int Stream(const CliOptions& options, CliConsole& console) {
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
    bool nothingOpened = false;
    const char* why = FollowRun(document, reports, signals, report, options, nothingOpened);
    document.Wait();
    if (nothingOpened) {
        report.Ended("nothing-opened");
        return Fail(console, "no file of the playlist \"" + options.name + "\" could be streamed");
    }
    report.Ended(why);
    return kSuccess;
}

int Page(const CliOptions& options, CliConsole& console) {
    StatusPipe reports;
    PlaylistDocument document(&reports);
    if (!OpenPlaylist(document, options.name, console)) {
        return kFailure;
    }
    if (document.CurrentPlaylist().Destinations.empty()) {
        return Fail(console, "the playlist \"" + options.name + "\" has no destinations");
    }
    StreamingSession::PageRequest request;
    if (options.device.empty() || options.device.size() >= sizeof request.Device) {
        return Fail(console, "the capture device's name is empty or too long");
    }
    std::copy(options.device.begin(), options.device.end(), request.Device);
    request.Device[options.device.size()] = '\0';
    request.Law = static_cast<uint16_t>(options.format);
    request.PtimeMs = options.packetization;
    request.DurationMs = static_cast<int64_t>(options.durationSeconds * 1000);
    StopSignals signals;
    if (!reports.Ok() || signals.WakeFd() < 0) {
        return Fail(console, "cannot make the pipes the run reports through");
    }
    if (!document.RequestPage(request)) {
        return Fail(console, "cannot start the streaming thread");
    }
    const auto json = [&](const nlohmann::ordered_json& event) {
        if (options.json) {
            console.out << event.dump(-1, ' ', false,
                                      nlohmann::ordered_json::error_handler_t::replace)
                        << '\n'
                        << std::flush;
        }
    };
    json({{"event", "page-started"}, {"device", options.device}});
    const char* why = options.durationSeconds > 0 ? "duration" : "end";
    for (;;) {
        StreamingStatus status;
        const int wake = StopSignals::Requested() ? -1 : signals.WakeFd();
        const bool got = reports.Next(status, wake, -1);
        if (StopSignals::Requested() && document.IsPaging()) {
            why = "signal";
            document.EndPage();
        }
        if (got && status.code == kStreamingEnded) {
            break;
        }
    }
    document.Wait();
    if (!document.PageFailure().empty()) {
        json({{"event", "ended"}, {"reason", "failed"}, {"message", document.PageFailure()}});
        return Fail(console, document.PageFailure());
    }
    json({{"event", "ended"}, {"reason", why}});
    return kSuccess;
}

}  // namespace clicommands
