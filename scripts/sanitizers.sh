#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Builds the core, naming, GUI and command-line tests with AddressSanitizer and
# UndefinedBehaviorSanitizer (clang, no recovery) into build-asan/ and runs
# them, the GUI ones under Xvfb.
# Any sanitizer report fails the run. Leak detection stays on; the only
# suppressions are the desktop libraries' own (tests/sanitizers/lsan.supp).
set -eu
cd "$(dirname "$0")/.."
SAN="-fsanitize=address,undefined -fno-sanitize-recover=undefined -fno-omit-frame-pointer"
LAUNCHER=()
if command -v ccache >/dev/null; then LAUNCHER=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache); fi
cmake -S . -B build-asan -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_FLAGS_RELWITHDEBINFO="-O1 -g" \
  -DCMAKE_CXX_COMPILER=clang++ "${LAUNCHER[@]}" -DTAVOLY_BUILD_BENCH=OFF \
  -DCMAKE_CXX_FLAGS="$SAN" -DCMAKE_EXE_LINKER_FLAGS="$SAN" >/dev/null
cmake --build build-asan -j"$(nproc)" --target tavoly_core_tests tavoly_naming_tests tavoly_gui_tests tavoly_cli_tests

export ASAN_OPTIONS="detect_leaks=1:detect_stack_use_after_return=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export LSAN_OPTIONS="suppressions=$PWD/tests/sanitizers/lsan.supp:print_suppressions=0"
LOG="build-asan/sanitizers.log"
status=0
{
  build-asan/tests/core/tavoly_core_tests || status=1
  build-asan/tests/naming/tavoly_naming_tests || status=1
  xvfb-run -a -s "-screen 0 1280x1024x24" build-asan/tests/gui/tavoly_gui_tests || status=1
  # The command-line tests keep the tool's own stderr, so its reports go to files.
  rm -f build-asan/cli-report.*
  ASAN_OPTIONS="$ASAN_OPTIONS:log_path=$PWD/build-asan/cli-report" \
  UBSAN_OPTIONS="$UBSAN_OPTIONS:log_path=$PWD/build-asan/cli-report" \
    build-asan/tests/cli/tavoly_cli_tests || status=1
  cat build-asan/cli-report.* 2>/dev/null || true
} >"$LOG" 2>&1 || status=1
# A report from a program the tests start goes to the same log.
reports=$(grep -cE 'ERROR: (Address|Leak)Sanitizer|runtime error:' "$LOG" || true)
grep -E '^\[  (PASSED|FAILED|SKIPPED) *\] [0-9]' "$LOG" || true
if [ "$status" -ne 0 ] || [ "$reports" -ne 0 ]; then
  grep -B2 -A30 -E 'ERROR: (Address|Leak)Sanitizer|runtime error:|Failure$' "$LOG" | head -200
  echo "sanitizers: FAILED ($reports reports; whole log in $LOG)"
  exit 1
fi
echo "sanitizers: 0 reports"
