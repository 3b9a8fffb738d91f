// serve: the paging server. One engine runs every playlist, page and scheduled event of the
// user's store at once, each destination held by the highest priority that wants it; play,
// stop, status, page and stream from other processes of the user reach it through its
// control socket. Runs until SIGINT or SIGTERM.

#include <poll.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <string>
#include <vector>

#include "clicommands.h"
#include "httpapi.h"
#include "siteserver.h"
#include "stopsignals.h"

namespace clicommands {

namespace {

// The reports and announcements the server's options ask for. They are the server's, not a
// playlist's: a destination carries one stream whoever holds it, and its receivers should see
// that stream reported and announced the same from the first packet to the last.
Transmitter::Extras ServerExtras(const CliOptions& options) {
    Transmitter::Extras extras;
    extras.rtcp = options.rtcp == "on";
    extras.sap = options.sap == "all" ? kSapAll : options.sap == "on" ? kSapGroups : kSapOff;
    char host[256] = {};
    if (::gethostname(host, sizeof host - 1) != 0 || host[0] == '\0') {
        std::snprintf(host, sizeof host, "localhost");
    }
    extras.name = std::string("Sonvex paging on ") + host;  // the SDP's session name
    return extras;
}

}  // namespace

int Serve(const CliOptions& options, CliConsole& console) {
    StopSignals signals;
    if (signals.WakeFd() < 0) {
        return Fail(console, "cannot make the pipe the server stops through");
    }
    SiteEngine engine(options.packetization);
    engine.SetExtras(ServerExtras(options));
    SiteServer server(engine, console, options.json);
    std::string problem;
    if (!server.Listen(problem)) {
        return Fail(console, problem + "; is a server running already?");
    }
    if (!engine.Start()) {
        return Fail(console, "cannot start the streaming thread");
    }
    if (!options.json) {
        console.out << "serving; stop with Ctrl+C" << '\n' << std::flush;
    }
    HttpApi http;
    if (!options.http.empty()) {
        HttpApi::Settings settings;
        const size_t colon = options.http.rfind(':');
        settings.host = options.http.substr(0, colon);
        settings.port = std::stoi(options.http.substr(colon + 1));
        settings.audioDirs = options.audioDirs;
        settings.tlsCert = options.tlsCert;
        settings.tlsKey = options.tlsKey;
        if (!http.Start(settings, problem)) {
            engine.Stop();
            return Fail(console, problem);
        }
        server.OnEvent([&http](const nlohmann::ordered_json& event) { http.Publish(event); });
        if (!options.json) {
            console.out << "web console and API at "
                        << (settings.tlsCert.empty() ? "http" : "https") << "://" << options.http
                        << "/" << '\n'
                        << std::flush;
        }
    }
    server.StartSchedule();
    std::vector<pollfd> fds;
    while (!StopSignals::Requested()) {
        fds.clear();
        fds.push_back({signals.WakeFd(), POLLIN, 0});
        server.PollFds(fds);
        const int ready = ::poll(fds.data(), fds.size(), server.TimeoutMs());
        if (ready < 0 && errno != EINTR) {
            break;
        }
        if (StopSignals::Requested()) {
            break;
        }
        server.Serve(fds);
    }
    http.Stop();
    engine.Stop();
    if (!options.json) {
        console.out << "stopped" << '\n' << std::flush;
    }
    return kSuccess;
}

}  // namespace clicommands
