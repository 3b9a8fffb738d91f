#pragma once
// Shell commands as the receiver tests run them: a command's exit status, and a word quoted
// for the shell.

#include <sys/wait.h>

#include <cstdlib>
#include <string>

namespace testsupport {

// The command's exit status; -1 when it did not exit.
inline int Shell(const std::string& command) {
    const int status = std::system(command.c_str());
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

inline std::string Quoted(const std::string& text) {
    std::string quoted = "'";
    for (const char c : text) {
        quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return quoted + "'";
}

}  // namespace testsupport
