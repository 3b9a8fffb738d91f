#include "cli/cliapp.h"

#include <ostream>
#include <vector>

#include "clicommands.h"

namespace {

bool UsesStore(CliCommand command) {
    return command != CliCommand::Convert && command != CliCommand::Probe;
}

// A damaged store is moved aside and an empty one takes its place; every playlist seems
// gone. Said once, before the command's own words (a service would otherwise stream
// nothing with no reason given): a message, and an event for a JSON reader of a stream.
void AnnounceSetAsideStore(const CliOptions& options, CliConsole& console) {
    std::string aside;
    while (PlaylistStore::TakeSetAsideFile(aside)) {
        clicommands::Fail(console, "the playlist store was damaged; it was set aside as " + aside +
                                       " and an empty store took its place");
        if (options.json &&
            (options.command == CliCommand::Stream || options.command == CliCommand::Page)) {
            console.out
                << nlohmann::ordered_json{{"event", "store-set-aside"}, {"file", aside}}.dump(
                       -1, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n'
                << std::flush;
        }
    }
}

// Reads the store once before the command: a damaged one is set aside and announced, and
// one that cannot be read at all (a folder in its place) fails here rather than looking
// empty.
bool CheckStore(const CliOptions& options, CliConsole& console) {
    PlaylistStore store;
    std::vector<std::string> names;
    const bool listed = store.ListPlaylists(names);
    AnnounceSetAsideStore(options, console);
    if (!listed && store.LastFailure() != StoreFailure::None) {
        clicommands::Fail(console, PlaylistStore::FailureText(store.LastFailure()));
        return false;
    }
    return true;
}

}  // namespace

int RunCommand(const CliOptions& options, CliConsole& console) {
    switch (options.command) {
        case CliCommand::List:
            return clicommands::List(options, console);
        case CliCommand::Show:
            return clicommands::Show(options, console);
        case CliCommand::Create:
            return clicommands::Create(options, console);
        case CliCommand::Delete:
            return clicommands::Delete(options, console);
        case CliCommand::AddFile:
            return clicommands::AddFile(options, console);
        case CliCommand::RemoveFile:
            return clicommands::RemoveFile(options, console);
        case CliCommand::AddDest:
            return clicommands::AddDest(options, console);
        case CliCommand::RemoveDest:
            return clicommands::RemoveDest(options, console);
        case CliCommand::Stream:
            return clicommands::Stream(options, console);
        case CliCommand::Page:
            return clicommands::Page(options, console);
        case CliCommand::Convert:
            return clicommands::Convert(options, console);
        case CliCommand::Probe:
            return clicommands::Probe(options, console);
        case CliCommand::Sdp:
            return clicommands::Sdp(options, console);
        case CliCommand::Set:
            return clicommands::Set(options, console);
        case CliCommand::Serve:
            return clicommands::Serve(options, console);
        case CliCommand::Play:
            return clicommands::Play(options, console);
        case CliCommand::Stop:
            return clicommands::StopPlaying(options, console);
        case CliCommand::Status:
            return clicommands::Status(options, console);
        case CliCommand::Announce:
            return clicommands::Announce(options, console);
        case CliCommand::HttpToken:
            return clicommands::HttpToken(options, console);
        case CliCommand::ZoneCreate:
            return clicommands::ZoneCreate(options, console);
        case CliCommand::ZoneAddDest:
            return clicommands::ZoneAddDest(options, console);
        case CliCommand::ZoneRemoveDest:
            return clicommands::ZoneRemoveDest(options, console);
        case CliCommand::ZoneDelete:
            return clicommands::ZoneDelete(options, console);
        case CliCommand::ZoneList:
            return clicommands::ZoneList(options, console);
        case CliCommand::ScheduleAdd:
            return clicommands::ScheduleAdd(options, console);
        case CliCommand::ScheduleList:
            return clicommands::ScheduleList(options, console);
        case CliCommand::ScheduleRemove:
            return clicommands::ScheduleRemove(options, console);
    }
    return clicommands::kFailure;
}

int RunCli(int argc, const char* const* argv, CliConsole& console) {
    CliOptions options;
    const int status = ParseCommandLine(argc, argv, options, console.out, console.err);
    if (status != kRunCommand) {
        return status;
    }
    if (UsesStore(options.command) && !CheckStore(options, console)) {
        return clicommands::kFailure;
    }
    const int result = RunCommand(options, console);
    if (UsesStore(options.command)) {
        AnnounceSetAsideStore(options, console);  // damaged while the command ran
    }
    return result;
}
