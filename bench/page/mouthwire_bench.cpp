// Mouth-to-wire latency of live pages, side by side: clicks played into a sound server against
// the RTP packets that carry them, from any number of senders paging the same clicks at once,
// each to its own loopback port here.
//
// A click track (a 10 ms 1 kHz burst at 0.8 of full scale every 300 to 400 ms, the spacing
// varied so that clicks fall anywhere in a packet) goes out through an ALSA playback PCM in
// short periods. Before each period is written the PCM's delay says when its first frame will
// be played, on CLOCK_MONOTONIC. The delay is the server's interpolated estimate and wanders
// by a millisecond or so over seconds, while a null sink takes exactly a rate's worth of
// frames a second of that clock: a click's play instant is its frame's time from the median
// origin of its stretch of steady playing (see SteadyInstants). Each receiver keeps every
// datagram's kernel arrival time (CLOCK_REALTIME, turned into CLOCK_MONOTONIC by the offset
// read beside it), decodes the G.711 payload and finds each click's onset: the first sample
// past a quarter of full scale after 100 ms of quiet. The onset's packet arrival less the
// nearest earlier play instant is the click's mouth to wire; a match must also agree with the
// others on the sender's media clock (RTP time less play instant, within 10 ms), which a click
// put on a neighbour's instant mostly does not, the spacing being uneven. Also given: how long
// after its last sample was played the onset's packet arrived, which takes the click's place
// in the packet out; and, as a check of the instants, how far they stray from the senders'
// media clocks, which count samples of the same monitor.
//
//   mouthwire_bench --peer LABEL/PTIME [--peer ...] [--device NAME] [--seconds N]
//                   [--shift-ms D] [--warmup S] [--drain S] [--dump FILE]
// --shift-ms plays every second click D ms later than its recorded instant: the figures of
// those clicks must be D ms larger, which checks the whole chain. --dump writes each write's
// origin, each click and each match for a closer look. Prints "ready LABEL/PTIME=PORT ..." once
// the click track plays and the receivers are bound (the senders start then), waits for
// packets on every port, then clicks for N seconds. Each peer ends with a line for scripts:
//   row LABEL PTIME PACKET_MS PLAYED MATCHED MEDIAN_MS P95_MS MAX_MS END_MEDIAN_MS END_P95_MS
//       STRAY INCONSISTENT [SHIFT_DELTA_MS END_SHIFT_DELTA_MS]

#include <alsa/asoundlib.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "stampedreceive.h"

namespace {

constexpr unsigned kRate = 48000;
constexpr unsigned kPeriodFrames = 192;  // 4 ms: the sink renders no more than this at a time
// 200 ms of slack for a late wake-up under load; the sink still renders a period at a time.
constexpr unsigned kBufferPeriods = 50;
constexpr int64_t kGapMs = 300;  // between clicks, plus up to kGapSpreadMs
constexpr int64_t kGapSpreadMs = 100;
constexpr int64_t kBurstMs = 10;
constexpr double kBurstHz = 1000.0;
constexpr double kBurstLevel = 0.8;
constexpr int kMediaRate = 8000;                // G.711's RTP clock
constexpr int kThreshold = 8192;                // a quarter of full scale
constexpr int kQuietSamples = kMediaRate / 10;  // 100 ms below it before an onset
constexpr int64_t kEarlyNs = 10 * 1000000;      // an arrival this much before an instant
// A match's media clock against the others': wider than a sender that stamps RTP time from
// the wall clock strays, narrower than most differences between two clicks' spacings.
constexpr int64_t kMediaToleranceNs = 10000000;
constexpr int64_t kNs = 1000000000;

int64_t ClockNs(clockid_t clock) {
    timespec t{};
    clock_gettime(clock, &t);
    return int64_t{t.tv_sec} * kNs + t.tv_nsec;
}

// CLOCK_REALTIME less CLOCK_MONOTONIC, from the tightest of a few monotonic pairs around a
// realtime read (well under a microsecond off).
int64_t RealLessMonotonicNs() {
    int64_t best = 0;
    int64_t width = INT64_MAX;
    for (int i = 0; i < 3; ++i) {
        const int64_t before = ClockNs(CLOCK_MONOTONIC);
        const int64_t real = ClockNs(CLOCK_REALTIME);
        const int64_t after = ClockNs(CLOCK_MONOTONIC);
        if (after - before < width) {
            width = after - before;
            best = real - (before + after) / 2;
        }
    }
    return best;
}

double Percentile(std::vector<double> v, double p) {
    if (v.empty()) {
        return NAN;
    }
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1,
                      static_cast<size_t>(p * static_cast<double>(v.size() - 1) + 0.5))];
}

