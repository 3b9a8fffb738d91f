#include "cli/commandline.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <charconv>
#include <cstdint>
#include <cstdlib>
#include <map>
#include <ostream>
#include <string>
#include <vector>

#include "commandtree.h"
#include "playlist/destinationcheck.h"
#include "playlist/outputcodec.h"
#include "playlist/playlist.h"
#include "sonvex/buildconfig.h"
#include "suggestion.h"

namespace {

constexpr char kProgram[] = "sonvex-cli";
// The longest timed stream, a year: a longer one would overflow the clock's deadline.
constexpr long long kMaxDurationSeconds = 365LL * 24 * 3600;

// Whether `text` is a decimal number as a person writes it: an optional minus sign where
// negatives make sense, digits, no leading zero (read as octal elsewhere), no base prefix.
bool IsPlainInteger(const std::string& text, bool negative) {
    const size_t start = negative && !text.empty() && text[0] == '-' ? 1 : 0;
    const std::string digits = text.substr(start);
    return !digits.empty() && digits.find_first_not_of("0123456789") == std::string::npos &&
           (digits.size() == 1 || digits[0] != '0');
}

bool IsDecimalIn(const std::string& text, long long min, long long max) {
    long long value = 0;
    return IsPlainInteger(text, min < 0) &&
           std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc() &&
           value >= min && value <= max;
}

// Checks an integer argument before the parser converts it (which would take 0x10 as 16 and
// 010 as 8), so that only plain decimal numbers within the range get through.
CLI::Validator Decimal(const std::string& what, long long min, long long max) {
    const std::string range = std::to_string(min) + " to " + std::to_string(max);
    return CLI::Validator(
        [what, min, max, range](std::string& text) -> std::string {
            if (IsDecimalIn(text, min, max)) {
                return std::string();
            }
            return what + " must be a whole number from " + range + ", not \"" + text + "\"";
        },
        range);
}

// A priority as set takes it: a number, or a word for the highest and for the role's own.
CLI::Validator Priority() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text == "emergency" || text == "default" ||
                IsDecimalIn(text, 0, kPriorityEmergency)) {
                return std::string();
            }
            return "the priority must be a whole number from 0 to 100, emergency or default, "
                   "not \"" +
                   text + "\"";
        },
        "0 to 100, emergency or default");
}

// One of a few words, as typed.
CLI::Validator OneOf(const std::string& what, const std::vector<std::string>& words) {
    std::string list;
    for (size_t i = 0; i < words.size(); ++i) {
        list += (i == 0 ? "" : i + 1 == words.size() ? " or " : ", ") + words[i];
    }
    return CLI::Validator(
        [what, words, list](std::string& text) -> std::string {
            if (std::find(words.begin(), words.end(), text) != words.end()) {
                return std::string();
            }
            return what + " must be " + list + ", not \"" + text + "\"";
        },
        list);
}

// Seconds as digits with an optional fraction: no exponent, no hex, no nan or inf.
CLI::Validator Seconds() {
    const std::string range = "more than 0, at most " + std::to_string(kMaxDurationSeconds);
    return CLI::Validator(
        [range](std::string& text) -> std::string {
            const size_t point = text.find('.');
            const std::string whole = text.substr(0, point);
            const std::string fraction =
                point == std::string::npos ? std::string() : text.substr(point + 1);
            const bool plain = !text.empty() &&
                               whole.find_first_not_of("0123456789") == std::string::npos &&
                               fraction.find_first_not_of("0123456789") == std::string::npos &&
                               (!whole.empty() || !fraction.empty());
            if (plain) {
                const double value = std::strtod(text.c_str(), nullptr);
                if (value > 0 && value <= static_cast<double>(kMaxDurationSeconds)) {
                    return std::string();
                }
            }
            return "the duration must be a number of seconds " + range + ", not \"" + text + "\"";
        },
        range);
}

// The command of `app` named `word`, or null.
CLI::App* FindCommand(CLI::App& app, const std::string& word) {
    const std::vector<CLI::App*> known = app.get_subcommands([](CLI::App*) { return true; });
    const auto found = std::find_if(known.begin(), known.end(), [&word](CLI::App* command) {
        return command->check_name(word);
    });
    return found == known.end() ? nullptr : *found;
}

