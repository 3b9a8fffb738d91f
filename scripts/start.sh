#!/usr/bin/env bash
# Installs what is missing, builds Sonvex (release) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh
cmake -S . -B build/release -G Ninja -DCMAKE_BUILD_TYPE=Release \
  -DSONVEX_BUILD_TESTS=OFF -DSONVEX_BUILD_BENCH=OFF
cmake --build build/release -j "$(nproc)"
exec build/release/ui/sonvex "$@"
