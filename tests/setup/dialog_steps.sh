# The walk through Moravel's dialogs that the GTK and the Wine test share,
# through the control map the program writes and real pointer and key
# events. Source it after harness.sh and start with dialog_start; the script
# then defines
#   poke              asks the program for a fresh map (may do nothing)
#   map_rounds        how many "end 102" lines make a map complete
#   saved_word        the settings word as stored now
#   menu_about        opens the About box from the main window's menu
#   running           true while the program runs
#   shot DIALOG FILE  a picture of that dialog into $out
#   about_shot        the file name of the About box's picture

# dialog_start NAME FIRST LAST ARGS...: the harness for the script's ARGS,
# the output folder, a display of our own numbered from FIRST to LAST, and
# the control map's file.
dialog_start() {
  local name=$1 first=$2 last=$3 n display=
  shift 3
  harness_start "$name" "$@"
  mkdir -p "$out"
  for n in $(seq "$first" "$last"); do
    if [ ! -e /tmp/.X11-unix/X$n ] && [ ! -e /tmp/.X$n-lock ]; then display=$n; break; fi
  done
  [ -n "$display" ] || fail "no free display"
  Xvfb ":$display" -screen 0 1024x768x24 -nolisten tcp >"$work/xvfb.log" 2>&1 &
  track $!
  poll 5 test -e /tmp/.X11-unix/X$display
  export DISPLAY=":$display" MORAVEL_CONTROL_MAP="$work/map"
}

harness_on_fail() {
  echo "--- control map"; tail -40 "$work/map" 2>/dev/null
  echo "--- program"; tail -20 "$work/moravel.log"
  [ -n "${moravel_pid:-}" ] && running && echo "(still running)"
}

# A fresh map: emptied, then waited for until the main dialog's block was
# written $map_rounds times (10 s).
refresh() {
  : >"$work/map"
  poke
  poll 10 map_complete || fail "the program wrote no control map"
}
map_complete() { [ "$(grep -c '^end 102' "$work/map")" -ge "$map_rounds" ]; }

# The latest state block of dialog $1, a field of a control, its text.
state() {
  awk -v d="$1" '{sub(/\r$/, "")} $1=="dialog" && $2==d {buf=""; on=1; next}
    $1=="end" && $2==d {last=buf; on=0; next}
    on {buf=buf $0 "\n"} END {printf "%s", last}' "$work/map" 2>/dev/null
}
field() { state "$1" | awk -v id="$2" -v f="$3" '$1==id {print $f}'; }
text() { state "$1" | awk -v id="$2" '$1==id {$1=$2=$3=$4=$5=$6=$7=""; sub(/^ +/, ""); print}'; }

# await COMMAND... : refreshes until COMMAND succeeds (20 s); false if never.
await() { poll 20 refreshed "$@"; }
refreshed() { refresh && "$@"; }
is_open() { [ -n "$(state "$1")" ]; }
is_closed() { [ -z "$(state "$1")" ] && [ -n "$(state 102)" ]; }
shows() { [ "$(text 102 "$1")" = "$2" ]; }
wait_dialog() { await is_open "$1" || fail "dialog $1 did not appear"; }

click() {
  local x y w h
  read -r x y w h < <(state "$1" | awk -v id="$2" '$1==id {print $2, $3, $4, $5}')
  [ -n "$x" ] || fail "no control $2 in dialog $1"
  xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
}

# The main dialog shows the saved settings 0x6100BEEF (COM1, PAL, system
# time); its idle texts are the dialog test's.
expect_idle_main_dialog() {
  # Its first map comes unasked, once the window is up (30 s): a request
  # before the program listens for it would end the program.
  poll 30 is_open 102 || fail "the main dialog did not appear"
  local id
  for id in 1007 1012 1005; do  # COM1, PAL, system time
    [ "$(field 102 $id 6)" = 1 ] || fail "control $id not checked"
  done
}

running_code() { [[ "$(text 102 1000)" =~ ^[0-2][0-9]:[0-5][0-9]:[0-5][0-9]:[0-2][0-9]$ ]]; }
another_code() { running_code && [ "$(text 102 1000)" != "$code" ]; }

# TEST/RUN shows a running time code that moves on, and the link's text in
# the status box after 21 ticks (about 3.5 s here).
walk_test_run() {
  click 102 1001
  await running_code || fail "no time code: '$(text 102 1000)' $(grep messagebox "$work/map")"
  code=$(text 102 1000)
  await another_code || fail "time code stands still at $code"
  await shows 1002 "BOX connected and responding." || fail "status: $(text 102 1002)"
}

# NTSC and local time, saved; the other bits of the word are carried over.
walk_save() {
  click 102 1011
  click 102 1004
  click 102 1006
  poll 10 saved 0x0100BEEF || fail "saved word $(saved_word)"
}
saved() { [ "$(saved_word)" = "$1" ]; }

# HELP and the window menu's About entry open the About box, which OK and
# Escape close; that the test runs on behind it is the dialog test's.
walk_about() {
  click 102 1003
  wait_dialog 100
  [ "$(text 100 1016)" = "HELP: Brings up this dialog box." ] || fail "About text: $(text 100 1016)"
  shot 100 "$about_shot"
  click 100 1
  await is_closed 100 || fail "OK did not close the About box"
  menu_about
  wait_dialog 100
  xdotool key Escape
  await is_closed 100 || fail "Escape did not close the About box"
}

# EXIT ends the program, and with it its queries.
walk_exit() {
  click 102 1
  poll 10 not running || fail "EXIT did not end the program"
}
