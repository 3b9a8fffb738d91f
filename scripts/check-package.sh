#!/usr/bin/env bash
# Checks a built Debian package as a user would meet it: the desktop entry and the AppStream
# data validate, the package holds every file an installed Sonvex needs, the icons are the sizes
# their folders name, the manual pages format without warnings, the service template parses,
# the programs unpacked into a scratch folder print the package's version, the changelog and
# the AppStream release name that version, and lintian finds no error (its other findings are
# printed). Usage: scripts/check-package.sh PACKAGE.deb
set -euo pipefail
cd "$(dirname "$0")/.."

deb=${1:?usage: check-package.sh PACKAGE.deb}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
failures=0
fail() {
  echo "check-package: FAIL: $*" >&2
  failures=$((failures + 1))
}

version=$(dpkg-deb --field "$deb" Version)
# A headless G.711 streamer has no use for a video codec tree: the small audio libraries only,
# with those the programs load only when a command needs them (G.722, speech).
depends=$(dpkg-deb --field "$deb" Depends)
if grep -Eq '(^|[ ,])libav|libswresample' <<<"$depends"; then
  fail "Depends names libav*: $depends"
fi
for lib in libmpg123 libsoxr libgsm liburing libasound libspandsp libespeak-ng; do
  grep -q "$lib" <<<"$depends" || fail "Depends lacks $lib: $depends"
done
root="$scratch/root"
dpkg-deb -x "$deb" "$root"
dpkg-deb -c "$deb" | awk '{ print $6 }' | sed 's|^\./|/|' >"$scratch/contents"

# Every file the installed programs, the desktop and the manual need.
has() { grep -qx -- "$1" "$scratch/contents"; }
expect() { has "$1" || fail "missing $1"; }
expect /usr/bin/sonvex
expect /usr/share/sonvex/help/qsvhelp.chm
for page in res/help/*.html res/help/*.css; do
  expect "/usr/share/sonvex/help/$(basename "$page")"
done
expect /usr/share/man/man1/sonvex.1.gz
expect /usr/share/doc/sonvex/copyright
expect /usr/share/doc/sonvex/changelog.gz
for size in 16 22 24 32 48 64 128 256; do
  icon=/usr/share/icons/hicolor/${size}x${size}/apps/sonvex.png
  expect "$icon"
  if has "$icon" && ! file "$root$icon" | grep -q "PNG image data, $size x $size,"; then
    fail "$icon is not a $size x $size PNG"
  fi
done
expect /usr/share/icons/hicolor/scalable/apps/sonvex.svg
# The command-line program, its manual page and the service template come with its sources.
if [ -f cli/CMakeLists.txt ]; then
  expect /usr/bin/sonvex-cli
  expect /usr/share/man/man1/sonvex-cli.1.gz
  grep -q '/lib/systemd/system/sonvex-stream@\.service$' "$scratch/contents" ||
    fail "missing the service template sonvex-stream@.service"
fi

# The desktop entry and the AppStream data: one of each, naming each other and the icon.
desktop=$(grep '^/usr/share/applications/.*\.desktop$' "$scratch/contents" || true)
metainfo=$(grep '^/usr/share/metainfo/.*\.metainfo\.xml$' "$scratch/contents" || true)
if [ "$(echo "$desktop" | wc -w)" -ne 1 ] || [ "$(echo "$metainfo" | wc -w)" -ne 1 ]; then
  fail "expected one desktop entry and one metainfo file, found: $desktop $metainfo"
else
  desktop-file-validate "$root$desktop" || fail "desktop-file-validate rejects $desktop"
  appstreamcli validate --no-net "$root$metainfo" || fail "appstreamcli rejects $metainfo"
  grep -q "<launchable type=\"desktop-id\">$(basename "$desktop")</launchable>" \
    "$root$metainfo" || fail "$metainfo does not launch $(basename "$desktop")"
  grep -qx 'Icon=sonvex' "$root$desktop" || fail "$desktop does not name the icon sonvex"
  release=$(grep -o '<release version="[^"]*"' "$root$metainfo" | head -n 1 | cut -d'"' -f2)
  [ "$release" = "$version" ] || fail "newest AppStream release is '$release', not $version"
fi

# The changelog's newest entry is this version.
zcat "$root/usr/share/doc/sonvex/changelog.gz" >"$scratch/changelog"
logged=$(dpkg-parsechangelog -l "$scratch/changelog" -S Version)
[ "$logged" = "$version" ] || fail "newest changelog entry is $logged, not $version"

# Manual pages format without a warning.
for page in "$root"/usr/share/man/man1/*.gz; do
  warnings=$(LC_ALL=C.UTF-8 man --warnings -E UTF-8 -l "$page" 2>&1 >/dev/null)
  [ -z "$warnings" ] || fail "$(basename "$page"): $warnings"
done

# The service template and the server's unit parse, point at the packaged program and keep
# their exposure level (checked in the scratch tree).
mkdir "$scratch/units"
for name in 'sonvex-stream@' sonvex; do
  unit=$(grep "/systemd/system/$name\.service\$" "$scratch/contents" || true)
  [ -n "$unit" ] || fail "missing the unit $name.service"
  if command -v systemd-analyze >/dev/null; then
    check="$scratch/units/${name/@/@check}.service"
    sed "s|ExecStart=/|ExecStart=$root/|" "$root$unit" >"$check"
    systemd-analyze verify --man=no "$check" || fail "systemd-analyze rejects $unit"
    # The exposure level, in tenths: 2.5 or better.
    systemd-analyze security --offline=yes --threshold=25 "$check" >"$scratch/security" 2>&1 ||
      fail "systemd-analyze security rates $unit $(tail -n 1 "$scratch/security")"
  else
    echo "check-package: systemd-analyze not installed, $name.service not verified"
  fi
done

# The unpacked programs run and print the package's version.
for program in sonvex sonvex-cli; do
  if has "/usr/bin/$program"; then
    out=$(QT_QPA_PLATFORM=offscreen "$root/usr/bin/$program" --version) ||
      fail "$program --version exits with an error"
    [ "$out" = "$program $version" ] || fail "$program --version prints '$out'"
  fi
done

# lintian: errors fail, the rest is shown.
lintian --fail-on error --display-info "$deb" || fail "lintian reports errors"

if [ "$failures" -ne 0 ]; then
  echo "check-package: $failures check(s) failed for $deb" >&2
  exit 1
fi
echo "check-package: $deb passes"
