#include "playlist/playliststore.h"

#include <cstdint>
#include <filesystem>
#include <system_error>

#include "platform/registry.h"
#include "storetree.h"

namespace {

using platform::RegistryError;
using platform::RegistryHive;
using platform::RegistryKey;
using platform::RegistryRoot;
using platform::RegistryTransaction;

using storetree::FailureFrom;
using storetree::kBuf;
using storetree::ReadCount;
using storetree::SetNumber;
using storetree::ToInt32;

std::string PlaylistPath(const std::string& name) {
    return std::string(PlaylistStore::kBasePath) + "\\" + name;
}

// The playlist's own key: the parent of its Files key.
std::string PlaylistKeyPath(const std::string& filesKeyPath) {
    const size_t slash = filesKeyPath.rfind('\\');
    return slash == std::string::npos ? filesKeyPath : filesKeyPath.substr(0, slash);
}

// Moves every playlist of the machine-wide tree into the current user's. Each playlist is
// copied in one transaction and deleted from the machine-wide tree only once the copy is
// committed; the legacy base key goes when every playlist has moved. A playlist whose name
// already exists for the current user stays where it is: merging two trees would leave a
// mixture of both.
void MoveLegacyPlaylists() {
    const RegistryHive machine(RegistryRoot::MachineWide, RegistryHive::Mode::OpenExisting);
    std::vector<std::string> names;
    {
        RegistryKey legacy;
        if (!machine.OpenKey(PlaylistStore::kBasePath, legacy)) {
            return;
        }
        char name[kBuf];
        for (uint32_t i = 0; legacy.EnumKey(i, name, sizeof name); ++i) {
            names.emplace_back(name);
        }
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    bool allMoved = true;
    for (const std::string& name : names) {
        RegistryKey legacy;
        if (!user.IsOpen() || !machine.OpenKey(PlaylistStore::kBasePath, legacy)) {
            allMoved = false;
            continue;
        }
        RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
        RegistryKey existing;
        RegistryKey target;
        const bool copied = transaction.IsActive() && !user.OpenKey(PlaylistPath(name), existing) &&
                            user.CreateKey(PlaylistPath(name), target) &&
                            legacy.CopyTree(name, target);
        target.Close();
        if (!copied || !transaction.Commit() || !machine.DeleteTree(PlaylistPath(name))) {
            allMoved = false;
        }
    }
    if (allMoved) {
        machine.DeleteTree(PlaylistStore::kBasePath);
    }
}

// The file list under the files key; an entry whose key is missing stays empty.
void ReadFiles(const RegistryHive& user, const std::string& keyPath, Playlist& playlist) {
    RegistryKey files;
    if (!user.OpenKey(keyPath, files)) {
        return;
    }
    char text[kBuf];
    const size_t count = ReadCount(files, "FileCount");
    playlist.Files.reserve(count);
    for (size_t i = 1; i <= count; ++i) {
        PlaylistFile file;
        RegistryKey entry;
        if (files.OpenSubKey("File" + std::to_string(i), entry)) {
            entry.QueryString("Name", file.Name, sizeof file.Name);
            entry.QueryString("SrcPath", file.Source.path, sizeof file.Source.path);
            if (entry.QueryString("DstSampleRate", text, sizeof text)) {
                file.DstSampleRate = ToInt32(text);
            }
            if (entry.QueryString("DstFormat", text, sizeof text)) {
                file.DstFormat = ToInt32(text);
            }
            if (entry.QueryString("DstPacketization", text, sizeof text)) {
                file.DstPacketization = ToInt32(text);
            }
        }
        playlist.AppendFile(file);
    }
}

// A setting of whole numbers from `low` to `high`; anything else (missing, garbage, out of
// range) keeps the default already in `value`.
void ReadRanged(const RegistryKey& key, const char* name, int32_t low, int32_t high,
                int32_t& value) {
    char text[kBuf];
    int32_t read = 0;
    if (key.QueryString(name, text, sizeof text) && storetree::ParseExact(text, read) &&
        read >= low && read <= high) {
        value = read;
    }
}

// The playlist's own settings; a value out of range reads as the default.
void ReadSettings(const RegistryHive& user, const std::string& keyPath, Playlist& playlist) {
    RegistryKey settings;
    if (!user.OpenKey(keyPath, settings)) {
        return;
    }
    char text[kBuf];
    if (settings.QueryString("SapAnnounce", text, sizeof text)) {
        const int32_t mode = ToInt32(text);
        playlist.SapAnnounce = mode >= kSapOff && mode <= kSapAll ? mode : kSapOff;
    }
    if (settings.QueryString("RtcpReports", text, sizeof text)) {
        playlist.RtcpReports = ToInt32(text) == 1 ? 1 : 0;
    }
    ReadRanged(settings, "Priority", 0, kPriorityEmergency, playlist.Priority);
    ReadRanged(settings, "Role", kRoleBackground, kRoleAnnouncement, playlist.Role);
    ReadRanged(settings, "Interrupted", kInterruptedDuck, kInterruptedMute, playlist.Interrupted);
    ReadRanged(settings, "DuckDb", kMinDuckDb, 0, playlist.DuckDb);
}

}  // namespace

PlaylistStore::PlaylistStore() {
    MoveLegacyPlaylists();
}

bool PlaylistStore::ListPlaylists(std::vector<std::string>& names) {
    m_failure = StoreFailure::None;
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen() && user.LastError() != RegistryError::None) {
        return Fail(FailureFrom(user.LastError()));
    }
    RegistryKey base;
    if (!user.OpenKey(kBasePath, base)) {
        return false;
    }
    char name[kBuf];
    for (uint32_t i = 0; base.EnumKey(i, name, sizeof name); ++i) {
        names.emplace_back(name);
    }
    return true;
}

