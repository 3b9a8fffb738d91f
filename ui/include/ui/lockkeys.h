#pragma once
// The Caps Lock, Num Lock and Scroll Lock states for the status-bar indicators. Qt does not
// report them; under X11 they are read from the keyboard extension, elsewhere they are
// unknown and the indicators stay blank. UI thread only.

struct LockKeyState {
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// Fills state; false (state all off) when this platform cannot tell.
bool QueryLockKeys(LockKeyState& state);
