#pragma once
// "Add RTP destination": an IPv4 address field, a port, for a multicast group its TTL and
// outgoing interface, and the mode (plain RTP; SPA start/stop packets to a control address as
// ADDR:PORT; Polycom group paging on a channel with a caller ID), one row each in a form. The
// multicast rows are enabled only while the address is a group address, the control row only
// in SPA mode, the channel and caller ID rows only in Polycom mode. On "Add" it checks each field
// in turn with the checks the command line applies too, and refuses with a message that names the
// first field that is wrong (focused for the operator to mend); otherwise it builds the
// RtpDestination the view appends. UI thread only.

#include <QDialog>
#include <QString>

#include "playlist/playlist.h"

class IpAddressEdit;
class QComboBox;
class QFormLayout;
class QLineEdit;
class QSpinBox;
class QWidget;

class CDlgDestination : public QDialog {
    Q_OBJECT

public:
    explicit CDlgDestination(QWidget* parent = nullptr);

    IpAddressEdit* AddressEdit() const { return m_addressEdit; }
    // The four number boxes of the address, first (most significant) first, and the port.
    QLineEdit* OctetEdit(int index) const;
    QLineEdit* PortEdit() const { return m_portEdit; }
    QSpinBox* TtlEdit() const { return m_ttlEdit; }
    // Editable: the machine's interfaces are offered, the first entry (empty) leaves the
    // choice to the routing table.
    QComboBox* InterfaceEdit() const { return m_interfaceEdit; }
    // Rows "RTP", "RTP with SPA start/stop", "Polycom group paging", in DestinationMode order;
    // the control address; the Polycom channel and caller ID.
    QComboBox* ModeEdit() const { return m_modeEdit; }
    QLineEdit* ControlEdit() const { return m_controlEdit; }
    QSpinBox* ChannelEdit() const { return m_channelEdit; }
    QLineEdit* CallerEdit() const { return m_callerEdit; }

    // Fills every field from a destination, to change it ("Change RTP destination").
    void SetDestination(const RtpDestination& destination);

    // "Add": reads the controls and closes with OK only when every field is usable.
    void accept() override;

    int m_nPort = 0;
    RtpDestination m_destination;  // filled on OK

private:
    // Shows "<what>: <reason>" and puts the caret into `field`.
    void Refuse(QWidget* field, const QString& what, const QString& reason);
    // The mode's rows into the destination; false (refused, with the message) when the SPA
    // control address or the caller ID cannot be used.
    bool ReadMode(RtpDestination& destination);
    // Enables the multicast rows while the address is a group address, the control row in
    // SPA mode.
    void UpdateMulticastRows();

    QFormLayout* m_form = nullptr;  // one row per field, in tab order
    IpAddressEdit* m_addressEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
    QSpinBox* m_ttlEdit = nullptr;
    QComboBox* m_interfaceEdit = nullptr;
    QComboBox* m_modeEdit = nullptr;
    QLineEdit* m_controlEdit = nullptr;
    QSpinBox* m_channelEdit = nullptr;
    QLineEdit* m_callerEdit = nullptr;
};
