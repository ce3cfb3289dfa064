#!/usr/bin/env bash
# Runs the real ventrel with the box simulator on a pseudo-terminal, a
# settings folder of its own and, for the service path, a notification
# socket that this script listens on in systemd's place. The clock-setting
# right is dropped for every program started here.
# Usage: ventrel_program_test.sh CASE VENTREL BOXSIM
set -u
test_case=$1 ventrel=$2 boxsim=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/harness.sh"
harness_start ventrel-test "$@"
box_log="$work/box.log"

start_box_on_com1() { start_box box "$work/root/dosdevices/com1" "$@"; }

# systemd's end of NOTIFY_SOCKET: each message one line of the log, its line
# breaks shown as '|'.
start_listener() {
  perl -MIO::Socket::UNIX -e '
    my $s = IO::Socket::UNIX->new(Type => SOCK_DGRAM(), Local => $ARGV[0]) or die "$!\n";
    open(my $log, ">>", $ARGV[1]) or die "$!\n";
    $log->autoflush(1);
    while (defined $s->recv(my $m, 4096)) { $m =~ tr/\n/|/; print $log "$m\n" }' \
    "$work/notify" "$work/notify.log" &
  track $!
  for _ in $(seq 50); do [ -S "$work/notify" ] && return; sleep 0.05; done
  fail "no notification socket"
}

ventrel_command() { CONFIGURATION_DIRECTORY="$work/root" "$ventrel" "$@"; }

systemd_absent() { [ ! -e /run/systemd/system ] && [ ! -e /run/systemd/private ]; }

# One spelling each: the option table's own test covers the others.
case_help() {
  run_ventrel -HELP
  [ "$rc" -eq 0 ] || fail "exit status $rc"
  cmp "$work/ventrel.out" "$here/expected_help.txt" || fail "help text"
  [ ! -s "$work/ventrel.err" ] || fail "wrote to standard error"
  [ "$elapsed_ms" -ge 1900 ] || fail "no 2 s pause ($elapsed_ms ms)"
  [ "$elapsed_ms" -lt 6000 ] || fail "went on to the service path"
}

case_install() {
  systemd_absent || { echo "systemd present: not touching it"; exit 77; }
  local arg expected="OpenSCManager failed - No such file or directory (0x2)"
  for arg in -load /UNLOAD; do
    run_ventrel "$arg" extra words
    [ "$rc" -eq 0 ] || fail "$arg: exit status $rc"
    [ "$(cat "$work/ventrel.out")" = "$expected" ] ||
      fail "$arg: printed '$(cat "$work/ventrel.out")'"
    [ "$elapsed_ms" -ge 1900 ] || fail "$arg: no 2 s pause"
  done
}

# Without systemd behind it the dispatcher stand-in fails after the summary
# and the 5 s pause; the journal line is the only trace.
case_service_path_from_console() {
  local arg i=0
  # Spellings that are no option have the option table's own test.
  for arg in -loadx ""; do
    (
      start=$(now_ms)
      if [ -n "$arg" ]; then set -- "$arg"; else set --; fi
      env -u NOTIFY_SOCKET CONFIGURATION_DIRECTORY="$work/root" \
        "$ventrel" "$@" >"$work/path$i.out" 2>"$work/path$i.err"
      echo "$? $(($(now_ms) - start))" >"$work/path$i.rc"
    ) &
    i=$((i + 1))
  done
  wait
  for i in 0 1; do
    read -r status ms <"$work/path$i.rc"
    cmp "$work/path$i.out" "$here/expected_summary.txt" || fail "run $i: summary"
    [ "$status" -ne 0 ] || fail "run $i: exit status 0 for a failed dispatcher"
    [ "$ms" -ge 4900 ] || fail "run $i: no 5 s pause ($ms ms)"
    [ "$(cat "$work/path$i.err")" = \
      "<3>Quorvel_to_PC_Clock_Service error: 107: StartServiceCtrlDispatcher failed." ] ||
      fail "run $i: journal line '$(cat "$work/path$i.err")'"
  done
}

