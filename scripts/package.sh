#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the Debian package into build/ (mp3tavoly_<version>_<arch>.deb):
# CPack packs whatever the install rules put in place.
set -eu
cd "$(dirname "$0")/.."
bash scripts/build.sh
cd build
rm -f mp3tavoly_*.deb
cpack -G DEB