// The names of `app`'s commands.
std::vector<std::string> CommandNames(CLI::App& app) {
    std::vector<std::string> names;
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        names.push_back(command->get_name());
    }
    return names;
}

// " (did you mean \"list\"?)" for a word close to one of `names`; empty otherwise.
std::string DidYouMean(const std::string& word, const std::vector<std::string>& names) {
    const std::string closest = suggestion::Closest(word, names);
    return closest.empty() ? std::string() : " (did you mean \"" + closest + "\"?)";
}

// An option `command` does not have, with the one meant; empty when every option is its own.
std::string UnknownOption(CLI::App* command, int first, int argc, const char* const* argv) {
    std::vector<std::string> names;
    for (const CLI::Option* option : command->get_options()) {
        for (const std::string& name : option->get_lnames()) {
            names.push_back("--" + name);
        }
    }
    for (int i = first; i < argc; ++i) {
        const std::string arg = argv[i];
        if (arg == "--") {
            break;
        }
        const std::string name = arg.substr(0, arg.find('='));
        if (name.size() > 2 && name.rfind("--", 0) == 0 &&
            std::find(names.begin(), names.end(), name) == names.end()) {
            return "unknown option \"" + name + "\" for " + command->get_name() +
                   DidYouMean(name, names);
        }
    }
    return std::string();
}

// Help shows what an argument takes as a person reads it ("1 to 65535", "mu or a"), not the
// parser's type names ("UINT:1 to 65535").
void ReadableHelp(CLI::App& app) {
    for (CLI::App* command : app.get_subcommands([](CLI::App*) { return true; })) {
        ReadableHelp(*command);
    }
    for (CLI::Option* option : app.get_options([](CLI::Option*) { return true; })) {
        const std::string type = option->get_type_name();
        const size_t colon = type.find(':');
        if (colon != std::string::npos) {
            option->option_text(type.substr(colon + 1) +
                                (option->get_required() ? " REQUIRED" : ""));
        }
    }
}

// The usage error of a group ("zone") given no command or one it does not have; empty when
// the error lies elsewhere.
std::string GroupUsage(CLI::App& app, int argc, const char* const* argv) {
    const std::string group = argv[1];
    CLI::App* commands = FindCommand(app, group);
    if (commands == nullptr || commands->get_require_subcommand_min() == 0) {
        return std::string();
    }
    const std::string help = "; sonvex-cli " + group + " --help lists them";
    if (argc < 3) {
        return "a " + group + " command is required" + help;
    }
    const std::string word = argv[2];
    if (FindCommand(*commands, word) == nullptr && !word.empty() && word[0] != '-') {
        return "unknown " + group + " command \"" + word + "\"" +
               DidYouMean(word, CommandNames(*commands)) + help;
    }
    CLI::App* command = FindCommand(*commands, word);
    return command != nullptr ? UnknownOption(command, 3, argc, argv) : std::string();
}

// One line for a usage error, as every other message: the parser's own texts name its
// internals ("A subcommand is required") or span two lines.
std::string UsageMessage(const CLI::ParseError& error, CLI::App& app, int argc,
                         const char* const* argv) {
    if (argc < 2) {
        return "a command is required; sonvex-cli --help lists them";
    }
    const std::string word = argv[1];
    if (FindCommand(app, word) == nullptr && !word.empty() && word[0] != '-') {
        return "unknown command \"" + word + "\"" + DidYouMean(word, CommandNames(app)) +
               "; sonvex-cli --help lists the commands";
    }
    const std::string group = GroupUsage(app, argc, argv);
    if (!group.empty()) {
        return group;
    }
    CLI::App* command = FindCommand(app, word);
    if (command != nullptr && command->get_require_subcommand_min() == 0) {
        const std::string option = UnknownOption(command, 2, argc, argv);
        if (!option.empty()) {
            return option;
        }
    }
    // "schedule add Bells Mon..Fri 08:00": the shell split the time.
    if (dynamic_cast<const CLI::ExtrasError*>(&error) != nullptr && word == "schedule" &&
        argc > 2 && std::string(argv[2]) == "add") {
        return "the time is one argument: put it in quotes, as in sonvex-cli schedule add "
               "Bells \"Mon..Fri 08:00\"";
    }
    std::string text = error.what();
    // A validator's message comes as "name: message"; the message names the argument.
    const size_t colon = text.find(": ");
    if (error.get_name() == "ValidationError" && colon != std::string::npos) {
        text.erase(0, colon + 2);
    }
    for (char& c : text) {
        if (c == '\n' || c == '\r') {
            c = ' ';
        }
    }
    return text;
}

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->fallthrough(false);
    return command;
}

