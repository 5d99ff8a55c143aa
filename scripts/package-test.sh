#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Packaging test (CI, as root, on a machine it may change): builds the .deb,
# checks it with lintian, installs it with apt, starts the installed program
# until its main window is up, then removes the package and checks that only
# its conffile stays behind (apt keeps conffiles until a purge).
set -eu
cd "$(dirname "$0")/.."
[ "$(id -u)" = 0 ] || { echo "package-test.sh: run as root" >&2; exit 1; }
fail() { echo "FAIL: $*" >&2; exit 1; }
t0=$(date +%s)
step() { echo "== $* ($(($(date +%s) - t0)) s)"; }
export DEBIAN_FRONTEND=noninteractive

step "build the package"
bash scripts/package.sh >/dev/null
deb=$(ls build/mp3tavoly_*.deb)
conffiles=$(dpkg-deb --ctrl-tarfile "$deb" | tar -xOf - ./conffiles)
[ "$conffiles" = /etc/mp3tavoly/Vov.dat ] || fail "conffiles: $conffiles"

step "lintian"
lintian --fail-on error "$deb"

# Start from no package at all, and note which of its folders exist already.
if dpkg-query -W -f='${Status}' mp3tavoly 2>/dev/null | grep -qv not-installed; then
  apt-get purge -y -qq mp3tavoly >/dev/null
fi
paths=$(dpkg-deb --fsys-tarfile "$deb" | tar -t | sed 's|^\./|/|; s|/$||' | grep -v '^$')
existing=$(for p in $paths; do [ -e "$p" ] || [ -L "$p" ] && echo "$p"; done || true)

step "apt-get install"
apt-get install -y -qq "./$deb" >/dev/null
[ "$(stat -c %U:%G:%s "$(readlink -f /usr/lib/mp3tavoly/Vov/Vov.dat)")" = root:root:12001 ] \
  || fail "settings file"

step "start the program"
xvfb-run -a -s "-screen 0 1280x1024x24" bash -c '
  /usr/bin/mp3tavoly & pid=$!
  wid=$(timeout 30 xdotool search --sync --name "^Mp3 Tavoly - Mp3 files auto-renamer\$" | head -n 1)
  class=$(xprop -id "$wid" WM_CLASS 2>/dev/null || true)
  kill "$pid"; wait "$pid" 2>/dev/null || true
  [ -n "$wid" ] || { echo "FAIL: no main window" >&2; exit 1; }
  echo "main window up: $class"
  grep -qx "StartupWMClass=$(echo "$class" | sed "s/.*\"\\(.*\\)\"\$/\\1/")" \
    /usr/share/applications/org.example.Mp3Tavoly.desktop \
    || { echo "FAIL: StartupWMClass does not match $class" >&2; exit 1; }'

step "apt-get remove"
apt-get remove -y -qq mp3tavoly >/dev/null
dpkg-query -W -f='${Status}' mp3tavoly | grep -q 'config-files' || fail "not removed"
for p in $paths; do
  if [ "$p" = /etc/mp3tavoly ] || [ "$p" = /etc/mp3tavoly/Vov.dat ]; then
    [ -e "$p" ] || fail "conffile gone before the purge: $p"
  elif [ -e "$p" ] || [ -L "$p" ]; then
    grep -qxF "$p" <<<"$existing" || fail "left behind: $p"
  fi
done
apt-get purge -y -qq mp3tavoly >/dev/null
[ ! -e /etc/mp3tavoly ] || fail "purge left /etc/mp3tavoly"
step "done"
