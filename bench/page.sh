#!/usr/bin/env bash
# Capture-to-send latency of a live page, from a paced capture device that needs no hardware:
# a private PulseAudio server of this script's own (its socket in a temporary folder) whose
# null sink plays a 1 kHz sine, captured from the sink's monitor through the ALSA "pulse"
# plugin; the null sink renders on the server's clock, so blocks come in real time. For
# comparison the same page from an unpaced ALSA file PCM (a tone file over the "null" slave,
# as the unit tests capture), which reads seconds of audio in milliseconds and says nothing
# about timing. Packets go to 127.0.0.1 only.
#
# module-sine-source is not used: it pushes its sine two seconds ahead of the clock, in
# two-second bursts, so it is not paced at the scale of a packet.
#
# Usage: bash bench/page.sh [BUILD_DIR]   (a Release build with benches; default build/bench,
#        configured and page_bench built when missing)
# Environment: SECONDS_PER_RUN (default 20), PTIMES (default "20 40"), OVER_STREAM (default 1:
# also page over a running stream on the paced device), KEEPER_MS (how much the null sink
# renders at a time; default the packet time, as a sound card's period).
# Installs pulseaudio with apt-get when it is missing (as root). The machine's own sound
# setup is not touched: HOME, the runtime folders and the server socket are temporary.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
seconds=${SECONDS_PER_RUN:-20}
ptimes=${PTIMES:-"20 40"}
over_stream=${OVER_STREAM:-1}
bench=$build/bench/page/page_bench

if ! command -v pulseaudio >/dev/null; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "page.sh: pulseaudio is missing; install it (apt-get install --no-install-recommends pulseaudio)" >&2
    exit 1
  fi
  echo "page.sh: pulseaudio is missing: installing it (apt-get install --no-install-recommends pulseaudio)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends pulseaudio >/dev/null
fi
if [[ ! -e /usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_pcm_pulse.so ]] &&
  ! ls /usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so >/dev/null 2>&1; then
  echo "page.sh: the ALSA pulse plugin (libasound2-plugins) is missing" >&2
  exit 1
fi
if [[ ! -x $bench ]]; then
  if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "page.sh: configuring a Release build with benches in $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVEX_BUILD_BENCH=ON \
      >/dev/null
  fi
  echo "page.sh: building page_bench"
  cmake --build "$build" --target page_bench -j2 >/dev/null
fi

work=$(mktemp -d)
server_pid=
keeper_pid=
cleanup() {
  if [[ -n $keeper_pid ]]; then
    kill "$keeper_pid" 2>/dev/null || true
    wait "$keeper_pid" 2>/dev/null || true
  fi
  if [[ -n $server_pid ]]; then
    kill "$server_pid" 2>/dev/null || true
    wait "$server_pid" 2>/dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 130' INT TERM

mkdir -p "$work/home" "$work/runtime" "$work/state"
export HOME=$work/home XDG_RUNTIME_DIR=$work/runtime PULSE_RUNTIME_PATH=$work/runtime \
  PULSE_STATE_PATH=$work/state PULSE_SERVER=unix:$work/native
# No client may start a server of its own.
printf 'autospawn = no\n' >"$work/client.conf"
export PULSE_CLIENTCONFIG=$work/client.conf

cat >"$work/server.pa" <<EOF
load-module module-native-protocol-unix auth-anonymous=1 socket=$work/native
load-module module-null-sink sink_name=pagesink rate=48000 channels=1
load-module module-sine sink=pagesink frequency=1000
EOF
# Not a system-wide server: it runs as whoever runs this (root too, with a warning), only
# for this script, and leaves with it.
pulseaudio -n --daemonize=no --exit-idle-time=-1 --disallow-exit --use-pid-file=no \
  --system=false --log-target=file:"$work/server.log" -F "$work/server.pa" 2>>"$work/server.log" &
server_pid=$!
for ((i = 0; i < 50; ++i)); do
  [[ -S $work/native ]] && break
  kill -0 "$server_pid" 2>/dev/null || break
  sleep 0.1
done
if [[ ! -S $work/native ]]; then
  echo "page.sh: the private PulseAudio server did not start:" >&2
  tail -5 "$work/server.log" >&2
  exit 1
fi

# A tone file a little longer than a run, for the unpaced device.
python3 - "$work/tone.raw" "$seconds" <<'EOF'
import math, struct, sys
frames = 48000 * (int(sys.argv[2]) + 2)
step = 2 * math.pi * 1000 / 48000
with open(sys.argv[1], "wb") as out:
    out.write(b"".join(struct.pack("<h", int(12000 * math.sin(step * n))) for n in range(frames)))
EOF
cat >"$HOME/.asoundrc" <<EOF
pcm.paged { type pulse; server "unix:$work/native"; device "pagesink.monitor" }
pcm.unpaced { type file; slave.pcm "null"; file "/dev/null"; infile "$work/tone.raw"; format "raw" }
EOF

# Idle, the null sink renders as far ahead as its largest latency (seconds): a capture that
# connects then waits that long and gets a burst. A recording stream kept open that asks for
# KEEPER_MS (default: the packet time) keeps the sink rendering that much at a time, just
# ahead of its clock, as a sound card's period; what it rendered before is let pass.
start_keeper() {
  pacat --record --device=pagesink.monitor --latency-msec="$1" --raw >/dev/null \
    2>>"$work/server.log" &
  keeper_pid=$!
  sleep 2.5
}
stop_keeper() {
  kill "$keeper_pid" 2>/dev/null || true
  wait "$keeper_pid" 2>/dev/null || true
  keeper_pid=
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
extra=()
[[ $over_stream == 1 ]] && extra=(--over-stream)
for ptime in $ptimes; do
  start_keeper "${KEEPER_MS:-$ptime}"
  echo "the null sink renders ${KEEPER_MS:-$ptime} ms at a time"
  "$bench" --device paged --label paced --ptime "$ptime" --seconds "$seconds" "${extra[@]}" |
    tee -a "$work/paced.txt" || status=1
  stop_keeper
done
"$bench" --device unpaced --label unpaced --ptime "${ptimes// /,}" --seconds "$seconds" |
  tee "$work/unpaced.txt" || status=1

echo
echo "capture to send: the session's figure, each block at the packet it completed last; the"
echo "budget, one packet time + 5 ms, on its p99. At the receiver: the spacing of the packets and"
echo "held99, how much longer than the freshest packet a packet took to leave after its audio"
echo "(arrival against RTP time): what waited in the converter for later blocks."
printf '%-9s %-12s %5s %7s %8s %8s %8s %7s %5s %8s %8s %9s %9s\n' device mode ptime blocks \
  med_ms p99_ms max_ms budget p99ok received gap50_ms gap99_ms held99_ms
awk '$1 == "row" {printf "%-9s %-12s %5s %7s %8s %8s %8s %7s %5s %8s %8s %9s %9s\n",
  $2, $3, $4, $5, $6, $7, $8, $9, $10, $11, $12, $13, $15}' "$work/paced.txt" "$work/unpaced.txt"
echo "(unpaced: a file PCM reports a full buffer at every read, so its latency is the buffer and"
echo " its hold the run's length; only the paced rows time anything)"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
