#!/usr/bin/env bash
# Drives the real application as an operator would, on a virtual X server, with keys typed
# and menus chosen through xdotool: creates a playlist, adds a WAV file through the file
# chooser, adds a destination typed as 127.0.0.1 with the port of a loopback receiver,
# starts streaming, checks that RTP packets arrive, stops, quits, and then reads the stored
# destination back from the playlist store. Then, under a window manager (openbox) on the same
# display, it moves and sizes the window, and restarts the program three times: the window
# must come back each time exactly where and as large as it was left. Last, as an operator of
# a console: turns the dark theme on from the View menu, drags three files from a stand-in
# file manager onto the file table, sets a capture device (an ALSA file PCM of a tone) in Page
# settings, streams, holds the toolbar's Page button down and sees "ON AIR" on the window and
# the page's marked packet at the receiver, and lets go. Everything runs in a temporary folder
# (its own configuration folders, its own display, its own HOME) and is cleaned up however
# the run ends.
#
# Usage: scripts/ui-smoke.sh [sonvex executable]   (default: build/asan/ui/sonvex)
# The drag source is the one of the same build (tests/ui/tools/sonvex_dragsource).
set -euo pipefail

ROOT="$(cd "$(dirname "$0")/.." && pwd)"
SONVEX="${1:-$ROOT/build/asan/ui/sonvex}"
PLAYLIST="smoke"
STEP_TIMEOUT="${UI_SMOKE_TIMEOUT:-20}"  # seconds any one step may take
DRAG_SOURCE="${UI_SMOKE_DRAG_SOURCE:-$(dirname "$SONVEX")/../tests/ui/tools/sonvex_dragsource}"

log() { echo "ui-smoke: $*"; }

APP_PID="" RECEIVER_PID="" XVFB_PID="" WM_PID="" DRAG_PID="" WORK=""

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
    stop_process "$DRAG_PID"
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

for tool in Xvfb xdotool xwd sox python3 openbox; do
    command -v "$tool" >/dev/null || fail "$tool is missing (scripts/setup-deps.sh installs it)"
done
[ -x "$SONVEX" ] || fail "no executable at $SONVEX (build it first)"
[ -x "$DRAG_SOURCE" ] || fail "no drag source at $DRAG_SOURCE (build the tests first)"

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
marks = 0
publish(".count", count)
publish(".marks", marks)
while True:
    data = sock.recv(65536)
    if len(data) > 12 and data[0] >> 6 == 2:  # RTP version 2
        count += 1
        publish(".count", count)
        if data[1] & 0x80:  # the marker: a source starts (the run, a page, the resume)
            marks += 1
            publish(".marks", marks)
EOF
python3 "$WORK/receiver.py" "$WORK/rx" 2>"$WORK/receiver.log" &
RECEIVER_PID=$!
wait_until "$STEP_TIMEOUT" "the loopback receiver" test -s "$WORK/rx.port"
PORT="$(cat "$WORK/rx.port")"
packets() { cat "$WORK/rx.count"; }
marks() { cat "$WORK/rx.marks"; }

