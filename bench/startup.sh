#!/usr/bin/env bash
# The start-up of an empty run under `perf stat -r RUNS`, tarv beside tclsh
# and Python: CPU time and page faults of each, and the shared objects
# tarv's loader opens for it (bench/compare.sh races their wall times).
#
# usage: bench/startup.sh path/to/tarv [runs]
set -euo pipefail

tarv=$(realpath "${1:?usage: startup.sh path/to/tarv [runs]}")
runs=${2:-30}
command -v perf >/dev/null || { echo "perf is needed (apt-get install linux-perf)" >&2; exit 2; }
command -v tclsh >/dev/null || { echo "tclsh is needed (apt-get install tcl)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"
echo "run.end" > empty.nms
: > empty.tcl
: > empty.py

# stat LABEL COMMAND...: one line of perf's figures for the command
stat() {
  local label=$1; shift
  perf stat -r "$runs" -x, -e task-clock,page-faults "$@" 2>perf.csv >/dev/null
  awk -F, -v l="$label" '
    $3 == "task-clock" { cpu = $1 } $3 == "page-faults" { pf = $1 }
    END { printf "  %-7s %7.2f ms CPU  %6d page faults\n", l, cpu, pf }' perf.csv
}

echo "start-up (empty script), mean of $runs runs:"
stat tarv "$tarv" hide empty.nms
stat tclsh tclsh empty.tcl
stat python /usr/bin/python3 empty.py
echo "shared objects tarv opens for it: $(LD_DEBUG=files "$tarv" hide empty.nms 2>&1 | grep -c 'file=')"
echo "ldd tarv: $(ldd "$tarv" | wc -l) lines"
