#pragma once
// The main form: the open playlist's files and destinations, the selected file's details,
// and the progress of a streaming run. It owns the open playlist, its name, the playlist
// store, the transcoding engine and the state it shares with the streaming worker, and
// handles every playlist, destination, streaming and volume command.
//
// Threads: everything here runs on the UI thread except the worker started by Start, which
// reads the playlist and drives the engine, and reports through posted StreamingEvents.
// The view joins the worker before it goes away.

#include <QString>
#include <QWidget>
#include <cstdint>
#include <string>
#include <thread>

#include "engine/streamingworker.h"
#include "engine/winsonvex.h"
#include "playlist/playlist.h"
#include "playlist/playliststore.h"
#include "ui/commandtarget.h"
#include "ui/streamingevent.h"

class QLabel;
class QListWidget;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;

class CSonvexView : public QWidget, public cmd::CommandTarget {
    Q_OBJECT

public:
    explicit CSonvexView(QWidget* parent = nullptr);
    ~CSonvexView() override;

    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, cmd::CommandState& state) override;

    // Fits the frame around the form and shows "Sonvex - No playlist". Runs once, on the
    // first show at the latest.
    void OnInitialUpdate();
    // Stops a running worker and waits for it to return; afterwards no event of it is
    // pending. Safe to call at any time; the destructor and application quit call it.
    void ShutdownStreaming();

    // Stores the name as the current playlist name and sets the frame's title.
    void SetTitle(const QString& name);
    // Refreshes the two text panes from the selected file, writing the probed entry back.
    void ShowSelection();
    // Rebuilds the playlist from the store and the file list from it; selects row k.
    void ReloadFiles(int k);

    // Playlist commands.
    void OnNewPlaylist();
    void OnOpenPlaylist();
    void OnDeletePlaylist();
    void OnAddFile();
    void OnRemoveFile();
    void OnMoveDown();
    void OnMoveUp();
    // Destination, streaming and tool commands.
    void OnAddDestination();
    void OnRemoveDestination();
    void OnDestinationSelChange();
    void OnStartStreaming();
    void OnStop();
    void OnLoopMode();
    void OnVolume();
    void OnConvert();
    // The WM_STREAMING_STATUS handler; returns 0.
    long OnStreamingStatus(uintptr_t wParam, intptr_t lParam);

    // State, for the frame and for tests.
    const Playlist& CurrentPlaylist() const { return m_playlist; }
    const QString& PlaylistName() const { return m_strPlaylistName; }
    bool IsStreaming() const { return m_shared.m_bStreaming.load(std::memory_order_acquire); }
    bool IsWorkerRunning() const { return m_worker.joinable(); }
    bool LoopMode() const { return m_shared.m_bLoopMode.load(std::memory_order_relaxed); }
    bool FileSelected() const { return m_bFileSelected; }
    bool DestinationSelected() const { return m_bDestinationSelected; }
    int VolumeDb() const { return m_nVolumeDb; }
    int ElapsedSeconds() const { return m_nElapsedSeconds; }
    const QString& Description() const { return m_strDescription; }
    const QString& Settings() const { return m_strSettings; }
    QListWidget* FileList() const { return m_fileList; }
    QListWidget* DestinationList() const { return m_destinationList; }
    QProgressBar* Progress() const { return m_progress; }
    WinSonvex& Engine() { return m_engine; }

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    void BuildForm();
    // Members -> controls (the list rows are changed directly by the handlers).
    void UpdateData();
    // The frame's status-bar message pane.
    void SetStatusText(const QString& text);
    // Empties both lists (their signals held) and both text panes, drops both selections and
    // shows the result.
    void ClearForm();
    // The playlist the user picks in the playlist dialog under `caption`; false when cancelled.
    bool ChoosePlaylist(const QString& caption, QString& name);
    // Re-fills both lists from the playlist in memory.
    void FillListsFromPlaylist();
    bool SetPlaylistNameChecked(const QString& name);
    void SavePlaylist();
    // ProbeSource on the entry's own path; the path survives the probe.
    bool Probe(PlaylistFile& entry, std::string& description);

    QProgressBar* m_progress = nullptr;
    QString m_strDescription;
    int m_nElapsedSeconds = 0;
    WinSonvex m_engine;
    Playlist m_playlist;
    PlaylistStore m_store;
    bool m_bFileSelected = false;
    bool m_bDestinationSelected = false;
    QString m_strPlaylistName;
    int m_nVolumeDb = 0;
    QListWidget* m_fileList = nullptr;
    QListWidget* m_destinationList = nullptr;
    QString m_strSettings;

    QPlainTextEdit* m_descriptionEdit = nullptr;
    QPlainTextEdit* m_settingsEdit = nullptr;
    QLineEdit* m_elapsedEdit = nullptr;
    bool m_bInitialUpdateDone = false;

    // m_bStreaming and m_bLoopMode live here, with the entry lock the worker shares.
    StreamingShared m_shared;
    StreamingEventPoster m_poster{this};
    // The one worker; joined when it reports its end (code 3) or at shutdown. Start stays
    // disabled while it exists so that two workers never drive one engine.
    std::thread m_worker;
};
