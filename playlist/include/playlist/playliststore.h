#pragma once
// Playlists persisted in the current user's registry tree, one key per playlist with "Files"
// and "RTP" subtrees, all values text. Keeps no key open between calls; every save is one
// transaction. Constructing a store moves playlists found in the machine-wide tree into the
// current user's. UI thread only.

#include <string>
#include <vector>

#include "playlist/playlist.h"

class PlaylistStore {
public:
    static constexpr const char* kBasePath = "Software\\Quarnel Technologies\\Sonvex";
    // A stored count above this is believed only as far as the entries exist.
    static constexpr long kMaxTrustedCount = 100000;

    PlaylistStore();  // moves legacy playlists
    virtual ~PlaylistStore() = default;

    // Appends the playlist names in enumeration order; false (names untouched) when the
    // base key does not exist.
    bool ListPlaylists(std::vector<std::string>& names);
    // Creates (or opens) the playlist's key and points the paths at it.
    void Create(const std::string& name);
    // Points the paths at the playlist; false when the base key does not exist.
    bool Open(const std::string& name);
    // Deletes the playlist with everything under it; an empty name deletes nothing.
    void Delete(const std::string& name);
    // Writes the whole playlist at the current paths, atomically.
    void Save(const Playlist& playlist) { SavePlaylist(playlist); }
    // The same, true when the new playlist is stored; false leaves the old one whole
    // (no paths set, database busy past its time-out, disk full).
    bool SavePlaylist(const Playlist& playlist);
    // Replaces the playlist with what is stored at the current paths.
    void Load(Playlist& playlist);

    std::string FilesKeyPath;
    std::string RtpKeyPath;
};
