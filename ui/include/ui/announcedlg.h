#pragma once
// "Announcements and reports": whether a streaming run of the open playlist announces its
// streams with SAP (multicast groups, or also unicast destinations) and sends RTCP sender
// reports. The view sets the members before showing it and reads them after OK; they are
// the playlist's SapAnnounce and RtcpReports values. UI thread only.

#include <QDialog>
#include <cstdint>

class QCheckBox;
class QComboBox;

class CAnnounceDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAnnounceDlg(QWidget* parent = nullptr);

    // Members -> controls; done when shown, and by tests before they press OK.
    void InitDialog();
    void accept() override;

    QComboBox* SapBox() const { return m_sapBox; }
    QCheckBox* RtcpBox() const { return m_rtcpBox; }

    int32_t m_nSapAnnounce = 0;
    int32_t m_nRtcpReports = 0;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QComboBox* m_sapBox = nullptr;
    QCheckBox* m_rtcpBox = nullptr;
};
