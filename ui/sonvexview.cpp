#include "ui/sonvexview.h"

#include <QCoreApplication>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <algorithm>
#include <string>
#include <utility>

#include "convert/convertdlg.h"
#include "kit/uiseam.h"
#include "ui/announcedlg.h"
#include "ui/commandids.h"
#include "ui/dlgdestination.h"
#include "ui/listinput.h"
#include "ui/newplaylistdlg.h"
#include "ui/openplaylistdlg.h"
#include "ui/playlistrows.h"
#include "ui/playlisttable.h"
#include "ui/sonvexform.h"
#include "ui/soundboard.h"
#include "ui/statuspanes.h"
#include "ui/streamingevent.h"
#include "ui/volumedialog.h"

namespace {

const QString kNoPlaylistTitle = QStringLiteral("Sonvex - No playlist");

// Panes show Qt line breaks; the texts keep their own.
QString PaneText(const QString& text) {
    QString shown = text;
    shown.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
    return shown;
}

}  // namespace

CSonvexView::CSonvexView(QWidget* parent) : QWidget(parent) {
    BuildForm();
    UpdateData();
    // Tray "E&xit" ends the event loop without closing the frame: the worker stops then.
    if (QCoreApplication::instance() != nullptr) {
        connect(QCoreApplication::instance(), &QCoreApplication::aboutToQuit, this,
                &CSonvexView::ShutdownStreaming);
    }
}

CSonvexView::~CSonvexView() {
    // The engine and playlist are members: the worker must be gone first.
    ShutdownStreaming();
}

void CSonvexView::BuildForm() {
    const SonvexForm form = BuildSonvexForm(this);
    m_fileList = form.fileList;
    m_descriptionEdit = form.description;
    m_settingsEdit = form.settings;
    m_destinationList = form.destinationList;
    m_progress = form.progress;
    m_elapsedEdit = form.elapsed;
    m_elapsedClock = form.elapsedClock;
    m_remainingClock = form.remainingClock;
    m_onAir = form.onAir;
    // Between the tables and the progress area.
    m_soundboard = new Soundboard(this);
    if (auto* column = qobject_cast<QBoxLayout*>(layout()); column != nullptr) {
        column->insertWidget(1, m_soundboard);
    }
    connect(m_soundboard, &Soundboard::announced, this, &CSonvexView::SetStatusText);
    connect(m_soundboard, &Soundboard::failed, this, &CSonvexView::ShowFailureText);

    connect(m_fileList, &QTableWidget::itemSelectionChanged, this, &CSonvexView::ShowSelection);
    connect(m_destinationList, &QTableWidget::itemSelectionChanged, this,
            &CSonvexView::OnDestinationSelChange);
    connect(m_destinationList, &QTableWidget::itemDoubleClicked, this,
            [this](QTableWidgetItem* item) { OnEditDestination(item->row()); });
    new ListInput(
        m_fileList, m_destinationList,
        {[this](QTableWidget* list) {
             RunCommand(list == m_fileList ? cmd::ID_REMOVE_FILE : cmd::ID_REMOVE_DESTINATION);
         },
         [this] { return CommandEnabled(cmd::ID_ADD_FILE); },
         [this](const QStringList& paths) { AddFilesFromPaths(paths); }});
}

void CSonvexView::UpdateData() {
    m_descriptionEdit->setPlainText(PaneText(m_strDescription));
    m_settingsEdit->setPlainText(PaneText(m_strSettings));
    m_elapsedEdit->setText(QString::number(m_nElapsedSeconds));
    ShowClocks();
    ShowHints();
}

void CSonvexView::ShowClocks() {
    const int64_t elapsedMs = static_cast<int64_t>(m_nElapsedSeconds) * 1000;
    m_elapsedClock->setText(rows::Clock(elapsedMs));
    m_remainingClock->setText(QLatin1Char('-') +
                              rows::Clock(std::max<int64_t>(m_nPlayingMs - elapsedMs, 0)));
}

void CSonvexView::ShowHints() {
    if (!m_document.IsOpen()) {
        m_fileList->SetHint(QStringLiteral(
            "No playlist is open.\nCreate one with Playlist > New (Ctrl+N), or open one with "
            "Playlist > Open (Ctrl+O)."));
        m_destinationList->SetHint(QString());
        return;
    }
    m_fileList->SetHint(QStringLiteral(
        "No files yet.\nAdd MP3 or WAV files with Streaming > Add file, or drop them here "
        "from a file manager."));
    m_destinationList->SetHint(QStringLiteral(
        "No destination yet.\nAdd the address and port of a speaker, phone or multicast group "
        "with Streaming > Add RTP destination."));
}

