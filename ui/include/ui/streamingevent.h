#pragma once
// A streaming worker's report as a posted Qt event of type WM_STREAMING_STATUS, carrying the
// report's value. Posted on the worker thread, delivered to the view on the UI thread in
// posting order.

#include <QEvent>

#include "document/playlistdocument.h"

class StreamingEvent : public QEvent {
public:
    static_assert(WM_STREAMING_STATUS > QEvent::User && WM_STREAMING_STATUS < QEvent::MaxUser,
                  "a posted message's number must lie in Qt's user event range");
    static constexpr QEvent::Type kType = static_cast<QEvent::Type>(WM_STREAMING_STATUS);

    explicit StreamingEvent(const StreamingStatus& status) : QEvent(kType), m_status(status) {}
    const StreamingStatus& Status() const { return m_status; }

private:
    StreamingStatus m_status;
};
