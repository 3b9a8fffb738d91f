#pragma once
// "Add RTP destination": an IPv4 address field of four octets and a port. On "Add" it
// checks the entry and builds the RtpDestination the view appends. UI thread only.

#include <QDialog>
#include <array>

#include "playlist/playlist.h"

class QLineEdit;

class CDlgDestination : public QDialog {
    Q_OBJECT

public:
    explicit CDlgDestination(QWidget* parent = nullptr);

    // The four octet fields, first (most significant) first, and the port box.
    QLineEdit* OctetEdit(int index) const { return m_octets.at(static_cast<size_t>(index)); }
    QLineEdit* PortEdit() const { return m_portEdit; }
    // True when every octet field is empty.
    bool IsAddressBlank() const;

    // "Add": reads the controls and closes with OK only when address and port are usable.
    void accept() override;

    int m_nPort = 0;
    RtpDestination m_destination;  // filled on OK

private:
    // Controls -> members; false (with "Enter an integer.") when the port is not an integer.
    bool ReadControls();

    std::array<QLineEdit*, 4> m_octets{};
    QLineEdit* m_portEdit = nullptr;
};
