#pragma once
// The commands of sonvex-cli and what they share: messages, the playlist document, JSON.
// Private to the library.

#include <nlohmann/json.hpp>
#include <string>

#include "cli/cliapp.h"
#include "document/playlistdocument.h"

namespace clicommands {

constexpr int kSuccess = 0;
constexpr int kFailure = 1;

int List(const CliOptions& options, CliConsole& console);
int Show(const CliOptions& options, CliConsole& console);
int Create(const CliOptions& options, CliConsole& console);
int Delete(const CliOptions& options, CliConsole& console);
int AddFile(const CliOptions& options, CliConsole& console);
int RemoveFile(const CliOptions& options, CliConsole& console);
int AddDest(const CliOptions& options, CliConsole& console);
int RemoveDest(const CliOptions& options, CliConsole& console);
int Stream(const CliOptions& options, CliConsole& console);
// Pages live from a capture device to the playlist's destinations until a signal or the time.
int Page(const CliOptions& options, CliConsole& console);
int Convert(const CliOptions& options, CliConsole& console);
int Probe(const CliOptions& options, CliConsole& console);
int Sdp(const CliOptions& options, CliConsole& console);
int Set(const CliOptions& options, CliConsole& console);
// The paging server, and the requests to it.
int Serve(const CliOptions& options, CliConsole& console);
int Play(const CliOptions& options, CliConsole& console);
int StopPlaying(const CliOptions& options, CliConsole& console);
int Status(const CliOptions& options, CliConsole& console);
// Asks the server to say a text to a playlist's destinations or zones.
int Announce(const CliOptions& options, CliConsole& console);
// Makes the HTTP API's token: printed once, its hash kept in the state folder.
int HttpToken(const CliOptions& options, CliConsole& console);
// The words the shell may complete the typed ones with (the shells' completion scripts).
int Complete(const CliOptions& options, CliConsole& console);
// When a server of the user's runs, stream and page ask it and follow the run to its end:
// true, with the command's `status`. False when none runs.
bool StreamThroughServer(const CliOptions& options, CliConsole& console, int& status);
bool PageThroughServer(const CliOptions& options, CliConsole& console, int& status);
int ZoneCreate(const CliOptions& options, CliConsole& console);
int ZoneAddDest(const CliOptions& options, CliConsole& console);
int ZoneRemoveDest(const CliOptions& options, CliConsole& console);
int ZoneDelete(const CliOptions& options, CliConsole& console);
// Every stored zone with its destinations, then All with every destination of the store.
int ZoneList(const CliOptions& options, CliConsole& console);
// Stores an event and prints its id and next time.
int ScheduleAdd(const CliOptions& options, CliConsole& console);
// Every event with its next times from now, in local time.
int ScheduleList(const CliOptions& options, CliConsole& console);
int ScheduleRemove(const CliOptions& options, CliConsole& console);

// "sonvex-cli: <message>" on the error stream; returns kFailure.
int Fail(CliConsole& console, const std::string& message);
// Whether a playlist of that name is stored; false, with the message printed, when not.
bool PlaylistExists(PlaylistDocument& document, const std::string& name, CliConsole& console);
// Opens a stored playlist in the document; false, with the message printed, when there is
// none of that name or the store cannot be read.
bool OpenPlaylist(PlaylistDocument& document, const std::string& name, CliConsole& console);
// The destination add-dest describes (address, port, --ttl, --iface), checked as the desktop
// checks it; false, with the reason printed, when it is refused.
bool DestinationFrom(const CliOptions& options, RtpDestination& destination, CliConsole& console);
// A destination in JSON, with its number in its list (counted from 1).
nlohmann::ordered_json DestinationJson(const RtpDestination& destination, size_t number);
// Probes a file as the desktop does; on false `reason` says why it is refused.
bool ProbeFile(const char* path, SourceFormatInfo& info, std::string& description,
               std::string& reason);
// The description's items, one a line.
std::string DescriptionLines(const std::string& description);
// A page's capture-to-send latency: its "latency" member in JSON (milliseconds), and as
// text ("capture to send: median 0.4 ms, p99 1.1 ms", or that no packet was sent).
nlohmann::ordered_json LatencyJson(const PageLatency::Summary& latency);
std::string LatencyText(const PageLatency::Summary& latency);
// The JSON rule: a command that answers once prints one document (pretty-printed); one that
// runs (stream, page, serve) prints one object a line as things happen.
// Pretty-printed JSON and a newline.
void PrintJson(CliConsole& console, const nlohmann::ordered_json& value);
// One object on one line, flushed.
void PrintEvent(CliConsole& console, const nlohmann::ordered_json& value);

}  // namespace clicommands
