#!/usr/bin/env bash
# The script host's speed beside tclsh and python3 doing the same work:
# 10 million loop turns of arithmetic and number-to-text (vbs_loop.*), run
# through sys.vbscript by the real binary. Best of RUNS runs each.
#
#   bench/scripts/vbs_bench.sh [TARV_BINARY] [RUNS]
set -euo pipefail

here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
repo="$(cd "$here/../.." && pwd)"
bin="${1:-$repo/build/tarv}"
runs="${2:-3}"
[[ -x "$bin" ]] || { echo "no tarv binary at $bin" >&2; exit 2; }

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# The script goes into the statement's argument with its line ends as %0A.
script="$(sed -e 's/%/%25/g' "$here/vbs_loop.vbs" | awk 'BEGIN { ORS = "%0A" } { print }')"
cat > "$work/loop.nms" <<NMS
run.set step.timeout {0} seconds
sys.vbscript {$script}
text.add {~vbscript.return~}
text.headpointer move to head
text.tailpointer move to tail
text.save to file {$work/result.txt}
NMS

best() {  # best NAME COMMAND...: prints the best wall time of $runs runs
  local name="$1" t0 t1 el best=""
  shift
  for ((r = 0; r < runs; r++)); do
    t0=$(date +%s.%N)
    "$@" > "$work/out.txt"
    t1=$(date +%s.%N)
    el=$(awk -v a="$t0" -v b="$t1" 'BEGIN { printf "%.3f", b - a }')
    if [[ -z "$best" ]] || awk -v x="$el" -v y="$best" 'BEGIN { exit !(x < y) }'; then best="$el"; fi
  done
  echo "$name $best"
}

vbs=$(best tarv "$bin" hide "$work/loop.nms")
result="$(cat "$work/result.txt" 2>/dev/null || true)"
tcl=$(best tclsh tclsh "$here/vbs_loop.tcl")
tcl_result="$(cat "$work/out.txt")"
py=$(best python3 /usr/bin/python3 "$here/vbs_loop.py")
py_result="$(cat "$work/out.txt")"

[[ "$result" == "$tcl_result" && "$result" == "$py_result" ]] ||
  { echo "results differ: tarv [$result] tclsh [$tcl_result] python3 [$py_result]" >&2; exit 1; }
echo "result: $result"
printf '%-8s %8s s\n' $vbs $tcl $py
awk -v v="${vbs#* }" -v t="${tcl#* }" 'BEGIN { printf "tarv / tclsh: %.2f\n", v / t }'
awk -v v="${vbs#* }" -v p="${py#* }" 'BEGIN { printf "tarv / python3: %.2f\n", v / p }'