bool PlaylistStore::IsValidName(const std::string& name) {
    return !name.empty() && name.size() <= kMaxNameBytes && name.find('\\') == std::string::npos &&
           name.find('\0') == std::string::npos;
}

std::string PlaylistStore::NameProblem(const std::string& name, const std::string& what) {
    if (name.empty()) {
        return "Please enter a name for the " + what + ".";
    }
    // A backslash separates the store's key names: the name would point into another key.
    if (name.find('\\') != std::string::npos) {
        return "A " + what + " name cannot contain a backslash (\\).";
    }
    if (name.size() > kMaxNameBytes) {
        return "The " + what + " name is too long: at most " + std::to_string(kMaxNameBytes) +
               " bytes are allowed.";
    }
    if (!IsValidName(name)) {
        return "A " + what + " name cannot contain a NUL character.";
    }
    // A line break would split the name in every list and file name it appears in; a tab or
    // another control character cannot be seen or typed back.
    for (size_t i = 0; i < name.size(); ++i) {
        const auto byte = static_cast<unsigned char>(name[i]);
        const bool c1 = byte == 0xC2 && i + 1 < name.size() &&
                        static_cast<unsigned char>(name[i + 1]) >= 0x80 &&
                        static_cast<unsigned char>(name[i + 1]) <= 0x9F;  // UTF-8 U+0080-U+009F
        if (byte < 0x20 || byte == 0x7F || c1) {
            return "A " + what +
                   " name cannot contain a line break, a tab or another control character.";
        }
    }
    if (name.find_first_not_of(' ') == std::string::npos) {
        return "Please enter a name for the " + what + ".";
    }
    // "Lobby " would list beside "Lobby" and look the same.
    if (name.front() == ' ' || name.back() == ' ') {
        return "A " + what + " name cannot begin or end with a blank.";
    }
    return std::string();
}

std::string PlaylistStore::FailureText(StoreFailure failure) {
    std::error_code error;
    switch (failure) {
        case StoreFailure::ReadOnly:
            return "the playlist store " + FilePath() + " is read-only";
        case StoreFailure::Full:
            return "the disk is full";
        case StoreFailure::Busy:
            return "another program is holding the playlist store";
        case StoreFailure::BadName:
            return "the name cannot be used";
        case StoreFailure::NoPlaylist:
            return "no playlist is open";
        default:
            if (std::filesystem::is_directory(FilePath(), error)) {
                return "the playlist store " + FilePath() + " is a folder, not a file";
            }
            return "the playlist store " + FilePath() + " cannot be read or written";
    }
}

