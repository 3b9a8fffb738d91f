#pragma once
// `serve --http`: the HTTP API and the web console, on threads of their own. Every request
// that reads or changes the store, or asks the server to play, runs the command line's own
// command in process (the same rules, messages and JSON); the server's events reach the
// event stream through Publish. Private to the library.
//
// On cpp-httplib rather than libmicrohttpd: its thread pool, chunked responses (the event
// stream), size and time limits and TLS (Debian builds it with OpenSSL) come ready in a C++
// interface, where libmicrohttpd would need the same built by hand over C callbacks.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <thread>
#include <vector>

namespace httplib {
class Server;
struct Request;
struct Response;
}  // namespace httplib

class HttpApi {
public:
    // Bounds on what one client may ask.
    static constexpr size_t kMaxBody = 64 * 1024;
    static constexpr int kRequestsPerSecond = 20;
    static constexpr int kBurst = 60;
    static constexpr int kMaxEventStreams = 8;

    struct Settings {
        std::string host = "127.0.0.1";
        int port = 8787;
        // Folders files may be added from; a request naming any other path is refused.
        std::vector<std::string> audioDirs;
        std::string tlsCert;  // both set: HTTPS
        std::string tlsKey;
    };

    HttpApi();
    ~HttpApi();
    HttpApi(const HttpApi&) = delete;
    HttpApi& operator=(const HttpApi&) = delete;

    // Binds and starts serving; false with `problem` when the address is refused, or is not
    // loopback and no token has been made.
    bool Start(const Settings& settings, std::string& problem);
    void Stop();
    // Queues an event for every open event stream. Any thread.
    void Publish(const nlohmann::ordered_json& event);

    // Whether `host` is a loopback address (127.0.0.0/8).
    static bool IsLoopback(const std::string& host);
    // Answers `status` with {"ok": false, "error": message}.
    static void Refuse(httplib::Response& res, int status, const std::string& message);

private:
    struct Outcome {
        int status = 0;
        std::string out;
        std::string err;
    };
    struct Bucket {
        double tokens = kBurst;
        int64_t lastMs = 0;
    };

    void Routes();
    // Admission of every request, and errors answered in JSON.
    void Guards();
    // The console's files and sign-in.
    void ConsoleRoutes();
    void PlaylistRoutes();
    // A playlist's files and destinations; play and stop.
    void EntryRoutes();
    void ZoneRoutes();
    void ScheduleRoutes();
    // Status, announcements, the event stream.
    void ServerRoutes();
    // The command line's command with these arguments, its output and messages.
    Outcome Run(const std::vector<std::string>& args);
    // Answers with the command's JSON output, or its message as an error.
    void Reply(const std::vector<std::string>& args, httplib::Response& res, int okStatus = 200);
    // add-dest or zone add-dest (`args`) with the body's address, port, TTL and interface.
    void AddDestination(std::vector<std::string> args, const httplib::Request& req,
                        httplib::Response& res);
    bool Admitted(const httplib::Request& req, httplib::Response& res);
    bool RateAllows(const std::string& address);
    // A file a request names, resolved inside an allowed audio folder; false with `problem`.
    bool AllowedFile(const std::string& path, std::string& resolved, std::string& problem) const;
    void Events(const httplib::Request& req, httplib::Response& res);

    Settings m_settings;
    std::unique_ptr<httplib::Server> m_server;
    std::thread m_thread;
    std::string m_tokenHash;  // empty: no token asked for
    std::mutex m_runLock;     // one command at a time, as one process of the command line
    std::mutex m_rateLock;
    std::map<std::string, Bucket> m_buckets;
    std::mutex m_eventLock;
    std::condition_variable m_eventWake;
    std::deque<std::pair<uint64_t, std::string>> m_events;
    uint64_t m_nextEvent = 1;
    bool m_stopping = false;
    std::atomic<int> m_streams{0};
};
