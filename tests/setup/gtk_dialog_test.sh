#!/bin/bash
# The GTK program under a private Xvfb against the box simulator: it starts
# with the saved settings, TEST/RUN shows a live time code, SAVE writes the
# settings word (on a read-only settings folder it says why not), HELP opens
# the About-and-Help box, EXIT ends the program and closes the port.
# Screenshots of both dialogs are left in the output folder.
# Usage: gtk_dialog_test.sh MORAVEL BOXSIM OUTPUT_FOLDER
set -u
moravel=$1 boxsim=$2 out=$3
source "$(dirname "$0")/../support/harness.sh"
harness_start moravel-gui "$@"
mkdir -p "$out"
harness_on_fail() { echo "--- control map"; tail -40 "$work/map" 2>/dev/null; }
start_xvfb 60 99
export NO_AT_BRIDGE=1 GDK_BACKEND=x11
export CONFIGURATION_DIRECTORY="$work/conf"
key="$CONFIGURATION_DIRECTORY/SYSTEM/CurrentControlSet/Services/QuorvelToClk"
mkdir -p "$key"
# COM1, PAL, system time, and low bits that SAVE must carry over.
printf '0x6100BEEF\n' >"$key/TcBoxInfo"

start_box box "$CONFIGURATION_DIRECTORY/dosdevices/com1" --mode pal --utc

export MORAVEL_CONTROL_MAP="$work/map"
# A read-only settings folder stops only a user who may not write anywhere.
as_user=()
[ "$(id -u)" = 0 ] && as_user=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override --)
"${as_user[@]}" "$moravel" >"$work/moravel.log" 2>&1 &
moravel_pid=$!
track $moravel_pid

refresh() { : >"$work/map"; kill -USR1 "$moravel_pid"; sleep 0.4; }
shot() { import -window root -trim +repage "$out/$1"; }
# await_text ID TEXT: until control ID of the main dialog shows TEXT (20 s).
await_text() {
  for _ in $(seq 50); do
    refresh
    [ "$(text 102 "$1")" = "$2" ] && return 0
  done
  fail "control $1 shows '$(text 102 "$1")', not '$2'"
}
# await_box TEXT: until a message box with TEXT is open (20 s).
await_box() {
  for _ in $(seq 50); do
    refresh
    grep -qxF "messagebox $1" "$work/map" && return 0
  done
  fail "no message box '$1'"
}

expect_idle_main_dialog
# The focus starts on the first tab stop and Tab follows the template order.
focus() { state 102 | awk '$1=="focus" {print $2}'; }
for want in 1003 1006 1; do  # HELP, SAVE, EXIT
  [ "$(focus)" = "$want" ] || fail "focus on $(focus), not $want"
  xdotool key Tab
  refresh
done

# While another program (a running Ventrel) holds the port, TEST/RUN shows
# the two message boxes and then the initialisation error.
port="$CONFIGURATION_DIRECTORY/dosdevices/com1"
exec 8<>"$port"
flock -x 8 || fail "cannot hold the port"
click 102 1001
await_box "Error opening COM port"
xdotool key Return
await_box "Serial port not opened or serial time code device  is missing or malfunctioning at selected settings."
xdotool key Return
await_text 1002 "Initialization Error! Check Settings"
[ "$(field 102 1001 6)" = 0 ] || fail "TEST/RUN stayed in after a failed start"
[ "$(field 102 1013 7)" = 1 ] || fail "Set PC Clock not enabled after a failed start"
exec 8>&-

click 102 1001
await_text 1002 "Com Port Open. Quorvel found"
await_time_code
[ "$(field 102 1013 7)" = 1 ] || fail "Set PC Clock not enabled during a test"
# The code runs on: a later refresh shows another one.
sleep 1
refresh
[ "$(text 102 1000)" != "$code" ] || fail "time code stands still at $code"
queries=$(grep -c "rx 61 0C 03 70" "$work/box.log")
[ "$queries" -ge 10 ] || fail "only $queries queries reached the box"
# The status box shows the link's text after 21 ticks (about 3.5 s here).
await_text 1002 "BOX connected and responding."
shot moravel-gtk.png

# NTSC and local time, saved; the other bits of the word are carried over.
click 102 1011
click 102 1004
click 102 1006
saved=$(tr -d '\n' <"$key/TcBoxInfo")
[ "$saved" = "0x0100BEEF" ] || fail "saved word $saved"
# Without the right to write, SAVE says so and why; the dialog stays as it is.
chmod 555 "$key"
click 102 1012
click 102 1006
await_box "The settings were not saved. Permission denied"
xdotool key Return
refresh
[ "$(field 102 1012 6)" = 1 ] || fail "PAL not kept after a failed save"
saved=$(tr -d '\n' <"$key/TcBoxInfo")
[ "$saved" = "0x0100BEEF" ] || fail "a failed save changed the word to $saved"
chmod 755 "$key"

click 102 1003
wait_dialog 100
[ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "About text: $(text 100 1016)"
shot moravel-about.png
click 100 1
sleep 0.3
refresh
[ -z "$(state 100)" ] || fail "OK did not close the About box"

# The window menu's About entry opens the same box; Escape closes it.
click 102 sysmenu
xdotool key Down Return
sleep 0.5
refresh
[ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "no About box from the window menu"
xdotool key Escape
sleep 0.3
refresh
[ -z "$(state 100)" ] || fail "Escape did not close the About box"
[ "$(field 102 1001 6)" = 1 ] || fail "the test stopped behind the About box"

# The About box's loop kept the test ticking; EXIT ends the program.
before=$(grep -c "rx 61 0C 03 70" "$work/box.log")
click 102 1
for _ in $(seq 50); do kill -0 "$moravel_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$moravel_pid" 2>/dev/null && fail "EXIT did not end the program"
wait "$moravel_pid"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
sleep 0.5
after=$(grep -c "rx 61 0C 03 70" "$work/box.log")
[ $((after - before)) -le 2 ] || fail "queries went on after EXIT"
# The port is free again: another program can hold it exclusively.
exec 7<>"$CONFIGURATION_DIRECTORY/dosdevices/com1" || fail "cannot open the port"
flock -n 7 || fail "the port is still held"
exec 7>&-
echo "PASS"
