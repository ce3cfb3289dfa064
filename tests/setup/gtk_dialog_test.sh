#!/bin/bash
# The GTK program under a private Xvfb against the box simulator: it starts
# with the saved settings, TEST/RUN shows a live time code, SAVE writes the
# settings word, HELP opens the About-and-Help box, EXIT ends the program and
# closes the port. Screenshots of both dialogs are left in the output folder.
# Usage: gtk_dialog_test.sh MORAVEL BOXSIM OUTPUT_FOLDER
set -u
moravel=$1
boxsim=$2
out=$3
mkdir -p "$out"
work=$(mktemp -d /tmp/moravel-gui-XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*"; echo "--- control map"; tail -40 "$work/map" 2>/dev/null; exit 1; }

# A display of our own.
display=
for n in $(seq 60 99); do
  if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=$n; break; fi
done
[ -n "$display" ] || fail "no free display"
Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
pids+=($!)
for _ in $(seq 50); do [ -e /tmp/.X11-unix/X$display ] && break; sleep 0.1; done
export DISPLAY=":$display" NO_AT_BRIDGE=1 GDK_BACKEND=x11
export CONFIGURATION_DIRECTORY="$work/conf"
key="$CONFIGURATION_DIRECTORY/SYSTEM/CurrentControlSet/Services/QuorvelToClk"
mkdir -p "$key"
# COM1, PAL, system time, and low bits that SAVE must carry over.
printf '0x6100BEEF\n' >"$key/TcBoxInfo"

"$boxsim" --link "$CONFIGURATION_DIRECTORY/dosdevices/com1" --mode pal --utc \
  --log "$work/box.log" </dev/null >"$work/box.out" 2>&1 &
pids+=($!)
for _ in $(seq 50); do grep -q ready "$work/box.out" 2>/dev/null && break; sleep 0.1; done
grep -q ready "$work/box.out" || fail "boxsim did not start"

export MORAVEL_CONTROL_MAP="$work/map"
setpriv --inh-caps=-sys_time --bounding-set=-sys_time -- "$moravel" >"$work/moravel.log" 2>&1 &
moravel_pid=$!
pids+=($moravel_pid)

# The latest state block of dialog $1, once there is one.
state() {
  awk -v d="$1" '$1=="dialog" && $2==d {n++; buf=""; on=1; next}
    $1=="end" && $2==d {last=buf; on=0; next}
    on {buf=buf $0 "\n"} END {printf "%s", last}' "$work/map" 2>/dev/null
}
wait_dialog() {
  for _ in $(seq 100); do [ -n "$(state "$1")" ] && return 0; sleep 0.1; done
  fail "dialog $1 did not appear"
}
refresh() { : >"$work/map"; kill -USR1 "$moravel_pid"; sleep 0.4; }
field() { state "$1" | awk -v id="$2" -v f="$3" '$1==id {print $f}'; }
text() { state "$1" | awk -v id="$2" '$1==id {$1=$2=$3=$4=$5=$6=$7=""; sub(/^ +/, ""); print}'; }
click() {
  local x y w h
  read -r x y w h < <(state "$1" | awk -v id="$2" '$1==id {print $2, $3, $4, $5}')
  [ -n "$x" ] || fail "no control $2 in dialog $1"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
  sleep 0.3
}
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

wait_dialog 102
# Saved settings: COM1, PAL, system time; the idle texts.
[ "$(field 102 1007 6)" = 1 ] || fail "COM1 not checked"
[ "$(field 102 1012 6)" = 1 ] || fail "PAL not checked"
[ "$(field 102 1005 6)" = 1 ] || fail "system time not checked"
[ "$(text 102 1002)" = "Serial Port Closed" ] || fail "status: $(text 102 1002)"
[ "$(text 102 1000)" = "NOT TESTING" ] || fail "time code box: $(text 102 1000)"
[ "$(field 102 1013 7)" = 0 ] || fail "Set PC Clock enabled while idle"
# The focus starts on the first tab stop and Tab follows the template order.
focus() { state 102 | awk '$1=="focus" {print $2}'; }
[ "$(focus)" = 1003 ] || fail "focus starts on $(focus), not HELP"
xdotool key Tab
refresh
[ "$(focus)" = 1006 ] || fail "Tab went to $(focus), not SAVE"
xdotool key Tab
refresh
[ "$(focus)" = 1 ] || fail "Tab went to $(focus), not EXIT"

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
[ "$(text 102 1002)" = "Initialization Error! Check Settings" ] || fail "status with the port held: $(text 102 1002)"
[ "$(field 102 1001 6)" = 0 ] || fail "TEST/RUN stayed in after a failed start"
[ "$(field 102 1013 7)" = 1 ] || fail "Set PC Clock not enabled after a failed start"
exec 8>&-

click 102 1001
await_text 1002 "Com Port Open. Quorvel found"
for _ in $(seq 40); do
  refresh
  [[ "$(text 102 1000)" =~ ^[0-2][0-9]:[0-5] ]] && break
done
code=$(text 102 1000)
[[ "$code" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]:[0-2][0-9]$ ]] || fail "no time code: '$code'"
[ "$(text 102 1002)" = "Com Port Open. Quorvel found" ] || fail "status: $(text 102 1002)"
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
