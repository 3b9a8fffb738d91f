// Streams tone playlists through a streaming session to receivers in a forked process on
// 127.0.0.1 and prints pacing, deadline-to-send latency, fan-out spread, CPU cost and audio
// quality, next to a bare loop that sleeps to absolute deadlines and sends one datagram per
// destination. The two run side by side, at 1 and then at 100 destinations each, so that
// both meet the same load on a shared machine; CPU is each thread's own.
//
//   streaming_bench [--seconds N] [--port P] [--only-stream] [--no-boundaries]
// --only-stream runs just the one-destination stream (for packet captures);
// --no-boundaries skips the file and loop boundary check.
//
// As an ordinary user, without CAP_SYS_NICE (the worker then asks RealtimeKit, and carries
// on at normal priority when there is none), for example:
//   setpriv --reuid=nobody --regid=nogroup --clear-groups --bounding-set=-all
//           streaming_bench --no-boundaries

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/mman.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <functional>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/streamingsession.h"
#include "platform/threadpriority.h"
#include "stampedreceive.h"

namespace {

constexpr double kToneHz = 1020.0;
constexpr double kToneAmplitude = 16384.0;  // -6 dBFS
constexpr int kMaxDestinations = 200;       // the engine's and the bare loop's
constexpr int kPayloadStore = 160;

struct Record {
    int64_t ns;
    uint32_t timestamp;
    uint16_t sequence;
    uint8_t byte1;
    uint16_t length;
};

// Shared with the receiver process.
struct Shared {
    std::atomic<int> stop;
    std::atomic<int> ready;
    int capacity;
    int counts[kMaxDestinations];
};

struct Capture {
    Shared* shm = nullptr;
    size_t bytes = 0;
    Record* records = nullptr;    // [dest][capacity]
    uint8_t* payloads = nullptr;  // dest 0: [capacity][kPayloadStore]
    pid_t child = -1;
    int destinations = 0;

