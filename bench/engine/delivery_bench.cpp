// Streams a playlist of one file of every source kind (PCM at several rates and channel
// counts, G.711, both ADPCMs, GSM 6.10, MP3, MP3 in WAV, a 0.3 s chime) end to end through the
// streaming worker to a receiver on 127.0.0.1, in real time, and prints for each file its
// source duration, the duration delivered on the wire, the silence before and after its tone,
// and the gap at the boundary to the next file (the time beyond one packet period in which
// nothing arrives, and the silence heard from the end of one tone to the start of the next).
//
//   delivery_bench

#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/streamingsession.h"
#include "stampedreceive.h"
#include "support/mulaw.h"
#include "support/sourcekinds.h"
#include "support/tempdir.h"

namespace {

struct Arrival {
    int64_t ns;  // kernel receive time
    std::vector<uint8_t> payload;
};

// Receives RTP datagrams on an ephemeral loopback port with the kernel's arrival times.
class Receiver {
public:
    Receiver() {
        m_fd = OpenStampedReceiver(0, 4 << 20, &m_port);
        m_thread = std::thread([this] { Run(); });
    }
    ~Receiver() {
        m_stop.store(true);
        m_thread.join();
        ::close(m_fd);
    }
    uint16_t Port() const { return m_port; }
    std::vector<Arrival> Take() {
        std::lock_guard lock(m_mutex);
        return std::move(m_arrivals);
    }

private:
    void Run() {
        std::vector<uint8_t> buffer(65536);
        while (!m_stop.load()) {
            pollfd p{m_fd, POLLIN, 0};
            if (::poll(&p, 1, 50) != 1) {
                continue;
            }
            Arrival a;
            const ssize_t got = ReceiveStamped(m_fd, buffer.data(), buffer.size(), 0, &a.ns);
            if (got < 12) {
                continue;
            }
            if (a.ns == 0) {
                timespec now{};
                ::clock_gettime(CLOCK_REALTIME, &now);
                a.ns = int64_t{now.tv_sec} * 1000000000 + now.tv_nsec;
            }
            a.payload.assign(buffer.begin() + 12, buffer.begin() + got);
            std::lock_guard lock(m_mutex);
            m_arrivals.push_back(std::move(a));
        }
    }

    int m_fd = -1;
    uint16_t m_port = 0;
    std::atomic<bool> m_stop{false};
    std::mutex m_mutex;
    std::vector<Arrival> m_arrivals;
    std::thread m_thread;
};

// Notes, on the worker thread, how many packets the first sender had sent when each file
// started and finished: the packets in between are that file's.
class BoundaryPoster : public StatusPoster {
public:
    void PostStatus(const StreamingStatus& status) override {
        const uint32_t sent = m_session->Wire().Sender(0).Sequence();
        if (status.code == kFileStarted && !status.openFailed) {
            m_starts.push_back(sent);
        } else if (status.code == kFileFinished) {
            m_ends.push_back(sent);
        } else if (status.code == kFileStarted) {
            m_failed = true;
        }
    }
    // Read after the worker has been joined.
    std::vector<uint32_t> m_starts;
    std::vector<uint32_t> m_ends;
    bool m_failed = false;
    const StreamingSession* m_session = nullptr;
};

struct FileFigures {
    double sourceS = 0;
    double deliveredS = 0;
    double toneS = 0;
    double leadS = 0;
    double trailS = 0;
    int64_t firstNs = 0;
    int64_t lastNs = 0;
    int periodMs = 0;
};

}  // namespace

