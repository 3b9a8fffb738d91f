// The HTTP API's routes: each one the command line's command, with the request's members as
// its arguments.

#include <httplib.h>

#include <algorithm>
#include <memory>
#include <regex>

#include "httpapi.h"
#include "httpauth.h"
#include "web/webassets.h"

namespace {

using httplib::Request;
using httplib::Response;

constexpr char kJson[] = "application/json";
constexpr char kName[] = "([^/]+)";
constexpr char kNumber[] = "([0-9]{1,10})";

bool Body(const Request& req, Response& res, nlohmann::json& body) {
    if (req.body.empty()) {
        body = nlohmann::json::object();
        return true;
    }
    body = nlohmann::json::parse(req.body, nullptr, false);
    if (body.is_discarded() || !body.is_object()) {
        HttpApi::Refuse(res, 400, "the body is not a JSON object");
        return false;
    }
    return true;
}

bool Field(const nlohmann::json& body, const char* key, bool required, std::string& value,
           Response& res) {
    value.clear();
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) {
        if (required) {
            HttpApi::Refuse(res, 400, std::string("the body has no \"") + key + "\"");
            return false;
        }
        return true;
    }
    if (it->is_string()) {
        value = it->get<std::string>();
    } else if (it->is_number_integer()) {
        value = std::to_string(it->get<int64_t>());
    } else {
        HttpApi::Refuse(res, 400,
                        std::string("\"") + key + "\" must be a string or a whole number");
        return false;
    }
    if (required && value.empty()) {
        HttpApi::Refuse(res, 400, std::string("\"") + key + "\" is empty");
        return false;
    }
    return true;
}

// Members of the body as options, "--ttl=4" for {"ttl": 4}: the "=" keeps a value that
// starts with a dash a value.
bool Options(const nlohmann::json& body,
             const std::vector<std::pair<const char*, const char*>>& members,
             std::vector<std::string>& args, Response& res) {
    for (const auto& [key, option] : members) {
        std::string value;
        if (!Field(body, key, false, value, res)) {
            return false;
        }
        if (!value.empty()) {
            args.push_back(std::string(option) + "=" + value);
        }
    }
    return true;
}

bool Flag(const nlohmann::json& body, const char* key, const char* option,
          std::vector<std::string>& args, Response& res) {
    const auto it = body.find(key);
    if (it == body.end() || it->is_null()) {
        return true;
    }
    if (!it->is_boolean()) {
        HttpApi::Refuse(res, 400, std::string("\"") + key + "\" must be true or false");
        return false;
    }
    if (it->get<bool>()) {
        args.emplace_back(option);
    }
    return true;
}

bool Zones(const nlohmann::json& body, std::vector<std::string>& args, Response& res) {
    const auto it = body.find("zones");
    if (it == body.end() || it->is_null()) {
        return true;
    }
    if (!it->is_array() ||
        !std::all_of(it->begin(), it->end(), [](const auto& z) { return z.is_string(); })) {
        HttpApi::Refuse(res, 400, "\"zones\" must be a list of zone names");
        return false;
    }
    for (const auto& zone : *it) {
        args.push_back("--zone=" + zone.get<std::string>());
    }
    return true;
}

// Positional arguments after "--", so that none is taken for an option.
std::vector<std::string> Command(std::initializer_list<std::string> words,
                                 std::initializer_list<std::string> positionals) {
    std::vector<std::string> args(words);
    args.emplace_back("--");
    args.insert(args.end(), positionals);
    return args;
}

void Asset(Response& res, const WebAsset* asset) {
    if (asset == nullptr) {
        HttpApi::Refuse(res, 404, "there is no such page");
        return;
    }
    res.set_header("Content-Security-Policy",
                   "default-src 'self'; img-src 'self' data:; frame-ancestors 'none'");
    res.set_content(reinterpret_cast<const char*>(asset->data), asset->size, asset->type);
}

}  // namespace

void HttpApi::AddDestination(std::vector<std::string> args, const Request& req, Response& res) {
    nlohmann::json body;
    std::string address;
    std::string port;
    if (Body(req, res, body) && Field(body, "address", true, address, res) &&
        Field(body, "port", true, port, res) &&
        Options(body,
                {{"ttl", "--ttl"},
                 {"interface", "--iface"},
                 {"mode", "--mode"},
                 {"control", "--control"},
                 {"channel", "--channel"},
                 {"caller", "--caller"},
                 {"serial", "--serial"}},
                args, res) &&
        Flag(body, "follow_priority", "--follow-priority", args, res)) {
        args.insert(args.end(), {"--", req.matches[1], address, port});
        Reply(args, res, 201);
    }
}

