#include "cli/cliapp.h"

#include "clicommands.h"

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
        case CliCommand::Convert:
            return clicommands::Convert(options, console);
        case CliCommand::Probe:
            return clicommands::Probe(options, console);
        case CliCommand::Sdp:
            return clicommands::Sdp(options, console);
        case CliCommand::Set:
            return clicommands::Set(options, console);
    }
    return clicommands::kFailure;
}

int RunCli(int argc, const char* const* argv, CliConsole& console) {
    CliOptions options;
    const int status = ParseCommandLine(argc, argv, options, console.out, console.err);
    if (status != kRunCommand) {
        return status;
    }
    return RunCommand(options, console);
}