void AddName(CLI::App* command, CliOptions& options) {
    command->add_option("name", options.name, "Playlist name")->required();
}

// A group of commands ("zone create"), one of which must follow.
CLI::App* AddGroup(CLI::App& app, const char* name, const char* description) {
    CLI::App* group = AddCommand(app, name, description);
    group->require_subcommand(1, 1);
    return group;
}

// The 1-based number of a list entry, as `lister` prints it.
void AddIndex(CLI::App* command, CliOptions& options, const std::string& what,
              const std::string& lister = "show") {
    command
        ->add_option("index", options.index,
                     "The " + what + "'s number, as " + lister + " prints it")
        ->required()
        ->check(Decimal("the " + what + "'s number", 1, INT32_MAX));
}

// A dotted IPv4 address: one that is not is a command line that cannot be used, like a port
// out of range, in the words the desktop uses.
CLI::Validator Address() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            return destinationcheck::ParseAddress(text).has_value()
                       ? std::string()
                       : text + ": " + destinationcheck::kAddressRule;
        },
        "");
}

// A destination's address, port, TTL and interface, as add-dest and zone add-dest take them.
void AddDestinationArguments(CLI::App* command, CliOptions& options) {
    command->add_option("address", options.address, "IPv4 address, or a multicast group")
        ->required()
        ->check(Address());
    command->add_option("port", options.port, "UDP port")
        ->required()
        ->check(Decimal("the port", destinationcheck::kMinPort, destinationcheck::kMaxPort));
    command
        ->add_option("--ttl", options.ttl,
                     "Time to live of the packets to a multicast group (default 1)")
        ->check(Decimal("the TTL", destinationcheck::kMinTtl, destinationcheck::kMaxTtl));
    command->add_option("--iface", options.interfaceName,
                        "Interface the packets to a multicast group leave by");
    command
        ->add_option("--mode", options.mode,
                     "rtp (default); spa: start and stop packets to --control around the RTP; "
                     "polycom: Polycom group paging on --channel")
        ->check(OneOf("the mode", {"rtp", "spa", "polycom"}));
    command->add_option("--control", options.control,
                        "The SPA control address as ADDR:PORT (with --mode spa)");
    command
        ->add_option("--channel", options.channel,
                     "Polycom channel, 1-50: 26-50 are paging groups 1-25 (default 26)")
        ->check(Decimal("the channel", 1, 50));
    command->add_option("--caller", options.caller,
                        "Polycom caller ID, at most 13 characters (default Sonvex)");
    command
        ->add_option("--serial", options.serial,
                     "Polycom sender serial; the lower wins a collision (default: the host id)")
        ->check(Decimal("the serial", 0, UINT32_MAX));
    command->add_flag("--follow-priority", options.followPriority,
                      "Polycom, under serve: emergencies on the emergency channel (25 or 50), "
                      "announcements and pages on the priority channel (24 or 49)");
}

void AddJson(CLI::App* command, CliOptions& options) {
    command->add_flag("--json", options.json, "Print JSON for scripts instead of text");
}

// list, show, create, delete.
void AddPlaylistCommands(CLI::App& app, CliOptions& options, CommandMap& commands) {
    CLI::App* list = AddCommand(app, "list", "List the playlists");
    AddJson(list, options);
    commands[list] = CliCommand::List;

    CLI::App* show = AddCommand(
        app, "show",
        "Print a playlist's files with their settings and validity, and its destinations");
    AddName(show, options);
    AddJson(show, options);
    commands[show] = CliCommand::Show;

    CLI::App* create = AddCommand(app, "create", "Create an empty playlist");
    AddName(create, options);
    commands[create] = CliCommand::Create;

    CLI::App* remove = AddCommand(app, "delete", "Delete a playlist");
    AddName(remove, options);
    commands[remove] = CliCommand::Delete;
}

