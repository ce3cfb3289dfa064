#!/usr/bin/env bash
# Runs the Windows build of ventrel under Wine, in a prefix of its own, with
# COM1 mapped to the native box simulator on a pseudo-terminal. Wine's ping,
# a second a packet, keeps the prefix busy, because Wine ends its services
# once no ordinary program runs; the services' error-type event log entries
# appear on its standard error (WINEDEBUG=err+eventlog). One run: the
# option paths, debug mode, then the service installed, started and removed.
# Usage: ventrel_wine_test.sh WINE_RUN PREFIX VENTREL BOXSIM
set -u
wine_run=$1 prefix=$2 ventrel=$3 boxsim=$4
here=$(cd "$(dirname "$0")" && pwd)
service=Quorvel_to_PC_Clock_Service
display="Quorvel to PC clock setting service"

source "$here/../support/harness.sh"
need_boxsim
harness_start ventrel-wine "$@"
harness_cleanup() { wine "$ventrel" -unload >/dev/null 2>&1; }
# Console output of a Windows program, its line ends made Unix ones.
ventrel_out() { tr -d '\r' <"$work/ventrel.out"; }
ventrel_command() { timeout 120 "$wine_run" "$prefix" "$ventrel" "$@"; }

# start_box_on_com1 NAME: a box on a pseudo-terminal, logging to
# $work/NAME.log, with COM1 mapped to it; the keep-alive ping starts after
# the Wine server has restarted to take the mapping. Wine cannot give a
# pseudo-terminal odd parity a second time, so each run has a box of its own.
start_box_on_com1() {
  start_box "$1" "$work/$1"
  map_ports COM1 "$device"
  WINEDEBUG=err+eventlog "$wine_run" "$prefix" ping -n 280 127.0.0.1 \
    >/dev/null 2>"$work/events.err" &
  track $!
  sleep 2
}

in_state() { [ "$(service_state)" = "$1" ]; }

# A service left from an earlier run would change what installing prints.
wine "$ventrel" -unload >/dev/null 2>&1

# The help text, the summary, the exit status and the pauses are shared code
# that the native program test checks, as the live test does a second
# -unload. From a console the dispatcher cannot start: the entries.
WINEDEBUG=err+eventlog run_ventrel
grep -q "err:eventlog:ReportEventW L\"$service error: 1063\"" "$work/ventrel.err" ||
  fail "no entry with error 1063"
grep -q 'err:eventlog:ReportEventW L"StartServiceCtrlDispatcher failed."' \
  "$work/ventrel.err" || fail "no dispatcher entry"

# Debug mode, stopped by Ctrl+C.
start_box_on_com1 debug
"$wine_run" "$prefix" "$ventrel" -debug >"$work/ventrel.out" 2>"$work/ventrel.err" &
pid=$!
track $pid
wait_for "rx 61 0C 03 70" 30 "$work/debug.log" || fail "no polls"
sleep 3
stop_at=$(now_ms)
kill -INT "$pid"
ended "$pid" "$stop_at" 6900 15000
[ "$(ventrel_out)" = "Debugging $display."$'\n'"Stopping $display." ] ||
  fail "console: '$(ventrel_out)'"

start_box_on_com1 service
run_ventrel /Load
[ "$(ventrel_out)" = "$display loaded." ] || fail "load: '$(ventrel_out)'"
[ "$(service_state)" = STOPPED ] || fail "not installed stopped"
wine_out reg query "HKLM\\System\\CurrentControlSet\\Services\\$service" >"$work/key.out"
# Started at boot, a process of its own, its names and program.
for value in "Start +REG_DWORD +0x2" "Type +REG_DWORD +0x10" "ErrorControl +REG_DWORD +0x1" \
  "DisplayName +REG_SZ +$display" "ImagePath +REG_SZ +.*[\\]Ventrel.exe"; do
  grep -Eq "$value$" "$work/key.out" || fail "service key lacks $value"
done
run_ventrel -LOAD
[[ "$(ventrel_out)" =~ ^"CreateService failed - ".*" (0x431)"$ ]] ||
  fail "second load: '$(ventrel_out)'"
wine net start "$service" >"$work/net.out" 2>&1
poll 30 in_state RUNNING || fail "never RUNNING"
wait_for 'ReportEventW L"Quorvel Time Code to PC clock service started"' 5 \
  "$work/events.err" || fail "no start notice"
grep -q "ReportEventW L\"$service error: 0\"" "$work/events.err" ||
  fail "start notice's first string"
sleep 3
expect_poll_cadence "$work/service.log"

# Removal while it runs: the stop that the service manager sends (net stop
# sends the same), a dot a second, stopped, removed. STOPPED comes only
# once the worker has ended: the runtime test's.
run_ventrel -unload
[[ "$(ventrel_out)" =~ ^"Stopping $display."\.{3,8}$'\n'"$display stopped."$'\n'"$display removed."$ ]] ||
  fail "unload while running: '$(ventrel_out)'"
[ -z "$(service_state)" ] || fail "still installed"
echo "PASS"
