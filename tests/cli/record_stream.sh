#!/usr/bin/env bash
# Plays what `sonvex-cli stream` sends through a receiver nobody here wrote: ffmpeg reads the
# SDP file sonvex-cli wrote, binds (and joins the group) as it describes, and records SECONDS
# of the stream into a WAV file while the playlist streams.
#   record_stream.sh SONVEX_CLI PLAYLIST SDP OUTPUT SECONDS [--isolated] [--gstreamer]
# --isolated: the caller has put this script into a network namespace of its own; the script
# checks that loopback is its only interface, brings it up and routes multicast to it, so no
# packet can reach any network.
# --gstreamer: GStreamer records instead, given the RTP caps the SDP file's m=, c= and rtpmap
# lines make (it has no reader of SDP files of its own here).
set -euo pipefail
cli=$1 playlist=$2 sdp=$3 output=$4 seconds=$5
shift 5
isolated='' gstreamer=''
for flag in "$@"; do
  case $flag in
    --isolated) isolated=1 ;;
    --gstreamer) gstreamer=1 ;;
    *) echo "record_stream: unknown flag $flag" >&2; exit 2 ;;
  esac
done

if [ -n "$isolated" ]; then
  links=$(ip -o link show | awk -F': ' '{ print $2 }')
  if [ "$links" != lo ]; then
    echo "record_stream: not in a namespace of loopback alone (interfaces: $links)" >&2
    exit 1
  fi
  ip link set lo up
  ip route add 224.0.0.0/4 dev lo
fi

# The depayloader and decoder of each encoding the program sends.
gst_receiver() {
  local address port type encoding rate chain
  address=$(sed -n 's/^c=IN IP4 \([0-9.]*\).*/\1/p' "$sdp" | tr -d '\r' | head -1)
  read -r port type < <(sed -n 's/^m=audio \([0-9]*\) RTP\/AVP \([0-9]*\).*/\1 \2/p' "$sdp" | tr -d '\r')
  IFS=/ read -r encoding rate < <(sed -n "s/^a=rtpmap:$type \\([^ ]*\\)/\\1/p" "$sdp" | tr -d '\r')
  case $encoding in
    G722) chain="rtpg722depay ! avdec_g722" ;;
    PCMU) chain="rtppcmudepay ! mulawdec" ;;
    PCMA) chain="rtppcmadepay ! alawdec" ;;
    *) echo "record_stream: no GStreamer chain for $encoding" >&2; return 1 ;;
  esac
  # One packet a 20 ms: the count ends the recording with an end of stream, so the WAV file's
  # sizes are written.
  # shellcheck disable=SC2086
  timeout 60 gst-launch-1.0 -q udpsrc address="$address" port="$port" \
    num-buffers=$((seconds * 50)) \
    caps="application/x-rtp,media=audio,payload=$type,clock-rate=$rate,encoding-name=$encoding" \
    ! rtpjitterbuffer ! $chain ! audioconvert ! audio/x-raw,format=S16LE,channels=1 \
    ! wavenc ! filesink location="$output"
}

if [ -n "$gstreamer" ]; then
  gst_receiver &
else
  timeout 60 ffmpeg -nostdin -hide_banner -loglevel error -protocol_whitelist file,udp,rtp \
    -i "$sdp" -t "$seconds" -y "$output" &
fi
receiver=$!
sleep 1  # the receiver has bound its port before the first packet
"$cli" stream "$playlist" --duration $((seconds + 3))
wait "$receiver"
