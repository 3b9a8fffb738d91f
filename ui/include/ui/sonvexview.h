#pragma once
// The main form: the open playlist's files and destinations, the selected file's details,
// and the progress of a streaming run. It maps every playlist, destination, streaming and
// volume command onto its PlaylistDocument, which owns the open playlist, its name, the
// playlist store, the transcoding engine and the streaming session; the view keeps the
// widgets and tells the frame what to show through its signals.
//
// Beyond the commands it takes files dropped on the file table, removes the selected file or
// destination with the Delete key, shows the volume and loop mode in the frame's status bar,
// each destination's state in its row, the file's time elapsed and remaining as m:ss, an
// "ON AIR" sign while a page runs, what to do next in an empty table, and remembers the open
// playlist for the next start.
//
// Threads: everything here runs on the UI thread except the streaming session's worker,
// which reads the playlist and drives the engine, and whose reports the view posts to itself
// as StreamingEvents. The view shuts the session down before it goes away.
//
// Its definitions stand in five files: the form and command mapping (sonvexview.cpp), the
// playlist commands (viewplaylists.cpp), the file list and its commands (viewfiles.cpp), the
// streaming commands and reports (viewstreaming.cpp), and live paging with its level meter
// (viewpaging.cpp).

#include <QElapsedTimer>
#include <QPointer>
#include <QString>
#include <QStringList>
#include <QWidget>
#include <atomic>
#include <string>
#include <vector>

#include "document/playlistdocument.h"
#include "ui/commandtarget.h"
#include "ui/statuspanes.h"
#include "ui/theme.h"

class PlaylistTable;
class Soundboard;
class QLabel;
class QLineEdit;
class QPlainTextEdit;
class QProgressBar;
class QTimer;

class CSonvexView : public QWidget, public cmd::CommandTarget, private DocumentObserver {
    Q_OBJECT

public:
    static constexpr const char* kLastPlaylistSetting = PlaylistDocument::kLastPlaylistSetting;

    explicit CSonvexView(QWidget* parent = nullptr);
    ~CSonvexView() override;

    // Wide enough for both tables' columns at the first start; the window may shrink to the
    // form's smallest size.
    QSize sizeHint() const override { return {1040, 620}; }

    bool OnCommand(int id) override;
    bool OnUpdateCommand(int id, cmd::CommandState& state) override;

    // Fits the frame around the form and shows "Sonvex - No playlist". Runs once, on the
    // first show at the latest.
    void OnInitialUpdate();
    // Stops a running worker and waits for it to return; afterwards no event of it is
    // pending. Safe to call at any time; the destructor and application quit call it.
    void ShutdownStreaming();

    // Sets the frame's title from the open playlist's name.
    void SetTitle(const QString& name);
    // Refreshes the two text panes from the selected file, writing the probed entry back.
    void ShowSelection();
    // Rebuilds the playlist from the store and the file list from it; selects row k. When
    // the store cannot be read the playlist in memory stays, and the lists show it.
    void ReloadFiles(int k);
    // Adds files as a drop or the command line hands them over: mu-law, 8000 Hz, 20 ms, each
    // probed, in order. False (nothing added) when Add file is disabled.
    bool AddFilesFromPaths(const QStringList& paths);
    // Opens the playlist open at the last quit; one no longer stored is skipped quietly.
    void OpenLastPlaylist();
    // The theme and the soundboard as the last session left them; before the first show.
    void ApplyStoredLook();

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
    // A double-click on a destination: the destination dialog filled with it; OK replaces it.
    void OnEditDestination(int row);
    void OnDestinationSelChange();
    void OnStartStreaming();
    void OnStop();
    void OnLoopMode();
    void OnVolume();
    void OnAnnounce();
    // Page: ends the page that runs, or starts one with the remembered page settings, over
    // the running list or alone; a refusal is shown in the status bar.
    void OnPage();
    void OnPageSettings();
    // The toolbar's Page button. Hold mode: a press starts a page and the release ends it;
    // toggle mode: a click is the Page command. Any other gesture does nothing.
    enum class PageGesture { Press, Release, Click };
    void OnPageButton(PageGesture gesture);
    // The Convert dialog, describing `input` first when one is given.
    void OnConvert(const QString& input = QString());
    // The WM_STREAMING_STATUS handler, for a report as the worker gave it; returns 0.
    long OnStreamingReport(const StreamingStatus& status);

