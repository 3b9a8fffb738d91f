#!/usr/bin/env bash
# The paging server's cost against the same work done by separate processes, in one run:
# 10 playlists x 10 destinations on 127.0.0.1 in one `sonvex-cli serve`, against 10
# gst-launch-1.0 pipelines and 10 `sonvex-cli stream` processes. Each plays a 44.1 kHz
# stereo WAV as 20 ms mu-law packets; a loopback receiver takes every packet. Prints the CPU
# of each (perf's task clock, all threads and children), CPU per stream-minute, the ratio of
# the server to the pipelines, and the packets the receiver counted.
# Usage: bash bench/serve.sh BUILD_DIR
# Environment: SECONDS_PER_RUN (default 20), ROUNDS (default 3), BASE_PORT (default 23000; the
# receiver takes BASE_PORT up to BASE_PORT + 99).
set -euo pipefail
build=${1:?usage: serve.sh BUILD_DIR}
root=$(cd "$(dirname "$0")/.." && pwd)
cli=$(cd "$build" && pwd)/cli/sonvex-cli
seconds=${SECONDS_PER_RUN:-20}
rounds=${ROUNDS:-3}
base_port=${BASE_PORT:-23000}
receiver=$root/bench/compare/receiver.py
work=$(mktemp -d)
server=
receiver_pid=
cleanup() {
  [[ -n $server ]] && kill "$server" 2>/dev/null || true
  [[ -n $receiver_pid ]] && kill "$receiver_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg XDG_RUNTIME_DIR=$work/run
unset RUNTIME_DIRECTORY
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
mkdir -m 700 "$work/run"
wav=$work/tone.wav
sox -n -r 44100 -c 2 -b 16 "$wav" synth $((seconds + 5)) sine 1020 vol 0.5
for ((p = 0; p < 10; ++p)); do
  "$cli" create "p$p" >/dev/null
  "$cli" add-file "p$p" "$wav" --law mu --ptime 20 >/dev/null
  for ((d = 0; d < 10; ++d)); do
    "$cli" add-dest "p$p" 127.0.0.1 $((base_port + 10 * p + d)) >/dev/null
  done
done
perf stat -x, -e task-clock -o "$work/probe.txt" true 2>/dev/null ||
  { echo "serve.sh: perf stat is needed" >&2; exit 1; }
cpu() { awk -F, '$3 == "task-clock" {printf "%.3f\n", $1 / 1000}' "$1"; }

gst_all() {
  local p d clients
  for ((p = 0; p < 10; ++p)); do
    clients=""
    for ((d = 0; d < 10; ++d)); do clients+="${clients:+,}127.0.0.1:$((base_port + 10 * p + d))"; done
    timeout "$seconds" gst-launch-1.0 -q filesrc location="$wav" ! wavparse ! audioconvert ! \
      audioresample ! audio/x-raw,rate=8000,channels=1 ! mulawenc ! \
      rtppcmupay min-ptime=20000000 max-ptime=20000000 ! multiudpsink sync=true \
      clients="$clients" >/dev/null 2>&1 &
  done
  wait || true
}
streams_all() {
  local p
  for ((p = 0; p < 10; ++p)); do
    "$cli" stream "p$p" --duration "$seconds" >/dev/null 2>&1 &
  done
  wait || true
}
export -f gst_all streams_all
export cli wav seconds base_port

run() {  # peer -> "cpu_s packets"
  python3 "$receiver" "$base_port" 100 20 >"$work/recv.txt" &
  receiver_pid=$!
  sleep 0.5
  case $1 in
    serve)
      perf stat -x, -e task-clock -o "$work/perf.txt" "$cli" serve >/dev/null 2>&1 &
      server=$!
      for _ in $(seq 50); do [ -S "$work/run/sonvex/control" ] && break; sleep 0.1; done
      for ((p = 0; p < 10; ++p)); do "$cli" play "p$p" >/dev/null; done
      sleep "$seconds"
      pkill -INT -f "^$cli serve" 2>/dev/null || true
      wait "$server" || true
      server= ;;
    gst) perf stat -x, -e task-clock -o "$work/perf.txt" bash -c gst_all ;;
    streams) perf stat -x, -e task-clock -o "$work/perf.txt" bash -c streams_all ;;
  esac
  kill "$receiver_pid" 2>/dev/null || true
  wait "$receiver_pid" 2>/dev/null || true
  receiver_pid=
  echo "$(cpu "$work/perf.txt") $(awk '{print $1}' "$work/recv.txt")"
}

echo "10 playlists x 10 destinations, ${seconds} s per run, $rounds rounds; load $(cut -d' ' -f1-3 /proc/loadavg)"
printf '%-8s %-6s %10s %14s %10s\n' peer round cpu_s "cpu_s/str-min" "packets@1"
declare -A total
for ((r = 1; r <= rounds; ++r)); do
  for peer in serve gst streams; do
    read -r c packets < <(run "$peer")
    total[$peer]=$(echo "${total[$peer]:-0} + $c" | bc)
    printf '%-8s %-6s %10s %14.4f %10s\n' "$peer" "$r" "$c" \
      "$(echo "$c / (10 * $seconds / 60)" | bc -l)" "$packets"
  done
done
echo "serve / 10 gst pipelines: $(echo "scale=3; ${total[serve]} / ${total[gst]}" | bc)"
echo "serve / 10 streams:       $(echo "scale=3; ${total[serve]} / ${total[streams]}" | bc)"
