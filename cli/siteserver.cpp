#include "siteserver.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <ctime>
#include <ostream>

#include "clicommands.h"
#include "document/playlistdocument.h"
#include "playlist/outputcodec.h"
#include "playlist/schedulestore.h"
#include "playlist/zonestore.h"
#include "server/sitesource.h"
#include "server/speech.h"

namespace {

constexpr int64_t kScheduleReadMs = 2000;
constexpr int64_t kHeartbeatMs = 10000;
// When the server last looked at its schedule, for the events missed while it was down.
constexpr char kLastSeenSetting[] = "ServerLastSeen";
constexpr int kStatusChunk = 40;  // destinations or sources per message: well under its limit

int64_t WallSeconds() {
    return static_cast<int64_t>(std::time(nullptr));
}

std::vector<std::string> Zones(const nlohmann::json& request) {
    std::vector<std::string> zones;
    const auto it = request.find("zones");
    if (it != request.end() && it->is_array()) {
        for (const auto& z : *it) {
            if (z.is_string()) {
                zones.push_back(z.get<std::string>());
            }
        }
    }
    return zones;
}

std::string Text(const nlohmann::json& request, const char* key) {
    const auto it = request.find(key);
    return it != request.end() && it->is_string() ? it->get<std::string>() : std::string();
}

int64_t Number(const nlohmann::json& request, const char* key, int64_t fallback) {
    const auto it = request.find(key);
    return it != request.end() && it->is_number_integer() ? it->get<int64_t>() : fallback;
}

nlohmann::json Refused(const std::string& message) {
    return {{"ok", false}, {"message", message}};
}

// The stored playlist with its files probed, as the desktop opens it; false with `message`.
bool LoadPlaylist(const std::string& name, Playlist& playlist, std::string& message) {
    PlaylistDocument document;
    if (!PlaylistDocument::IsValidName(name) || !document.Exists(name)) {
        message = "there is no playlist named \"" + name + "\"";
        return false;
    }
    if (!document.Open(name)) {
        message = "the playlist \"" + name +
                  "\" could not be read: " + PlaylistDocument::FailureText(document.LastFailure());
        return false;
    }
    document.ProbeAll();
    playlist = document.CurrentPlaylist();
    if (playlist.Files.empty()) {
        message = "the playlist \"" + name + "\" has no files";
        return false;
    }
    return true;
}

}  // namespace

SiteServer::SiteServer(SiteEngine& engine, CliConsole& console, bool json)
    : m_engine(engine), m_console(console), m_json(json) {}

SiteServer::~SiteServer() = default;

int64_t SiteServer::NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

bool SiteServer::Listen(std::string& problem) {
    const std::string folder = pagechannel::SocketFolder(problem);
    if (folder.empty()) {
        return false;
    }
    const std::string path = pagechannel::ControlPath(folder);
    if (path.empty()) {
        problem = "the folder " + folder + " has too long a path for the control socket";
        return false;
    }
    return m_listener.ListenAt(path, "requests", problem);
}

size_t SiteServer::PollFds(std::vector<pollfd>& fds) const {
    const size_t before = fds.size();
    fds.push_back({m_listener.Fd(), POLLIN, 0});
    fds.push_back({m_engine.EventWake().Fd(), POLLIN, 0});
    for (const Client& client : m_clients) {
        fds.push_back({client.peer->Fd(), POLLIN, 0});
    }
    return fds.size() - before;
}

void SiteServer::Serve(const std::vector<pollfd>& /*fds*/) {
    Accept();
    for (size_t i = 0; i < m_clients.size(); ++i) {
        Read(m_clients[i]);
    }
    const int64_t now = NowMs();
    for (size_t i = m_clients.size(); i-- > 0;) {
        Client& client = m_clients[i];
        if (!client.peer->IsOpen() || (!client.asked && now - client.acceptedMs > kQuietLimitMs)) {
            if (client.peer->IsOpen()) {
                client.peer->Send(Refused("it asked for nothing within 3 s"));
            }
            Drop(i);
        }
    }
    m_engine.EventWake().Consume();
    Events();
    Schedule(false);
}

