#!/usr/bin/env bash
# The real ventrel against the box simulator on a pseudo-terminal, with a
# settings folder of its own and, for the service path, a notification
# socket that this script listens on in systemd's place.
# Usage: ventrel_program_test.sh CASE VENTREL BOXSIM
set -u
test_case=$1 ventrel=$2 boxsim=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/harness.sh"
harness_start ventrel-test "$@"
box_log="$work/box.log"

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
  poll 3 test -S "$work/notify" || fail "no notification socket"
}

ventrel_command() { CONFIGURATION_DIRECTORY="$work/root" "$ventrel" "$@"; }

# The one-shot runs, one spelling each (the option table's test has the
# others), with their exit status and pauses: 2 s after an option, 5 s after
# the summary that a start without systemd behind it prints. -load and
# -unload find no service manager.
case_console() {
  run_ventrel -HELP
  [ "$rc" -eq 0 ] || fail "exit status $rc"
  cmp "$work/ventrel.out" "$here/expected_help.txt" || fail "help text"
  [ ! -s "$work/ventrel.err" ] || fail "wrote to standard error"
  [ "$elapsed_ms" -ge 1900 ] || fail "no 2 s pause ($elapsed_ms ms)"

  unset NOTIFY_SOCKET
  run_ventrel
  cmp "$work/ventrel.out" "$here/expected_summary.txt" || fail "summary"
  [ "$rc" -ne 0 ] || fail "exit status 0 for a failed dispatcher"
  [ "$elapsed_ms" -ge 4900 ] || fail "no 5 s pause ($elapsed_ms ms)"
  [ "$(cat "$work/ventrel.err")" = \
    "<3>Quorvel_to_PC_Clock_Service error: 107: StartServiceCtrlDispatcher failed." ] ||
    fail "journal line '$(cat "$work/ventrel.err")'"

  [ ! -e /run/systemd/system ] && [ ! -e /run/systemd/private ] ||
    { echo "systemd present: -load and -unload not run"; return; }
  local arg expected="OpenSCManager failed - No such file or directory (0x2)"
  for arg in -load /UNLOAD; do
    run_ventrel "$arg" extra words
    [ "$(cat "$work/ventrel.out")" = "$expected" ] ||
      fail "$arg: printed '$(cat "$work/ventrel.out")'"
  done
}

# Debug mode against the box: hand-shake, polls on the cadence, Ctrl+\ (a
# Ctrl+C the demo test gives), the closing pauses, exit status 0; nothing in
# the journal. Its first line and its live status line are the demo test's.
case_debug_ctrl_backslash() {
  start_box box "$work/root/dosdevices/com1" --schedule "3:offset +5000"
  CONFIGURATION_DIRECTORY="$work/root" "$ventrel" -debug \
    >"$work/ventrel.out" 2>"$work/ventrel.err" &
  local pid=$!
  track $pid
  wait_for "rx 61 0C 03 70" 10 "$box_log" || fail "no polls"
  sleep 4
  # It runs for years beside playout software: the C++ locale machinery or a
  # library pulled in by accident would grow its own code and private memory
  # (about 360 kB; the locale machinery made them 580 kB).
  if [ "${QUORVEL_SANITIZE:-0}" = 0 ]; then
    local own=$(awk -v exe="$(readlink "/proc/$pid/exe")" '/^[0-9a-f]+-/ { file = $6 }
      /^Rss:/ && file == exe { kb += $2 } /^Anonymous:/ && file != exe { kb += $2 }
      END { print kb }' "/proc/$pid/smaps")
    [ "$own" -le 512 ] || fail "ventrel's own memory ${own} kB, above 512 kB"
    local libs=$(awk '$6 ~ /[.]so/ { print $6 }' "/proc/$pid/maps" | sort -u |
      grep -Ev '/(libc|ld-linux-x86-64)[.]so' || true)
    [ -z "$libs" ] || fail "libraries beyond the C library: $libs"
  fi
  local stop_at=$(now_ms)
  kill -QUIT "$pid"
  wait_for "^Stopping Quorvel to PC clock setting service.$" 2 "$work/ventrel.out" ||
    fail "no stopping line within 2 s of SIGQUIT"
  ended "$pid" "$stop_at" 6900 12000
  ! grep -q '^<[0-9]>' "$work/ventrel.err" || fail "debug mode wrote to the journal"
  expect_poll_cadence "$box_log"
}

# status_after FIRST THEN SECONDS: until a status line matching THEN follows
# the first matching FIRST (both what follows "STATUS=").
status_after() {
  poll "$3" awk -v a="STATUS=$1" -v b="^STATUS=$2" '$0 ~ a {on = 1}
      on && $0 ~ b {found = 1} END {exit !found}' "$work/notify.log"
}

# One service run as systemd would make it: an interrogation answered on the
# socket; the box silent and back, told in the status line; its line hung up
# and a new one under the same name (an adapter pulled and plugged in again),
# told in the journal; the stop. The reports' order and wording are the
# runtime and text tests'.
case_service_under_systemd() {
  start_listener
  local link="$work/root/dosdevices/com1"
  # ventrel is running some 7 s after its start (its 5 s pause, the hand-shake).
  start_box box "$link" --mode ntsc --schedule "12:silence on;15:silence off;18:hangup"
  NOTIFY_SOCKET="$work/notify" CONFIGURATION_DIRECTORY="$work/root" \
    "$ventrel" >"$work/ventrel.out" 2>"$work/ventrel.err" &
  local pid=$!
  track $pid
  wait_for "READY=1" 15 "$work/notify.log" || fail "no READY=1"
  kill -USR1 "$pid"  # an interrogation
  wait_for "^READY=1|STATUS=RUNNING, check-point 0, wait hint 1000 ms$" 2 "$work/notify.log" ||
    fail "no answer to the interrogation"
  local keeping='(in step|missing [(])'
  status_after "RUNNING" "no time code [(]box silent[)]; " 25 ||
    fail "no silent box in the status line"
  status_after "no time code [(]box silent" "$keeping" 10 ||
    fail "not keeping time after the silence"
  local lost="Ventrel - ComPort lost: Input/output error. Port closed; trying the BOX again every 5 s"
  wait_for "^<3>.*: $lost$" 15 "$work/ventrel.err" || fail "no entry for the lost port"
  poll 5 test ! -L "$link"
  start_box box2 "$link" --mode ntsc
  wait_for "^<6>Ventrel - ComPort and BOX answer again; keeping time$" 20 \
    "$work/ventrel.err" || fail "not back once the new line appeared"

  local stop_at=$(now_ms)
  kill -TERM "$pid"
  ended "$pid" "$stop_at" 4900 10000
  tail -n 1 "$work/notify.log" | grep -q "|STATUS=STOPPED, " || fail "no STOPPED report last"
}

mkdir -p "$work/root"
"case_${test_case}"
echo "PASS: $test_case"
