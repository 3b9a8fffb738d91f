// The view's playlist commands: new, open, delete, and the last one opened.

#include "ui/sonvexview.h"

#include <string>

#include "kit/uiseam.h"
#include "ui/newplaylistdlg.h"

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
    // Replacing loses the stored files and destinations: only when the operator says so.
    if (m_document.Exists(key) &&
        uiseam::MessageBox(this,
                           QStringLiteral("A playlist named \"%1\" already exists. Do you "
                                          "want to replace it with an empty playlist?")
                               .arg(name),
                           uiseam::AppTitle(),
                           uiseam::MB_YESNO | uiseam::MB_ICONQUESTION | uiseam::MB_DEFBUTTON2) !=
            uiseam::IDYES) {
        return;
    }
    if (!m_document.New(key)) {
        return;
    }
    ClearForm();
    m_document.RememberPlaylist();
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
    if (!m_document.Open(name.toStdString())) {
        // The playlist in memory is still the open one: every row keeps showing its entry.
        FillListsFromPlaylist();
        UpdateData();
        return;
    }
    if (m_document.IsOpen()) {
        ShowPlaylistFiles(0);
    }
    m_document.RememberPlaylist();
}

void CSonvexView::OpenLastPlaylist() {
    std::string name;
    if (m_document.LastPlaylist(name)) {
        OpenNamedPlaylist(QString::fromStdString(name));
    }
}

void CSonvexView::OnDeletePlaylist() {
    QString name;
    // Starts on the open playlist, and Enter, Enter keeps it: the question defaults to No.
    if (!ChoosePlaylist(QStringLiteral("Select playlist to delete"), name, PlaylistName())) {
        return;
    }
    if (uiseam::MessageBox(this, QStringLiteral("Are you sure to delete playlist: %1?").arg(name),
                           uiseam::AppTitle(),
                           uiseam::MB_YESNO | uiseam::MB_DEFBUTTON2) != uiseam::IDYES) {
        return;
    }
    const bool open = name == PlaylistName();
    if (m_document.Delete(name.toStdString()) && open) {
        ClearForm();
        m_document.RememberPlaylist();
    }
}
