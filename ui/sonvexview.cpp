#include "ui/sonvexview.h"

#include <QCoreApplication>
#include <QDropEvent>
#include <QFileInfo>
#include <QGroupBox>
#include <QKeyEvent>
#include <QLabel>
#include <QLayout>
#include <QLineEdit>
#include <QListWidget>
#include <QMainWindow>
#include <QMimeData>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QSignalBlocker>
#include <QStatusBar>
#include <QStyle>
#include <QUrl>
#include <algorithm>
#include <mutex>
#include <string>
#include <utility>

#include "convert/convertdlg.h"
#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "ui/commandids.h"
#include "ui/dlgdestination.h"
#include "ui/dlgsource.h"
#include "ui/formstretch.h"
#include "ui/mainframe.h"
#include "ui/newplaylistdlg.h"
#include "ui/openplaylistdlg.h"
#include "ui/volumedialog.h"

namespace {

// The form was laid out in dialog units; these are the pixels of one unit at the UI font.
constexpr double kUnitX = 2.0;
constexpr double kUnitY = 1.75;

QRect Dlu(int x, int y, int w, int h) {
    return QRect(static_cast<int>(x * kUnitX), static_cast<int>(y * kUnitY),
                 static_cast<int>(w * kUnitX), static_cast<int>(h * kUnitY));
}

constexpr int kFormWidth = 344;
constexpr int kFormHeight = 250;
constexpr int kMaxProgressRange = 65535;  // the bar's range has a 16-bit upper bound
constexpr int kFormatMuLaw = 7;

const QString kNoPlaylistTitle = QStringLiteral("Sonvex - No playlist");
const QString kStreamFailedText =
    QStringLiteral("Failed to stream, check the file and audio codecs");
const QString kNoDestinationText =
    QStringLiteral("Nothing to stream to: add an RTP destination first");
const QString kInvalidEntryTip = QStringLiteral(
    "This file cannot be streamed: it is missing, unreadable or not a supported MP3 or WAV file.");

// The selected row, or -1 when nothing is selected or the list is empty.
int SelectedRow(const QListWidget* list) {
    const QList<QListWidgetItem*> items = list->selectedItems();
    return items.isEmpty() ? -1 : list->row(items.first());
}

// Selects a row the way the program does it: without a selection-change notification.
void SelectRow(QListWidget* list, int row) {
    const QSignalBlocker block(list);
    list->setCurrentRow(row, QItemSelectionModel::ClearAndSelect);
}

QListWidget* MakeList(QWidget* parent, const QRect& rect) {
    auto* list = new QListWidget(parent);
    list->setGeometry(rect);
    list->setSelectionMode(QAbstractItemView::SingleSelection);
    list->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    return list;
}

QPlainTextEdit* MakePane(QWidget* parent, const QRect& rect) {
    auto* pane = new QPlainTextEdit(parent);
    pane->setGeometry(rect);
    pane->setReadOnly(true);
    return pane;
}

QString SettingsText(const PlaylistFile& entry) {
    return QStringLiteral("Format: %1\r\nSampleRate(Hz): %2\r\nPacketization(ms): %3")
        .arg(entry.DstFormat == kFormatMuLaw ? QStringLiteral("U-law") : QStringLiteral("A-law"))
        .arg(entry.DstSampleRate)
        .arg(entry.DstPacketization);
}

// A destination's row: its "IP:PORT" text, and for a multicast group its TTL and interface.
QString DestinationRow(const RtpDestination& destination) {
    return QString::fromStdString(destination.ListText());
}

// What a store failure means, as the operator is told.
QString FailureReason(StoreFailure failure) {
    return QString::fromStdString(PlaylistStore::FailureText(failure));
}

// The local files among dropped URLs, in the order given.
QStringList LocalFiles(const QMimeData* data) {
    QStringList paths;
    if (data == nullptr || !data->hasUrls()) {
        return paths;
    }
    for (const QUrl& url : data->urls()) {
        if (url.isLocalFile()) {
            paths << url.toLocalFile();
        }
    }
    return paths;
}

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
    // The form's size is its smallest; it grows with the window (see StretchForm).
    const QSize base(static_cast<int>(kFormWidth * kUnitX), static_cast<int>(kFormHeight * kUnitY));
    setMinimumSize(base);
    resize(base);

