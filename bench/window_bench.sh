#!/usr/bin/env bash
# A watched run against a hidden one, side by side: a loop of STEPS steps
# run with "run" in the nolog and debug window modes on a virtual display,
# and the same loop in the hide mode at log level debug.  Each window time
# runs from the click on "run" to the file the script saves at its end.
#
#   bench/window_bench.sh path/to/tarv [steps] [rounds]
#
# steps defaults to 100000 (five a pass of the loop), rounds to 3; the best
# round of each case is kept.  Needs Xvfb and xdotool.
set -euo pipefail
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
source "$here/lib.sh"

bin=$(realpath "${1:?usage: window_bench.sh path/to/tarv [steps] [rounds]}")
steps=${2:-100000}
rounds=${3:-3}
passes=$(( steps / 5 ))
for tool in /usr/bin/Xvfb /usr/bin/xdotool; do
  [[ -x $tool ]] || { echo "$tool is needed (apt-get install xvfb xdotool)" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb_pid=""
tarv_pid=""
cleanup() {
  [[ -n $tarv_pid ]] && kill "$tarv_pid" 2>/dev/null || true
  [[ -n $xvfb_pid ]] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT
# The log folder beside the program keeps the debug runs' logs alike.
cp "$bin" "$work/tarv"
ln -s "$(cd "$(dirname "$bin")" && pwd)/modules" "$work/modules"
mkdir "$work/log"
cp "$here/scripts/loop_hide.nms" "$here/scripts/loop_log4.nms" "$work/"
cd "$work"

# Xvfb on a display number it picks itself, written into a file.
exec 3>"$work/display"
/usr/bin/Xvfb -displayfd 3 -screen 0 1024x800x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
exec 3>&-
for _ in $(seq 300); do [[ -s display ]] && break; sleep 0.02; done
[[ -s display ]] || { echo "Xvfb did not start" >&2; exit 1; }
export DISPLAY=":$(head -n1 display)"

# wait_for COMMAND...: polls every 2 ms for at most 120 s.
wait_for() {
  local deadline=$(( $(date +%s) + 120 ))
  until "$@"; do
    (( $(date +%s) < deadline )) || { echo "timed out: $*" >&2; exit 1; }
    sleep 0.002
  done
}
shown() { xdotool search --name '^tarv$' >/dev/null 2>&1; }
saved() { [[ -s steps.txt ]]; }

# window MODE: the microseconds from the click on "run" to the run's end,
# into elapsed (not through a subshell, so that the exit trap knows the pid).
window() {
  rm -f steps.txt
  ./tarv "$1" "$work/loop_hide.nms" "$passes" >/dev/null 2>&1 &
  tarv_pid=$!
  wait_for shown
  sleep 0.5
  local start end
  start=$(now_ns)
  xdotool mousemove $(( 10 + 694 )) $(( 10 + 522 )) click 1
  wait_for saved
  end=$(now_ns)
  kill "$tarv_pid"
  wait "$tarv_pid" 2>/dev/null || true
  tarv_pid=""
  elapsed=$(( (end - start) / 1000 ))
}

hidden() {
  rm -f steps.txt
  time_us ./tarv hide "$work/loop_log4.nms" "$passes"
}

for _ in $(seq "$rounds"); do
  keep_best "hide debug" "$(hidden)"
  window debug
  keep_best "window debug" "$elapsed"
  window nolog
  keep_best "window nolog" "$elapsed"
  rm -f log/*
done

echo "$steps steps, best of $rounds rounds"
for name in "${CASES[@]}"; do
  awk -v n="$name" -v us="${BEST[$name]}" -v s="$steps" \
    'BEGIN { printf "%-14s %9.1f ms  %9.0f steps/s\n", n, us / 1000, s / (us / 1e6) }'
done
print_ratio "window debug / hide debug" "window debug" "hide debug"
