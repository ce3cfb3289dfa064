#!/bin/bash
# Moravel under a private Xvfb against the box simulator, as GTK shows it
# natively and as Win32 shows it under Wine (COM1 a pseudo-terminal mapped in
# the prefix's registry), driven through the control map the program writes
# and real pointer and key events: it starts with the saved settings,
# TEST/RUN shows a live time code, SAVE writes the settings word (on a
# read-only settings folder GTK shows why not), the window menu
# opens the About-and-Help box, EXIT ends the program. What the dialog does
# after a failed start or save is the dialog test's, a held port's exclusive
# open the pty link test's; here only that the toolkit shows it. Pictures of
# both dialogs are left in the output folder.
# Usage: dialog_test.sh gtk MORAVEL BOXSIM OUTPUT_FOLDER
#        dialog_test.sh wine MORAVEL_EXE BOXSIM OUTPUT_FOLDER WINE_RUN PREFIX
set -u
toolkit=$1 moravel=$2 boxsim=$3 out=$4 wine_run=${5:-} prefix=${6:-}
here=$(dirname "$0")
source "$here/../support/harness.sh"
need_boxsim
harness_start "moravel-$toolkit" "$@"
mkdir -p "$out"
# A display of our own, whose number Xvfb picks and tells once it listens.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" >"$work/xvfb.log" 2>&1 &
track $!
poll 10 test -s "$work/display" || fail "Xvfb did not start"
export DISPLAY=":$(cat "$work/display")" MORAVEL_CONTROL_MAP="$work/map.log"

# COM1, PAL, system time, and low bits that SAVE must carry over.
if [ "$toolkit" = gtk ]; then
  export NO_AT_BRIDGE=1 GDK_BACKEND=x11 CONFIGURATION_DIRECTORY="$work/conf"
  key="$CONFIGURATION_DIRECTORY/SYSTEM/CurrentControlSet/Services/QuorvelToClk"
  mkdir -p "$key" && echo 0x6100BEEF >"$key/TcBoxInfo"
  start_box box "$CONFIGURATION_DIRECTORY/dosdevices/com1" --mode pal --utc
  # A read-only settings folder stops only a user who may not write anywhere.
  as_user=()
  [ "$(id -u)" = 0 ] && as_user=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override --)
  "${as_user[@]}" "$moravel" >"$work/moravel.log" 2>&1 &
  moravel_pid=$!
  # The program writes its map on SIGUSR1, every open dialog in one go.
  poke() { kill -USR1 "$moravel_pid"; }
  map_rounds=1
  saved_word() { tr -d '\n' <"$key/TcBoxInfo"; }
  shot() { import -window root -trim +repage "$out/$2"; }
  pictures=(moravel-gtk.png moravel-about.png)
  # The menus are not in the map: a moment for them to come up.
  menu_about() {
    click 102 sysmenu
    sleep 0.3
    xdotool key Down Return
  }
else
  start_box box "$work/com1" --mode pal
  key='HKLM\SYSTEM\CurrentControlSet\Services\QuorvelToClk'
  wine reg add "$key" /v TcBoxInfo /t REG_DWORD /d 0x6100BEEF /f >"$work/reg.out" 2>&1 ||
    fail "cannot store the settings word"
  map_ports COM1 "$device"
  # A Wine desktop of its own draws the window frames, the caption and the
  # system menu as Windows does.
  "$wine_run" "$prefix" explorer /desktop=Moravel,800x600 "$moravel" \
    >"$work/moravel.log" 2>&1 &
  moravel_pid=$!
  # Each dialog writes its map on a timer of its own, every half second: two
  # rounds of the main dialog's leave every open dialog's block in the map.
  poke() { :; }
  map_rounds=2
  saved_word() { wine reg query "$key" /v TcBoxInfo 2>/dev/null | tr -d '\r' | awk '$1 == "TcBoxInfo" {print $3}'; }
  # shot DIALOG FILE: a picture of that dialog's window.
  shot() {
    local x y w h
    read -r x y w h < <(state "$1" | awk '$1=="window" {print $2, $3, $4, $5}')
    import -window root -crop "${w}x${h}+${x}+${y}" +repage "$out/$2"
  }
  pictures=(moravel-win32.png moravel-win32-about.png)
  # The system menu's last entry is "About Moravel...".
  menu_about() {
    xdotool key alt+space
    sleep 0.5
    xdotool key Up Return
  }