    auto* filesBox = new QGroupBox(QStringLiteral("Playlist files"), this);
    filesBox->setGeometry(Dlu(7, 7, 230, 210));
    m_fileList = MakeList(this, Dlu(14, 17, 125, 193));
    m_descriptionEdit = MakePane(this, Dlu(144, 18, 87, 145));
    m_settingsEdit = MakePane(this, Dlu(144, 168, 88, 42));

    auto* destinationsBox = new QGroupBox(QStringLiteral("RTP destinations"), this);
    destinationsBox->setGeometry(Dlu(239, 7, 97, 210));
    m_destinationList = MakeList(this, Dlu(244, 18, 85, 193));

    auto* progressBox = new QGroupBox(QStringLiteral("Progress"), this);
    progressBox->setGeometry(Dlu(7, 216, 329, 26));
    m_progress = new QProgressBar(this);
    m_progress->setGeometry(Dlu(13, 227, 182, 10));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);
    auto* elapsedLabel = new QLabel(QStringLiteral("Time elapsed (seconds)"), this);
    elapsedLabel->setGeometry(Dlu(204, 227, 77, 8));
    m_elapsedEdit = new QLineEdit(this);
    m_elapsedEdit->setGeometry(Dlu(287, 224, 43, 14));
    m_elapsedEdit->setReadOnly(true);
    StretchForm(filesBox, destinationsBox, progressBox, elapsedLabel);

    m_fileList->setObjectName(QStringLiteral("fileList"));
    m_destinationList->setObjectName(QStringLiteral("destinationList"));
    m_descriptionEdit->setObjectName(QStringLiteral("description"));
    m_settingsEdit->setObjectName(QStringLiteral("settings"));
    m_elapsedEdit->setObjectName(QStringLiteral("elapsed"));

    connect(m_fileList, &QListWidget::itemSelectionChanged, this, &CSonvexView::ShowSelection);
    connect(m_destinationList, &QListWidget::itemSelectionChanged, this,
            &CSonvexView::OnDestinationSelChange);
    connect(m_destinationList, &QListWidget::itemDoubleClicked, this,
            [this](QListWidgetItem* item) { OnEditDestination(m_destinationList->row(item)); });

    // The Delete key on either list, and files dropped from a file manager on the file list.
    m_fileList->installEventFilter(this);
    m_destinationList->installEventFilter(this);
    m_fileList->setAcceptDrops(true);
    m_fileList->viewport()->setAcceptDrops(true);
    m_fileList->viewport()->installEventFilter(this);
}

void CSonvexView::StretchForm(QWidget* filesBox, QWidget* destinationsBox, QWidget* progressBox,
                              QWidget* elapsedLabel) {
    // The file list, the description and the destination list share the width gained; the
    // lists and the description take the height; the rest keeps its place beside or below
    // them.
    constexpr double kThird = 1.0 / 3;
    auto* stretch = new FormStretch(this);
    stretch->Add(filesBox, {0, 0, 2 * kThird, 1});
    stretch->Add(m_fileList, {0, 0, kThird, 1});
    stretch->Add(m_descriptionEdit, {kThird, 0, kThird, 1});
    stretch->Add(m_settingsEdit, {kThird, 1, kThird, 0});
    stretch->Add(destinationsBox, {2 * kThird, 0, kThird, 1});
    stretch->Add(m_destinationList, {2 * kThird, 0, kThird, 1});
    stretch->Add(progressBox, {0, 1, 1, 0});
    stretch->Add(m_progress, {0, 1, 1, 0});
    stretch->Add(elapsedLabel, {1, 1, 0, 0});
    stretch->Add(m_elapsedEdit, {1, 1, 0, 0});
}

void CSonvexView::UpdateData() {
    m_descriptionEdit->setPlainText(PaneText(m_strDescription));
    m_settingsEdit->setPlainText(PaneText(m_strSettings));
    m_elapsedEdit->setText(QString::number(m_nElapsedSeconds));
}

void CSonvexView::SetStatusText(const QString& text) {
    // An empty text is the idle "Ready".
    if (auto* frame = qobject_cast<CMainFrame*>(window()); frame != nullptr) {
        frame->SetMessageText(text);
    } else if (auto* window = qobject_cast<QMainWindow*>(this->window()); window != nullptr) {
        window->statusBar()->showMessage(text);
    }
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
    if (auto* main = qobject_cast<QMainWindow*>(window()); main != nullptr) {
        m_volumePane = new QLabel(main->statusBar());
        m_volumePane->setObjectName(QStringLiteral("volumePane"));
        m_volumePane->setToolTip(QStringLiteral("Volume adjustment"));
        m_loopPane = new QLabel(main->statusBar());
        m_loopPane->setObjectName(QStringLiteral("loopPane"));
        m_loopPane->setToolTip(QStringLiteral("Loop mode"));
        if (auto* frame = qobject_cast<CMainFrame*>(main); frame != nullptr) {
            frame->AddStatusPane(m_volumePane);
            frame->AddStatusPane(m_loopPane);
        } else {
            main->statusBar()->addPermanentWidget(m_volumePane);
            main->statusBar()->addPermanentWidget(m_loopPane);
        }
        ShowVolumeAndLoop();
    }
    SetTitle(QString());
    AnnounceSetAsideStore();
}