int16_t DecodeMuLaw(uint8_t code) {
    code = static_cast<uint8_t>(~code);
    const int magnitude = (((code & 0x0F) << 3) + 0x84) << ((code >> 4) & 0x07);
    return static_cast<int16_t>((code & 0x80) != 0 ? 0x84 - magnitude : magnitude - 0x84);
}

int16_t DecodeALaw(uint8_t code) {
    code ^= 0x55;
    const int exponent = (code >> 4) & 0x07;
    int magnitude = (code & 0x0F) << 4;
    magnitude = exponent == 0 ? magnitude + 8 : (magnitude + 0x108) << (exponent - 1);
    return static_cast<int16_t>((code & 0x80) != 0 ? magnitude : -magnitude);
}

struct Click {
    int64_t nominalFrame = 0;   // where its instant is taken
    int64_t audioFrame = 0;     // where it sounds: later by the shift for every second click
    int64_t rawInstantNs = -1;  // CLOCK_MONOTONIC, from the delay at its write; -1: none
    int64_t instantNs = -1;     // the same from its stretch's steady origin
    bool shifted = false;
};

// A write while clicking: its first frame, and when frame 0 would have played by the delay.
struct Write {
    int64_t frame = 0;
    int64_t originNs = 0;
};

// How the delay's estimates behaved about the steady origins.
struct Steadiness {
    size_t stretches = 0;
    double wanderP1Ms = NAN, wanderP99Ms = NAN, wanderMaxMs = NAN;  // each write's estimate
    double rawOffMaxMs = NAN;  // the largest a click's own estimate was off its stretch's
};

double Median(std::vector<int64_t> v) {
    if (v.empty()) {
        return NAN;
    }
    std::nth_element(v.begin(), v.begin() + static_cast<long>(v.size() / 2), v.end());
    return static_cast<double>(v[v.size() / 2]);
}

// A stream that plays on, frame after frame, plays frame n at one origin + n / rate: the null
// sink takes exactly a rate's worth of frames a second of its clock. The delay each write
// reads is the server's interpolated estimate, which wanders by a millisecond or two from
// that over seconds. So each click's instant is taken from the median origin of its stretch:
// the writes between two breaks, a recovered underrun or an estimate that jumped and stayed
// (the server ran out of the stream and resumed it later).
Steadiness SteadyInstants(std::vector<Click>& clicks, const std::vector<Write>& writes,
                          const std::vector<int64_t>& breaks) {
    constexpr size_t kSide = 50;              // writes each side of a jump, 200 ms
    constexpr int64_t kJumpNs = 2 * 1000000;  // well past the estimate's wander
    Steadiness st;
    std::vector<size_t> starts = {0};
    for (size_t i = 1; i < writes.size(); ++i) {
        const bool recovered = std::any_of(breaks.begin(), breaks.end(), [&](int64_t b) {
            return b > writes[i - 1].frame && b <= writes[i].frame;
        });
        bool jumped = false;
        if (!recovered && std::abs(writes[i].originNs - writes[i - 1].originNs) > kJumpNs &&
            i >= kSide && i + kSide <= writes.size()) {
            std::vector<int64_t> before, after;
            for (size_t j = i - kSide; j < i; ++j) {
                before.push_back(writes[j].originNs);
            }
            for (size_t j = i; j < i + kSide; ++j) {
                after.push_back(writes[j].originNs);
            }
            jumped = std::abs(Median(after) - Median(before)) > kJumpNs;
        }
        if (recovered || jumped) {
            starts.push_back(i);
        }
    }
    starts.push_back(writes.size());
    std::vector<double> wander;
    for (size_t s = 0; s + 1 < starts.size(); ++s) {
        std::vector<int64_t> origins;
        for (size_t i = starts[s]; i < starts[s + 1]; ++i) {
            origins.push_back(writes[i].originNs);
        }
        if (origins.empty()) {
            continue;
        }
        ++st.stretches;
        const double origin = Median(origins);
        for (const int64_t o : origins) {
            wander.push_back((static_cast<double>(o) - origin) / 1e6);
        }
        const int64_t from = writes[starts[s]].frame;
        const int64_t to = starts[s + 1] < writes.size() ? writes[starts[s + 1]].frame : INT64_MAX;
        for (Click& c : clicks) {
            if (c.rawInstantNs >= 0 && c.nominalFrame >= from && c.nominalFrame < to) {
                c.instantNs = static_cast<int64_t>(origin) + c.nominalFrame * kNs / kRate;
                const double off =
                    std::abs(static_cast<double>(c.rawInstantNs - c.instantNs)) / 1e6;
                st.rawOffMaxMs = std::isnan(st.rawOffMaxMs) ? off : std::max(st.rawOffMaxMs, off);
            }
        }
    }
    st.wanderP1Ms = Percentile(wander, 0.01);
    st.wanderP99Ms = Percentile(wander, 0.99);
    for (const double w : wander) {
        st.wanderMaxMs =
            std::isnan(st.wanderMaxMs) ? std::abs(w) : std::max(st.wanderMaxMs, std::abs(w));
    }
    return st;
}

