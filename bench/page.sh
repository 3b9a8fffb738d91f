#!/usr/bin/env bash
# Live-page latency from a paced capture device that needs no hardware: a private PulseAudio
# server of this script's own (its socket in a temporary folder) with a null sink, "pagesink",
# whose monitor is the ALSA PCM "paged" through the ALSA "pulse" plugin; the null sink renders
# on the server's clock, so blocks come in real time. Two parts, packets to 127.0.0.1 only:
#
# capture: capture-to-send as page_bench's session measures it, while the sink plays a 1 kHz
# sine, at each packet time alone and over a stream; for comparison the same page from an
# unpaced ALSA file PCM (a tone file over the "null" slave, as the unit tests capture), which
# reads seconds of audio in milliseconds and says nothing about timing.
#
# module-sine-source is not used: it pushes its sine two seconds ahead of the clock, in
# two-second bursts, so it is not paced at the scale of a packet.
#
# mouth: mouth to wire, side by side. mouthwire_bench plays clicks (a 10 ms 1 kHz burst at 0.8
# of full scale every 300 to 400 ms) into pagesink through the ALSA PCM "clicks", in 4 ms
# periods. Before each write the PCM's delay (the server's own account of when the next frame
# written plays, which for a null sink is its clock: CLOCK_MONOTONIC) gives when frame 0
# played; the null sink takes frames at exactly its rate, so a click's play instant is its
# frame's time from the median of those origins over its stretch of steady playing (split at
# underruns), which irons out the estimate's wander of a millisecond or so. Meanwhile
# `sonvex-cli page` (ALSA "paged"), gst-launch-1.0 (pulsesrc) and ffmpeg (-f pulse), all
# capturing pagesink's monitor at once, each send to their own port of the same program, which
# keeps each datagram's kernel arrival time (CLOCK_REALTIME, turned into CLOCK_MONOTONIC by an
# offset read at each wake-up), decodes it and finds each click's onset; mouth to wire is the
# onset's packet arrival less the click's play instant. Its error: the instants' own, printed
# as how far they stray from the senders' media clocks (sample counts of the same monitor;
# about 0.1 ms in a steady run) and bounded by the estimate's wander (printed), the onset's
# first sample past the threshold (under 0.25 ms at 8 kHz), and that the null sink hands what
# it renders to its monitor when it renders it, up to one render period (the sink's configured
# latency, printed: 4 ms) before the instant it plays it, so a capture may see a click up to
# that much early, equally for every peer. The play stream's short period makes the sink
# render that little at a time, for every peer alike, as a sound card's period would; no other
# recording is kept open to pace it. The track plays before any peer starts: a page from a
# sink that renders seconds at a time is not what is measured here. SHIFT_MS=D plays every
# second click D ms after its recorded instant, as a check: those clicks' figures must be D ms
# larger.
#
# Usage: bash bench/page.sh [BUILD_DIR]   (a Release build with benches; default build/bench,
#        configured and the benches and sonvex-cli built when missing)
# Environment: PARTS (default "capture mouth"), SECONDS_PER_RUN (default 20), PTIMES (default
# "20 40"), OVER_STREAM (default 1: the capture part also pages over a running stream),
# KEEPER_MS (how much the null sink renders at a time in the capture part; default the packet
# time, as a sound card's period), SHIFT_MS (default 0), MOUTH_PEERS (default "sonvex gst
# ffmpeg", those installed), MOUTH_DUMP (a file for mouthwire_bench's per-click lines).
# Installs pulseaudio, and GStreamer's pulsesrc, with apt-get when they are missing (as root). The machine's own sound
# setup is not touched: HOME, the runtime folders and the server socket are temporary.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build/bench}
seconds=${SECONDS_PER_RUN:-20}
ptimes=${PTIMES:-"20 40"}
over_stream=${OVER_STREAM:-1}
parts=${PARTS:-"capture mouth"}
shift_ms=${SHIFT_MS:-0}
mouth_peers=${MOUTH_PEERS:-"sonvex gst ffmpeg"}
bench=$build/bench/page/page_bench
mouth=$build/bench/page/mouthwire_bench
cli=$build/cli/sonvex-cli