void SiteServer::Accept() {
    for (;;) {
        auto peer = std::make_unique<pagechannel::Peer>();
        bool trusted = false;
        if (!m_listener.Accept(*peer, trusted)) {
            return;
        }
        if (!trusted) {
            peer->Send(Refused("the server takes requests from its own user only"));
            continue;
        }
        if (m_clients.size() >= kMaxClients) {
            peer->Send(Refused("the server has too many connections; try again"));
            continue;
        }
        Client client;
        client.peer = std::move(peer);
        client.acceptedMs = NowMs();
        m_clients.push_back(std::move(client));
    }
}

void SiteServer::Read(Client& client) {
    for (;;) {
        nlohmann::json message;
        switch (client.peer->Receive(message)) {
            case pagechannel::Peer::Received::kNothing:
                return;
            case pagechannel::Peer::Received::kClosed:
                client.peer->Close();
                return;
            case pagechannel::Peer::Received::kMessage:
                Handle(client, message);
                if (!client.peer->IsOpen()) {
                    return;
                }
                break;
        }
    }
}

void SiteServer::Handle(Client& client, const nlohmann::json& request) {
    const std::string command = Text(request, "command");
    if (client.holds != 0) {
        // A held connection says only that it is done.
        if (command == "end") {
            m_engine.End(client.holds);
        }
        return;
    }
    client.asked = true;
    if (command == "status") {
        SendStatus(*client.peer);
        client.peer->Close();
        return;
    }
    if (command == "stop") {
        client.peer->Send(Stop(request));
        client.peer->Close();
        return;
    }
    if (command == "reload") {
        Schedule(true);
        client.peer->Send({{"ok", true}});
        client.peer->Close();
        return;
    }
    if (command == "play" || command == "page" || command == "announce") {
        uint64_t id = 0;
        std::string message;
        const nlohmann::json reply = command == "play"   ? Play(request, id, message)
                                     : command == "page" ? PageRequest(request, id, message)
                                                         : Announce(request, id, message);
        client.peer->Send(reply);
        if (id == 0) {
            client.peer->Close();
            return;
        }
        if (request.value("hold", false) || command == "page") {
            client.holds = id;  // it ends when the connection goes
            client.page = command == "page";
        } else {
            client.peer->Close();
        }
        return;
    }
    client.peer->Send(Refused("the request was not understood"));
    client.peer->Close();
}

bool SiteServer::Destinations(const Playlist& playlist, const std::vector<std::string>& zones,
                              std::vector<RtpDestination>& out, std::string& message) {
    if (zones.empty()) {
        out = playlist.Destinations;
    } else {
        ZoneStore store;
        for (const std::string& name : zones) {
            Zone zone;
            if (!store.Find(name, zone)) {
                message = store.LastFailure() == StoreFailure::None
                              ? "there is no zone named \"" + name + "\""
                              : "the zones could not be read: " +
                                    PlaylistDocument::FailureText(store.LastFailure());
                return false;
            }
            for (const RtpDestination& d : zone.Destinations) {
                const bool known = std::any_of(out.begin(), out.end(), [&d](const auto& o) {
                    return o.IP == d.IP && o.Port == d.Port;
                });
                if (!known) {
                    out.push_back(d);
                }
            }
        }
    }
    if (out.empty()) {
        message = "nothing to send to: no destination";
        return false;
    }
    return true;
}

