#include "ui/dlgdestination.h"

#include <QFormLayout>
#include <QLineEdit>
#include <QVBoxLayout>

#include "kit/uiseam.h"
#include "ui/dialogbuttonrow.h"
#include "ui/ipaddressedit.h"

namespace {

constexpr int kMaxPort = 65535;

}  // namespace

CDlgDestination::CDlgDestination(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Add RTP destination"));

    // Rows are created in tab order: the address, then the port.
    m_addressEdit = new IpAddressEdit(this);
    m_addressEdit->setObjectName(QStringLiteral("address"));
    m_portEdit = new QLineEdit(QString::number(m_nPort), this);
    m_portEdit->setObjectName(QStringLiteral("port"));

    m_form = new QFormLayout;
    m_form->addRow(QStringLiteral("IP address"), m_addressEdit);
    m_form->addRow(QStringLiteral("Port"), m_portEdit);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addLayout(MakeDialogButtonRow(this, QStringLiteral("Add")));
}

QLineEdit* CDlgDestination::OctetEdit(int index) const {
    return m_addressEdit->Box(index);
}

void CDlgDestination::Refuse(QWidget* field, const QString& reason) {
    uiseam::MessageBox(this, QStringLiteral("Incorrect IP address or port: %1").arg(reason));
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field->focusProxy() ? field->focusProxy() : field)) {
        edit->selectAll();
    }
}

void CDlgDestination::accept() {
    bool integer = false;
    const int port = m_portEdit->text().trimmed().toInt(&integer, 10);
    if (!integer) {
        uiseam::MessageBox(this, QStringLiteral("Enter an integer."));
        m_portEdit->setFocus(Qt::OtherFocusReason);
        m_portEdit->selectAll();
        return;
    }
    m_nPort = port;

    // Each field in turn; the first that is wrong is named. A blank or partly filled
    // address would send to an address nobody typed, and a port outside 1..65535 to another
    // port (only its low 16 bits reach the wire).
    const auto octets = m_addressEdit->Address();
    if (!octets) {
        Refuse(m_addressEdit, QStringLiteral("IP address must be four numbers of 0-255"));
        return;
    }
    if (m_nPort <= 0 || m_nPort > kMaxPort) {
        Refuse(m_portEdit, QStringLiteral("port must be 1-65535"));
        return;
    }
    m_destination = RtpDestination::FromOctets((*octets)[0], (*octets)[1], (*octets)[2],
                                               (*octets)[3], static_cast<uint32_t>(m_nPort));
    QDialog::accept();
}
