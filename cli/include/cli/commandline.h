#pragma once
// The command line of sonvex-cli: one command (or a group's command, "zone create") with its
// arguments and options, parsed into CliOptions. Help, the version and usage errors are answered by
// the parser itself.

#include <cstdint>
#include <iosfwd>
#include <string>
#include <vector>

enum class CliCommand {
    List,
    Show,
    Create,
    Delete,
    AddFile,
    RemoveFile,
    AddDest,
    RemoveDest,
    Stream,
    Page,
    Convert,
    Probe,
    Sdp,
    Set,
    Serve,
    Play,
    Stop,
    Status,
    Announce,
    HttpToken,
    Complete,
    ZoneCreate,
    ZoneAddDest,
    ZoneRemoveDest,
    ZoneDelete,
    ZoneList,
    ScheduleAdd,
    ScheduleList,
    ScheduleRemove,
};

struct CliOptions {
    CliCommand command = CliCommand::List;
    std::string name;                // the playlist
    std::string zone;                // the zone commands; schedule add --zone
    std::string when;                // schedule add: the calendar expression, one argument
    std::string until;               // schedule add --until; empty: none
    bool catchUp = false;            // schedule add
    int count = 3;                   // schedule list: occurrences shown per event
    uint32_t id = 0;                 // schedule remove
    std::vector<std::string> paths;  // add-file, convert, probe
    int32_t format = 7;              // add-file, page, convert: 7 mu-law, 6 A-law, 0x65 G.722
    int32_t packetization = 20;      // add-file: ms
    size_t index = 0;                // remove-file, remove-dest, zone remove-dest: from 1
    std::string address;             // add-dest, zone add-dest: dotted IPv4
    int port = 0;                    // add-dest, zone add-dest
    int ttl = 1;                     // add-dest, zone add-dest
    bool ttlGiven = false;
    std::string interfaceName;       // add-dest, zone add-dest; empty: routing decides
    std::string mode = "rtp";        // add-dest, zone add-dest: "rtp", "spa" or "polycom"
    std::string control;             // add-dest, zone add-dest --control: spa's ADDR:PORT
    int channel = 26;                // add-dest --channel: polycom's, 1-50
    std::string caller = "Sonvex";   // add-dest --caller: polycom's caller ID
    bool followPriority = false;     // add-dest --follow-priority: polycom's
    long long serial = -1;           // add-dest --serial: polycom's; -1: the machine's host id
    bool polycomGiven = false;       // --channel, --caller, --serial or --follow-priority given
    bool loop = false;               // stream
    int volumeDb = 0;                // stream, -9..9
    double durationSeconds = 0;      // stream, page; 0: until the list ends or a signal
    std::string device = "default";  // page: the ALSA capture device
    std::string outputDir;           // convert, sdp; empty: the default folder
    bool overwrite = false;          // convert
    bool json = false;               // list, show, probe, stream, page, zone list, schedule list
    std::string sap;                 // set, serve: "on", "all", "off"; empty: unchanged (off)
    std::string rtcp;                // set, serve: "on", "off"; empty: unchanged (off)
    std::string priority;            // set: 0..100, "emergency" or "default"; empty: unchanged
    std::string role;                // set: "background", "announcement"; empty: unchanged
    std::string interrupted;         // set: "duck", "mute"; empty: unchanged
    int duckDb = 0;                  // set: dB, -60..0
    bool duckDbGiven = false;
    std::vector<std::string> zones;      // play, page: to these zones instead of the playlist's own
    int pagePriority = 70;               // page through a server: 0-100, 100 an emergency
    int announcePriority = -1;           // announce: 0-100; -1: the playlist's or the default
    std::string text;                    // announce: what is said
    std::string say;                     // schedule add --say: speak this instead of the files
    std::string voice;                   // announce, schedule add --voice; empty: the default
    std::string http;                    // serve --http ADDR:PORT; empty: no HTTP server
    std::vector<std::string> audioDirs;  // serve --audio-dir: folders the HTTP API may add from
    std::string tlsCert;                 // serve --tls-cert and --tls-key: HTTPS
    std::string tlsKey;
};

// The status a parse asks the program to exit with, or kRunCommand when `options` hold a
// command to run. Help and the version go to `out` (status 0); usage errors to `err`
// (status kUsageError).
constexpr int kRunCommand = -1;
constexpr int kUsageError = 2;
int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                     std::ostream& err);
