#!/usr/bin/env bash
# Captures a short stream on the loopback interface (needs root for tshark) and runs the
# RTP stream analysis over it: sequence errors, timestamp steps and markers.
#   rtp_capture_check.sh <streaming_bench executable> [seconds] [port]
set -euo pipefail
bench=${1:?streaming_bench executable}
seconds=${2:-10}
port=${3:-21500}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
capture="$work/rtp.pcapng"

tshark -q -i lo -f "udp dst port $port" -w "$capture" 2>/dev/null &
shark=$!
sleep 2
"$bench" --only-stream --seconds "$seconds" --port "$port"
sleep 1
kill "$shark"
wait "$shark" || true

tshark -r "$capture" -d "udp.port==$port,rtp" -q -z rtp,streams
echo "packets with the marker bit, and their sequence numbers:"
tshark -r "$capture" -d "udp.port==$port,rtp" -Y rtp.marker==1 -T fields -e rtp.seq
echo "distinct timestamp steps (payload bytes per packet):"
tshark -r "$capture" -d "udp.port==$port,rtp" -T fields -e rtp.timestamp |
  awk 'NR > 1 { print $1 - prev } { prev = $1 }' | sort -n | uniq -c
