#!/usr/bin/env bash
# Moves 4 MiB over loopback TCP four ways and prints the throughput of each:
#   tarv -> tarv    a script sending the text selection, a script receiving
#                   with "tcp.recv for {2048} bytes" in a loop
#   socat -> tarv   the receiving script fed by socat
#   tarv -> socat   the sending script read by socat
#   socat -> socat  the same bytes between two socat processes
# Every run checks that the received bytes equal the sent ones.
#
# usage: bench/tcp_bench.sh path/to/tarv [rounds]
set -euo pipefail
source "$(dirname "$(realpath "$0")")/lib.sh"

tarv=$(realpath "${1:?usage: tcp_bench.sh path/to/tarv [rounds]}")
rounds=${2:-3}
command -v socat >/dev/null || { echo "socat is needed (apt-get install socat)" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

head -c 1048576 /dev/urandom > part.bin
cat part.bin part.bin part.bin part.bin > all.bin
bytes=$(stat -c %s all.bin)

cat > recv.nms <<'EOF'
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
EOF

cat > send.nms <<'EOF'
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
EOF

# run_case NAME RECEIVER SENDER: each a command taking PORT and OUT as $1 $2.
run_case() {
  local name=$1 receiver=$2 sender=$3 best=0
  for _ in $(seq "$rounds"); do
    local port out start end rpid
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
    local us=$(( (end - start) / 1000 ))
    if [ "$best" -eq 0 ] || [ "$us" -lt "$best" ]; then best=$us; fi
  done
  print_best "$name" "$best" "$bytes"
}

tarv_recv()  { "$tarv" hide "$work/recv.nms" "$1" "$2"; }
tarv_send()  { "$tarv" hide "$work/send.nms" "$1" "$work/part.bin"; }
socat_recv() { socat -u "TCP-LISTEN:$1,bind=127.0.0.1,reuseaddr" "OPEN:$2,creat,trunc"; }
socat_send() { socat -u "OPEN:$work/all.bin" "TCP:127.0.0.1:$1"; }

echo "4 MiB over loopback, best of $rounds:"
run_case "tarv -> tarv"   tarv_recv  tarv_send
run_case "socat -> tarv"  tarv_recv  socat_send
run_case "tarv -> socat"  socat_recv tarv_send
run_case "socat -> socat" socat_recv socat_send
