#include "server/siteengine.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <utility>

#include "engine/periodicticks.h"
#include "engine/ticksource.h"
#include "platform/threadpriority.h"

namespace {

constexpr int64_t kNsPerMs = 1000000;
constexpr uint32_t kTickTimeoutMs = 5000;
// How often the status others read is brought up to date.
constexpr int64_t kPublishNs = 100 * kNsPerMs;
// How often a server with nothing on the air wakes for its reports and announcements: their
// schedules go on while it is silent, a receiver keeps the session.
constexpr auto kIdleExtrasWake = std::chrono::milliseconds(250);
constexpr size_t kBank = Transmitter::kSenderCount;

uint64_t DestinationKey(const RtpDestination& d) {
    return static_cast<uint64_t>(d.IP) << 16 | (d.Port & 0xFFFF);
}

float DuckGain(int duckDb) {
    return static_cast<float>(std::pow(10.0, std::clamp(duckDb, kMinDuckDb, 0) / 20.0));
}

}  // namespace

SiteEngine::SiteEngine(int ptimeMs) : SiteEngine(ptimeMs, MonotonicTickSource()) {}

SiteEngine::SiteEngine(int ptimeMs, TickSource& clock) : m_ptimeMs(ptimeMs), m_clock(clock) {}

SiteEngine::~SiteEngine() {
    Stop();
}

void SiteEngine::SetExtras(Transmitter::Extras extras) {
    m_extras = std::move(extras);
    m_extras.ptimeMs = m_ptimeMs;
}

bool SiteEngine::Start() {
    if (m_thread.joinable()) {
        return true;
    }
    try {
        m_thread = std::thread([this] { Worker(); });
    } catch (const std::system_error&) {
        return false;
    }
    return true;
}

void SiteEngine::Stop() {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_stop = true;
    }
    m_wakeWorker.notify_all();
    if (m_thread.joinable()) {
        m_thread.join();
    }
}

uint64_t SiteEngine::Add(std::unique_ptr<SiteSource> source) {
    uint64_t id = 0;
    {
        std::lock_guard<std::mutex> lock(m_lock);
        id = m_nextId++;
        m_added.push_back(std::move(source));
        m_addedIds.push_back(id);
        m_liveIds.push_back(id);
    }
    m_wakeWorker.notify_all();
    return id;
}

bool SiteEngine::End(uint64_t id) {
    std::lock_guard<std::mutex> lock(m_lock);
    if (std::find(m_liveIds.begin(), m_liveIds.end(), id) == m_liveIds.end()) {
        return false;
    }
    m_endIds.push_back(id);
    return true;
}

SiteEngine::Status SiteEngine::Snapshot() const {
    std::lock_guard<std::mutex> lock(m_lock);
    return m_status;
}

std::vector<SiteEngine::Event> SiteEngine::TakeEvents() {
    std::lock_guard<std::mutex> lock(m_lock);
    return std::exchange(m_events, {});
}

void SiteEngine::Post(Event event) {
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_events.push_back(std::move(event));
    }
    m_eventWake.Signal();
}

void SiteEngine::Worker() {
    platform::RaiseCurrentThreadPriority();  // refused: normal priority will do
    PeriodicTicks ticks(m_clock);
    bool armed = false;
    while (TakeRequests(m_running.empty())) {
        if (m_running.empty()) {
            armed = false;
            TickBanks(m_clock.NowNs());
            Publish();
            continue;
        }
        if (!armed) {
            // The first packet of a source that comes to a silent server leaves at once.
            ticks.ArmAt(m_clock.NowNs(), static_cast<uint32_t>(m_ptimeMs));
            armed = true;
        }
        if (ticks.Wait(kTickTimeoutMs) == TickWait::Tick) {
            Tick(ticks.LastDeadlineNs());
        }
    }
    for (Running& run : m_running) {
        run.source->End();
        Post({Event::Kind::kFinished, run.id, run.source->Setup().name, run.source->Kind(),
              "the server stopped"});
    }
    m_running.clear();
    {
        std::lock_guard<std::mutex> lock(m_lock);
        m_liveIds.clear();
    }
    const int64_t now = m_clock.NowNs();
    for (auto& bank : m_banks) {
        bank->End(now, m_clock.WallNs());
    }
    Publish();
}

bool SiteEngine::TakeRequests(bool idle) {
    std::vector<std::unique_ptr<SiteSource>> added;
    std::vector<uint64_t> ids;
    std::vector<uint64_t> ended;
    {
        std::unique_lock<std::mutex> lock(m_lock);
        const auto woken = [this] { return m_stop || !m_added.empty(); };
        if (idle && (m_extras.rtcp || m_extras.sap != kSapOff) && !m_banks.empty()) {
            m_wakeWorker.wait_for(lock, kIdleExtrasWake, woken);
        } else if (idle) {
            m_wakeWorker.wait(lock, woken);
        }
        if (m_stop) {
            return false;
        }
        added.swap(m_added);
        ids.swap(m_addedIds);
        ended.swap(m_endIds);
    }
    for (size_t i = 0; i < added.size(); ++i) {
        Running run;
        run.id = ids[i];
        run.order = m_nextOrder++;
        run.slots = SlotsFor(added[i]->Setup().destinations);
        run.source = std::move(added[i]);
        m_running.push_back(std::move(run));
    }
    for (const uint64_t id : ended) {
        for (Running& run : m_running) {
            if (run.id == id) {
                run.source->End();
            }
        }
    }
    return true;
}

