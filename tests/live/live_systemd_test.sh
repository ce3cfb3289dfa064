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

make_root() {
  [ -f "$cache/root.ok" ] && return
  # The Debian mirror this machine installs from, as apt is told it.
  local mirror
  mirror=$(cat /etc/apt/sources.list /etc/apt/sources.list.d/*.list \
    /etc/apt/sources.list.d/*.sources 2>/dev/null |
    grep -v '^ *#' | grep -ohE 'https?://[^ ]+/debian/?( |$)' | head -n 1 | tr -d ' ')
  mirror=${mirror:-http://deb.debian.org/debian}
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
  install -D -m 755 -t "$work/bin" "$ventrel" "$boxsim"
  chmod 755 "$work/bin"  # whatever the umask: the service's user runs them
  systemd-nspawn -q -D "$cache/root" -M quorvel-live -b --register=no --keep-unit \
    --volatile=overlay --private-network --bind-ro="$work/bin:/usr/local/bin" \
    --console=read-only >"$work/console.txt" 2>&1 &
  nspawn_pid=$!
  poll 10 found_leader
  # Nothing of ours runs before this point: a container that does not come
  # up says something about the machine, not about the service.
  [ -n "$leader" ] || { tail -n 20 "$work/console.txt"; skip "systemd-nspawn could not boot the root here"; }
  # systemctl answers only once the container's systemd listens.
  local state=''
  poll 90 booted ||
    { tail -n 20 "$work/console.txt"; skip "the container did not finish booting ($state)"; }
}

# nsenter stops itself when its child in the container is stopped, as
# happens while the container shuts down, and would never be reaped: the
# boxes are told to quit first, and what is left is killed once it is gone.
# nspawn turns SIGTERM into an orderly shutdown of the container.
harness_cleanup() {
  [ -n "$nspawn_pid" ] || return
  local box pid
  for box in "$work"/*.in; do [ -p "$box" ] && echo quit >"$box"; done
  kill -TERM "$nspawn_pid" 2>/dev/null
  poll 30 not alive "$nspawn_pid" || kill -KILL "$leader" "$nspawn_pid" 2>/dev/null
  wait "$nspawn_pid" 2>/dev/null
  for pid in "${pids[@]}"; do kill -KILL "$pid" 2>/dev/null; done
}

show() { in_ct systemctl show -P "$1" "$unit"; }

# The service's own journal entries, one a line: priority, then the text.
service_entries() {
  in_ct journalctl "_SYSTEMD_UNIT=$unit.service" -o export --no-pager |
    awk '/^PRIORITY=/ {p = substr($0, 10)} /^MESSAGE=/ {m = substr($0, 9)}
         /^$/ {if (m != "") print p, m; m = ""}'
}

# The journal may show an entry a moment after systemctl shows the state
# change that followed it. Priority 3 means its level prefix was read.
has_error_entry() { service_entries | grep -q "^3 $unit error: -\?[0-9]*: $1\$"; }
expect_error_entry() {
  poll 5 has_error_entry "$1" || fail "no error entry '$1': $(service_entries)"
}

[ "$(id -u)" -eq 0 ] || skip "needs root to boot a container"
type -P systemd-nspawn debootstrap nsenter >/dev/null ||
  skip "needs systemd-nspawn, debootstrap and nsenter (Debian's systemd-container, debootstrap, util-linux)"
mkdir -p "$cache"
exec {lock}>"$cache/lock"
flock -w 900 "$lock" || skip "another run holds $cache"
make_root
boot
# The simulator runs inside the container, on its COM1.
boxsim=/usr/local/bin/boxsim box_runner=in_ct
out=$(in_ct /usr/local/bin/ventrel -load)
[ "$out" = "Quorvel to PC clock setting service loaded." ] || fail "-load printed '$out'"
[ "$(in_ct systemctl is-enabled "$unit")" = enabled ] || fail "unit not enabled"

# A box switched off: the hand-shake fails, the unit fails with the
# service's entry, and the start does not hang.
start_box box "$com1" --schedule "0:silence on"
start=$(now_ms)
timeout 60 nsenter -t "$leader" -a systemctl start "$unit" 2>/dev/null &&
  fail "start succeeded without a box"
took=$(($(now_ms) - start))
[ "$took" -lt 30000 ] || fail "failed start took $took ms"
[ "$(show ActiveState)" = failed ] || fail "unit $(show ActiveState) without a box"
expect_error_entry "Ventrel - Service unable to execute START on ComPort or BOX"

# A start tries the hand-shake three times; a heavily loaded machine can
# still make every try late, so the start is tried again.
send box "silence off"
in_ct systemctl start "$unit" || in_ct systemctl start "$unit" ||
  in_ct systemctl start "$unit" || fail "start failed three times"
expect_error_entry "Quorvel Time Code to PC clock service started"
# A dynamic user (in dialout, or the port would not have opened), with no
# capability but CAP_SYS_TIME (bit 25), which the container withholds.
status=$(in_ct cat "/proc/$(show MainPID)/status") || fail "no service process running"
for field in CapEff CapPrm CapBnd; do
  mask=$(awk -v f="$field:" '$1 == f {print $2}' <<<"$status")
  [ $((16#$mask & ~(1 << 25))) -eq 0 ] || fail "$field $mask holds more than CAP_SYS_TIME"
done
uid=$(awk '/^Uid:/ {print $2}' <<<"$status")
[ "$uid" -ge 61184 ] && [ "$uid" -le 65519 ] || fail "runs as uid $uid, not a dynamic user"

# A stop beyond the unit's 30 s would make the result timeout, and any exit
# status but 0 exit-code.
in_ct systemctl stop "$unit" || fail "stop failed"
[ "$(show Result)" = success ] || fail "result $(show Result)"

out=$(in_ct /usr/local/bin/ventrel -unload)
[ "$out" = "Quorvel to PC clock setting service removed." ] || fail "-unload printed '$out'"
# A second -unload finds no unit file.
out=$(in_ct /usr/local/bin/ventrel -unload)
[[ "$out" =~ ^"OpenService failed - " ]] || fail "second -unload printed '$out'"
echo "PASS: live systemd"
