#!/usr/bin/env bash
# Ventrel as chrony's reference clock, end to end: a private chronyd (-x, so
# it never controls the clock, and without the clock-setting right anyway)
# takes Ventrel's samples at the production socket path inside a private
# mount namespace with its own /run; the box simulator runs a known offset
# from this machine's clock. chrony's view of the house time must come
# within 2 ms of that offset, first +250 ms and then -3 s, also after chrony
# restarts. Ventrel runs unprivileged, joined to the socket's group as the
# administrator's steps in service/README.md arrange it.
# Usage: chrony_test.sh MODE VENTREL BOXSIM
set -u
mode=$1 ventrel=$2 boxsim=$3
here=$(cd "$(dirname "$0")" && pwd)
command -v chronyd >/dev/null || { echo "no chronyd: install chrony"; exit 77; }
if [ -z "${QUORVEL_PRIVATE_RUN:-}" ]; then
  QUORVEL_PRIVATE_RUN=1 exec unshare -m --propagation private -- bash "$0" "$@"
fi
source "$here/../support/harness.sh"
harness_start chrony-test "$@"
need_boxsim
mount -t tmpfs -o mode=0755,size=1m quorvel-run /run || skip "no private /run"

socket=/run/chrony.quorvel.sock
socket_gid=64111  # the administrator's group for the socket, by number here
chmod 0755 "$work"
mkdir -m 0700 "$work/chrony"
cmd="$work/chrony/cmd.sock"
refclock_line=$(sed -n 's/^ *\(refclock SOCK .*\)$/\1/p' "$here/../../service/README.md" | head -n 1)
[ -n "$refclock_line" ] || fail "no refclock line in service/README.md"

case $mode in
  pal) word=0x61000000 ;;
  ntsc | ntsc-df) word=0x41000000 ;;
esac
key="$work/root/SYSTEM/CurrentControlSet/Services/QuorvelToClk"
mkdir -p "$key" && echo "$word" >"$key/TcBoxInfo"

cat >"$work/chrony/chrony.conf" <<CONF
$refclock_line
port 0
bindcmdaddress $cmd
pidfile $work/chrony/chronyd.pid
driftfile $work/chrony/drift
CONF

start_chronyd() {
  chronyd -x -d -u root -f "$work/chrony/chrony.conf" >>"$work/chronyd.log" 2>&1 &
  chronyd_pid=$!
  track $chronyd_pid
  poll 5 test -S "$socket" || fail "chronyd made no socket"
  # The administrator's step: the socket's group may write, nobody else.
  chgrp "$socket_gid" "$socket" && chmod 0660 "$socket" || fail "socket permissions"
}

# chrony's view of house time minus the PC clock, in seconds: the correction
# it holds for its (uncontrolled) clock, less the source's remaining offset
# (chronyc shows that as local clock minus source).
chrony_offset() {
  local tracking source
  tracking=$(chronyc -h "$cmd" -c tracking 2>/dev/null) || return
  source=$(chronyc -h "$cmd" -c sources 2>/dev/null | awk -F, '$3 == "TC" && $2 == "*"')
  [ -n "$source" ] || return
  awk -v t="$tracking" -v s="$source" \
    'BEGIN { split(t, a, ","); split(s, b, ","); printf "%.6f\n", a[5] - b[8] }'
}

# expect_within WANT LABEL: chrony's offset within 2 ms of WANT three times
# in a row, readings 2 s apart, within 120 s.
expect_within() {
  local got good=0 start=$(now_ms)
  until [ "$good" -ge 3 ]; do
    [ $(($(now_ms) - start)) -lt 120000 ] || fail "$2: chrony at ${got:-none} s, not within 2 ms of $1 s
$(chronyc -h "$cmd" sources; chronyc -h "$cmd" tracking)"
    got=$(chrony_offset)
    if [ -n "$got" ] && awk -v g="$got" -v w="$1" 'BEGIN { exit !(g - w <= 0.002 && w - g <= 0.002) }'; then
      good=$((good + 1))
    else
      good=0
    fi
    sleep 2
  done
  echo "$mode $2: chrony at $got s after $((($(now_ms) - start) / 1000)) s"
}

start_chronyd
start_box box "$work/root/dosdevices/com1" --utc --mode "$mode" --offset 250 --turnaround 0

CONFIGURATION_DIRECTORY="$work/root" setpriv --reuid=nobody --regid=nogroup \
  --groups="$(getent group dialout | cut -d: -f3),$socket_gid" -- \
  "$ventrel" -debug >"$work/ventrel.out" 2>"$work/ventrel.err" &
track $!
wait_for "samples go to chrony at $socket" 20 "$work/ventrel.out" ||
  fail "ventrel did not take chrony's role: $(cat "$work/ventrel.out")"

expect_within 0.250 "+250 ms"
send box "offset -3250"  # moves it by that much
expect_within -3.000 "-3 s"

kill "$chronyd_pid"
wait "$chronyd_pid" 2>/dev/null
start_chronyd
expect_within -3.000 "-3 s after chrony restarted"
# Its status lines count the settings it made or had refused: none at all.
[ "$(grep -o 'settings [0-9]*, refused [0-9]*' "$work/ventrel.err" | sort -u)" = \
  "settings 0, refused 0" ] || fail "ventrel tried to set the clock"
