#pragma once
// WM_CONVERT_DONE as a posted Qt event: its type is the message's number (inside Qt's user
// event range) and it carries wParam and lParam. Posted from the conversion worker, handled
// on the UI thread in the order posted.

#include <QEvent>
#include <cstdint>

#include "convert/mediaconverter.h"

class ConvertDoneEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_CONVERT_DONE);
    static_assert(WM_CONVERT_DONE > QEvent::User && WM_CONVERT_DONE < QEvent::MaxUser);

    ConvertDoneEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(kType), m_wParam(wParam), m_lParam(lParam) {}

    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};
