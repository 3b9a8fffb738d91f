#include "playlist/sessiondescription.h"

#include <algorithm>
#include <vector>

#include "playlist/outputcodec.h"
#include "sonvex/buildconfig.h"

std::string SessionDescription(const std::string& playlistName, const Playlist& playlist,
                               const RtpDestination& destination, const SessionOrigin& origin) {
    if (playlist.Files.empty()) {
        return std::string();
    }
    std::vector<const OutputCodec*> codecs;
    int32_t maxPtime = 0;
    for (const PlaylistFile& file : playlist.Files) {
        // A tag no codec has is sent as nothing; it was A-law here before G.722 came.
        const OutputCodec* codec = FindOutputCodec(file.DstFormat);
        if (codec == nullptr) {
            codec = FindOutputCodec(kFormatAlaw);
        }
        if (std::find(codecs.begin(), codecs.end(), codec) == codecs.end()) {
            codecs.push_back(codec);
        }
        maxPtime = std::max(maxPtime, file.DstPacketization);
    }
    const int32_t ptime = playlist.Files.front().DstPacketization;
    // Every field is a single line: a name with a line break would end the field early.
    std::string name = playlistName.empty() ? std::string(" ") : playlistName;
    std::replace(name.begin(), name.end(), '\r', ' ');
    std::replace(name.begin(), name.end(), '\n', ' ');

    std::string connection = destination.AddressText();
    if (destination.IsMulticast()) {
        connection += "/" + std::to_string(destination.Ttl);
    }
    std::string text;
    const auto line = [&text](const std::string& content) { text += content + "\r\n"; };
    line("v=0");
    line("o=- " + std::to_string(origin.sessionId) + " " + std::to_string(origin.version) +
         " IN IP4 " + origin.host);
    line("s=" + name);
    line("c=IN IP4 " + connection);
    line("t=0 0");
    std::string media = "m=audio " + std::to_string(destination.Port & 0xFFFF) + " RTP/AVP";
    for (const OutputCodec* codec : codecs) {
        media += " " + std::to_string(codec->payloadType);
    }
    line(media);
    for (const OutputCodec* codec : codecs) {
        line("a=rtpmap:" + std::to_string(codec->payloadType) + " " + codec->encoding + "/" +
             std::to_string(codec->clockRate));
    }
    line("a=ptime:" + std::to_string(ptime));
    if (maxPtime != ptime) {
        line("a=maxptime:" + std::to_string(maxPtime));
    }
    // Reports go to the port above; a receiver given an odd port takes the even one below
    // for RTP and pairs reports with that one (RFC 3550 11), so it is told (RFC 3605).
    const uint32_t port = destination.Port & 0xFFFF;
    if (playlist.RtcpReports != 0 && port % 2 != 0 && port < 65535) {
        line("a=rtcp:" + std::to_string(port + 1));
    }
    line(std::string("a=tool:sonvex-cli ") + sonvex::kVersion);
    return text;
}

std::string SessionFileName(const std::string& playlistName, size_t number) {
    std::string name = playlistName;
    std::replace(name.begin(), name.end(), '/', '_');
    return name + "-" + std::to_string(number) + ".sdp";
}
