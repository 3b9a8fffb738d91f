// sdp: one session description file per destination of a playlist.

#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>

#include "clicommands.h"
#include "playlist/sessiondescription.h"

namespace clicommands {
namespace {

std::string HostName() {
    char name[256] = {};
    if (::gethostname(name, sizeof name - 1) != 0 || name[0] == '\0') {
        return "localhost";
    }
    return name;
}

}  // namespace

int Sdp(const CliOptions& options, CliConsole& console) {
    PlaylistDocument document;
    if (!OpenPlaylist(document, options.name, console)) {
        return kFailure;
    }
    const Playlist& playlist = document.CurrentPlaylist();
    if (playlist.Files.empty()) {
        return Fail(console, "the playlist \"" + options.name +
                                 "\" has no files, so no payload type to describe");
    }
    if (playlist.Destinations.empty()) {
        return Fail(console, "the playlist \"" + options.name + "\" has no destinations");
    }
    const std::filesystem::path folder = options.outputDir.empty() ? "." : options.outputDir;
    SessionOrigin origin;
    origin.host = HostName();
    origin.version = static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::seconds>(
                                               std::chrono::system_clock::now().time_since_epoch())
                                               .count());
    for (size_t i = 0; i < playlist.Destinations.size(); ++i) {
        const RtpDestination& destination = playlist.Destinations[i];
        if (i >= static_cast<size_t>(PlaylistDocument::kSenderCount)) {
            Fail(console, "destinations after the first " +
                              std::to_string(PlaylistDocument::kSenderCount) +
                              " receive no packets; no SDP written for them");
            break;
        }
        // The sender of destination i identifies itself with (i + 5)^2.
        const auto sender = static_cast<uint32_t>(i + 5);
        origin.sessionId = sender * sender;
        const std::filesystem::path file = folder / SessionFileName(options.name, i + 1);
        std::ofstream out(file, std::ios::binary | std::ios::trunc);
        out << SessionDescription(options.name, playlist, destination, origin);
        out.close();
        if (!out) {
            return Fail(console, file.string() + " could not be written");
        }
        console.out << file.string() << '\n';
    }
    return kSuccess;
}

}  // namespace clicommands
