#pragma once
// SDP (RFC 8866) for one destination of a playlist: what a receiver needs to play the
// stream sent to it. The connection address is the destination's, with its TTL for a
// multicast group; one audio medium at the destination's port with the payload types the
// playlist's files use (0 PCMU, 8 PCMA, 9 G722 at its 8000 Hz clock; RFC 3551) and their packet
// time.

#include <cstdint>
#include <string>

#include "playlist/playlist.h"

struct SessionOrigin {
    std::string host;        // the sending machine's IPv4 address, for the o= line
    uint32_t sessionId = 0;  // this stream's number (the sender's SSRC)
    uint64_t version = 0;    // changes whenever the description is written anew
};

// The description, lines ended by CRLF; empty when the playlist has no file to describe.
std::string SessionDescription(const std::string& playlistName, const Playlist& playlist,
                               const RtpDestination& destination, const SessionOrigin& origin);
// "<name>-<n>.sdp" for destination n (from 1), with any "/" of the name made "_".
std::string SessionFileName(const std::string& playlistName, size_t number);
