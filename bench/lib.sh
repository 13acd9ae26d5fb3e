# What the loopback benchmarks share; sourced, not run.

# A TCP port on 127.0.0.1 that nothing uses now.
free_port() {
  /usr/bin/python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1", 0)); print(s.getsockname()[1])'
}

# Waits (at most 10 s) until something listens on the port, without
# connecting to it.
wait_listen() {
  local hex
  hex=$(printf '%04X' "$1")
  for _ in $(seq 500); do
    if awk -v p=":$hex" 'NR > 1 && $4 == "0A" && substr($2, length($2) - 4) == p { f = 1 } END { exit !f }' \
         /proc/net/tcp /proc/net/tcp6; then
      return 0
    fi
    sleep 0.02
  done
  echo "nothing listens on port $1" >&2
  return 1
}

now_ns() { date +%s%N; }

# print_best NAME MICROSECONDS BYTES: one result line, the time and the
# throughput.
print_best() {
  awk -v n="$1" -v us="$2" -v b="$3" \
    'BEGIN { printf "%-16s %8.1f ms  %8.1f MiB/s\n", n, us / 1000, b / 1048576 / (us / 1e6) }'
}

# Best times by case name, kept while the rounds alternate between cases so
# that a busy moment of the machine hits all of them alike.
declare -A BEST=()
declare -a CASES=()

# keep_best NAME MICROSECONDS
keep_best() {
  if [ -z "${BEST[$1]:-}" ]; then
    CASES+=("$1")
    BEST[$1]=$2
  elif [ "$2" -lt "${BEST[$1]}" ]; then
    BEST[$1]=$2
  fi
}

# time_us COMMAND...: runs it and prints how long it took in microseconds.
time_us() {
  local start end
  start=$(now_ns)
  "$@"
  end=$(now_ns)
  echo $(( (end - start) / 1000 ))
}

# print_cases BYTES: every kept case with its throughput, "tarv empty" (an
# empty script's run, no bytes moved) with its time alone.
print_cases() {
  local name
  for name in "${CASES[@]}"; do
    if [ "$name" = "tarv empty" ]; then
      awk -v n="$name" -v us="${BEST[$name]}" 'BEGIN { printf "%-16s %8.1f ms\n", n, us / 1000 }'
    else
      print_best "$name" "${BEST[$name]}" "$1"
    fi
  done
}

# print_ratio NAME A B: the ratio of two kept cases' best times.
print_ratio() {
  awk -v n="$1" -v a="${BEST[$2]}" -v b="${BEST[$3]}" 'BEGIN { printf "%-40s %6.2f\n", n, a / b }'
}

# print_net NAME CASE EMPTY BYTES: a kept case's best time less the best
# time of an empty run (a process's start and end), with its throughput.
print_net() {
  print_best "$1" $(( BEST[$2] - BEST[$3] )) "$4"
}

# bench_setup NAME "$@": the receive benchmarks' arguments (path/to/tarv
# [rounds] [BASE]) into tarv, rounds and base; then a fresh work folder,
# removed at exit, as the current folder.
bench_setup() {
  local name=$1
  shift
  tarv=$(realpath "${1:?usage: $name path/to/tarv [rounds] [BASE]}")
  rounds=${2:-7}
  base=${3:+$(realpath "$3")}
  command -v socat >/dev/null || { echo "socat is needed (apt-get install socat)" >&2; exit 2; }
  work=$(mktemp -d)
  trap 'rm -rf "$work"' EXIT
  cd "$work"
}
