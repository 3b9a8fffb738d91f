#include "convert/convertdlg.h"

#include <QCoreApplication>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFile>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QLabel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>
#include <string>

#include "codec/waveformat.h"
#include "convert/convertdoneevent.h"
#include "convert/folderdialog.h"
#include "convert/outputname.h"
#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "media/audiosourcefile.h"
#include "media/sourceformatinfo.h"
#include "platform/splitpath.h"

namespace {

QString Text(const char* text) {
    return QString::fromUtf8(text);
}

const QString kOutputSuffix = QString::fromLatin1(kConvertedSuffix);

// The one local file a drag carries; empty for anything else.
QString DroppedFile(const QMimeData* data) {
    if (data == nullptr || !data->hasUrls() || data->urls().size() != 1 ||
        !data->urls().front().isLocalFile()) {
        return QString();
    }
    return data->urls().front().toLocalFile();
}

}  // namespace

CConvertDlg::CConvertDlg(QWidget* parent)
    : QDialog(parent), m_outputFormat(std::make_unique<uint8_t[]>(m_converter.FormatRecordSize())) {
    setWindowTitle(QStringLiteral("File format conversion"));
    BuildControls();
    UpdateData(false);
}

CConvertDlg::~CConvertDlg() {
    StopWorker();
}

void CConvertDlg::CreateControls() {
    auto readOnly = [this](const char* name) {
        auto* edit = new QLineEdit(this);
        edit->setReadOnly(true);
        edit->setObjectName(Text(name));
        return edit;
    };
    m_editInput = readOnly("inputPath");
    m_editFormat = readOnly("formatName");
    m_editRate = readOnly("sampleRate");
    m_editChannels = readOnly("channels");
    m_editDuration = readOnly("duration");
    // What describes the input is read, not typed: Tab passes it by, a click still selects.
    for (QLineEdit* field : {m_editFormat, m_editRate, m_editChannels, m_editDuration}) {
        field->setFocusPolicy(Qt::ClickFocus);
    }
    m_editOutput = new QLineEdit(this);
    m_editOutput->setObjectName(QStringLiteral("outputPath"));
    m_progress = new QProgressBar(this);
    m_progress->setObjectName(QStringLiteral("progress"));
    m_progress->setTextVisible(false);
    m_progress->setRange(0, 100);
    m_progress->setValue(0);

    m_btnBrowse = new QPushButton(QStringLiteral("&Browse"), this);
    m_btnBrowse->setObjectName(QStringLiteral("browseButton"));
    m_btnSaveTo = new QPushButton(QStringLiteral("&Save to"), this);
    m_btnSaveTo->setObjectName(QStringLiteral("saveToButton"));
    m_btnConvert = new QPushButton(QStringLiteral("Con&vert"), this);
    m_btnConvert->setObjectName(QStringLiteral("convertButton"));
    m_btnCancel = new QPushButton(QStringLiteral("&Cancel"), this);
    m_btnCancel->setObjectName(QStringLiteral("cancelButton"));
}

void CConvertDlg::LayOutControls() {
    auto* input = new QGroupBox(QStringLiteral("Input"), this);
    auto* inputRow = new QHBoxLayout;
    inputRow->addWidget(m_editInput, 1);
    inputRow->addWidget(m_btnBrowse);
    auto* fields = new QGroupBox(this);
    auto* grid = new QGridLayout(fields);
    grid->addWidget(new QLabel(QStringLiteral("Format"), fields), 0, 0);
    grid->addWidget(m_editFormat, 0, 1, 1, 3);
    grid->addWidget(new QLabel(QStringLiteral("Rate(Hz)"), fields), 1, 0);
    grid->addWidget(m_editRate, 1, 1);
    grid->addWidget(m_editChannels, 1, 2);
    grid->addWidget(new QLabel(QStringLiteral("Duration (sec)"), fields), 2, 0);
    grid->addWidget(m_editDuration, 2, 1);
    auto* inputBox = new QVBoxLayout(input);
    inputBox->addLayout(inputRow);
    inputBox->addWidget(fields);

    auto* output = new QGroupBox(QStringLiteral("Output (mu-law, 8000Hz, mono)"), this);
    auto* outputRow = new QHBoxLayout;
    outputRow->addWidget(m_editOutput, 1);
    outputRow->addWidget(m_btnSaveTo);
    auto* outputBox = new QVBoxLayout(output);
    outputBox->addLayout(outputRow);
    outputBox->addWidget(m_progress);

    auto* buttons = new QHBoxLayout;
    buttons->addStretch(1);
    buttons->addWidget(m_btnConvert);
    buttons->addWidget(m_btnCancel);

    auto* top = new QVBoxLayout(this);
    top->addWidget(input);
    top->addWidget(output);
    top->addLayout(buttons);
}

