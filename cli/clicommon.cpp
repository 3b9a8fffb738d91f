#include <cstdint>
#include <filesystem>
#include <ostream>
#include <system_error>

#include "clicommands.h"
#include "media/audiosourcefile.h"

namespace clicommands {
namespace {

// The reader's limit: its offsets are 32-bit, so a file of 2 GiB or more is refused.
constexpr uintmax_t kMaxAudioFileBytes = 0x7FFFFFFF;

}  // namespace

int Fail(CliConsole& console, const std::string& message) {
    console.err << "sonvex-cli: " << message << '\n' << std::flush;
    return kFailure;
}

bool PlaylistExists(PlaylistStore& store, const std::string& name, CliConsole& console) {
    // Names stored before the rules of new names tightened can still be reached.
    if (!PlaylistStore::IsValidName(name)) {
        Fail(console, PlaylistStore::NameProblem(name));
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
    // The reader refuses these without saying why; the reason is told here.
    std::error_code error;
    const std::filesystem::file_status status = std::filesystem::status(path, error);
    if (std::filesystem::is_directory(status)) {
        reason = "a folder, not an audio file";
        return false;
    }
    if (std::filesystem::exists(status) && !std::filesystem::is_regular_file(status)) {
        reason = "not a regular file";
        return false;
    }
    const uintmax_t size =
        std::filesystem::is_regular_file(status) ? std::filesystem::file_size(path, error) : 0;
    if (!error && size > kMaxAudioFileBytes) {
        reason = "2 GiB or more, larger than an audio file can be";
        return false;
    }
    AudioSourceFile file;
    if (file.Open(path.c_str(), info, description)) {
        file.Close();
        return true;
    }
    reason = file.RefusalReason().empty() ? "unsupported media type" : file.RefusalReason();
    return false;
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