if ! command -v pulseaudio >/dev/null; then
  if [[ $(id -u) -ne 0 ]]; then
    echo "page.sh: pulseaudio is missing; install it (apt-get install --no-install-recommends pulseaudio)" >&2
    exit 1
  fi
  echo "page.sh: pulseaudio is missing: installing it (apt-get install --no-install-recommends pulseaudio)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends pulseaudio >/dev/null
fi
# The GStreamer peer captures through its pulsesrc element, which is a package of its own.
if command -v gst-launch-1.0 >/dev/null && ! gst-inspect-1.0 pulsesrc >/dev/null 2>&1 &&
  [[ $(id -u) -eq 0 ]]; then
  echo "page.sh: GStreamer's pulsesrc is missing: installing it (gstreamer1.0-pulseaudio)"
  DEBIAN_FRONTEND=noninteractive apt-get install -y --no-install-recommends \
    gstreamer1.0-pulseaudio >/dev/null
fi
if [[ ! -e /usr/lib/x86_64-linux-gnu/alsa-lib/libasound_module_pcm_pulse.so ]] &&
  ! ls /usr/lib/*/alsa-lib/libasound_module_pcm_pulse.so >/dev/null 2>&1; then
  echo "page.sh: the ALSA pulse plugin (libasound2-plugins) is missing" >&2
  exit 1
fi
if [[ ! -x $bench || ! -x $mouth || ! -x $cli ]]; then
  if [[ ! -f $build/CMakeCache.txt ]]; then
    echo "page.sh: configuring a Release build with benches in $build"
    cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=Release -DSONVEX_BUILD_BENCH=ON \
      >/dev/null
  fi
  echo "page.sh: building page_bench, mouthwire_bench and sonvex-cli"
  cmake --build "$build" --target page_bench mouthwire_bench sonvex-cli -j2 >/dev/null
fi

work=$(mktemp -d)
server_pid=
keeper_pid=
peer_pids=()
# A process of this script's ended: asked, then made to after 3 s.
stop_pid() {
  local i
  kill "$1" 2>/dev/null || return 0
  for ((i = 0; i < 30; ++i)); do
    kill -0 "$1" 2>/dev/null || break
    sleep 0.1
  done
  kill -KILL "$1" 2>/dev/null || true
  wait "$1" 2>/dev/null || true
}
cleanup() {
  local pid
  for pid in "${peer_pids[@]}" $keeper_pid; do
    stop_pid "$pid"
  done
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
pcm.clicks { type pulse; server "unix:$work/native"; device "pagesink" }
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

capture_part() {
  local ptime extra=()
  [[ $over_stream == 1 ]] && extra=(--over-stream)
  pactl load-module module-sine sink=pagesink frequency=1000 >"$work/sine.id"
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
  pactl unload-module "$(cat "$work/sine.id")"
}

# The command line of one side-by-side peer sending to port, into the array cmd; the
# others' as a user would write them, nothing tuned.
peer_command() {
  local label=$1 ptime=$2 port=$3
  case $label in
    sonvex) cmd=("$cli" page "mouthwire-$$-$ptime" --device paged --ptime "$ptime" --json) ;;
    gst)
      # shellcheck disable=SC2054
      cmd=(gst-launch-1.0 pulsesrc device=pagesink.monitor ! audioconvert ! audioresample !
        audio/x-raw,rate=8000,channels=1 ! mulawenc ! rtppcmupay "min-ptime=${ptime}000000"
        "max-ptime=${ptime}000000" ! udpsink host=127.0.0.1 "port=$port") ;;
    ffmpeg)
      cmd=(ffmpeg -nostdin -loglevel error -f pulse -i pagesink.monitor -ac 1 -ar 8000
        -c:a pcm_mulaw -f rtp "rtp://127.0.0.1:$port") ;;
  esac
}

mouth_part() {
  local peer ptime args=() cmd=() mouth_pid entry label port pid own i queried=0
  export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
  mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
  for peer in $mouth_peers; do
    case $peer in
      sonvex) for ptime in $ptimes; do args+=(--peer "sonvex/$ptime"); done ;;
      gst)
        if command -v gst-launch-1.0 >/dev/null; then
          for ptime in $ptimes; do args+=(--peer "gst/$ptime"); done
        fi ;;
      # Its RTP muxer sends each frame it is given, cut at the largest payload: no packet time.
      ffmpeg) command -v ffmpeg >/dev/null && args+=(--peer ffmpeg/1) ;;
    esac
  done
  [[ -n ${MOUTH_DUMP:-} ]] && args+=(--dump "$MOUTH_DUMP")
  "$mouth" "${args[@]}" --seconds "$seconds" --shift-ms "$shift_ms" >"$work/mouth.txt" &
  mouth_pid=$!
  peer_pids+=("$mouth_pid")
  for ((i = 0; i < 100; ++i)); do
    grep -q '^ready' "$work/mouth.txt" && break
    kill -0 "$mouth_pid" 2>/dev/null || break
    sleep 0.1
  done
  if ! grep -q '^ready' "$work/mouth.txt"; then
    echo "page.sh: mouthwire_bench did not start:" >&2
    cat "$work/mouth.txt" >&2
    return 1
  fi
  echo "side by side, clicks into pagesink; the peers, each to its own port:"
  for entry in $(sed -n 's/^ready //p' "$work/mouth.txt"); do
    label=${entry%%/*}
    ptime=${entry#*/}
    ptime=${ptime%%=*}
    port=${entry##*=}
    if [[ $label == sonvex ]]; then
      "$cli" create "mouthwire-$$-$ptime" >/dev/null
      "$cli" add-dest "mouthwire-$$-$ptime" 127.0.0.1 "$port" >/dev/null
    fi
    peer_command "$label" "$ptime" "$port"
    echo "  ${cmd[*]}"
    "${cmd[@]}" >"$work/$label$ptime.out" 2>"$work/$label$ptime.err" &
    peer_pids+=($!)
  done
  while kill -0 "$mouth_pid" 2>/dev/null; do
    if ((queried == 0)) && grep -q '^clicking' "$work/mouth.txt"; then
      queried=1
      sleep 1
      pactl list sinks | sed -n 's/^[[:space:]]*Latency: /the null sink: latency /p'
    fi
    sleep 0.2
  done
  wait "$mouth_pid" || status=1
  for pid in "${peer_pids[@]}"; do
    stop_pid "$pid"
  done
  peer_pids=()
  grep -v '^row\|^ready' "$work/mouth.txt"
  for label in "$work"/*.err; do
    [[ -s $label ]] && { echo "$(basename "$label" .err) said:"; head -5 "$label"; }
  done

  echo
  echo "mouth to wire: a click's play instant to the kernel's arrival time of the packet carrying"
  echo "its onset, on 127.0.0.1; end: that arrival after the packet's last sample was played; own:"
  echo "the program's own capture-to-send figure (its \"ended\" event)."
  ((shift_ms > 0)) && echo "(figures of the clicks played at their instants only; matched counts all)"
  printf '%-7s %5s %6s %9s %8s %8s %8s %8s %12s\n' peer ptime pkt_ms matched med_ms p95_ms \
    max_ms end_ms own_med/p99
  while read -r _ label ptime packet played matched med p95 max endmed _; do
    own=-
    if [[ $label == sonvex ]]; then
      own=$(python3 -c 'import json, sys
for line in open(sys.argv[1]):
    e = json.loads(line)
    if e.get("event") == "ended":
        print("%.1f/%.1f" % (e["latency"]["median_ms"], e["latency"]["p99_ms"]))' \
        "$work/sonvex$ptime.out" 2>/dev/null || echo -)
    fi
    [[ $label == ffmpeg ]] && ptime=var
    printf '%-7s %5s %6s %9s %8s %8s %8s %8s %12s\n' "$label" "$ptime" "$packet" \
      "$matched/$played" "$med" "$p95" "$max" "$endmed" "${own:--}"
  done < <(grep '^row' "$work/mouth.txt")
  if ((shift_ms > 0)); then
    echo
    echo "check: every second click played $shift_ms ms after its recorded instant; how much later"
    echo "those clicks' figures came (median end: $shift_ms ms; mean mouth to wire: $shift_ms ms within"
    echo "the noise of where the clicks fall in their packets, printed above):"
    awk '$1 == "row" {printf "  %-7s %5s  end %5s ms  mouth to wire %5s ms\n", $2, $3, $15, $14}' \
      "$work/mouth.txt"
  fi
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
status=0
for part in $parts; do
  case $part in
    capture) capture_part ;;
    mouth) mouth_part || status=1 ;;
    *) echo "page.sh: no part \"$part\" (capture, mouth)" >&2; status=1 ;;
  esac
done
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
exit "$status"
