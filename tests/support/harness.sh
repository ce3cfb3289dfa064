# Shared setup of the program tests; source it from bash after setting
# `boxsim` (and `wine_run` and `prefix` for the Wine tests).
#
# harness_start NAME ARGS...: drops the clock-setting right for this script and all
# it starts (re-running itself under setpriv if need be), makes the work
# folder $work, and arranges that everything started with `track` ends and
# $work goes when the script ends. A script may define harness_cleanup to run
# first at the end. A failed check shows the ends of the *.out, *.err and
# *.log files in $work.
harness_start() {
  local name=$1 bounding
  shift
  bounding=$(awk '/^CapBnd:/ {print $2}' /proc/$$/status)
  if (((16#$bounding >> 25) & 1)); then
    exec setpriv --inh-caps=-sys_time --bounding-set=-sys_time -- \
      bash "$0" "$@"
  fi
  work=$(mktemp -d "/tmp/$name-XXXXXX")
  pids=()
  trap harness_end EXIT
  trap 'exit 1' INT TERM
}

harness_end() {
  local pid
  declare -F harness_cleanup >/dev/null && harness_cleanup
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "${prefix:-}" ] && WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  wait 2>/dev/null
  rm -rf "$work"
}

track() { pids+=("$@"); }

fail() {
  local f
  echo "FAIL: $*"
  for f in "$work"/*.out "$work"/*.err "$work"/*.log; do
    [ -f "$f" ] && { echo "--- $f"; grep -v fixme "$f" | tail -n 30; }
  done
  exit 1
}

skip() {
  echo "SKIP: $*"
  exit 77
}

need_boxsim() {
  [ -x "$boxsim" ] || skip "no native box simulator at $boxsim: build the linux preset's boxsim target"
}

now_ms() { date +%s%3N; }

# run_ventrel ARGS...: the script's ventrel_command with ARGS, its output in
# $work/ventrel.out and .err; sets rc and elapsed_ms.
run_ventrel() {
  local start=$(now_ms)
  ventrel_command "$@" >"$work/ventrel.out" 2>"$work/ventrel.err"
  rc=$?
  elapsed_ms=$(($(now_ms) - start))
}

# poll SECONDS COMMAND...: true once COMMAND succeeds, false if it has not
# within SECONDS.
poll() {
  local deadline=$(($(now_ms) + $1 * 1000))
  shift
  until "$@"; do
    [ "$(now_ms)" -lt "$deadline" ] || return 1
    sleep 0.1
  done
}

not() { ! "$@"; }
alive() { kill -0 "$1" 2>/dev/null; }

# wait_for PATTERN SECONDS FILE
wait_for() { poll "$2" grep -qs -- "$1" "$3"; }

# ended PID SINCE MIN MAX: waits for PID and fails unless it ended with
# status 0 between MIN and MAX ms after SINCE (a now_ms reading).
ended() {
  wait "$1" || fail "exit status $?"
  local took=$(($(now_ms) - $2))
  [ "$took" -ge "$3" ] && [ "$took" -lt "$4" ] || fail "ended $took ms after the stop"
}

# start_box NAME LINK [boxsim options]: a simulated box on a pseudo-terminal
# that LINK points at, started through $box_runner if the script sets one,
# logging to $work/NAME.log and taking commands from `send NAME COMMAND`;
# sets $device.
start_box() {
  local name=$1 link=$2 fd
  shift 2
  mkfifo "$work/$name.in"
  exec {fd}<>"$work/$name.in"  # a writer that stays, so the box sees no end
  ${box_runner:-} "$boxsim" --link "$link" "$@" \
    <"$work/$name.in" >"$work/$name.out" 2>"$work/$name.log" &
  track $!
  wait_for "ready on" 10 "$work/$name.out" || fail "box simulator $name did not start"
  device=$(sed -n 's/^boxsim: ready on //p' "$work/$name.out" | head -n 1)
}
send() { echo "$2" >"$work/$1.in"; }

# Fails unless the box saw polls on the service's cadence: a 153 ms wait and
# an exchange of a few ms, with room for a loaded machine but not for a wait
# twice as long. The median gap, as a clock setting adds a query at once.
expect_poll_cadence() {
  local gap
  gap=$(awk '/rx 61 0C 03 70/ {
         split(substr($1, 12), t, ":"); ms = (t[1] * 3600 + t[2] * 60 + t[3]) * 1000
         if (n++) print int(ms - last); last = ms }' "$1" |
    sort -n | awk '{ gap[NR] = $1 } END { print (NR ? gap[int((NR + 1) / 2)] : 0) }')
  [ "$gap" -ge 150 ] && [ "$gap" -le 240 ] || fail "queries every $gap ms"
  echo "polls every $gap ms (median)"
}

# In the foreground only: started with & it is a subshell, which a signal
# meant for the program would not reach.
wine() { "$wine_run" "$prefix" "$@"; }
# A Windows program's standard output, its line ends made Unix ones.
wine_out() { wine "$@" 2>/dev/null | tr -d '\r'; }
# The state of the script's $service as sc shows it; empty once removed.
service_state() { wine_out sc query "$service" | awk '/STATE/ {print $4}'; }

# map_ports COM DEVICE [COM DEVICE...]: Wine replaces hand-made dosdevices
# links when its server starts, so the ports are mapped in the registry and
# the server restarted to take them.
map_ports() {
  while [ $# -gt 0 ]; do
    wine reg add 'HKLM\Software\Wine\Ports' /v "$1" /t REG_SZ /d "$2" /f \
      >/dev/null 2>&1 || fail "cannot map $1"
    shift 2
  done
  WINEPREFIX="$prefix" wineserver -k 2>/dev/null
  WINEPREFIX="$prefix" wineserver -w 2>/dev/null
}
