#!/usr/bin/env bash
# Times the engine through the real binary on the loop scripts beside this
# file, and checks that steps do not allocate.
#
#   bench/scripts/run_bench.sh [TARV_BINARY] [PASSES] [LOG_PASSES]
#
# TARV_BINARY defaults to build-flow-bench/tarv (a Release build); PASSES
# (default 200000, five steps each) is the hide-mode run, LOG_PASSES
# (default 20000) the run at log level 4, whose log grows by some
# kilobytes a step.  Everything runs in a temporary folder that is removed
# at the end.
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
bin="${1:-$repo/build-flow-bench/tarv}"
passes="${2:-200000}"
log_passes="${3:-20000}"

[[ -x "$bin" ]] || { echo "no tarv binary at $bin" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The log folder must sit beside the program.
cp "$bin" "$work/tarv"
ln -s "$(cd "$(dirname "$bin")" && pwd)/modules" "$work/modules"
mkdir "$work/log"
cp "$here/loop_hide.nms" "$here/loop_log4.nms" "$work/"
cd "$work"

now() { date +%s.%N; }

# run SCRIPT PASSES: prints "steps seconds"
run() {
  rm -f steps.txt
  local t0 t1
  t0=$(now)
  ./tarv hide "$work/$1" "$2"
  t1=$(now)
  [[ -s steps.txt ]] || { echo "$1 saved no step count" >&2; exit 1; }
  echo "$(awk '{ print $1 }' steps.txt) $(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.6f", b - a }')"
}

read -r steps secs < <(run loop_hide.nms "$passes")
awk -v s="$steps" -v t="$secs" 'BEGIN {
  printf "hide:    %d steps in %.3f s: %.0f steps/s, %.3f us/step\n", s, t, s / t, t * 1e6 / s }'

rm -f log/*
read -r steps secs < <(run loop_log4.nms "$log_passes")
bytes=$(cat log/* | wc -c)
awk -v s="$steps" -v t="$secs" -v b="$bytes" 'BEGIN {
  printf "level 4: %d steps in %.3f s: %.0f steps/s, %.3f us/step, %.0f log bytes/step\n",
         s, t, s / t, t * 1e6 / s, b / s }'
rm -f log/*

# Allocation check: the heap use of a run must not grow with its length.
if command -v valgrind >/dev/null; then
  allocs() {
    valgrind --tool=memcheck "./tarv" hide "$work/$1" "$2" 2>&1 |
      sed -n 's/.*total heap usage: \([0-9,]*\) allocs.*/\1/p' | tr -d ,
  }
  for script in loop_hide.nms loop_log4.nms; do
    a=$(allocs "$script" 1000)
    b=$(allocs "$script" 3000)
    rm -f log/*
    printf "allocs:  %s: %s allocations at 1000 passes, %s at 3000 passes" "$script" "$a" "$b"
    if [[ "$a" == "$b" ]]; then echo " (none per step)"; else echo " (GROWS WITH THE RUN)"; fi
  done
else
  echo "allocs:  valgrind not installed; skipped"
fi
