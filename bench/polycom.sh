#!/usr/bin/env bash
# Polycom group paging on the wire, timed by a receiver written from the format: one session
# of a 1020 Hz tone to the paging group 224.0.1.116:5001, in mu-law and in G.722, inside a
# network namespace this script makes, whose one interface is loopback (nothing reaches a
# network). The receiver prints each session's alert, transmit and end counts and spacing, the
# first transmit's distance from the last alert, the redundant frames and sample counts, and
# the tone's level and SNR beside an ideal coding of it; the WAV files stay in the folder
# printed.
#
# Usage: bash bench/polycom.sh [BUILD_DIR]   (default build/dev; needs the bench targets
#        polycom_send and polycom_receiver built)
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
echo "WAV files in $out"