    // State, for the frame and for tests.
    const Playlist& CurrentPlaylist() const { return m_document.CurrentPlaylist(); }
    QString PlaylistName() const { return QString::fromStdString(m_document.Name()); }
    bool IsStreaming() const { return m_document.IsStreaming(); }
    bool IsWorkerRunning() const { return m_document.IsRunning(); }
    bool LoopMode() const { return m_document.LoopMode(); }
    bool IsPaging() const { return m_document.IsPaging(); }
    bool FileSelected() const { return m_bFileSelected; }
    bool DestinationSelected() const { return m_bDestinationSelected; }
    int VolumeDb() const { return m_nVolumeDb; }
    int ElapsedSeconds() const { return m_nElapsedSeconds; }
    const QString& Description() const { return m_strDescription; }
    const QString& Settings() const { return m_strSettings; }
    PlaylistTable* FileList() const { return m_fileList; }
    PlaylistTable* DestinationList() const { return m_destinationList; }
    // The "ON AIR" sign of the progress area.
    QLabel* OnAirSign() const { return m_onAir; }
    Soundboard* SoundboardPane() const { return m_soundboard; }
    theme::Choice Theme() const { return m_theme; }
    QProgressBar* Progress() const { return m_progress; }
    // The status bar's level meter, shown while a page runs; null before the first show.
    QProgressBar* PageMeter() const { return m_panes.Meter(); }
    PlaylistDocument& Document() { return m_document; }

Q_SIGNALS:
    // For the frame's message pane; empty is the idle "Ready".
    void statusTextChanged(const QString& text);
    // A pane of the view's for the frame's status bar, in the order they are to stand.
    void statusPaneAdded(QWidget* pane);
    // The command states may have changed without a command (a streaming report).
    void commandStatesChanged();
    // A page went on the air or ended: while it is on, the status bar keeps the page's text
    // whatever the pointer passes over.
    void onAirChanged(bool onAir);

protected:
    bool event(QEvent* event) override;
    void showEvent(QShowEvent* event) override;

private:
    // DocumentObserver. Posts the report to the view itself: called on the worker thread.
    void OnStreamingStatus(const StreamingStatus& status) override;
    void OnNameChanged(const std::string& name) override;
    void OnStoreFailure(const std::string& message) override;

