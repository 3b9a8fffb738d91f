#include "ui/dlgdestination.h"

#include <QHBoxLayout>
#include <QIntValidator>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QVBoxLayout>

#include "kit/uiseam.h"

namespace {

constexpr int kMaxPort = 65535;

}  // namespace

CDlgDestination::CDlgDestination(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Add RTP destination"));

    auto* addressRow = new QHBoxLayout;
    addressRow->setSpacing(2);
    addressRow->addWidget(new QLabel(QStringLiteral("IP address"), this));
    for (size_t i = 0; i < m_octets.size(); ++i) {
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QStringLiteral("octet%1").arg(i + 1));
        edit->setValidator(new QIntValidator(0, 255, edit));
        edit->setMaxLength(3);
        edit->setFixedWidth(40);
        edit->setAlignment(Qt::AlignCenter);
        m_octets[i] = edit;
        if (i > 0) {
            addressRow->addWidget(new QLabel(QStringLiteral("."), this));
        }
        addressRow->addWidget(edit);
    }

    auto* portRow = new QHBoxLayout;
    portRow->addWidget(new QLabel(QStringLiteral("Port"), this));
    m_portEdit = new QLineEdit(QString::number(m_nPort), this);
    m_portEdit->setObjectName(QStringLiteral("port"));
    portRow->addWidget(m_portEdit);
    portRow->addStretch();

    auto* buttons = new QHBoxLayout;
    auto* add = new QPushButton(QStringLiteral("Add"), this);
    auto* cancel = new QPushButton(QStringLiteral("Cancel"), this);
    add->setDefault(true);
    connect(add, &QPushButton::clicked, this, &CDlgDestination::accept);
    connect(cancel, &QPushButton::clicked, this, &CDlgDestination::reject);
    buttons->addStretch();
    buttons->addWidget(add);
    buttons->addWidget(cancel);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(addressRow);
    layout->addLayout(portRow);
    layout->addLayout(buttons);
}

bool CDlgDestination::IsAddressBlank() const {
    for (const QLineEdit* edit : m_octets) {
        if (!edit->text().trimmed().isEmpty()) {
            return false;
        }
    }
    return true;
}

bool CDlgDestination::ReadControls() {
    bool ok = false;
    const int port = m_portEdit->text().trimmed().toInt(&ok, 10);
    if (!ok) {
        uiseam::MessageBox(this, QStringLiteral("Enter an integer."));
        m_portEdit->setFocus();
        m_portEdit->selectAll();
        return false;
    }
    m_nPort = port;
    return true;
}

void CDlgDestination::accept() {
    if (!ReadControls()) {
        return;
    }
    // A port outside 1..65535 would silently go to another port (only the low 16 bits reach
    // the wire), so it is refused like a zero port.
    if (IsAddressBlank() || m_nPort <= 0 || m_nPort > kMaxPort) {
        uiseam::MessageBox(this, QStringLiteral("Incorrect IP address or port"));
        return;
    }
    // A field left empty beside filled ones counts as 0, as the address control reads it.
    uint8_t octets[4] = {};
    for (size_t i = 0; i < m_octets.size(); ++i) {
        const int value = m_octets[i]->text().trimmed().toInt();
        if (value < 0 || value > 255) {
            uiseam::MessageBox(this, QStringLiteral("Incorrect IP address or port"));
            return;
        }
        octets[i] = static_cast<uint8_t>(value);
    }
    m_destination = RtpDestination::FromOctets(octets[0], octets[1], octets[2], octets[3],
                                               static_cast<uint32_t>(m_nPort));
    QDialog::accept();
}