// Plays silence from Open() on (so that the sink renders in short periods before the senders
// connect) and, once asked, the clicks, noting each one's play instant.
class ClickPlayer {
public:
    ~ClickPlayer() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
        if (m_pcm != nullptr) {
            snd_pcm_close(m_pcm);
        }
    }

    bool Open(const std::string& device) {
        int err = snd_pcm_open(&m_pcm, device.c_str(), SND_PCM_STREAM_PLAYBACK, 0);
        if (err < 0) {
            m_reason = std::string("cannot open: ") + snd_strerror(err);
            return false;
        }
        snd_pcm_hw_params_t* hw = nullptr;
        snd_pcm_hw_params_alloca(&hw);
        unsigned rate = kRate;
        snd_pcm_uframes_t period = kPeriodFrames;
        snd_pcm_uframes_t buffer = kPeriodFrames * kBufferPeriods;
        int dir = 0;
        if ((err = snd_pcm_hw_params_any(m_pcm, hw)) < 0 ||
            (err = snd_pcm_hw_params_set_access(m_pcm, hw, SND_PCM_ACCESS_RW_INTERLEAVED)) < 0 ||
            (err = snd_pcm_hw_params_set_format(m_pcm, hw, SND_PCM_FORMAT_S16_LE)) < 0 ||
            (err = snd_pcm_hw_params_set_channels(m_pcm, hw, 1)) < 0 ||
            (err = snd_pcm_hw_params_set_rate(m_pcm, hw, rate, 0)) < 0 ||
            (err = snd_pcm_hw_params_set_period_size_near(m_pcm, hw, &period, &dir)) < 0 ||
            (err = snd_pcm_hw_params_set_buffer_size_near(m_pcm, hw, &buffer)) < 0 ||
            (err = snd_pcm_hw_params(m_pcm, hw)) < 0) {
            m_reason =
                std::string("cannot set 48 kHz mono S16 in short periods: ") + snd_strerror(err);
            return false;
        }
        snd_pcm_hw_params_get_period_size(hw, &period, &dir);
        snd_pcm_hw_params_get_buffer_size(hw, &buffer);
        m_period = period;
        m_buffer = buffer;
        m_thread = std::thread([this] { Run(); });
        return true;
    }

    // Clicks for `seconds` from a little after now; every second one shifted by shiftMs.
    void Begin(int seconds, int shiftMs) {
        std::lock_guard<std::mutex> lock(m_lock);
        int64_t frame = m_written + kRate / 4;
        const int64_t end = frame + int64_t{seconds} * kRate;
        uint32_t seed = 12345;
        for (int k = 0; frame < end; ++k) {
            Click c;
            c.nominalFrame = frame;
            c.shifted = shiftMs > 0 && k % 2 == 1;
            c.audioFrame = frame + (c.shifted ? int64_t{shiftMs} * kRate / 1000 : 0);
            m_clicks.push_back(c);
            seed = seed * 1103515245u + 12345u;
            const int64_t spreadFrames = kGapSpreadMs * kRate / 1000;
            frame += kGapMs * kRate / 1000 + static_cast<int64_t>((seed >> 8) % spreadFrames);
        }
        m_endFrame = m_clicks.back().audioFrame + kRate / 2;
    }

    // True once the last click and half a second after it were written.
    bool Finished() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_endFrame > 0 && m_written >= m_endFrame;
    }

    std::vector<Click> Clicks() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_clicks;
    }
    // Each write's estimate of when frame 0 played, while clicking.
    std::vector<Write> Writes() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_writes;
    }
    // The frames at which the stream went on after an underrun.
    std::vector<int64_t> Breaks() {
        std::lock_guard<std::mutex> lock(m_lock);
        return m_breaks;
    }
    int Xruns() const { return m_xruns.load(); }
    int ClickingXruns() const { return m_clickingXruns.load(); }

    // Waits until the stream has played for a while, so that the sink renders in short periods
    // before anyone captures its monitor.
    bool WaitPlaying(double seconds) {
        for (int i = 0; i < 200 && !m_failed.load(); ++i) {
            {
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_runningSince > 0 &&
                    m_written - m_runningSince >= static_cast<int64_t>(seconds * kRate)) {
                    return true;
                }
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        }
        return false;
    }
    bool Failed() const { return m_failed.load(); }
    const std::string& Reason() const { return m_reason; }
    size_t Period() const { return m_period; }
    size_t Buffer() const { return m_buffer; }

