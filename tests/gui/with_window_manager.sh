#!/bin/sh
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs a command with a window manager (openbox) on the display, so that the
# windows are placed and stacked as on a desktop. On a loaded machine openbox
# may take seconds to come up, or give up at its first try: it gets three.
command -v openbox >/dev/null 2>&1 || { echo "openbox is not installed"; exit 77; }
started=""
for try in 1 2 3; do
  openbox --sm-disable >/dev/null 2>&1 &
  wm=$!
  i=0
  while kill -0 "$wm" 2>/dev/null && [ "$i" -le 200 ]; do
    if xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id'; then
      started=1
      break
    fi
    i=$((i + 1))
    sleep 0.05
  done
  [ -n "$started" ] && break
  kill "$wm" 2>/dev/null
  wait "$wm" 2>/dev/null
done
[ -n "$started" ] || { echo "openbox did not start"; exit 1; }
"$@"
rc=$?
kill "$wm"
wait "$wm" 2>/dev/null
exit "$rc"