# Debug mode against the box: hand-shake, polls on the cadence, Ctrl+C (or
# Ctrl+\), the closing pauses, exit status 0; nothing in the journal.
debug_run() {
  local signal=$1
  start_box_on_com1 --schedule "3:offset +5000"
  CONFIGURATION_DIRECTORY="$work/root" "$ventrel" -debug \
    >"$work/ventrel.out" 2>"$work/ventrel.err" &
  local pid=$!
  track $pid
  wait_for "rx 61 0C 03 70" 10 "$work/box.log" || fail "no polls"
  sleep 4
  # It runs for years beside playout software: the C++ locale machinery or a
  # library pulled in by accident would show here first.
  if [ "${QUORVEL_SANITIZE:-0}" = 0 ]; then
    local rss=$(awk '$1 == "VmRSS:" { print $2 }' "/proc/$pid/status")
    [ "$rss" -le 2048 ] || fail "resident set ${rss} kB, above 2 MB"
  fi
  local stop_at=$(now_ms)
  kill -s "$signal" "$pid"
  wait_for "^Stopping Quorvel to PC clock setting service.$" 2 "$work/ventrel.out" ||
    fail "no stopping line within 2 s of $signal"
  wait "$pid"
  rc=$?
  local took=$(($(now_ms) - stop_at))
  [ "$rc" -eq 0 ] || fail "exit status $rc"
  [ "$took" -ge 6900 ] && [ "$took" -lt 12000 ] || fail "ended ${took} ms after $signal"
  [ "$(head -n 1 "$work/ventrel.out")" = "Debugging Quorvel to PC clock setting service." ] ||
    fail "first line"
  ! grep -q '^<[0-9]>' "$work/ventrel.err" || fail "debug mode wrote to the journal"
  grep -Eq "^$live" \
    "$work/ventrel.err" || fail "no live status line on standard error"
  expect_poll_cadence "$box_log"
  echo "stopped ${took} ms after $signal"
}

# The live status line, as systemd shows it and as debug mode prints it.
live='(in step|missing \([1-6] of 6\)|no time code \([a-z ]+\)); code [0-9:]{11} [A-Za-z -]+; difference ([-+][0-9]+ ms|none); settings [0-9]+, refused [0-9]+'

case_debug_ctrl_c() { debug_run INT; }
case_debug_ctrl_backslash() { debug_run QUIT; }

# Starts ventrel as systemd would, with the listener's socket; sets $pid.
start_service() {
  NOTIFY_SOCKET="$work/notify" CONFIGURATION_DIRECTORY="$work/root" \
    "$ventrel" >"$work/ventrel.out" 2>"$work/ventrel.err" &
  pid=$!
  track $pid
}

case_box_switched_off() {
  start_listener
  start_box_on_com1 --schedule "0:silence on"
  start_service
  wait "$pid"
  rc=$?
  [ "$rc" -eq 0 ] || fail "exit status $rc"
  local line error
  line=$(grep '^<3>' "$work/ventrel.err")
  [[ "$line" =~ ^"<3>Quorvel_to_PC_Clock_Service error: "(-?[0-9]+)": Ventrel - Service unable to execute START on ComPort or BOX"$ ]] ||
    fail "journal line '$line'"
  error=${BASH_REMATCH[1]}
  ! grep -q "READY=1" "$work/notify.log" || fail "reported RUNNING"
  [ "$(tail -n 1 "$work/notify.log")" = \
    "ERRNO=$error|EXIT_STATUS=$error|STATUS=STOPPED, check-point 0, wait hint 0 ms, exit code $error" ] ||
    fail "STOPPED report"
}

