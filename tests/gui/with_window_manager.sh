#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a window manager (openbox) on the display, so that the
# windows are placed and stacked as on a desktop.
command -v openbox >/dev/null 2>&1 || { echo "openbox is not installed"; exit 77; }
openbox --sm-disable >/dev/null 2>&1 &
wm=$!
i=0
until xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; do
  i=$((i + 1))
  [ "$i" -le 100 ] || { echo "openbox did not start"; kill "$wm"; exit 1; }
  sleep 0.05
done
"$@"
rc=$?
kill "$wm"
wait "$wm" 2>/dev/null
exit "$rc"
