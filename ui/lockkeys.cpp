#include "ui/lockkeys.h"

#include <QGuiApplication>

#if defined(SONVEX_HAVE_XKB)
#include <X11/XKBlib.h>

namespace {

// True when the named indicator ("Caps Lock") is lit; false when off or unknown.
bool IndicatorOn(Display* display, const char* name) {
    const Atom atom = XInternAtom(display, name, True);
    if (atom == None) {
        return false;
    }
    Bool on = False;
    if (!XkbGetNamedIndicator(display, atom, nullptr, &on, nullptr, nullptr)) {
        return false;
    }
    return on != False;
}

}  // namespace
#endif

bool QueryLockKeys(LockKeyState& state) {
    state = LockKeyState{};
#if defined(SONVEX_HAVE_XKB)
    auto* x11 = qGuiApp == nullptr ? nullptr
                                   : qGuiApp->nativeInterface<QNativeInterface::QX11Application>();
    Display* display = x11 == nullptr ? nullptr : x11->display();
    if (display == nullptr) {
        return false;
    }
    state.caps = IndicatorOn(display, "Caps Lock");
    state.num = IndicatorOn(display, "Num Lock");
    state.scroll = IndicatorOn(display, "Scroll Lock");
    return true;
#else
    return false;
#endif
}
