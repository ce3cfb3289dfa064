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
source "$(dirname "$0")/../support/harness.sh"
need_boxsim
harness_start moravel-wine "$@"
mkdir -p "$out"
harness_on_fail() {
  echo "--- control map"; tail -30 "$work/map" 2>/dev/null
  echo "--- program"; tail -20 "$work/moravel.log"
  ps -o stat= -p "${moravel_pid:-0}" 2>/dev/null | grep -qv Z && echo "(still running)"
}
start_xvfb 100 139
start_box box "$work/com1" --mode pal

key='HKLM\SYSTEM\CurrentControlSet\Services\QuorvelToClk'
# COM1, PAL, system time, and low bits that SAVE must carry over.
wine reg add "$key" /v TcBoxInfo /t REG_DWORD /d 0x6100BEEF /f >"$work/reg.out" 2>&1 ||
  fail "cannot store the settings word"
map_ports COM1 "$device"

export MORAVEL_CONTROL_MAP="$work/map"
# A Wine desktop of its own draws the window frames, the caption and the
# system menu as Windows does.
"$wine_run" "$prefix" explorer /desktop=Moravel,800x600 "$moravel" \
  >"$work/moravel.log" 2>&1 &
moravel_pid=$!
track $moravel_pid

refresh() { : >"$work/map"; sleep 0.7; }
click_pause=0.5
# shot DIALOG FILE: a picture of that dialog's window.
shot() {
  local x y w h
  read -r x y w h < <(state "$1" | awk '$1=="window" {print $2, $3, $4, $5}')
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
}

expect_idle_main_dialog

click 102 1001
await_time_code
[ "$(text 102 1002)" = "Com Port Open. Quorvel found" ] ||
  [ "$(text 102 1002)" = "BOX connected and responding." ] || fail "status: $(text 102 1002)"
refresh
[ "$(text 102 1000)" != "$code" ] || fail "time code stands still at $code"
shot 102 moravel-win32.png

click 102 1011
click 102 1004
click 102 1006
wine reg query "$key" /v TcBoxInfo >"$work/query.out" 2>&1
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
