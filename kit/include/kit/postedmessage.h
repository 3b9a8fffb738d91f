#pragma once
// A window message posted between threads as a Qt event: its type is the message's number
// (inside Qt's user event range) and it carries wParam and lParam unchanged. Posted from a
// worker thread, handled on the UI thread in the order posted.

#include <QEvent>
#include <cstdint>

template <int Message>
class PostedMessageEvent : public QEvent {
public:
    static_assert(Message > QEvent::User && Message < QEvent::MaxUser,
                  "a posted message's number must lie in Qt's user event range");
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(Message);

    PostedMessageEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(kType), m_wParam(wParam), m_lParam(lParam) {}

    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};
