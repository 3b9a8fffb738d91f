#include "ui/dlgdestination.h"

#include <QComboBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>
#include <QSpinBox>
#include <QVBoxLayout>
#include <string>

#include <unistd.h>

#include "kit/fixedtext.h"
#include "kit/uiseam.h"
#include "platform/netinterfaces.h"
#include "playlist/destinationcheck.h"
#include "ui/dialogbuttonrow.h"
#include "ui/ipaddressedit.h"

namespace {

const QString kAddressOrPort = QStringLiteral("Incorrect IP address or port");
const QString kMulticast = QStringLiteral("Incorrect multicast setting");
const QString kControl = QStringLiteral("Incorrect SPA control address");
const QString kPolycom = QStringLiteral("Incorrect Polycom setting");

QString Text(const std::string& text) {
    return QString::fromStdString(text);
}

}  // namespace

CDlgDestination::CDlgDestination(QWidget* parent) : QDialog(parent) {
    setWindowTitle(QStringLiteral("Add RTP destination"));

    // Rows are created in tab order: the address, the port, then the multicast settings.
    m_addressEdit = new IpAddressEdit(this);
    m_addressEdit->setObjectName(QStringLiteral("address"));
    m_portEdit = new QLineEdit(QString::number(m_nPort), this);
    m_portEdit->setObjectName(QStringLiteral("port"));
    m_ttlEdit = new QSpinBox(this);
    m_ttlEdit->setObjectName(QStringLiteral("ttl"));
    m_ttlEdit->setRange(static_cast<int>(destinationcheck::kMinTtl),
                        static_cast<int>(destinationcheck::kMaxTtl));
    m_ttlEdit->setValue(static_cast<int>(kDefaultMulticastTtl));
    m_interfaceEdit = new QComboBox(this);
    m_interfaceEdit->setObjectName(QStringLiteral("interface"));
    m_interfaceEdit->setEditable(true);
    m_interfaceEdit->addItem(QString());
    for (const std::string& name : platform::NetworkInterfaceNames()) {
        m_interfaceEdit->addItem(Text(name));
    }
    m_interfaceEdit->lineEdit()->setPlaceholderText(QStringLiteral("routing table's choice"));
    m_modeEdit = new QComboBox(this);
    m_modeEdit->setObjectName(QStringLiteral("mode"));
    m_modeEdit->addItems({QStringLiteral("RTP"), QStringLiteral("RTP with SPA start/stop"),
                          QStringLiteral("Polycom group paging")});
    m_controlEdit = new QLineEdit(this);
    m_controlEdit->setObjectName(QStringLiteral("control"));
    m_controlEdit->setPlaceholderText(QStringLiteral("ADDR:PORT"));
    const RtpDestination defaults;
    m_channelEdit = new QSpinBox(this);
    m_channelEdit->setObjectName(QStringLiteral("channel"));
    m_channelEdit->setRange(1, 50);
    m_channelEdit->setValue(defaults.Channel);
    m_callerEdit = new QLineEdit(fixedtext::FromFixed(defaults.CallerId), this);
    m_callerEdit->setObjectName(QStringLiteral("caller"));

    m_form = new QFormLayout;
    m_form->addRow(QStringLiteral("IP address"), m_addressEdit);
    m_form->addRow(QStringLiteral("Port"), m_portEdit);
    m_form->addRow(QStringLiteral("Multicast TTL"), m_ttlEdit);
    m_form->addRow(QStringLiteral("Multicast interface"), m_interfaceEdit);
    m_form->addRow(QStringLiteral("Mode"), m_modeEdit);
    m_form->addRow(QStringLiteral("SPA control"), m_controlEdit);
    m_form->addRow(QStringLiteral("Polycom channel"), m_channelEdit);
    m_form->addRow(QStringLiteral("Caller ID"), m_callerEdit);

    auto* layout = new QVBoxLayout(this);
    layout->addLayout(m_form);
    layout->addLayout(MakeDialogButtonRow(this, QStringLiteral("&Add")));

    for (int i = 0; i < 4; ++i) {
        connect(OctetEdit(i), &QLineEdit::textChanged, this, &CDlgDestination::UpdateMulticastRows);
    }
    connect(m_modeEdit, &QComboBox::currentIndexChanged, this,
            &CDlgDestination::UpdateMulticastRows);
    UpdateMulticastRows();
}

QLineEdit* CDlgDestination::OctetEdit(int index) const {
    return m_addressEdit->Box(index);
}

