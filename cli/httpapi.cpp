#include "httpapi.h"

#include <httplib.h>
#include <limits.h>
#include <stdlib.h>

#include <algorithm>
#include <chrono>
#include <sstream>

#include "cli/cliapp.h"
#include "httpauth.h"
#include "playlist/destinationcheck.h"
#include "web/webassets.h"

namespace {

constexpr char kJson[] = "application/json";
constexpr char kCookie[] = "sonvex_token";
// An open event stream says something this often, so that a proxy or a browser that drops
// idle connections keeps it.
constexpr auto kKeepAlive = std::chrono::seconds(15);
constexpr size_t kKeptEvents = 100;

int64_t NowMs() {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
}

// The command line's messages without its name, one reason.
std::string Message(const std::string& err) {
    std::string message;
    std::istringstream lines(err);
    std::string line;
    while (std::getline(lines, line)) {
        const std::string prefix = "sonvex-cli: ";
        if (line.rfind(prefix, 0) == 0) {
            line.erase(0, prefix.size());
        }
        if (!line.empty()) {
            message += (message.empty() ? "" : "; ") + line;
        }
    }
    return message.empty() ? "the request was refused" : message;
}

std::string CookieToken(const httplib::Request& req) {
    const std::string cookies = req.get_header_value("Cookie");
    const std::string key = std::string(kCookie) + "=";
    size_t at = 0;
    while ((at = cookies.find(key, at)) != std::string::npos) {
        if (at == 0 || cookies[at - 1] == ' ' || cookies[at - 1] == ';') {
            const size_t begin = at + key.size();
            return cookies.substr(begin, cookies.find(';', begin) - begin);
        }
        at += key.size();
    }
    return std::string();
}

}  // namespace

HttpApi::HttpApi() = default;

HttpApi::~HttpApi() {
    Stop();
}

void HttpApi::Refuse(httplib::Response& res, int status, const std::string& message) {
    res.status = status;
    res.set_content(nlohmann::json{{"ok", false}, {"error", message}}.dump(), kJson);
}

bool HttpApi::IsLoopback(const std::string& host) {
    const auto octets = destinationcheck::ParseAddress(host);
    return octets.has_value() && (*octets)[0] == 127;
}

bool HttpApi::Start(const Settings& settings, std::string& problem) {
    m_settings = settings;
    const std::string where = settings.host + ":" + std::to_string(settings.port);
    if (!IsLoopback(settings.host) && !httpauth::StoredHash(m_tokenHash)) {
        problem = "the HTTP API at " + where +
                  " is open to the network and needs a token; make one with sonvex-cli "
                  "http-token";
        return false;
    }
    if (settings.tlsCert.empty() != settings.tlsKey.empty()) {
        problem = "HTTPS needs both --tls-cert and --tls-key";
        return false;
    }
    if (settings.tlsCert.empty()) {
        m_server = std::make_unique<httplib::Server>();
    } else {
        m_server =
            std::make_unique<httplib::SSLServer>(settings.tlsCert.c_str(), settings.tlsKey.c_str());
        if (!m_server->is_valid()) {
            problem = "the certificate or key for HTTPS could not be read";
            return false;
        }
    }
    m_server->new_task_queue = [] { return new httplib::ThreadPool(16); };
    m_server->set_payload_max_length(kMaxBody);
    m_server->set_read_timeout(5);
    m_server->set_write_timeout(5);
    m_server->set_keep_alive_timeout(5);
    m_server->set_keep_alive_max_count(100);
    Routes();
    if (!m_server->bind_to_port(settings.host, settings.port)) {
        problem = "the HTTP API cannot listen at " + where + "; is the port taken?";
        m_server.reset();
        return false;
    }
    m_thread = std::thread([this] { m_server->listen_after_bind(); });
    return true;
}

void HttpApi::Stop() {
    {
        const std::lock_guard<std::mutex> hold(m_eventLock);
        m_stopping = true;
    }
    m_eventWake.notify_all();
    if (m_server) {
        m_server->stop();
    }
    if (m_thread.joinable()) {
        m_thread.join();
    }
    m_server.reset();
}

void HttpApi::Publish(const nlohmann::ordered_json& event) {
    {
        const std::lock_guard<std::mutex> hold(m_eventLock);
        m_events.emplace_back(m_nextEvent++,
                              event.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace));
        while (m_events.size() > kKeptEvents) {
            m_events.pop_front();
        }
    }
    m_eventWake.notify_all();
}

HttpApi::Outcome HttpApi::Run(const std::vector<std::string>& args) {
    std::vector<const char*> argv = {"sonvex-cli"};
    for (const std::string& a : args) {
        argv.push_back(a.c_str());
    }
    std::ostringstream out;
    std::ostringstream err;
    CliConsole console{out, err, false};
    Outcome outcome;
    {
        const std::lock_guard<std::mutex> hold(m_runLock);
        outcome.status = RunCli(static_cast<int>(argv.size()), argv.data(), console);
    }
    outcome.out = out.str();
    outcome.err = err.str();
    return outcome;
}