void CSonvexView::ShowDestinationStates() {
    const int count = m_destinationList->rowCount();
    m_leftOut.resize(static_cast<size_t>(count));
    const bool running = IsStreaming() || IsWorkerRunning();
    for (int row = 0; row < count; ++row) {
        const QString& why = m_leftOut[static_cast<size_t>(row)];
        QString state = QStringLiteral("idle");
        if (running && !why.isEmpty()) {
            state = QStringLiteral("left out: ") + why;
        } else if (running && IsPaging() && m_bPageStarted) {
            state = QStringLiteral("taken by a page");
        } else if (running && IsStreaming()) {
            state = QStringLiteral("sending");
        }
        rows::SetDestinationState(m_destinationList, row, state);
    }
}

void CSonvexView::SetStatusText(const QString& text) {
    // An empty text is the idle "Ready".
    Q_EMIT statusTextChanged(text);
}

void CSonvexView::ShowFailureText(const QString& text) {
    SetStatusText(text);
    m_bFailureShown = true;
}

void CSonvexView::OnInitialUpdate() {
    if (m_bInitialUpdateDone) {
        return;
    }
    m_bInitialUpdateDone = true;
    UpdateData();
    if (QWidget* frame = window(); frame != this) {
        if (frame->layout() != nullptr) {
            frame->layout()->activate();
        }
        // Fitted to the form unless the last session's size was restored.
        if (!frame->testAttribute(Qt::WA_Resized)) {
            frame->resize(frame->sizeHint());
        }
    }
    // The frame takes the panes into its status bar.
    m_panes.Create(this);
    Q_EMIT statusPaneAdded(m_panes.Meter());
    Q_EMIT statusPaneAdded(m_panes.Volume());
    Q_EMIT statusPaneAdded(m_panes.Loop());
    ShowVolumeAndLoop();
    SetTitle(PlaylistName());
    AnnounceSetAsideStore();
}

void CSonvexView::showEvent(QShowEvent* event) {
    OnInitialUpdate();
    QWidget::showEvent(event);
}

void CSonvexView::SetTitle(const QString& name) {
    window()->setWindowTitle(name.isEmpty() ? kNoPlaylistTitle
                                            : QStringLiteral("Sonvex - ") + name);
}

bool CSonvexView::NameAccepted(const QString& name) {
    const QString problem = CNewPlayListDlg::NameProblem(name);
    if (!problem.isEmpty()) {
        uiseam::MessageBox(this, problem);
        return false;
    }
    return true;
}

void CSonvexView::OnStreamingStatus(const StreamingStatus& status) {
    // postEvent is thread-safe and takes ownership; the event queue keeps posting order.
    auto* event = new StreamingEvent(status);
    m_postedReports.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, event);
}

void CSonvexView::OnNameChanged(const std::string& name) {
    SetTitle(QString::fromStdString(name));
}

void CSonvexView::OnStoreFailure(const std::string& message) {
    uiseam::MessageBox(this, QString::fromStdString(message), uiseam::AppTitle(),
                       uiseam::MB_OK | uiseam::MB_ICONEXCLAMATION);
}

void CSonvexView::AnnounceSetAsideStore() {
    std::string notice;
    while (PlaylistDocument::TakeSetAsideNotice(notice)) {
        OnStoreFailure(notice);
    }
}

void CSonvexView::ShowPlayingRow(int row) {
    // The row gets back the mark of its entry (the table may have been filled anew since).
    const Playlist& playlist = CurrentPlaylist();
    if (m_nPlayingRow >= 0 && static_cast<size_t>(m_nPlayingRow) < playlist.FileCount()) {
        rows::MarkPlaying(m_fileList, m_nPlayingRow, false);
        rows::MarkFileRow(m_fileList, m_nPlayingRow,
                          playlist.FileAt(static_cast<size_t>(m_nPlayingRow)).Valid != 0);
    }
    m_nPlayingRow = -1;
    if (row >= 0 && row < m_fileList->rowCount()) {
        rows::MarkPlaying(m_fileList, row, true);
        m_nPlayingRow = row;
    }
}

bool CSonvexView::CommandEnabled(int id) {
    cmd::CommandState state;
    return OnUpdateCommand(id, state) && state.enabled;
}

