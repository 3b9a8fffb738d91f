#include "document/playlistdocument.h"

#include <mutex>
#include <utility>

namespace {

std::string Quoted(const std::string& name) {
    return "\"" + name + "\"";
}

}  // namespace

void PlaylistDocument::Reports::PostStatus(const StreamingStatus& status) {
    if (m_observer != nullptr) {
        m_observer->OnStreamingStatus(status);
    }
}

PlaylistDocument::PlaylistDocument(DocumentObserver* observer)
    : m_observer(observer), m_reports(observer) {}

PlaylistDocument::~PlaylistDocument() {
    m_session.Shutdown();
}

std::string PlaylistDocument::NameProblem(const std::string& name) {
    return PlaylistStore::NameProblem(name);
}

bool PlaylistDocument::IsValidName(const std::string& name) {
    return PlaylistStore::IsValidName(name);
}

std::string PlaylistDocument::FailureText(StoreFailure failure) {
    return PlaylistStore::FailureText(failure);
}

bool PlaylistDocument::TakeSetAsideNotice(std::string& text) {
    std::string aside;
    if (!PlaylistStore::TakeSetAsideFile(aside)) {
        return false;
    }
    text = "The playlist store was damaged. It was set aside as " + aside +
           " and an empty store took its place.";
    return true;
}

bool PlaylistDocument::StoredPlaylists(std::vector<std::string>& names) {
    PlaylistStore store;
    return store.ListPlaylists(names);
}

bool PlaylistDocument::StoredPlaylist(const std::string& name, Playlist& playlist) {
    PlaylistStore store;
    return store.Open(name, playlist);
}

bool PlaylistDocument::ReadSetting(const std::string& name, std::string& value) {
    return m_store.ReadSetting(name, value);
}

bool PlaylistDocument::WriteSetting(const std::string& name, const std::string& value) {
    return m_store.WriteSetting(name, value);
}

void PlaylistDocument::SetName(const std::string& name) {
    m_name = name;
    if (m_observer != nullptr) {
        m_observer->OnNameChanged(m_name);
    }
}

void PlaylistDocument::ReportStoreFailure(const std::string& what, const std::string& consequence) {
    std::string text = what + ": " + FailureText(m_store.LastFailure()) + '.';
    if (!consequence.empty()) {
        text += '\n' + consequence;
    }
    if (m_observer != nullptr) {
        m_observer->OnStoreFailure(text);
    }
}

bool PlaylistDocument::Create(const std::string& name) {
    if (!m_store.Create(name)) {
        ReportStoreFailure("The playlist " + Quoted(name) + " could not be created");
        return false;
    }
    SetName(name);
    m_playlist.Clear();
    return true;
}

bool PlaylistDocument::CreateStored(const std::string& name) {
    const Playlist empty;
    if (!m_store.CreateWith(name, empty)) {
        return false;
    }
    SetName(name);
    m_playlist.Clear();
    return true;
}

bool PlaylistDocument::New(const std::string& name) {
    // Replacing loses the stored files and destinations: the caller has asked the operator.
    if (m_store.Exists(name) && !m_store.Delete(name)) {
        ReportStoreFailure("The playlist " + Quoted(name) + " could not be replaced");
        return false;
    }
    return Create(name);
}

bool PlaylistDocument::Open(const std::string& name) {
    if (name.empty()) {
        // Nothing was stored to choose from: no playlist is open afterwards.
        Close();
        return true;
    }
    Playlist loaded;
    if (!m_store.Open(name, loaded)) {
        // The store still points at the playlist in memory, so the next edit cannot save a
        // mismatched playlist. No store at all is not worth a word.
        if (m_store.LastFailure() != StoreFailure::None) {
            ReportStoreFailure("The playlist " + Quoted(name) + " could not be opened");
        }
        return false;
    }
    SetName(name);
    m_playlist = std::move(loaded);
    return true;
}

bool PlaylistDocument::Delete(const std::string& name) {
    // An empty name (nothing was stored to choose) deletes nothing, without a word.
    if (!m_store.Delete(name) && !name.empty()) {
        ReportStoreFailure("The playlist " + Quoted(name) + " could not be deleted");
        return false;
    }
    if (name == m_name) {
        // The entries go with the name: nothing may be saved under it again by accident.
        Close();
    }
    return true;
}

void PlaylistDocument::Close() {
    SetName(std::string());
    m_playlist.Clear();
}

