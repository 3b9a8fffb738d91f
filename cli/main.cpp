#include <unistd.h>

#include <iostream>

#include "cli/cliapp.h"

int main(int argc, char** argv) {
    CliConsole console{std::cout, std::cerr, ::isatty(STDOUT_FILENO) == 1};
    return RunCli(argc, argv, console);
}
