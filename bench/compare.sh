#!/usr/bin/env bash
# Whole-process CPU of `sonvex-cli stream` beside a bare deadline sender (at normal and at
# real-time priority) and, where installed,
# gst-launch-1.0 and ffmpeg: one 44.1 kHz stereo WAV streamed as mu-law 20 ms packets to 1,
# 10 and 100 loopback destinations (127.0.0.1 only), three rounds interleaved; medians and
# ratios, the loopback receiver's pacing and first-to-last spread, start-up CPU and peak RSS.
# A benchmark: it prints figures and judges nothing.
#
# Usage: bash bench/compare.sh [BUILD_DIR]   (a Release build with benches; default build/rel)
# Environment: SECONDS_PER_RUN (default 20), ROUNDS (default 3), COUNTS (default "1 10 100"),
# BASE_PORT (default 21000; the receivers take BASE_PORT up to BASE_PORT + 99), RECEIVER (poll,
# the default: the receiver reads on its own timer and no sender pays to wake it; wake: it waits
# on its sockets, and every sender pays a wake-up per datagram, more at real-time priority).
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=$(cd "${1:-$root/build/rel}" && pwd)
seconds=${SECONDS_PER_RUN:-20}
rounds=${ROUNDS:-3}
counts=${COUNTS:-"1 10 100"}
cli=$build/cli/sonvex-cli
bare=$build/bench/compare/bare_loop
receiver=$root/bench/compare/receiver.py
# Below the ephemeral port range, so that no other program on the machine holds one of them.
base_port=${BASE_PORT:-21000}
receiver_mode=${RECEIVER:-poll}
[[ $receiver_mode == poll || $receiver_mode == wake ]] ||
  { echo "compare.sh: RECEIVER is poll or wake" >&2; exit 1; }
for tool in "$cli" "$bare"; do
  [[ -x $tool ]] || { echo "compare.sh: $tool is missing (build with -DSONVEX_BUILD_BENCH=ON)" >&2; exit 1; }
done
command -v sox >/dev/null || { echo "compare.sh: sox makes the source" >&2; exit 1; }
peers=(sonvex bare)
# The bare loop again at the real-time priority sonvex-cli's worker takes (SCHED_RR 40),
# where the machine grants it: that priority's own cost (wake-ups at once, the receiver
# moved to another CPU) is then on both sides.
chrt -r 40 true 2>/dev/null && peers+=(bare_rt)
command -v gst-launch-1.0 >/dev/null && peers+=(gst)
command -v ffmpeg >/dev/null && peers+=(ffmpeg)

work=$(mktemp -d)
receiver_pid=
cleanup() {
  [[ -n $receiver_pid ]] && kill "$receiver_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_CONFIG_HOME=$work/config XDG_CONFIG_DIRS=$work/xdg
mkdir -p "$XDG_CONFIG_HOME" "$XDG_CONFIG_DIRS"
wav=$work/tone.wav
sox -n -r 44100 -c 2 -b 16 "$wav" synth "$seconds" sine 1020 vol 0.5

for n in $counts; do
  "$cli" create "d$n" >/dev/null
  "$cli" add-file "d$n" "$wav" --law mu --ptime 20 >/dev/null
  for ((i = 0; i < n; ++i)); do
    "$cli" add-dest "d$n" 127.0.0.1 $((base_port + i)) >/dev/null
  done
done

# CPU in seconds: perf's task clock (all threads, nanoseconds) where perf runs, else
# /usr/bin/time's user + system (10 ms steps).
timer=
if perf stat -x, -e task-clock -o "$work/perf.txt" true 2>/dev/null; then
  timer="perf stat -x, -e task-clock -o $work/perf.txt"
fi
cpu_seconds() {
  if [[ -n $timer ]]; then
    awk -F, '$3 == "task-clock" {printf "%.4f\n", $1 / 1000}' "$work/perf.txt"
  else
    echo "$1 + $2" | bc
  fi
}

# The command line of one peer at n destinations.
peer_command() {
  local peer=$1 n=$2 i clients="" outputs=""
  case $peer in
    sonvex) echo "$cli stream d$n" ;;
    bare) echo "$bare $seconds $base_port $n 20" ;;
    bare_rt) echo "chrt -r 40 $bare $seconds $base_port $n 20" ;;
    gst)
      for ((i = 0; i < n; ++i)); do clients+="${clients:+,}127.0.0.1:$((base_port + i))"; done
      echo "gst-launch-1.0 -q filesrc location=$wav ! wavparse ! audioconvert ! audioresample !" \
        "audio/x-raw,rate=8000,channels=1 ! mulawenc ! rtppcmupay min-ptime=20000000" \
        "max-ptime=20000000 ! multiudpsink sync=true clients=$clients" ;;
    ffmpeg)
      if ((n == 1)); then
        outputs="-f rtp rtp://127.0.0.1:$base_port"
      else
        for ((i = 0; i < n; ++i)); do outputs+="${outputs:+|}[f=rtp]rtp://127.0.0.1:$((base_port + i))"; done
        outputs="-map 0:a -f tee $outputs"
      fi
      echo "ffmpeg -nostdin -loglevel error -re -i $wav -ac 1 -ar 8000 -c:a pcm_mulaw" \
        "-packet_size 172 $outputs" ;;
  esac
}