void CSonvexView::showEvent(QShowEvent* event) {
    OnInitialUpdate();
    QWidget::showEvent(event);
}

void CSonvexView::SetTitle(const QString& name) {
    m_strPlaylistName = name;
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

bool CSonvexView::Probe(PlaylistFile& entry, std::string& description) {
    // The path is handed over separately: the probe refills the Source it belongs to.
    const std::string path = entry.Source.path;
    if (path.empty() || !m_engine.ProbeSource(path.c_str(), entry.Source, description)) {
        return false;
    }
    entry.Source.SetPath(path.c_str());
    return true;
}

bool CSonvexView::SavePlaylist() {
    if (m_store.SavePlaylist(m_playlist)) {
        return true;
    }
    ReportStoreFailure(
        QStringLiteral("The playlist \"%1\" could not be saved").arg(m_strPlaylistName),
        QStringLiteral("The change is shown here but is not stored."));
    return false;
}

void CSonvexView::ReportStoreFailure(const QString& what, const QString& consequence) {
    QString text =
        what + QStringLiteral(": ") + FailureReason(m_store.LastFailure()) + QLatin1Char('.');
    if (!consequence.isEmpty()) {
        text += QLatin1Char('\n') + consequence;
    }
    uiseam::MessageBox(this, text, uiseam::AppTitle(), uiseam::MB_OK | uiseam::MB_ICONEXCLAMATION);
}

void CSonvexView::AnnounceSetAsideStore() {
    std::string aside;
    while (PlaylistStore::TakeSetAsideFile(aside)) {
        uiseam::MessageBox(this,
                           QStringLiteral("The playlist store was damaged. It was set aside as %1 "
                                          "and an empty store took its place.")
                               .arg(QString::fromStdString(aside)),
                           uiseam::AppTitle(), uiseam::MB_OK | uiseam::MB_ICONEXCLAMATION);
    }
}

void CSonvexView::RememberPlaylist() {
    const std::string name = m_strPlaylistName.toStdString();
    std::string stored;
    if (!m_store.ReadSetting(kLastPlaylistSetting, stored)) {
        stored.clear();
    }
    // A store that cannot take it forgets it; the playlists themselves are not affected.
    if (stored != name) {
        m_store.WriteSetting(kLastPlaylistSetting, name);
    }
}

void CSonvexView::MarkFileRow(int row, bool valid) {
    QListWidgetItem* item = m_fileList->item(row);
    if (item == nullptr) {
        return;
    }
    if (valid) {
        item->setIcon(QIcon());
        item->setToolTip(QString());
        item->setData(Qt::ForegroundRole, QVariant());
    } else {
        item->setIcon(style()->standardIcon(QStyle::SP_MessageBoxWarning));
        item->setToolTip(kInvalidEntryTip);
        item->setForeground(palette().brush(QPalette::Disabled, QPalette::Text));
    }
}

void CSonvexView::ShowPlayingRow(int row) {
    // The row gets back the mark of its entry (the list may have been filled anew since).
    if (m_nPlayingRow >= 0 && static_cast<size_t>(m_nPlayingRow) < m_playlist.FileCount()) {
        MarkFileRow(m_nPlayingRow,
                    m_playlist.FileAt(static_cast<size_t>(m_nPlayingRow)).Valid != 0);
    }
    m_nPlayingRow = -1;
    if (QListWidgetItem* item = m_fileList->item(row); item != nullptr) {
        item->setIcon(style()->standardIcon(QStyle::SP_MediaPlay));
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
    if (auto* frame = qobject_cast<CMainFrame*>(window()); frame != nullptr) {
        frame->OnCommand(id);  // refreshes the command states afterwards
    } else {
        OnCommand(id);
    }
}

void CSonvexView::ShowVolumeAndLoop() {
    if (m_volumePane != nullptr) {
        m_volumePane->setText(QStringLiteral("Volume: %1 dB")
                                  .arg(m_nVolumeDb > 0 ? QStringLiteral("+%1").arg(m_nVolumeDb)
                                                       : QString::number(m_nVolumeDb)));
    }
    if (m_loopPane != nullptr) {
        m_loopPane->setText(LoopMode() ? QStringLiteral("Loop: on") : QStringLiteral("Loop: off"));
    }
}

void CSonvexView::ClearForm() {
    {
        // Emptying the lists must not run the selection handlers on rows that are going.
        const QSignalBlocker blockFiles(m_fileList);
        const QSignalBlocker blockDestinations(m_destinationList);
        m_fileList->clear();
        m_destinationList->clear();
    }
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
    const QSignalBlocker blockFiles(m_fileList);
    const QSignalBlocker blockDestinations(m_destinationList);
    m_fileList->clear();
    m_destinationList->clear();
    for (const PlaylistFile& file : m_playlist.Files) {
        m_fileList->addItem(fixedtext::FromFixed(file.Name));
        MarkFileRow(m_fileList->count() - 1, file.Valid != 0);
    }
    for (const RtpDestination& destination : m_playlist.Destinations) {
        m_destinationList->addItem(DestinationRow(destination));
    }
    m_bFileSelected = false;
    m_bDestinationSelected = false;
}

void CSonvexView::SyncDestinationRows() {
    bool same = m_destinationList->count() == static_cast<int>(m_playlist.Destinations.size());
    for (int i = 0; same && i < m_destinationList->count(); ++i) {
        same = m_destinationList->item(i)->text() ==
               DestinationRow(m_playlist.Destinations[static_cast<size_t>(i)]);
    }
    if (same) {
        return;
    }
    {
        const QSignalBlocker block(m_destinationList);
        m_destinationList->clear();
        for (const RtpDestination& destination : m_playlist.Destinations) {
            m_destinationList->addItem(DestinationRow(destination));
        }
    }
    OnDestinationSelChange();
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
    switch (id) {
        case cmd::ID_FILE_NEW:
            OnNewPlaylist();
            return true;
        case cmd::ID_FILE_OPEN:
            OnOpenPlaylist();
            return true;
        case cmd::ID_PLAYLIST_DELETE:
            OnDeletePlaylist();
            return true;
        case cmd::ID_MOVE_DOWN:
            OnMoveDown();
            return true;
        case cmd::ID_MOVE_UP:
            OnMoveUp();
            return true;
        case cmd::ID_ADD_FILE:
            OnAddFile();
            return true;
        case cmd::ID_REMOVE_FILE:
            OnRemoveFile();
            return true;
        case cmd::ID_ADD_DESTINATION:
            OnAddDestination();
            return true;
        case cmd::ID_REMOVE_DESTINATION:
            OnRemoveDestination();
            return true;
        case cmd::ID_START_STREAMING:
            OnStartStreaming();
            return true;
        case cmd::ID_STOP:
            OnStop();
            return true;
        case cmd::ID_LOOP_MODE:
            OnLoopMode();
            return true;
        case cmd::ID_VOLUME:
            OnVolume();
            return true;
        case cmd::ID_TOOLS_CONVERT:
            OnConvert();
            return true;
        default:
            return false;
    }
}

bool CSonvexView::OnUpdateCommand(int id, cmd::CommandState& state) {
    // After Stop the worker still reads the playlist until its final report: nothing may
    // change it before then.
    const bool idle = !IsStreaming() && !IsWorkerRunning();
    const bool open = !m_strPlaylistName.isEmpty();
    state.checked = false;
    switch (id) {
        case cmd::ID_FILE_NEW:
        case cmd::ID_FILE_OPEN:
        case cmd::ID_PLAYLIST_DELETE:
            state.enabled = idle;
            return true;
        case cmd::ID_MOVE_DOWN:
        case cmd::ID_MOVE_UP:
            state.enabled = idle && m_fileList->count() >= 2;
            return true;
        case cmd::ID_ADD_FILE:
        case cmd::ID_ADD_DESTINATION:
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
            return false;
    }
}

// ---- playlist commands -----------------------------------------------------------------

void CSonvexView::ShowSelection() {
    const int row = SelectedRow(m_fileList);
    const int count = m_fileList->count();
    m_strDescription.clear();
    m_strSettings.clear();
    if (row >= 0 && count > 0 && static_cast<size_t>(row) < m_playlist.FileCount()) {
        m_bFileSelected = true;
        const auto index = static_cast<size_t>(row);
        PlaylistFile copy = m_playlist.FileAt(index);
        std::string description;
        if (Probe(copy, description)) {
            {
                // The worker may be copying entries out of Files right now.
                const std::lock_guard lock(m_session.EntryLock());
                m_playlist.FileAt(index) = copy;
            }
            m_strDescription = QString::fromStdString(description);
            m_strSettings = SettingsText(copy);
            MarkFileRow(row, copy.Valid != 0);
        } else {
            m_strDescription = QStringLiteral("Invalid file");
            MarkFileRow(row, false);
        }
    } else {
        m_bFileSelected = false;
    }
    UpdateData();
}

void CSonvexView::ReloadFiles(int k) {
    Playlist loaded;
    if (m_store.Load(loaded)) {
        // Reloads run only while no worker reads the playlist.
        m_playlist = std::move(loaded);
    }
    ShowPlaylistFiles(k);
}

void CSonvexView::ShowPlaylistFiles(int k) {
    {
        const QSignalBlocker block(m_fileList);
        m_fileList->clear();
    }
    for (PlaylistFile& entry : m_playlist.Files) {
        PlaylistFile copy = entry;
        m_fileList->addItem(fixedtext::FromFixed(copy.Name));
        std::string description;
        const bool valid = Probe(copy, description);
        if (valid) {
            m_strDescription = QString::fromStdString(description);
            entry = copy;
            entry.Valid = 1;
        }
        MarkFileRow(m_fileList->count() - 1, valid);
    }
    SyncDestinationRows();
    if (m_fileList->count() == 0) {
        m_bFileSelected = false;
        return;
    }
    SelectRow(m_fileList, std::clamp(k, 0, m_fileList->count() - 1));
    ShowSelection();
}

void CSonvexView::OnNewPlaylist() {
    CNewPlayListDlg dialog(this);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    const QString name = dialog.m_strName;
    if (!NameAccepted(name)) {
        return;
    }
    const std::string key = name.toStdString();
    if (m_store.Exists(key)) {
        // Replacing loses the stored files and destinations: only when the operator says so.
        if (uiseam::MessageBox(this,
                               QStringLiteral("A playlist named \"%1\" already exists. Do you "
                                              "want to replace it with an empty playlist?")
                                   .arg(name),
                               uiseam::AppTitle(),
                               uiseam::MB_YESNO | uiseam::MB_ICONQUESTION |
                                   uiseam::MB_DEFBUTTON2) != uiseam::IDYES) {
            return;
        }
        if (!m_store.Delete(key)) {
            ReportStoreFailure(
                QStringLiteral("The playlist \"%1\" could not be replaced").arg(name));
            return;
        }
    }
    if (!m_store.Create(key)) {
        ReportStoreFailure(QStringLiteral("The playlist \"%1\" could not be created").arg(name));
        return;
    }
    SetTitle(name);
    m_playlist.Clear();
    ClearForm();
    RememberPlaylist();
}

void CSonvexView::OnOpenPlaylist() {
    QString name;
    if (!ChoosePlaylist(QStringLiteral("Select playlist to open"), name)) {
        return;
    }
    if (!name.isEmpty() && !NameAccepted(name)) {
        return;
    }
    OpenNamedPlaylist(name);
}

void CSonvexView::OpenNamedPlaylist(const QString& name) {
    ClearForm();
    if (name.isEmpty()) {
        // Nothing was stored to choose from: no playlist is open afterwards.
        m_playlist.Clear();
        SetTitle(QString());
        RememberPlaylist();
        return;
    }
    const std::string filesPath = m_store.FilesKeyPath;
    const std::string rtpPath = m_store.RtpKeyPath;
    Playlist loaded;
    const bool opened = m_store.Open(name.toStdString());
    if (!opened || !m_store.Load(loaded)) {
        // The playlist in memory is still the open one, and the store points at it again:
        // every row keeps showing its entry and the next edit cannot save a mismatched
        // playlist.
        m_store.FilesKeyPath = filesPath;
        m_store.RtpKeyPath = rtpPath;
        FillListsFromPlaylist();
        UpdateData();
        if (opened) {
            ReportStoreFailure(QStringLiteral("The playlist \"%1\" could not be opened").arg(name));
        }
        return;
    }
    SetTitle(name);
    m_playlist = std::move(loaded);
    ShowPlaylistFiles(0);
    RememberPlaylist();
}

void CSonvexView::OpenLastPlaylist() {
    std::string name;
    if (!m_store.ReadSetting(kLastPlaylistSetting, name) || !m_store.Exists(name)) {
        return;
    }
    OpenNamedPlaylist(QString::fromStdString(name));
}

void CSonvexView::OnDeletePlaylist() {
    QString name;
    // Starts on the open playlist, and Enter, Enter keeps it: the question defaults to No.
    if (!ChoosePlaylist(QStringLiteral("Select playlist to delete"), name, m_strPlaylistName)) {
        return;
    }
    if (uiseam::MessageBox(this, QStringLiteral("Are you sure to delete playlist: %1?").arg(name),
                           uiseam::AppTitle(),
                           uiseam::MB_YESNO | uiseam::MB_DEFBUTTON2) != uiseam::IDYES) {
        return;
    }
    // An empty name (nothing was stored to choose) deletes nothing, without a word.
    if (!m_store.Delete(name.toStdString()) && !name.isEmpty()) {
        ReportStoreFailure(QStringLiteral("The playlist \"%1\" could not be deleted").arg(name));
        return;
    }
    if (name == m_strPlaylistName) {
        SetTitle(QString());
        // The rows are gone, so are the entries: row i keeps showing entry i.
        m_playlist.Clear();
        ClearForm();
        RememberPlaylist();
    }
}

void CSonvexView::OnAddFile() {
    CDlgSource dialog(this);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    std::vector<Candidate> candidates;
    candidates.push_back({dialog.m_sourceEntry, fixedtext::FromFixed(dialog.m_sourceEntry.Name)});
    for (const PlaylistFile& entry : dialog.m_moreEntries) {
        candidates.push_back({entry, fixedtext::FromFixed(entry.Name)});
    }
    AddEntries(candidates);
}

bool CSonvexView::AddFilesFromPaths(const QStringList& paths) {
    if (paths.isEmpty() || !CommandEnabled(cmd::ID_ADD_FILE)) {
        return false;
    }
    std::vector<Candidate> candidates;
    for (const QString& path : paths) {
        const QFileInfo file(path);
        Candidate candidate{PlaylistFile{}, file.fileName()};
        // A path that does not fit stays empty, and the probe refuses it.
        if (!fixedtext::ToFixed(file.absoluteFilePath(), candidate.entry.Source.path) ||
            !fixedtext::ToFixed(file.fileName(), candidate.entry.Name)) {
            candidate.entry = PlaylistFile{};
        }
        candidate.entry.DstFormat = CDlgSource::kFormatTags[0];
        candidate.entry.DstSampleRate = CDlgSource::kOutputSampleRate;
        candidate.entry.DstPacketization = CDlgSource::kPacketizations[0];
        candidates.push_back(std::move(candidate));
    }
    AddEntries(candidates);
    return true;
}

void CSonvexView::AddEntries(const std::vector<Candidate>& candidates) {
    QStringList refused;
    int added = 0;
    for (const Candidate& candidate : candidates) {
        PlaylistFile entry = candidate.entry;
        std::string discarded;
        if (!Probe(entry, discarded)) {
            refused << candidate.shown;
            continue;
        }
        entry.Valid = 1;
        m_playlist.AppendFile(entry);
        m_fileList->addItem(fixedtext::FromFixed(entry.Name));
        ++added;
    }
    if (added > 0) {
        SelectRow(m_fileList, m_fileList->count() - 1);
        ShowSelection();
        SavePlaylist();
    }
    if (!refused.isEmpty()) {
        QString text = QStringLiteral("No such file or unsupported media type");
        if (candidates.size() > 1) {
            text += QStringLiteral(":\n") + refused.join(QLatin1Char('\n'));
        }
        uiseam::MessageBox(this, text);
    }
}

void CSonvexView::OnRemoveFile() {
    const int row = SelectedRow(m_fileList);
    if (row < 0 || m_fileList->count() == 0) {
        return;
    }
    const QString text = m_fileList->item(row)->text();
    if (uiseam::MessageBox(this, QStringLiteral("Are you sure to delete file: %1?").arg(text),
                           uiseam::AppTitle(), uiseam::MB_YESNO) != uiseam::IDYES) {
        return;
    }
    m_strDescription.clear();
    m_strSettings.clear();
    {
        const QSignalBlocker block(m_fileList);
        delete m_fileList->takeItem(row);
    }
    m_playlist.EraseFile(static_cast<size_t>(row));
    if (m_fileList->count() == 0) {
        m_bFileSelected = false;
    } else {
        SelectRow(m_fileList, 0);
        ShowSelection();
    }
    SavePlaylist();
    UpdateData();
}

void CSonvexView::OnMoveDown() {
    const int row = SelectedRow(m_fileList);
    const int count = m_fileList->count();
    if (row < 0 || count <= 0 || row >= count - 1) {
        return;
    }
    m_playlist.MoveFileDown(row);
    SavePlaylist();
    ReloadFiles(row + 1);
}

void CSonvexView::OnMoveUp() {
    const int row = SelectedRow(m_fileList);
    const int count = m_fileList->count();
    if (row <= 0 || count <= 0) {
        return;
    }
    m_playlist.MoveFileUp(row);
    SavePlaylist();
    ReloadFiles(row - 1);
}

// ---- destinations ----------------------------------------------------------------------

void CSonvexView::OnAddDestination() {
    CDlgDestination dialog(this);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_destinationList->addItem(DestinationRow(dialog.m_destination));
    m_playlist.AppendDestination(dialog.m_destination);
    UpdateData();
    SavePlaylist();
}

void CSonvexView::OnEditDestination(int row) {
    // Changing a destination is adding it anew in its place: the same rule enables it.
    if (row < 0 || row >= m_destinationList->count() || !CommandEnabled(cmd::ID_ADD_DESTINATION)) {
        return;
    }
    const auto index = static_cast<size_t>(row);
    CDlgDestination dialog(this);
    dialog.SetDestination(m_playlist.Destinations[index]);
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_playlist.Destinations[index] = dialog.m_destination;
    m_destinationList->item(row)->setText(DestinationRow(dialog.m_destination));
    SavePlaylist();
}

void CSonvexView::OnRemoveDestination() {
    const int row = SelectedRow(m_destinationList);
    if (row < 0 || m_destinationList->count() == 0) {
        return;
    }
    const QString text = m_destinationList->item(row)->text();
    if (uiseam::MessageBox(this,
                           QStringLiteral("Are you sure to delete destination: %1?").arg(text),
                           uiseam::AppTitle(), uiseam::MB_YESNO) != uiseam::IDYES) {
        return;
    }
    {
        const QSignalBlocker block(m_destinationList);
        delete m_destinationList->takeItem(row);
        m_destinationList->clearSelection();
    }
    m_playlist.EraseDestination(static_cast<size_t>(row));
    SavePlaylist();
    OnDestinationSelChange();
}

void CSonvexView::OnDestinationSelChange() {
    m_bDestinationSelected = SelectedRow(m_destinationList) != -1 && m_destinationList->count() > 0;
}

// ---- streaming -------------------------------------------------------------------------

void CSonvexView::OnStartStreaming() {
    if (m_fileList->count() == 0) {
        return;
    }
    // Streaming to nobody would look like streaming.
    if (m_destinationList->count() == 0) {
        SetStatusText(kNoDestinationText);
        m_bFailureShown = true;
        return;
    }
    // Refused while the previous worker has not reported its end.
    if (m_session.Start()) {
        m_bStopping = false;
    }
}

void CSonvexView::OnStop() {
    m_bStopping = true;
    m_session.Stop();
}

void CSonvexView::OnLoopMode() {
    m_session.SetLoopMode(!LoopMode());
    ShowVolumeAndLoop();
}

void CSonvexView::ShutdownStreaming() {
    if (!m_session.IsRunning()) {
        return;
    }
    // Bounded: the worker notices the flag after its current tick, one period away.
    m_session.Shutdown();
    // Its reports refer to a run that is over; the view may be going away.
    QCoreApplication::removePostedEvents(this, StreamingEvent::kType);
}

long CSonvexView::OnStreamingStatus(uintptr_t wParam, intptr_t lParam) {
    const StreamingStatus status = StreamingStatus::Decode(wParam, lParam);
    const size_t index = status.index;
    const PlaylistFile* entry =
        index < m_playlist.FileCount() ? &m_playlist.FileAt(index) : nullptr;
    const QString streamingText =
        QStringLiteral("Streaming: ") + (entry ? fixedtext::FromFixed(entry->Name) : QString());
    switch (status.code) {
        case kFileStarted:
            if (status.openFailed) {
                ShowPlayingRow(-1);
                SetStatusText(kStreamFailedText);
                m_bFailureShown = true;
                if (entry != nullptr) {
                    MarkFileRow(static_cast<int>(index), false);
                }
                OnStop();
                break;
            }
            if (m_bStopping) {
                break;  // the worker moved on before it saw the stop
            }
            if (entry != nullptr) {
                // A zero range would turn the bar into a busy indicator.
                const int range = std::clamp(static_cast<int>(entry->Source.durationSeconds), 1,
                                             kMaxProgressRange);
                m_progress->setValue(0);
                m_progress->setRange(0, range);
                m_progress->setValue(0);
            }
            m_nElapsedSeconds = 0;
            SetStatusText(streamingText);
            if (entry != nullptr) {
                SelectRow(m_fileList, static_cast<int>(index));
                ShowSelection();
                ShowPlayingRow(static_cast<int>(index));
            }
            UpdateData();
            break;
        case kSecondElapsed:
            if (m_bStopping) {
                break;
            }
            SetStatusText(streamingText);
            m_progress->setValue(std::min(m_progress->value() + 1, m_progress->maximum()));
            m_nElapsedSeconds += 1;
            UpdateData();
            break;
        case kFileFinished:
            ShowPlayingRow(-1);
            m_progress->setValue(static_cast<int>(
                std::clamp<intptr_t>(status.durationSeconds, 0, m_progress->maximum())));
            break;
        case kStreamingEnded:
            ShowPlayingRow(-1);
            m_progress->setValue(0);
            m_nElapsedSeconds = 0;
            UpdateData();
            OnStop();
            // The worker is returning: collect it so that Start can run a new one.
            m_session.Wait();
            m_bStopping = false;
            if (!m_bFailureShown) {
                SetStatusText(QString());  // "Ready"
            }
            break;
        default:
            break;
    }
    return 0;
}

bool CSonvexView::event(QEvent* event) {
    if (event->type() == StreamingEvent::kType) {
        const auto* status = static_cast<StreamingEvent*>(event);
        OnStreamingStatus(status->WParam(), status->LParam());
        // Codes 2 and 3 show no text, yet Start and the editing commands change with them.
        if (auto* frame = qobject_cast<CMainFrame*>(window()); frame != nullptr) {
            frame->UpdateCommands();
        }
        return true;
    }
    return QWidget::event(event);
}

// ---- volume and tools ------------------------------------------------------------------

void CSonvexView::OnVolume() {
    CVolumeDialog dialog(this);
    dialog.m_nPositionDb = m_nVolumeDb;
    if (uiseam::RunModal(dialog) != QDialog::Accepted) {
        return;
    }
    m_nVolumeDb = std::clamp(dialog.m_nPositionDb, CVolumeDialog::kMinDb, CVolumeDialog::kMaxDb);
    m_engine.SetVolumeDb(m_nVolumeDb);
    ShowVolumeAndLoop();
}

void CSonvexView::OnConvert(const QString& input) {
    CConvertDlg dialog(this);
    if (!input.isEmpty()) {
        dialog.SetInput(input);
    }
    uiseam::RunModal(dialog);
}

bool CSonvexView::eventFilter(QObject* watched, QEvent* event) {
    if (event->type() == QEvent::KeyPress &&
        (watched == m_fileList || watched == m_destinationList)) {
        const auto* key = static_cast<QKeyEvent*>(event);
        if (key->key() == Qt::Key_Delete && key->modifiers() == Qt::NoModifier) {
            RunCommand(watched == m_fileList ? cmd::ID_REMOVE_FILE : cmd::ID_REMOVE_DESTINATION);
            return true;
        }
    } else if (watched == m_fileList->viewport()) {
        switch (event->type()) {
            case QEvent::DragEnter:
            case QEvent::DragMove: {
                auto* drag = static_cast<QDragMoveEvent*>(event);
                if (!LocalFiles(drag->mimeData()).isEmpty() && CommandEnabled(cmd::ID_ADD_FILE)) {
                    drag->acceptProposedAction();
                } else {
                    drag->ignore();
                }
                return true;
            }
            case QEvent::Drop: {
                auto* drop = static_cast<QDropEvent*>(event);
                const QStringList paths = LocalFiles(drop->mimeData());
                if (paths.isEmpty() || !CommandEnabled(cmd::ID_ADD_FILE)) {
                    drop->ignore();
                    return true;
                }
                drop->acceptProposedAction();
                // Probing and any message wait until the drag has ended.
                QMetaObject::invokeMethod(
                    this, [this, paths] { AddFilesFromPaths(paths); }, Qt::QueuedConnection);
                return true;
            }
            default:
                break;
        }
    }
    return QWidget::eventFilter(watched, event);
}
