// stream: plays a playlist to its destinations until the list ends, a signal or the time
// given.

#include "clicommands.h"

namespace clicommands {

int Stream(const CliOptions& options, CliConsole& console) {
    (void)options;
    return Fail(console, "stream is not available yet");
}

}  // namespace clicommands
