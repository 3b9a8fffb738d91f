#pragma once
// The notification the tray icon sends to the main frame, as a posted event whose type is the
// message number: wParam is the icon identifier, lParam the mouse message.

#include <QEvent>
#include <cstdint>

constexpr int WM_TRAY_NOTIFY = 0x0400 + 300;  // 1324, inside Qt's user event range
constexpr uintptr_t kTrayIconId = 3;
constexpr intptr_t WM_LBUTTONDOWN = 0x201;
constexpr intptr_t WM_LBUTTONUP = 0x202;
constexpr intptr_t WM_LBUTTONDBLCLK = 0x203;
constexpr intptr_t WM_RBUTTONDOWN = 0x204;
constexpr intptr_t WM_RBUTTONUP = 0x205;
constexpr intptr_t WM_MOUSEMOVE = 0x200;
constexpr intptr_t WM_MBUTTONDOWN = 0x207;

class TrayNotifyEvent : public QEvent {
public:
    TrayNotifyEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(static_cast<QEvent::Type>(WM_TRAY_NOTIFY)), m_wParam(wParam), m_lParam(lParam) {}

    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};
