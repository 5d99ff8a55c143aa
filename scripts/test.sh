#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds everything and runs every test; the GUI tests get their own X server.
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
xvfb-run -a -s "-screen 0 1280x1024x24" \
  ctest --test-dir build --output-on-failure -j"$(nproc)"
