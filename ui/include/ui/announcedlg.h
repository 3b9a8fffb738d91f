#pragma once
// "Announcements and reports": whether a streaming run of the open playlist announces its
// streams with SAP (multicast groups, or also unicast destinations) and sends RTCP sender
// reports, and, in "When other sources play", how its runs share destinations with a
// server's other sources: priority, role, and whether it is ducked or muted while a source
// of higher priority plays. The view sets the members before showing it and reads them after
// OK; they are the playlist's SapAnnounce, RtcpReports, Priority, Role, Interrupted and DuckDb
// values. UI thread only.

#include <QDialog>
#include <cstdint>

#include "playlist/playlist.h"

class QCheckBox;
class QComboBox;
class QSpinBox;

class CAnnounceDlg : public QDialog {
    Q_OBJECT

public:
    explicit CAnnounceDlg(QWidget* parent = nullptr);

    // Members -> controls; done when shown, and by tests before they press OK.
    void InitDialog();
    void accept() override;

    QComboBox* SapBox() const { return m_sapBox; }
    QCheckBox* RtcpBox() const { return m_rtcpBox; }
    // At its minimum (kPriorityUnset) it shows the role's default instead of a number.
    QSpinBox* PriorityBox() const { return m_priorityBox; }
    QComboBox* RoleBox() const { return m_roleBox; }                // row i is PlaylistRole i
    QComboBox* InterruptedBox() const { return m_interruptedBox; }  // row i is InterruptedMode i
    QSpinBox* DuckBox() const { return m_duckBox; }  // enabled while ducking is chosen

    int32_t m_nSapAnnounce = 0;
    int32_t m_nRtcpReports = 0;
    int32_t m_nPriority = kPriorityUnset;
    int32_t m_nRole = kRoleBackground;
    int32_t m_nInterrupted = kInterruptedDuck;
    int32_t m_nDuckDb = kDefaultDuckDb;

protected:
    void showEvent(QShowEvent* event) override;

private:
    QWidget* MakeSharingGroup();
    // The unset priority names the default of the chosen role; the level only matters when
    // ducking.
    void UpdateSharing();

    QComboBox* m_sapBox = nullptr;
    QCheckBox* m_rtcpBox = nullptr;
    QSpinBox* m_priorityBox = nullptr;
    QComboBox* m_roleBox = nullptr;
    QComboBox* m_interruptedBox = nullptr;
    QSpinBox* m_duckBox = nullptr;
};
