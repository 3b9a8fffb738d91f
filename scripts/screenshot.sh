#!/usr/bin/env bash
# Renders the main window with a small demo playlist and its soundboard into
# docs/screenshot.png (light theme) and docs/screenshot-dark.png (dark theme): builds the
# application, makes three short audio files, writes the playlists into a scratch
# configuration through the application's own store and captures the window under a virtual
# X server.
# BUILD_DIR picks the build folder (default build/release).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/release}
if [ ! -f "$BUILD_DIR/build.ninja" ] && [ ! -f "$BUILD_DIR/Makefile" ]; then
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release \
    -DSONVEX_BUILD_TESTS=OFF -DSONVEX_BUILD_BENCH=OFF
fi
cmake --build "$BUILD_DIR" --target sonvex_screenshot -j "$(nproc)"

SCRATCH=$(mktemp -d)
trap 'rm -rf "$SCRATCH"' EXIT
mkdir -p "$SCRATCH/config" "$SCRATCH/machine" "$SCRATCH/audio"
sox -n -r 22050 -c 2 -b 16 "$SCRATCH/audio/welcome.wav" synth 12 sine 440 vol 0.3
sox -n -r 44100 -c 2 "$SCRATCH/audio/lobby theme.mp3" synth 30 sine 330 vol 0.3
sox -n -r 8000 -c 1 -b 16 "$SCRATCH/audio/announcement.wav" synth 6 sine 600 vol 0.3

mkdir -p docs
for look in light dark; do
  rm -rf "$SCRATCH/config" && mkdir -p "$SCRATCH/config"
  out=docs/screenshot.png
  flag=()
  if [ "$look" = dark ]; then out=docs/screenshot-dark.png flag=(--dark); fi
  XDG_CONFIG_HOME="$SCRATCH/config" XDG_CONFIG_DIRS="$SCRATCH/machine" QT_QPA_PLATFORM=xcb \
    xvfb-run -a -s "-screen 0 1280x1024x24" \
    "$BUILD_DIR/ui/sonvex_screenshot" "${flag[@]}" "$out" \
    "$SCRATCH/audio/welcome.wav" "$SCRATCH/audio/lobby theme.mp3" "$SCRATCH/audio/announcement.wav"
  echo "screenshot: $out"
done
