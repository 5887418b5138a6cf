#!/usr/bin/env bash
# Measures the request server itself: trivial_server (the server with an echo
# handler) driven by `pms-client bench` over loopback, first with no idle
# connections, then with IDLE idle connections held open, reporting the
# server's resident memory before and after opening them.
#
#   bench/server_bench_trivial.sh [BUILD_DIR] [REQUESTS] [IDLE]
#
# Defaults: build, 20000 requests, 10000 idle connections, 8 clients.
set -euo pipefail
cd "$(dirname "$0")/.."
build=${1:-build}
requests=${2:-20000}
idle=${3:-10000}
clients=${CLIENTS:-8}
xml='<Request type="ReadMemberCard"><RequestID></RequestID><Flag>0</Flag></Request>'

cmake --build "$build" --target trivial_server pms-client >/dev/null

out=$(mktemp)
"$build/bin/trivial_server" >"$out" &
server=$!
trap 'kill "$server" 2>/dev/null; wait "$server" 2>/dev/null; rm -f "$out"' EXIT
for _ in $(seq 50); do
  [ -s "$out" ] && break
  sleep 0.1
done
read -r _ port _ pid <"$out"

echo "== ${clients} clients, ${requests} requests, no idle connections"
"$build/bin/pms-client" bench --port "$port" --xml "$xml" \
  --clients "$clients" --requests "$requests" --server-pid "$pid"
echo
echo "== ${clients} clients, ${requests} requests, ${idle} idle connections"
"$build/bin/pms-client" bench --port "$port" --xml "$xml" \
  --clients "$clients" --requests "$requests" --idle "$idle" --server-pid "$pid"