// add-file, remove-file, add-dest, remove-dest. `law` receives add-file's --law and must
// outlive the parse.
void AddEntryCommands(CLI::App& app, CliOptions& options, CommandMap& commands, std::string& law) {
    CLI::App* addFile =
        AddCommand(app, "add-file", "Add MP3 or WAV files to the end of a playlist");
    AddName(addFile, options);
    addFile->add_option("path", options.paths, "Audio files")->required();
    addFile->add_option("--law", law, "Codec of the output: mu (default), a or g722")
        ->check(OneOf("the law", {"mu", "a", "g722"}));
    addFile
        ->add_option("--ptime", options.packetization,
                     "Packetization time in ms: 20 (default), 40, 80 or 160")
        ->check(OneOf("the packetization time", {"20", "40", "80", "160"}));
    commands[addFile] = CliCommand::AddFile;

    CLI::App* removeFile = AddCommand(app, "remove-file", "Remove a file from a playlist");
    AddName(removeFile, options);
    AddIndex(removeFile, options, "file");
    commands[removeFile] = CliCommand::RemoveFile;

    CLI::App* addDest = AddCommand(app, "add-dest", "Add an RTP destination to a playlist");
    AddName(addDest, options);
    AddDestinationArguments(addDest, options);
    commands[addDest] = CliCommand::AddDest;

    CLI::App* removeDest = AddCommand(app, "remove-dest", "Remove a destination from a playlist");
    AddName(removeDest, options);
    AddIndex(removeDest, options, "destination");
    commands[removeDest] = CliCommand::RemoveDest;
}

// stream, page, convert, probe; returns page. `law` receives page's --law and convert's
// --codec and must outlive the parse.
CLI::App* AddRunCommands(CLI::App& app, CliOptions& options, CommandMap& commands,
                         std::string& law) {
    CLI::App* stream = AddCommand(app, "stream", "Stream a playlist to its destinations");
    AddName(stream, options);
    stream->add_flag("--loop", options.loop, "Start the list over after its last file");
    stream->add_option("--volume", options.volumeDb, "Gain in dB, -9 to 9 (default 0)")
        ->check(Decimal("the volume", -9, 9));
    stream->add_option("--duration", options.durationSeconds, "Stop after this many seconds")
        ->check(Seconds());
    AddJson(stream, options);
    commands[stream] = CliCommand::Stream;

    CLI::App* page =
        AddCommand(app, "page", "Page live from a microphone to a playlist's destinations");
    AddName(page, options);
    page->add_option("--device", options.device, "ALSA capture device (default: default)");
    page->add_option("--law", law, "Codec: mu (default), a or g722")
        ->check(OneOf("the law", {"mu", "a", "g722"}));
    page->add_option("--ptime", options.packetization,
                     "Packetization time in ms: 20 (default), 40, 80 or 160")
        ->check(OneOf("the packetization time", {"20", "40", "80", "160"}));
    page->add_option("--duration", options.durationSeconds, "Stop after this many seconds")
        ->check(Seconds());
    AddJson(page, options);
    commands[page] = CliCommand::Page;

    CLI::App* convert = AddCommand(
        app, "convert", "Convert audio files into mono WAV files: mu-law at 8000 Hz, or G.722");
    convert->add_option("input", options.paths, "Audio files")->required();
    convert->add_option("--codec", law, "mu (default: mu-law, 8000 Hz) or g722 (16 kHz, 64 kbit/s)")
        ->check(OneOf("the codec", {"mu", "g722"}));
    convert
        ->add_option("-o,--output-dir", options.outputDir,
                     "Folder for the converted files (default: each input's own folder)")
        ->check(CLI::ExistingDirectory);
    convert->add_flag("--overwrite", options.overwrite, "Replace converted files that exist");
    commands[convert] = CliCommand::Convert;

    CLI::App* probe = AddCommand(app, "probe", "Describe audio files, or say why they are refused");
    probe->add_option("file", options.paths, "Audio files")->required();
    AddJson(probe, options);
    commands[probe] = CliCommand::Probe;
    return page;
}

