#!/usr/bin/env bash
# Polycom group paging on the wire, timed by a receiver written from the format: one session
# of a 1020 Hz tone to the paging group 224.0.1.116:5001 from the bench sender, in mu-law and
# in G.722, then from `sonvex-cli stream` of a playlist whose file is A-law at 40 ms (sent as
# mu-law in 20 ms frames), inside a network namespace this script makes, whose one interface is
# loopback (nothing reaches a network). The receiver prints each session's alert, transmit and end counts and spacing, the
# first transmit's distance from the last alert, the redundant frames and sample counts, and
# the tone's level and SNR beside an ideal coding of it; the WAV files stay in the folder
# printed.
#
# Usage: bash bench/polycom.sh [BUILD_DIR]   (default build/dev; needs the bench targets
#        polycom_send and polycom_receiver, and sonvex-cli, built)
set -euo pipefail
build=${1:-build/dev}
send=$build/bench/polycom/polycom_send
receive=$build/bench/polycom/polycom_receiver
[ -x "$send" ] && [ -x "$receive" ] || { echo "polycom.sh: build polycom_send and polycom_receiver in $build" >&2; exit 1; }
if [ "${POLYCOM_INSIDE:-}" != 1 ]; then
  exec env POLYCOM_INSIDE=1 unshare --net bash "$0" "$build"
fi
links=$(ip -o link show | awk -F': ' '{ print $2 }')
if [ "$links" != lo ]; then
  echo "polycom.sh: not in a namespace of loopback alone (interfaces: $links)" >&2
  exit 1
fi
ip link set lo up
ip route add 224.0.0.0/4 dev lo
out=$(mktemp -d)

for codec in mu g722; do
  echo "== $codec"
  "$receive" --group 224.0.1.116 --port 5001 --seconds 6 --wav "$out/$codec.wav" --tone 1020 &
  receiver=$!
  sleep 0.3  # bound and joined before the first alert
  "$send" --to 224.0.1.116 --port 5001 --channel 26 --caller Sonvex --serial 0x12345678 \
    --seconds 3 --tone 1020 --codec "$codec"
  wait "$receiver"
done
echo "== sonvex-cli stream, A-law at 40 ms"
cli=$build/cli/sonvex-cli
export XDG_CONFIG_HOME=$out/config XDG_CONFIG_DIRS=$out/xdg
python3 - "$out/tone.wav" <<'PY'
import math, struct, sys, wave
with wave.open(sys.argv[1], "wb") as w:
    w.setnchannels(1); w.setsampwidth(2); w.setframerate(8000)
    w.writeframes(b"".join(struct.pack("<h", round(12000 * math.sin(2 * math.pi * 1020 * n / 8000)))
                           for n in range(3 * 8000)))
PY
"$cli" create phones
"$cli" add-file phones "$out/tone.wav" --law a --ptime 40
"$cli" add-dest phones 224.0.1.116 5001 --mode polycom --channel 26 --caller Sonvex --serial 305419896
"$receive" --group 224.0.1.116 --port 5001 --seconds 7 --wav "$out/stream.wav" --tone 1020 &
receiver=$!
sleep 0.3
"$cli" stream phones >/dev/null
wait "$receiver"
echo "WAV files in $out"