std::vector<uint32_t> SiteEngine::SlotsFor(const std::vector<RtpDestination>& destinations) {
    std::vector<uint32_t> slots;
    std::vector<size_t> grown;  // banks with new destinations
    for (const RtpDestination& d : destinations) {
        const auto [it, fresh] =
            m_slotOf.try_emplace(DestinationKey(d), static_cast<uint32_t>(m_slots.size()));
        if (fresh) {
            m_slots.push_back(d);
            m_holderOf.push_back(0);
            m_levelOf.push_back(0);
            m_done.push_back(0);
            grown.push_back((m_slots.size() - 1) / kBank);
        }
        if (std::find(slots.begin(), slots.end(), it->second) == slots.end()) {
            slots.push_back(it->second);
        }
    }
    std::sort(grown.begin(), grown.end());
    grown.erase(std::unique(grown.begin(), grown.end()), grown.end());
    for (const size_t b : grown) {
        const auto first = static_cast<std::ptrdiff_t>(b * kBank);
        const auto last = static_cast<std::ptrdiff_t>(std::min(m_slots.size(), (b + 1) * kBank));
        const std::vector<RtpDestination> bankDestinations(m_slots.begin() + first,
                                                           m_slots.begin() + last);
        if (b >= m_banks.size()) {
            // A new bank of senders: random SSRCs, sequences and timestamps, sockets
            // connected now, before its first packet.
            m_banks.push_back(std::make_unique<Transmitter>());
            const int64_t now = m_clock.NowNs();
            m_banks.back()->BeginShared(bankDestinations, m_extras, now, m_clock.WallNs());
        } else {
            m_banks[b]->Grow(bankDestinations, m_clock.NowNs());
        }
    }
    m_wanted.assign(kBank, 0);
    return slots;
}

void SiteEngine::Tick(int64_t instantNs) {
    const size_t count = m_running.size();
    m_view.resize(count);
    m_packets.assign(count, SourcePacket{});
    m_taken.assign(count, nullptr);
    for (size_t i = 0; i < count; ++i) {
        const Running& run = m_running[i];
        const SiteSource::Settings& setup = run.source->Setup();
        ArbiterSource& view = m_view[i];
        view.id = run.id;
        view.priority = setup.priority;
        view.order = run.order;
        view.duck = setup.duck;
        view.duckGain = DuckGain(setup.duckDb);
        view.present = run.source->Present();
        view.slots = run.slots;
    }
    m_arbiter.Decide(m_view, m_slots.size(), static_cast<int64_t>(m_ptimeMs) * kNsPerMs);
    for (size_t i = 0; i < count; ++i) {
        // A source heard nowhere holds its place; live audio cannot wait and is let go.
        if ((m_arbiter.Heard(i) || m_running[i].source->Live()) &&
            m_running[i].source->Take(instantNs, m_packets[i])) {
            m_taken[i] = &m_packets[i];
        }
    }
    Send(instantNs);
    for (size_t i = 0; i < count; ++i) {
        if (m_taken[i] != nullptr) {
            m_running[i].source->Advance();
            if (!m_running[i].announced) {
                m_running[i].announced = true;
                Post({Event::Kind::kStarted,
                      m_running[i].id,
                      m_running[i].source->Setup().name,
                      m_running[i].source->Kind(),
                      {}});
            }
        }
    }
    TickBanks(instantNs);
    if (instantNs - m_lastPublishNs >= kPublishNs) {
        m_lastPublishNs = instantNs;
        Publish();
    }
    if (Retire()) {
        m_lastPublishNs = 0;  // the next packet's status tells
    }
}