private:
    void Fill(std::vector<int16_t>& block, int64_t from) {
        std::fill(block.begin(), block.end(), 0);
        const int64_t burst = kBurstMs * kRate / 1000;
        for (const Click& c : m_clicks) {
            const int64_t begin = std::max(from, c.audioFrame);
            const int64_t end =
                std::min(from + static_cast<int64_t>(block.size()), c.audioFrame + burst);
            for (int64_t f = begin; f < end; ++f) {
                const double phase = 2.0 * M_PI * kBurstHz * static_cast<double>(f - c.audioFrame) /
                                     static_cast<double>(kRate);
                block[static_cast<size_t>(f - from)] =
                    static_cast<int16_t>(std::lround(kBurstLevel * 32767.0 * std::sin(phase)));
            }
        }
    }

    void Run() {
        std::vector<int16_t> block(m_period);
        while (!m_stop.load()) {
            int64_t from = 0;
            {
                std::lock_guard<std::mutex> lock(m_lock);
                from = m_written;
                Fill(block, from);
            }
            // The next frame written plays at now + delay, wherever the write then waits.
            const int64_t before = ClockNs(CLOCK_MONOTONIC);
            snd_pcm_sframes_t delay = 0;
            const bool running =
                snd_pcm_state(m_pcm) == SND_PCM_STATE_RUNNING && snd_pcm_delay(m_pcm, &delay) == 0;
            const int64_t at = (before + ClockNs(CLOCK_MONOTONIC)) / 2;
            const snd_pcm_sframes_t wrote = snd_pcm_writei(m_pcm, block.data(), block.size());
            if (wrote < 0) {
                if (snd_pcm_recover(m_pcm, static_cast<int>(wrote), 1) < 0) {
                    m_failed.store(true);
                    return;
                }
                m_xruns.fetch_add(1);
                std::lock_guard<std::mutex> lock(m_lock);
                if (m_endFrame > 0 && from < m_endFrame) {
                    m_clickingXruns.fetch_add(1);
                }
                m_breaks.push_back(from);
                continue;
            }
            std::lock_guard<std::mutex> lock(m_lock);
            const int64_t firstNs = at + delay * kNs / kRate;
            if (running && m_endFrame > 0 && from < m_endFrame) {
                m_writes.push_back({from, firstNs - from * kNs / kRate});
            }
            for (Click& c : m_clicks) {
                if (c.nominalFrame >= from && c.nominalFrame < from + wrote) {
                    c.rawInstantNs = running ? firstNs + (c.nominalFrame - from) * kNs / kRate : -1;
                }
            }
            m_written = from + wrote;
            if (running && m_runningSince == 0) {
                m_runningSince = m_written;
            }
        }
    }

    snd_pcm_t* m_pcm = nullptr;
    size_t m_period = 0;
    size_t m_buffer = 0;
    std::string m_reason;
    std::thread m_thread;
    std::atomic<bool> m_stop{false};
    std::atomic<bool> m_failed{false};
    std::atomic<int> m_xruns{0};
    std::atomic<int> m_clickingXruns{0};
    std::mutex m_lock;
    int64_t m_written = 0;
    int64_t m_endFrame = 0;
    int64_t m_runningSince = 0;
    std::vector<Click> m_clicks;
    std::vector<Write> m_writes;
    std::vector<int64_t> m_breaks;
};

struct Packet {
    int64_t arrivalNs = 0;  // CLOCK_MONOTONIC
    uint16_t sequence = 0;
    uint32_t timestamp = 0;
    std::vector<int16_t> samples;
};

struct Peer {
    std::string label;
    int ptimeMs = 0;
    int fd = -1;
    uint16_t port = 0;
    std::vector<Packet> packets;
    int64_t firstNs = 0;
    size_t undecoded = 0;  // not PCMU or PCMA
};

// Every peer's datagrams, on one thread.
class Receivers {
public:
    explicit Receivers(std::vector<Peer>& peers) : m_peers(peers) {}
    ~Receivers() { Stop(); }

