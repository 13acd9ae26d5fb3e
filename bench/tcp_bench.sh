#!/usr/bin/env bash
# Moves 4 MiB over loopback TCP four ways and prints the best time and the
# throughput of each:
#   tarv -> tarv    a script sending the text selection, a script receiving
#                   with "tcp.recv for {2048} bytes" in a loop
#   socat -> tarv   the receiving script fed by socat
#   tarv -> socat   the sending script read by socat
#   socat -> socat  the same bytes between two socat processes
# The rounds alternate between the cases.  Every run checks that the
# received bytes equal the sent ones.
#
# The receiver listens before the clock starts, so its start-up is never
# timed; its end (saving the text, leaving) is.  A sending script's start
# and end are timed: "tarv empty" is the best run of an empty script, and
# the lines "net of start" subtract it.
#
# With BASE, an earlier tarv build receives and sends too, as "base".
#
# usage: bench/tcp_bench.sh path/to/tarv [rounds] [BASE]
set -euo pipefail
source "$(dirname "$(realpath "$0")")/lib.sh"

bench_setup tcp_bench.sh "$@"

head -c 1048576 /dev/urandom > part.bin
cat part.bin part.bin part.bin part.bin > all.bin
bytes=$(stat -c %s all.bin)
: > empty.nms

cat > recv.nms <<'NMS'
run.set step.timeout {30} seconds
tcp.server listen port {~run.arg.4~}
var {n} value {0}
loop.begin
tcp.recv for {2048} bytes
var {n} add number {1}
if.var {n} >= {2048}
loop.exit
if.end
loop.end
tcp.close
text.headpointer move to head
text.tailpointer move to tail
text.save to file {~run.arg.5~}
run.end
NMS

cat > send.nms <<'NMS'
run.set step.timeout {30} seconds
text.add from file {~run.arg.5~}
text.headpointer move to head
text.tailpointer move to tail
tcp.connect ip {127.0.0.1} port {~run.arg.4~}
tcp.send text
tcp.send text
tcp.send text
tcp.send text
tcp.close
run.end
NMS

# run_case NAME RECEIVER SENDER: each a command taking PORT and OUT as $1 $2.
run_case() {
  local name=$1 receiver=$2 sender=$3 port out start end rpid
  port=$(free_port)
  out="$work/out.bin"
  rm -f "$out"
  $receiver "$port" "$out" &
  rpid=$!
  wait_listen "$port"
  start=$(now_ns)
  $sender "$port"
  wait "$rpid"
  end=$(now_ns)
  cmp -s "$out" all.bin || { echo "$name: received bytes differ" >&2; exit 1; }
  keep_best "$name" $(( (end - start) / 1000 ))
}

tarv_recv()  { "$tarv" hide "$work/recv.nms" "$1" "$2"; }
tarv_send()  { "$tarv" hide "$work/send.nms" "$1" "$work/part.bin"; }
base_recv()  { "$base" hide "$work/recv.nms" "$1" "$2"; }
base_send()  { "$base" hide "$work/send.nms" "$1" "$work/part.bin"; }
socat_recv() { socat -u "TCP-LISTEN:$1,bind=127.0.0.1,reuseaddr" "OPEN:$2,creat,trunc"; }
socat_send() { socat -u "OPEN:$work/all.bin" "TCP:127.0.0.1:$1"; }

for _ in $(seq "$rounds"); do
  run_case "tarv -> tarv"   tarv_recv  tarv_send
  run_case "socat -> tarv"  tarv_recv  socat_send
  run_case "tarv -> socat"  socat_recv tarv_send
  run_case "socat -> socat" socat_recv socat_send
  if [ -n "$base" ]; then
    run_case "socat -> base" base_recv  socat_send
    run_case "base -> socat" socat_recv base_send
  fi
  keep_best "tarv empty" "$(time_us "$tarv" hide "$work/empty.nms")"
done

echo "4 MiB over loopback, best of $rounds:"
print_cases "$bytes"
echo "net of start (less tarv empty):"
print_net "tarv -> tarv"  "tarv -> tarv"  "tarv empty" "$bytes"
print_net "tarv -> socat" "tarv -> socat" "tarv empty" "$bytes"
print_ratio "receive: socat -> tarv / socat -> socat" "socat -> tarv" "socat -> socat"
if [ -n "$base" ]; then
  print_ratio "receive: socat -> base / socat -> socat" "socat -> base" "socat -> socat"
fi
