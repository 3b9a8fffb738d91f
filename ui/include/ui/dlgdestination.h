#pragma once
// "Add RTP destination": an IPv4 address field and a port, one row each in a form. On "Add"
// it checks each field in turn, and refuses with a message that names the first field that
// is wrong (focused for the operator to mend); otherwise it builds the RtpDestination the
// view appends. UI thread only.

#include <QDialog>
#include <QString>

#include "playlist/playlist.h"

class IpAddressEdit;
class QFormLayout;
class QLineEdit;
class QWidget;

class CDlgDestination : public QDialog {
    Q_OBJECT

public:
    explicit CDlgDestination(QWidget* parent = nullptr);

    IpAddressEdit* AddressEdit() const { return m_addressEdit; }
    // The four number boxes of the address, first (most significant) first, and the port.
    QLineEdit* OctetEdit(int index) const;
    QLineEdit* PortEdit() const { return m_portEdit; }

    // "Add": reads the controls and closes with OK only when every field is usable.
    void accept() override;

    int m_nPort = 0;
    RtpDestination m_destination;  // filled on OK

private:
    // Shows "Incorrect IP address or port: <reason>" and puts the caret into `field`.
    void Refuse(QWidget* field, const QString& reason);

    QFormLayout* m_form = nullptr;  // one row per field, in tab order
    IpAddressEdit* m_addressEdit = nullptr;
    QLineEdit* m_portEdit = nullptr;
};