std::string PlaylistStore::FilePath() {
    return platform::RegistryFilePath(RegistryRoot::CurrentUser);
}

bool PlaylistStore::TakeSetAsideFile(std::string& path) {
    return platform::TakeSetAsideFile(path);
}

bool PlaylistStore::Fail(StoreFailure failure) {
    m_failure = failure;
    return false;
}

bool PlaylistStore::Exists(const std::string& name) {
    if (!IsValidName(name)) {
        return false;
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    RegistryKey key;
    return user.OpenKey(PlaylistPath(name), key);
}

bool PlaylistStore::Create(const std::string& name) {
    m_failure = StoreFailure::None;
    if (!NameProblem(name).empty()) {
        return Fail(StoreFailure::BadName);
    }
    const std::string path = PlaylistPath(name);
    {
        const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
        RegistryKey key;
        if (!user.CreateKey(path, key)) {
            return Fail(FailureFrom(user.LastError()));
        }
    }
    m_filesKeyPath = path + "\\Files";
    m_rtpKeyPath = path + "\\RTP";
    return true;
}

bool PlaylistStore::CreateWith(const std::string& name, const Playlist& playlist) {
    m_failure = StoreFailure::None;
    if (!NameProblem(name).empty()) {
        return Fail(StoreFailure::BadName);
    }
    const std::string filesPath = m_filesKeyPath;
    const std::string rtpPath = m_rtpKeyPath;
    m_filesKeyPath = PlaylistPath(name) + "\\Files";
    m_rtpKeyPath = PlaylistPath(name) + "\\RTP";
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    RegistryKey key;
    if (transaction.IsActive() && user.CreateKey(PlaylistPath(name), key) &&
        WriteTree(user, playlist) && transaction.Commit()) {
        return true;
    }
    m_filesKeyPath = filesPath;
    m_rtpKeyPath = rtpPath;
    return Fail(FailureFrom(user.LastError()));
}

bool PlaylistStore::PointAt(const std::string& name) {
    if (!IsValidName(name)) {
        return false;
    }
    {
        const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
        RegistryKey base;
        if (!user.OpenKey(kBasePath, base)) {
            return false;
        }
    }
    const std::string path = PlaylistPath(name);
    m_filesKeyPath = path + "\\Files";
    m_rtpKeyPath = path + "\\RTP";
    return true;
}

bool PlaylistStore::Open(const std::string& name, Playlist& playlist) {
    m_failure = StoreFailure::None;
    const std::string filesPath = m_filesKeyPath;
    const std::string rtpPath = m_rtpKeyPath;
    if (!PointAt(name)) {
        return false;
    }
    if (Load(playlist)) {
        return true;
    }
    // The cursor stays on the playlist that was open: a later save cannot write it elsewhere.
    m_filesKeyPath = filesPath;
    m_rtpKeyPath = rtpPath;
    return false;
}

bool PlaylistStore::Delete(const std::string& name) {
    m_failure = StoreFailure::None;
    if (!IsValidName(name)) {
        return Fail(StoreFailure::BadName);
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen()) {
        // No file: nothing to delete. A file that cannot be opened keeps the playlist.
        return user.LastError() == RegistryError::None || Fail(FailureFrom(user.LastError()));
    }
    if (user.DeleteTree(PlaylistPath(name))) {
        return true;
    }
    RegistryKey still;
    return !user.OpenKey(PlaylistPath(name), still) || Fail(FailureFrom(user.LastError()));
}

bool PlaylistStore::SavePlaylist(const Playlist& playlist) {
    m_failure = StoreFailure::None;
    // Without a created or opened playlist the paths would name the root's own keys.
    if (m_filesKeyPath.empty() || m_rtpKeyPath.empty()) {
        return Fail(StoreFailure::NoPlaylist);
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    if (!WriteAll(user, playlist)) {
        return Fail(FailureFrom(user.LastError()));
    }
    return true;
}

bool PlaylistStore::Update(const std::function<bool(Playlist&)>& edit) {
    m_failure = StoreFailure::None;
    if (m_filesKeyPath.empty() || m_rtpKeyPath.empty()) {
        return Fail(StoreFailure::NoPlaylist);
    }
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    if (!transaction.IsActive()) {
        return Fail(FailureFrom(user.LastError()));
    }
    Playlist playlist;
    ReadAll(user, playlist);
    if (!edit(playlist)) {
        return false;  // rolled back: nothing was written
    }
    if (!WriteTree(user, playlist) || !transaction.Commit()) {
        return Fail(FailureFrom(user.LastError()));
    }
    return true;
}

bool PlaylistStore::WriteAll(const platform::RegistryHive& user, const Playlist& playlist) {
    RegistryTransaction transaction(user, RegistryTransaction::Kind::Write);
    return transaction.IsActive() && WriteTree(user, playlist) && transaction.Commit();
}

bool PlaylistStore::WriteTree(const platform::RegistryHive& user, const Playlist& playlist) {
    // Any failed write abandons the whole save: the stored playlist stays the old one.
    user.DeleteTree(m_filesKeyPath);  // absent is fine
    RegistryKey files;
    if (!user.CreateKey(m_filesKeyPath, files)) {
        return false;
    }
    int index = 1;
    for (const PlaylistFile& file : playlist.Files) {
        RegistryKey entry;
        if (!files.CreateSubKey("File" + std::to_string(index++), entry) ||
            !entry.SetString("Name", file.Name) || !entry.SetString("SrcPath", file.Source.path) ||
            !entry.SetString("DstPath", "none") ||
            !SetNumber(entry, "DstSampleRate", file.DstSampleRate) ||
            !SetNumber(entry, "DstFormat", file.DstFormat) ||
            !SetNumber(entry, "DstPacketization", file.DstPacketization)) {
            return false;
        }
    }
    if (!SetNumber(files, "FileCount", static_cast<long long>(playlist.Files.size()))) {
        return false;
    }
    files.Close();

    if (!storetree::WriteDestinations(user, m_rtpKeyPath, playlist.Destinations)) {
        return false;
    }
    RegistryKey settings;
    return user.CreateKey(PlaylistKeyPath(FilesKeyPath()), settings) &&
           SetNumber(settings, "SapAnnounce", playlist.SapAnnounce) &&
           SetNumber(settings, "RtcpReports", playlist.RtcpReports) &&
           SetNumber(settings, "Priority", playlist.Priority) &&
           SetNumber(settings, "Role", playlist.Role) &&
           SetNumber(settings, "Interrupted", playlist.Interrupted) &&
           SetNumber(settings, "DuckDb", playlist.DuckDb);
}

bool PlaylistStore::Load(Playlist& playlist) {
    m_failure = StoreFailure::None;
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    if (!user.IsOpen() && user.LastError() != RegistryError::None) {
        return Fail(FailureFrom(user.LastError()));
    }
    Playlist loaded;
    if (user.IsOpen() && !m_filesKeyPath.empty() && !m_rtpKeyPath.empty()) {
        // One snapshot for both lists, so a save by another process is seen whole or not
        // at all.
        RegistryTransaction snapshot(user, RegistryTransaction::Kind::Read);
        if (!snapshot.IsActive()) {
            return Fail(FailureFrom(user.LastError()));
        }
        ReadAll(user, loaded);
    }
    playlist = std::move(loaded);
    return true;
}

void PlaylistStore::ReadAll(const platform::RegistryHive& user, Playlist& playlist) const {
    ReadFiles(user, m_filesKeyPath, playlist);
    ReadSettings(user, PlaylistKeyPath(FilesKeyPath()), playlist);
    storetree::ReadDestinations(user, m_rtpKeyPath, playlist.Destinations);
}

bool PlaylistStore::ReadSetting(const std::string& name, std::string& value) {
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::OpenExisting);
    RegistryKey base;
    char text[kBuf];
    if (!user.OpenKey(kBasePath, base) || !base.QueryString(name, text, sizeof text)) {
        return false;
    }
    value = text;
    return true;
}

bool PlaylistStore::WriteSetting(const std::string& name, const std::string& value) {
    const RegistryHive user(RegistryRoot::CurrentUser, RegistryHive::Mode::CreateIfMissing);
    RegistryKey base;
    return user.CreateKey(kBasePath, base) && base.SetString(name, value);
}