    bool Open() {
        for (Peer& p : m_peers) {
            p.fd = OpenStampedReceiver(0, 4 << 20, &p.port);
            if (p.fd < 0) {
                return false;
            }
        }
        m_thread = std::thread([this] { Run(); });
        return true;
    }
    void Stop() {
        m_stop.store(true);
        if (m_thread.joinable()) {
            m_thread.join();
        }
        for (Peer& p : m_peers) {
            if (p.fd >= 0) {
                ::close(p.fd);
                p.fd = -1;
            }
        }
    }
    // When the last of the peers began sending; 0 until all have.
    int64_t AllSendingSinceNs() {
        std::lock_guard<std::mutex> lock(m_lock);
        int64_t latest = 0;
        for (const Peer& p : m_peers) {
            if (p.firstNs == 0) {
                return 0;
            }
            latest = std::max(latest, p.firstNs);
        }
        return latest;
    }

private:
    void Run() {
        std::vector<pollfd> fds;
        for (const Peer& p : m_peers) {
            fds.push_back({p.fd, POLLIN, 0});
        }
        uint8_t data[2048];
        while (!m_stop.load()) {
            if (::poll(fds.data(), fds.size(), 50) <= 0) {
                continue;
            }
            const int64_t offset = RealLessMonotonicNs();
            std::lock_guard<std::mutex> lock(m_lock);
            for (Peer& p : m_peers) {
                for (;;) {
                    int64_t realNs = 0;
                    const ssize_t got =
                        ReceiveStamped(p.fd, data, sizeof data, MSG_DONTWAIT, &realNs);
                    if (got < 0) {
                        break;
                    }
                    Take(p, data, static_cast<size_t>(got),
                         realNs != 0 ? realNs - offset : ClockNs(CLOCK_MONOTONIC));
                }
            }
        }
    }

    static void Take(Peer& p, const uint8_t* data, size_t size, int64_t arrivalNs) {
        if (size < 12 || (data[0] >> 6) != 2) {
            return;
        }
        size_t header = 12 + 4 * static_cast<size_t>(data[0] & 0x0F);
        if ((data[0] & 0x10) != 0 && size >= header + 4) {
            header += 4 + 4 * static_cast<size_t>(data[header + 2] << 8 | data[header + 3]);
        }
        size_t end = size;
        if ((data[0] & 0x20) != 0 && size > header) {
            end -= std::min<size_t>(data[size - 1], size - header);
        }
        const int type = data[1] & 0x7F;
        if (header > end || (type != 0 && type != 8)) {
            ++p.undecoded;
            return;
        }
        Packet packet;
        packet.arrivalNs = arrivalNs;
        packet.sequence = static_cast<uint16_t>(data[2] << 8 | data[3]);
        packet.timestamp = static_cast<uint32_t>(data[4]) << 24 |
                           static_cast<uint32_t>(data[5]) << 16 |
                           static_cast<uint32_t>(data[6]) << 8 | data[7];
        for (size_t i = header; i < end; ++i) {
            packet.samples.push_back(type == 0 ? DecodeMuLaw(data[i]) : DecodeALaw(data[i]));
        }
        if (p.firstNs == 0) {
            p.firstNs = arrivalNs;
        }
        p.packets.push_back(std::move(packet));
    }

    std::vector<Peer>& m_peers;
    std::mutex m_lock;
    std::atomic<bool> m_stop{false};
    std::thread m_thread;
};

struct Onset {
    int64_t arrivalNs = 0;    // of its packet
    int64_t mediaSample = 0;  // RTP time since the peer's first packet
    size_t offset = 0;        // in its packet
    size_t packetSamples = 0;
};

// The clicks' onsets in a peer's audio, in RTP order.
std::vector<Onset> FindOnsets(const std::vector<Packet>& packets) {
    std::vector<Onset> onsets;
    if (packets.empty()) {
        return onsets;
    }
    // Sequence and RTP time unwrapped from the first packet; a duplicate is dropped.
    std::vector<std::pair<int64_t, size_t>> order;
    for (size_t i = 0; i < packets.size(); ++i) {
        order.emplace_back(static_cast<int16_t>(packets[i].sequence - packets[0].sequence), i);
    }
    std::sort(order.begin(), order.end());
    order.erase(std::unique(order.begin(), order.end(),
                            [](const auto& a, const auto& b) { return a.first == b.first; }),
                order.end());
    const uint32_t firstTimestamp = packets[order[0].second].timestamp;
    int quiet = 0;
    for (const auto& [sequence, index] : order) {
        const Packet& p = packets[index];
        const int64_t media = static_cast<int32_t>(p.timestamp - firstTimestamp);
        for (size_t j = 0; j < p.samples.size(); ++j) {
            if (std::abs(int{p.samples[j]}) < kThreshold) {
                ++quiet;
                continue;
            }
            if (quiet >= kQuietSamples) {
                onsets.push_back(
                    {p.arrivalNs, media + static_cast<int64_t>(j), j, p.samples.size()});
            }
            quiet = 0;
        }
    }
    return onsets;
}

