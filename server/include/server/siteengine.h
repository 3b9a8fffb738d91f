#pragma once
// The paging server's engine: one streaming worker that runs any number of sources at once
// and sends every destination (address and port) from one sender, so that a speaker always
// receives one RTP stream whoever holds it: one SSRC, a continuous sequence, the timestamp
// following the sending clock, the marker at each change of holder. At each packet the
// arbiter decides who is heard where, the mixer makes each destination's payload (sharing
// it between destinations that hear the same) and the transmitters send it.
//
// Threads: Start, Add, End, Snapshot and TakeEvents on the control thread; everything else
// on the worker. Sources change hands under a lock at each tick; a request is seen at the
// next packet.

#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <unordered_map>
#include <vector>

#include "engine/transmitter.h"
#include "platform/wakeevent.h"
#include "server/arbiter.h"
#include "server/packetmixer.h"
#include "server/sitesource.h"

class TickSource;

class SiteEngine {
public:
    struct DestinationState {
        std::string destination;  // "IP:PORT"
        std::string source;       // who holds it; empty: silent
        std::string kind;         // the holder's kind
        int priority = 0;
        std::string state;                // "idle", "playing", "left out: <why>"
        std::vector<std::string> ducked;  // heard under the holder
        std::vector<std::string> muted;   // want it, not heard
        float level = 0;                  // peak of the last packet, 0 to 1
    };
    struct SourceState {
        uint64_t id = 0;
        std::string name;
        std::string kind;
        int priority = 0;
        // "opening" (a page not ready yet), "playing" (holds a destination), "ducked" (heard
        // under another everywhere), "held" (heard nowhere: it waits at its place).
        std::string state;
        int file = -1;
        size_t destinations = 0;
    };
    struct Status {
        std::vector<DestinationState> destinations;
        std::vector<SourceState> sources;
    };
    struct Event {
        enum class Kind { kStarted, kFinished, kFailed };
        Kind kind = Kind::kStarted;
        uint64_t id = 0;
        std::string name;
        std::string sourceKind;
        std::string message;
    };

    // `clock`: what paces the packets and stamps them (the monotonic clock; a test's).
    explicit SiteEngine(int ptimeMs = 20);
    SiteEngine(int ptimeMs, TickSource& clock);
    ~SiteEngine();  // Stop()
    SiteEngine(const SiteEngine&) = delete;
    SiteEngine& operator=(const SiteEngine&) = delete;

    // What every RTP destination gets besides the packets: RTCP reports and SAP
    // announcements, for the server's whole run whoever holds it (its ptimeMs is this
    // engine's). Before Start.
    void SetExtras(Transmitter::Extras extras);
    // Starts the worker; false when no thread can be made.
    bool Start();
    // Ends every source and the worker; the last reports go out.
    void Stop();
    // Hands a prepared source over; its id. It goes on the air at the next packet where
    // the arbiter lets it.
    uint64_t Add(std::unique_ptr<SiteSource> source);
    // Ends a source; false when none of that id runs (it ended already).
    bool End(uint64_t id);
    // What plays where, as of the last packet.
    Status Snapshot() const;
    // The events since the last call (a source started, finished or failed).
    std::vector<Event> TakeEvents();
    // Signalled whenever an event waits.
    const platform::WakeEvent& EventWake() const { return m_eventWake; }
    int PtimeMs() const { return m_ptimeMs; }

private:
    struct Running {
        uint64_t id = 0;
        uint64_t order = 0;
        std::unique_ptr<SiteSource> source;
        std::vector<uint32_t> slots;
        bool announced = false;  // its started event was posted
    };

    void Worker();
    // Moves the sources added and ended since the last packet in; false when the worker
    // should stop. Sleeps while nothing runs.
    bool TakeRequests(bool idle);
    // The slot of each destination of a source, made for one that is new.
    std::vector<uint32_t> SlotsFor(const std::vector<RtpDestination>& destinations);
    void Tick(int64_t instantNs);
    void Send(int64_t instantNs);
    // The banks' reports and announcements due at instantNs.
    void TickBanks(int64_t instantNs);
    // Removes the sources that finished; whether there were any.
    bool Retire();
    void Publish();
    DestinationState DestinationStateOf(size_t slot) const;
    SourceState SourceStateOf(size_t index) const;
    void Post(Event event);

    const int m_ptimeMs;
    TickSource& m_clock;
    std::thread m_thread;

    mutable std::mutex m_lock;  // guards the members up to m_status
    std::condition_variable m_wakeWorker;
    std::vector<std::unique_ptr<SiteSource>> m_added;
    std::vector<uint64_t> m_addedIds;
    std::vector<uint64_t> m_endIds;
    std::vector<uint64_t> m_liveIds;  // added and not yet retired
    uint64_t m_nextId = 1;
    bool m_stop = false;
    std::vector<Event> m_events;
    Status m_status;
    platform::WakeEvent m_eventWake;

    // The worker's own.
    std::vector<Running> m_running;
    uint64_t m_nextOrder = 0;
    std::vector<RtpDestination> m_slots;                // every destination that was ever asked for
    std::unordered_map<uint64_t, uint32_t> m_slotOf;    // IP << 16 | port -> slot
    Transmitter::Extras m_extras;                       // set before the worker starts
    std::vector<std::unique_ptr<Transmitter>> m_banks;  // slot s: bank s / kSenderCount
    std::vector<uint64_t> m_holderOf;                   // per slot: the holder's id, 0 none
    std::vector<float> m_levelOf;
    Arbiter m_arbiter;
    PacketMixer m_mixer;
    std::vector<ArbiterSource> m_view;
    std::vector<SourcePacket> m_packets;
    std::vector<const SourcePacket*> m_taken;
    std::vector<uint8_t> m_done;    // per slot: sent this packet
    std::vector<uint8_t> m_wanted;  // per bank position
    int64_t m_lastPublishNs = 0;
};
