// sdp: one session description file per destination of a playlist.

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include <chrono>
#include <filesystem>
#include <fstream>
#include <ostream>
#include <string>
#include <vector>

#include "clicommands.h"
#include "playlist/outputcodec.h"
#include "playlist/sessiondescription.h"

namespace clicommands {
namespace {

// The address this machine sends from toward `destination`, as the routing table picks it
// (RFC 8866 wants an address in o=, not a host name a receiver may not resolve). Connecting
// a UDP socket sends nothing. 127.0.0.1 when there is no route.
std::string LocalAddressToward(const RtpDestination& destination) {
    std::string address = "127.0.0.1";
    const int fd = ::socket(AF_INET, SOCK_DGRAM | SOCK_CLOEXEC, 0);
    if (fd < 0) {
        return address;
    }
    sockaddr_in to{};
    to.sin_family = AF_INET;
    to.sin_addr.s_addr = destination.IP;  // network byte order, as stored
    to.sin_port = htons(static_cast<uint16_t>(destination.Port));
    sockaddr_in local{};
    socklen_t length = sizeof local;
    char text[INET_ADDRSTRLEN] = {};
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) == 0 &&
        ::getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0 &&
        local.sin_addr.s_addr != htonl(INADDR_ANY) &&
        ::inet_ntop(AF_INET, &local.sin_addr, text, sizeof text) != nullptr) {
        address = text;
    }
    ::close(fd);
    return address;
}

// Receivers that take one payload type for the whole session play the files of another
// codec as noise: some keep the first rtpmap, some the last; only some follow the switch.
// The codecs of the files, in their first order, when there is more than one.
std::string MixedCodecs(const Playlist& playlist) {
    std::vector<int32_t> formats;
    for (const PlaylistFile& file : playlist.Files) {
        // Any tag but mu-law and G.722 is sent as A-law.
        const int32_t format = file.DstFormat == kFormatMulaw || file.DstFormat == kFormatG722
                                   ? file.DstFormat
                                   : kFormatAlaw;
        if (std::find(formats.begin(), formats.end(), format) == formats.end()) {
            formats.push_back(format);
        }
    }
    std::string names;
    for (size_t i = 0; i < formats.size() && formats.size() > 1; ++i) {
        names += i == 0 ? "" : i + 1 == formats.size() ? " and " : ", ";
        names += formats[i] == kFormatMulaw  ? "mu-law"
                 : formats[i] == kFormatAlaw ? "A-law"
                                             : "G.722";
    }
    return names;
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
    if (const std::string mixed = MixedCodecs(playlist); !mixed.empty()) {
        Fail(console, "warning: the playlist \"" + options.name + "\" mixes " + mixed +
                          " files; receivers that keep one payload type for the whole stream "
                          "play the files of the other codec wrongly");
    }
    SessionOrigin origin;
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
        origin.host = LocalAddressToward(destination);
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