void HttpApi::Routes() {
    Guards();
    ConsoleRoutes();
    PlaylistRoutes();
    EntryRoutes();
    ZoneRoutes();
    ScheduleRoutes();
    ServerRoutes();
}

void HttpApi::Guards() {
    httplib::Server& s = *m_server;
    // Every path the API knows, whatever its method: another method there is a 405.
    auto known = std::make_shared<std::vector<std::regex>>();
    for (const std::string& pattern :
         {std::string("/api/login"), std::string("/api/playlists"),
          std::string("/api/playlists/") + kName,
          std::string("/api/playlists/") + kName + "/(files|destinations|play|stop)",
          std::string("/api/playlists/") + kName + "/(files|destinations)/" + kNumber,
          std::string("/api/zones"), std::string("/api/zones/") + kName,
          std::string("/api/zones/") + kName + "/destinations",
          std::string("/api/zones/") + kName + "/destinations/" + kNumber,
          std::string("/api/schedules"), std::string("/api/schedules/") + kNumber,
          std::string("/api/status"), std::string("/api/announce"), std::string("/api/events")}) {
        known->emplace_back(pattern);
    }
    s.set_pre_routing_handler([this](const Request& req, Response& res) {
        return Admitted(req, res) ? httplib::Server::HandlerResponse::Unhandled
                                  : httplib::Server::HandlerResponse::Handled;
    });
    s.set_error_handler([known](const Request& req, Response& res) {
        if (!res.body.empty()) {
            return;
        }
        if (res.status == 404 && std::any_of(known->begin(), known->end(), [&req](const auto& r) {
                return std::regex_match(req.path, r);
            })) {
            res.status = 405;
        }
        const char* reason = res.status == 404   ? "there is no such resource"
                             : res.status == 405 ? "that method is not allowed here"
                             : res.status == 413 ? "the request is too large"
                             : res.status == 400 ? "the request is malformed"
                                                 : "the request failed";
        res.set_content(nlohmann::json{{"ok", false}, {"error", reason}}.dump(), kJson);
    });
    s.set_exception_handler([](const Request& /*req*/, Response& res, std::exception_ptr) {
        HttpApi::Refuse(res, 500, "the request could not be served");
    });
}

void HttpApi::ConsoleRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/", [](const Request&, Response& res) { Asset(res, FindWebAsset("/index.html")); });
    s.Get(R"(/([A-Za-z0-9_-]+\.[a-z]+))",
          [](const Request& req, Response& res) { Asset(res, FindWebAsset(req.path)); });

    s.Post("/api/login", [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::string token;
        if (!Body(req, res, body) || !Field(body, "token", true, token, res)) {
            return;
        }
        if (!m_tokenHash.empty() && !httpauth::Matches(token, m_tokenHash)) {
            HttpApi::Refuse(res, 401, "that is not the server's token");
            return;
        }
        std::string cookie = "sonvex_token=" + token + "; Path=/; HttpOnly; SameSite=Strict";
        if (!m_settings.tlsCert.empty()) {
            cookie += "; Secure";
        }
        res.set_header("Set-Cookie", cookie);
        res.set_content(R"({"ok":true})", kJson);
    });
}

void HttpApi::PlaylistRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/api/playlists", [this](const Request&, Response& res) {
        Reply({"list", "--json"}, res);
    });
    s.Post("/api/playlists", [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::string name;
        if (Body(req, res, body) && Field(body, "name", true, name, res)) {
            Reply(Command({"create"}, {name}), res, 201);
        }
    });
    s.Get(std::string("/api/playlists/") + kName, [this](const Request& req, Response& res) {
        Reply(Command({"show", "--json"}, {req.matches[1]}), res);
    });
    s.Delete(std::string("/api/playlists/") + kName, [this](const Request& req, Response& res) {
        Reply(Command({"delete"}, {req.matches[1]}), res);
    });
    s.Patch(std::string("/api/playlists/") + kName, [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::vector<std::string> args = {"set"};
        if (Body(req, res, body) && Options(body,
                                            {{"priority", "--priority"},
                                             {"role", "--role"},
                                             {"interrupted", "--interrupted"},
                                             {"duck_db", "--duck-db"},
                                             {"sap", "--sap"},
                                             {"rtcp", "--rtcp"}},
                                            args, res)) {
            args.insert(args.end(), {"--", req.matches[1]});
            Reply(args, res);
        }
    });
}