// sdp, set.
void AddSettingCommands(CLI::App& app, CliOptions& options, CommandMap& commands) {
    CLI::App* sdp = AddCommand(app, "sdp", "Write one SDP file per destination of a playlist");
    AddName(sdp, options);
    sdp->add_option("-o,--output-dir", options.outputDir,
                    "Folder for the SDP files (default: the current folder)")
        ->check(CLI::ExistingDirectory);
    commands[sdp] = CliCommand::Sdp;

    CLI::App* set = AddCommand(
        app, "set", "Change a playlist's announcement, report, priority and ducking settings");
    AddName(set, options);
    set->add_option("--sap", options.sap,
                    "SAP announcements while streaming: on (multicast groups), all (also "
                    "unicast destinations, to their host) or off")
        ->check(CLI::IsMember({"on", "all", "off"}));
    set->add_option("--rtcp", options.rtcp,
                    "RTCP sender reports, source description and BYE: on or off")
        ->check(CLI::IsMember({"on", "off"}));
    set->add_option("--priority", options.priority,
                    "Priority among the sources of a server: 0 to 100, higher wins; emergency "
                    "(100) overrides everything; default follows the role")
        ->check(Priority());
    set->add_option("--role", options.role,
                    "background (default priority 10) or announcement (default priority 50)")
        ->check(OneOf("the role", {"background", "announcement"}));
    set->add_option("--interrupted", options.interrupted,
                    "While a source of higher priority plays: duck (play on, lowered) or mute")
        ->check(OneOf("the interrupted mode", {"duck", "mute"}));
    set->add_option("--duck-db", options.duckDb, "Gain while ducked in dB, -60 to 0 (default -15)")
        ->check(Decimal("the ducking level", kMinDuckDb, 0));
    commands[set] = CliCommand::Set;
}

// zone create, add-dest, remove-dest, delete, list.
void AddZoneCommands(CLI::App& app, CliOptions& options, CommandMap& commands) {
    CLI::App* zone =
        AddGroup(app, "zone", "Named sets of destinations that scheduled events play to");
    const auto addZone = [&options](CLI::App* command) {
        command->add_option("zone", options.zone, "Zone name")->required();
    };
    CLI::App* create = AddCommand(*zone, "create", "Create an empty zone");
    addZone(create);
    commands[create] = CliCommand::ZoneCreate;

    CLI::App* addDest = AddCommand(*zone, "add-dest", "Add an RTP destination to a zone");
    addZone(addDest);
    AddDestinationArguments(addDest, options);
    commands[addDest] = CliCommand::ZoneAddDest;

    CLI::App* removeDest = AddCommand(*zone, "remove-dest", "Remove a destination from a zone");
    addZone(removeDest);
    AddIndex(removeDest, options, "destination", "zone list");
    commands[removeDest] = CliCommand::ZoneRemoveDest;

    CLI::App* remove = AddCommand(*zone, "delete", "Delete a zone");
    addZone(remove);
    commands[remove] = CliCommand::ZoneDelete;

    CLI::App* list = AddCommand(
        *zone, "list", "List the zones with their destinations, and last All: every destination");
    AddJson(list, options);
    commands[list] = CliCommand::ZoneList;
}

