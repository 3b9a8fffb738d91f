#pragma once
// The open playlist in memory: its audio files, each with its own output settings, and its
// RTP destinations. Owned by the main view on the UI thread; the streaming worker reads the
// files (copying each entry) while every command that could change them is disabled.

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "media/sourceformatinfo.h"

// One file of a playlist. Copies are deep (the Source's format block is duplicated).
struct PlaylistFile {
    char Name[kMaxPathChars] = {};  // display name: file name with extension, no folder
    SourceFormatInfo Source;        // Source.path is the full path, persisted as "SrcPath"
    int32_t DstFormat = 0;          // 7 mu-law, 6 A-law
    int32_t DstSampleRate = 0;      // Hz; 8000 from the source dialog
    int32_t DstPacketization = 0;   // ms: 20, 40, 80 or 160; also the timer period
    int32_t Valid = 0;              // 1 once ProbeSource succeeded on the file

    // Copies a name; false and unchanged when it does not fit the 260-byte field.
    bool SetName(const char* name);
};

// Room for a network interface name and its NUL (the system's IF_NAMESIZE).
constexpr int kMaxInterfaceChars = 16;
constexpr uint32_t kDefaultMulticastTtl = 1;  // datagrams stay on the local network

// How a destination is spoken to: plain RTP; RTP framed by SPA-style control packets (a
// start before the first RTP packet, a stop after the last) to a control address of its own;
// or Polycom group paging (its own packets, not RTP, on a channel with a caller ID).
enum DestinationMode : int32_t { kModeRtp = 0, kModeSpa = 1, kModePolycom = 2 };
constexpr int kCallerIdChars = 13;  // what a Polycom phone shows

// One RTP destination, copied as plain bytes. The multicast settings only matter for a
// group address (224.0.0.0/4); stores written before they existed load the defaults, and
// the mode rtp.
struct RtpDestination {
    char IpPort[kMaxPathChars] = {};      // "%d.%d.%d.%d : %d", persisted as "IP:PORT"
    uint32_t IP = 0;                      // IPv4 address in network byte order
    uint32_t Port = 0;                    // UDP port in host byte order
    uint32_t Ttl = kDefaultMulticastTtl;  // hop limit of group datagrams, "MulticastTTL"
    // The interface group datagrams leave by, "MulticastInterface"; empty: the routing
    // table's choice.
    char Interface[kMaxInterfaceChars] = {};
    int32_t Mode = kModeRtp;   // a DestinationMode, "Mode" as its word (rtp, spa)
    uint32_t ControlIP = 0;    // spa: the control address, network byte order, "ControlIP"
    uint32_t ControlPort = 0;  // spa: its UDP port, host byte order, "ControlPort"
    int32_t Channel = 26;      // polycom: 1-50 (26-50: paging groups 1-25), "Channel"
    char CallerId[kCallerIdChars + 1] = "Sonvex";  // polycom: ASCII, "CallerId"
    uint32_t Serial = 0;  // polycom: the sender's number (lower wins a collision), "Serial"
    // polycom: 1 when a server sends its announcements and emergencies on the priority and
    // emergency channels of Channel's range (polycompackets.h), "FollowPriority"; 0 in older
    // stores.
    int32_t FollowPriority = 0;

    // Builds a destination from four octets (first octet first) and a port, with its text.
    static RtpDestination FromOctets(uint8_t a, uint8_t b, uint8_t c, uint8_t d, uint32_t port);
    // Copies an interface name; false and unchanged when it does not fit.
    bool SetInterface(const char* name);
    bool IsMulticast() const;
    // The dotted address alone, "239.1.1.1".
    std::string AddressText() const;
    // The text a list shows: the "IP:PORT" text, for a group its TTL and interface, and the
    // SPA control address.
    std::string ListText() const;
    // "a.b.c.d:port" of the SPA control address.
    std::string ControlText() const;
    // Copies a Polycom caller ID; false and unchanged when it is longer than 13 bytes.
    bool SetCallerId(const char* text);
};

// The mode's word ("rtp", "spa", "polycom"); and the mode of a word, false for any other.
const char* DestinationModeWord(int32_t mode);
bool DestinationModeFromWord(std::string_view word, int32_t& mode);

// What a streaming run announces (SAP, RFC 2974) besides the packets.
enum SapAnnounceMode : int32_t {
    kSapOff = 0,
    kSapGroups = 1,  // the multicast destinations, to their scope's announcement group
    kSapAll = 2,     // and the unicast ones, to the destination host's SAP port
};

// How a playlist's runs share destinations with other sources of a server: at each
// destination the source of highest priority plays; the others are ducked under it or muted.
enum PlaylistRole : int32_t { kRoleBackground = 0, kRoleAnnouncement = 1 };
enum InterruptedMode : int32_t { kInterruptedDuck = 0, kInterruptedMute = 1 };
constexpr int32_t kPriorityUnset = -1;
constexpr int32_t kPriorityEmergency = 100;  // overrides everything
constexpr int32_t kDefaultBackgroundPriority = 10;
constexpr int32_t kDefaultAnnouncementPriority = 50;
constexpr int32_t kDefaultPagePriority = 70;  // a live page, above announcements
constexpr int32_t kDefaultDuckDb = -15;
constexpr int32_t kMinDuckDb = -60;

struct Playlist {
    std::vector<PlaylistFile> Files;
    std::vector<RtpDestination> Destinations;
    // Settings of the playlist, values of its key; stores written before they existed, and
    // values out of range, read as the defaults.
    int32_t SapAnnounce = kSapOff;           // "SapAnnounce", a SapAnnounceMode
    int32_t RtcpReports = 0;                 // "RtcpReports": 1 sends sender reports, SDES and BYE
    int32_t Priority = kPriorityUnset;       // "Priority": 0..100, higher wins; 100 is emergency
    int32_t Role = kRoleBackground;          // "Role", a PlaylistRole
    int32_t Interrupted = kInterruptedDuck;  // "Interrupted", an InterruptedMode
    int32_t DuckDb = kDefaultDuckDb;         // "DuckDb": kMinDuckDb..0, the gain while ducked

    // Priority, or the role's default when unset (or out of range).
    int32_t EffectivePriority() const;

    void AppendFile(const PlaylistFile& file) { Files.push_back(file); }
    size_t FileCount() const { return Files.size(); }
    // index must be below FileCount().
    PlaylistFile& FileAt(size_t index) { return Files.at(index); }
    const PlaylistFile& FileAt(size_t index) const { return Files.at(index); }
    // Out-of-range indexes change nothing.
    void EraseFile(size_t index);
    // position == FileCount() appends; beyond that changes nothing.
    void InsertFile(size_t position, const PlaylistFile& file);
    // Swap entry i with its neighbour below / above; nothing when there is none.
    void MoveFileDown(int index);
    void MoveFileUp(int index);
    void Clear();
    void AppendDestination(const RtpDestination& destination) {
        Destinations.push_back(destination);
    }
    void EraseDestination(size_t index);
};