void CSonvexView::RunCommand(int id) {
    if (!CommandEnabled(id)) {
        return;
    }
    OnCommand(id);
    Q_EMIT commandStatesChanged();
}

void CSonvexView::ShowVolumeAndLoop() {
    m_panes.Show(m_nVolumeDb, LoopMode());
}

void CSonvexView::ClearForm() {
    rows::Clear(m_fileList);
    rows::Clear(m_destinationList);
    m_strDescription.clear();
    m_strSettings.clear();
    m_bFileSelected = false;
    m_bDestinationSelected = false;
    UpdateData();
}

bool CSonvexView::ChoosePlaylist(const QString& caption, QString& name, const QString& preselect) {
    COpenPlayListDlg dialog(this);
    dialog.m_strCaption = caption;
    dialog.Preselect(preselect);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return false;
    }
    name = dialog.m_strSelected;
    return true;
}

void CSonvexView::FillListsFromPlaylist() {
    rows::FillFiles(m_fileList, CurrentPlaylist().Files);
    rows::FillDestinations(m_destinationList, CurrentPlaylist().Destinations);
    m_bFileSelected = false;
    m_bDestinationSelected = false;
}

// ---- commands --------------------------------------------------------------------------

bool CSonvexView::OnCommand(int id) {
    if (m_bFailureShown) {
        // A failure stays in view until the operator does something next.
        m_bFailureShown = false;
        SetStatusText(QString());
    }
    const bool handled = Dispatch(id);
    AnnounceSetAsideStore();
    return handled;
}

bool CSonvexView::Dispatch(int id) {
    using Handler = void (CSonvexView::*)();
    static constexpr std::pair<int, Handler> kHandlers[] = {
        {cmd::ID_FILE_NEW, &CSonvexView::OnNewPlaylist},
        {cmd::ID_FILE_OPEN, &CSonvexView::OnOpenPlaylist},
        {cmd::ID_PLAYLIST_DELETE, &CSonvexView::OnDeletePlaylist},
        {cmd::ID_MOVE_DOWN, &CSonvexView::OnMoveDown},
        {cmd::ID_MOVE_UP, &CSonvexView::OnMoveUp},
        {cmd::ID_ADD_FILE, &CSonvexView::OnAddFile},
        {cmd::ID_REMOVE_FILE, &CSonvexView::OnRemoveFile},
        {cmd::ID_ADD_DESTINATION, &CSonvexView::OnAddDestination},
        {cmd::ID_REMOVE_DESTINATION, &CSonvexView::OnRemoveDestination},
        {cmd::ID_START_STREAMING, &CSonvexView::OnStartStreaming},
        {cmd::ID_STOP, &CSonvexView::OnStop},
        {cmd::ID_LOOP_MODE, &CSonvexView::OnLoopMode},
        {cmd::ID_VOLUME, &CSonvexView::OnVolume},
        {cmd::ID_ANNOUNCE, &CSonvexView::OnAnnounce},
        {cmd::ID_PAGE, &CSonvexView::OnPage},
        {cmd::ID_PAGE_SETTINGS, &CSonvexView::OnPageSettings},
        {cmd::ID_TOOLS_CONVERT, &CSonvexView::OnConvertCommand},
        {cmd::ID_VIEW_SOUNDBOARD, &CSonvexView::OnSoundboard},
        {cmd::ID_THEME_SYSTEM, &CSonvexView::OnThemeSystem},
        {cmd::ID_THEME_LIGHT, &CSonvexView::OnThemeLight},
        {cmd::ID_THEME_DARK, &CSonvexView::OnThemeDark},
    };
    for (const auto& [command, handler] : kHandlers) {
        if (command == id) {
            (this->*handler)();
            return true;
        }
    }
    return false;
}

