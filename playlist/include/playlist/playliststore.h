#pragma once
// Playlists persisted in the current user's registry tree, one key per playlist with "Files"
// and "RTP" subtrees, all values text. Keeps no key open between calls; every save is one
// transaction. Constructing a store moves playlists found in the machine-wide tree into the
// current user's. UI thread only.

#include <cstddef>
#include <functional>
#include <string>
#include <vector>

#include "playlist/playlist.h"

namespace platform {
class RegistryHive;
}

// Why the latest operation of a store failed.
enum class StoreFailure {
    None,
    BadName,      // a name the store cannot address, or a new name NameProblem refuses
    NoPlaylist,   // nothing created or opened to save into
    ReadOnly,     // the store's file or folder cannot be written
    Full,         // the disk is full
    Busy,         // another program held the store past the busy time-out
    Unavailable,  // the store cannot be read or written for another reason
};

class PlaylistStore {
public:
    static constexpr const char* kBasePath = "Software\\Quarnel Technologies\\Sonvex";
    // A stored count above this is believed only as far as the entries exist.
    static constexpr long kMaxTrustedCount = 100000;
    static constexpr size_t kMaxNameBytes = 255;

    PlaylistStore();  // moves legacy playlists
    virtual ~PlaylistStore() = default;

    // A name the store can address: 1 to 255 bytes, no backslash (it would name a key
    // path). Playlists stored before the rules below can still be opened and deleted.
    static bool IsValidName(const std::string& name);
    // Why the store refuses a new name, in the words every program shows; empty when it
    // takes it. Beyond IsValidName: no control character, no blank at either end.
    static std::string NameProblem(const std::string& name) {
        return NameProblem(name, "playlist");
    }
    // The same rules for the name of another kind of key ("zone"), in words that name it.
    static std::string NameProblem(const std::string& name, const std::string& what);
    // What a failure means, in the words every program shows ("the disk is full").
    static std::string FailureText(StoreFailure failure);
    // The current user's store file, for messages.
    static std::string FilePath();
    // The file a damaged store was moved to, once per move; false when none is left untold.
    static bool TakeSetAsideFile(std::string& path);

    // Appends the playlist names in enumeration order; false (names untouched) when the
    // base key does not exist, or with LastFailure set when the store cannot be read.
    bool ListPlaylists(std::vector<std::string>& names);
    // Whether a playlist of that name (compared without case) is stored.
    bool Exists(const std::string& name);
    // Creates (or opens) the playlist's key and points the paths at it; false (paths
    // unchanged) when NameProblem refuses the name or the key cannot be created.
    bool Create(const std::string& name);
    // Create and SavePlaylist in one transaction: true when the playlist is stored; false
    // (a refused name, a full disk) stores nothing, not even the empty key, and leaves the
    // paths unchanged.
    bool CreateWith(const std::string& name, const Playlist& playlist);
    // Points the paths at the playlist and loads it (a name not stored loads empty); on false
    // the paths and the playlist are unchanged, and LastFailure says why (None: the base key
    // does not exist or the name is refused).
    bool Open(const std::string& name, Playlist& playlist);
    // Deletes the playlist with everything under it; true when it is gone (or never was),
    // false when the name is refused or the store cannot be written.
    bool Delete(const std::string& name);
    // Writes the whole playlist at the current paths, atomically.
    void Save(const Playlist& playlist) { SavePlaylist(playlist); }
    // The same, true when the new playlist is stored; false leaves the old one whole
    // (no paths set, database busy past its time-out, disk full, store read-only).
    bool SavePlaylist(const Playlist& playlist);
    // Reads the playlist stored at the current paths, lets `edit` change it and stores the
    // result, in one transaction: a save by another program cannot come in between and be
    // lost. False when `edit` refuses (nothing is written; LastFailure is None) or the store
    // cannot be read or written. Other programs wait for it, so `edit` should be quick.
    bool Update(const std::function<bool(Playlist&)>& edit);
    // Replaces the playlist with what is stored at the current paths; false (playlist
    // untouched) when the store cannot be read.
    bool Load(Playlist& playlist);
    // Values of the base key itself, beside the playlists: the program's own settings.
    // Reading false when missing; writing false when it could not be stored.
    bool ReadSetting(const std::string& name, std::string& value);
    bool WriteSetting(const std::string& name, const std::string& value);

    // Why the latest ListPlaylists, Create, Delete, SavePlaylist or Load failed.
    StoreFailure LastFailure() const { return m_failure; }

    // Where the open playlist's "Files" and "RTP" keys are, relative to the current user's
    // root; empty until a Create or Open succeeds. Delete does not change them.
    const std::string& FilesKeyPath() const { return m_filesKeyPath; }
    const std::string& RtpKeyPath() const { return m_rtpKeyPath; }

private:
    // Points the paths at the playlist; false when the name is refused or the base key does
    // not exist.
    bool PointAt(const std::string& name);
    bool Fail(StoreFailure failure);
    bool WriteAll(const platform::RegistryHive& user, const Playlist& playlist);
    // The writes of a save, inside the caller's transaction.
    bool WriteTree(const platform::RegistryHive& user, const Playlist& playlist);
    void ReadAll(const platform::RegistryHive& user, Playlist& playlist) const;
    StoreFailure m_failure = StoreFailure::None;
    std::string m_filesKeyPath;
    std::string m_rtpKeyPath;
};