// schedule add, list, remove.
void AddScheduleCommands(CLI::App& app, CliOptions& options, CommandMap& commands) {
    CLI::App* schedule = AddGroup(app, "schedule", "Events that play a playlist at set times");
    CLI::App* add = AddCommand(*schedule, "add", "Play a playlist at the times of WHEN");
    add->add_option("playlist", options.name, "Playlist name")->required();
    add->add_option("when", options.when,
                    "When it plays, one argument in quotes: \"Mon..Fri 08:00\", \"*-*-* "
                    "12:30\", \"2027-01-04 07:55\", hourly, daily ...")
        ->required();
    add->add_option("--zone", options.zone,
                    "Play to this zone (or All) instead of the playlist's own destinations");
    add->add_option("--until", options.until,
                    "Stop the run at the first time of this expression after its start");
    add->add_flag("--catch-up", options.catchUp,
                  "Play a time missed while the server was down when it starts");
    add->add_option("--say", options.say,
                    "Say this text to the playlist's destinations instead of its files");
    add->add_option("--voice", options.voice, "The voice of --say (default en)");
    commands[add] = CliCommand::ScheduleAdd;

    CLI::App* list =
        AddCommand(*schedule, "list", "List the events with their next times, in local time");
    AddJson(list, options);
    list->add_option("--count", options.count, "How many next times to show (default 3)")
        ->check(Decimal("the count", 1, 100));
    commands[list] = CliCommand::ScheduleList;

    CLI::App* remove = AddCommand(*schedule, "remove", "Remove an event");
    remove->add_option("id", options.id, "The event's number, as schedule list prints it")
        ->required()
        ->check(Decimal("the event's number", 1, UINT32_MAX));
    commands[remove] = CliCommand::ScheduleRemove;
}

// A priority: a whole number 0-100, or the word "emergency" (100).
CLI::Validator PriorityWord() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            if (text == "emergency") {
                text = "100";
                return std::string();
            }
            long long value = 0;
            if (IsPlainInteger(text, false) &&
                std::from_chars(text.data(), text.data() + text.size(), value).ec == std::errc() &&
                value <= 100) {
                return std::string();
            }
            return "the priority must be a whole number from 0 to 100 or emergency, not \"" + text +
                   "\"";
        },
        "0 to 100 or emergency");
}

// An HTTP listening address: a dotted IPv4 address and a port.
CLI::Validator HttpAddress() {
    return CLI::Validator(
        [](std::string& text) -> std::string {
            const size_t colon = text.rfind(':');
            const std::string port = colon == std::string::npos ? "" : text.substr(colon + 1);
            if (colon != std::string::npos &&
                destinationcheck::ParseAddress(text.substr(0, colon)).has_value() &&
                IsDecimalIn(port, 1, 65535)) {
                return std::string();
            }
            return "the HTTP address must be an IPv4 address and a port (127.0.0.1:8787), not \"" +
                   text + "\"";
        },
        "ADDR:PORT");
}

// http-token and announce.
void AddHttpCommands(CLI::App& app, CliOptions& options, CommandMap& commands) {
    CLI::App* token =
        AddCommand(app, "http-token",
                   "Make a new token for the HTTP API, print it once and keep only its hash");
    commands[token] = CliCommand::HttpToken;

    CLI::App* announce =
        AddCommand(app, "announce", "Ask the running server to say a text as an announcement");
    announce->add_option("text", options.text, "What is said, one argument in quotes")->required();
    announce->add_option("--to", options.name, "To this playlist's destinations");
    announce->add_option("--zone", options.zones, "To this zone (repeatable; All: everywhere)");
    announce
        ->add_option("--priority", options.announcePriority,
                     "0 to 100 or emergency (default: the playlist's, or 50)")
        ->check(PriorityWord());
    announce->add_option("--voice", options.voice, "The voice, as espeak-ng names it (default en)");
    AddJson(announce, options);
    commands[announce] = CliCommand::Announce;
}

