// Capture-to-send latency of a live page. A playlist with one destination on 127.0.0.1 (a
// socket this program reads) is stored in a temporary registry and opened through the
// document, which pages from an ALSA capture device for the given time at each packet time.
// For each run it prints what the session measured (from each captured block's last frame to
// the packet it completed leaving), against a budget of one packet time plus 5 ms, and the
// spacing of the packets as they arrived, which shows whether the device was paced at all.
//
//   page_bench [--device NAME] [--ptime 20,40] [--seconds N] [--law mu|a] [--over-stream]
//              [--label TEXT]
// --over-stream also pages over a running stream of a tone file (the page takes the entry's
// next tick) at each packet time. Each run ends with a "row" line for scripts:
//   row LABEL MODE PTIME BLOCKS MEDIAN_MS P99_MS MAX_MS BUDGET_MS PASS RECEIVED GAP_P50_MS
//       GAP_P99_MS HELD_P50_MS HELD_P99_MS
// The devices need no hardware: bench/page.sh runs it against a paced sound server's source
// and against an unpaced file PCM.

#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <mutex>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "document/playlistdocument.h"
#include "platform/alsacapture.h"
#include "stampedreceive.h"
#include "support/tempdir.h"
#include "support/wavefile.h"

namespace {

constexpr const char* kPlaylistName = "page-bench";
constexpr int kBudgetSlackMs = 5;
constexpr int64_t kPageClockRate = 8000;     // G.711's RTP clock
constexpr double kStreamToneSeconds = 10.0;  // the over-stream entry, looped

struct Arrival {
    int64_t ns = 0;  // kernel receive time
    uint32_t timestamp = 0;
    uint16_t sequence = 0;
    bool marker = false;
};

// Collects RTP datagrams on an ephemeral loopback port with the kernel's arrival times.
class Receiver {
public:
    bool Open() {
        m_fd = OpenStampedReceiver(0, 8 << 20, &m_port);
        if (m_fd < 0) {
            return false;
        }
        // An unpaced device sends a whole page at once; root may exceed rmem_max.
        int force = 8 << 20;
        ::setsockopt(m_fd, SOL_SOCKET, SO_RCVBUFFORCE, &force, sizeof force);
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    ~Receiver() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_fd >= 0) {
            ::close(m_fd);
        }
    }
    uint16_t Port() const { return m_port; }
    size_t Count() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_arrivals.size();
    }
    // Waits until nothing has arrived for `quietMs`, then hands over what came.
    std::vector<Arrival> TakeAfterQuiet(int quietMs) {
        size_t seen = Count();
        for (;;) {
            std::this_thread::sleep_for(std::chrono::milliseconds(quietMs));
            const size_t now = Count();
            if (now == seen) {
                break;
            }
            seen = now;
        }
        std::vector<Arrival> taken;
        std::lock_guard<std::mutex> lock(m_lock);
        taken.swap(m_arrivals);
        return taken;
    }

private:
    void Run() {
        uint8_t data[2048];
        while (!m_stop.load()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) <= 0) {
                continue;
            }
            for (;;) {
                Arrival a;
                const ssize_t got = ReceiveStamped(m_fd, data, sizeof data, MSG_DONTWAIT, &a.ns);
                if (got < 12) {
                    break;
                }
                a.marker = (data[1] & 0x80) != 0;
                a.sequence = static_cast<uint16_t>(data[2] << 8 | data[3]);
                a.timestamp = static_cast<uint32_t>(data[4]) << 24 |
                              static_cast<uint32_t>(data[5]) << 16 |
                              static_cast<uint32_t>(data[6]) << 8 | data[7];
                std::lock_guard<std::mutex> lock(m_lock);
                m_arrivals.push_back(a);
            }
        }
    }

    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_lock;
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

// Counts the worker's entry reports (on the worker's thread).
class EntryReports : public DocumentObserver {
public:
    void OnStreamingStatus(const StreamingStatus& status) override {
        if (status.code == kFileStarted) {
            (status.openFailed ? failed : opened).fetch_add(1);
        }
    }
    std::atomic<int> opened{0};
    std::atomic<int> failed{0};
};

