#!/usr/bin/env bash
# Installs the Debian packages Sonvex needs to build, run, test, benchmark and package.
# Idempotent: only missing packages are installed. Runs as root, or through sudo otherwise.
set -euo pipefail

PACKAGES=(
  build-essential cmake ninja-build pkg-config git
  libgtest-dev libgmock-dev libbenchmark-dev
  qt6-base-dev libmpg123-dev libsoxr-dev libgsm1-dev liburing-dev libsqlite3-dev
  libsystemd-dev libasound2-dev libspandsp-dev libespeak-ng-dev libcpp-httplib-dev libssl-dev
  libcli11-dev nlohmann-json3-dev
  fp-utils
  xvfb xauth fonts-dejavu-core clang libclang-rt-14-dev clang-format-14 clang-tidy-14
  lame sox libsox-fmt-mp3 ffmpeg gstreamer1.0-tools linux-perf tshark
  dpkg-dev file desktop-file-utils appstream lintian librsvg2-bin
  xdotool openbox x11-apps python3 iproute2 tzdata gstreamer1.0-libav
  gstreamer1.0-plugins-base gstreamer1.0-plugins-good
  chromium chromium-driver python3-selenium espeak-ng openssl
)

missing=()
for p in "${PACKAGES[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  echo "setup-deps: all packages present"
  exit 0
fi

SUDO=""
if [ "$(id -u)" -ne 0 ]; then
  SUDO="sudo"
fi
echo "setup-deps: installing ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
# tshark asks whether non-root users may capture; answer no without a prompt.
echo "wireshark-common wireshark-common/install-setuid boolean false" | $SUDO debconf-set-selections
$SUDO apt-get update -qq
$SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
