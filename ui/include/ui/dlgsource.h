#pragma once
// "Select source file": picks audio files with Browse (several at once) or a path typed into
// the box, and their output settings (codec and packetization time) for Add file. On OK
// m_sourceEntry holds the first file's display name, its full path and the output settings,
// m_moreEntries the other files chosen, in the order chosen; every other field is zero.
// UI thread only.

#include <QDialog>
#include <QString>
#include <vector>

#include "playlist/playlist.h"

class QComboBox;
class QLineEdit;
class QPushButton;

class CDlgSource : public QDialog {
    Q_OBJECT

public:
    static constexpr int kFormatTags[] = {7, 6, 0x65};           // rows "U-LAW", "A-LAW", "G.722"
    static constexpr int kPacketizations[] = {20, 40, 80, 160};  // rows in ms
    static constexpr int kOutputSampleRate = 8000;               // G.711's; G.722 is 16000
    // The entry of a file handed over without the dialog (a drop, the command line): its name
    // and full path, mu-law, 8000 Hz, 20 ms. A path that does not fit leaves both empty, and
    // the probe refuses it.
    static PlaylistFile EntryForFile(const QString& path);

    explicit CDlgSource(QWidget* parent = nullptr);

    // Data exchange: true reads the controls into the members, false pushes the members to
    // the controls.
    void UpdateData(bool saveAndValidate);
    // Browse: choose the source files; cancelling changes nothing.
    void OnBrowse();
    // Confirm source: refuses an empty path; takes a path typed over the browsed ones as the
    // one file; fills the output settings and closes.
    void accept() override;

    QLineEdit* PathEdit() const { return m_pathEdit; }
    QComboBox* FormatList() const { return m_formatList; }
    QComboBox* PacketizationList() const { return m_packetizationList; }
    QPushButton* BrowseButton() const { return m_browseButton; }

    int m_nFormat = 0;
    int m_nPacketization = 0;
    QString m_strPath;
    PlaylistFile m_sourceEntry;
    std::vector<PlaylistFile> m_moreEntries;

private:
    // An entry for a path, named after its file; false (with the message shown) when the
    // path does not fit the entry.
    bool EntryFor(const QString& path, PlaylistFile& entry);

    QString m_strBrowsedText;  // what Browse put into the path box
    QLineEdit* m_pathEdit = nullptr;
    QPushButton* m_browseButton = nullptr;
    QComboBox* m_formatList = nullptr;
    QComboBox* m_packetizationList = nullptr;
};
