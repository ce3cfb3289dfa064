#!/bin/bash
# The GTK program under a private Xvfb against the box simulator: it starts
# with the saved settings, TEST/RUN shows a live time code, SAVE writes the
# settings word (on a read-only settings folder GTK shows why not), HELP
# opens the About-and-Help box, EXIT ends the program. What the dialog does
# after a failed start or save is the dialog test's, a held port's exclusive
# open the pty link test's; here only that GTK shows the message box.
# Screenshots of both dialogs are left in the output folder.
# Usage: gtk_dialog_test.sh MORAVEL BOXSIM OUTPUT_FOLDER
set -u
moravel=$1 boxsim=$2 out=$3
here=$(dirname "$0")
source "$here/../support/harness.sh"
source "$here/dialog_steps.sh"
dialog_start moravel-gui 60 99 "$@"
export NO_AT_BRIDGE=1 GDK_BACKEND=x11
export CONFIGURATION_DIRECTORY="$work/conf"
key="$CONFIGURATION_DIRECTORY/SYSTEM/CurrentControlSet/Services/QuorvelToClk"
mkdir -p "$key"
# COM1, PAL, system time, and low bits that SAVE must carry over.
printf '0x6100BEEF\n' >"$key/TcBoxInfo"

start_box box "$CONFIGURATION_DIRECTORY/dosdevices/com1" --mode pal --utc

# A read-only settings folder stops only a user who may not write anywhere.
as_user=()
[ "$(id -u)" = 0 ] && as_user=(setpriv --inh-caps=-dac_override --bounding-set=-dac_override --)
"${as_user[@]}" "$moravel" >"$work/moravel.log" 2>&1 &
moravel_pid=$!
track $moravel_pid

# The program writes its map on SIGUSR1, every open dialog in one go.
poke() { kill -USR1 "$moravel_pid"; }
map_rounds=1
saved_word() { tr -d '\n' <"$key/TcBoxInfo"; }
running() { alive "$moravel_pid"; }
shot() { import -window root -trim +repage "$out/$2"; }
about_shot=moravel-about.png
menu_about() {
  click 102 sysmenu
  # The menu is not in the map: a moment for it to come up.
  sleep 0.3
  xdotool key Down Return
}
has_box() { grep -qxF "messagebox $1" "$work/map"; }

expect_idle_main_dialog
# The focus starts on the first tab stop and Tab follows the template order.
focus() { state 102 | awk '$1=="focus" {print $2}'; }
for want in 1003 1006 1; do  # HELP, SAVE, EXIT
  [ "$(focus)" = "$want" ] || fail "focus on $(focus), not $want"
  xdotool key Tab
  refresh
done

walk_test_run
shot 102 moravel-gtk.png

walk_save
chmod 555 "$key"
click 102 1012
click 102 1006
await has_box "The settings were not saved. Permission denied" || fail "no message box for a failed save"
xdotool key Return
[ "$(saved_word)" = 0x0100BEEF ] || fail "a failed save changed the word to $(saved_word)"
chmod 755 "$key"
walk_about
walk_exit
wait "$moravel_pid"
status=$?
[ "$status" = 0 ] || fail "exit status $status"
echo "PASS"