nlohmann::json SiteServer::Play(const nlohmann::json& request, uint64_t& id, std::string& message) {
    const std::string name = Text(request, "name");
    Playlist playlist;
    if (!LoadPlaylist(name, playlist, message)) {
        return Refused(message);
    }
    for (const auto& [runId, run] : m_runs) {
        if (run.name == name) {
            return Refused("the playlist \"" + name + "\" is playing already");
        }
    }
    SiteSource::Settings settings;
    settings.name = name;
    settings.priority = playlist.EffectivePriority();
    settings.duck = playlist.Interrupted != kInterruptedMute;
    settings.duckDb = playlist.DuckDb;
    if (!Destinations(playlist, Zones(request), settings.destinations, message)) {
        return Refused(message);
    }
    const bool loop =
        request.contains("loop") ? request.value("loop", false) : playlist.Role == kRoleBackground;
    const auto volume = static_cast<int>(std::clamp<int64_t>(Number(request, "volume", 0), -9, 9));
    const size_t count = settings.destinations.size();
    auto run = std::make_unique<PlaylistRun>(std::move(settings), std::move(playlist), loop,
                                             m_engine.PtimeMs(), volume);
    if (!run->Open()) {
        message = run->Failure();
        return Refused(message);
    }
    id = m_engine.Add(std::move(run));
    Run record;
    record.name = name;
    record.stopAt = Number(request, "stop_at", -1);
    m_runs[id] = record;
    return {{"ok", true}, {"id", id}, {"destinations", count}};
}

nlohmann::json SiteServer::PageRequest(const nlohmann::json& request, uint64_t& id,
                                       std::string& message) {
    const std::string name = Text(request, "name");
    Playlist playlist;
    const std::vector<std::string> zones = Zones(request);
    if (zones.empty()) {
        PlaylistDocument document;
        if (!PlaylistDocument::IsValidName(name) || !document.Exists(name) ||
            !document.Open(name)) {
            return Refused("there is no playlist named \"" + name + "\"");
        }
        playlist = document.CurrentPlaylist();
    }
    SiteSource::Settings settings;
    settings.name = "page from " + Text(request, "device");
    settings.priority = static_cast<int>(std::clamp<int64_t>(
        Number(request, "priority", kDefaultPagePriority), 0, kPriorityEmergency));
    settings.duck = false;
    if (!Destinations(playlist, zones, settings.destinations, message)) {
        return Refused(message);
    }
    PageRun::Page page;
    page.device = Text(request, "device");
    const int64_t law = Number(request, "law", kFormatMulaw);
    const bool known = law >= 0 && law <= 0xFFFF && FindOutputCodec(static_cast<int32_t>(law));
    page.law = static_cast<uint16_t>(known ? law : int64_t{kFormatMulaw});
    page.durationMs = std::max<int64_t>(Number(request, "duration_ms", 0), 0);
    auto run = std::make_unique<PageRun>(std::move(settings), page, m_engine.PtimeMs());
    if (!run->Start()) {
        message = run->Failure();
        return Refused(message);
    }
    id = m_engine.Add(std::move(run));
    Run record;
    record.name = "page from " + page.device;
    m_runs[id] = record;
    return {{"ok", true}, {"id", id}};
}

namespace {

// What a spoken announcement is called in the status and the log: its first words.
std::string SpeechName(const std::string& text) {
    constexpr size_t kShown = 40;
    std::string name;
    for (const char c : text) {
        name += c == '\n' || c == '\r' || c == '\t' ? ' ' : c;
    }
    if (name.size() > kShown) {
        size_t cut = kShown;
        while (cut > 0 && (static_cast<unsigned char>(name[cut]) & 0xC0) == 0x80) {
            --cut;  // not inside a character
        }
        name = name.substr(0, cut) + "...";
    }
    return name;
}

}  // namespace