struct Result {
    size_t played = 0;
    size_t matched = 0;
    size_t stray = 0;         // onsets with no instant before them within a click's spacing
    size_t inconsistent = 0;  // matched by time but off the others on the media clock
    std::vector<double> wireMs, endMs;                // clicks as recorded
    std::vector<double> shiftedWireMs, shiftedEndMs;  // clicks played later than recorded
    double mediaSpreadMs = NAN;  // p5 to p95 of the media clock less the instants
    std::vector<std::pair<size_t, double>> mediaOff;  // click, its media clock off the median
};

// dump, when given, gets a line per match: "match LABEL CLICK ARRIVAL_NS MEDIA_LESS_INSTANT_NS
// MOUTH_TO_WIRE_MS END_MS CONSISTENT".
Result Match(const std::vector<Click>& clicks, const std::vector<Onset>& onsets, FILE* dump,
             const std::string& label) {
    Result r;
    std::vector<const Click*> valid;
    for (const Click& c : clicks) {
        if (c.instantNs >= 0) {
            valid.push_back(&c);
        }
    }
    r.played = valid.size();
    struct Pair {
        const Onset* onset;
        const Click* click;
        int64_t mediaLessInstantNs;
    };
    std::vector<Pair> pairs;
    std::vector<bool> taken(valid.size(), false);
    for (const Onset& o : onsets) {
        // The latest instant not after the arrival (with a little slack: the monitor of a
        // sink has what it renders a little before it plays it).
        const auto next =
            std::upper_bound(valid.begin(), valid.end(), o.arrivalNs + kEarlyNs,
                             [](int64_t t, const Click* c) { return t < c->instantNs; });
        if (next == valid.begin()) {
            ++r.stray;
            continue;
        }
        const auto k = static_cast<size_t>(next - valid.begin()) - 1;
        if (taken[k] || o.arrivalNs - valid[k]->instantNs >= (kGapMs * 1000000) - kEarlyNs) {
            ++r.stray;
            continue;
        }
        taken[k] = true;
        pairs.push_back({&o, valid[k], o.mediaSample * kNs / kMediaRate - valid[k]->instantNs});
    }
    // Each match's media clock less its click's sounding instant: one value for a sender
    // whose RTP time runs with the audio.
    std::vector<double> media;
    for (const Pair& p : pairs) {
        const int64_t shiftNs = (p.click->audioFrame - p.click->nominalFrame) * kNs / kRate;
        media.push_back(
            static_cast<double>(p.mediaLessInstantNs - shiftNs - pairs[0].mediaLessInstantNs));
    }
    const double median = Percentile(media, 0.5);
    r.mediaSpreadMs = (Percentile(media, 0.95) - Percentile(media, 0.05)) / 1e6;
    for (size_t i = 0; i < pairs.size(); ++i) {
        const Onset& o = *pairs[i].onset;
        const double wire = static_cast<double>(o.arrivalNs - pairs[i].click->instantNs) / 1e6;
        const double rest = 1000.0 * static_cast<double>(o.packetSamples - o.offset) / kMediaRate;
        const bool consistent = std::abs(media[i] - median) <= kMediaToleranceNs;
        if (dump != nullptr) {
            std::fprintf(dump, "match %s %td %lld %.0f %.3f %.3f %d\n", label.c_str(),
                         pairs[i].click - clicks.data(), static_cast<long long>(o.arrivalNs),
                         media[i], wire, wire - rest, consistent ? 1 : 0);
        }
        if (!consistent) {
            ++r.inconsistent;
            continue;
        }
        r.mediaOff.emplace_back(static_cast<size_t>(pairs[i].click - clicks.data()),
                                media[i] - median);
        (pairs[i].click->shifted ? r.shiftedWireMs : r.wireMs).push_back(wire);
        (pairs[i].click->shifted ? r.shiftedEndMs : r.endMs).push_back(wire - rest);
        ++r.matched;
    }
    return r;
}

struct Options {
    std::vector<std::pair<std::string, int>> peers;
    std::string device = "clicks";
    int seconds = 20;
    int shiftMs = 0;
    double warmupSeconds = 2.0;
    double drainSeconds = 1.5;
    double waitSeconds = 20.0;
    std::string dump;
};

bool ParseOptions(int argc, char** argv, Options& o) {
    for (int i = 1; i < argc; ++i) {
        const std::string arg = argv[i];
        const bool hasValue = i + 1 < argc;
        if (arg == "--peer" && hasValue) {
            const std::string v = argv[++i];
            const size_t slash = v.find('/');
            if (slash == std::string::npos || std::atoi(v.c_str() + slash + 1) <= 0) {
                return false;
            }
            o.peers.emplace_back(v.substr(0, slash), std::atoi(v.c_str() + slash + 1));
        } else if (arg == "--device" && hasValue) {
            o.device = argv[++i];
        } else if (arg == "--seconds" && hasValue) {
            o.seconds = std::max(1, std::atoi(argv[++i]));
        } else if (arg == "--shift-ms" && hasValue) {
            o.shiftMs = std::max(0, std::atoi(argv[++i]));
        } else if (arg == "--warmup" && hasValue) {
            o.warmupSeconds = std::atof(argv[++i]);
        } else if (arg == "--drain" && hasValue) {
            o.drainSeconds = std::atof(argv[++i]);
        } else if (arg == "--dump" && hasValue) {
            o.dump = argv[++i];
        } else {
            return false;
        }
    }
    return !o.peers.empty();
}

