#!/usr/bin/env bash
# Plays what `sonvex-cli stream` sends through a receiver nobody here wrote: ffmpeg reads the
# SDP file sonvex-cli wrote, binds (and joins the group) as it describes, and records SECONDS
# of the stream into a WAV file while the playlist streams.
#   record_stream.sh SONVEX_CLI PLAYLIST SDP OUTPUT SECONDS [--isolated]
# --isolated: the caller has put this script into a network namespace of its own; the script
# checks that loopback is its only interface, brings it up and routes multicast to it, so no
# packet can reach any network.
set -euo pipefail
cli=$1 playlist=$2 sdp=$3 output=$4 seconds=$5

if [ "${6:-}" = --isolated ]; then
  links=$(ip -o link show | awk -F': ' '{ print $2 }')
  if [ "$links" != lo ]; then
    echo "record_stream: not in a namespace of loopback alone (interfaces: $links)" >&2
    exit 1
  fi
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo
fi

timeout 60 ffmpeg -nostdin -hide_banner -loglevel error -protocol_whitelist file,udp,rtp \
  -i "$sdp" -t "$seconds" -y "$output" &
receiver=$!
sleep 1  # the receiver has bound its port before the first packet
"$cli" stream "$playlist" --duration $((seconds + 3))
wait "$receiver"