# The application, with only our folders and no desktop session to borrow dialogs from.
export LSAN_OPTIONS="${LSAN_OPTIONS:-suppressions=$ROOT/tests/ui/frame/lsan.supp}"
start_app() {
    env -u XDG_CURRENT_DESKTOP -u DESKTOP_SESSION -u SESSION_MANAGER -u QT_QPA_PLATFORMTHEME \
        -u GTK_THEME HOME="$WORK" XDG_CONFIG_HOME="$WORK/config" XDG_CONFIG_DIRS="$WORK/xdg" XDG_RUNTIME_DIR="$WORK/runtime" \
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

# ---- the console: dark theme, files dropped, a page held on the air ------------------------

# setting_is NAME VALUE: an application setting as stored.
setting_is() {
    [ "$(store "SELECT data FROM vals WHERE name = '$1' LIMIT 1")" = "$2" ]
}

# pixels CHECK: a pixel check (pixels.py) on a picture of the main window.
cat >"$WORK/pixels.py" <<'EOF'
import struct, sys
def load(path):
    data = open(path, "rb").read()
    f = struct.unpack(">25I", data[:100])
    header, width, height, order, bpp, line, ncolors = f[0], f[4], f[5], f[7], f[11], f[12], f[19]
    masks = (f[14], f[15], f[16])
    pixels = data[header + 12 * ncolors:]
    shifts = [(m & -m).bit_length() - 1 for m in masks]
    step = bpp // 8
    def at(x, y):
        o = y * line + x * step
        v = int.from_bytes(pixels[o:o + step], "little" if order == 0 else "big")
        return tuple((v & m) >> s for m, s in zip(masks, shifts))
    return width, height, at
def near(p, q, t):
    return all(abs(a - b) <= t for a, b in zip(p, q))
def blobs(width, top, bottom, at, colour):
    # Connected regions of one colour in a band of rows, largest first: (size, cx, cy).
    seen, found = set(), []
    for y in range(top, bottom):
        for x in range(width):
            if (x, y) in seen or not near(at(x, y), colour, 6):
                continue
            stack, pts = [(x, y)], []
            seen.add((x, y))
            while stack:
                px, py = stack.pop()
                pts.append((px, py))
                for nx, ny in ((px + 1, py), (px - 1, py), (px, py + 1), (px, py - 1)):
                    if 0 <= nx < width and top <= ny < bottom and (nx, ny) not in seen \
                            and near(at(nx, ny), colour, 6):
                        seen.add((nx, ny))
                        stack.append((nx, ny))
            found.append((len(pts), sum(p[0] for p in pts) // len(pts),
                          sum(p[1] for p in pts) // len(pts)))
    return sorted(found, reverse=True)
width, height, at = load(sys.argv[2])
if sys.argv[1] in ("start-button", "stop-button"):
    # Start is the toolbar's largest green triangle, Stop its largest red square, each in its
    # colours only while enabled.
    colour = (30, 150, 50) if sys.argv[1] == "start-button" else (205, 40, 40)
    found = blobs(width, 0, min(height, 80), at, colour)
    print("%d %d" % found[0][1:] if found else "none")
elif sys.argv[1] == "on-air":
    # Pixels of the ON AIR red below the toolbar.
    print(sum(1 for y in range(80, height) for x in range(width)
              if near(at(x, y), (198, 40, 40), 3)))
elif sys.argv[1] == "dark":
    # The window's colour at the middle of its left edge: dark below mid grey.
    r, g, b = at(2, height // 2)
    print(1 if (max(r, g, b) + min(r, g, b)) / 2 < 128 else 0)
EOF
pixels() {
    xwd -silent -id "$(window "$MAIN")" >"$WORK/shot.xwd" &&
        python3 "$WORK/pixels.py" "$1" "$WORK/shot.xwd"
}
window_dark() { [ "$(pixels dark)" = 1 ]; }
on_air() { [ "$(pixels on-air)" -gt 300 ]; }
off_air() { [ "$(pixels on-air)" -lt 50 ]; }

# A capture device of the run's own: a tone played from a raw file (unpaced), in its HOME.
sox -n -r 48000 -c 1 -b 16 -e signed-integer "$WORK/page.raw" synth 30 sine 880 vol 0.4 ||
    fail "sox could not make the page's tone"
cat >"$WORK/.asoundrc" <<EOF
pcm.smoketone { type file; slave.pcm "null"; file "/dev/null"; infile "$WORK/page.raw"; format "raw" }
EOF
for n in 2 3 4; do
    sox -n -r 16000 -c 1 -b 16 "$WORK/drop$n.wav" synth 1 sine $((200 * n)) ||
        fail "sox could not make drop$n.wav"
done

start_app
wait_until "$STEP_TIMEOUT" "the main window for the console" has_window "$MAIN"
sleep 1
menu v d setting_is Theme dark
wait_until "$STEP_TIMEOUT" "a dark window" window_dark
log "dark theme on"

# Three files dragged from the stand-in file manager and dropped on the file table.
QT_QPA_PLATFORM=xcb "$DRAG_SOURCE" "$WORK/drop2.wav" "$WORK/drop3.wav" "$WORK/drop4.wav" \
    >>"$WORK/app.log" 2>&1 &
DRAG_PID=$!
wait_until "$STEP_TIMEOUT" "the drag source" has_window "^Sonvex drag source$"
source_id="$(window "^Sonvex drag source$")"
xdotool windowmove "$source_id" 20 20
sleep 1
eval "$(xdotool getwindowgeometry --shell "$(window "$MAIN")")"
target_x=$((X + WIDTH / 4)) target_y=$((Y + HEIGHT / 3))
eval "$(xdotool getwindowgeometry --shell "$source_id" | sed 's/^/SOURCE_/')"
from_x=$((SOURCE_X + 60)) from_y=$((SOURCE_Y + 40))
xdotool mousemove "$from_x" "$from_y"
sleep 0.3
xdotool mousedown 1
for step in 1 2 3 4 5 6 7 8 9 10; do
    xdotool mousemove $((from_x + (target_x - from_x) * step / 10)) \
        $((from_y + (target_y - from_y) * step / 10))
    sleep 0.1
done
sleep 0.5
xdotool mouseup 1
wait_until "$STEP_TIMEOUT" "the dropped files in the store" stored_is File4 SrcPath "$WORK/drop4.wav"
stored_is File2 SrcPath "$WORK/drop2.wav" || fail "the first dropped file is not File2"
wait "$DRAG_PID" || fail "the drag source says the drop was not taken"
DRAG_PID=""
log "three files dropped on the file table"

# Page settings: the tone device, held down to talk (the default).
menu s g has_window "^Page settings$"
focus "^Page settings$"
xdotool key ctrl+a
xdotool type --delay 30 "smoketone"
xdotool key Return
wait_until "$STEP_TIMEOUT" "the page settings to close" no_window "^Page settings$"
wait_until "$STEP_TIMEOUT" "the stored capture device" setting_is PageDevice smoketone
log "page settings: smoketone"

# Page is the button after Stop, as far on as Stop is from Start.
read -r start_x start_y <<<"$(pixels start-button)"
[ "$start_x" != none ] || fail "no Start button on the toolbar"
menu s s started
off_air || fail "ON AIR shows before any page"
read -r stop_x stop_y <<<"$(pixels stop-button)"
[ "$stop_x" != none ] || fail "no Stop button on the toolbar"
page_x=$((2 * stop_x - start_x)) page_y=$stop_y
before="$(marks)"
xdotool mousemove --window "$(window "$MAIN")" "$page_x" "$page_y"
sleep 0.3
xdotool mousedown 1
wait_until "$STEP_TIMEOUT" "ON AIR on the window" on_air
page_marked() { [ "$(marks)" -gt "$before" ]; }
wait_until "$STEP_TIMEOUT" "the page's first packet" page_marked
log "page held at $page_x,$page_y: ON AIR shown, the page's marked packet arrived"
sleep 1
xdotool mouseup 1
wait_until "$STEP_TIMEOUT" "ON AIR to go" off_air
log "page released"
menu s t quiet
quit_app
log "passed"
