#include "ui/streamingevent.h"

#include <QCoreApplication>

void StreamingEventPoster::PostStatus(const StreamingStatus& status) {
    // postEvent is thread-safe and takes ownership; the event queue keeps posting order.
    QCoreApplication::postEvent(m_receiver, new StreamingEvent(status.WParam(), status.LParam()));
}
