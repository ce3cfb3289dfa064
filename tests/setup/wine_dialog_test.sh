#!/bin/bash
# The Windows program under Wine and a private Xvfb against the box
# simulator on COM1 (a pseudo-terminal mapped in the prefix's registry): it
# starts with the settings word from the registry, TEST/RUN shows a live time
# code, SAVE writes the word, HELP opens the About-and-Help box, EXIT ends
# the program. Screenshots are left in the output folder.
# Usage: wine_dialog_test.sh MORAVEL_EXE BOXSIM WINE_RUN PREFIX OUTPUT_FOLDER
# Exits 77 (skipped) without a native box simulator.
set -u
moravel=$1
boxsim=$2
wine_run=$3
prefix=$4
out=$5
[ -x "$boxsim" ] || { echo "no native box simulator at $boxsim"; exit 77; }
mkdir -p "$out"
work=$(mktemp -d /tmp/moravel-wine-XXXXXX)
pids=()
cleanup() {
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  echo "--- control map"; tail -30 "$work/map" 2>/dev/null
  echo "--- program"; tail -20 "$work/moravel.log"
  ps -o stat= -p "${moravel_pid:-0}" 2>/dev/null | grep -qv Z && echo "(still running)"
  exit 1
}

display=
for n in $(seq 100 139); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
export DISPLAY=":$display"

"$boxsim" --link "$work/com1" --mode pal --log "$work/box.log" \
  </dev/null >"$work/box.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q ready "$work/box.out" 2>/dev/null && break; sleep 0.1; done
device=$(sed -n 's/^boxsim: ready on //p' "$work/box.out")
[ -n "$device" ] || fail "boxsim did not start"

wine_reg() { "$wine_run" "$prefix" reg "$@" >"$work/reg.out" 2>&1; }
key='HKLM\SYSTEM\CurrentControlSet\Services\QuorvelToClk'
wine_reg add 'HKLM\Software\Wine\Ports' /v COM1 /t REG_SZ /d "$device" /f ||
  fail "cannot map COM1"
# COM1, PAL, system time, and low bits that SAVE must carry over.
wine_reg add "$key" /v TcBoxInfo /t REG_DWORD /d 0x6100BEEF /f ||
  fail "cannot store the settings word"
WINEPREFIX="$prefix" wineserver -k 2>/dev/null
WINEPREFIX="$prefix" wineserver -w 2>/dev/null

export MORAVEL_CONTROL_MAP="$work/map"
# A Wine desktop of its own draws the window frames, the caption and the
# system menu as Windows does.
"$wine_run" "$prefix" explorer /desktop=Moravel,800x600 "$moravel" \
  >"$work/moravel.log" 2>&1 &
moravel_pid=$!
pids+=($moravel_pid)

state() {
  awk -v d="$1" '{sub(/\r$/, "")} $1=="dialog" && $2==d {buf=""; on=1; next}
    $1=="end" && $2==d {last=buf; on=0; next}
    on {buf=buf $0 "\n"} END {printf "%s", last}' "$work/map" 2>/dev/null
}
wait_dialog() {
  for _ in $(seq 300); do [ -n "$(state "$1")" ] && return 0; sleep 0.1; done
  fail "dialog $1 did not appear"
}
refresh() { : >"$work/map"; sleep 0.7; }
field() { state "$1" | awk -v id="$2" -v f="$3" '$1==id {print $f}'; }
text() { state "$1" | awk -v id="$2" '$1==id {$1=$2=$3=$4=$5=$6=$7=""; sub(/^ +/, ""); print}'; }
click() {
  local x y w h
  read -r x y w h < <(state "$1" | awk -v id="$2" '$1==id {print $2, $3, $4, $5}')
  [ -n "$x" ] || fail "no control $2 in dialog $1"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  sleep 0.5
}
# shot DIALOG FILE: a picture of that dialog's window.
shot() {
  local x y w h
  read -r x y w h < <(state "$1" | awk '$1=="window" {print $2, $3, $4, $5}')
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
}

wait_dialog 102
[ "$(field 102 1007 6)" = 1 ] || fail "COM1 not checked"
[ "$(field 102 1012 6)" = 1 ] || fail "PAL not checked"
[ "$(field 102 1005 6)" = 1 ] || fail "system time not checked"
[ "$(text 102 1002)" = "Serial Port Closed" ] || fail "status: $(text 102 1002)"
[ "$(text 102 1000)" = "NOT TESTING" ] || fail "time code box: $(text 102 1000)"

click 102 1001
for _ in $(seq 40); do
  refresh
  [[ "$(text 102 1000)" =~ ^[0-2][0-9]:[0-5] ]] && break
done
code=$(text 102 1000)
[[ "$code" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]:[0-2][0-9]$ ]] || fail "no time code: '$code'"
[ "$(text 102 1002)" = "Com Port Open. Quorvel found" ] ||
  [ "$(text 102 1002)" = "BOX connected and responding." ] || fail "status: $(text 102 1002)"
refresh
[ "$(text 102 1000)" != "$code" ] || fail "time code stands still at $code"
shot 102 moravel-win32.png

click 102 1011
click 102 1004
click 102 1006
"$wine_run" "$prefix" reg query "$key" /v TcBoxInfo >"$work/query.out" 2>&1
grep -qi "0x100beef" "$work/query.out" || fail "saved word: $(cat "$work/query.out")"

click 102 1003
wait_dialog 100
[ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "About text: $(text 100 1016)"
shot 100 moravel-win32-about.png
click 100 1
# Wine may take a moment after the box closes before the main dialog answers.
for _ in $(seq 30); do
  refresh
  [ -z "$(state 100)" ] && [ -n "$(state 102)" ] && break
done
[ -z "$(state 100)" ] || fail "OK did not close the About box"

# The system menu's last entry, "About Moravel...", opens the same box.
xdotool key alt+space
sleep 0.5
xdotool key Up Return
wait_dialog 100
[ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "About text: $(text 100 1016)"
xdotool key Escape
for _ in $(seq 30); do
  refresh
  [ -z "$(state 100)" ] && [ -n "$(state 102)" ] && break
done
[ -z "$(state 100)" ] || fail "Escape did not close the About box"

click 102 1
running() { ps -o stat= -p "$moravel_pid" 2>/dev/null | grep -qv Z; }
for _ in $(seq 100); do running || break; sleep 0.1; done
running && fail "EXIT did not end the program"
before=$(grep -c "rx 61 0C 03 70" "$work/box.log")
sleep 0.5
after=$(grep -c "rx 61 0C 03 70" "$work/box.log")
[ "$before" = "$after" ] || fail "queries went on after EXIT"
echo "PASS"