fi
track $moravel_pid
running() { ps -o stat= -p "$moravel_pid" 2>/dev/null | grep -qv Z; }

# A fresh map: emptied, then waited for until the main dialog's block was
# written $map_rounds times (10 s).
refresh() {
  : >"$work/map.log"
  poke
  poll 10 map_complete || fail "the program wrote no control map"
}
map_complete() { [ "$(grep -c '^end 102' "$work/map.log")" -ge "$map_rounds" ]; }

# The latest state block of dialog $1, a field of a control, its text.
state() {
  awk -v d="$1" '{sub(/\r$/, "")} $1=="dialog" && $2==d {buf=""; on=1; next}
    $1=="end" && $2==d {last=buf; on=0; next}
    on {buf=buf $0 "\n"} END {printf "%s", last}' "$work/map.log" 2>/dev/null
}
field() { state "$1" | awk -v id="$2" -v f="$3" '$1==id {print $f}'; }
text() { state "$1" | awk -v id="$2" '$1==id {$1=$2=$3=$4=$5=$6=$7=""; sub(/^ +/, ""); print}'; }

# await COMMAND... : refreshes until COMMAND succeeds (20 s); false if never.
await() { poll 20 refreshed "$@"; }
refreshed() { refresh && "$@"; }
is_open() { [ -n "$(state "$1")" ]; }
is_closed() { [ -z "$(state "$1")" ] && [ -n "$(state 102)" ]; }
shows() { [ "$(text 102 "$1")" = "$2" ]; }
running_code() { [[ "$(text 102 1000)" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]:[0-2][0-9]$ ]]; }
another_code() { running_code && [ "$(text 102 1000)" != "$code" ]; }
saved() { [ $(($(saved_word))) -eq $(($1)) ]; }
has_box() { grep -qxF "messagebox $1" "$work/map.log"; }

click() {
  local x y w h
  read -r x y w h < <(state "$1" | awk -v id="$2" '$1==id {print $2, $3, $4, $5}')
  [ -n "$x" ] || fail "no control $2 in dialog $1"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

# The main dialog shows the saved settings; its idle texts are the dialog
# test's. Its first map comes unasked, once the window is up (30 s): a
# request before the program listens for it would end the program.
poll 30 is_open 102 || fail "the main dialog did not appear"
for id in 1007 1012 1005; do  # COM1, PAL, system time
  [ "$(field 102 $id 6)" = 1 ] || fail "control $id not checked"
done

if [ "$toolkit" = gtk ]; then
  # The focus starts on the first tab stop and Tab follows the template order.
  for want in 1003 1006 1; do  # HELP, SAVE, EXIT
    focus=$(state 102 | awk '$1=="focus" {print $2}')
    [ "$focus" = "$want" ] || fail "focus on $focus, not $want"
    xdotool key Tab
    refresh
  done
fi

# TEST/RUN shows a running time code that moves on, and the link's text in
# the status box after 21 ticks (about 3.5 s here).
click 102 1001
await running_code || fail "no time code: '$(text 102 1000)' $(grep messagebox "$work/map.log")"
code=$(text 102 1000)
await another_code || fail "time code stands still at $code"
await shows 1002 "BOX connected and responding." || fail "status: $(text 102 1002)"
shot 102 "${pictures[0]}"

# NTSC and local time, saved; the other bits of the word are carried over.
click 102 1011
click 102 1004
click 102 1006
poll 10 saved 0x0100BEEF || fail "saved word $(saved_word)"
if [ "$toolkit" = gtk ]; then
  chmod 555 "$key"
  click 102 1012
  click 102 1006
  await has_box "The settings were not saved. Permission denied" || fail "no message box for a failed save"
  xdotool key Return
  [ "$(saved_word)" = 0x0100BEEF ] || fail "a failed save changed the word to $(saved_word)"
  chmod 755 "$key"
fi

# The window menu's About entry opens the About box, which Escape closes; that
# HELP and OK do as well, and that the test runs on behind it, is the dialog
# test's, and a button click here the same as TEST/RUN's and SAVE's.
menu_about
await is_open 100 || fail "no About box"
[ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "About text: $(text 100 1016)"
shot 100 "${pictures[1]}"
xdotool key Escape
await is_closed 100 || fail "Escape did not close the About box"

# EXIT ends the program, and with it its queries.
click 102 1
poll 10 not running || fail "EXIT did not end the program"
[ "$toolkit" = wine ] || wait "$moravel_pid" || fail "exit status $?"
echo "PASS"
