#!/bin/sh
# Runs a Windows test program under Wine with COM1 mapped to a simulated box
# on a pseudo-terminal, COM2 to one that stays silent and COM3 to a second
# working one.
# Usage: wine_pty_driver.sh BOXSIM WINE_RUN PREFIX PROGRAM [ARGS...]
# Exits 77 (skipped) when no native box simulator has been built.
set -u
boxsim=$1 wine_run=$2 prefix=$3
shift 3

if [ ! -x "$boxsim" ]; then
  echo "no native box simulator at $boxsim: build the linux preset's boxsim target"
  exit 77
fi

work=$(mktemp -d /tmp/quorvel-wine-link.XXXXXX)
pids=""
cleanup() {
  for pid in $pids; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
trap 'exit 1' INT TERM

# start_box NAME [boxsim options]: sets $device to the box's pseudo-terminal.
start_box() {
  name=$1
  shift
  "$boxsim" --link "$work/$name" --log "$work/$name.log" "$@" \
    </dev/null >"$work/$name.out" 2>&1 &
  pids="$pids $!"
  tries=0
  device=""
  while [ -z "$device" ]; do
    device=$(sed -n 's/^boxsim: ready on //p' "$work/$name.out" | head -n 1)
    [ -n "$device" ] && return 0
    tries=$((tries + 1))
    if [ "$tries" -gt 100 ]; then
      echo "box simulator $name did not start:"
      cat "$work/$name.out"
      exit 1
    fi
    sleep 0.1
  done
}

start_box working
working=$device
start_box silent --schedule "0:silence on"
silent=$device
start_box spare
spare=$device

# Wine replaces hand-made dosdevices links when its server starts, so the
# ports are mapped in the registry and the server restarted to take them.
map_port() {
  "$wine_run" "$prefix" reg add 'HKLM\Software\Wine\Ports' /v "$1" \
    /t REG_SZ /d "$2" /f >/dev/null 2>&1
}
map_port COM1 "$working" || { echo "cannot map COM1"; exit 1; }
map_port COM2 "$silent" || { echo "cannot map COM2"; exit 1; }
map_port COM3 "$spare" || { echo "cannot map COM3"; exit 1; }
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
WINEPREFIX="$prefix" wineserver -w 2>/dev/null

"$wine_run" "$prefix" "$@"
result=$?
if [ "$result" -ne 0 ]; then
  echo "--- working box log"; cat "$work/working.log" 2>/dev/null
  echo "--- silent box log"; cat "$work/silent.log" 2>/dev/null
fi
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
exit "$result"
