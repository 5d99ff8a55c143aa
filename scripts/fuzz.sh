#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the libFuzzer targets (clang) into build-fuzz/ and runs each for
# SECONDS (default 60) on the corpus in tests/fuzz/corpus/. Inputs that ever
# made a target fail are kept in tests/fuzz/regressions/<target>/ and are
# replayed first on every run; commit new ones with the fix.
#   scripts/fuzz.sh [SECONDS] [TARGET...]
set -eu
cd "$(dirname "$0")/.."
SECONDS_PER_TARGET="${1:-60}"
shift || true
TARGETS=("$@")
[ ${#TARGETS[@]} -gt 0 ] || TARGETS=(fuzz_name fuzz_tag fuzz_id3v2)

LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-fuzz -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
  "${LAUNCHER[@]}" -DTAVOLY_FUZZ=ON -DTAVOLY_BUILD_GUI=OFF -DTAVOLY_BUILD_BENCH=OFF >/dev/null
cmake --build build-fuzz -j"$(nproc)" --target "${TARGETS[@]}"

# The tag target writes a file per run: memory-backed storage keeps it fast.
FUZZ_TMP="$(mktemp -d "$( [ -w /dev/shm ] && echo /dev/shm || echo "${TMPDIR:-/tmp}")/tavoly-fuzz.XXXXXX")"
trap 'rm -rf "$FUZZ_TMP"' EXIT
export TMPDIR="$FUZZ_TMP"
status=0
for t in "${TARGETS[@]}"; do
  bin="build-fuzz/tests/fuzz/$t"
  kept="tests/fuzz/regressions/$t"
  mkdir -p "$kept" "build-fuzz/corpus/$t"
  if compgen -G "$kept/*" >/dev/null; then
    echo "== $t: replaying $(ls "$kept" | wc -l) kept inputs"
    "$bin" "$kept"/* >"build-fuzz/$t-replay.log" 2>&1 || {
      tail -40 "build-fuzz/$t-replay.log"; echo "$t: a kept input fails again"; status=1; }
  fi
  echo "== $t: fuzzing for ${SECONDS_PER_TARGET}s"
  if "$bin" -max_total_time="$SECONDS_PER_TARGET" -timeout=10 -print_final_stats=1 \
       -artifact_prefix="$kept/" "build-fuzz/corpus/$t" "tests/fuzz/corpus/$t" \
       >"build-fuzz/$t.log" 2>&1; then
    echo "$t: $(sed -n 's/^stat::number_of_executed_units: *//p' "build-fuzz/$t.log") executions, no failure"
  else
    tail -60 "build-fuzz/$t.log"
    echo "$t: FAILED; the input is kept in $kept/ (commit it with the fix)"
    status=1
  fi
done
exit $status
