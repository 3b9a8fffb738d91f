#include "ui/announcedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <algorithm>

CAnnounceDlg::CAnnounceDlg(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Announcements and reports"));
    // Row i is SapAnnounceMode i.
    m_sapBox = new QComboBox(this);
    m_sapBox->addItem(QStringLiteral("Off"));
    m_sapBox->addItem(QStringLiteral("Multicast groups"));
    m_sapBox->addItem(QStringLiteral("Multicast groups and unicast destinations"));
    m_rtcpBox = new QCheckBox(QStringLiteral("Send RTCP sender reports"), this);

    auto* form = new QFormLayout;
    form->addRow(QStringLiteral("SAP announcements:"), m_sapBox);
    form->addRow(m_rtcpBox);

    auto* ok = new QPushButton(QStringLiteral("OK"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    ok->setDefault(true);
    connect(ok, &QPushButton::clicked, this, &CAnnounceDlg::accept);
    connect(cancel, &QPushButton::clicked, this, &CAnnounceDlg::reject);
    auto* buttons = new QHBoxLayout;
    buttons->addStretch();
    buttons->addWidget(ok);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(form);
    layout->addWidget(MakeSharingGroup());
    layout->addLayout(buttons);
}

QWidget* CAnnounceDlg::MakeSharingGroup() {
    auto* group = new QGroupBox(QStringLiteral("When other sources play"), this);
    m_priorityBox = new QSpinBox(group);
    m_priorityBox->setRange(kPriorityUnset, kPriorityEmergency);
    m_priorityBox->setToolTip(
        QStringLiteral("Higher wins at each destination; 100 is an emergency and overrides "
                       "everything. A live page has %1.")
            .arg(kDefaultPagePriority));
    m_roleBox = new QComboBox(group);
    m_roleBox->addItem(QStringLiteral("Background"));
    m_roleBox->addItem(QStringLiteral("Announcement"));
    m_interruptedBox = new QComboBox(group);
    m_interruptedBox->addItem(QStringLiteral("Play on, lowered"));
    m_interruptedBox->addItem(QStringLiteral("Mute"));
    m_duckBox = new QSpinBox(group);
    m_duckBox->setRange(kMinDuckDb, 0);
    m_duckBox->setSuffix(QStringLiteral(" dB"));
    connect(m_roleBox, &QComboBox::currentIndexChanged, this, &CAnnounceDlg::UpdateSharing);
    connect(m_interruptedBox, &QComboBox::currentIndexChanged, this, &CAnnounceDlg::UpdateSharing);

    auto* form = new QFormLayout(group);
    form->addRow(QStringLiteral("Role:"), m_roleBox);
    form->addRow(QStringLiteral("Priority (0-100):"), m_priorityBox);
    form->addRow(QStringLiteral("When a higher priority plays:"), m_interruptedBox);
    form->addRow(QStringLiteral("Volume while lowered:"), m_duckBox);
    UpdateSharing();
    return group;
}

void CAnnounceDlg::UpdateSharing() {
    Playlist unset;
    unset.Role =
        m_roleBox->currentIndex() == kRoleAnnouncement ? kRoleAnnouncement : kRoleBackground;
    m_priorityBox->setSpecialValueText(
        QStringLiteral("Default (%1)").arg(unset.EffectivePriority()));
    m_duckBox->setEnabled(m_interruptedBox->currentIndex() == kInterruptedDuck);
}

void CAnnounceDlg::InitDialog() {
    m_sapBox->setCurrentIndex(std::clamp<int>(m_nSapAnnounce, kSapOff, kSapAll));
    m_rtcpBox->setChecked(m_nRtcpReports != 0);
    // Values out of range show as the defaults the store would read them as.
    const bool priorityKnown = m_nPriority >= 0 && m_nPriority <= kPriorityEmergency;
    m_priorityBox->setValue(priorityKnown ? m_nPriority : kPriorityUnset);
    m_roleBox->setCurrentIndex(m_nRole == kRoleAnnouncement ? kRoleAnnouncement : kRoleBackground);
    m_interruptedBox->setCurrentIndex(m_nInterrupted == kInterruptedMute ? kInterruptedMute
                                                                         : kInterruptedDuck);
    const bool levelKnown = m_nDuckDb >= kMinDuckDb && m_nDuckDb <= 0;
    m_duckBox->setValue(levelKnown ? m_nDuckDb : kDefaultDuckDb);
    UpdateSharing();
}

void CAnnounceDlg::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CAnnounceDlg::accept() {
    m_nSapAnnounce = m_sapBox->currentIndex();
    m_nRtcpReports = m_rtcpBox->isChecked() ? 1 : 0;
    m_nPriority = m_priorityBox->value();
    m_nRole = m_roleBox->currentIndex();
    m_nInterrupted = m_interruptedBox->currentIndex();
    m_nDuckDb = m_duckBox->value();
    QDialog::accept();
}
