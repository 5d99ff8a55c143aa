#!/usr/bin/env bash
# SPDX-License-Identifier: GPL-3.0-or-later
# Runs the cases that need an ordinary user (root passes every permission
# check) as one: as root, copies the built tests into a temporary folder owned
# by TAVOLY_TEST_USER (default nobody) and runs them there through setpriv;
# as any other user, runs them directly. Needs a built build/ (scripts/build.sh).
# Fails when one of them fails or still skips.
set -eu
cd "$(dirname "$0")/.."
USER_NAME="${TAVOLY_TEST_USER:-nobody}"
CORE_FILTER='AsUser.*'
GUI_FILTER='OptionsTest.*:FaultTest.*:-FaultTest.Batch*'
CLI_FILTER='CliTest.AFolderThatCannotBeOpenedIsReported:CliTest.TheJournalMustBeTheRunnersOwn:CliTest.ARunDeeperThanAPathCanNameIsUndone:CliTest.AnUndoLeavesOpenWhatItCouldNotMoveAndRetriesIt:CliTest.ADamagedRecordIsSkippedAndEveryOtherFileComesBack'

WORK="$(mktemp -d /tmp/tavoly-user.XXXXXX)"
trap 'rm -rf "$WORK"' EXIT
# Copies: the Options tests write Vov/Vov.dat beside the test program.
cp build/tests/core/tavoly_core_tests build/tests/gui/tavoly_gui_tests \
   build/tests/cli/tavoly_cli_tests build/app/mp3tavoly-rename "$WORK/"

run=(env)
if [ "$(id -u)" -eq 0 ]; then
  chown -R "$USER_NAME:$(id -gn "$USER_NAME")" "$WORK"
  run=(setpriv --reuid="$USER_NAME" --regid="$(id -g "$USER_NAME")" --clear-groups
       --inh-caps=-all env -i PATH="$PATH")
fi
"${run[@]}" HOME="$WORK" TMPDIR="$WORK" bash -c '
  set -eu
  cd "$HOME"
  echo "Running as $(id -un) (uid $(id -u)) in $HOME"
  ./tavoly_core_tests --gtest_filter="$1"
  TAVOLY_RENAME_EXE="$HOME/mp3tavoly-rename" ./tavoly_cli_tests --gtest_filter="$3"
  xvfb-run -a -s "-screen 0 1280x1024x24" ./tavoly_gui_tests --gtest_filter="$2"
' unprivileged "$CORE_FILTER" "$GUI_FILTER" "$CLI_FILTER" 2>&1 | tee "$WORK/log"
status=${PIPESTATUS[0]}
if [ "$status" -ne 0 ]; then
  echo "unprivileged run: FAILED"
  exit 1
fi
if grep -q '^\[  SKIPPED \]' "$WORK/log"; then
  echo "unprivileged run: a case still skipped (the reason is printed above)"
  exit 1
fi
echo "unprivileged run: passed"
