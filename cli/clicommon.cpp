#include <filesystem>
#include <ostream>
#include <system_error>

#include "clicommands.h"
#include "media/sourceprobe.h"

namespace clicommands {

int Fail(CliConsole& console, const std::string& message) {
    console.err << "sonvex-cli: " << message << '\n' << std::flush;
    return kFailure;
}

bool PlaylistExists(PlaylistStore& store, const std::string& name, CliConsole& console) {
    const std::string problem = PlaylistStore::NameProblem(name);
    if (!problem.empty()) {
        Fail(console, problem);
        return false;
    }
    if (!store.Exists(name)) {
        Fail(console, "there is no playlist named \"" + name + "\"");
        return false;
    }
    return true;
}

bool OpenPlaylist(PlaylistStore& store, const std::string& name, Playlist& playlist,
                  CliConsole& console) {
    if (!PlaylistExists(store, name, console)) {
        return false;
    }
    if (!store.Open(name)) {
        Fail(console, "there is no playlist named \"" + name + "\"");
        return false;
    }
    if (!store.Load(playlist)) {
        Fail(console, "the playlist \"" + name + "\" could not be read: " +
                          PlaylistStore::FailureText(store.LastFailure()));
        return false;
    }
    return true;
}

bool ProbeFile(const char* givenPath, SourceFormatInfo& info, std::string& description,
               std::string& reason) {
    // The path may be the one inside `info`, which the probe refills.
    const std::string path = givenPath;
    std::error_code error;
    if (std::filesystem::is_directory(path, error)) {
        reason = "a folder, not an audio file";
        return false;
    }
    return ProbeSourceFile(path.c_str(), info, description, reason);
}

std::string DescriptionLines(const std::string& description) {
    std::string lines;
    size_t from = 0;
    for (;;) {
        const size_t at = description.find("\r\n\r\n", from);
        lines += description.substr(from, at == std::string::npos ? std::string::npos : at - from);
        lines += '\n';
        if (at == std::string::npos) {
            return lines;
        }
        from = at + 4;
    }
}

void PrintJson(CliConsole& console, const nlohmann::ordered_json& value) {
    // Names and paths are bytes; any that are not UTF-8 are shown with replacement marks
    // rather than failing the output.
    console.out << value.dump(2, ' ', false, nlohmann::ordered_json::error_handler_t::replace)
                << '\n';
}

}  // namespace clicommands
