#!/usr/bin/env bash
# Ventrel under a real systemd: a minimal Debian 12 booted with
# systemd-nspawn, the built ventrel and boxsim bound into it, the unit that
# `ventrel -load` writes started, watched, stopped and removed. nspawn
# withholds CAP_SYS_TIME from the container, and it and every command that
# drives it from outside run without that right too, so the service's
# setting attempts are refused by the kernel and this machine's clock stays.
#
# The root is made once with debootstrap and kept in CACHE; each boot runs on
# a throw-away overlay of it, so runs never see each other's traces.
# Usage: live_systemd_test.sh VENTREL BOXSIM CACHE
set -u
ventrel=$1 boxsim=$2 cache=$3
here=$(cd "$(dirname "$0")" && pwd)
source "$here/../support/harness.sh"
harness_start live-systemd "$@"

unit=Quorvel_to_PC_Clock_Service
com1=/etc/quorvel/dosdevices/com1
nspawn_pid='' leader=''

# The Debian mirror this machine installs from, as apt is told it.
debian_mirror() {
  local uri
  uri=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -v '^ *#' | grep -ohE 'https?://[^ ]+/debian/?( |$)' | head -n 1)
  echo "${uri:-http://deb.debian.org/debian}" | tr -d ' '
}

make_root() {
  [ -f "$cache/root.ok" ] && return
  local mirror
  mirror=$(debian_mirror)
  echo "making a Debian 12 root in $cache/root from $mirror (once, a few minutes)"
  rm -rf "$cache/root.partial"
  if ! debootstrap --variant=minbase --include=systemd,systemd-sysv,dbus \
    bookworm "$cache/root.partial" "$mirror" >"$cache/debootstrap.log" 2>&1; then
    tail -n 5 "$cache/debootstrap.log"
    skip "debootstrap from $mirror failed (mirror unreachable?); see $cache/debootstrap.log"
  fi
  rm -rf "$cache/root"
  mv "$cache/root.partial" "$cache/root" && touch "$cache/root.ok"
}

# The container's PID 1: the child of nspawn that is 1 in its own namespace.
find_leader() {
  local pid
  for pid in $(pgrep -P "$nspawn_pid"); do
    awk '/^NSpid:/ {exit !($NF == 1)}' "/proc/$pid/status" 2>/dev/null && echo "$pid"
  done
}

# Sets $leader; true once there is one or nspawn has ended.
found_leader() { leader=$(find_leader); [ -n "$leader" ] || not alive "$nspawn_pid"; }
booted() {
  state=$(timeout 60 nsenter -t "$leader" -a systemctl is-system-running --wait 2>/dev/null)
  [[ "$state" =~ ^(running|degraded)$ ]]
}

in_ct() {
  nsenter -t "$leader" -a env -i PATH=/usr/sbin:/usr/bin:/sbin:/bin "$@"
}

boot() {
  mkdir -p "$work/bin"
  install -m 755 "$ventrel" "$boxsim" "$work/bin/"
  chmod 755 "$work/bin"
  systemd-nspawn -q -D "$cache/root" -M quorvel-live -b --register=no --keep-unit \
    --volatile=overlay --private-network --bind-ro="$work/bin:/usr/local/bin" \
    --console=read-only >"$work/console.txt" 2>&1 &
  nspawn_pid=$!
  poll 10 found_leader
  # Nothing of ours runs before this point: a container that does not come
  # up says something about the machine, not about the service.
  [ -n "$leader" ] || { tail -n 20 "$work/console.txt"; skip "systemd-nspawn could not boot the root here"; }
  # systemctl answers only once the container's systemd listens.
  local state='' start=$(now_ms)
  poll 90 booted ||
    { tail -n 20 "$work/console.txt"; skip "the container did not finish booting ($state)"; }
  echo "container up in $(($(now_ms) - start)) ms"
}