void SiteEngine::Send(int64_t instantNs) {
    const size_t slots = m_slots.size();
    std::fill(m_done.begin(), m_done.end(), 0);
    for (size_t s = 0; s < slots; ++s) {
        const Arbiter::Slot& slot = m_arbiter.At(s);
        const bool silent = slot.holder == Arbiter::Slot::kNone || m_taken[slot.holder] == nullptr;
        if (silent) {
            if (slot.holder == Arbiter::Slot::kNone) {
                if (m_holderOf[s] != 0) {
                    m_banks[s / kBank]->Quiet(s % kBank);  // an SPA receiver hears its stop
                }
                m_holderOf[s] = 0;  // whoever comes next marks its first packet
            }
            m_levelOf[s] = 0;
            continue;
        }
        if (m_done[s] != 0) {
            continue;
        }
        const PacketMixer::Mixed mixed = m_mixer.Mix(slot.parts, m_taken);
        // Every destination that hears the same parts gets the same payload, in one batch
        // per bank of senders.
        for (size_t b = 0; b * kBank < slots; ++b) {
            bool any = false;
            const size_t end = std::min(slots, (b + 1) * kBank);
            for (size_t t = std::max(s, b * kBank); t < end; ++t) {
                const Arbiter::Slot& other = m_arbiter.At(t);
                const bool same =
                    m_done[t] == 0 && other.holder == slot.holder && other.parts == slot.parts;
                m_wanted[t - b * kBank] = same ? 1 : 0;
                if (!same) {
                    continue;
                }
                any = true;
                m_done[t] = 1;
                m_levelOf[t] = mixed.peak;
                const uint64_t holder = m_running[slot.holder].id;
                if (m_holderOf[t] != holder) {
                    m_holderOf[t] = holder;
                    m_banks[b]->MarkChange(t - b * kBank);
                    m_banks[b]->HolderPriority(t - b * kBank,
                                               m_running[slot.holder].source->Setup().priority);
                }
            }
            if (any) {
                for (size_t t = b * kBank; t < std::max(s, b * kBank); ++t) {
                    m_wanted[t - b * kBank] = 0;
                }
                m_banks[b]->SendTo(mixed.payload, mixed.length, mixed.payloadType, instantNs,
                                   m_taken[slot.holder]->clockRate, m_wanted.data());
            }
        }
    }
}

void SiteEngine::TickBanks(int64_t instantNs) {
    const int64_t wall = m_clock.WallNs() - (m_clock.NowNs() - instantNs);
    for (auto& bank : m_banks) {
        bank->Tick(instantNs, wall);
    }
}

bool SiteEngine::Retire() {
    bool any = false;
    for (auto it = m_running.begin(); it != m_running.end();) {
        SiteSource& source = *it->source;
        if (!source.Finished()) {
            ++it;
            continue;
        }
        const std::string& failure = source.Failure();
        Post({failure.empty() ? Event::Kind::kFinished : Event::Kind::kFailed, it->id,
              source.Setup().name, source.Kind(), failure});
        m_arbiter.Forget(it->id);
        {
            std::lock_guard<std::mutex> lock(m_lock);
            std::erase(m_liveIds, it->id);
        }
        it = m_running.erase(it);
        any = true;
    }
    return any;
}

SiteEngine::DestinationState SiteEngine::DestinationStateOf(size_t s) const {
    DestinationState d;
    d.destination = m_slots[s].IpPort;
    const auto fault = m_banks[s / kBank]->Fault(s % kBank);
    const bool decided = s < m_arbiter.SlotCount() && m_running.size() == m_view.size();
    const Arbiter::Slot* slot = decided ? &m_arbiter.At(s) : nullptr;
    const bool held = slot != nullptr && slot->holder != Arbiter::Slot::kNone;
    d.state = fault != destinationcheck::SendFault::None
                  ? "left out: " + destinationcheck::SendFaultText(m_slots[s], fault)
              : held ? "playing"
                     : "idle";
    if (!held) {
        return d;
    }
    const SiteSource& holder = *m_running[slot->holder].source;
    d.source = holder.Setup().name;
    d.kind = holder.Kind();
    d.priority = holder.Setup().priority;
    d.level = m_levelOf[s];
    for (size_t k = 1; k < slot->parts.size(); ++k) {
        d.ducked.push_back(m_running[slot->parts[k].source].source->Setup().name);
    }
    for (size_t i = 0; i < m_running.size(); ++i) {
        const auto& slots = m_running[i].slots;
        const bool wants = std::find(slots.begin(), slots.end(), s) != slots.end();
        const bool heard = std::any_of(slot->parts.begin(), slot->parts.end(),
                                       [i](const Arbiter::Part& p) { return p.source == i; });
        if (wants && !heard) {
            d.muted.push_back(m_running[i].source->Setup().name);
        }
    }
    return d;
}

SiteEngine::SourceState SiteEngine::SourceStateOf(size_t i) const {
    const Running& run = m_running[i];
    SourceState state;
    state.id = run.id;
    state.name = run.source->Setup().name;
    state.kind = run.source->Kind();
    state.priority = run.source->Setup().priority;
    state.file = run.source->FileIndex();
    state.destinations = run.slots.size();
    const bool decided = m_running.size() == m_view.size();
    const bool holds = decided && std::any_of(run.slots.begin(), run.slots.end(), [&](uint32_t s) {
                           return s < m_arbiter.SlotCount() && m_arbiter.At(s).holder == i;
                       });
    state.state = !decided || !m_view[i].present ? "opening"
                  : holds                        ? "playing"
                  : m_arbiter.Heard(i)           ? "ducked"
                                                 : "held";
    return state;
}

void SiteEngine::Publish() {
    Status status;
    status.destinations.reserve(m_slots.size());
    for (size_t s = 0; s < m_slots.size(); ++s) {
        status.destinations.push_back(DestinationStateOf(s));
    }
    for (size_t i = 0; i < m_running.size(); ++i) {
        status.sources.push_back(SourceStateOf(i));
    }
    std::lock_guard<std::mutex> lock(m_lock);
    m_status = std::move(status);
}
