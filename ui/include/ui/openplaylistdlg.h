#pragma once
// "Playlists": lists the stored playlists and returns the one chosen, for Open and Delete.
// It reads the names through a store of its own when it is constructed; the first name is
// selected from the start. The view sets m_strCaption before showing it. UI thread only.

#include <QDialog>
#include <QString>

class QListWidget;

class COpenPlayListDlg : public QDialog {
    Q_OBJECT

public:
    explicit COpenPlayListDlg(QWidget* parent = nullptr);

    // Take selection: copies the selected row's text into m_strSelected.
    void OnSelectionChanged();
    // Take selection, then close with OK; nothing when no row is under the click.
    void OnDoubleClicked(int row);
    // Selects the row of that name instead of the first (Delete starts on the open
    // playlist); nothing when no row has it.
    void Preselect(const QString& name);

    QListWidget* m_list = nullptr;
    QString m_strSelected;
    QString m_strCaption = QStringLiteral("Playlist");

protected:
    void showEvent(QShowEvent* event) override;
};
