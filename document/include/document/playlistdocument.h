#pragma once
// The open playlist as every front end works on it: its name, the store it lives in, the
// probing of its files, the rule that every edit saves the whole playlist at once (and says
// so when it cannot), the transcoding engine and the streaming session that plays it. The
// desktop view and the command line each hold one; neither talks to the store, the engine or
// the session directly.
//
// Threads: everything here runs on the owner's thread except the session's worker, which
// reads the playlist's entries and reports through the observer's OnStreamingStatus. While
// it runs the owner may only read, write back a probed entry (ProbeFileAt does so under the
// session's entry lock), stop the run and change the volume and loop mode.

#include <functional>
#include <string>
#include <vector>

#include "document/documentobserver.h"
#include "document/probereport.h"
#include "engine/streamingsession.h"
#include "engine/winsonvex.h"
#include "playlist/playlist.h"
#include "playlist/playliststore.h"

class PlaylistDocument {
public:
    static constexpr int kSenderCount = WinSonvex::kSenderCount;
    // The value of the store's base key that names the playlist open at the last quit.
    static constexpr const char* kLastPlaylistSetting = "LastPlaylist";

    // The observer must outlive the document; null hears nothing.
    explicit PlaylistDocument(DocumentObserver* observer = nullptr);
    PlaylistDocument(const PlaylistDocument&) = delete;
    PlaylistDocument& operator=(const PlaylistDocument&) = delete;
    ~PlaylistDocument();  // Shutdown(): the worker goes before the playlist and engine

    // ---- the store -----------------------------------------------------------------------
    // Why the store refuses a name, in the words every program shows; empty when it takes it.
    static std::string NameProblem(const std::string& name);
    // Whether a stored playlist may carry the name (looser than a new name's rules, so that
    // names stored before those tightened can still be opened and deleted).
    static bool IsValidName(const std::string& name);
    // What a failure means ("the disk is full").
    static std::string FailureText(StoreFailure failure);
    // What the operator is told about a damaged store that was set aside, once per move;
    // false when none is left untold.
    static bool TakeSetAsideNotice(std::string& text);
    bool ListPlaylists(std::vector<std::string>& names) { return m_store.ListPlaylists(names); }
    // The same through a store that lives only for the listing (its construction also moves
    // legacy playlists), for those that hold no document.
    static bool StoredPlaylists(std::vector<std::string>& names);
    // A stored playlist read the same way, without opening it; false when it cannot be read.
    static bool StoredPlaylist(const std::string& name, Playlist& playlist);
    bool Exists(const std::string& name) { return m_store.Exists(name); }
    // Why the latest store operation failed.
    StoreFailure LastFailure() const { return m_store.LastFailure(); }
    bool ReadSetting(const std::string& name, std::string& value);
    bool WriteSetting(const std::string& name, const std::string& value);

    // ---- the open playlist ---------------------------------------------------------------
    const Playlist& CurrentPlaylist() const { return m_playlist; }
    const std::string& Name() const { return m_name; }
    bool IsOpen() const { return !m_name.empty(); }
    // Creates (or opens) the stored playlist and makes an empty playlist of that name the
    // open one; nothing is saved until the first edit. False, reported, when the store
    // cannot.
    bool Create(const std::string& name);
    // Stores an empty playlist of that name whole, in one transaction, and makes it the open
    // one; false (nothing stored, not reported: LastFailure says why) when the store cannot.
    bool CreateStored(const std::string& name);
    // Create, after deleting a stored playlist of that name; false, reported, when either
    // fails (the open playlist stays).
    bool New(const std::string& name);
    // Opens and loads a stored playlist; an empty name leaves none open. False when there
    // is no store or it cannot be read (reported): the open playlist stays as it was.
    bool Open(const std::string& name);
    // Deletes a stored playlist; the open one closes when its name is the same, byte for
    // byte. An empty name deletes nothing and succeeds. False, reported, when the store
    // cannot delete it.
    bool Delete(const std::string& name);
    // No playlist open: the name empty, the playlist cleared.
    void Close();
    // Records the open playlist's name for the next start; a store that cannot take it
    // forgets it.
    void RememberPlaylist();
    // The playlist open at the last quit, while it is still stored.
    bool LastPlaylist(std::string& name);
    // Writes the whole playlist; false, reported, when it is not stored.
    bool Save();
    // Changes the stored playlist in one transaction of the store (another program's save
    // cannot come in between) and then holds the result. False when `edit` refuses (nothing
    // written, LastFailure None) or the store cannot; no report.
    bool Edit(const std::function<bool(Playlist&)>& edit);
    // Sets the playlist's settings beside its lists, copied from `settings` (whose files and
    // destinations are not used): whether runs announce it (SAP) and send sender reports
    // (RTCP), and how they share destinations with a server's other sources (Priority, Role,
    // Interrupted, DuckDb). Saves once; false, reported, when the store cannot.
    bool SetSettings(const Playlist& settings);
    // Replaces the playlist with the stored one; false (playlist kept) when unreadable.
    bool Reload();

