#!/usr/bin/env bash
# System calls per request of velio-interfaced in police mode, counted by
# `strace -c -f` while `pms-client bench` sends REQUESTS requests from 8
# clients (a new connection each). Unlike requests per second, the counts do
# not depend on how busy the machine is, so they compare builds reliably.
#
#   bench/server_syscalls.sh [REQUESTS]        (default 2000)
#
# VELIO_DAEMON=PATH counts another velio-interfaced (an older build, for a
# before-and-after comparison); pms-client comes from build/bin. Needs strace.
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-2000}
bin=build/bin
daemon=${VELIO_DAEMON:-$bin/velio-interfaced}
command -v strace >/dev/null || { echo "strace is not installed" >&2; exit 1; }

if [ ! -f build/CMakeCache.txt ]; then cmake --preset default >/dev/null; fi
cmake --build build -j2 --target velio-interfaced pms-client >/dev/null

work=$(mktemp -d /tmp/velio-syscalls.XXXXXX)
pids=()
cleanup() {
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=
for _ in $(seq 200); do
  p=$((20000 + RANDOM % 12000))
  if ! listening "$p"; then port=$p; break; fi
done
[ -n "$port" ] || { echo "no free port found" >&2; exit 1; }

printf '[SysOption]\r\nPolicePortNo=%s\r\n' "$port" >"$work/Option.ini"
{
  printf '[Guest]\r\nRoomNo=0808\r\nEnterTime=2026-12-06 14:32:10\r\nLeaveTime=2026-12-09 12:00:00\r\n'
  printf 'IdCardNo=110101199003071234\r\nName=张伟\r\nNationality=汉族\r\nGenderID=1\r\nRemark=\r\n'
  printf 'CountryCode=CHN\r\nProvinceCode=110000\r\nAddress=北京市东城区东长安街1号\r\n'
  printf 'Birthday=1990-03-07\r\n'
} | iconv -f UTF-8 -t CP936 >"$work/Guest.ini"

"$daemon" --home "$work" --mode police >"$work/daemon.out" 2>&1 &
daemon_pid=$!
pids+=("$daemon_pid")
for _ in $(seq 200); do listening "$port" && break; sleep 0.05; done
listening "$port" || { echo "velio-interfaced is not listening on $port" >&2; exit 1; }

xml='<Request type="ReadGuest"><RequestID>1</RequestID></Request>'
# Warm up: handler threads and code-page converters exist before counting.
"$bin/pms-client" bench --port "$port" --xml "$xml" --clients 8 --requests 200 >/dev/null
strace -c -f -p "$daemon_pid" -o "$work/strace.txt" 2>/dev/null &
strace_pid=$!
sleep 1  # strace attaches to every thread
"$bin/pms-client" bench --port "$port" --xml "$xml" --clients 8 --requests "$requests" |
  grep -E '^(requests/s|no reply):'
sleep 0.5
kill -INT "$strace_pid"
wait "$strace_pid" 2>/dev/null || true

echo "system calls per request ($requests requests, 8 clients, police mode):"
# strace -c rows: % time, seconds, usecs/call, calls, [errors,] syscall.
awk -v n="$requests" '
  $1 ~ /^[0-9.]+$/ && NF >= 5 { calls = $4; name = $NF
    if (name == "total") total = calls; else printf "  %-16s %6.2f\n", name, calls / n }
  END { printf "  %-16s %6.2f\n", "total", total / n }' "$work/strace.txt" | sort -k2 -nr