void HttpApi::Reply(const std::vector<std::string>& args, httplib::Response& res, int okStatus) {
    const Outcome outcome = Run(args);
    if (outcome.status == 0) {
        const nlohmann::json parsed = nlohmann::json::parse(outcome.out, nullptr, false);
        res.status = okStatus;
        if (!parsed.is_discarded() && !outcome.out.empty()) {
            res.set_content(parsed.dump(), kJson);
        } else {
            std::string text = outcome.out;
            while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) {
                text.pop_back();
            }
            nlohmann::json reply = {{"ok", true}};
            if (!text.empty()) {
                reply["message"] = text;
            }
            res.set_content(reply.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace),
                            kJson);
        }
        return;
    }
    const std::string message = Message(outcome.err);
    int status = 422;
    if (outcome.status == kUsageError) {
        status = 400;
    } else if (message.rfind("there is no playlist", 0) == 0 ||
               message.rfind("there is no zone", 0) == 0 ||
               message.rfind("there is no scheduled event", 0) == 0) {
        status = 404;  // what the path names is not there
    } else if (message.rfind("no server is running", 0) == 0) {
        status = 503;
    } else if (message.find("is playing already") != std::string::npos ||
               message.find("exists already") != std::string::npos) {
        status = 409;
    }
    Refuse(res, status, message);
}

bool HttpApi::RateAllows(const std::string& address) {
    const std::lock_guard<std::mutex> hold(m_rateLock);
    const int64_t now = NowMs();
    if (m_buckets.size() > 4096) {
        m_buckets.clear();  // a flood of addresses must not grow the table without end
    }
    Bucket& bucket = m_buckets[address];
    if (bucket.lastMs != 0) {
        bucket.tokens =
            std::min<double>(kBurst, bucket.tokens + static_cast<double>(now - bucket.lastMs) *
                                                         kRequestsPerSecond / 1000.0);
    }
    bucket.lastMs = now;
    if (bucket.tokens < 1) {
        return false;
    }
    bucket.tokens -= 1;
    return true;
}

bool HttpApi::Admitted(const httplib::Request& req, httplib::Response& res) {
    res.set_header("X-Content-Type-Options", "nosniff");
    res.set_header("Cache-Control", "no-store");
    if (!RateAllows(req.remote_addr)) {
        Refuse(res, 429, "too many requests; slow down");
        return false;
    }
    // A page of another site must not drive the server through the user's browser: a name
    // that is not the server's own (a rebound DNS name) is refused, and a request with a
    // body must say it is JSON, which a cross-site form cannot without the server's leave.
    const std::string host = req.get_header_value("Host");
    const std::string hostName = host.substr(0, host.rfind(':'));
    if (IsLoopback(m_settings.host) && !IsLoopback(hostName) && hostName != "localhost") {
        Refuse(res, 421, "the server answers to its loopback address only");
        return false;
    }
    const bool writes = req.method == "POST" || req.method == "PUT" || req.method == "PATCH";
    if (writes && req.get_header_value("Content-Type").rfind(kJson, 0) != 0) {
        Refuse(res, 415, "the body must be application/json");
        return false;
    }
    const bool api = req.path.rfind("/api/", 0) == 0;
    if (m_tokenHash.empty() || !api || req.path == "/api/login") {
        return true;
    }
    std::string token = CookieToken(req);
    const std::string authorization = req.get_header_value("Authorization");
    if (authorization.rfind("Bearer ", 0) == 0) {
        token = authorization.substr(7);
    }
    if (token.empty() || !httpauth::Matches(token, m_tokenHash)) {
        res.set_header("WWW-Authenticate", "Bearer");
        Refuse(res, 401, "this request needs the server's token");
        return false;
    }
    return true;
}

bool HttpApi::AllowedFile(const std::string& path, std::string& resolved,
                          std::string& problem) const {
    if (m_settings.audioDirs.empty()) {
        problem = "the server allows no folder to add files from; start it with --audio-dir";
        return false;
    }
    for (const std::string& dir : m_settings.audioDirs) {
        char root[PATH_MAX];
        char file[PATH_MAX];
        const std::string candidate = path.rfind('/', 0) == 0 ? path : dir + "/" + path;
        if (::realpath(dir.c_str(), root) == nullptr ||
            ::realpath(candidate.c_str(), file) == nullptr) {
            continue;
        }
        const std::string inside = std::string(root) + "/";
        if (std::string(file).rfind(inside, 0) == 0) {
            resolved = file;
            return true;
        }
    }
    problem = "there is no file \"" + path + "\" inside the server's audio folders";
    return false;
}

void HttpApi::Events(const httplib::Request& /*req*/, httplib::Response& res) {
    if (m_streams.fetch_add(1) >= kMaxEventStreams) {
        m_streams.fetch_sub(1);
        Refuse(res, 503, "too many event streams are open");
        return;
    }
    uint64_t seen = 0;
    {
        const std::lock_guard<std::mutex> hold(m_eventLock);
        seen = m_nextEvent - 1;
    }
    res.set_header("X-Accel-Buffering", "no");
    res.set_chunked_content_provider(
        "text/event-stream",
        [this, seen, first = true](size_t /*offset*/, httplib::DataSink& sink) mutable {
            std::string text;
            if (first) {
                first = false;
                text = ": connected\n\n";
            } else {
                std::unique_lock<std::mutex> hold(m_eventLock);
                m_eventWake.wait_for(hold, kKeepAlive, [&] {
                    return m_stopping || (!m_events.empty() && m_events.back().first > seen);
                });
                if (m_stopping) {
                    return false;
                }
                for (const auto& [id, data] : m_events) {
                    if (id > seen) {
                        text += "id: " + std::to_string(id) + "\ndata: " + data + "\n\n";
                        seen = id;
                    }
                }
                if (text.empty()) {
                    text = ": keep-alive\n\n";
                }
            }
            return sink.write(text.data(), text.size());
        },
        [this](bool /*success*/) { m_streams.fetch_sub(1); });
}
