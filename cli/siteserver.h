#pragma once
// `serve`'s control thread: the requests that come through the control socket (play, stop,
// status, a page), the schedule's firings, and the engine's events, turned into sources of
// the engine and into lines of the server's own output. Private to the library.

#include <poll.h>

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "cli/cliapp.h"
#include "pagechannel.h"
#include "server/scheduler.h"
#include "server/siteengine.h"

class SiteServer {
public:
    // A connection that has asked for nothing this long after it came is dropped.
    static constexpr int64_t kQuietLimitMs = 3000;
    static constexpr size_t kMaxClients = 64;

    SiteServer(SiteEngine& engine, CliConsole& console, bool json);
    // Called with every event the server logs (started, finished, failed, scheduled), on the
    // control thread: the HTTP API's event stream.
    void OnEvent(std::function<void(const nlohmann::ordered_json&)> listener) {
        m_eventListener = std::move(listener);
    }
    ~SiteServer();

    // Listens on the user's control socket; false, with `problem` set, when it cannot (a
    // server of the user's runs already, say).
    bool Listen(std::string& problem);
    // The schedule is read now, and the events missed since the server last ran that ask
    // for it are played.
    void StartSchedule();
    // Fills `fds` with what to wait on; how many.
    size_t PollFds(std::vector<pollfd>& fds) const;
    // After the wait: connections, requests, the engine's events, the schedule.
    void Serve(const std::vector<pollfd>& fds);
    // How long the wait may last.
    int TimeoutMs() const { return 200; }

    struct Target {
        std::string zone;
        std::vector<RtpDestination> destinations;
    };

private:
    struct Client {
        std::unique_ptr<pagechannel::Peer> peer;
        int64_t acceptedMs = 0;
        bool asked = false;
        uint64_t holds = 0;  // the source that ends when the connection goes
        bool page = false;
    };
    struct Run {
        std::string name;
        int64_t stopAt = -1;  // wall seconds, from a schedule's until
        uint32_t schedule = 0;
    };

    static int64_t NowMs();
    void Accept();
    void Read(Client& client);
    void Handle(Client& client, const nlohmann::json& request);
    nlohmann::json Play(const nlohmann::json& request, uint64_t& id, std::string& message);
    nlohmann::json PageRequest(const nlohmann::json& request, uint64_t& id, std::string& message);
    nlohmann::json Announce(const nlohmann::json& request, uint64_t& id, std::string& message);
    nlohmann::json Stop(const nlohmann::json& request);
    void SendStatus(pagechannel::Peer& peer);
    // The destinations of a playlist, or of the zones asked for; false with `message`.
    bool Destinations(const Playlist& playlist, const std::vector<std::string>& zones,
                      std::vector<RtpDestination>& out, std::string& message);
    void Events();
    void Schedule(bool force);
    void Fire(const Scheduler::Firing& firing);
    void Log(const nlohmann::ordered_json& event, const std::string& text);
    void Drop(size_t index);

    SiteEngine& m_engine;
    CliConsole& m_console;
    bool m_json;
    pagechannel::Listener m_listener;
    std::vector<Client> m_clients;
    std::map<uint64_t, Run> m_runs;
    Scheduler m_scheduler;
    int64_t m_scheduleReadMs = 0;
    int64_t m_heartbeatMs = 0;
    std::function<void(const nlohmann::ordered_json&)> m_eventListener;
};
