#pragma once
// The worker's progress reports as posted Qt events. The streaming worker calls
// StreamingEventPoster::PostStatus on its own thread; the event is delivered to the view on
// the UI thread, in posting order, as an event of type WM_STREAMING_STATUS carrying the
// report's wire form (wParam, lParam).

#include <cstdint>

#include "engine/streamingstatus.h"
#include "kit/postedmessage.h"

class QObject;

using StreamingEvent = PostedMessageEvent<WM_STREAMING_STATUS>;

// Posts to one receiver, which must outlive every call (the view joins its worker before it
// goes away). Callable from any thread; never waits for the UI thread.
class StreamingEventPoster : public StatusPoster {
public:
    explicit StreamingEventPoster(QObject* receiver) : m_receiver(receiver) {}
    void PostStatus(const StreamingStatus& status) override;

private:
    QObject* m_receiver;
};