nlohmann::json SiteServer::Announce(const nlohmann::json& request, uint64_t& id,
                                    std::string& message) {
    const std::string name = Text(request, "name");
    const std::vector<std::string> zones = Zones(request);
    Playlist playlist;
    if (!name.empty()) {
        PlaylistDocument document;
        if (!PlaylistDocument::IsValidName(name) || !document.Exists(name) ||
            !document.Open(name)) {
            return Refused("there is no playlist named \"" + name + "\"");
        }
        playlist = document.CurrentPlaylist();
    } else if (zones.empty()) {
        return Refused("say where the text goes: a playlist (--to) or a zone (--zone)");
    }
    SiteSource::Settings settings;
    const std::string text = Text(request, "text");
    settings.name = SpeechName(text);
    const int fallback = !name.empty() && playlist.Role == kRoleAnnouncement
                             ? playlist.EffectivePriority()
                             : kDefaultAnnouncementPriority;
    settings.priority = static_cast<int>(
        std::clamp<int64_t>(Number(request, "priority", fallback), 0, kPriorityEmergency));
    settings.duck = playlist.Interrupted != kInterruptedMute;
    settings.duckDb = playlist.DuckDb;
    if (!Destinations(playlist, zones, settings.destinations, message)) {
        return Refused(message);
    }
    std::vector<uint8_t> wave;
    if (!speech::RenderWave(text, Text(request, "voice"), wave, message)) {
        return Refused(message);
    }
    // 44 header bytes, then 16-bit mono samples at the rate the header gives.
    const double seconds =
        wave.size() > 44 ? static_cast<double>(wave.size() - 44) /
                               (2.0 * (wave[24] | wave[25] << 8 | wave[26] << 16 | wave[27] << 24))
                         : 0.0;
    const size_t count = settings.destinations.size();
    const auto law = static_cast<int32_t>(Number(request, "law", 7) == 6 ? 6 : 7);
    auto run =
        PlaylistRun::Speech(std::move(settings), std::move(wave), law, m_engine.PtimeMs(), message);
    if (run == nullptr) {
        return Refused(message);
    }
    if (!run->Open()) {
        message = run->Failure();
        return Refused(message);
    }
    Run record;
    record.name = run->Setup().name;
    id = m_engine.Add(std::move(run));
    m_runs[id] = record;
    return {{"ok", true}, {"id", id}, {"destinations", count}, {"seconds", seconds}};
}

nlohmann::json SiteServer::Stop(const nlohmann::json& request) {
    const std::string name = Text(request, "name");
    bool any = false;
    for (const auto& [id, run] : m_runs) {
        if (run.name == name) {
            any = m_engine.End(id) || any;
        }
    }
    return any ? nlohmann::json{{"ok", true}}
               : Refused("the playlist \"" + name + "\" is not playing");
}

void SiteServer::SendStatus(pagechannel::Peer& peer) {
    const SiteEngine::Status status = m_engine.Snapshot();
    // In parts: a site's status may be larger than one message may be.
    nlohmann::json part = {{"ok", true},
                           {"part", true},
                           {"destinations", nlohmann::json::array()},
                           {"sources", nlohmann::json::array()}};
    auto flush = [&] {
        peer.Send(part);
        part["destinations"] = nlohmann::json::array();
        part["sources"] = nlohmann::json::array();
    };
    for (const auto& d : status.destinations) {
        // The address and port under the names show and zone list give them.
        const size_t colon = d.destination.find(" : ");
        const std::string address = d.destination.substr(0, colon);
        const int port =
            colon == std::string::npos ? 0 : std::atoi(d.destination.c_str() + colon + 3);
        part["destinations"].push_back({{"destination", d.destination},
                                        {"address", address},
                                        {"port", port},
                                        {"source", d.source},
                                        {"kind", d.kind},
                                        {"priority", d.priority},
                                        {"state", d.state},
                                        {"ducked", d.ducked},
                                        {"muted", d.muted},
                                        {"level", d.level}});
        if (part["destinations"].size() >= kStatusChunk) {
            flush();
        }
    }
    for (const auto& s : status.sources) {
        part["sources"].push_back({{"id", s.id},
                                   {"name", s.name},
                                   {"kind", s.kind},
                                   {"priority", s.priority},
                                   {"state", s.state},
                                   {"file", s.file + 1},
                                   {"destinations", s.destinations}});
        if (part["sources"].size() >= kStatusChunk) {
            flush();
        }
    }
    part["part"] = false;
    peer.Send(part);
}

