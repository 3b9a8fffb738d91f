// The view's file list: showing the playlist's files and the selected one's probe,
// and the file commands (add, remove, move).

#include "ui/sonvexview.h"

#include <QFileInfo>
#include <QSignalBlocker>
#include <algorithm>

#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "playlist/outputcodec.h"
#include "ui/commandids.h"
#include "ui/dlgsource.h"
#include "ui/playlistrows.h"
#include "ui/playlisttable.h"

namespace {

const QString kNoSuchFileText = QStringLiteral("No such file or unsupported media type");

QString SettingsText(const PlaylistFile& entry) {
    // A tag no codec has reads as A-law, as it did before G.722 came.
    const OutputCodec* codec = FindOutputCodec(entry.DstFormat);
    return QStringLiteral("Format: %1\r\nSampleRate(Hz): %2\r\nPacketization(ms): %3")
        .arg(QString::fromLatin1(codec != nullptr ? codec->text : "A-law"))
        .arg(entry.DstSampleRate)
        .arg(entry.DstPacketization);
}

}  // namespace

void CSonvexView::ShowSelection() {
    const int row = rows::SelectedRow(m_fileList);
    const int count = m_fileList->rowCount();
    m_strDescription.clear();
    m_strSettings.clear();
    if (row >= 0 && count > 0 && static_cast<size_t>(row) < CurrentPlaylist().FileCount()) {
        m_bFileSelected = true;
        const auto index = static_cast<size_t>(row);
        const ProbeReport report = m_document.ProbeFileAt(index);
        const PlaylistFile& entry = CurrentPlaylist().FileAt(index);
        if (report.valid) {
            m_strDescription = QString::fromStdString(report.description);
            m_strSettings = SettingsText(entry);
            rows::ShowFile(m_fileList, row, entry, entry.Valid != 0);
        } else {
            m_strDescription = QString::fromStdString(InvalidEntryText(entry, report));
            rows::ShowFile(m_fileList, row, entry, false, report.reason);
        }
        rows::MarkPlaying(m_fileList, row, row == m_nPlayingRow);
    } else {
        m_bFileSelected = false;
    }
    UpdateData();
}

void CSonvexView::ReloadFiles(int k) {
    // When the store cannot be read the playlist in memory stays.
    m_document.Reload();
    ShowPlaylistFiles(k);
}

void CSonvexView::ShowPlaylistFiles(int k) {
    rows::Clear(m_fileList);
    const std::vector<ProbeReport> reports = m_document.ProbeAll();
    for (size_t i = 0; i < reports.size(); ++i) {
        rows::AppendFile(m_fileList, CurrentPlaylist().FileAt(i), reports[i].valid,
                         reports[i].reason);
    }
    if (rows::SyncDestinations(m_destinationList, CurrentPlaylist().Destinations)) {
        OnDestinationSelChange();
    }
    if (m_fileList->rowCount() == 0) {
        m_bFileSelected = false;
        UpdateData();
        return;
    }
    rows::SelectRow(m_fileList, std::clamp(k, 0, m_fileList->rowCount() - 1));
    ShowSelection();
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
        candidates.push_back({CDlgSource::EntryForFile(path), QFileInfo(path).fileName()});
    }
    AddEntries(candidates);
    return true;
}

void CSonvexView::AddEntries(const std::vector<Candidate>& candidates) {
    std::vector<PlaylistFile> entries;
    for (const Candidate& candidate : candidates) {
        entries.push_back(candidate.entry);
    }
    const std::vector<ProbeReport> reports = m_document.AddFiles(entries);
    QStringList refused;
    int added = 0;
    for (size_t i = 0; i < reports.size(); ++i) {
        if (!reports[i].valid) {
            refused << candidates[i].shown + QStringLiteral(": ") +
                           QString::fromStdString(reports[i].reason);
            continue;
        }
        ++added;
    }
    // The entries added are the playlist's last, probed as they went in.
    const size_t files = CurrentPlaylist().FileCount();
    for (size_t i = files - std::min(files, static_cast<size_t>(added)); i < files; ++i) {
        rows::AppendFile(m_fileList, CurrentPlaylist().FileAt(i), true);
    }
    if (added > 0) {
        rows::SelectRow(m_fileList, m_fileList->rowCount() - 1);
        ShowSelection();
    }
    if (!refused.isEmpty()) {
        uiseam::MessageBox(
            this, kNoSuchFileText + QStringLiteral(":\n") + refused.join(QLatin1Char('\n')));
    }
}

void CSonvexView::OnRemoveFile() {
    const int row = rows::SelectedRow(m_fileList);
    if (row < 0 || m_fileList->rowCount() == 0) {
        return;
    }
    const QString text = rows::RowText(m_fileList, row);
    if (uiseam::MessageBox(this, QStringLiteral("Are you sure to delete file: %1?").arg(text),
                           uiseam::AppTitle(), uiseam::MB_YESNO) != uiseam::IDYES) {
        return;
    }
    m_strDescription.clear();
    m_strSettings.clear();
    {
        const QSignalBlocker block(m_fileList);
        m_fileList->removeRow(row);
    }
    m_document.RemoveFile(static_cast<size_t>(row));
    if (m_fileList->rowCount() == 0) {
        m_bFileSelected = false;
    } else {
        rows::SelectRow(m_fileList, 0);
        ShowSelection();
    }
    UpdateData();
}

void CSonvexView::OnMoveDown() {
    const int row = rows::SelectedRow(m_fileList);
    const int count = m_fileList->rowCount();
    if (row < 0 || count <= 0 || row >= count - 1) {
        return;
    }
    m_document.MoveFileDown(static_cast<size_t>(row));
    ShowPlaylistFiles(row + 1);
}

void CSonvexView::OnMoveUp() {
    const int row = rows::SelectedRow(m_fileList);
    const int count = m_fileList->rowCount();
    if (row <= 0 || count <= 0) {
        return;
    }
    m_document.MoveFileUp(static_cast<size_t>(row));
    ShowPlaylistFiles(row - 1);
}
