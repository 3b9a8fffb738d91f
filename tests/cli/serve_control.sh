#!/usr/bin/env bash
# `serve` as an operator meets it: a playlist played, shown by status, refused twice, stopped;
# a stream handed to the server; garbage and silence on the control socket answered and
# dropped; packets on 127.0.0.1 while it plays.
#   serve_control.sh SONVEX_CLI
set -euo pipefail
cli=$1
work=$(mktemp -d)
server=
cleanup() {
  [ -n "$server" ] && kill "$server" 2>/dev/null && wait "$server" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config XDG_RUNTIME_DIR=$work/run HOME=$work
unset RUNTIME_DIRECTORY
mkdir -m 700 "$work/run"
fail() { echo "serve_control: $*" >&2; exit 1; }

port=$(python3 -c 'import socket; s=socket.socket(socket.AF_INET, socket.SOCK_DGRAM); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])')
python3 - "$work/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(b"".join(struct.pack("<h", int(12000 * math.sin(2 * math.pi * 400 * n / 8000))) for n in range(8000 * 2)))
PY
"$cli" create Music >/dev/null
"$cli" add-file Music "$work/tone.wav" >/dev/null
"$cli" add-dest Music 127.0.0.1 "$port" >/dev/null

"$cli" status 2>"$work/err" && fail "status without a server succeeded"
grep -q "no server is running" "$work/err" || fail "status without a server said: $(cat "$work/err")"

"$cli" serve >"$work/serve.log" 2>&1 &
server=$!
for _ in $(seq 50); do [ -S "$work/run/sonvex/control" ] && break; sleep 0.1; done
[ -S "$work/run/sonvex/control" ] || fail "no control socket"
"$cli" serve 2>"$work/err" && fail "a second server started"

python3 - "$port" "$cli" <<'PY' || exit 1
import json, socket, subprocess, sys, time, os
port, cli = int(sys.argv[1]), sys.argv[2]
rx = socket.socket(socket.AF_INET, socket.SOCK_DGRAM)
rx.bind(("127.0.0.1", port)); rx.settimeout(3)
out = subprocess.run([cli, "play", "Music"], capture_output=True, text=True)
assert out.returncode == 0, out.stderr
data = rx.recv(2048)
assert len(data) == 12 + 160 and data[1] & 0x7F == 0, "not a 20 ms mu-law packet"
status = json.loads(subprocess.run([cli, "status", "--json"], capture_output=True, text=True, check=True).stdout)
dest = status["destinations"][0]
assert dest["source"] == "Music" and dest["state"] == "playing" and dest["priority"] == 10, dest
again = subprocess.run([cli, "play", "Music"], capture_output=True, text=True)
assert again.returncode == 1 and "playing already" in again.stderr, again.stderr
assert subprocess.run([cli, "stop", "Music"]).returncode == 0
time.sleep(0.3)
gone = subprocess.run([cli, "stop", "Music"], capture_output=True, text=True)
assert gone.returncode == 1 and "not playing" in gone.stderr, gone.stderr
# A stream handed to the server, for half a second.
s = subprocess.run([cli, "stream", "Music", "--duration", "0.5"], capture_output=True, text=True)
assert s.returncode == 0 and "through the server" in s.stderr, s.stderr
path = os.path.join(os.environ["XDG_RUNTIME_DIR"], "sonvex", "control")
for payload in (b"garbage", None):
    c = socket.socket(socket.AF_UNIX, socket.SOCK_SEQPACKET)
    c.connect(path); c.settimeout(6)
    if payload:
        c.send(payload)
    reply = json.loads(c.recv(8192))
    assert not reply["ok"], reply
    assert ("not understood" if payload else "nothing within 3 s") in reply["message"], reply
    assert c.recv(8192) == b"", "the connection stayed open"
PY
grep -q 'started playlist "Music"' "$work/serve.log" || fail "the server did not log the start"

# A zone instead of the playlist's destinations; a schedule added while the server runs fires
# without a restart.
"$cli" zone create Yard >/dev/null
"$cli" zone add-dest Yard 127.0.0.1 $((port + 1)) >/dev/null
"$cli" play Music --zone Yard >"$work/out" || fail "play to a zone: $(cat "$work/out")"
sleep 0.3
"$cli" status --json | python3 -c '
import json, sys
s = json.load(sys.stdin)
held = {d["destination"]: d["source"] for d in s["destinations"]}
assert held.get("127.0.0.1 : '$((port + 1))'") == "Music", held
assert held.get("127.0.0.1 : '"$port"'") == "", held' || fail "the zone's destination is not playing"
"$cli" stop Music >/dev/null
sleep 0.3
"$cli" schedule add Music '*-*-* *:*:*' >/dev/null || fail "schedule add refused"
for _ in $(seq 60); do grep -q 'schedule 1 fired' "$work/serve.log" && break; sleep 0.1; done
grep -q 'schedule 1 fired: "Music"$' "$work/serve.log" || fail "the schedule did not fire: $(cat "$work/serve.log")"
kill "$server"; wait "$server" || fail "the server did not stop cleanly on SIGTERM"
server=
grep -q '^stopped$' "$work/serve.log" || fail "no stop line"
