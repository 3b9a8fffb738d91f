#!/usr/bin/env bash
# A server plays the playlist Music; two seconds on, Notice (of a higher priority) takes its
# destinations over and, once over, gives them back; five seconds later Music is stopped, and
# the server is stopped once the Ends of every session queued behind have had time to go out.
# The caller has made the playlists and put this script into a network namespace of its own.
#   serve_takeover.sh SONVEX_CLI
set -euo pipefail
cli=$1
control=$XDG_RUNTIME_DIR/sonvex/control
"$cli" serve >"$XDG_RUNTIME_DIR/serve.log" 2>&1 &
server=$!
trap 'kill "$server" 2>/dev/null || true' EXIT
for _ in $(seq 100); do [ -S "$control" ] && break; sleep 0.1; done
[ -S "$control" ] || { echo "serve_takeover: no control socket" >&2; exit 1; }
"$cli" play Music >/dev/null
sleep 2
"$cli" play Notice >/dev/null
sleep 5
"$cli" stop Music >/dev/null
# What a sender still holds (up to 5 s of audio behind a new session's Alerts) goes out first.
sleep 5
kill "$server"
wait "$server"
trap - EXIT