# status_after FIRST THEN SECONDS: until a status line matching THEN follows
# the first notification matching FIRST (regular expressions for what follows
# "STATUS=").
status_after() {
  local deadline=$(($(now_ms) + $3 * 1000))
  until awk -v a="STATUS=$1" -v b="^STATUS=$2" '$0 ~ a {on = 1}
      on && $0 ~ b {found = 1} END {exit !found}' "$work/notify.log"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

# One service run as systemd would make it: the reports and their order, an
# interrogation, then the box goes silent and comes back, then its line hangs
# up and a new one appears under the same name (an adapter pulled and plugged
# in again): the status line tells each state, the journal the loss (once)
# and the return; the stop, and the exit code that the loss left alone.
case_service_under_systemd() {
  start_listener
  local link="$work/root/dosdevices/com1"
  # ventrel is running some 7 s after its start (its 5 s pause, the hand-shake).
  start_box_on_com1 --mode ntsc --schedule "12:silence on;15:silence off;18:hangup"
  start_service
  wait_for "READY=1" 15 "$work/notify.log" || fail "no READY=1"
  cmp "$work/ventrel.out" "$here/expected_summary.txt" || fail "summary"
  wait_for "service started" 2 "$work/ventrel.err" || fail "no start notice"
  local notice error
  notice=$(grep '^<3>' "$work/ventrel.err")
  [[ "$notice" =~ ^"<3>Quorvel_to_PC_Clock_Service error: "(-?[0-9]+)": Quorvel Time Code to PC clock service started"$ ]] ||
    fail "journal line '$notice'"
  error=${BASH_REMATCH[1]}
  kill -USR1 "$pid"  # an interrogation
  wait_for "STATUS=RUNNING, check-point 0, wait hint 1000 ms" 2 "$work/notify.log" ||
    fail "no answer to the interrogation"
  for _ in $(seq 30); do grep -Eq "^STATUS=$live" "$work/notify.log" && break; sleep 0.1; done
  grep -Eq "^STATUS=$live" "$work/notify.log" || fail "no live status line"

  local keeping='(in step|missing [(])'
  status_after "RUNNING" "no time code [(]box silent[)]; " 25 ||
    fail "no silent box in the status line"
  status_after "no time code [(]box silent" "$keeping" 10 ||
    fail "not keeping time after the silence"
  status_after "$keeping" "port error [(]Input/output error[)], reconnecting; " 15 ||
    fail "no port error in the status line"
  local lost="Ventrel - ComPort lost: Input/output error. Port closed; trying the BOX again every 5 s"
  grep -q "^<3>.*: $lost$" "$work/ventrel.err" || fail "no entry for the lost port"
  for _ in $(seq 100); do [ -L "$link" ] || break; sleep 0.05; done
  start_box box2 "$link" --mode ntsc
  wait_for "^<6>Ventrel - ComPort and BOX answer again; keeping time$" 20 \
    "$work/ventrel.err" || fail "not back once the new line appeared"
  status_after "port error" "$keeping" 10 || fail "not keeping time on the new line"
  [ "$(grep -c "$lost" "$work/ventrel.err")" -eq 1 ] || fail "the loss told more than once"

  local stop_at=$(now_ms)
  kill -TERM "$pid"
  wait "$pid"
  rc=$?
  local took=$(($(now_ms) - stop_at))
  [ "$rc" -eq 0 ] || fail "exit status $rc"
  [ "$took" -ge 4900 ] && [ "$took" -lt 10000 ] || fail "stopped ${took} ms after SIGTERM"
  local expected
  expected=$(printf '%s\n' \
    "EXTEND_TIMEOUT_USEC=3000000|STATUS=START_PENDING, check-point 1, wait hint 3000 ms" \
    "EXTEND_TIMEOUT_USEC=3000000|STATUS=START_PENDING, check-point 2, wait hint 3000 ms" \
    "READY=1|STATUS=RUNNING, check-point 0, wait hint 0 ms" \
    "READY=1|STATUS=RUNNING, check-point 0, wait hint 1000 ms" \
    "STOPPING=1|EXTEND_TIMEOUT_USEC=1000000|STATUS=STOP_PENDING, check-point 3, wait hint 1000 ms" \
    "ERRNO=$error|EXIT_STATUS=$error|STATUS=STOPPED, check-point 0, wait hint 0 ms, exit code $error")
  # The live status lines come between the state reports, which keep their order.
  [ "$(grep -v '^STATUS=' "$work/notify.log")" = "$expected" ] || fail "notifications"
  expect_poll_cadence "$box_log"
}

mkdir -p "$work/root"
"case_${test_case}"
echo "PASS: $test_case"
