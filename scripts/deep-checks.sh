#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# The checks CI runs after the normal test command (scripts/test.sh, which
# builds build/): injected faults, sanitizers, an unprivileged user, fuzzing.
# Each script also runs on its own; see the README.
set -eu
cd "$(dirname "$0")/.."
bash scripts/install-deps.sh
step() { local t=$SECONDS; echo "== $1"; shift; "$@"; echo "== done in $((SECONDS - t)) s"; }
step "injected faults" bash scripts/faults.sh
step "sanitizers" bash scripts/sanitizers.sh
step "unprivileged user" bash scripts/unprivileged.sh
step "fuzzing, ${FUZZ_SECONDS:-60} s a target" bash scripts/fuzz.sh "${FUZZ_SECONDS:-60}"
