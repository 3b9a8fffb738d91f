#!/usr/bin/env bash
# Captures on loopback (with tshark's capture engine, dumpcap) what `sonvex-cli stream` sends while it streams a playlist
# for SECONDS, into PCAP.
#   capture_stream.sh SONVEX_CLI PLAYLIST PCAP SECONDS FILTER [--isolated]
# --isolated: the caller has put this script into a network namespace of its own; the script
# checks that loopback is its only interface, brings it up and routes multicast to it, so no
# packet can reach any network.
set -euo pipefail
cli=$1 playlist=$2 pcap=$3 seconds=$4 filter=$5

if [ "${6:-}" = --isolated ]; then
  links=$(ip -o link show | awk -F': ' '{ print $2 }')
  if [ "$links" != lo ]; then
    echo "capture_stream: not in a namespace of loopback alone (interfaces: $links)" >&2
    exit 1
  fi
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo
fi

timeout $((seconds + 60)) dumpcap -q -i lo -f "$filter" -a duration:$((seconds + 5)) \
  -w "$pcap" 2>/dev/null &
capture=$!
# The capture file appears once dumpcap captures; a moment more before the first packet.
for _ in $(seq 200); do
  [ -s "$pcap" ] && break
  sleep 0.1
done
sleep 0.5
"$cli" stream "$playlist" --duration "$seconds" >/dev/null
wait "$capture"
