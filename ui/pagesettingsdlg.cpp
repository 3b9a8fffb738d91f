#include "ui/pagesettingsdlg.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>
#include <algorithm>
#include <iterator>
#include <string>

#include "document/playlistdocument.h"
#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "platform/alsacapture.h"
#include "playlist/outputcodec.h"
#include "ui/dialogbuttonrow.h"

namespace {

constexpr const char* kDeviceSetting = "PageDevice";
constexpr const char* kModeSetting = "PageMode";
constexpr const char* kLawSetting = "PageLaw";
constexpr const char* kPtimeSetting = "PagePtime";

int PtimeRow(int ptimeMs) {
    const auto* found =
        std::find(std::begin(PageSettings::kPtimes), std::end(PageSettings::kPtimes), ptimeMs);
    return found == std::end(PageSettings::kPtimes)
               ? -1
               : static_cast<int>(found - std::begin(PageSettings::kPtimes));
}

}  // namespace

PageSettings PageSettings::Load(PlaylistDocument& document) {
    PageSettings settings;
    std::string value;
    PlaylistDocument::PageRequest fits;
    if (document.ReadSetting(kDeviceSetting, value) && !value.empty() &&
        fixedtext::ToFixed(QString::fromStdString(value), fits.Device)) {
        settings.device = QString::fromStdString(value);
    }
    settings.toggle = document.ReadSetting(kModeSetting, value) && value == "toggle";
    if (document.ReadSetting(kLawSetting, value)) {
        const OutputCodec* codec = FindOutputCodecByWord(value);
        settings.law = codec != nullptr ? static_cast<uint16_t>(codec->format) : kMuLaw;
    }
    if (document.ReadSetting(kPtimeSetting, value)) {
        bool number = false;
        const int ptime = QString::fromStdString(value).toInt(&number, 10);
        if (number && PtimeRow(ptime) >= 0) {
            settings.ptimeMs = ptime;
        }
    }
    return settings;
}

bool PageSettings::Save(PlaylistDocument& document) const {
    // Each value on its own: one the store refuses does not keep the others back.
    bool stored = document.WriteSetting(kDeviceSetting, device.toStdString());
    stored = document.WriteSetting(kModeSetting, toggle ? "toggle" : "hold") && stored;
    const OutputCodec* codec = FindOutputCodec(law);
    stored = document.WriteSetting(kLawSetting, codec != nullptr ? codec->word : "mu") && stored;
    return document.WriteSetting(kPtimeSetting, std::to_string(ptimeMs)) && stored;
}

bool PageSettings::ToRequest(PlaylistDocument::PageRequest& request) const {
    request = PlaylistDocument::PageRequest{};
    request.Law = law;
    request.PtimeMs = ptimeMs;
    request.DurationMs = 0;  // until the operator ends it
    return fixedtext::ToFixed(device, request.Device);
}

CPageSettingsDlg::CPageSettingsDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Page settings"));
    m_deviceBox = new QComboBox(this);
    m_deviceBox->setEditable(true);
    m_deviceBox->setInsertPolicy(QComboBox::NoInsert);
    m_deviceBox->setMinimumContentsLength(24);
    for (const std::string& name : platform::CaptureDeviceNames()) {
        m_deviceBox->addItem(QString::fromStdString(name));
    }
    m_modeBox = new QComboBox(this);
    m_modeBox->addItem(QStringLiteral("Hold the Page button down to talk"));
    m_modeBox->addItem(QStringLiteral("Click Page to start, click again to end"));
    m_lawBox = new QComboBox(this);
    m_lawBox->addItem(QStringLiteral("G.711 mu-law"));
    m_lawBox->addItem(QStringLiteral("G.711 A-law"));
    m_lawBox->addItem(QStringLiteral("G.722"));
    m_ptimeBox = new QComboBox(this);
    for (const int ptime : PageSettings::kPtimes) {
        m_ptimeBox->addItem(QStringLiteral("%1 ms").arg(ptime));
    }

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("Capture &device:"), m_deviceBox);
    form->addRow(QStringLiteral("Page &button:"), m_modeBox);
    form->addRow(QStringLiteral("&Encoding:"), m_lawBox);
    form->addRow(QStringLiteral("&Packet time:"), m_ptimeBox);
    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addLayout(MakeDialogButtonRow(this, QStringLiteral("&OK")));
}

void CPageSettingsDlg::InitDialog() {
    m_deviceBox->setCurrentText(m_settings.device);
    m_modeBox->setCurrentIndex(m_settings.toggle ? 1 : 0);
    const auto* row =
        std::find(std::begin(PageSettings::kLaws), std::end(PageSettings::kLaws), m_settings.law);
    m_lawBox->setCurrentIndex(
        row == std::end(PageSettings::kLaws) ? 0 : static_cast<int>(row - PageSettings::kLaws));
    m_ptimeBox->setCurrentIndex(std::max(PtimeRow(m_settings.ptimeMs), 0));
}

void CPageSettingsDlg::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CPageSettingsDlg::accept() {
    const QString device = m_deviceBox->currentText().trimmed();
    PlaylistDocument::PageRequest fits;
    QString problem;
    if (device.isEmpty()) {
        problem = QStringLiteral("Enter the name of a capture device, such as default.");
    } else if (!fixedtext::ToFixed(device, fits.Device)) {
        problem = QStringLiteral("The capture device name is too long: at most %1 bytes.")
                      .arg(sizeof fits.Device - 1);
    }
    if (!problem.isEmpty()) {
        uiseam::MessageBox(this, problem);
        m_deviceBox->setFocus(Qt::OtherFocusReason);
        m_deviceBox->lineEdit()->selectAll();
        return;
    }
    m_settings.device = device;
    m_settings.toggle = m_modeBox->currentIndex() == 1;
    m_settings.law = PageSettings::kLaws[std::clamp(m_lawBox->currentIndex(), 0, 2)];
    m_settings.ptimeMs = PageSettings::kPtimes[std::clamp(m_ptimeBox->currentIndex(), 0, 3)];
    QDialog::accept();
}