// The clock of the kernel's arrival stamps.
int64_t RealtimeNs() {
    timespec t{};
    clock_gettime(CLOCK_REALTIME, &t);
    return int64_t{t.tv_sec} * 1000000000 + t.tv_nsec;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

struct Options {
    std::string device = "default";
    std::vector<int> ptimes = {20, 40};
    int seconds = 20;
    uint16_t law = 7;  // mu-law
    bool overStream = false;
    std::string label;
};

struct Run {
    std::string mode;
    int ptimeMs = 0;
    PageLatency::Summary latency;
    std::string failure;
    std::vector<Arrival> page;  // the page's packets as received
    size_t lost = 0;            // sequence numbers missing among them
    double gapP50Ms = 0, gapP99Ms = 0, gapMaxMs = 0;
    double holdP50Ms = 0, holdP99Ms = 0, holdMaxMs = 0;
};

// The spacing of the arrivals, and how long each packet was held back behind the audio it
// carries: its arrival less the capture time of its audio (the first packet's arrival plus
// its RTP time since the first), above the least of that over the page. The session's
// figure counts each block once, at the packet it completed last; a packet that waited in
// the converter for later blocks shows here. Meaningful only for a paced device.
void Spacing(Run& r) {
    std::vector<double> gaps;
    std::vector<double> behind;
    for (size_t k = 0; k < r.page.size(); ++k) {
        const auto rtpNs = static_cast<int64_t>(r.page[k].timestamp - r.page[0].timestamp) *
                           1000000000 / kPageClockRate;
        behind.push_back(static_cast<double>(r.page[k].ns - r.page[0].ns - rtpNs) / 1e6);
        if (k > 0) {
            gaps.push_back(static_cast<double>(r.page[k].ns - r.page[k - 1].ns) / 1e6);
            r.lost += static_cast<uint16_t>(r.page[k].sequence - r.page[k - 1].sequence - 1);
        }
    }
    r.gapP50Ms = Percentile(gaps, 0.5);
    r.gapP99Ms = Percentile(gaps, 0.99);
    r.gapMaxMs = gaps.empty() ? 0 : *std::max_element(gaps.begin(), gaps.end());
    if (!behind.empty()) {
        const double least = *std::min_element(behind.begin(), behind.end());
        for (double& b : behind) {
            b -= least;
        }
        r.holdP50Ms = Percentile(behind, 0.5);
        r.holdP99Ms = Percentile(behind, 0.99);
        r.holdMaxMs = *std::max_element(behind.begin(), behind.end());
    }
}

StreamingSession::PageRequest Request(const Options& o, int ptimeMs) {
    StreamingSession::PageRequest request;
    std::snprintf(request.Device, sizeof request.Device, "%s", o.device.c_str());
    request.Law = o.law;
    request.PtimeMs = ptimeMs;
    request.DurationMs = int64_t{o.seconds} * 1000;
    return request;
}

bool OpenPlaylist(PlaylistDocument& document) {
    if (!document.Open(kPlaylistName)) {
        std::fprintf(stderr, "the stored playlist cannot be opened\n");
        return false;
    }
    return true;
}

// The page alone: the run ends with it.
Run PageAlone(const Options& o, int ptimeMs, Receiver& receiver) {
    Run r;
    r.mode = "alone";
    r.ptimeMs = ptimeMs;
    PlaylistDocument document;
    if (!OpenPlaylist(document)) {
        r.failure = "no playlist";
        return r;
    }
    receiver.TakeAfterQuiet(50);
    if (!document.RequestPage(Request(o, ptimeMs))) {
        r.failure = "the page was refused";
        return r;
    }
    document.Wait();
    r.latency = document.PageLatencySummary();
    r.failure = document.PageFailure();
    r.page = receiver.TakeAfterQuiet(300);
    Spacing(r);
    return r;
}

// The page over a running stream: the packets from the page's first (marked) one to the
// page's end. The entry resumes a tick after that, so a cut at the moment the page is seen
// to be over (polled every 2 ms) falls between the two.
Run PageOverStream(const Options& o, int ptimeMs, Receiver& receiver) {
    Run r;
    r.mode = "over-stream";
    r.ptimeMs = ptimeMs;
    EntryReports reports;
    PlaylistDocument document(&reports);
    if (!OpenPlaylist(document)) {
        r.failure = "no playlist";
        return r;
    }
    // As the front ends do on opening: the stored entries are probed before they stream.
    document.ProbeAll();
    receiver.TakeAfterQuiet(50);
    document.SetLoopMode(true);
    if (!document.Start()) {
        r.failure = "the stream did not start";
        return r;
    }
    std::this_thread::sleep_for(std::chrono::seconds(2));
    if (reports.opened.load() == 0) {
        r.failure = "the stream's entry did not open";
        document.Shutdown();
        return r;
    }
    const size_t before = receiver.Count();
    if (!document.RequestPage(Request(o, ptimeMs))) {
        r.failure = "the page was refused";
        document.Shutdown();
        return r;
    }
    while (document.IsPageActive()) {
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    const int64_t endNs = RealtimeNs();
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
    document.Shutdown();
    r.latency = document.PageLatencySummary();
    r.failure = document.PageFailure();
    const std::vector<Arrival> all = receiver.TakeAfterQuiet(300);
    size_t first = before;
    while (first < all.size() && !all[first].marker) {
        ++first;
    }
    size_t last = first;
    while (last < all.size() && all[last].ns <= endNs) {
        ++last;
    }
    r.page.assign(all.begin() + static_cast<long>(first), all.begin() + static_cast<long>(last));
    Spacing(r);
    return r;
}

// What the device gives for this packet time, as the session will open it.
void DescribeDevice(const Options& o, int ptimeMs) {
    platform::AlsaCapture capture;
    if (!capture.Open(o.device.c_str(), static_cast<unsigned>(ptimeMs) * 1000u)) {
        std::printf("  device: %s\n", capture.Reason().c_str());
        return;
    }
    std::printf("  device \"%s\": %u Hz, %u channel(s), period %zu frames (%.2f ms)\n",
                o.device.c_str(), capture.Rate(), capture.Channels(), capture.PeriodFrames(),
                1000.0 * static_cast<double>(capture.PeriodFrames()) / capture.Rate());
}

void Print(const Options& o, const Run& r) {
    const int budget = r.ptimeMs + kBudgetSlackMs;
    const double p99 = static_cast<double>(r.latency.p99Us) / 1000.0;
    const bool pass = r.failure.empty() && r.latency.count > 0 && p99 <= budget;
    std::printf("%s, %d ms packets, %s:\n", r.mode.c_str(), r.ptimeMs,
                r.failure.empty() ? "ran to its end" : r.failure.c_str());
    std::printf(
        "  blocks that completed a packet %llu; capture to send median %.1f ms, p99 %.1f ms, "
        "max %.1f ms\n",
        static_cast<unsigned long long>(r.latency.count), r.latency.medianUs / 1000.0, p99,
        static_cast<double>(r.latency.maxUs) / 1000.0);
    std::printf("  budget %d ms (packet time + %d ms): p99 %s, max %s\n", budget, kBudgetSlackMs,
                pass ? "met" : "NOT met",
                r.latency.maxUs <= int64_t{budget} * 1000 ? "within" : "beyond");
    std::printf(
        "  received %zu packets (%lld of audio expected), %zu lost; spacing median %.2f ms, p99 "
        "%.2f ms, max %.2f ms\n",
        r.page.size(), static_cast<long long>(o.seconds) * 1000 / r.ptimeMs, r.lost, r.gapP50Ms,
        r.gapP99Ms, r.gapMaxMs);
    std::printf(
        "  held behind the earliest packet (arrival against RTP time): median %.1f ms, "
        "p99 %.1f ms, max %.1f ms\n",
        r.holdP50Ms, r.holdP99Ms, r.holdMaxMs);
    std::printf("row %s %s %d %llu %.1f %.1f %.1f %d %s %zu %.2f %.2f %.1f %.1f\n",
                o.label.empty() ? o.device.c_str() : o.label.c_str(), r.mode.c_str(), r.ptimeMs,
                static_cast<unsigned long long>(r.latency.count), r.latency.medianUs / 1000.0, p99,
                static_cast<double>(r.latency.maxUs) / 1000.0, budget, pass ? "pass" : "FAIL",
                r.page.size(), r.gapP50Ms, r.gapP99Ms, r.holdP50Ms, r.holdP99Ms);
    std::fflush(stdout);
}

std::vector<int> ParseList(const std::string& text) {
    std::vector<int> values;
    std::stringstream in(text);
    std::string item;
    while (std::getline(in, item, ',')) {
        const int v = std::atoi(item.c_str());
        if (v > 0) {
            values.push_back(v);
        }
    }
    return values;
}

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--device" && hasValue) {
            o.device = argv[++i];
        } else if (arg == "--ptime" && hasValue) {
            o.ptimes = ParseList(argv[++i]);
        } else if (arg == "--seconds" && hasValue) {
            o.seconds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--law" && hasValue) {
            o.law = std::string(argv[++i]) == "a" ? 6 : 7;
        } else if (arg == "--label" && hasValue) {
            o.label = argv[++i];
        } else if (arg == "--over-stream") {
            o.overStream = true;
        } else {
            std::fprintf(stderr,
                         "usage: page_bench [--device NAME] [--ptime 20,40] [--seconds N] "
                         "[--law mu|a] [--over-stream] [--label TEXT]\n");
            return false;
        }
    }
    return !o.ptimes.empty() && o.device.size() < sizeof StreamingSession::PageRequest{}.Device;
}

