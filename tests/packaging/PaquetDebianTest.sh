#!/usr/bin/env bash
# Builds the Debian package from a build tree, checks it with lintian, validates
# its desktop entry and metainfo, unpacks it and runs the programs it holds.
#   PaquetDebianTest.sh BUILD_DIR SOURCE_DIR
set -euo pipefail
build=$1
source=$2
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT

fail() { echo "FAIL: $*" >&2; exit 1; }

cpack --config "$build/CPackConfig.cmake" -G DEB -B "$scratch" > "$scratch/cpack.log" ||
  { cat "$scratch/cpack.log"; fail "cpack"; }
deb=$(ls "$scratch"/*.deb)
echo "package: $(basename "$deb")"
dpkg-deb --info "$deb" | sed -n '/Package:/,$p'

# No error; the warnings left are printed for a person to read.
lintian --fail-on error --no-tag-display-limit "$deb" || fail "lintian"

desktop-file-validate "$source/packaging/fr.dorvane.station.desktop" || fail "desktop entry"
appstreamcli validate --no-net "$build/packaging/fr.dorvane.station.metainfo.xml" || fail "metainfo"

dpkg-deb -x "$deb" "$scratch/root"
usr="$scratch/root/usr"
for program in station simulateur souffles; do
  [ -x "$usr/bin/$program" ] || fail "$program missing"
  [ -s "$usr/share/man/man1/$program.1.gz" ] || fail "man page of $program missing"
done
for size in 16 32 48 256; do
  [ -s "$usr/share/icons/hicolor/${size}x${size}/apps/fr.dorvane.station.png" ] || fail "icon $size"
done
[ -s "$usr/share/icons/hicolor/scalable/apps/fr.dorvane.station.svg" ] || fail "svg icon"
"$usr/bin/simulateur" --help | grep -q "Utilisation : simulateur" || fail "simulateur --help"
"$usr/bin/souffles" --help | grep -q "CAPTURE" || fail "souffles --help"
"$usr/bin/station" --version | grep -q "station" || fail "station --version"
# NAME line in UTF-8, option apart from its text, programs hardened.
zcat "$usr/share/man/man1/simulateur.1.gz" | grep -q "sur un port série" || fail "man page NAME"
zcat "$usr/share/man/man1/simulateur.1.gz" | grep -q '^\\fB\\-\\-start\\-delay\\fR MS$' ||
  fail "man page --start-delay"
lintian --pedantic "$deb" | grep -E "hardening-no|unneeded-section" && fail "hardening"
echo "package checked"