    // ---- files ---------------------------------------------------------------------------
    // Probes the entry at `index` and writes the probed copy back (its Valid flag kept) when
    // it opens; safe while streaming.
    ProbeReport ProbeFileAt(size_t index);
    // Probes every entry in order; each that opens is written back with Valid 1, the others
    // keep Valid 0. Not while streaming.
    std::vector<ProbeReport> ProbeAll();
    // Probes each candidate in order and appends those that open (Valid 1); saves once when
    // any was added. One report per candidate.
    std::vector<ProbeReport> AddFiles(const std::vector<PlaylistFile>& candidates);
    // Each erases, saves; out-of-range indexes change nothing and return false.
    bool RemoveFile(size_t index);
    // Swap the entry with its neighbour, save, and reload the playlist from the store.
    bool MoveFileDown(size_t index);
    bool MoveFileUp(size_t index);

    // ---- destinations --------------------------------------------------------------------
    bool AddDestination(const RtpDestination& destination);
    bool ReplaceDestination(size_t index, const RtpDestination& destination);
    bool RemoveDestination(size_t index);

    // ---- streaming -----------------------------------------------------------------------
    // Starts a run over the files, named after the open playlist in what it announces;
    // false when there are none or a worker is not collected.
    bool Start() { return m_session.SetSessionName(m_name) && m_session.Start(); }
    // Any thread: the run winds down; its last report is StreamingEnded.
    void Stop() { m_session.Stop(); }
    // Collects a worker that reported its end.
    void Wait() { m_session.Wait(); }
    void Shutdown() { m_session.Shutdown(); }
    bool IsStreaming() const { return m_session.IsStreaming(); }
    // A live page (streamingsession.h): over the running list, or alone.
    using PageRequest = StreamingSession::PageRequest;
    bool RequestPage(const PageRequest& request) { return m_session.RequestPage(request); }
    // Any thread, a signal handler too.
    void EndPage() { m_session.EndPage(); }
    bool IsPaging() const { return m_session.IsPaging(); }
    bool IsPageActive() const { return m_session.IsPageActive(); }
    const std::string& PageFailure() const { return m_session.PageFailure(); }
    float PageLevel() const { return m_session.PageLevel(); }
    PageLatency::Summary PageLatencySummary() const { return m_session.PageLatencySummary(); }
    bool IsRunning() const { return m_session.IsRunning(); }
    void SetLoopMode(bool on) { m_session.SetLoopMode(on); }
    bool LoopMode() const { return m_session.LoopMode(); }
    // The engine's gain, 10^(dB / 20), from the next packet on; also while streaming.
    void SetVolumeDb(int dB) { m_engine.SetVolumeDb(dB); }
    double Gain() const { return m_engine.Gain(); }
    // The clock of the next runs (tests drive it); false while a worker exists.
    bool SetTickSource(TickSource& ticks) { return m_session.SetTickSource(ticks); }

private:
    // Hands the worker's reports to the observer.
    class Reports : public StatusPoster {
    public:
        explicit Reports(DocumentObserver* observer) : m_observer(observer) {}
        void PostStatus(const StreamingStatus& status) override;

    private:
        DocumentObserver* m_observer;
    };

    void SetName(const std::string& name);
    bool MoveFile(size_t index, bool down);
    // "<what>: <reason>." for the store's latest failure, and what follows from it.
    void ReportStoreFailure(const std::string& what, const std::string& consequence = {});

    DocumentObserver* m_observer;
    WinSonvex m_engine;
    Playlist m_playlist;
    PlaylistStore m_store;
    std::string m_name;
    Reports m_reports;
    // Declared last: it goes first, joining its worker before the playlist and engine go.
    StreamingSession m_session{m_playlist, m_engine, m_reports};
};
