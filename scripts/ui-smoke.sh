#!/usr/bin/env bash
# Drives the real application as an operator would, on a virtual X server, with keys typed
# and menus chosen through xdotool: creates a playlist, adds a WAV file through the file
# chooser, adds a destination typed as 127.0.0.1 with the port of a loopback receiver,
# starts streaming, checks that RTP packets arrive, stops, quits, and then reads the stored
# destination back from the playlist store. Then, under a window manager (openbox) on the same
# display, it moves and sizes the window, and restarts the program three times: the window
# must come back each time exactly where and as large as it was left. Everything runs in a
# temporary folder (its own configuration folders, its own display) and is cleaned up
# however the run ends.
#
# Usage: scripts/ui-smoke.sh [sonvex executable]   (default: build/asan/ui/sonvex)
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SONVEX="${1:-$ROOT/build/asan/ui/sonvex}"
PLAYLIST="smoke"
STEP_TIMEOUT="${UI_SMOKE_TIMEOUT:-20}"  # seconds any one step may take

log() { echo "ui-smoke: $*"; }

APP_PID="" RECEIVER_PID="" XVFB_PID="" WM_PID="" WORK=""

stop_process() {
    local pid="$1"
    [ -n "$pid" ] && kill -0 "$pid" 2>/dev/null || return 0
    kill "$pid" 2>/dev/null || true
    for _ in $(seq 50); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

cleanup() {
    stop_process "$APP_PID"
    stop_process "$RECEIVER_PID"
    stop_process "$WM_PID"
    stop_process "$XVFB_PID"
    [ -n "$WORK" ] && rm -rf "$WORK"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

fail() {
    echo "ui-smoke: FAILED: $*" >&2
    if [ -n "$WORK" ] && [ -s "$WORK/app.log" ]; then
        echo "---- application output (last 40 lines) ----" >&2
        tail -n 40 "$WORK/app.log" >&2
    fi
    exit 1
}

# wait_until SECONDS WHAT COMMAND...: runs COMMAND until it succeeds, or fails the run.
wait_until() {
    local seconds="$1" what="$2"
    shift 2
    local deadline=$((SECONDS + seconds))
    until "$@" >/dev/null 2>&1; do
        if [ "$SECONDS" -ge "$deadline" ]; then
            fail "timed out after ${seconds}s waiting for $what"
        fi
        if [ -n "$APP_PID" ] && ! kill -0 "$APP_PID" 2>/dev/null; then
            fail "the application ended while waiting for $what"
        fi
        sleep 0.2
    done
}

for tool in Xvfb xdotool sox python3 openbox; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup-deps.sh installs it)"
done
[ -x "$SONVEX" ] || fail "no executable at $SONVEX (build it first)"

WORK="$(mktemp -d "${TMPDIR:-/tmp}/sonvex-smoke.XXXXXX")"
mkdir -p "$WORK/config" "$WORK/xdg" "$WORK/runtime"
chmod 700 "$WORK/runtime"

# A display of its own: Xvfb picks a free number and writes it once it accepts clients.
Xvfb -displayfd 3 -screen 0 1280x1024x24 -nolisten tcp 3>"$WORK/display" 2>"$WORK/xvfb.log" &
XVFB_PID=$!
wait_until "$STEP_TIMEOUT" "the virtual X server" test -s "$WORK/display"
export DISPLAY=":$(head -n 1 "$WORK/display")"
log "X server on $DISPLAY"

# Three seconds of tone, and a receiver on 127.0.0.1 that counts the RTP packets it gets.
sox -n -r 8000 -c 1 -b 16 "$WORK/tone.wav" synth 3 sine 440 ||
    fail "sox could not make the test tone"
cat >"$WORK/receiver.py" <<'EOF'
import os, socket, sys
base = sys.argv[1]
def publish(name, value):
    with open(base + name + ".tmp", "w") as f:
        f.write(str(value))
    os.replace(base + name + ".tmp", base + name)
sock = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
sock.bind(("127.0.0.1", 0))
publish(".port", sock.getsockname()[1])
count = 0
publish(".count", count)
while True:
    data = sock.recv(65536)
    if len(data) > 12 and data[0] >> 6 == 2:  # RTP version 2
        count += 1
        publish(".count", count)
EOF
python3 "$WORK/receiver.py" "$WORK/rx" 2>"$WORK/receiver.log" &
RECEIVER_PID=$!
wait_until "$STEP_TIMEOUT" "the loopback receiver" test -s "$WORK/rx.port"
PORT="$(cat "$WORK/rx.port")"
packets() { cat "$WORK/rx.count"; }

# The application, with only our folders and no desktop session to borrow dialogs from.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/ui/frame/lsan.supp}"
start_app() {
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u SESSION_MANAGER -u QT_QPA_PLATFORMTHEME \
        XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/xdg" XDG_RUNTIME_DIR="$WORK/runtime" \
        QT_QPA_PLATFORM=xcb "$SONVEX" >>"$WORK/app.log" 2>&1 &
    APP_PID=$!
}
start_app

# window NAME-PATTERN: the id of the visible window whose title matches, or nothing. A window
# that goes away while xdotool walks the tree makes it fail; that reads as "not there".
window() { { xdotool search --onlyvisible --name "$1" 2>/dev/null || true; } | head -n 1; }
has_window() { [ -n "$(window "$1")" ]; }
no_window() { [ -z "$(window "$1")" ]; }

# focus NAME-PATTERN: gives the window the keyboard (there is no window manager to do it).
focus() {
    local id="" attempt
    for attempt in 1 2 3; do
        wait_until "$STEP_TIMEOUT" "a window named '$1'" has_window "$1"
        id="$(window "$1")"
        [ -n "$id" ] || continue
        if timeout 10 xdotool windowfocus --sync "$id" >/dev/null 2>&1 ||
            xdotool windowfocus "$id" >/dev/null 2>&1; then
            return 0
        fi
    done
    fail "could not focus '$1'"
}

MAIN='^Sonvex - '

# menu MENU-KEY ITEM-KEY CHECK...: chooses a menu item by its mnemonics in the main window
# until CHECK holds; a keystroke lost before the menu opened is tried again.
menu() {
    local menuKey="$1" itemKey="$2"
    shift 2
    for attempt in 1 2 3; do
        focus "$MAIN"
        xdotool key "alt+$menuKey"
        sleep 0.5
        xdotool key "$itemKey"
        local deadline=$((SECONDS + STEP_TIMEOUT / 2))
        while [ "$SECONDS" -lt "$deadline" ]; do
            "$@" >/dev/null 2>&1 && return 0
            kill -0 "$APP_PID" 2>/dev/null || fail "the application ended after alt+$menuKey $itemKey"
            sleep 0.2
        done
        log "menu alt+$menuKey $itemKey had no effect (attempt $attempt)"
        xdotool key Escape Escape
    done
    fail "menu alt+$menuKey $itemKey did not do its work"
}

# store QUERY: one value from the playlist store, read with SQLite while the program runs.
store() {
    python3 - "$WORK/config/sonvex/registry.db" "$1" <<'EOF'
import sqlite3, sys
# rw, not rwc: a store the program has not made yet is not made here either.
db = sqlite3.connect("file:" + sys.argv[1] + "?mode=rw", uri=True, timeout=5)
row = db.execute(sys.argv[2]).fetchone()
print("" if row is None or row[0] is None else row[0])
EOF
}
value_of() {  # value_of KEY-NAME VALUE-NAME
    store "SELECT v.data FROM vals v JOIN keys k ON k.id = v.key
           WHERE k.name = '$1' AND v.name = '$2'"
}
stored_is() { [ "$(value_of "$1" "$2")" = "$3" ]; }

wait_until "$STEP_TIMEOUT" "the main window" has_window "^Sonvex - No playlist$"
log "main window is up"

# New playlist (Ctrl+N): type the name, Enter creates it.
focus "$MAIN"
xdotool key ctrl+n
focus "^New playlist$"
xdotool type --delay 40 "$PLAYLIST"
xdotool key Return
wait_until "$STEP_TIMEOUT" "the title of the new playlist" has_window "^Sonvex - $PLAYLIST$"
log "playlist '$PLAYLIST' created"

# Add file: Browse (right after the path box), type the path into the chooser, then OK.
menu s f has_window "^Select source file$"
focus "^Select source file$"
xdotool key Tab space
focus "^Open$"
xdotool type --delay 20 "$WORK/tone.wav"
xdotool key Return
wait_until "$STEP_TIMEOUT" "the file chooser to close" no_window "^Open$"
focus "^Select source file$"
xdotool key shift+Tab Return  # back in the path box, where Enter means OK
wait_until "$STEP_TIMEOUT" "the source dialog to close" no_window "^Select source file$"
wait_until "$STEP_TIMEOUT" "the file in the stored playlist" stored_is File1 SrcPath "$WORK/tone.wav"
log "file added"

# Add RTP destination: the address typed as an operator types it, Tab to the port.
menu s r has_window "^Add RTP destination$"
focus "^Add RTP destination$"
xdotool type --delay 40 "127.0.0.1"
xdotool key Tab
xdotool type --delay 40 "$PORT"
xdotool key Return
wait_until "$STEP_TIMEOUT" "the destination dialog to close" no_window "^Add RTP destination$"
wait_until "$STEP_TIMEOUT" "the destination in the store" stored_is RTP1 "IP:PORT" "127.0.0.1 : $PORT"
log "destination 127.0.0.1 : $PORT added"

# Start streaming: packets arrive at the receiver.
started() { [ "$(packets)" -ge 25 ]; }
menu s s started
log "streaming: $(packets) packets received"

# Stop: the packets cease.
quiet() {
    local before
    before="$(packets)"
    sleep 1
    [ "$(packets)" = "$before" ]
}
menu s t quiet
log "stopped after $(packets) packets"

# Exit from the Playlist menu: the program ends by itself, successfully.
app_ended() { ! kill -0 "$APP_PID" 2>/dev/null; }
quit_app() {
    local attempt deadline status=0
    for attempt in 1 2 3; do
        focus "$MAIN"
        xdotool key alt+p
        sleep 0.5
        xdotool key x
        deadline=$((SECONDS + STEP_TIMEOUT))
        while [ "$SECONDS" -lt "$deadline" ] && ! app_ended; do
            sleep 0.2
        done
        app_ended && break
        log "Exit had no effect (attempt $attempt)"
        xdotool key Escape Escape
    done
    app_ended || fail "the application did not end after Exit"
    wait "$APP_PID" || status=$?
    APP_PID=""
    [ "$status" -eq 0 ] || fail "the application ended with status $status"
}
quit_app
log "application ended"

# The stored destination reads 127.0.0.1, as text and as the address in network order.
stored_is RTP1 "IP:PORT" "127.0.0.1 : $PORT" ||
    fail "stored destination text is '$(value_of RTP1 "IP:PORT")'"
address="$(python3 -c 'import socket, struct, sys
print(socket.inet_ntoa(struct.pack("=I", int(sys.argv[1]))))' "$(value_of RTP1 IP)")" ||
    fail "stored address is not a number"
[ "$address" = "127.0.0.1" ] || fail "stored address reads $address"
stored_is RTP1 Port "$PORT" || fail "stored port is '$(value_of RTP1 Port)'"
log "stored destination reads 127.0.0.1 : $PORT"

# A window manager on the same display: openbox, with its files in the temporary folder.
env HOME="$WORK" XDG_CONFIG_HOME="$WORK/wm" XDG_CACHE_HOME="$WORK/wm" \
    openbox --sm-disable >"$WORK/wm.log" 2>&1 &
WM_PID=$!
wait_until "$STEP_TIMEOUT" "the window manager" xdotool get_num_desktops

# geometry: "X Y WIDTH HEIGHT" of the main window as the window manager has placed it, once
# it has stopped changing.
geometry() {
    local id now last=""
    for _ in $(seq 25); do
        id="$(window "$MAIN")"
        now="$( { [ -n "$id" ] && xdotool getwindowgeometry --shell "$id" 2>/dev/null; } |
            sed -n 's/^\(X\|Y\|WIDTH\|HEIGHT\)=//p' | tr '\n' ' ')"
        if [ -n "$now" ] && [ "$now" = "$last" ]; then
            echo "$now"
            return 0
        fi
        last="$now"
        sleep 0.4
    done
    fail "the main window did not settle (last seen at $last)"
}

start_app
wait_until "$STEP_TIMEOUT" "the main window under the window manager" has_window "$MAIN"
id="$(window "$MAIN")"
xdotool windowsize "$id" 820 600
xdotool windowmove "$id" 230 170
sleep 1
placed="$(geometry)"
log "under openbox, window left at $placed"
quit_app
for restart in 1 2 3; do
    start_app
    wait_until "$STEP_TIMEOUT" "the main window after restart $restart" has_window "$MAIN"
    now="$(geometry)"
    [ "$now" = "$placed" ] || fail "restart $restart put the window at $now, not $placed"
    log "restart $restart: window at $now"
    quit_app
done
log "passed"
