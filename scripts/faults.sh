#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the injected-fault tests of the normal build and prints their folder
# manifests (files lost / replaced / corrupted). The full-disk case mounts a
# small tmpfs and so runs only as root; elsewhere it says why it skips.
# Needs a built build/ (scripts/build.sh).
set -eu
cd "$(dirname "$0")/.."
build/tests/core/tavoly_core_tests --gtest_filter='FullDisk.*'
xvfb-run -a -s "-screen 0 1280x1024x24" build/tests/gui/tavoly_gui_tests --gtest_filter='FaultTest.*'
