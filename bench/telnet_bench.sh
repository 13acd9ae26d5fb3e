#!/usr/bin/env bash
# Receives 4 MiB from a loopback peer two ways and prints the time of each:
#   telnet -> tarv   a script receiving with "telnet.recv expect" in a loop,
#                    each 64 KiB block ending in a marker, appended to a file
#   socat -> socat   socat receiving the same bytes from the same peer
# The peer is socat sending the file on a listening socket.  The rounds
# alternate between the cases.  Every run checks that the received bytes
# equal the sent ones.
#
# The receiver is started inside the timed span: "tarv empty", the best run
# of an empty script, is its start and end, and "net of start" subtracts it.
#
# With BASE, an earlier tarv build receives too, as "base".
#
# usage: bench/telnet_bench.sh path/to/tarv [rounds] [BASE]
set -euo pipefail
source "$(dirname "$(realpath "$0")")/lib.sh"

bench_setup telnet_bench.sh "$@"

# 64 blocks of 65536 printable bytes (nothing a telnet client takes out),
# each ending in the marker the script waits for.
/usr/bin/python3 - <<'PY'
import base64, os
with open("all.bin", "wb") as f:
    for _ in range(64):
        body = base64.b64encode(os.urandom(65536))[:65536 - 6]
        f.write(body + b"#MARK#")
PY
bytes=$(stat -c %s all.bin)
: > empty.nms

cat > recv.nms <<'NMS'
run.set step.timeout {30} seconds
telnet.connect ip {127.0.0.1} port {~run.arg.4~}
var {n} value {0}
loop.begin
telnet.recv expect {#MARK#}
text.headpointer move to head
text.tailpointer move to tail
text.save append to file {~run.arg.5~}
text.delete from {0} byte
var {n} add number {1}
if.var {n} >= {64}
loop.exit
if.end
loop.end
telnet.close
run.end
NMS

run_case() {
  local name=$1 receiver=$2 port out start end spid
  port=$(free_port)
  out="$work/out.bin"
  rm -f "$out"
  socat -u "OPEN:$work/all.bin" "TCP-LISTEN:$port,bind=127.0.0.1,reuseaddr" &
  spid=$!
  wait_listen "$port"
  start=$(now_ns)
  $receiver "$port" "$out"
  end=$(now_ns)
  wait "$spid" || true
  cmp -s "$out" all.bin || { echo "$name: received bytes differ" >&2; exit 1; }
  keep_best "$name" $(( (end - start) / 1000 ))
}

tarv_recv()  { "$tarv" hide "$work/recv.nms" "$1" "$2"; }
base_recv()  { "$base" hide "$work/recv.nms" "$1" "$2"; }
socat_recv() { socat -u "TCP:127.0.0.1:$1" "OPEN:$2,creat,trunc"; }

for _ in $(seq "$rounds"); do
  run_case "telnet -> tarv" tarv_recv
  run_case "socat -> socat" socat_recv
  if [ -n "$base" ]; then run_case "telnet -> base" base_recv; fi
  keep_best "tarv empty" "$(time_us "$tarv" hide "$work/empty.nms")"
done

echo "4 MiB from a loopback peer, best of $rounds:"
print_cases "$bytes"
echo "net of start (less tarv empty):"
print_net "telnet -> tarv" "telnet -> tarv" "tarv empty" "$bytes"
if [ -n "$base" ]; then print_net "telnet -> base" "telnet -> base" "tarv empty" "$bytes"; fi
print_ratio "telnet -> tarv / socat -> socat" "telnet -> tarv" "socat -> socat"
if [ -n "$base" ]; then print_ratio "telnet -> base / socat -> socat" "telnet -> base" "socat -> socat"; fi
