#!/usr/bin/env bash
# Builds the fuzzers with clang (libFuzzer, AddressSanitizer, UndefinedBehaviorSanitizer) and
# runs each for the given number of seconds (default 60), one after the other:
# media_open_fuzz (the file reader and the WAV writer) and decode_chain_fuzz (probe, engine
# packets to the end of the source, converter). Both are seeded with the MP3 fixtures and the
# media scripts/make_fuzz_seeds.sh makes; their corpora grow under build/fuzz/corpus/ and
# findings are written to build/fuzz/findings/.
#   scripts/fuzz.sh [seconds] [target...]
set -euo pipefail
cd "$(dirname "$0")/.."

SECS=${1:-60}
shift || true
TARGETS=("$@")
if [ ${#TARGETS[@]} -eq 0 ]; then
  TARGETS=(media_open_fuzz decode_chain_fuzz)
fi
BUILD=build/fuzz
LAUNCHER=()
if command -v ccache >/dev/null; then
  LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S . -B "$BUILD" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVEX_FUZZ=ON -DSONVEX_SANITIZE=address,undefined -DSONVEX_BUILD_UI=OFF \
  -DSONVEX_BUILD_TESTS=OFF -DSONVEX_BUILD_BENCH=OFF "${LAUNCHER[@]}" >/dev/null
cmake --build "$BUILD" --target "${TARGETS[@]}" -j 2

SEEDS="$BUILD/seeds"
if [ ! -d "$SEEDS" ]; then
  bash scripts/make_fuzz_seeds.sh "$SEEDS.tmp"
  cp tests/fixtures/*.mp3 "$SEEDS.tmp"/
  mv "$SEEDS.tmp" "$SEEDS"
fi
FINDINGS="$BUILD/findings"
mkdir -p "$FINDINGS"

for target in "${TARGETS[@]}"; do
  CORPUS="$BUILD/corpus/$target"
  mkdir -p "$CORPUS"
  echo "== $target for $SECS s"
  ASAN_OPTIONS=detect_leaks=1 UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
    "$BUILD/fuzz/$target" -max_total_time="$SECS" -max_len=131072 -timeout=20 \
    -rss_limit_mb=2048 -print_final_stats=1 -artifact_prefix="$FINDINGS/$target-" \
    "$CORPUS" "$SEEDS"
done
