#!/usr/bin/env bash
# Installs what is missing, builds with AddressSanitizer and UndefinedBehaviorSanitizer
# (warnings as errors), checks the sources' formatting and runs clang-tidy on them
# (scripts/lint.sh), and runs every test through CTest, then drives that build of the
# application on a virtual X server as an operator would (scripts/ui-smoke.sh); then builds
# the threaded tests with ThreadSanitizer and runs those; last, builds the Debian package and
# checks it.
set -euo pipefail
cd "$(dirname "$0")/.."

bash scripts/setup-deps.sh

JOBS=$(nproc)
export QT_QPA_PLATFORM=offscreen

cmake -S . -B build/asan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVEX_SANITIZE=address,undefined -DSONVEX_WERROR=ON -DSONVEX_BUILD_BENCH=OFF
cmake --build build/asan -j "$JOBS"
bash scripts/lint.sh build/asan
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  ctest --test-dir build/asan --output-on-failure -j "$JOBS" --timeout 600
ASAN_OPTIONS=detect_leaks=1:abort_on_error=1 \
UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1 \
  bash scripts/ui-smoke.sh build/asan/ui/sonvex

cmake -S . -B build/tsan -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DSONVEX_SANITIZE=thread -DSONVEX_WERROR=ON -DSONVEX_BUILD_BENCH=OFF
cmake --build build/tsan -j "$JOBS"
TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1 suppressions=$PWD/tests/tsan-suppressions.txt" \
  ctest --test-dir build/tsan --output-on-failure -L threaded --timeout 600

deb=$(bash scripts/package.sh)
bash scripts/check-package.sh "$deb"