    const Record& At(int dest, int k) const {
        return records[static_cast<size_t>(dest) * static_cast<size_t>(shm->capacity) +
                       static_cast<size_t>(k)];
    }
};

void Receive(Capture& c, uint16_t basePort) {
    std::vector<pollfd> fds;
    for (int d = 0; d < c.destinations; ++d) {
        const int fd = OpenStampedReceiver(static_cast<uint16_t>(basePort + d), 1 << 20);
        if (fd < 0) {
            std::perror("bind");
            _exit(1);
        }
        fds.push_back({fd, POLLIN, 0});
    }
    c.shm->ready.store(1);
    uint8_t data[2048];
    for (;;) {
        const int n = ::poll(fds.data(), fds.size(), 200);
        if (n == 0 && c.shm->stop.load() != 0) {
            break;
        }
        for (int d = 0; d < c.destinations; ++d) {
            if ((fds[static_cast<size_t>(d)].revents & POLLIN) == 0) {
                continue;
            }
            for (;;) {
                int64_t ns = 0;
                const ssize_t got = ReceiveStamped(fds[static_cast<size_t>(d)].fd, data,
                                                   sizeof data, MSG_DONTWAIT, &ns);
                if (got < 12) {
                    break;
                }
                int& count = c.shm->counts[d];
                if (count >= c.shm->capacity) {
                    continue;
                }
                Record& r =
                    c.records[static_cast<size_t>(d) * static_cast<size_t>(c.shm->capacity) +
                              static_cast<size_t>(count)];
                r.ns = ns;
                r.byte1 = data[1];
                r.sequence = static_cast<uint16_t>(data[2] << 8 | data[3]);
                r.timestamp = static_cast<uint32_t>(data[4]) << 24 |
                              static_cast<uint32_t>(data[5]) << 16 |
                              static_cast<uint32_t>(data[6]) << 8 | data[7];
                r.length = static_cast<uint16_t>(got - 12);
                if (d == 0) {
                    std::memcpy(c.payloads + static_cast<size_t>(count) * kPayloadStore, data + 12,
                                std::min<size_t>(kPayloadStore, static_cast<size_t>(got - 12)));
                }
                ++count;
            }
        }
    }
    _exit(0);
}

Capture StartReceiver(int destinations, int capacity, uint16_t basePort) {
    Capture c;
    c.destinations = destinations;
    const size_t recordBytes =
        sizeof(Record) * static_cast<size_t>(kMaxDestinations) * static_cast<size_t>(capacity);
    c.bytes = sizeof(Shared) + recordBytes + static_cast<size_t>(capacity) * kPayloadStore + 64;
    void* mem = ::mmap(nullptr, c.bytes, PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0);
    if (mem == MAP_FAILED) {
        std::perror("mmap");
        std::exit(1);
    }
    c.shm = new (mem) Shared();
    c.shm->capacity = capacity;
    auto* base = static_cast<uint8_t*>(mem) + ((sizeof(Shared) + 7) & ~size_t{7});
    c.records = reinterpret_cast<Record*>(base);
    c.payloads = base + recordBytes;
    c.child = ::fork();
    if (c.child == 0) {
        Receive(c, basePort);
    }
    while (c.shm->ready.load() == 0) {
        int status = 0;
        if (::waitpid(c.child, &status, WNOHANG) == c.child) {
            std::fprintf(stderr, "the receiver could not start\n");
            std::exit(1);
        }
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    }
    return c;
}

void StopReceiver(Capture& c) {
    c.shm->stop.store(1);
    int status = 0;
    ::waitpid(c.child, &status, 0);
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return 0;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

struct Pacing {
    double p50 = 0, p99 = 0, max = 0;  // microseconds of |interval - period|
    double driftPpm = 0;
    int count = 0;
};

Pacing PacingOf(const Capture& c, int dest, double periodMs) {
    Pacing p;
    p.count = c.shm->counts[dest];
    std::vector<double> dev;
    for (int k = 1; k < p.count; ++k) {
        const double ms = static_cast<double>(c.At(dest, k).ns - c.At(dest, k - 1).ns) / 1e6;
        dev.push_back(std::fabs(ms - periodMs) * 1000.0);
    }
    p.p50 = Percentile(dev, 0.5);
    p.p99 = Percentile(dev, 0.99);
    p.max = dev.empty() ? 0 : *std::max_element(dev.begin(), dev.end());
    if (p.count > 1) {
        const double span =
            static_cast<double>(c.At(dest, p.count - 1).ns - c.At(dest, 0).ns) / 1e6;
        p.driftPpm = (span / (p.count - 1) - periodMs) / periodMs * 1e6;
    }
    return p;
}

// G.711 mu-law (ITU-T), for the ideal reference.
uint8_t MulawEncode(int s) {
    const int sign = s < 0 ? 0x80 : 0;
    s = std::min(std::abs(s), 32635) + 0x84;
    int e = 7;
    for (int mask = 0x4000; (s & mask) == 0 && e > 0; mask >>= 1) {
        --e;
    }
    return static_cast<uint8_t>(~(sign | (e << 4) | ((s >> (e + 3)) & 0x0F)));
}
int MulawDecode(uint8_t code) {
    const int u = static_cast<uint8_t>(~code);
    const int e = (u >> 4) & 7;
    const int m = ((((u & 0x0F) << 3) + 0x84) << e) - 0x84;
    return (u & 0x80) != 0 ? -m : m;
}

struct SineFit {
    double a = 0, b = 0, c = 0;
    double Value(size_t n) const {
        const double w = 2 * M_PI * kToneHz / 8000.0 * static_cast<double>(n);
        return a * std::cos(w) + b * std::sin(w) + c;
    }
};

// Least squares of a*cos + b*sin + c over x[from, to).
SineFit Fit(const std::vector<double>& x, size_t from, size_t to) {
    double m[3][4] = {};
    for (size_t n = from; n < to; ++n) {
        const double w = 2 * M_PI * kToneHz / 8000.0 * static_cast<double>(n);
        const double f[3] = {std::cos(w), std::sin(w), 1.0};
        for (int i = 0; i < 3; ++i) {
            for (int j = 0; j < 3; ++j) {
                m[i][j] += f[i] * f[j];
            }
            m[i][3] += f[i] * x[n];
        }
    }
    for (int i = 0; i < 3; ++i) {  // Gauss-Jordan, the system is well conditioned
        for (int k = 0; k < 3; ++k) {
            if (k != i && m[i][i] != 0) {
                const double r = m[k][i] / m[i][i];
                for (int j = 0; j < 4; ++j) {
                    m[k][j] -= r * m[i][j];
                }
            }
        }
    }
    SineFit s;
    s.a = m[0][0] != 0 ? m[0][3] / m[0][0] : 0;
    s.b = m[1][1] != 0 ? m[1][3] / m[1][1] : 0;
    s.c = m[2][2] != 0 ? m[2][3] / m[2][2] : 0;
    return s;
}

double SnrDb(const std::vector<double>& x, const SineFit& s, size_t from, size_t to) {
    double sig = 0, err = 0;
    for (size_t n = from; n < to; ++n) {
        const double v = s.Value(n);
        sig += v * v;
        err += (x[n] - v) * (x[n] - v);
    }
    return 10 * std::log10(sig / std::max(err, 1e-9));
}

std::vector<double> Samples(const Capture& c) {
    std::vector<double> x;
    for (int k = 0; k < c.shm->counts[0]; ++k) {
        const int len = std::min<int>(c.At(0, k).length, kPayloadStore);
        for (int i = 0; i < len; ++i) {
            x.push_back(MulawDecode(
                c.payloads[static_cast<size_t>(k) * kPayloadStore + static_cast<size_t>(i)]));
        }
    }
    return x;
}

void Put16(std::vector<uint8_t>& o, uint32_t v) {
    o.push_back(static_cast<uint8_t>(v));
    o.push_back(static_cast<uint8_t>(v >> 8));
}
void Put32(std::vector<uint8_t>& o, uint32_t v) {
    Put16(o, v & 0xFFFF);
    Put16(o, v >> 16);
}

void WriteToneWav(const std::string& path, uint32_t rate, uint16_t channels, double seconds) {
    const auto frames = static_cast<uint32_t>(std::lround(seconds * rate));
    std::vector<uint8_t> o;
    o.insert(o.end(), {'R', 'I', 'F', 'F'});
    Put32(o, 36 + frames * channels * 2);
    o.insert(o.end(), {'W', 'A', 'V', 'E', 'f', 'm', 't', ' '});
    Put32(o, 16);
    Put16(o, 1);
    Put16(o, channels);
    Put32(o, rate);
    Put32(o, rate * channels * 2u);
    Put16(o, channels * 2u);
    Put16(o, 16);
    o.insert(o.end(), {'d', 'a', 't', 'a'});
    Put32(o, frames * channels * 2);
    for (uint32_t n = 0; n < frames; ++n) {
        const auto s = static_cast<int16_t>(
            std::lround(kToneAmplitude * std::sin(2 * M_PI * kToneHz * n / rate)));
        for (uint16_t ch = 0; ch < channels; ++ch) {
            Put16(o, static_cast<uint16_t>(s));
        }
    }
    std::ofstream(path, std::ios::binary)
        .write(reinterpret_cast<const char*>(o.data()), static_cast<std::streamsize>(o.size()));
}

// Deadline-to-send tracing. Each sending thread's clock notes the deadline of each tick
// and the thread's CPU time around its sleeps, and every send() and sendmsg() of this
// program (the bare loop's and the RTP senders') goes through a wrapper (linked with
// --wrap) that time-stamps the first send after each deadline. A trace is written by its
// one thread and read after that thread has been joined.
struct SendTrace {
    bool pending = false;
    int64_t deadlineNs = 0;
    int64_t wakeNs = 0;
    std::vector<double> latencyUs;  // deadline to first send, per tick
    std::vector<double> wakeUs;     // of which deadline to the return from the sleep
    // Thread CPU between waking and the next sleep (the tick's work), and inside the sleep
    // calls, summed over the run.
    double awakeCpuNs = 0;
    double sleepCpuNs = 0;
    int64_t cpuMark = -1;
};

// The trace of the calling thread, set by its clock at each sleep.
thread_local SendTrace* t_trace = nullptr;

int64_t NowNs() {
    timespec t{};
    clock_gettime(CLOCK_MONOTONIC, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

int64_t ThreadCpuNs() {
    timespec t{};
    clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
    return t.tv_sec * 1000000000LL + t.tv_nsec;
}

void NoteSend() {
    SendTrace* trace = t_trace;
    if (trace != nullptr && trace->pending) {
        trace->pending = false;
        trace->latencyUs.push_back(static_cast<double>(NowNs() - trace->deadlineNs) / 1000.0);
        trace->wakeUs.push_back(static_cast<double>(trace->wakeNs - trace->deadlineNs) / 1000.0);
    }
}

}  // namespace

extern "C" ssize_t __real_send(int fd, const void* data, size_t length, int flags);
extern "C" ssize_t __wrap_send(int fd, const void* data, size_t length, int flags) {
    NoteSend();
    return __real_send(fd, data, length, flags);
}
extern "C" ssize_t __real_sendmsg(int fd, const msghdr* message, int flags);
extern "C" ssize_t __wrap_sendmsg(int fd, const msghdr* message, int flags) {
    NoteSend();
    return __real_sendmsg(fd, message, flags);
}
// A fan-out's batch of sends: one io_uring submission carries the tick's datagrams.
struct io_uring;
extern "C" int __real_io_uring_submit_and_wait(io_uring* ring, unsigned waitCount);
extern "C" int __wrap_io_uring_submit_and_wait(io_uring* ring, unsigned waitCount) {
    NoteSend();
    return __real_io_uring_submit_and_wait(ring, waitCount);
}

namespace {

// The monotonic clock of one sending thread, tracing it.
class TracingTicks : public TickSource {
public:
    explicit TracingTicks(int ticks) {
        m_trace.latencyUs.reserve(static_cast<size_t>(ticks) + 16);
        m_trace.wakeUs.reserve(static_cast<size_t>(ticks) + 16);
    }
    int64_t NowNs() override { return MonotonicTickSource().NowNs(); }
    bool SleepUntilNs(int64_t deadlineNs) override {
        return Traced(deadlineNs, [deadlineNs] {
                   return MonotonicTickSource().SleepUntilNs(deadlineNs) ? SleepEnd::kReached
                                                                         : SleepEnd::kFailed;
               }) == SleepEnd::kReached;
    }
    SleepEnd SleepUntilNs(int64_t deadlineNs, const platform::WakeEvent& wake) override {
        return Traced(deadlineNs, [deadlineNs, &wake] {
            return MonotonicTickSource().SleepUntilNs(deadlineNs, wake);
        });
    }
    const SendTrace& Trace() const { return m_trace; }

private:
    template <typename Sleep>
    SleepEnd Traced(int64_t deadlineNs, Sleep sleep) {
        t_trace = &m_trace;
        const int64_t before = ThreadCpuNs();
        if (m_trace.cpuMark >= 0) {
            m_trace.awakeCpuNs += static_cast<double>(before - m_trace.cpuMark);
        }
        const SleepEnd end = sleep();
        m_trace.wakeNs = ::NowNs();
        m_trace.cpuMark = ThreadCpuNs();
        m_trace.sleepCpuNs += static_cast<double>(m_trace.cpuMark - before);
        m_trace.deadlineNs = deadlineNs;
        m_trace.pending = end == SleepEnd::kReached;
        return end;
    }

    SendTrace m_trace;
};

// Records the reports and, at each code 0, the first sequence number of the entry; stops
// the run on a failure, at the end, or after a number of files.
class BenchPoster : public StatusPoster {
public:
    void PostStatus(const StreamingStatus& status) override {
        if (status.code == kFileStarted && !status.openFailed) {
            m_starts.push_back(m_session->Wire().Sender(0).NextWireSequence());  // worker thread
        }
        if (status.code == kStreamingEnded || status.openFailed) {
            m_session->Stop();
        }
        if (status.code == kFileFinished && ++m_finished >= m_stopAfter) {
            m_session->Stop();
        }
    }
    StreamingSession* m_session = nullptr;
    std::vector<uint32_t> m_starts;  // read after the worker was collected
    int m_stopAfter = 1 << 30;

private:
    int m_finished = 0;
};

PlaylistFile MakeEntry(WinSonvex& engine, const std::string& path) {
    PlaylistFile e;
    std::string text;
    e.SetName(std::filesystem::path(path).filename().c_str());
    e.Valid = engine.ProbeSource(path.c_str(), e.Source, text) ? 1 : 0;
    e.Source.SetPath(path.c_str());
    e.DstFormat = 7;
    e.DstSampleRate = 8000;
    e.DstPacketization = 20;
    return e;
}

struct RunResult {
    platform::PriorityGrant grant = platform::PriorityGrant::Normal;
    std::vector<uint32_t> starts;
};

// One streaming run through a session, from Start until the worker has returned; `beside`
// runs on this thread meanwhile.
RunResult Stream(WinSonvex& engine, Playlist& playlist, bool loop, int stopAfterFiles,
                 TickSource& ticks, const std::function<void()>& beside = {}) {
    BenchPoster poster;
    poster.m_stopAfter = stopAfterFiles;
    StreamingSession session(playlist, engine, poster);
    poster.m_session = &session;
    session.SetTickSource(ticks);
    session.SetLoopMode(loop);
    RunResult result;
    if (session.Start()) {
        if (beside) {
            beside();
        }
        session.Wait();
    }
    result.grant = session.WorkerPriority();
    result.starts = poster.m_starts;
    return result;
}

void Destinations(Playlist& p, int n, uint16_t basePort) {
    p.Destinations.clear();
    for (int d = 0; d < n; ++d) {
        p.AppendDestination(
            RtpDestination::FromOctets(127, 0, 0, 1, static_cast<uint32_t>(basePort + d)));
    }
}

// The floor: a thread with the worker's priority request that sleeps to absolute 20 ms
// deadlines and sends one 172-byte datagram to each destination from a socket connected to
// it.
void BareLoop(int packets, int destinations, uint16_t basePort, TickSource& ticks) {
    std::thread t([&] {
        platform::RaiseCurrentThreadPriority();
        std::vector<int> fds;
        for (int d = 0; d < destinations; ++d) {
            const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
            sockaddr_in a{};
            a.sin_family = AF_INET;
            a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
            a.sin_port = htons(static_cast<uint16_t>(basePort + d));
            ::connect(fd, reinterpret_cast<sockaddr*>(&a), sizeof a);
            fds.push_back(fd);
        }
        uint8_t packet[172] = {0x80};
        int64_t next = ticks.NowNs();
        for (int k = 0; k < packets; ++k) {
            next += 20000000;
            ticks.SleepUntilNs(next);
            packet[2] = static_cast<uint8_t>(k >> 8);
            packet[3] = static_cast<uint8_t>(k);
            for (int fd : fds) {
                ::send(fd, packet, sizeof packet, 0);
            }
        }
        for (int fd : fds) {
            ::close(fd);
        }
    });
    t.join();
}

void PrintPacing(const char* label, const Pacing& p) {
    std::printf(
        "  %-26s packets %5d  |interval-20ms| p50 %6.1f us  p99 %6.1f us  max %7.1f us  "
        "drift %+.1f ppm\n",
        label, p.count, p.p50, p.p99, p.max, p.driftPpm);
}

struct Latency {
    double cpuSeconds = 0;            // the thread's, from its first sleep on
    double awakeUs = 0, sleepUs = 0;  // thread CPU per tick: working, and in the sleep call
    double p50 = 0, p99 = 0, max = 0;
    double wakeP50 = 0, wakeP99 = 0;  // the part spent waking up
    size_t count = 0;
};

Latency LatencyOf(const SendTrace& trace) {
    Latency l;
    const std::vector<double>& v = trace.latencyUs;
    l.count = v.size();
    l.p50 = Percentile(v, 0.5);
    l.p99 = Percentile(v, 0.99);
    l.max = v.empty() ? 0 : *std::max_element(v.begin(), v.end());
    l.wakeP50 = Percentile(trace.wakeUs, 0.5);
    l.wakeP99 = Percentile(trace.wakeUs, 0.99);
    const double ticks = std::max<double>(1.0, static_cast<double>(v.size()));
    l.awakeUs = trace.awakeCpuNs / ticks / 1000.0;
    l.sleepUs = trace.sleepCpuNs / ticks / 1000.0;
    l.cpuSeconds = (trace.awakeCpuNs + trace.sleepCpuNs) / 1e9;
    return l;
}

void PrintLatency(const char* label, const Latency& l) {
    std::printf(
        "  %-26s ticks %5zu  deadline to first send p50 %6.1f us  p99 %6.1f us  "
        "max %7.1f us (waking up: p50 %6.1f us  p99 %6.1f us)\n",
        label, l.count, l.p50, l.p99, l.max, l.wakeP50, l.wakeP99);
    std::printf("  %-26s thread CPU per tick: %.1f us awake, %.1f us in the sleep call\n", "",
                l.awakeUs, l.sleepUs);
}

// First-to-last arrival over destinations [first, first + count), per packet, in
// microseconds.
std::vector<double> Spread(const Capture& c, int first, int count) {
    int minCount = 1 << 30;
    for (int d = first; d < first + count; ++d) {
        minCount = std::min(minCount, c.shm->counts[d]);
    }
    std::vector<double> spread;
    for (int k = 0; k < minCount; ++k) {
        int64_t lo = INT64_MAX, hi = INT64_MIN;
        for (int d = first; d < first + count; ++d) {
            lo = std::min(lo, c.At(d, k).ns);
            hi = std::max(hi, c.At(d, k).ns);
        }
        spread.push_back(static_cast<double>(hi - lo) / 1000.0);
    }
    return spread;
}

// The engine and the bare loop side by side, under the same load: each with its own
// destinations, the bare loop's ticks about half a period after the engine's.
struct SideBySide {
    Latency engine;
    Latency bare;
    platform::PriorityGrant grant = platform::PriorityGrant::Normal;
    Capture capture;  // the engine's destinations first, then the bare loop's
};

SideBySide RunSideBySide(WinSonvex& engine, Playlist& playlist, int destinations, int ticks,
                         uint16_t port) {
    SideBySide r;
    Destinations(playlist, destinations, port);
    r.capture = StartReceiver(2 * destinations, ticks + 400, port);
    TracingTicks engineTicks(ticks);
    TracingTicks bareTicks(ticks);
    r.grant =
        Stream(engine, playlist, false, 1, engineTicks, [&] {
            std::this_thread::sleep_for(std::chrono::milliseconds(10));
            BareLoop(ticks, destinations, static_cast<uint16_t>(port + destinations), bareTicks);
        }).grant;
    StopReceiver(r.capture);
    r.engine = LatencyOf(engineTicks.Trace());
    r.bare = LatencyOf(bareTicks.Trace());
    return r;
}

std::string LoadAverage() {
    std::ifstream in("/proc/loadavg");
    std::string one, five, fifteen;
    in >> one >> five >> fifteen;
    return one + " " + five + " " + fifteen;
}

const char* Verdict(bool met) {
    return met ? "met" : "NOT met";
}

}  // namespace

int main(int argc, char** argv) {
    int seconds = 60;
    // Below the ephemeral range (32768 and up), where the senders' own ports come from.
    uint16_t port = 21000;
    bool onlyStream = false;
    bool boundaries = true;
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--seconds" && i + 1 < argc) {
            seconds = std::max(2, std::atoi(argv[++i]));
        } else if (arg == "--port" && i + 1 < argc) {
            port = static_cast<uint16_t>(std::atoi(argv[++i]));
        } else if (arg == "--only-stream") {
            onlyStream = true;
        } else if (arg == "--no-boundaries") {
            boundaries = false;
        }
    }
    WinSonvex engine;
    if (engine.Mp3CodecCount() == 0) {
        std::printf("no MPEG Layer-3 codec installed: nothing can be streamed\n");
        return 1;
    }
    const auto dir =
        std::filesystem::temp_directory_path() / ("sonvex-bench-" + std::to_string(::getpid()));
    std::filesystem::create_directories(dir);
    const std::string tone = (dir / "tone8k.wav").string();
    WriteToneWav(tone, 8000, 1, seconds + 0.0);
    const int ticks = seconds * 50;
    const int capacity = ticks + 400;
    const double minutes = seconds / 60.0;
    std::printf("stream of %d s, 20 ms packets, 1020 Hz -6 dBFS tone, 127.0.0.1, uid %d\n", seconds,
                static_cast<int>(::getuid()));
    std::printf(
        "engine and bare loop side by side, the bare loop's ticks 10 ms after the engine's\n");
    std::printf("load average at start: %s\n", LoadAverage().c_str());

    Playlist playlist;
    playlist.AppendFile(MakeEntry(engine, tone));
    if (onlyStream) {
        Destinations(playlist, 1, port);
        Capture only = StartReceiver(1, capacity, port);
        TracingTicks clock(ticks);
        Stream(engine, playlist, false, 1, clock);
        StopReceiver(only);
        PrintPacing("engine, 1 destination", PacingOf(only, 0, 20.0));
        std::filesystem::remove_all(dir);
        return 0;
    }

    // One destination each: pacing, CPU, deadline to send, audio quality.
    const SideBySide one = RunSideBySide(engine, playlist, 1, ticks, port);
    const Pacing ours = PacingOf(one.capture, 0, 20.0);
    const Pacing floor = PacingOf(one.capture, 1, 20.0);
    const std::vector<double> x = Samples(one.capture);
    std::printf("worker priority: %s\n", platform::PriorityGrantText(one.grant));
    std::printf("\n1 destination\n");
    PrintPacing("bare loop (floor)", floor);
    PrintPacing("engine", ours);
    PrintLatency("bare loop (floor)", one.bare);
    PrintLatency("engine", one.engine);
    std::printf("  CPU per stream-minute (thread): engine %.3f s, bare loop %.3f s\n",
                one.engine.cpuSeconds / minutes, one.bare.cpuSeconds / minutes);

    // 100 destinations each.
    const SideBySide hundred = RunSideBySide(engine, playlist, 100, ticks, port);
    const std::vector<double> spread = Spread(hundred.capture, 0, 100);
    const std::vector<double> bareSpread = Spread(hundred.capture, 100, 100);
    int minCount = 1 << 30, maxCount = 0;
    for (int d = 0; d < 100; ++d) {
        minCount = std::min(minCount, hundred.capture.shm->counts[d]);
        maxCount = std::max(maxCount, hundred.capture.shm->counts[d]);
    }
    std::printf("\n100 destinations\n");
    std::printf("  engine packets per destination: min %d max %d (expected %d: one per tick)\n",
                minCount, maxCount, ticks);
    PrintPacing("bare loop, destination 1", PacingOf(hundred.capture, 100, 20.0));
    PrintPacing("engine, destination 1", PacingOf(hundred.capture, 0, 20.0));
    PrintPacing("engine, destination 100", PacingOf(hundred.capture, 99, 20.0));
    PrintLatency("bare loop (floor)", hundred.bare);
    PrintLatency("engine", hundred.engine);
    std::printf(
        "  first-to-last destination per tick: engine p50 %.1f us  p99 %.1f us  max "
        "%.1f us; bare loop p50 %.1f us  p99 %.1f us\n",
        Percentile(spread, 0.5), Percentile(spread, 0.99),
        spread.empty() ? 0.0 : *std::max_element(spread.begin(), spread.end()),
        Percentile(bareSpread, 0.5), Percentile(bareSpread, 0.99));
    std::printf("  CPU per stream-minute (thread): engine %.3f s, bare loop %.3f s\n",
                hundred.engine.cpuSeconds / minutes, hundred.bare.cpuSeconds / minutes);
    std::printf("load average at end of the timed runs: %s\n", LoadAverage().c_str());

    const double ratioOne = one.engine.cpuSeconds / std::max(one.bare.cpuSeconds, 1e-6);
    const double ratioHundred = hundred.engine.cpuSeconds / std::max(hundred.bare.cpuSeconds, 1e-6);
    std::printf("\ngoals\n");
    std::printf("  CPU, 1 destination: %.2fx the bare loop (goal <= 1.3): %s\n", ratioOne,
                Verdict(ratioOne <= 1.3));
    std::printf("  CPU, 100 destinations: %.2fx the bare loop (goal <= 1.2): %s\n", ratioHundred,
                Verdict(ratioHundred <= 1.2));
    std::printf(
        "  deadline to first send, 1 destination: p50 %.1f us (goal <= 100): %s, p99 "
        "%.1f us (goal <= 500): %s\n",
        one.engine.p50, Verdict(one.engine.p50 <= 100), one.engine.p99,
        Verdict(one.engine.p99 <= 500));
    std::printf("  deadline to first send, 100 destinations: p50 %.1f us: %s, p99 %.1f us: %s\n",
                hundred.engine.p50, Verdict(hundred.engine.p50 <= 100), hundred.engine.p99,
                Verdict(hundred.engine.p99 <= 500));
    std::printf("  pacing p99, 1 destination: engine %.1f us, bare loop %.1f us: %s\n", ours.p99,
                floor.p99, Verdict(ours.p99 <= floor.p99));
    std::printf("  first-to-last spread p99, 100 destinations: %.1f us (goal <= 1000): %s\n",
                Percentile(spread, 0.99), Verdict(Percentile(spread, 0.99) <= 1000));

    // Audio quality of the one-destination stream.
    std::printf("\naudio (1 destination, decoded mu-law)\n");
    if (x.size() > 16000) {
        const size_t from = 4000, to = x.size() - 4000;
        const SineFit fit = Fit(x, from, to);
        std::vector<double> ideal(x.size());
        for (size_t n = 0; n < x.size(); ++n) {
            ideal[n] = MulawDecode(MulawEncode(static_cast<int>(std::lround(fit.Value(n)))));
        }
        const double snr = SnrDb(x, fit, from, to);
        const double snrIdeal = SnrDb(ideal, fit, from, to);
        // Glitches at packet boundaries: the residual at the two samples either side of
        // each boundary against the residual everywhere else.
        double edge = 0, inner = 0, edgeMax = 0, innerMax = 0;
        size_t edgeN = 0, innerN = 0;
        for (size_t n = from; n < to; ++n) {
            const double r = std::fabs(x[n] - fit.Value(n));
            const size_t pos = n % 160;
            if (pos <= 1 || pos >= 158) {
                edge += r * r;
                edgeMax = std::max(edgeMax, r);
                ++edgeN;
            } else {
                inner += r * r;
                innerMax = std::max(innerMax, r);
                ++innerN;
            }
        }
        std::printf(
            "  amplitude %.0f (source 16384), SNR %.2f dB, ideal mu-law %.2f dB, "
            "difference %.2f dB (goal <= 0.7)\n",
            std::hypot(fit.a, fit.b), snr, snrIdeal, snrIdeal - snr);
        std::printf(
            "  residual at packet boundaries rms %.1f max %.0f; elsewhere rms %.1f max %.0f\n",
            std::sqrt(edge / static_cast<double>(edgeN)), edgeMax,
            std::sqrt(inner / static_cast<double>(innerN)), innerMax);
    }

    if (!boundaries) {
        std::filesystem::remove_all(dir);
        return 0;
    }
    // File and loop boundaries: three 3 s files of different kinds, two passes.
    const std::string stereo = (dir / "tone44k.wav").string();
    const std::string small = (dir / "tone8k3.wav").string();
    const std::string mp3 = (dir / "tone.mp3").string();
    WriteToneWav(stereo, 44100, 2, 3.0);
    WriteToneWav(small, 8000, 1, 3.0);
    const std::string lame = "lame --quiet -b 64 '" + stereo + "' '" + mp3 + "'";
    const bool haveMp3 = std::system(lame.c_str()) == 0;
    Playlist looped;
    looped.AppendFile(MakeEntry(engine, stereo));
    looped.AppendFile(MakeEntry(engine, small));
    if (haveMp3) {
        looped.AppendFile(MakeEntry(engine, mp3));
    }
    Destinations(looped, 1, port);
    Capture b = StartReceiver(1, capacity, port);
    TracingTicks loopClock(ticks);
    const std::vector<uint32_t> starts =
        Stream(engine, looped, true, static_cast<int>(looped.Files.size()) * 2, loopClock).starts;
    StopReceiver(b);
    const std::vector<double> y = Samples(b);
    std::printf("\nfile and loop boundaries (44.1 kHz stereo WAV, 8 kHz WAV%s; two passes)\n",
                haveMp3 ? ", 44.1 kHz MP3" : "");
    const uint32_t firstSeq = b.shm->counts[0] > 0 ? b.At(0, 0).sequence : 0;
    // 5 ms blocks whose own sine fit is poor (below 25 dB) or whose level is far from the
    // file's are disturbed; runs of them are reported against the file starts.
    // Blocks overlap by half so that a jump on a block edge still falls inside one.
    constexpr size_t kBlock = 40;
    constexpr size_t kStride = 20;
    std::vector<double> blockAmp, blockSnr;
    for (size_t s = 0; s + kBlock <= y.size(); s += kStride) {
        const SineFit f = Fit(y, s, s + kBlock);
        blockAmp.push_back(std::hypot(f.a, f.b));
        blockSnr.push_back(SnrDb(y, f, s, s + kBlock));
    }
    for (size_t i = 0; i < starts.size(); ++i) {
        const double t = static_cast<double>(static_cast<uint16_t>(starts[i] - firstSeq)) * 0.02;
        std::printf("  file start %zu at %.3f s\n", i, t);
    }
    for (size_t i = 0; i < blockSnr.size();) {
        // The level of the file around this block: the median of the nearby blocks.
        const size_t lo = i >= 40 ? i - 40 : 0;
        const size_t hi = std::min(blockAmp.size(), i + 40);
        std::vector<double> near(blockAmp.begin() + static_cast<long>(lo),
                                 blockAmp.begin() + static_cast<long>(hi));
        const double level = Percentile(near, 0.5);
        const bool bad =
            blockSnr[i] < 25.0 || blockAmp[i] < 0.8 * level || blockAmp[i] > 1.2 * level;
        if (!bad) {
            ++i;
            continue;
        }
        size_t j = i;
        while (j < blockSnr.size() && (blockSnr[j] < 25.0 || blockAmp[j] < 0.8 * level)) {
            ++j;
        }
        j = std::max(j, i + 1);
        std::printf("  disturbed %.4f s .. %.4f s (%.1f ms)\n", i * 0.0025, j * 0.0025 + 0.0025,
                    (j - i) * 2.5 + 2.5);
        i = j;
    }
    std::filesystem::remove_all(dir);
    return 0;
}