void CDlgDestination::SetDestination(const RtpDestination& destination) {
    setWindowTitle(QStringLiteral("Change RTP destination"));
    for (auto* button : findChildren<QPushButton*>()) {
        if (button->isDefault()) {
            button->setText(QStringLiteral("C&hange"));
        }
    }
    m_addressEdit->SetAddress(Text(destination.AddressText()));
    m_portEdit->setText(QString::number(destination.Port));
    m_ttlEdit->setValue(static_cast<int>(destination.Ttl));
    m_interfaceEdit->setCurrentText(fixedtext::FromFixed(destination.Interface));
    m_modeEdit->setCurrentIndex(destination.Mode == kModeSpa       ? 1
                                : destination.Mode == kModePolycom ? 2
                                                                   : 0);
    m_channelEdit->setValue(destination.Channel);
    m_callerEdit->setText(fixedtext::FromFixed(destination.CallerId));
    m_controlEdit->setText(destination.Mode == kModeSpa ? Text(destination.ControlText())
                                                        : QString());
    UpdateMulticastRows();
}

void CDlgDestination::UpdateMulticastRows() {
    const auto octets = m_addressEdit->Address();
    const bool group = octets && ((*octets)[0] & 0xF0) == 0xE0;
    m_ttlEdit->setEnabled(group);
    m_interfaceEdit->setEnabled(group);
    m_controlEdit->setEnabled(m_modeEdit->currentIndex() == 1);
    m_channelEdit->setEnabled(m_modeEdit->currentIndex() == 2);
    m_callerEdit->setEnabled(m_modeEdit->currentIndex() == 2);
}

void CDlgDestination::Refuse(QWidget* field, const QString& what, const QString& reason) {
    uiseam::MessageBox(this, what + QStringLiteral(": ") + reason);
    field->setFocus(Qt::OtherFocusReason);
    if (auto* edit = qobject_cast<QLineEdit*>(field->focusProxy() ? field->focusProxy() : field)) {
        edit->selectAll();
    }
}

bool CDlgDestination::ReadMode(RtpDestination& destination) {
    if (m_modeEdit->currentIndex() == 1) {
        destination.Mode = kModeSpa;
        const std::string problem = destinationcheck::ControlProblem(
            m_controlEdit->text().trimmed().toStdString(), destination);
        if (!problem.empty()) {
            Refuse(m_controlEdit, kControl, Text(problem));
            return false;
        }
    }
    if (m_modeEdit->currentIndex() == 2) {
        destination.Mode = kModePolycom;
        destination.Channel = m_channelEdit->value();
        const std::string caller = m_callerEdit->text().toStdString();
        const std::string problem = destinationcheck::CallerIdProblem(caller);
        if (!problem.empty()) {
            Refuse(m_callerEdit, kPolycom, Text(problem));
            return false;
        }
        destination.SetCallerId(caller.c_str());
        // The host id tells two machines apart, as a phone's serial (its MAC) would.
        destination.Serial = static_cast<uint32_t>(::gethostid());
    }
    return true;
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
        Refuse(m_addressEdit, kAddressOrPort, QString::fromLatin1(destinationcheck::kAddressRule));
        return;
    }
    const std::string portProblem = destinationcheck::PortProblem(m_nPort);
    if (!portProblem.empty()) {
        Refuse(m_portEdit, kAddressOrPort, Text(portProblem));
        return;
    }
    RtpDestination destination = RtpDestination::FromOctets(
        (*octets)[0], (*octets)[1], (*octets)[2], (*octets)[3], static_cast<uint32_t>(m_nPort));
    const std::string addressProblem = destinationcheck::AddressProblem(destination);
    if (!addressProblem.empty()) {
        Refuse(m_addressEdit, kAddressOrPort, Text(addressProblem));
        return;
    }
    // The multicast rows count only for a group address; for any other they are disabled.
    // The TTL box holds only usable values, so the interface is what may be refused.
    if (destination.IsMulticast()) {
        destination.Ttl = static_cast<uint32_t>(m_ttlEdit->value());
        const std::string name = m_interfaceEdit->currentText().trimmed().toStdString();
        std::string problem = destinationcheck::InterfaceProblem(name);
        if (problem.empty() && !destination.SetInterface(name.c_str())) {
            problem = "interface name too long";
        }
        if (!problem.empty()) {
            Refuse(m_interfaceEdit, kMulticast, Text(problem));
            return;
        }
    }
    if (!ReadMode(destination)) {
        return;
    }
    m_destination = destination;
    QDialog::accept();
}