// serve, play, stop, status; page's options for a server. `page` is the page command.
void AddServerCommands(CLI::App& app, CliOptions& options, CommandMap& commands, CLI::App* page) {
    CLI::App* serve = AddCommand(
        app, "serve",
        "Run the paging server: every playlist, page and schedule of the store in one engine");
    serve
        ->add_option("--ptime", options.packetization,
                     "Packet time in ms of every destination: 20 (default), 40, 80 or 160")
        ->check(OneOf("the packetization time", {"20", "40", "80", "160"}));
    serve
        ->add_option("--http", options.http,
                     "Serve the HTTP API and web console at ADDR:PORT (default 127.0.0.1:8787)")
        ->expected(0, 1)
        ->check(HttpAddress());
    serve
        ->add_option("--rtcp", options.rtcp,
                     "RTCP sender reports, source description and BYE to every destination: "
                     "on or off (default)")
        ->check(CLI::IsMember({"on", "off"}));
    serve
        ->add_option("--sap", options.sap,
                     "SAP announcements of every destination's stream: on (multicast groups), "
                     "all (also unicast destinations, to their host) or off (default)")
        ->check(CLI::IsMember({"on", "all", "off"}));
    serve->add_option("--audio-dir", options.audioDirs,
                      "A folder the HTTP API may add files from (repeatable)");
    serve->add_option("--tls-cert", options.tlsCert,
                      "HTTPS: the certificate file (PEM), with --tls-key");
    serve->add_option("--tls-key", options.tlsKey, "HTTPS: the private key file (PEM)");
    AddJson(serve, options);
    commands[serve] = CliCommand::Serve;

    CLI::App* play = AddCommand(app, "play", "Ask the running server to play a playlist");
    AddName(play, options);
    play->add_option("--zone", options.zones,
                     "To this zone instead of the playlist's destinations (repeatable; All: "
                     "every destination)");
    play->add_option("--volume", options.volumeDb, "Gain in dB, -9 to 9 (default 0)")
        ->check(Decimal("the volume", -9, 9));
    AddJson(play, options);
    commands[play] = CliCommand::Play;

    CLI::App* stop = AddCommand(app, "stop", "Ask the running server to stop a playlist");
    AddName(stop, options);
    commands[stop] = CliCommand::Stop;

    CLI::App* status = AddCommand(
        app, "status", "What the running server plays where, destination by destination");
    AddJson(status, options);
    commands[status] = CliCommand::Status;

    page->add_option("--zone", options.zones,
                     "Through a server: to this zone instead of the playlist's destinations");
    page->add_option("--priority", options.pagePriority,
                     "Through a server: 0 to 100 or emergency (default 70)")
        ->check(PriorityWord());
}

}  // namespace

CommandTree::CommandTree(CliOptions& options)
    : app("Manages Sonvex playlists, streams them and converts audio files without a "
          "display. Playlists are shared with the desktop program.",
          kProgram) {
    app.set_version_flag("--version", std::string(kProgram) + " " + sonvex::kVersion,
                         "Print the program's name and version and exit");
    app.require_subcommand(1, 1);
    AddPlaylistCommands(app, options, commands);
    AddEntryCommands(app, options, commands, law);
    CLI::App* page = AddRunCommands(app, options, commands, law);
    AddSettingCommands(app, options, commands);
    AddServerCommands(app, options, commands, page);
    AddHttpCommands(app, options, commands);
    AddZoneCommands(app, options, commands);
    AddScheduleCommands(app, options, commands);
    // For the shells' completion scripts; not shown in the help.
    CLI::App* complete = AddCommand(app, "complete", "");
    complete->group("");
    complete->add_option("words", options.paths, "The words typed so far, the last one partly");
    commands[complete] = CliCommand::Complete;
    ReadableHelp(app);
}

int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                     std::ostream& err) {
    CommandTree tree(options);
    CLI::App& app = tree.app;
    const CommandMap& commands = tree.commands;
    const std::string& law = tree.law;
    // CLI11 reports through exceptions; they end here, inside the parser.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        if (error.get_exit_code() == 0) {
            return app.exit(error, out, err);  // help or the version
        }
        err << kProgram << ": " << UsageMessage(error, app, argc, argv) << '\n' << std::flush;
        return kUsageError;
    }
    CLI::App* chosen = app.get_subcommands().front();
    if (!chosen->get_subcommands().empty()) {
        chosen = chosen->get_subcommands().front();  // a group's command
    }
    options.command = commands.at(chosen);
    const auto given = [chosen](const char* name) {
        const CLI::Option* option = chosen->get_option_no_throw(name);
        return option != nullptr && option->count() > 0;
    };
    options.ttlGiven = given("--ttl");
    options.duckDbGiven = given("--duck-db");
    if (given("--http") && options.http.empty()) {
        options.http = "127.0.0.1:8787";
    }
    options.polycomGiven =
        given("--channel") || given("--caller") || given("--serial") || given("--follow-priority");
    options.format = FindOutputCodecByWord(law)->format;  // the check let only its words in
    return kRunCommand;
}
