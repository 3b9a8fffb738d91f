#include "ui/announcedlg.h"

#include <QCheckBox>
#include <QComboBox>
#include <QFormLayout>
#include <QHBoxLayout>
#include <QPushButton>
#include <QVBoxLayout>
#include <algorithm>

#include "playlist/playlist.h"

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
    layout->addLayout(buttons);
}

void CAnnounceDlg::InitDialog() {
    m_sapBox->setCurrentIndex(std::clamp<int>(m_nSapAnnounce, kSapOff, kSapAll));
    m_rtcpBox->setChecked(m_nRtcpReports != 0);
}

void CAnnounceDlg::showEvent(QShowEvent* event) {
    InitDialog();
    QDialog::showEvent(event);
}

void CAnnounceDlg::accept() {
    m_nSapAnnounce = m_sapBox->currentIndex();
    m_nRtcpReports = m_rtcpBox->isChecked() ? 1 : 0;
    QDialog::accept();
}
