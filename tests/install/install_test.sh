#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Installs the build into a temporary DESTDIR and checks the result.
#   install_test.sh <build-dir> tree   every file in its place, validators pass
#   install_test.sh <build-dir> keep   an existing settings file stays as it was
set -eu
build=$1
what=$2
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
root=$dest/usr
fail() { echo "FAIL: $*" >&2; exit 1; }
install_tree() { DESTDIR=$dest cmake --install "$build" --prefix /usr >/dev/null; }

if [ "$what" = keep ]; then
  # A user's file: their choice at 12000, other data around it, a later size.
  mkdir -p "$root/lib/mp3tavoly/Vov"
  head -c 12000 /dev/urandom >"$root/lib/mp3tavoly/Vov/Vov.dat"
  printf '0more data' >>"$root/lib/mp3tavoly/Vov/Vov.dat"
  cp "$root/lib/mp3tavoly/Vov/Vov.dat" "$dest/before"
  install_tree
  install_tree
  cmp "$dest/before" "$root/lib/mp3tavoly/Vov/Vov.dat" || fail "settings file changed"
  [ -z "$(find "$root/lib/mp3tavoly/Vov" -name '.*')" ] || fail "temporary file left"
  echo "kept"
  exit 0
fi

install_tree
id=org.example.Mp3Tavoly
[ -x "$root/lib/mp3tavoly/mp3tavoly" ] || fail "no program"
[ "$(readlink "$root/bin/mp3tavoly")" = ../lib/mp3tavoly/mp3tavoly ] || fail "bad bin link"

dat=$root/lib/mp3tavoly/Vov/Vov.dat
[ "$(stat -c %s "$dat")" = 12001 ] || fail "settings file size"
[ "$(tail -c 1 "$dat")" = 1 ] || fail "settings byte"
[ "$(head -c 12000 "$dat" | tr -d '\0' | wc -c)" = 0 ] || fail "settings padding"

for size in 16 24 32 48 64 128 256; do
  png=$root/share/icons/hicolor/${size}x${size}/apps/$id.png
  file "$png" | grep -q "PNG image data, $size x $size, 8-bit/color RGBA" \
    || fail "icon $size: $(file "$png")"
done

gzip -t "$root/share/man/man1/mp3tavoly.1.gz" || fail "man page"
if command -v groff >/dev/null; then
  warnings=$(zcat "$root/share/man/man1/mp3tavoly.1.gz" | groff -man -Tutf8 -ww -z 2>&1)
  [ -z "$warnings" ] || fail "man page: $warnings"
fi

for lang in $(grep -v '^#' "$(dirname "$0")/../../po/LINGUAS"); do
  [ -f "$root/share/locale/$lang/LC_MESSAGES/mp3tavoly.mo" ] || fail "no $lang catalogue"
  gzip -t "$root/share/man/$lang/man1/mp3tavoly.1.gz" || fail "$lang man page"
  gzip -t "$root/share/man/$lang/man1/mp3tavoly-rename.1.gz" || fail "$lang man page of the tool"
done
# The installed tool finds its catalogues beside it.
LANG=C.UTF-8 LANGUAGE=de "$root/bin/mp3tavoly-rename" --help | grep -q '^Aufruf: ' || fail "no German"

desktop=$root/share/applications/$id.desktop
metainfo=$root/share/metainfo/$id.metainfo.xml
[ -f "$desktop" ] || fail "no desktop entry"
[ -f "$metainfo" ] || fail "no metainfo"
grep -qx "Icon=$id" "$desktop" || fail "desktop entry names another icon"
if command -v desktop-file-validate >/dev/null; then
  out=$(desktop-file-validate "$desktop" 2>&1)
  [ -z "$out" ] || fail "desktop-file-validate: $out"
else
  echo "desktop-file-validate not installed: skipped"
fi
if command -v appstreamcli >/dev/null; then
  # No errors and no warnings; infos and pedantic notes are fine.
  appstreamcli validate --no-net --no-color "$metainfo" >"$dest/as.txt" 2>&1 \
    || fail "appstreamcli: $(cat "$dest/as.txt")"
  ! grep -q '^[EW]:' "$dest/as.txt" || fail "appstreamcli: $(cat "$dest/as.txt")"
else
  echo "appstreamcli not installed: skipped"
fi
echo "installed tree good"
