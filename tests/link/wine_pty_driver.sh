#!/usr/bin/env bash
# Runs a Windows test program under Wine with COM1 mapped to a simulated box
# on a pseudo-terminal and COM2 to one that stays silent.
# Usage: wine_pty_driver.sh BOXSIM WINE_RUN PREFIX PROGRAM [ARGS...]
# Exits 77 (skipped) when no native box simulator has been built.
set -u
boxsim=$1 wine_run=$2 prefix=$3
source "$(dirname "$0")/../support/harness.sh"
need_boxsim
harness_start quorvel-wine-link "$@"
shift 3

start_box working "$work/working"
working=$device
start_box silent "$work/silent" --schedule "0:silence on"
map_ports COM1 "$working" COM2 "$device"

wine "$@" || fail "the test program failed"
