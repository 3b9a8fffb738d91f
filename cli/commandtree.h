#pragma once
// The command line's commands with their arguments, options and checks, as the parser and
// the shells' completion both walk them. Private to the library.

#include <CLI/CLI.hpp>
#include <map>
#include <string>

#include "cli/commandline.h"

using CommandMap = std::map<CLI::App*, CliCommand>;

struct CommandTree {
    // The parse writes into `options`, which must outlive the tree.
    explicit CommandTree(CliOptions& options);
    CLI::App app;
    CommandMap commands;
    std::string law = "mu";  // add-file's and page's --law, convert's --codec
};
