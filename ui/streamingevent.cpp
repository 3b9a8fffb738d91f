#include "ui/streamingevent.h"

#include <QCoreApplication>

void StreamingEventPoster::PostStatus(uintptr_t wParam, intptr_t lParam) {
    // postEvent is thread-safe and takes ownership; the event queue keeps posting order.
    QCoreApplication::postEvent(m_receiver, new StreamingEvent(wParam, lParam));
}
