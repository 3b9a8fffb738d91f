#include "ui/dlgsource.h"

#include <QComboBox>
#include <QFileInfo>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>
#include <iterator>

#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "playlist/outputcodec.h"
#include "ui/dialogbuttonrow.h"

namespace {

// Rows outside a table (a list with nothing selected) count as its first row.
template <size_t N>
int FromTable(const int (&table)[N], int row) {
    return row >= 0 && static_cast<size_t>(row) < N ? table[row] : table[0];
}

}  // namespace

CDlgSource::CDlgSource(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Select source file"));

    auto* sourceBox = new QGroupBox(QStringLiteral("Source file"), this);
    m_pathEdit = new QLineEdit(sourceBox);
    m_pathEdit->setMinimumWidth(260);
    m_browseButton = new QPushButton(QStringLiteral("&Browse"), sourceBox);
    m_browseButton->setAutoDefault(false);
    auto* sourceRow = new QHBoxLayout(sourceBox);
    sourceRow->addWidget(m_pathEdit, 1);
    sourceRow->addWidget(m_browseButton);

    auto* optionsBox = new QGroupBox(QStringLiteral("Decode options"), this);
    m_formatList = new QComboBox(optionsBox);
    m_formatList->addItems(
        {QStringLiteral("U-LAW"), QStringLiteral("A-LAW"), QStringLiteral("G.722")});
    m_packetizationList = new QComboBox(optionsBox);
    m_packetizationList->addItems(
        {QStringLiteral("20"), QStringLiteral("40"), QStringLiteral("80"), QStringLiteral("160")});
    auto* optionsRow = new QHBoxLayout(optionsBox);
    optionsRow->addWidget(new QLabel(QStringLiteral("Format (G711/G722)"), optionsBox));
    optionsRow->addWidget(m_formatList);
    optionsRow->addSpacing(16);
    optionsRow->addWidget(new QLabel(QStringLiteral("Packetization time (ms)"), optionsBox));
    optionsRow->addWidget(m_packetizationList);
    optionsRow->addStretch(1);

    QHBoxLayout* buttons = MakeDialogButtonRow(this, QStringLiteral("&OK"));

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(sourceBox);
    layout->addWidget(optionsBox);
    layout->addLayout(buttons);
    layout->setSizeConstraint(QLayout::SetFixedSize);

    connect(m_browseButton, &QPushButton::clicked, this, &CDlgSource::OnBrowse);

    UpdateData(false);
    m_sourceEntry = PlaylistFile{};
}

void CDlgSource::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_nFormat = m_formatList->currentIndex();
        m_nPacketization = m_packetizationList->currentIndex();
        m_strPath = m_pathEdit->text();
    } else {
        m_formatList->setCurrentIndex(m_nFormat);
        m_packetizationList->setCurrentIndex(m_nPacketization);
        m_pathEdit->setText(m_strPath);
    }
}

bool CDlgSource::EntryFor(const QString& path, PlaylistFile& entry) {
    // The whole path must fit the entry's field: a cut path would name another file.
    entry = PlaylistFile{};
    const QString name = QFileInfo(path).fileName();
    if (!fixedtext::ToFixed(path, entry.Source.path) || !fixedtext::ToFixed(name, entry.Name)) {
        uiseam::MessageBox(this, QStringLiteral("The path of the file is too long"));
        return false;
    }
    return true;
}

void CDlgSource::OnBrowse() {
    const QStringList chosen = uiseam::GetOpenFileNames(this, QStringLiteral("Open"), QString(),
                                                        QStringLiteral("mp3 and wav (*.mp3 *wav)"));
    if (chosen.isEmpty()) {
        return;
    }
    std::vector<PlaylistFile> entries(static_cast<size_t>(chosen.size()));
    for (qsizetype i = 0; i < chosen.size(); ++i) {
        if (!EntryFor(chosen[i], entries[static_cast<size_t>(i)])) {
            return;
        }
    }
    m_sourceEntry = entries.front();
    m_moreEntries.assign(entries.begin() + 1, entries.end());
    if (chosen.size() == 1) {
        m_strPath = chosen.front();
    } else {
        // Several files read as the desktop's file dialogs write them: quoted names.
        QStringList quoted;
        for (const QString& path : chosen) {
            quoted << QLatin1Char('"') + QFileInfo(path).fileName() + QLatin1Char('"');
        }
        m_strPath = quoted.join(QLatin1Char(' '));
    }
    m_strBrowsedText = m_strPath;
    UpdateData(false);
}

void CDlgSource::accept() {
    UpdateData(true);
    if (m_strPath.trimmed().isEmpty()) {
        uiseam::MessageBox(this, QStringLiteral("Please select the source file"));
        return;
    }
    if (m_strPath != m_strBrowsedText) {
        // A typed path names the one file, checked as a browsed one is.
        PlaylistFile typed;
        if (!EntryFor(QFileInfo(m_strPath.trimmed()).absoluteFilePath(), typed)) {
            return;
        }
        m_sourceEntry = typed;
        m_moreEntries.clear();
    }
    const auto settle = [this](PlaylistFile& entry) {
        entry.DstFormat = FromTable(kFormatTags, m_nFormat);
        // G.722 exists at 16 kHz: the files are resampled to it.
        entry.DstSampleRate = FindOutputCodec(entry.DstFormat)->sampleRate;
        entry.DstPacketization = FromTable(kPacketizations, m_nPacketization);
    };
    settle(m_sourceEntry);
    for (PlaylistFile& entry : m_moreEntries) {
        settle(entry);
    }
    QDialog::accept();
}

PlaylistFile CDlgSource::EntryForFile(const QString& path) {
    const QFileInfo file(path);
    PlaylistFile entry;
    if (!fixedtext::ToFixed(file.absoluteFilePath(), entry.Source.path) ||
        !fixedtext::ToFixed(file.fileName(), entry.Name)) {
        entry = PlaylistFile{};
    }
    entry.DstFormat = kFormatTags[0];
    entry.DstSampleRate = kOutputSampleRate;
    entry.DstPacketization = kPacketizations[0];
    return entry;
}
