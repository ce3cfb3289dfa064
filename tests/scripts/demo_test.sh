#!/usr/bin/env bash
# The demo stopped by Ctrl+C as a terminal delivers it, to the whole
# foreground process group: the script must end with ventrel's status 0,
# after ventrel's stopping line, and leave no settings folder behind.
# Usage: demo_test.sh SOURCE_DIR BUILD_DIR
set -u
source "$(dirname "$0")/../support/harness.sh"
source_dir=$1 build_dir=$2
boxsim="$build_dir/tools/boxsim/boxsim"
need_boxsim
harness_start demo_test "$@"

mkdir "$work/tmp"
# Job control gives the demo a process group of its own, with Ctrl+C not
# ignored as it would be for a plain background command.
set -m
TMPDIR="$work/tmp" BUILD_DIR="$build_dir" DEMO_PREBUILT=1 DEMO_SCHEDULE="2:offset +5000" \
  "$source_dir/scripts/demo" >"$work/demo.out" 2>&1 &
demo=$!
set +m
track "$demo"

wait_for "^Debugging Quorvel" 20 "$work/demo.out" || fail "the demo did not start"
# Past the schedule's jump, so the stop meets a service that was setting.
wait_for "refused [1-9]" 20 "$work/demo.out" || fail "no refused setting after the jump"
kill -INT -- "-$demo"
wait "$demo" || fail "the demo ended with status $?"
grep -q "^Stopping Quorvel to PC clock setting service.$" "$work/demo.out" ||
  fail "no stopping line"
grep -q "ventrel ended with exit status 0" "$work/demo.out" || fail "no closing line"
leftover=$(ls -A "$work/tmp")
[ -z "$leftover" ] || fail "left behind: $leftover"
echo "demo stopped cleanly"