void Sleep(double seconds) {
    std::this_thread::sleep_for(std::chrono::duration<double>(seconds));
}

double Mean(const std::vector<double>& v) {
    double sum = 0;
    for (double x : v) {
        sum += x;
    }
    return v.empty() ? NAN : sum / static_cast<double>(v.size());
}

// The median packet's audio, in ms.
double PacketMs(const Peer& p) {
    std::vector<double> ms;
    for (const Packet& packet : p.packets) {
        ms.push_back(1000.0 * static_cast<double>(packet.samples.size()) / kMediaRate);
    }
    return Percentile(ms, 0.5);
}

void Print(const Peer& p, const Result& r, const Options& o) {
    std::printf(
        "%s, %d ms: %zu packets of %.1f ms (median), %zu clicks played, %zu matched, %zu stray "
        "onsets, %zu off the media clock (its p5 to p95 %.1f ms)%s\n",
        p.label.c_str(), p.ptimeMs, p.packets.size(), PacketMs(p), r.played, r.matched, r.stray,
        r.inconsistent, r.mediaSpreadMs,
        p.undecoded > 0 ? ", some packets neither PCMU nor PCMA" : "");
    std::printf(
        "  mouth to wire median %.1f ms, p95 %.1f ms, max %.1f ms; after the packet's "
        "last sample median %.1f ms, p95 %.1f ms\n",
        Percentile(r.wireMs, 0.5), Percentile(r.wireMs, 0.95),
        r.wireMs.empty() ? NAN : *std::max_element(r.wireMs.begin(), r.wireMs.end()),
        Percentile(r.endMs, 0.5), Percentile(r.endMs, 0.95));
    double delta = NAN, endDelta = NAN;
    if (o.shiftMs > 0) {
        delta = Mean(r.shiftedWireMs) - Mean(r.wireMs);
        endDelta = Percentile(r.shiftedEndMs, 0.5) - Percentile(r.endMs, 0.5);
        // Where the clicks fall in their packets differs between the two sets: a uniform
        // place in a packet of P ms has a standard deviation of P / sqrt(12).
        const double noise =
            PacketMs(p) / std::sqrt(12.0) *
            std::sqrt(1.0 / static_cast<double>(std::max<size_t>(r.shiftedWireMs.size(), 1)) +
                      1.0 / static_cast<double>(std::max<size_t>(r.wireMs.size(), 1)));
        std::printf(
            "  clicks played %d ms late (%zu): mouth to wire later by %.1f ms on the "
            "mean (+-%.1f ms from where they fall in packets), after the last sample by %.1f ms "
            "on the median\n",
            o.shiftMs, r.shiftedWireMs.size(), delta, noise, endDelta);
    }
    std::printf("row %s %d %.1f %zu %zu %.1f %.1f %.1f %.1f %.1f %zu %zu", p.label.c_str(),
                p.ptimeMs, PacketMs(p), r.played, r.matched, Percentile(r.wireMs, 0.5),
                Percentile(r.wireMs, 0.95),
                r.wireMs.empty() ? NAN : *std::max_element(r.wireMs.begin(), r.wireMs.end()),
                Percentile(r.endMs, 0.5), Percentile(r.endMs, 0.95), r.stray, r.inconsistent);
    if (o.shiftMs > 0) {
        std::printf(" %.1f %.1f", delta, endDelta);
    }
    std::printf("\n");
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, o)) {
        std::fprintf(stderr,
                     "usage: mouthwire_bench --peer LABEL/PTIME [--peer ...] [--device NAME] "
                     "[--seconds N] [--shift-ms D] [--warmup S] [--drain S] [--dump FILE]\n");
        return 2;
    }
    std::vector<Peer> peers;
    for (const auto& [label, ptime] : o.peers) {
        Peer p;
        p.label = label;
        p.ptimeMs = ptime;
        peers.push_back(std::move(p));
    }
    ClickPlayer player;
    if (!player.Open(o.device)) {
        std::fprintf(stderr, "click device \"%s\": %s\n", o.device.c_str(),
                     player.Reason().c_str());
        return 1;
    }
    Receivers receivers(peers);
    if (!receivers.Open()) {
        std::fprintf(stderr, "cannot bind the loopback receivers\n");
        return 1;
    }
    std::printf("clicks through \"%s\": %u Hz, period %zu frames (%.1f ms), buffer %zu frames\n",
                o.device.c_str(), kRate, player.Period(),
                1000.0 * static_cast<double>(player.Period()) / kRate, player.Buffer());
    if (!player.WaitPlaying(0.5)) {
        // Its write may never return: not joined.
        std::fprintf(stderr, "the click track does not play\n");
        std::_Exit(1);
    }
    std::printf("ready");
    for (const Peer& p : peers) {
        std::printf(" %s/%d=%u", p.label.c_str(), p.ptimeMs, p.port);
    }
    std::printf("\n");
    std::fflush(stdout);

    // Every sender connected and past its start before the first click.
    const auto giveUp =
        std::chrono::steady_clock::now() + std::chrono::duration<double>(o.waitSeconds);
    int64_t since = 0;
    while ((since = receivers.AllSendingSinceNs()) == 0 &&
           std::chrono::steady_clock::now() < giveUp && !player.Failed()) {
        Sleep(0.05);
    }
    if (since == 0) {
        std::printf("not every peer sent within %.0f s; clicking anyway\n", o.waitSeconds);
    }
    Sleep(o.warmupSeconds);
    std::printf("clicking for %d s", o.seconds);
    if (o.shiftMs > 0) {
        std::printf(", every second click %d ms after its instant", o.shiftMs);
    }
    std::printf("\n");
    std::fflush(stdout);
    player.Begin(o.seconds, o.shiftMs);
    // A server that stops taking the track leaves the write blocked: not waited for forever.
    const auto overdue = std::chrono::steady_clock::now() + std::chrono::seconds(o.seconds + 10);
    while (!player.Finished() && !player.Failed() && std::chrono::steady_clock::now() < overdue) {
        Sleep(0.05);
    }
    Sleep(o.drainSeconds);
    receivers.Stop();
    if (!player.Finished()) {
        std::printf("the click device %s\n", player.Failed() ? "failed" : "stopped taking audio");
        std::fflush(stdout);
        std::_Exit(1);
    }

    std::vector<Click> clicks = player.Clicks();
    const std::vector<Write> writes = player.Writes();
    if (writes.empty()) {
        std::printf("the click track never ran\n");
        return 1;
    }
    const Steadiness st = SteadyInstants(clicks, writes, player.Breaks());
    std::printf(
        "play instants: %zu stretch(es) of steady playing over %zu writes, %d underrun(s) while "
        "clicking (%d in all); the delay's own estimates about their stretch's origin: p1 "
        "%+.2f ms, p99 %+.2f ms, farthest %.2f ms; a click's own %.2f ms at most\n",
        st.stretches, writes.size(), player.ClickingXruns(), player.Xruns(), st.wanderP1Ms,
        st.wanderP99Ms, st.wanderMaxMs, st.rawOffMaxMs);
    FILE* dump = o.dump.empty() ? nullptr : std::fopen(o.dump.c_str(), "w");
    if (dump != nullptr) {
        for (const Write& w : writes) {
            std::fprintf(dump, "write %lld %lld\n", static_cast<long long>(w.frame),
                         static_cast<long long>(w.originNs));
        }
        for (size_t k = 0; k < clicks.size(); ++k) {
            std::fprintf(dump, "click %zu %lld %lld %lld %d\n", k,
                         static_cast<long long>(clicks[k].nominalFrame),
                         static_cast<long long>(clicks[k].instantNs),
                         static_cast<long long>(clicks[k].rawInstantNs), clicks[k].shifted ? 1 : 0);
        }
    }
    // What the instants share against every sender's media clock: a sender's own wander is
    // its own, the instants' is everybody's.
    std::vector<std::vector<double>> offClock(clicks.size());
    for (const Peer& p : peers) {
        const Result r =
            Match(clicks, FindOnsets(p.packets), dump, p.label + "/" + std::to_string(p.ptimeMs));
        for (const auto& [k, off] : r.mediaOff) {
            offClock[k].push_back(off);
        }
        Print(p, r, o);
    }
    std::vector<double> common;
    for (const auto& offs : offClock) {
        if (!offs.empty()) {
            common.push_back(Percentile(offs, 0.5) / 1e6);
        }
    }
    std::printf(
        "the instants against the senders' media clocks (the median over the senders, per "
        "click): p5 %+.2f ms, p95 %+.2f ms, min %+.2f ms, max %+.2f ms\n",
        Percentile(common, 0.05), Percentile(common, 0.95), Percentile(common, 0.0),
        Percentile(common, 1.0));
    if (dump != nullptr) {
        std::fclose(dump);
    }
    return 0;
}
