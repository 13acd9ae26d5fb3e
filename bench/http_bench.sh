#!/usr/bin/env bash
# Requests per second of one static file under wrk, served by a tarv script
# (http.listen and http.recv request) and by Python's http.server from the
# same folder, side by side; and tarv's open descriptors before and after.
#
# usage: bench/http_bench.sh path/to/tarv [seconds] [rounds] [connections]
set -euo pipefail
source "$(dirname "$(realpath "$0")")/lib.sh"

tarv=$(realpath "${1:?usage: http_bench.sh path/to/tarv [seconds] [rounds] [connections]}")
seconds=${2:-30}
rounds=${3:-3}
conns=${4:-8}
command -v wrk >/dev/null || { echo "wrk is needed (apt-get install wrk)" >&2; exit 2; }

work=$(mktemp -d)
pids=()
cleanup() {
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
mkdir "$work/www"
head -c 4096 /dev/urandom | base64 > "$work/www/page.htm"

# Waits (at most 10 s) until the port takes a connection.
wait_listen() {
  for _ in $(seq 500); do
    if (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; then return 0; fi
    sleep 0.02
  done
  echo "nothing listens on port $1" >&2
  return 1
}

fds() { ls "/proc/$1/fd" | wc -l; }

cat > "$work/serve.nms" <<'EOF2'
http.listen port {~run.arg.4~} root dir {~run.arg.5~}
http.recv request
http.send head
http.send end
run.end
EOF2

rps() { awk '/Requests\/sec/ { print $2 }'; }

best_tarv=0 best_py=0
for _ in $(seq "$rounds"); do
  port=$(free_port)
  "$tarv" hide "$work/serve.nms" "$port" "$work/www" & tpid=$!; pids+=("$tpid")
  wait_listen "$port"
  before=$(fds "$tpid")
  r=$(wrk -t"$(( conns < 2 ? 1 : 2 ))" -c"$conns" -d"${seconds}s" "http://127.0.0.1:$port/page.htm" | rps)
  sleep 1
  after=$(fds "$tpid")
  (exec 3<>"/dev/tcp/127.0.0.1/$port"; printf 'GET /stop.jsp HTTP/1.1\r\n\r\n' >&3; cat <&3 >/dev/null)
  wait "$tpid"
  echo "tarv:   $r req/s  descriptors before $before, after $after"
  best_tarv=$(awk -v a="$best_tarv" -v b="$r" 'BEGIN { print (b > a ? b : a) }')

  port=$(free_port)
  /usr/bin/python3 -m http.server --bind 127.0.0.1 --directory "$work/www" "$port" >/dev/null 2>&1 & ppid=$!; pids+=("$ppid")
  wait_listen "$port"
  r=$(wrk -t"$(( conns < 2 ? 1 : 2 ))" -c"$conns" -d"${seconds}s" "http://127.0.0.1:$port/page.htm" | rps)
  kill "$ppid"; wait "$ppid" 2>/dev/null || true
  echo "python: $r req/s"
  best_py=$(awk -v a="$best_py" -v b="$r" 'BEGIN { print (b > a ? b : a) }')
done
echo "best of $rounds, ${seconds} s each, $conns connections, $(stat -c %s "$work/www/page.htm")-byte file:"
echo "  tarv http.recv request  $best_tarv req/s"
echo "  python3 http.server     $best_py req/s"
