// serve: the paging server. One engine runs every playlist, page and scheduled event of the
// user's store at once, each destination held by the highest priority that wants it; play,
// stop, status, page and stream from other processes of the user reach it through its
// control socket. Runs until SIGINT or SIGTERM.

#include <poll.h>

#include <cerrno>
#include <vector>

#include "clicommands.h"
#include "siteserver.h"
#include "stopsignals.h"

namespace clicommands {

int Serve(const CliOptions& options, CliConsole& console) {
    StopSignals signals;
    if (signals.WakeFd() < 0) {
        return Fail(console, "cannot make the pipe the server stops through");
    }
    SiteEngine engine(options.packetization);
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
    engine.Stop();
    if (!options.json) {
        console.out << "stopped" << '\n' << std::flush;
    }
    return kSuccess;
}

}  // namespace clicommands