    void BuildForm();
    bool Dispatch(int id);
    // Members -> controls (the list rows are changed directly by the handlers).
    void UpdateData();
    // Marks the row being streamed (-1: none); the mark it replaces goes.
    void ShowPlayingRow(int row);
    // The frame's status-bar message pane.
    void SetStatusText(const QString& text);
    // A failure's text, kept until the operator's next command.
    void ShowFailureText(const QString& text);
    // Empties both lists (their signals held) and both text panes, drops both selections and
    // shows the result.
    void ClearForm();
    // The playlist the user picks in the playlist dialog under `caption`; false when cancelled.
    bool ChoosePlaylist(const QString& caption, QString& name,
                        const QString& preselect = QString());
    // Re-fills both lists from the playlist in memory.
    void FillListsFromPlaylist();
    // Rebuilds the file rows from the playlist, probing each entry, keeps the destination rows
    // in step with it, then selects row k.
    void ShowPlaylistFiles(int k);
    // Opens a stored playlist by name; an empty name leaves no playlist open.
    void OpenNamedPlaylist(const QString& name);
    // False (with the reason shown) for a name the store cannot take.
    bool NameAccepted(const QString& name);
    // Tells the operator, once, about a damaged store that was set aside.
    void AnnounceSetAsideStore();
    struct Candidate {
        PlaylistFile entry;
        QString shown;  // how the file is named when it is refused
    };
    // Adds the candidates that open, selects the last one added; the ones refused are named
    // with their reasons in one message.
    void AddEntries(const std::vector<Candidate>& candidates);
    bool CommandEnabled(int id);
    // Runs a command as the menu does, when it is enabled.
    void RunCommand(int id);
    // The volume and loop panes of the frame's status bar.
    void ShowVolumeAndLoop();
    // The status handler's parts, per report.
    void OnFileStarted(const StreamingStatus& status);
    void OnSecondElapsed(const StreamingStatus& status);
    void OnStreamingEnded();
    void OnPageStarted();
    void OnPageEnded(const StreamingStatus& status);
    // Page's enabled and checked states.
    bool OnUpdatePageCommand(int id, cmd::CommandState& state);
    // The meter follows the page's level while it runs (kPageMeterMs) and is hidden after;
    // the "ON AIR" sign with it, counting the page's time.
    void ShowPageMeter(bool on);
    // What each empty table says to do next.
    void ShowHints();
    // The file's time as m:ss: elapsed, and what is left of its length.
    void ShowClocks();
    // Every destination's state cell: idle, sending, or taken by a page; one left out keeps
    // its reason until the run ends.
    void ShowDestinationStates();
    // "Streaming: " and the name of the entry at `index`.
    QString StreamingText(size_t index) const;
    void OnConvertCommand() { OnConvert(); }
    // View > Soundboard and the three themes; each choice is remembered.
    void OnSoundboard();
    void OnTheme(theme::Choice choice);
    void OnThemeSystem() { OnTheme(theme::Choice::System); }
    void OnThemeLight() { OnTheme(theme::Choice::Light); }
    void OnThemeDark() { OnTheme(theme::Choice::Dark); }
    bool OnUpdateLookCommand(int id, cmd::CommandState& state);

    QProgressBar* m_progress = nullptr;
    QTimer* m_pageMeterTimer = nullptr;
    QString m_strDescription;
    int m_nElapsedSeconds = 0;
    bool m_bFileSelected = false;
    bool m_bDestinationSelected = false;
    int m_nVolumeDb = 0;
    PlaylistTable* m_fileList = nullptr;
    PlaylistTable* m_destinationList = nullptr;
    QLabel* m_elapsedClock = nullptr;
    QLabel* m_remainingClock = nullptr;
    QLabel* m_onAir = nullptr;
    Soundboard* m_soundboard = nullptr;
    theme::Choice m_theme = theme::Choice::System;
    QElapsedTimer m_pageClock;  // since the page went on the air
    int64_t m_nPlayingMs = 0;   // the length of the file being streamed
    // Per destination row: why it is left out of this run; empty while it is sent to.
    std::vector<QString> m_leftOut;
    QString m_strSettings;

    QPlainTextEdit* m_descriptionEdit = nullptr;
    QPlainTextEdit* m_settingsEdit = nullptr;
    QLineEdit* m_elapsedEdit = nullptr;
    bool m_bInitialUpdateDone = false;
    StatusPanes m_panes;
    // A failure text is in the status bar; it stays until the next command.
    bool m_bFailureShown = false;
    int m_nPlayingRow = -1;  // the file list's row marked as streaming
    // Stop was asked of the running worker (by the operator or after a failure): its later
    // start and progress reports belong to a run that is ending and are not shown.
    bool m_bStopping = false;
    // The worker reported the requested page's start (and not yet its end).
    bool m_bPageStarted = false;
    // The operator ended the page before it started: it ends when it starts.
    bool m_bEndPageOnStart = false;
    // Reports posted by the worker. Qt's queue orders each event's construction before its
    // delivery, out of the race detector's sight: the worker's release after building one
    // and event()'s acquire before reading any make that order visible to it.
    std::atomic<uint32_t> m_postedReports{0};

    // The open playlist, its name, the store, the engine and the streaming session
    // (m_bStreaming, m_bLoopMode, the entry lock and the one worker). Its worker is collected
    // when it reports its end (code 3) or at shutdown; Start stays disabled while it exists
    // so that two workers never drive one engine. Declared last: it goes first.
    PlaylistDocument m_document{this};
};