void HttpApi::EntryRoutes() {
    httplib::Server& s = *m_server;
    s.Post(std::string("/api/playlists/") + kName + "/files",
           [this](const Request& req, Response& res) {
               nlohmann::json body;
               std::string path;
               std::string resolved;
               std::string problem;
               std::vector<std::string> args = {"add-file"};
               if (!Body(req, res, body) || !Field(body, "path", true, path, res) ||
                   !Options(body, {{"law", "--law"}, {"ptime", "--ptime"}}, args, res)) {
                   return;
               }
               if (!AllowedFile(path, resolved, problem)) {
                   HttpApi::Refuse(res, 403, problem);
                   return;
               }
               args.insert(args.end(), {"--", req.matches[1], resolved});
               Reply(args, res, 201);
           });
    s.Delete(std::string("/api/playlists/") + kName + "/files/" + kNumber,
             [this](const Request& req, Response& res) {
                 Reply(Command({"remove-file"}, {req.matches[1], req.matches[2]}), res);
             });
    s.Post(std::string("/api/playlists/") + kName + "/destinations",
           [this](const Request& req, Response& res) { AddDestination({"add-dest"}, req, res); });
    s.Delete(std::string("/api/playlists/") + kName + "/destinations/" + kNumber,
             [this](const Request& req, Response& res) {
                 Reply(Command({"remove-dest"}, {req.matches[1], req.matches[2]}), res);
             });
    s.Post(std::string("/api/playlists/") + kName + "/play",
           [this](const Request& req, Response& res) {
               nlohmann::json body;
               std::vector<std::string> args = {"play", "--json"};
               if (Body(req, res, body) && Zones(body, args, res) &&
                   Options(body, {{"volume", "--volume"}}, args, res)) {
                   args.insert(args.end(), {"--", req.matches[1]});
                   Reply(args, res);
               }
           });
    s.Post(std::string("/api/playlists/") + kName + "/stop",
           [this](const Request& req, Response& res) {
               Reply(Command({"stop"}, {req.matches[1]}), res);
           });
}

void HttpApi::ZoneRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/api/zones", [this](const Request&, Response& res) {
        Reply({"zone", "list", "--json"}, res);
    });
    s.Post("/api/zones", [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::string name;
        if (Body(req, res, body) && Field(body, "name", true, name, res)) {
            Reply(Command({"zone", "create"}, {name}), res, 201);
        }
    });
    s.Delete(std::string("/api/zones/") + kName, [this](const Request& req, Response& res) {
        Reply(Command({"zone", "delete"}, {req.matches[1]}), res);
    });
    s.Post(std::string("/api/zones/") + kName + "/destinations",
           [this](const Request& req, Response& res) {
               AddDestination({"zone", "add-dest"}, req, res);
           });
    s.Delete(std::string("/api/zones/") + kName + "/destinations/" + kNumber,
             [this](const Request& req, Response& res) {
                 Reply(Command({"zone", "remove-dest"}, {req.matches[1], req.matches[2]}), res);
             });
}

void HttpApi::ScheduleRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/api/schedules", [this](const Request& req, Response& res) {
        std::vector<std::string> args = {"schedule", "list", "--json"};
        if (req.has_param("count")) {
            args.push_back("--count=" + req.get_param_value("count"));
        }
        Reply(args, res);
    });
    s.Post("/api/schedules", [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::string playlist;
        std::string when;
        std::vector<std::string> args = {"schedule", "add"};
        if (Body(req, res, body) && Field(body, "playlist", true, playlist, res) &&
            Field(body, "when", true, when, res) &&
            Options(
                body,
                {{"zone", "--zone"}, {"until", "--until"}, {"say", "--say"}, {"voice", "--voice"}},
                args, res) &&
            Flag(body, "catch_up", "--catch-up", args, res)) {
            args.insert(args.end(), {"--", playlist, when});
            Reply(args, res, 201);
        }
    });
    s.Delete(std::string("/api/schedules/") + kNumber, [this](const Request& req, Response& res) {
        Reply(Command({"schedule", "remove"}, {req.matches[1]}), res);
    });
}

void HttpApi::ServerRoutes() {
    httplib::Server& s = *m_server;
    s.Get("/api/status", [this](const Request&, Response& res) {
        Reply({"status", "--json"}, res);
    });
    s.Post("/api/announce", [this](const Request& req, Response& res) {
        nlohmann::json body;
        std::string text;
        std::vector<std::string> args = {"announce", "--json"};
        if (Body(req, res, body) && Field(body, "text", true, text, res) &&
            Zones(body, args, res) &&
            Options(body, {{"playlist", "--to"}, {"priority", "--priority"}, {"voice", "--voice"}},
                    args, res)) {
            args.insert(args.end(), {"--", text});
            Reply(args, res);
        }
    });
    s.Get("/api/events", [this](const Request& req, Response& res) { Events(req, res); });
}
