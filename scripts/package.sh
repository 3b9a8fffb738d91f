#!/usr/bin/env bash
# Installs what is missing, then builds the Debian package: a Release tree without tests or benchmarks, installed under /usr,
# compiled with Debian's hardening flags, packed by CPack. Prints only the package's path on
# standard output (the build's progress goes to standard error).
# BUILD_DIR picks the build folder (default build/package).
set -euo pipefail
cd "$(dirname "$0")/.."

BUILD_DIR=${BUILD_DIR:-build/package}
umask 022
bash scripts/setup-deps.sh >&2

# Debian's own compiler and linker flags: stack protector, fortified functions, read-only
# relocations bound at start.
export DEB_BUILD_MAINT_OPTIONS=hardening=+all
CPPFLAGS=$(dpkg-buildflags --get CPPFLAGS)
export CFLAGS="$(dpkg-buildflags --get CFLAGS) $CPPFLAGS"
export CXXFLAGS="$(dpkg-buildflags --get CXXFLAGS) $CPPFLAGS"
export LDFLAGS=$(dpkg-buildflags --get LDFLAGS)

launcher=()
if command -v ccache >/dev/null; then
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache -DCMAKE_C_COMPILER_LAUNCHER=ccache)
fi
{
  cmake -S . -B "$BUILD_DIR" -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DSONVEX_BUILD_TESTS=OFF -DSONVEX_BUILD_BENCH=OFF "${launcher[@]}"
  cmake --build "$BUILD_DIR" -j "$(nproc)"
  rm -f "$BUILD_DIR"/*.deb
  (cd "$BUILD_DIR" && cpack -G DEB)
} >&2
deb=$(ls "$BUILD_DIR"/*.deb)
echo "$(cd "$(dirname "$deb")" && pwd)/$(basename "$deb")"