void CConvertDlg::BuildControls() {
    CreateControls();
    LayOutControls();
    // Tab follows the controls as the operator reads them: the input and its Browse, the
    // output and its Save to, then Convert and Cancel.
    QWidget* tabOrder[] = {m_editInput, m_btnBrowse,  m_editOutput,
                           m_btnSaveTo, m_btnConvert, m_btnCancel};
    for (size_t i = 1; i < std::size(tabOrder); ++i) {
        setTabOrder(tabOrder[i - 1], tabOrder[i]);
    }
    // A file dropped on the output box is an input too, not text for the box.
    m_editOutput->setAcceptDrops(false);
    setAcceptDrops(true);

    connect(m_btnBrowse, &QPushButton::clicked, this, &CConvertDlg::OnBrowse);
    connect(m_btnConvert, &QPushButton::clicked, this, &CConvertDlg::OnConvert);
    connect(m_btnSaveTo, &QPushButton::clicked, this, &CConvertDlg::OnSaveTo);
    connect(m_btnCancel, &QPushButton::clicked, this, &QDialog::reject);
}

bool CConvertDlg::UpdateData(bool saveAndValidate) {
    if (saveAndValidate) {
        m_strInputPath = m_editInput->text();
        m_strFormatName = m_editFormat->text();
        m_nSampleRate = m_editRate->text().toInt();
        m_nDuration = m_editDuration->text().toInt();
        m_strOutputPath = m_editOutput->text();
        m_strChannels = m_editChannels->text();
    } else {
        m_editInput->setText(m_strInputPath);
        m_editFormat->setText(m_strFormatName);
        m_editRate->setText(QString::number(m_nSampleRate));
        m_editDuration->setText(QString::number(m_nDuration));
        m_editOutput->setText(m_strOutputPath);
        m_editChannels->setText(m_strChannels);
    }
    return true;
}

void CConvertDlg::OnBrowse() {
    const QString chosen = uiseam::GetOpenFileName(this, QString(), QString(),
                                                   QStringLiteral("mp3 and wav (*.mp3 *wav)"));
    if (!chosen.isEmpty()) {
        SetInput(chosen);
    }
}

void CConvertDlg::SetInput(const QString& chosen) {
    m_strInputPath = chosen;

    char path[kMaxPathChars] = {};
    AudioSourceFile file;
    SourceFormatInfo info;
    std::string description;
    WAVEFORMATEX format{};
    // A path too long for the records cannot be opened either.
    if (!fixedtext::ToFixed(chosen, path) || !file.Open(path, info, description) ||
        !ReadWaveFormat(info.format.get(), static_cast<size_t>(std::max(info.formatSize, 0)),
                        format)) {
        file.Close();
        m_strInputPath = QStringLiteral("File format not supported");
        m_strFormatName.clear();
        m_nSampleRate = 0;
        m_strChannels = QStringLiteral("Mono");
        m_nDuration = 0;
        // An output proposed for an earlier input has nothing to do with this one: Convert
        // would only offer to overwrite it.
        m_strOutputPath.clear();
        m_bInputRefused = true;
        m_btnConvert->setEnabled(false);
        UpdateData(false);
        return;
    }
    m_bInputRefused = false;
    m_btnConvert->setEnabled(true);

    ACMFORMATTAGDETAILSA details{};
    if (m_converter.Catalog().FindTag(format.wFormatTag, details)) {
        m_strFormatName = QString::fromUtf8(
            details.szFormatTag,
            static_cast<qsizetype>(strnlen(details.szFormatTag, sizeof details.szFormatTag)));
        const platform::SplitPathResult parts = platform::_splitpath(path);
        if (m_strOutputFolder.isEmpty()) {
            m_strOutputFolder = QString::fromUtf8(parts.drive + parts.dir);
        }
        m_strOutputPath = m_strOutputFolder + QString::fromUtf8(parts.fname) + kOutputSuffix;
    } else {
        m_strFormatName = QStringLiteral("Unknown format");
    }
    m_nSampleRate = static_cast<int32_t>(format.nSamplesPerSec);
    m_strChannels = format.nChannels == 1 ? QStringLiteral("Mono") : QStringLiteral("Stereo");
    m_nDuration = file.DurationSeconds();
    file.Close();
    UpdateData(false);
}

void CConvertDlg::OnSaveTo() {
    const QByteArray initial = m_strOutputFolder.toUtf8();
    CFolderDialog folder(QStringLiteral("Select output folder"), initial.constData(), this,
                         BIF_RETURNONLYFSDIRS);
    if (folder.DoModal() != uiseam::IDOK) {
        return;
    }
    // A refused input has no name to pass on.
    const QByteArray input = m_bInputRefused ? QByteArray() : m_strInputPath.toUtf8();
    const platform::SplitPathResult parts = platform::_splitpath(input.constData());
    // The separator is always appended, also to the root.
    m_strOutputFolder = Text(folder.GetFolderPath()) + QLatin1Char(platform::kPathSeparator);
    m_strOutputPath = m_strOutputFolder + QString::fromUtf8(parts.fname) + kOutputSuffix;
    UpdateData(false);
}

