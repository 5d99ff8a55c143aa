#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the program and starts it on the current display.
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
  echo "No display: start it from a desktop session, or under Xvfb: xvfb-run -a $0" >&2
  exit 1
fi
exec build/app/mp3tavoly