# One run: receiver up, the peer under /usr/bin/time, receiver down. Appends
# "peer n cpu_s rss_kb packets min_packets jitter_p50 jitter_p99 spread_p99 first_ms last_first_ms"
# to results.
run_one() {
  local peer=$1 n=$2 cmd
  cmd=$(peer_command "$peer" "$n")
  python3 "$receiver" "$base_port" "$n" 20 "$receiver_mode" >"$work/recv.txt" &
  receiver_pid=$!
  sleep 0.5
  # shellcheck disable=SC2086
  $timer /usr/bin/time -f "%U %S %M" -o "$work/time.txt" $cmd >/dev/null 2>"$work/err.txt" || true
  sleep 0.3
  kill "$receiver_pid" 2>/dev/null || true
  wait "$receiver_pid" 2>/dev/null || true
  receiver_pid=
  read -r user sys rss <"$work/time.txt"
  read -r packets least p50 p99 spread firstint lastint <"$work/recv.txt" || true
  echo "$peer $n $(cpu_seconds "$user" "$sys") $rss ${packets:-0} ${least:-0} ${p50:-nan} ${p99:-nan} ${spread:-nan} ${firstint:-nan} ${lastint:-nan}" \
    >>"$work/results.txt"
}

echo "load average at start: $(cut -d' ' -f1-3 /proc/loadavg)"
echo "$seconds s of 44.1 kHz stereo WAV as mu-law 20 ms, $rounds rounds, peers: ${peers[*]}," \
  "receiver: $receiver_mode"
for ((r = 1; r <= rounds; ++r)); do
  for n in $counts; do
    for peer in "${peers[@]}"; do
      run_one "$peer" "$n"
    done
  done
done

# CPU that converting the same audio costs (decode, resample, encode; no pacing, no sends).
conv=()
for ((r = 1; r <= rounds; ++r)); do
  mkdir -p "$work/out$r"
  $timer /usr/bin/time -f "%U %S" -o "$work/time.txt" "$cli" convert "$wav" -o "$work/out$r" \
    >/dev/null 2>&1 || true
  read -r user sys <"$work/time.txt"
  conv+=("$(cpu_seconds "$user" "$sys")")
done
convert_cpu=$(printf '%s\n' "${conv[@]}" | sort -g | awk '{v[NR]=$1} END {print v[int((NR+1)/2)]}')

median() {  # peer n column
  awk -v p="$1" -v n="$2" -v c="$3" '$1 == p && $2 == n {print $c}' "$work/results.txt" |
    sort -g | awk '{v[NR]=$1} END {if (NR) print v[int((NR+1)/2)]; else print "nan"}'
}

echo
printf '%-8s %5s %9s %9s %9s %9s %10s %10s %10s %10s %9s\n' peer dests "cpu_s" "x bare" "x gst" \
  "rss_kB" "min_pkts" "jit_p50us" "jit_p99us" "spread_p99" "first_ms"
for n in $counts; do
  bare_cpu=$(median bare "$n" 3)
  gst_cpu=$(median gst "$n" 3)
  for peer in "${peers[@]}"; do
    cpu=$(median "$peer" "$n" 3)
    printf '%-8s %5s %9.3f %9.2f %9s %9s %10s %10s %10s %10s %9s\n' "$peer" "$n" "$cpu" \
      "$(echo "scale=4; $cpu / $bare_cpu" | bc)" \
      "$( [[ $gst_cpu != nan ]] && echo "scale=2; $cpu / $gst_cpu" | bc || echo -)" \
      "$(median "$peer" "$n" 4)" "$(median "$peer" "$n" 6)" "$(median "$peer" "$n" 7)" \
      "$(median "$peer" "$n" 8)" "$(median "$peer" "$n" 9)" \
      "$(awk -v p="$peer" -v n="$n" '$1 == p && $2 == n {printf "%s%s/%s", sep, $10, $11; sep=","}' \
        "$work/results.txt")"
  done
done
echo "(first_ms: the first interval at the first and the last port, each round: 20 when the"
echo " first packet keeps its deadline like every other)"
echo
echo "convert of the same audio: $convert_cpu s CPU"
for n in $counts; do
  echo "sonvex at $n destination(s) / (bare loop + convert): $(echo "scale=2; $(median sonvex "$n" 3) / ($(median bare "$n" 3) + $convert_cpu)" | bc)"
  if [[ " ${peers[*]} " == *" bare_rt "* ]]; then
    echo "  / (bare loop at the same real-time priority + convert): $(echo "scale=2; $(median sonvex "$n" 3) / ($(median bare_rt "$n" 3) + $convert_cpu)" | bc)"
  fi
done

# Start-up: a command that opens the store and exits, against the bare loop's one tick.
echo
for tool in sonvex bare; do
  samples=()
  for ((r = 1; r <= 5; ++r)); do
    if [[ $tool == sonvex ]]; then
      $timer /usr/bin/time -f "%U %S %R %M" -o "$work/time.txt" "$cli" list >/dev/null
    else
      $timer /usr/bin/time -f "%U %S %R %M" -o "$work/time.txt" "$bare" 0.02 "$base_port" 1 20
    fi
    read -r user sys faults rss <"$work/time.txt"
    samples+=("$(echo "$(cpu_seconds "$user" "$sys") * 1000" | bc) $faults $rss")
  done
  printf '%s\n' "${samples[@]}" | sort -g | awk -v t="$tool" '{c[NR]=$1; f[NR]=$2; m[NR]=$3}
    END {i=int((NR+1)/2); printf "start-up %-7s CPU %5.0f ms  page faults %5d  peak RSS %6d kB\n", t, c[i], f[i], m[i]}'
done
echo "shared libraries of sonvex-cli: $(ldd "$cli" | wc -l)"
echo "load average at end: $(cut -d' ' -f1-3 /proc/loadavg)"