void CConvertDlg::OnConvert() {
    if (IsConverting()) {
        return;
    }
    UpdateData(true);
    if (m_strOutputPath.isEmpty()) {
        uiseam::MessageBox(this, QStringLiteral("You have to specify where to save the output"));
        return;
    }
    {
        QFile existing(m_strOutputPath);
        if (existing.open(QIODevice::ReadOnly)) {
            existing.close();
            if (uiseam::MessageBox(this,
                                   QStringLiteral("Do you want to overwrite the existing file?"),
                                   QStringLiteral("Caution"), uiseam::MB_YESNO) != uiseam::IDYES) {
                return;
            }
        }
    }

    m_converter.WriteOutputFormat(m_outputFormat.get());

    char input[kMaxPathChars] = {};
    char target[kMaxPathChars] = {};
    if (!fixedtext::ToFixed(m_strInputPath, input) ||
        !fixedtext::ToFixed(m_strOutputPath, target) ||
        !m_converter.OpenChain(input, target, m_outputFormat.get())) {
        uiseam::MessageBox(this, QStringLiteral("Media file conversion failed..."));
        return;
    }

    // The range is the duration as a 16-bit value; an empty range shows an empty bar.
    const int range = static_cast<uint16_t>(m_nDuration);
    // (Qt would show an empty range as a busy indicator).
    m_progress->setRange(0, std::max(range, 1));
    m_progress->setValue(0);
    m_btnConvert->setEnabled(false);
    m_btnBrowse->setEnabled(false);
    m_strConvertingTo = m_strOutputPath;
    if (!m_conversion.Start()) {
        m_converter.CloseChain();
        m_btnConvert->setEnabled(true);
        m_btnBrowse->setEnabled(true);
        uiseam::MessageBox(this, QStringLiteral("Media file conversion failed..."));
    }
}

void CConvertDlg::OnOK() {
    if (m_btnConvert->isEnabled()) {
        OnConvert();
    }
}

intptr_t CConvertDlg::OnConvertDone(uintptr_t wParam, intptr_t lParam) {
    if (wParam == 0) {
        // Past the (16-bit) range the bar stays full.
        m_progress->setValue(static_cast<int>(
            std::clamp<intptr_t>(lParam, m_progress->minimum(), m_progress->maximum())));
        return 0;
    }
    // The worker has posted its last message and is ending.
    m_conversion.Wait();
    m_progress->setValue(0);
    m_btnConvert->setEnabled(true);
    m_btnBrowse->setEnabled(true);
    if (lParam != 0) {  // nothing was written under the output's name
        uiseam::MessageBox(this, QStringLiteral("Media file conversion failed..."));
    } else {
        uiseam::MessageBox(this, QStringLiteral("Done: %1").arg(m_strConvertingTo));
    }
    return 0;
}

void CConvertDlg::PostConvertDone(uintptr_t wParam, intptr_t lParam) {
    auto* message = new ConvertDoneEvent(wParam, lParam);
    m_postedMessages.fetch_add(1, std::memory_order_release);
    QCoreApplication::postEvent(this, message);
}

bool CConvertDlg::event(QEvent* e) {
    m_postedMessages.load(std::memory_order_acquire);
    if (e->type() == ConvertDoneEvent::kType) {
        const auto* done = static_cast<ConvertDoneEvent*>(e);
        OnConvertDone(done->WParam(), done->LParam());
        return true;
    }
    return QDialog::event(e);
}

void CConvertDlg::keyPressEvent(QKeyEvent* e) {
    if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
        OnOK();
        e->accept();
        return;
    }
    QDialog::keyPressEvent(e);
}

void CConvertDlg::dragEnterEvent(QDragEnterEvent* e) {
    // Only while Browse could be used.
    if (!IsConverting() && !DroppedFile(e->mimeData()).isEmpty()) {
        e->acceptProposedAction();
    }
}

void CConvertDlg::dropEvent(QDropEvent* e) {
    const QString file = DroppedFile(e->mimeData());
    if (IsConverting() || file.isEmpty()) {
        return;
    }
    e->acceptProposedAction();
    SetInput(file);
}

void CConvertDlg::done(int result) {
    StopWorker();
    QDialog::done(result);
}

void CConvertDlg::StopWorker() {
    if (!m_conversion.IsRunning()) {
        return;
    }
    m_conversion.Shutdown();
    // The chain is closed; its messages would only announce what already happened.
    QCoreApplication::removePostedEvents(this, ConvertDoneEvent::kType);
    m_progress->setValue(0);
    m_btnConvert->setEnabled(true);
    m_btnBrowse->setEnabled(true);
}
