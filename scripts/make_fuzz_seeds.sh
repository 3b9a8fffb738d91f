#!/usr/bin/env bash
# Makes varied media for the fuzzers' corpora in the given folder: every WAV encoding sox
# writes (several rates and channel counts, extensible records), MP3 at constant and variable
# bit rates in MPEG 1, 2 and 2.5 with and without the encoder's tag, ID3 tags before and
# after, MPEG audio inside WAV files, and copies cut short inside their headers and data.
# Every file stays under 128 KiB, the fuzzers' input limit.
set -euo pipefail

OUT=${1:?usage: make_fuzz_seeds.sh <folder>}
mkdir -p "$OUT"
WORK=$(mktemp -d)
trap 'rm -rf "$WORK"' EXIT

tone() {  # tone <rate> <channels> <seconds> <file> [sox output options...]
  local rate=$1 channels=$2 seconds=$3 file=$4
  shift 4
  sox -q -n -r "$rate" -c "$channels" "$@" "$file" synth "$seconds" sine 440 sine 1330 vol 0.4
}

# WAV: each encoding at a rate and channel count it allows.
tone 8000 1 0.5 "$OUT/u8_8k.wav" -e unsigned-integer -b 8
tone 22050 2 0.3 "$OUT/s16_22k_stereo.wav" -e signed-integer -b 16
tone 44100 1 0.2 "$OUT/s24_44k.wav" -e signed-integer -b 24
tone 16000 2 0.2 "$OUT/s32_16k_stereo.wav" -e signed-integer -b 32
tone 11025 1 0.3 "$OUT/f32_11k.wav" -e floating-point -b 32
tone 8000 2 0.2 "$OUT/f64_8k_stereo.wav" -e floating-point -b 64
tone 8000 1 1.0 "$OUT/alaw_8k.wav" -e a-law
tone 8000 2 0.5 "$OUT/mulaw_8k_stereo.wav" -e u-law
tone 8000 1 2.0 "$OUT/ima_8k.wav" -e ima-adpcm
tone 44100 2 0.5 "$OUT/ima_44k_stereo.wav" -e ima-adpcm
tone 8000 1 2.0 "$OUT/ms_8k.wav" -e ms-adpcm
tone 22050 2 0.5 "$OUT/ms_22k_stereo.wav" -e ms-adpcm
tone 8000 1 2.0 "$OUT/gsm_8k.wav" -e gsm-full-rate
# ADPCM longer than its 43008-byte step, so that whole steps and a partial one are read.
tone 8000 1 25 "$OUT/ima_8k_long.wav" -e ima-adpcm
tone 8000 1 25 "$OUT/ms_8k_long.wav" -e ms-adpcm
tone 48000 6 0.1 "$OUT/s16_48k_6ch.wav" -e signed-integer -b 16
tone 8000 4 0.5 "$OUT/s16_8k_4ch.wav" -e signed-integer -b 16

# MP3: constant and variable bit rates, the three MPEG versions, tags on and off.
tone 44100 2 1.0 "$WORK/44k.wav" -b 16
tone 22050 1 1.0 "$WORK/22k.wav" -b 16
tone 8000 1 1.5 "$WORK/8k.wav" -b 16
tone 11025 2 1.0 "$WORK/11k.wav" -b 16
lame --quiet --cbr -b 128 "$WORK/44k.wav" "$OUT/cbr128_44k.mp3"
lame --quiet -V 4 "$WORK/44k.wav" "$OUT/vbr_44k.mp3"
lame --quiet -t --cbr -b 96 -m j "$WORK/44k.wav" "$OUT/notag_joint_44k.mp3"
lame --quiet --cbr -b 64 "$WORK/22k.wav" "$OUT/mpeg2_22k.mp3"
lame --quiet --cbr -b 32 "$WORK/22k.wav" "$OUT/mpeg2_22k_small.mp3"
lame --quiet --cbr -b 16 "$WORK/8k.wav" "$OUT/mpeg25_8k.mp3"
lame --quiet -V 6 "$WORK/11k.wav" "$OUT/mpeg25_vbr_11k.mp3"
lame --quiet --cbr -b 64 --add-id3v2 --tt title --ta artist --tc comment "$WORK/22k.wav" \
  "$OUT/id3v2_22k.mp3"
lame --quiet --cbr -b 64 --id3v1-only --tt title "$WORK/22k.wav" "$OUT/id3v1_22k.mp3"
# Layer II named .mp3, and MPEG audio inside WAV files.
ffmpeg -nostdin -v error -y -i "$WORK/22k.wav" -c:a mp2 -b:a 64k -f mp2 "$OUT/layer2_22k.mp3" \
  || true
ffmpeg -nostdin -v error -y -i "$WORK/22k.wav" -c:a libmp3lame -b:a 64k -map_metadata -1 \
  -fflags +bitexact -flags:a +bitexact -f wav "$OUT/mp3_in_22k.wav" || true

# Cut copies: inside the RIFF and "fmt " headers, at the data header, inside the data; an
# MP3 cut inside its tag frame and inside a later frame.
for f in s16_22k_stereo ms_22k_stereo gsm_8k ima_8k; do
  for n in 11 30 40 52 70 501; do
    head -c "$n" "$OUT/$f.wav" > "$OUT/cut${n}_$f.wav"
  done
done
head -c 300 "$OUT/cbr128_44k.mp3" > "$OUT/cut300_cbr128_44k.mp3"
head -c 20000 "$OUT/vbr_44k.mp3" > "$OUT/cut20000_vbr_44k.mp3"
head -c 5000 "$OUT/id3v2_22k.mp3" > "$OUT/cut5000_id3v2_22k.mp3"

# Anything over the fuzzers' input limit would be cut by them anyway: keep the corpus within.
find "$OUT" -type f \( -size +128k -o -empty \) -delete
