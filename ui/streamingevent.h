#pragma once
// The worker's progress reports as posted Qt events. The streaming worker calls
// StreamingEventPoster::PostStatus on its own thread; the event is delivered to the view on
// the UI thread, in posting order, as an event of type WM_STREAMING_STATUS carrying wParam
// and lParam unchanged.

#include <QEvent>
#include <cstdint>

#include "engine/streamingstatus.h"

class QObject;

class StreamingEvent : public QEvent {
public:
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_STREAMING_STATUS);

    StreamingEvent(uintptr_t wParam, intptr_t lParam)
        : QEvent(kType), m_wParam(wParam), m_lParam(lParam) {}

    uintptr_t WParam() const { return m_wParam; }
    intptr_t LParam() const { return m_lParam; }

private:
    uintptr_t m_wParam;
    intptr_t m_lParam;
};

// Posts to one receiver, which must outlive every call (the view joins its worker before it
// goes away). Callable from any thread; never waits for the UI thread.
class StreamingEventPoster : public StatusPoster {
public:
    explicit StreamingEventPoster(QObject* receiver) : m_receiver(receiver) {}
    void PostStatus(uintptr_t wParam, intptr_t lParam) override;

private:
    QObject* m_receiver;
};
