#include "cli/cliapp.h"

#include <ostream>
#include <utility>
#include <vector>

#include "clicommands.h"

namespace {

bool UsesStore(CliCommand command) {
    return command != CliCommand::Convert && command != CliCommand::Probe &&
           command != CliCommand::Complete;
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
    using Handler = int (*)(const CliOptions&, CliConsole&);
    static const std::pair<CliCommand, Handler> kHandlers[] = {
        {CliCommand::List, clicommands::List},
        {CliCommand::Show, clicommands::Show},
        {CliCommand::Create, clicommands::Create},
        {CliCommand::Delete, clicommands::Delete},
        {CliCommand::AddFile, clicommands::AddFile},
        {CliCommand::RemoveFile, clicommands::RemoveFile},
        {CliCommand::AddDest, clicommands::AddDest},
        {CliCommand::RemoveDest, clicommands::RemoveDest},
        {CliCommand::Stream, clicommands::Stream},
        {CliCommand::Page, clicommands::Page},
        {CliCommand::Convert, clicommands::Convert},
        {CliCommand::Probe, clicommands::Probe},
        {CliCommand::Sdp, clicommands::Sdp},
        {CliCommand::Set, clicommands::Set},
        {CliCommand::Serve, clicommands::Serve},
        {CliCommand::Play, clicommands::Play},
        {CliCommand::Stop, clicommands::StopPlaying},
        {CliCommand::Status, clicommands::Status},
        {CliCommand::Announce, clicommands::Announce},
        {CliCommand::HttpToken, clicommands::HttpToken},
        {CliCommand::Complete, clicommands::Complete},
        {CliCommand::ZoneCreate, clicommands::ZoneCreate},
        {CliCommand::ZoneAddDest, clicommands::ZoneAddDest},
        {CliCommand::ZoneRemoveDest, clicommands::ZoneRemoveDest},
        {CliCommand::ZoneDelete, clicommands::ZoneDelete},
        {CliCommand::ZoneList, clicommands::ZoneList},
        {CliCommand::ScheduleAdd, clicommands::ScheduleAdd},
        {CliCommand::ScheduleList, clicommands::ScheduleList},
        {CliCommand::ScheduleRemove, clicommands::ScheduleRemove},
    };
    for (const auto& [command, handler] : kHandlers) {
        if (command == options.command) {
            return handler(options, console);
        }
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