// A registry of its own holding the playlist: one destination on the receiver's port and,
// for the runs over a stream, a tone file to stream.
bool StorePlaylist(const testsupport::TempDir& dir, uint16_t port) {
    ::setenv("XDG_CONFIG_HOME", (dir / "home").c_str(), 1);
    ::setenv("XDG_CONFIG_DIRS", ((dir / "etc").string() + ":/nonexistent").c_str(), 1);
    const std::string wav = dir.File("stream.wav");
    const auto frames = static_cast<uint32_t>(kStreamToneSeconds * 8000);
    if (!testsupport::WriteWave(wav, 1, 1, 8000, 16,
                                testsupport::SinePcm16(frames, 1, 8000, 400.0, 8000.0))) {
        return false;
    }
    PlaylistFile entry;
    entry.SetName("stream.wav");
    entry.Source.SetPath(wav.c_str());
    entry.DstFormat = 7;
    entry.DstSampleRate = 8000;
    entry.DstPacketization = 20;
    PlaylistDocument document;
    return document.CreateStored(kPlaylistName) &&
           document.AddDestination(RtpDestination::FromOctets(127, 0, 0, 1, port)) &&
           document.AddFiles({entry}).at(0).valid;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        return 2;
    }
    testsupport::TempDir dir;
    Receiver receiver;
    if (dir.Path().empty() || !receiver.Open()) {
        std::fprintf(stderr, "cannot make the temporary folder or the loopback receiver\n");
        return 1;
    }
    if (!StorePlaylist(dir, receiver.Port())) {
        std::fprintf(stderr, "cannot store the playlist in the temporary registry\n");
        return 1;
    }
    std::printf("page from \"%s\" to 127.0.0.1:%u, %d s per run, %s, uid %d\n", o.device.c_str(),
                receiver.Port(), o.seconds, o.law == 6 ? "A-law" : "mu-law",
                static_cast<int>(::getuid()));
    std::printf("load average at start: %s\n", LoadAverage().c_str());
    bool allPassed = true;
    for (const int ptime : o.ptimes) {
        DescribeDevice(o, ptime);
        const Run alone = PageAlone(o, ptime, receiver);
        Print(o, alone);
        allPassed = allPassed && alone.failure.empty();
        if (o.overStream) {
            const Run over = PageOverStream(o, ptime, receiver);
            Print(o, over);
            allPassed = allPassed && over.failure.empty();
        }
    }
    std::printf("load average at end: %s\n", LoadAverage().c_str());
    return allPassed ? 0 : 1;
}