void SiteServer::Events() {
    for (const SiteEngine::Event& event : m_engine.TakeEvents()) {
        const auto run = m_runs.find(event.id);
        const bool ended = event.kind != SiteEngine::Event::Kind::kStarted;
        const char* what = event.kind == SiteEngine::Event::Kind::kStarted    ? "started"
                           : event.kind == SiteEngine::Event::Kind::kFinished ? "finished"
                                                                              : "failed";
        nlohmann::ordered_json line = {
            {"event", what}, {"kind", event.sourceKind}, {"name", event.name}};
        std::string text = std::string(what) + " " + event.sourceKind + " \"" + event.name + "\"";
        if (!event.message.empty()) {
            line["message"] = event.message;
            text += ": " + event.message;
        }
        Log(line, text);
        for (Client& client : m_clients) {
            if (client.holds == event.id) {
                nlohmann::json notice = {{"event", what}};
                if (!event.message.empty()) {
                    notice["message"] = event.message;
                }
                client.peer->Send(notice);
                if (ended) {
                    client.holds = 0;
                    client.peer->Close();
                }
            }
        }
        if (ended && run != m_runs.end()) {
            m_runs.erase(run);
        }
    }
}

void SiteServer::Drop(size_t index) {
    if (m_clients[index].holds != 0) {
        m_engine.End(m_clients[index].holds);  // the asker went away: so does what it holds
    }
    m_clients.erase(m_clients.begin() + static_cast<std::ptrdiff_t>(index));
}

void SiteServer::StartSchedule() {
    Schedule(true);
    PlaylistDocument document;
    std::string lastSeen;
    if (document.ReadSetting(kLastSeenSetting, lastSeen)) {
        const int64_t last = std::strtoll(lastSeen.c_str(), nullptr, 10);
        for (const Scheduler::Firing& firing : m_scheduler.CatchUp(last, WallSeconds())) {
            Fire(firing);
        }
    }
}

void SiteServer::Schedule(bool force) {
    const int64_t now = NowMs();
    if (force || now - m_scheduleReadMs >= kScheduleReadMs) {
        m_scheduleReadMs = now;
        ScheduleStore store;
        std::vector<ScheduleEvent> events;
        if (store.List(events)) {
            std::vector<Scheduler::Entry> entries;
            for (const ScheduleEvent& e : events) {
                entries.push_back(
                    {e.Id, e.Playlist, e.When, e.Zone, e.Until, e.CatchUp == 1, e.Say, e.Voice});
            }
            m_scheduler.Load(entries, WallSeconds());
        }
    }
    const int64_t wall = WallSeconds();
    for (const Scheduler::Firing& firing : m_scheduler.Due(wall)) {
        Fire(firing);
    }
    for (const auto& [id, run] : m_runs) {
        if (run.stopAt >= 0 && wall >= run.stopAt) {
            m_engine.End(id);
        }
    }
    if (now - m_heartbeatMs >= kHeartbeatMs) {
        m_heartbeatMs = now;
        PlaylistDocument document;
        document.WriteSetting(kLastSeenSetting, std::to_string(wall));
    }
}

void SiteServer::Fire(const Scheduler::Firing& firing) {
    nlohmann::json request = {{"name", firing.entry.playlist}, {"stop_at", firing.stopAt}};
    if (!firing.entry.zone.empty()) {
        request["zones"] = {firing.entry.zone};
    }
    uint64_t id = 0;
    std::string message;
    if (firing.entry.say.empty()) {
        Play(request, id, message);
    } else {
        request["text"] = firing.entry.say;
        request["voice"] = firing.entry.voice;
        Announce(request, id, message);
    }
    nlohmann::ordered_json line = {
        {"event", "scheduled"}, {"schedule", firing.entry.id}, {"name", firing.entry.playlist}};
    std::string text =
        "schedule " + std::to_string(firing.entry.id) + " fired: \"" + firing.entry.playlist + "\"";
    if (id == 0) {
        line["message"] = message;
        text += " not played: " + message;
    } else if (m_runs.count(id) != 0) {
        m_runs[id].schedule = firing.entry.id;
    }
    Log(line, text);
}

void SiteServer::Log(const nlohmann::ordered_json& event, const std::string& text) {
    if (m_eventListener) {
        m_eventListener(event);
    }
    if (m_json) {
        clicommands::PrintEvent(m_console, event);
    } else {
        m_console.out << text << '\n' << std::flush;
    }
}