int main() {
    testsupport::TempDir dir;
    WinSonvex engine;
    if (engine.Mp3CodecCount() == 0) {
        std::fprintf(stderr, "no MPEG Layer-3 codec\n");
        return 1;
    }
    Receiver receiver;
    Playlist playlist;
    playlist.AppendDestination(RtpDestination::FromOctets(127, 0, 0, 1, receiver.Port()));
    std::vector<testsupport::SourceKind> kinds;
    for (const testsupport::SourceKind& kind : testsupport::SourceKinds()) {
        std::filesystem::path file;
        PlaylistFile entry;
        std::string text;
        if (!testsupport::MakeSourceKind(kind, dir.Path(), file) ||
            !engine.ProbeSource(file.c_str(), entry.Source, text) ||
            !entry.Source.SetPath(file.c_str()) || !entry.SetName(kind.name)) {
            std::fprintf(stderr, "could not make %s (sox, lame and ffmpeg are needed)\n",
                         kind.name);
            return 1;
        }
        entry.DstFormat = kind.dstFormat;
        entry.DstSampleRate = 8000;
        entry.DstPacketization = kind.packetMs;
        entry.Valid = 1;
        playlist.AppendFile(entry);
        kinds.push_back(kind);
    }

    BoundaryPoster poster;
    StreamingSession session(playlist, engine, poster);
    poster.m_session = &session;
    session.SetLoopMode(false);
    if (!session.Start()) {
        std::fprintf(stderr, "the streaming session did not start\n");
        return 1;
    }
    session.Wait();  // one pass, loop mode off: the worker returns by itself
    std::this_thread::sleep_for(std::chrono::milliseconds(200));  // the last datagrams land
    const std::vector<Arrival> arrivals = receiver.Take();
    if (poster.m_failed || poster.m_starts.size() != kinds.size() ||
        poster.m_ends.size() != kinds.size() || arrivals.size() != poster.m_ends.back()) {
        std::fprintf(stderr, "the run did not play every file once (%zu packets received)\n",
                     arrivals.size());
        return 1;
    }

    std::vector<FileFigures> figures(kinds.size());
    for (size_t i = 0; i < kinds.size(); ++i) {
        const testsupport::SourceKind& kind = kinds[i];
        FileFigures& f = figures[i];
        const bool alaw = kind.dstFormat == 6;
        std::vector<int> samples;
        for (uint32_t k = poster.m_starts[i]; k < poster.m_ends[i]; ++k) {
            for (uint8_t code : arrivals[k].payload) {
                samples.push_back(alaw ? testsupport::AlawToLinear(code)
                                       : testsupport::MulawToLinear(code));
            }
        }
        const testsupport::ToneSpan tone = testsupport::FindTone(samples, 160);
        f.sourceS = static_cast<double>(kind.frames) / kind.rate;
        f.deliveredS = static_cast<double>(samples.size()) / 8000.0;
        f.toneS = static_cast<double>(tone.end - tone.first) / 8000.0;
        f.leadS = static_cast<double>(tone.first) / 8000.0;
        f.trailS = static_cast<double>(samples.size() - tone.end) / 8000.0;
        f.firstNs = arrivals[poster.m_starts[i]].ns;
        f.lastNs = arrivals[poster.m_ends[i] - 1].ns;
        f.periodMs = kind.packetMs;
    }

    std::printf("%-14s %6s %9s %9s %9s %8s %8s %10s %10s\n", "file", "ptime", "source_s", "sent_s",
                "tone_s", "lead_ms", "trail_ms", "idle_ms", "silence_ms");
    for (size_t i = 0; i < kinds.size(); ++i) {
        const FileFigures& f = figures[i];
        std::string idle = "-";
        std::string silence = "-";
        if (i + 1 < kinds.size()) {
            // Beyond one period after the file's last packet nothing arrives until the next
            // file's first: the boundary's idle time on the wire. The silence heard across the
            // boundary adds the trailing and leading silence of the two files.
            const double idleMs =
                static_cast<double>(figures[i + 1].firstNs - f.lastNs) / 1e6 - f.periodMs;
            idle = std::to_string(idleMs).substr(0, 6);
            silence =
                std::to_string(f.trailS * 1000 + idleMs + figures[i + 1].leadS * 1000).substr(0, 6);
        }
        std::printf("%-14s %4dms %9.3f %9.3f %9.3f %8.1f %8.1f %10s %10s\n", kinds[i].name,
                    f.periodMs, f.sourceS, f.deliveredS, f.toneS, f.leadS * 1000, f.trailS * 1000,
                    idle.c_str(), silence.c_str());
    }
    return 0;
}
