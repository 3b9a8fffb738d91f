#include "cli/commandline.h"

#include <CLI/CLI.hpp>
#include <map>
#include <ostream>
#include <string>

#include "playlist/destinationcheck.h"
#include "sonvex/buildconfig.h"

namespace {

constexpr char kProgram[] = "sonvex-cli";
constexpr int32_t kMuLawTag = 7;
constexpr int32_t kALawTag = 6;

CLI::App* AddCommand(CLI::App& app, const char* name, const char* description) {
    CLI::App* command = app.add_subcommand(name, description);
    command->fallthrough(false);
    return command;
}

void AddName(CLI::App* command, CliOptions& options) {
    command->add_option("name", options.name, "Playlist name")->required();
}

// The 1-based number of a list entry, as show prints it.
void AddIndex(CLI::App* command, CliOptions& options, const std::string& what) {
    command->add_option("index", options.index, "The " + what + "'s number, as show prints it")
        ->required()
        ->check(CLI::PositiveNumber);
}

void AddJson(CLI::App* command, CliOptions& options) {
    command->add_flag("--json", options.json, "Print JSON for scripts instead of text");
}

}  // namespace

int ParseCommandLine(int argc, const char* const* argv, CliOptions& options, std::ostream& out,
                     std::ostream& err) {
    CLI::App app(
        "Manages Sonvex playlists, streams them and converts audio files without a "
        "display. Playlists are shared with the desktop program.",
        kProgram);
    app.set_version_flag("--version", std::string(kProgram) + " " + sonvex::kVersion,
                         "Print the program's name and version and exit");
    app.require_subcommand(1, 1);
    std::map<CLI::App*, CliCommand> commands;

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

    CLI::App* addFile =
        AddCommand(app, "add-file", "Add MP3 or WAV files to the end of a playlist");
    AddName(addFile, options);
    addFile->add_option("path", options.paths, "Audio files")->required();
    std::string law = "mu";
    addFile->add_option("--law", law, "G.711 law of the output: mu (default) or a")
        ->check(CLI::IsMember({"mu", "a"}));
    addFile
        ->add_option("--ptime", options.packetization,
                     "Packetization time in ms: 20 (default), 40, 80 or 160")
        ->check(CLI::IsMember({20, 40, 80, 160}));
    commands[addFile] = CliCommand::AddFile;

    CLI::App* removeFile = AddCommand(app, "remove-file", "Remove a file from a playlist");
    AddName(removeFile, options);
    AddIndex(removeFile, options, "file");
    commands[removeFile] = CliCommand::RemoveFile;

    CLI::App* addDest = AddCommand(app, "add-dest", "Add an RTP destination to a playlist");
    AddName(addDest, options);
    addDest->add_option("address", options.address, "IPv4 address, or a multicast group")
        ->required();
    addDest->add_option("port", options.port, "UDP port")
        ->required()
        ->check(CLI::Range(static_cast<int>(destinationcheck::kMinPort),
                           static_cast<int>(destinationcheck::kMaxPort)));
    addDest
        ->add_option("--ttl", options.ttl,
                     "Time to live of the packets to a multicast group (default 1)")
        ->check(CLI::Range(static_cast<int>(destinationcheck::kMinTtl),
                           static_cast<int>(destinationcheck::kMaxTtl)));
    addDest->add_option("--iface", options.interfaceName,
                        "Interface the packets to a multicast group leave by");
    commands[addDest] = CliCommand::AddDest;

    CLI::App* removeDest = AddCommand(app, "remove-dest", "Remove a destination from a playlist");
    AddName(removeDest, options);
    AddIndex(removeDest, options, "destination");
    commands[removeDest] = CliCommand::RemoveDest;

    CLI::App* stream = AddCommand(app, "stream", "Stream a playlist to its destinations");
    AddName(stream, options);
    stream->add_flag("--loop", options.loop, "Start the list over after its last file");
    stream->add_option("--volume", options.volumeDb, "Gain in dB, -9 to 9 (default 0)")
        ->check(CLI::Range(-9, 9));
    stream->add_option("--duration", options.durationSeconds, "Stop after this many seconds")
        ->check(CLI::PositiveNumber);
    AddJson(stream, options);
    commands[stream] = CliCommand::Stream;

    CLI::App* convert =
        AddCommand(app, "convert", "Convert audio files into mu-law, 8000 Hz, mono WAV files");
    convert->add_option("input", options.paths, "Audio files")->required();
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

    CLI::App* sdp = AddCommand(app, "sdp", "Write one SDP file per destination of a playlist");
    AddName(sdp, options);
    sdp->add_option("-o,--output-dir", options.outputDir,
                    "Folder for the SDP files (default: the current folder)")
        ->check(CLI::ExistingDirectory);
    commands[sdp] = CliCommand::Sdp;

    CLI::App* set = AddCommand(app, "set", "Change a playlist's announcement and report settings");
    AddName(set, options);
    set->add_option("--sap", options.sap,
                    "SAP announcements while streaming: on (multicast groups), all (also "
                    "unicast destinations, to their host) or off")
        ->check(CLI::IsMember({"on", "all", "off"}));
    set->add_option("--rtcp", options.rtcp,
                    "RTCP sender reports, source description and BYE: on or off")
        ->check(CLI::IsMember({"on", "off"}));
    commands[set] = CliCommand::Set;

    // CLI11 reports through exceptions; they end here, inside the parser.
    try {
        app.parse(argc, argv);
    } catch (const CLI::ParseError& error) {
        const int status = app.exit(error, out, err);
        return status == 0 ? 0 : kUsageError;
    }
    CLI::App* chosen = app.get_subcommands().front();
    options.command = commands.at(chosen);
    options.ttlGiven = addDest->count("--ttl") > 0;
    options.format = law == "a" ? kALawTag : kMuLawTag;
    return kRunCommand;
}
