// The commands that list, show and edit stored playlists. Every edit loads the playlist,
// changes it and saves it whole, as the desktop program does after each of its edits.

#include <algorithm>
#include <cctype>
#include <charconv>
#include <filesystem>
#include <functional>
#include <ostream>
#include <string>
#include <system_error>

#include "clicommands.h"
#include "playlist/outputcodec.h"

namespace clicommands {
namespace {

// A tag no codec has was shown as A-law before G.722 came; it still is.
const OutputCodec& CodecOf(int32_t format) {
    const OutputCodec* codec = FindOutputCodec(format);
    return codec != nullptr ? *codec : *FindOutputCodec(kFormatAlaw);
}

const char* LawText(int32_t format) {
    return CodecOf(format).name;
}

const char* LawName(int32_t format) {
    return CodecOf(format).word;
}

// The refusal of a store that could not take an edit.
int Unchanged(const PlaylistDocument& document, const std::string& name, CliConsole& console) {
    return Fail(console, "the playlist \"" + name + "\" could not be saved, it is unchanged: " +
                             PlaylistDocument::FailureText(document.LastFailure()));
}

// The words of `set --sap`.
const char* SapText(int32_t mode) {
    return mode == kSapAll ? "all" : mode == kSapGroups ? "on" : "off";
}

const char* RoleText(int32_t role) {
    return role == kRoleAnnouncement ? "announcement" : "background";
}

const char* InterruptedText(int32_t mode) {
    return mode == kInterruptedMute ? "mute" : "duck";
}

// set --priority: the parser let only these words and 0-100 through.
int32_t PriorityFrom(const std::string& text) {
    if (text == "emergency") {
        return kPriorityEmergency;
    }
    int32_t value = kPriorityUnset;  // "default"
    std::from_chars(text.data(), text.data() + text.size(), value);
    return value;
}

// The settings that decide how the playlist shares its destinations, one a line.
void PrintSharing(CliConsole& console, const Playlist& playlist) {
    console.out << "Priority: " << playlist.EffectivePriority();
    if (playlist.Priority == kPriorityUnset) {
        console.out << " (default of the " << RoleText(playlist.Role) << " role)";
    } else if (playlist.Priority == kPriorityEmergency) {
        console.out << " (emergency)";
    }
    console.out << "\nRole: " << RoleText(playlist.Role)
                << "\nInterrupted: " << InterruptedText(playlist.Interrupted)
                << "\nDuck level: " << playlist.DuckDb << " dB\n";
}

// Changes a stored playlist in one transaction of the store, so that another program's
// save cannot be lost in between. `edit` prints its own refusal.
int Edit(const std::string& name, CliConsole& console, const std::function<bool(Playlist&)>& edit) {
    PlaylistDocument document;
    if (!PlaylistExists(document, name, console)) {
        return kFailure;
    }
    if (document.Open(name) && document.Edit(edit)) {
        return kSuccess;
    }
    if (document.LastFailure() != StoreFailure::None) {
        Unchanged(document, name, console);
    }
    return kFailure;
}

// An index counted from 1 that must name one of `count` entries.
bool CheckIndex(size_t index, size_t count, const char* what, const std::string& name,
                CliConsole& console) {
    if (index >= 1 && index <= count) {
        return true;
    }
    Fail(console, "the playlist \"" + name + "\" has no " + what + " " + std::to_string(index) +
                      " (it has " + std::to_string(count) + ")");
    return false;
}

// One file of the JSON listing; the duration only when the file is valid, else the reason.
nlohmann::ordered_json FileJson(const PlaylistFile& file, size_t number, bool valid,
                                const std::string& reason) {
    nlohmann::ordered_json entry = {{"index", number},
                                    {"name", file.Name},
                                    {"path", file.Source.path},
                                    {"law", LawName(file.DstFormat)},
                                    {"sample_rate", file.DstSampleRate},
                                    {"ptime", file.DstPacketization},
                                    {"valid", valid}};
    if (valid) {
        entry["duration_seconds"] = file.Source.durationSeconds;
    } else {
        entry["reason"] = reason;
    }
    return entry;
}

// One file of the text listing: its settings on one line, its path on the next.
void PrintFile(CliConsole& console, const PlaylistFile& file, size_t number, bool valid,
               const std::string& reason) {
    console.out << "  " << number << ". " << file.Name << " (" << LawText(file.DstFormat) << ", "
                << file.DstSampleRate << " Hz, " << file.DstPacketization << " ms";
    if (valid) {
        console.out << ", " << file.Source.durationSeconds << " s)\n";
    } else {
        console.out << ") invalid: " << reason << '\n';
    }
    console.out << "     " << file.Source.path << '\n';
}

}  // namespace

int List(const CliOptions& options, CliConsole& console) {
    PlaylistDocument document;
    std::vector<std::string> names;
    document.ListPlaylists(names);  // no store yet: no playlists
    if (!options.json) {
        for (const std::string& name : names) {
            console.out << name << '\n';
        }
        return kSuccess;
    }
    nlohmann::ordered_json list = nlohmann::ordered_json::array();
    for (const std::string& name : names) {
        // One that cannot be read counts as empty.
        const bool opened = document.Open(name);
        const Playlist& playlist = document.CurrentPlaylist();
        list.push_back({{"name", name},
                        {"files", opened ? playlist.Files.size() : 0},
                        {"destinations", opened ? playlist.Destinations.size() : 0}});
    }
    PrintJson(console, list);
    return kSuccess;
}

namespace {

// The name as the store keeps it: names are found without regard to case ("lobby" opens
// "Lobby"), and the one shown is the one that was created.
std::string StoredName(PlaylistDocument& document, const std::string& typed) {
    std::vector<std::string> names;
    document.ListPlaylists(names);
    const auto same = [&typed](const std::string& name) {
        return name.size() == typed.size() &&
               std::equal(name.begin(), name.end(), typed.begin(), [](char a, char b) {
                   return std::tolower(static_cast<unsigned char>(a)) ==
                          std::tolower(static_cast<unsigned char>(b));
               });
    };
    const auto found = std::find_if(names.begin(), names.end(), same);
    return found == names.end() ? typed : *found;
}

}  // namespace

int Show(const CliOptions& options, CliConsole& console) {
    PlaylistDocument document;
    if (!OpenPlaylist(document, options.name, console)) {
        return kFailure;
    }
    const std::string name = StoredName(document, options.name);
    Playlist playlist = document.CurrentPlaylist();  // probed here, as shown
    nlohmann::ordered_json files = nlohmann::ordered_json::array();
    if (!options.json) {
        console.out << "Playlist \"" << name << "\"\nFiles:\n";
    }
    size_t number = 0;
    for (PlaylistFile& file : playlist.Files) {
        ++number;
        std::string description;
        std::string reason;
        const bool valid = ProbeFile(file.Source.path, file.Source, description, reason);
        if (options.json) {
            files.push_back(FileJson(file, number, valid, reason));
        } else {
            PrintFile(console, file, number, valid, reason);
        }
    }
    if (!options.json) {
        console.out << "Destinations:\n";
        number = 0;
        for (const RtpDestination& destination : playlist.Destinations) {
            console.out << "  " << ++number << ". " << destination.ListText() << '\n';
        }
        console.out << "SAP announcements: " << SapText(playlist.SapAnnounce)
                    << "\nRTCP reports: " << (playlist.RtcpReports != 0 ? "on" : "off") << '\n';
        PrintSharing(console, playlist);
        return kSuccess;
    }
    nlohmann::ordered_json destinations = nlohmann::ordered_json::array();
    number = 0;
    for (const RtpDestination& destination : playlist.Destinations) {
        destinations.push_back(DestinationJson(destination, ++number));
    }
    PrintJson(console, {{"name", name},
                        {"files", files},
                        {"destinations", destinations},
                        {"sap", SapText(playlist.SapAnnounce)},
                        {"rtcp", playlist.RtcpReports != 0},
                        {"priority", playlist.EffectivePriority()},
                        {"priority_default", playlist.Priority == kPriorityUnset},
                        {"role", RoleText(playlist.Role)},
                        {"interrupted", InterruptedText(playlist.Interrupted)},
                        {"duck_db", playlist.DuckDb}});
    return kSuccess;
}

int Create(const CliOptions& options, CliConsole& console) {
    const std::string problem = PlaylistDocument::NameProblem(options.name);
    if (!problem.empty()) {
        return Fail(console, problem);
    }
    PlaylistDocument document;
    // Names compare without case, as the desktop's do; an existing playlist is never
    // replaced from here.
    if (document.Exists(options.name)) {
        return Fail(console, "a playlist named \"" + options.name + "\" exists already");
    }
    // An empty playlist is stored whole at once, so that it lists and opens everywhere; a
    // failed create leaves nothing behind.
    if (!document.CreateStored(options.name)) {
        return Fail(console, "the playlist \"" + options.name + "\" could not be created: " +
                                 PlaylistDocument::FailureText(document.LastFailure()));
    }
    return kSuccess;
}

int Delete(const CliOptions& options, CliConsole& console) {
    PlaylistDocument document;
    if (!PlaylistExists(document, options.name, console)) {
        return kFailure;
    }
    if (!document.Delete(options.name)) {
        return Fail(console, "the playlist \"" + options.name + "\" could not be deleted: " +
                                 PlaylistDocument::FailureText(document.LastFailure()));
    }
    return kSuccess;
}

int AddFile(const CliOptions& options, CliConsole& console) {
    PlaylistDocument document;
    if (!PlaylistExists(document, options.name, console)) {
        return kFailure;
    }
    // Probed before the store is changed: reading the files may take a while.
    std::vector<PlaylistFile> entries;
    bool refused = false;
    for (const std::string& given : options.paths) {
        // Stored with its full path: the desktop and the service may start elsewhere.
        std::error_code error;
        const std::filesystem::path path = std::filesystem::absolute(given, error);
        PlaylistFile entry;
        std::string description;
        std::string reason;
        if (error) {
            reason = error.message();
        } else if (!entry.Source.SetPath(path.c_str()) || !entry.SetName(path.filename().c_str())) {
            reason = "the path is longer than 259 bytes";
        } else if (ProbeFile(entry.Source.path, entry.Source, description, reason)) {
            entry.DstFormat = options.format;
            entry.DstSampleRate = CodecOf(options.format).sampleRate;
            entry.DstPacketization = options.packetization;
            entry.Valid = 1;
            entries.push_back(entry);
            continue;
        }
        Fail(console, given + ": not added: " + reason);
        refused = true;
    }
    if (!entries.empty() && Edit(options.name, console, [&entries](Playlist& playlist) {
                                for (const PlaylistFile& entry : entries) {
                                    playlist.AppendFile(entry);
                                }
                                return true;
                            }) != kSuccess) {
        return kFailure;
    }
    return refused ? kFailure : kSuccess;
}

int RemoveFile(const CliOptions& options, CliConsole& console) {
    return Edit(options.name, console, [&](Playlist& playlist) {
        if (!CheckIndex(options.index, playlist.Files.size(), "file", options.name, console)) {
            return false;
        }
        playlist.EraseFile(options.index - 1);
        return true;
    });
}

int AddDest(const CliOptions& options, CliConsole& console) {
    RtpDestination destination;
    if (!DestinationFrom(options, destination, console)) {
        return kFailure;
    }
    return Edit(options.name, console, [&destination](Playlist& playlist) {
        playlist.AppendDestination(destination);
        return true;
    });
}

int RemoveDest(const CliOptions& options, CliConsole& console) {
    return Edit(options.name, console, [&](Playlist& playlist) {
        if (!CheckIndex(options.index, playlist.Destinations.size(), "destination", options.name,
                        console)) {
            return false;
        }
        playlist.EraseDestination(options.index - 1);
        return true;
    });
}

int Set(const CliOptions& options, CliConsole& console) {
    if (options.sap.empty() && options.rtcp.empty() && options.priority.empty() &&
        options.role.empty() && options.interrupted.empty() && !options.duckDbGiven) {
        return Fail(console,
                    "nothing to set: give --sap, --rtcp, --priority, --role, --interrupted, "
                    "--duck-db or several of them");
    }
    return Edit(options.name, console, [&options](Playlist& playlist) {
        if (!options.sap.empty()) {
            playlist.SapAnnounce = options.sap == "all"  ? kSapAll
                                   : options.sap == "on" ? kSapGroups
                                                         : kSapOff;
        }
        if (!options.rtcp.empty()) {
            playlist.RtcpReports = options.rtcp == "on" ? 1 : 0;
        }
        if (!options.priority.empty()) {
            playlist.Priority = PriorityFrom(options.priority);
        }
        if (!options.role.empty()) {
            playlist.Role = options.role == "announcement" ? kRoleAnnouncement : kRoleBackground;
        }
        if (!options.interrupted.empty()) {
            playlist.Interrupted =
                options.interrupted == "mute" ? kInterruptedMute : kInterruptedDuck;
        }
        if (options.duckDbGiven) {
            playlist.DuckDb = options.duckDb;
        }
        return true;
    });
}

}  // namespace clicommands
