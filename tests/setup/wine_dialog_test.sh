#!/bin/bash
# The Windows program under Wine and a private Xvfb against the box
# simulator on COM1 (a pseudo-terminal mapped in the prefix's registry): it
# starts with the settings word from the registry, TEST/RUN shows a live time
# code, SAVE writes the word, HELP opens the About-and-Help box, EXIT ends
# the program. Screenshots are left in the output folder.
# Usage: wine_dialog_test.sh MORAVEL_EXE BOXSIM WINE_RUN PREFIX OUTPUT_FOLDER
# Exits 77 (skipped) without a native box simulator.
set -u
moravel=$1 boxsim=$2 wine_run=$3 prefix=$4 out=$5
here=$(dirname "$0")
source "$here/../support/harness.sh"
source "$here/dialog_steps.sh"
need_boxsim
dialog_start moravel-wine 100 139 "$@"
start_box box "$work/com1" --mode pal

key='HKLM\SYSTEM\CurrentControlSet\Services\QuorvelToClk'
# COM1, PAL, system time, and low bits that SAVE must carry over.
wine reg add "$key" /v TcBoxInfo /t REG_DWORD /d 0x6100BEEF /f >"$work/reg.out" 2>&1 ||
  fail "cannot store the settings word"
map_ports COM1 "$device"

# A Wine desktop of its own draws the window frames, the caption and the
# system menu as Windows does.
"$wine_run" "$prefix" explorer /desktop=Moravel,800x600 "$moravel" \
  >"$work/moravel.log" 2>&1 &
moravel_pid=$!
track $moravel_pid

# Each dialog writes its map on a timer of its own, every half second: two
# rounds of the main dialog's leave every open dialog's block in the map.
poke() { :; }
map_rounds=2
saved_word() {
  local value
  value=$(wine reg query "$key" /v TcBoxInfo 2>/dev/null | tr -d '\r' | awk '$1 == "TcBoxInfo" {print $3}')
  printf '0x%08X' "$((${value:-0}))"
}
running() { ps -o stat= -p "$moravel_pid" 2>/dev/null | grep -qv Z; }
# shot DIALOG FILE: a picture of that dialog's window.
shot() {
  local x y w h
  read -r x y w h < <(state "$1" | awk '$1=="window" {print $2, $3, $4, $5}')
  import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
}
about_shot=moravel-win32-about.png
# The system menu's last entry is "About Moravel..."; the menu is not in
# the map, so a moment for it to come up.
menu_about() {
  xdotool key alt+space
  sleep 0.5
  xdotool key Up Return
}

expect_idle_main_dialog
walk_test_run
shot 102 moravel-win32.png
walk_save
walk_about
walk_exit
echo "PASS"
