#!/usr/bin/env bash
# Builds the media fuzzer with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer)
# and runs it for the given number of seconds (default 60), seeded with the MP3 fixtures
# and a few small WAV files. Findings are written to build/fuzz/findings/.
set -euo pipefail
cd "$(dirname "$0")/.."

SECS=${1:-60}
BUILD=build/fuzz
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVEX_FUZZ=ON -DSONVEX_SANITIZE=address,undefined -DSONVEX_BUILD_UI=OFF \
  -DSONVEX_BUILD_TESTS=OFF -DSONVEX_BUILD_BENCH=OFF >/dev/null
cmake --build "$BUILD" --target media_open_fuzz -j 2

CORPUS="$BUILD/corpus/media_open"
FINDINGS="$BUILD/findings"
mkdir -p "$CORPUS" "$FINDINGS"
cp tests/fixtures/*.mp3 "$CORPUS"/
if command -v sox >/dev/null; then
  sox -n -r 8000 -c 1 -e u-law "$CORPUS/seed_mulaw.wav" synth 0.05 sine 440
  sox -n -r 22050 -c 2 -b 16 "$CORPUS/seed_pcm.wav" synth 0.02 sine 440
  sox -n -r 8000 -c 1 -e ima-adpcm "$CORPUS/seed_ima.wav" synth 0.05 sine 440
  sox -n -r 8000 -c 1 -e ms-adpcm "$CORPUS/seed_ms.wav" synth 0.05 sine 440
fi

ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  "$BUILD/fuzz/media_open_fuzz" -max_total_time="$SECS" -max_len=65536 -timeout=10 \
  -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$FINDINGS/" "$CORPUS"