# nsenter stops itself when its child in the container is stopped, as
# happens while the container shuts down, and would never be reaped: the
# boxes are told to quit first, and what is left is killed once it is gone.
power_off() {
  [ -n "$nspawn_pid" ] || return
  local box pid
  for box in "$work"/*.in; do [ -p "$box" ] && echo quit >"$box"; done
  [ -n "$leader" ] && in_ct systemctl poweroff --no-block >/dev/null 2>&1
  poll 30 not alive "$nspawn_pid"
  if kill -TERM "$nspawn_pid" 2>/dev/null; then
    sleep 3
    kill -KILL "$leader" "$nspawn_pid" 2>/dev/null
  fi
  wait "$nspawn_pid" 2>/dev/null
  nspawn_pid=''
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
}
harness_cleanup() { power_off; }

harness_on_fail() {
  local f
  in_ct journalctl -u "$unit" --no-pager 2>/dev/null | tail -n 20
  for f in "$work"/*.log; do echo "--- $f"; tail -n 15 "$f"; done
}

show() { in_ct systemctl show -P "$2" "$1"; }
expect_state() { [ "$(in_ct systemctl is-active "$unit")" = "$1" ] || fail "unit not $1: $2"; }

# The service's own journal entries, one a line: priority, then the text.
service_entries() {
  in_ct journalctl "_SYSTEMD_UNIT=$unit.service" -o export --no-pager |
    awk '/^PRIORITY=/ {p = substr($0, 10)} /^MESSAGE=/ {m = substr($0, 9)}
         /^$/ {if (m != "") print p, m; m = ""}'
}

# The journal may take a moment to show what the service wrote before a
# state change that systemctl already reports.
has_entry() { service_entries | grep -q "^$1 $unit error: -\?[0-9]*: $2\$"; }
expect_entry() {  # PRIORITY TEXT
  poll 5 has_entry "$1" "$2" || fail "no entry '$2' at priority $1: $(service_entries)"
}

# No line reached the journal with its level prefix unread, and no error
# entry strays from the event log's form.
expect_clean_entries() {
  local entries
  entries=$(service_entries)
  ! grep -q '<[0-7]>' <<<"$entries" || fail "a level prefix in the text: $entries"
  ! grep '^[0-3] ' <<<"$entries" | grep -vq "^[0-3] $unit error: -\?[0-9]*: " ||
    fail "an error entry of another form: $entries"
}

expect_only_sys_time() {  # PID
  local status field set
  status=$(in_ct cat "/proc/$1/status") || fail "no process $1"
  # CAP_SYS_TIME is bit 25; the container withholds it.
  for field in CapEff CapPrm CapBnd; do
    set=$(awk -v f="$field:" '$1 == f {print $2}' <<<"$status")
    [ $((16#$set & ~(1 << 25))) -eq 0 ] || fail "$field $set holds more than CAP_SYS_TIME"
  done
  local uid
  uid=$(awk '/^Uid:/ {print $2}' <<<"$status")
  [ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ] || fail "runs as uid $uid, not a dynamic user"
  awk '/^Groups:/' <<<"$status" | grep -qw 20 || fail "not in dialout: $(grep Groups <<<"$status")"
}

case_load() {
  local out
  out=$(in_ct /usr/local/bin/ventrel -load)
  [ "$out" = "Quorvel to PC clock setting service loaded." ] || fail "-load printed '$out'"
  [ "$(in_ct systemctl is-enabled "$unit")" = enabled ] || fail "unit not enabled"
}

# A box switched off: the hand-shake fails, the unit fails with the
# service's entry, and the start does not hang.
case_box_switched_off() {
  start_box off "$com1" --schedule "0:silence on"
  local start=$(now_ms)
  timeout 60 nsenter -t "$leader" -a systemctl start "$unit" 2>/dev/null &&
    fail "start succeeded without a box"
  local took=$(($(now_ms) - start))
  [ "$took" -lt 30000 ] || fail "failed start took $took ms"
  expect_state failed "after a start without a box"
  expect_entry 3 "Ventrel - Service unable to execute START on ComPort or BOX"
  grep -q 'rx 20 01 21 tx - (silence)' "$work/off.log" || fail "no hello reached the box"
  send off quit
  echo "start without a box failed after $took ms"
}

# A start tries the hand-shake three times; a heavily loaded machine can
# still make every try late, so a start whose hellos were answered is tried again.
# A box the service cannot open shows no hello at all.
start_with_box() {
  local try
  for try in 1 2 3; do
    first_line=$(($(wc -l <"$work/on.log") + 1))
    in_ct systemctl start "$unit" && return
    tail -n +"$first_line" "$work/on.log" | grep -q 'tx 10 01 11 (hello)' ||
      fail "start failed without a hello answered"
    echo "start failed on a late hello (try $try)"
  done
  fail "start failed three times"
}

case_start() {
  start_box on "$com1"
  start_with_box
  [ "$(show "$unit" SubState)" = running ] || fail "not running"
  expect_entry 3 "Quorvel Time Code to PC clock service started"
  in_ct systemctl status "$unit" --no-pager | grep -q '^ *Status: "' ||
    fail "no Status: line in systemctl status"
  expect_only_sys_time "$(show "$unit" MainPID)"
}

# The real-time clock's lead over the time since boot: it moves only when
# someone sets the clock.
clock_offset_ms() { echo $(($(date +%s%3N) - $(awk '{print int($1 * 1000)}' /proc/uptime))); }

refused_setting() { [[ "$(show "$unit" StatusText)" =~ refused\ [1-9] ]]; }

# Polls that miss lead to a setting, which the kernel refuses, as the status
# line counts; the service goes on.
case_time_jump() {
  local clock_before
  clock_before=$(clock_offset_ms)
  send on "offset +5000"
  poll 15 refused_setting || fail "no refused setting after the jump: $(show "$unit" StatusText)"
  local moved=$(($(clock_offset_ms) - clock_before))
  [ "${moved#-}" -lt 1000 ] || fail "the clock moved by $moved ms"
  expect_state active "after a refused setting"
  expect_clean_entries
}

# A stop beyond the unit's 30 s would make the result timeout, and any exit
# status but 0 exit-code.
case_stop() {
  in_ct systemctl stop "$unit" || fail "stop failed"
  [ "$(show "$unit" Result)" = success ] || fail "result $(show "$unit" Result)"
}

case_unload() {
  local out
  out=$(in_ct /usr/local/bin/ventrel -unload)
  [ "$out" = "Quorvel to PC clock setting service removed." ] || fail "-unload printed '$out'"
  in_ct test ! -e "/etc/systemd/system/$unit.service" || fail "unit file left"
  out=$(in_ct /usr/local/bin/ventrel -unload)
  [[ "$out" =~ ^"OpenService failed - " ]] || fail "second -unload printed '$out'"
}

[ "$(id -u)" -eq 0 ] || skip "needs root to boot a container"
for tool in systemd-nspawn:systemd-container debootstrap:debootstrap nsenter:util-linux; do
  command -v "${tool%%:*}" >/dev/null || skip "no ${tool%%:*} (Debian's package ${tool#*:})"
done
mkdir -p "$cache"
exec {lock}>"$cache/lock"
flock -w 900 "$lock" || skip "another run holds $cache"
make_root
boot
# The simulator runs inside the container, on its COM1.
boxsim=/usr/local/bin/boxsim box_runner=in_ct
for step in load box_switched_off start time_jump stop unload; do
  "case_$step"
done
echo "PASS: live systemd"