bool CSonvexView::OnUpdateCommand(int id, cmd::CommandState& state) {
    // After Stop the worker still reads the playlist until its final report: nothing may
    // change it before then.
    const bool idle = !IsStreaming() && !IsWorkerRunning();
    const bool open = m_document.IsOpen();
    state.checked = false;
    switch (id) {
        case cmd::ID_FILE_NEW:
        case cmd::ID_FILE_OPEN:
        case cmd::ID_PLAYLIST_DELETE:
            state.enabled = idle;
            return true;
        case cmd::ID_MOVE_DOWN:
        case cmd::ID_MOVE_UP:
            state.enabled = idle && m_fileList->rowCount() >= 2;
            return true;
        case cmd::ID_ADD_FILE:
        case cmd::ID_ADD_DESTINATION:
        case cmd::ID_ANNOUNCE:
            state.enabled = idle && open;
            return true;
        case cmd::ID_REMOVE_FILE:
            state.enabled = idle && open && m_bFileSelected;
            return true;
        case cmd::ID_REMOVE_DESTINATION:
            state.enabled = idle && open && m_bDestinationSelected;
            return true;
        case cmd::ID_START_STREAMING:
            // Idle also waits for the previous worker to end: one engine, one worker.
            state.enabled = idle && open;
            return true;
        case cmd::ID_STOP:
            state.enabled = IsStreaming();
            return true;
        case cmd::ID_LOOP_MODE:
            state.enabled = true;
            state.checked = LoopMode();
            return true;
        case cmd::ID_VOLUME:
        case cmd::ID_TOOLS_CONVERT:
            state.enabled = true;
            return true;
        default:
            return OnUpdatePageCommand(id, state) || OnUpdateLookCommand(id, state);
    }
}

// ---- destinations ----------------------------------------------------------------------

void CSonvexView::OnAddDestination() {
    CDlgDestination dialog(this);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_document.AddDestination(dialog.m_destination);
    rows::FillDestinations(m_destinationList, CurrentPlaylist().Destinations);
    OnDestinationSelChange();
    UpdateData();
}

void CSonvexView::OnAnnounce() {
    CAnnounceDlg dialog(this);
    const Playlist& current = m_document.CurrentPlaylist();
    dialog.m_nSapAnnounce = current.SapAnnounce;
    dialog.m_nRtcpReports = current.RtcpReports;
    dialog.m_nPriority = current.Priority;
    dialog.m_nRole = current.Role;
    dialog.m_nInterrupted = current.Interrupted;
    dialog.m_nDuckDb = current.DuckDb;
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    Playlist settings;
    settings.SapAnnounce = dialog.m_nSapAnnounce;
    settings.RtcpReports = dialog.m_nRtcpReports;
    settings.Priority = dialog.m_nPriority;
    settings.Role = dialog.m_nRole;
    settings.Interrupted = dialog.m_nInterrupted;
    settings.DuckDb = dialog.m_nDuckDb;
    m_document.SetSettings(settings);
}

void CSonvexView::OnEditDestination(int row) {
    // Changing a destination is adding it anew in its place: the same rule enables it.
    if (row < 0 || row >= m_destinationList->rowCount() ||
        !CommandEnabled(cmd::ID_ADD_DESTINATION)) {
        return;
    }
    const auto index = static_cast<size_t>(row);
    CDlgDestination dialog(this);
    dialog.SetDestination(CurrentPlaylist().Destinations.at(index));
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_document.ReplaceDestination(index, dialog.m_destination);
    rows::FillDestinations(m_destinationList, CurrentPlaylist().Destinations);
    rows::SelectRow(m_destinationList, row);
    OnDestinationSelChange();
}

void CSonvexView::OnRemoveDestination() {
    const int row = rows::SelectedRow(m_destinationList);
    if (row < 0 || m_destinationList->rowCount() == 0) {
        return;
    }
    const QString text = rows::RowText(m_destinationList, row);
    if (uiseam::MessageBox(this,
                           QStringLiteral("Are you sure to delete destination: %1?").arg(text),
                           uiseam::AppTitle(), uiseam::MB_YESNO) != uiseam::IDYES) {
        return;
    }
    {
        const QSignalBlocker block(m_destinationList);
        m_destinationList->removeRow(row);
        m_destinationList->clearSelection();
    }
    m_document.RemoveDestination(static_cast<size_t>(row));
    OnDestinationSelChange();
}

void CSonvexView::OnDestinationSelChange() {
    m_bDestinationSelected =
        rows::SelectedRow(m_destinationList) != -1 && m_destinationList->rowCount() > 0;
}

// ---- volume and tools ------------------------------------------------------------------

void CSonvexView::OnVolume() {
    CVolumeDialog dialog(this);
    dialog.m_nPositionDb = m_nVolumeDb;
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_nVolumeDb = std::clamp(dialog.m_nPositionDb, CVolumeDialog::kMinDb, CVolumeDialog::kMaxDb);
    m_document.SetVolumeDb(m_nVolumeDb);
    ShowVolumeAndLoop();
}

void CSonvexView::OnConvert(const QString& input) {
    CConvertDlg dialog(this);
    if (!input.isEmpty()) {
        dialog.SetInput(input);
    }
    uiseam::RunModal(dialog);
}
