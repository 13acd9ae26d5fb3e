#!/usr/bin/env bash
# Runs tarv, tclsh and Python on the same work, whole processes, alternating,
# several rounds each, and prints each one's best time and tarv's ratio:
#   loop      the counted loop of scripts/loop_hide.nms (five steps a pass)
#   start     an empty script
#   text.add  many small appends (scripts/text_add.nms)
#   var read  variable reads into a variable (scripts/var_read.nms)
#   log 4     the loop with every debug entry logged: us and log bytes a step
#
# With BASE, an earlier tarv build is raced too, as "base".
#
# usage: bench/compare.sh path/to/tarv [rounds] [passes] [BASE]
set -euo pipefail

tarv=$(realpath "${1:?usage: compare.sh path/to/tarv [rounds] [passes] [BASE]}")
rounds=${2:-7}
passes=${3:-200000}
base=${4:+$(realpath "$4")}
here="$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)"
py=/usr/bin/python3
command -v tclsh >/dev/null || { echo "tclsh is needed (apt-get install tcl)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cp "$tarv" "$work/tarv"
ln -s "$(cd "$(dirname "$tarv")" && pwd)/modules" "$work/modules"
cp "$here"/scripts/*.nms "$work/"
cd "$work"

cat > loop.tcl <<'TCL'
set n [lindex $argv 0]
set i 0
while 1 { incr i; if {$i >= $n} break }
TCL
cat > loop.py <<'PY'
import sys
n = int(sys.argv[1])
i = 0
while True:
    i += 1
    if i >= n:
        break
PY
cat > text_add.py <<'PY'
import sys
n = int(sys.argv[1])
parts = []
i = 0
while True:
    parts.append("piece;")
    i += 1
    if i >= n:
        break
text = "".join(parts)
PY
cat > var_read.py <<'PY'
import sys
n = int(sys.argv[1])
v = {"i": "0"}
i = 0
while True:
    v["x"] = v["i"] + v["i"]
    i += 1
    v["i"] = str(i)
    if i >= n:
        break
PY
: > empty.tcl
: > empty.py

# secs COMMAND...: the wall time of one run
secs() {
  local t0 t1
  t0=$(date +%s%N)
  "$@" >/dev/null 2>&1
  t1=$(date +%s%N)
  echo $(( (t1 - t0) / 1000 ))
}

# best NAME...: runs each labelled command `rounds` times, alternating, and
# prints the best microseconds of each; the commands are in cmd_<label>.
declare -A best
race() {
  local label
  for label in "$@"; do best[$label]=999999999999; done
  for _ in $(seq "$rounds"); do
    for label in "$@"; do
      local -n cmd="cmd_$label"
      local t
      t=$(secs "${cmd[@]}")
      if (( t < best[$label] )); then best[$label]=$t; fi
    done
  done
}

ratio() { awk -v a="$1" -v b="$2" 'BEGIN { printf "%.2f", a / b }'; }
ms() { awk -v a="$1" 'BEGIN { printf "%8.2f ms", a / 1000 }'; }

# show LABEL...: the best time of each raced command, and tarv's ratio to it
show() {
  local label
  echo "  tarv    $(ms "${best[tarv]}")"
  for label in "$@"; do
    echo "  $(printf '%-7s' "$label") $(ms "${best[$label]}")  tarv/$label = $(ratio "${best[tarv]}" "${best[$label]}")"
  done
}

# The same work through an earlier build, when one is given.
others=()
if [[ -n "$base" ]]; then cp "$base" "$work/base"; others=(base); fi

steps=$(( passes * 5 + 2 ))
cmd_tarv=(./tarv hide "$work/loop_hide.nms" "$passes")
cmd_base=(./base hide "$work/loop_hide.nms" "$passes")
cmd_tclsh=(tclsh loop.tcl "$passes")
cmd_python=("$py" loop.py "$passes")
race tarv "${others[@]}" tclsh python
loop=(${best[tarv]} ${best[tclsh]} ${best[python]})
echo "loop ($passes passes, $steps steps):"
show "${others[@]}" tclsh python

cmd_tarv=(./tarv hide "$work/empty.nms")
cmd_base=(./base hide "$work/empty.nms")
cmd_tclsh=(tclsh empty.tcl)
cmd_python=("$py" empty.py)
race tarv "${others[@]}" tclsh python
echo "start-up (empty script):"
show "${others[@]}" tclsh python
start=(${best[tarv]} ${best[tclsh]} ${best[python]})
# net WHAT TARV OTHER OTHER_START: the work without each program's start-up
net() {
  local a=$(( $2 - start[0] )) b=$(( $3 - $4 ))
  echo "  net of start-up: tarv $(ms "$a"), other $(ms "$b"), $1 = $(ratio "$a" "$b")"
}
echo "loop again:"
net tarv/tclsh "${loop[0]}" "${loop[1]}" "${start[1]}"
echo "  tarv net: $(awk -v s="$steps" -v t="$(( loop[0] - start[0] ))" 'BEGIN { printf "%.1f million steps/s", s / t }')"

small=$(( passes / 2 ))
cmd_tarv=(./tarv hide "$work/text_add.nms" "$small")
cmd_base=(./base hide "$work/text_add.nms" "$small")
cmd_python=("$py" text_add.py "$small")
race tarv "${others[@]}" python
echo "text.add ($small pieces):"
show "${others[@]}" python
net tarv/python "${best[tarv]}" "${best[python]}" "${start[2]}"

cmd_tarv=(./tarv hide "$work/var_read.nms" "$passes")
cmd_base=(./base hide "$work/var_read.nms" "$passes")
cmd_python=("$py" var_read.py "$passes")
race tarv "${others[@]}" python
echo "variable reads ($(( passes * 2 )) reads):"
show "${others[@]}" python
net tarv/python "${best[tarv]}" "${best[python]}" "${start[2]}"

# The log goes into the folder beside the program.
mkdir -p log
logpasses=$(( passes / 10 ))
logsteps=$(( logpasses * 5 + 3 ))
cmd_tarv=(./tarv hide "$work/loop_log4.nms" "$logpasses")
cmd_base=(./base hide "$work/loop_log4.nms" "$logpasses")
race tarv "${others[@]}"
rm -f log/*
./tarv hide "$work/loop_log4.nms" "$logpasses" >/dev/null 2>&1
bytes=$(cat log/* | wc -c)
rm -rf log
echo "log level 4 ($logpasses passes, $logsteps steps, $(awk -v s="$logsteps" -v b="$bytes" 'BEGIN { printf "%.0f", b / s }') log bytes a step):"
echo "  tarv    $(ms "${best[tarv]}")  $(awk -v t="${best[tarv]}" -v s="$logsteps" 'BEGIN { printf "%.3f us/step", t / s }')"
if [[ -n "$base" ]]; then
  echo "  base    $(ms "${best[base]}")  tarv/base = $(ratio "${best[tarv]}" "${best[base]}")"
fi