void PlaylistDocument::RememberPlaylist() {
    std::string stored;
    if (!m_store.ReadSetting(kLastPlaylistSetting, stored)) {
        stored.clear();
    }
    // A store that cannot take it forgets it; the playlists themselves are not affected.
    if (stored != m_name) {
        m_store.WriteSetting(kLastPlaylistSetting, m_name);
    }
}

bool PlaylistDocument::LastPlaylist(std::string& name) {
    return m_store.ReadSetting(kLastPlaylistSetting, name) && m_store.Exists(name);
}

bool PlaylistDocument::Save() {
    if (m_store.SavePlaylist(m_playlist)) {
        return true;
    }
    ReportStoreFailure("The playlist " + Quoted(m_name) + " could not be saved",
                       "The change is shown here but is not stored.");
    return false;
}

bool PlaylistDocument::SetSettings(const Playlist& settings) {
    m_playlist.SapAnnounce = settings.SapAnnounce;
    m_playlist.RtcpReports = settings.RtcpReports;
    m_playlist.Priority = settings.Priority;
    m_playlist.Role = settings.Role;
    m_playlist.Interrupted = settings.Interrupted;
    m_playlist.DuckDb = settings.DuckDb;
    return Save();
}

bool PlaylistDocument::Edit(const std::function<bool(Playlist&)>& edit) {
    if (!m_store.Update(edit)) {
        return false;
    }
    Reload();
    return true;
}

bool PlaylistDocument::Reload() {
    Playlist loaded;
    if (!m_store.Load(loaded)) {
        return false;
    }
    // Reloads run only while no worker reads the playlist.
    m_playlist = std::move(loaded);
    return true;
}

ProbeReport PlaylistDocument::ProbeFileAt(size_t index) {
    if (index >= m_playlist.FileCount()) {
        return {};
    }
    PlaylistFile copy = m_playlist.FileAt(index);
    ProbeReport report = ProbeEntry(copy);
    if (report.valid) {
        // The worker may be copying entries out of Files right now.
        const std::lock_guard lock(m_session.EntryLock());
        m_playlist.FileAt(index) = copy;
    }
    return report;
}

std::vector<ProbeReport> PlaylistDocument::ProbeAll() {
    std::vector<ProbeReport> reports;
    reports.reserve(m_playlist.FileCount());
    for (PlaylistFile& entry : m_playlist.Files) {
        PlaylistFile copy = entry;
        reports.push_back(ProbeEntry(copy));
        if (reports.back().valid) {
            entry = copy;
            entry.Valid = 1;
        }
    }
    return reports;
}

std::vector<ProbeReport> PlaylistDocument::AddFiles(const std::vector<PlaylistFile>& candidates) {
    std::vector<ProbeReport> reports;
    bool added = false;
    for (const PlaylistFile& candidate : candidates) {
        PlaylistFile entry = candidate;
        reports.push_back(ProbeEntry(entry));
        if (reports.back().valid) {
            entry.Valid = 1;
            m_playlist.AppendFile(entry);
            added = true;
        }
    }
    if (added) {
        Save();
    }
    return reports;
}

bool PlaylistDocument::RemoveFile(size_t index) {
    if (index >= m_playlist.FileCount()) {
        return false;
    }
    m_playlist.EraseFile(index);
    Save();
    return true;
}

bool PlaylistDocument::MoveFile(size_t index, bool down) {
    const size_t count = m_playlist.FileCount();
    if (index >= count || (down ? index + 1 >= count : index == 0)) {
        return false;
    }
    if (down) {
        m_playlist.MoveFileDown(static_cast<int>(index));
    } else {
        m_playlist.MoveFileUp(static_cast<int>(index));
    }
    Save();
    // What the store holds is what is shown, also when another program changed it.
    Reload();
    return true;
}

bool PlaylistDocument::MoveFileDown(size_t index) {
    return MoveFile(index, true);
}

bool PlaylistDocument::MoveFileUp(size_t index) {
    return MoveFile(index, false);
}

bool PlaylistDocument::AddDestination(const RtpDestination& destination) {
    m_playlist.AppendDestination(destination);
    Save();
    return true;
}

bool PlaylistDocument::ReplaceDestination(size_t index, const RtpDestination& destination) {
    if (index >= m_playlist.Destinations.size()) {
        return false;
    }
    m_playlist.Destinations[index] = destination;
    Save();
    return true;
}

bool PlaylistDocument::RemoveDestination(size_t index) {
    if (index >= m_playlist.Destinations.size()) {
        return false;
    }
    m_playlist.EraseDestination(index);
    Save();
    return true;
}
