#pragma once
// sonvex-cli as a library: the program's main is RunCli with the process's streams, and
// tests run commands in-process against a temporary store the same way.

#include <iosfwd>

#include "cli/commandline.h"

struct CliConsole {
    std::ostream& out;
    std::ostream& err;
    // `out` is a terminal: status lines and progress bars redraw in place.
    bool terminal = false;
};

// Runs one parsed command; the program's exit status (0 success, 1 failure).
int RunCommand(const CliOptions& options, CliConsole& console);
// Parses and runs; the exit status.
int RunCli(int argc, const char* const* argv, CliConsole& console);
