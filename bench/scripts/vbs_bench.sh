#!/usr/bin/env bash
# The script host's speed beside tclsh and python3 doing the same work, run
# through sys.vbscript by the real binary. Four workloads, each in a .vbs,
# .py and .tcl of its own beside this file, with the same answer:
#   fib    recursive Fib(30): procedure calls and their arguments
#   arith  10 million loop turns of whole-number and floating arithmetic
#   text   300,000 one-character appends, each read back with Mid, then
#          InStr over the whole text
#   dict   200,000 updates of a Dictionary with text keys
# The rounds alternate between the programs, so that a busy moment of the
# machine hits all of them alike; each keeps its best time. Every answer is
# checked against python3's.
#
#   bench/scripts/vbs_bench.sh [TARV_BINARY] [ROUNDS]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
bin="${1:-$repo/build/tarv}"
rounds="${2:-3}"
[[ -x "$bin" ]] || { echo "no tarv binary at $bin" >&2; exit 2; }
command -v tclsh >/dev/null || { echo "tclsh is needed (apt-get install tcl)" >&2; exit 2; }
# shellcheck source=../lib.sh
. "$here/../lib.sh"

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
workloads=(fib arith text dict)

for w in "${workloads[@]}"; do
  # The script goes into the statement's argument with its line ends as %0A.
  script="$(sed -e 's/%/%25/g' "$here/vbs_$w.vbs" | awk 'BEGIN { ORS = "%0A" } { print }')"
  cat > "$work/$w.nms" <<NMS
run.set step.timeout {600} seconds
sys.vbscript {$script}
text.add {~vbscript.return~}
text.headpointer move to head
text.tailpointer move to tail
text.save to file {$work/$w.result}
NMS
done

# quiet OUT COMMAND...: runs it with its output into OUT.
quiet() {
  local out="$1"
  shift
  "$@" > "$out"
}

# answer NAME WORKLOAD: what the program printed (tarv: saved) on its last run.
answer() {
  if [[ "$1" == tarv ]]; then cat "$work/$2.result" 2>/dev/null || true; else cat "$work/$1.out"; fi
}

for ((r = 0; r < rounds; r++)); do
  for w in "${workloads[@]}"; do
    rm -f "$work/$w.result"
    keep_best "tarv $w" "$(time_us quiet "$work/tarv.out" "$bin" hide "$work/$w.nms")"
    keep_best "tclsh $w" "$(time_us quiet "$work/tclsh.out" tclsh "$here/vbs_$w.tcl")"
    keep_best "python3 $w" "$(time_us quiet "$work/python3.out" /usr/bin/python3 "$here/vbs_$w.py")"
    want="$(answer python3 "$w")"
    for name in tarv tclsh; do
      got="$(answer "$name" "$w")"
      [[ "$got" == "$want" ]] || { echo "$w: $name answers [$got], python3 [$want]" >&2; exit 1; }
    done
  done
done

printf '%-8s %10s %10s %10s %14s %12s\n' workload "tarv ms" "tclsh ms" "python3 ms" "tarv/python3" "tarv/tclsh"
for w in "${workloads[@]}"; do
  awk -v w="$w" -v v="${BEST[tarv $w]}" -v t="${BEST[tclsh $w]}" -v p="${BEST[python3 $w]}" \
    'BEGIN { printf "%-8s %10.1f %10.1f %10.1f %14.2f %12.2f\n", w, v / 1000, t / 1000, p / 1000, v / p, v / t }'
done
