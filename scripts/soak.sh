#!/usr/bin/env bash
# Soak test: velio-interfaced in member mode (a temporary home, a fresh card on
# the simulated reader) under load for MINUTES minutes, then checks that
#
#   * every well-formed request was answered (and answered as expected),
#   * malformed, oversized (> 16384 bytes, no NUL) and truncated requests got
#     no reply,
#   * the log holds exactly one received line per well-formed and malformed
#     request (oversized and truncated ones log nothing), one handler result
#     line per well-formed request, and no broken line,
#   * the card holds the number of a final write (read back through the server),
#   * resident memory and open descriptors did not grow after the first minute
#     (sampled every 10 s; growth must stay under 10% and under 2 MB, and the
#     descriptors must be back to their idle count once the load has stopped),
#   * the server stops cleanly on SIGTERM.
#
#   scripts/soak.sh [MINUTES]        (default 10; SOAK_SECONDS overrides)
#
# The load: `pms-client bench` runs (4 clients, WriteMemberCard and
# ReadMemberCard in turn) beside bench/soak_driver (4 threads: well-formed
# writes and reads, some spread over several lines, malformed, oversized and
# truncated requests), which counts exactly what it sent and got. Everything
# runs on 127.0.0.1. Prints a summary; exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
minutes=${1:-10}
seconds=${SOAK_SECONDS:-$((minutes * 60))}
bin=build/bin

if [ ! -f build/CMakeCache.txt ]; then cmake --preset default >/dev/null || exit 1; fi
cmake --build build -j2 --target velio-interfaced pms-client cardsim Reader soak_driver \
  >/dev/null || exit 1

work=$(mktemp -d /tmp/velio-soak.XXXXXX)
daemon_pid=
bg_pids=()
cleanup() {
  for pid in "${bg_pids[@]}"; do kill "$pid" 2>/dev/null; done
  [ -n "$daemon_pid" ] && kill "$daemon_pid" 2>/dev/null
  wait 2>/dev/null
  if [ -n "${SOAK_KEEP:-}" ]; then echo "kept: $work"; else rm -rf "$work"; fi
}
trap cleanup EXIT

listening() { (exec 3<>"/dev/tcp/127.0.0.1/$1") 2>/dev/null; }
port=
for _ in $(seq 200); do
  p=$((20000 + RANDOM % 12000))
  if ! listening "$p"; then port=$p; break; fi
done
[ -n "$port" ] || { echo "soak: no free port" >&2; exit 1; }

home=$work/home
mkdir -p "$home" "$work/sim"
printf '[SysOption]\r\nMemberPortNo=%s\r\n' "$port" >"$home/Option.ini"
export VELIO_READER_SIM_DIR=$work/sim
"$bin/cardsim" new >/dev/null || { echo "soak: cardsim new failed" >&2; exit 1; }

"$bin/velio-interfaced" --home "$home" --mode member >"$work/daemon.out" 2>"$work/daemon.err" &
daemon_pid=$!
for _ in $(seq 200); do
  listening "$port" && break
  kill -0 "$daemon_pid" 2>/dev/null || { echo "soak: the server ended" >&2; exit 1; }
  sleep 0.05
done
listening "$port" || { echo "soak: the server does not listen" >&2; exit 1; }

rss_kib() { awk '/^VmRSS:/ { print $2 }' "/proc/$daemon_pid/status"; }
fd_count() { ls "/proc/$daemon_pid/fd" | wc -l; }
idle_rss_before=$(rss_kib)
idle_fds_before=$(fd_count)

write_xml='<Request type="WriteMemberCard"><RequestID>pms</RequestID><CardNo>12345678</CardNo><Extra1></Extra1><Extra2></Extra2><Extra3></Extra3></Request>'
read_xml='<Request type="ReadMemberCard"><RequestID>pms</RequestID><Flag>0</Flag></Request>'

echo "soak: member mode on 127.0.0.1:$port for $seconds s (pid $daemon_pid, work $work)"
start=$(date +%s)
end=$((start + seconds))

# pms-client bench runs until the end time, WriteMemberCard and ReadMemberCard in turn.
pms_loop() {
  local i=0 xml
  while [ "$(date +%s)" -lt "$end" ]; do
    if [ $((i % 2)) -eq 0 ]; then xml=$write_xml; else xml=$read_xml; fi
    "$bin/pms-client" bench --port "$port" --xml "$xml" --clients 4 --requests 300 \
      >>"$work/pms.txt" 2>&1 || echo "pms-client bench failed: exit $?" >>"$work/pms.txt"
    i=$((i + 1))
  done
}
pms_loop &
pms_pid=$!
bg_pids+=("$pms_pid")
"$bin/soak_driver" --port "$port" --seconds "$seconds" --threads 4 >"$work/driver.txt" 2>&1 &
driver_pid=$!
bg_pids+=("$driver_pid")

# Samples every 10 s: elapsed seconds, VmRSS kB, open descriptors.
: >"$work/samples.txt"
for ((t = 10; t <= seconds; t += 10)); do
  sleep $((start + t - $(date +%s) > 0 ? start + t - $(date +%s) : 0))
  kill -0 "$daemon_pid" 2>/dev/null || break
  echo "$t $(rss_kib) $(fd_count)" >>"$work/samples.txt"
done
wait "$pms_pid"
wait "$driver_pid"
driver_status=$?
bg_pids=()

idle_rss_after=$(rss_kib)
idle_fds_after=$(fd_count)
kill -0 "$daemon_pid" 2>/dev/null
daemon_alive=$?

# The final write and its read back.
final_no=$(date +%H%M%S)$((RANDOM % 1000 + 1000))
final_write=$("$bin/pms-client" --port "$port" write-member-card --card-no "$final_no" 2>&1)
final_read=$("$bin/pms-client" --port "$port" read-member-card 2>&1)
card_read=$(sed -n 's/.*<CardNo>\([^<]*\)<\/CardNo>.*/\1/p' <<<"$final_read")

kill -TERM "$daemon_pid"
wait "$daemon_pid"
daemon_exit=$?
daemon_pid=

# ---- counting -------------------------------------------------------------
pms_runs=$(grep -c '^clients ' "$work/pms.txt")
pms_requests=$(awk '/^clients / { gsub(",", ""); n += $4 } END { print n + 0 }' "$work/pms.txt")
pms_no_reply=$(awk '/^no reply:/ { n += $3 } END { print n + 0 }' "$work/pms.txt")
pms_connect_errors=$(awk '/^no reply:/ { n += $6 } END { print n + 0 }' "$work/pms.txt")
pms_failed_runs=$(grep -c '^pms-client bench failed' "$work/pms.txt")
pms_rps=$(awk '/^requests\/s:/ { s += $2; n++ } END { if (n) printf "%.0f", s / n; else print 0 }' \
  "$work/pms.txt")
fig() { sed -n "s/^$1=//p" "$work/driver.txt"; }
wellformed_sent=$(fig wellformed_sent)
malformed_sent=$(fig malformed_sent)

# Two final requests, both well-formed.
expected_received=$((pms_requests - pms_connect_errors + wellformed_sent + malformed_sent + 2))
expected_results=$((pms_requests - pms_connect_errors + wellformed_sent + 2))

# ---- the log --------------------------------------------------------------
log=$(ls "$home"/*.LOG 2>/dev/null | head -n 1)
cp936() { printf '%s' "$1" | iconv -f UTF-8 -t CP936; }
received_text=$(cp936 '收到消息: ')
result_texts=("$(cp936 '写卡成功,卡号为:')" "$(cp936 '写卡失败,卡号为:')" \
  "$(cp936 '读卡成功，卡号为：')" "$(cp936 '读卡失败')")
# Every line must end with CR (entries end with CR LF; requests carry CR LF
# only). A line without a stamp must follow a received entry (its request).
read -r log_lines received_lines result_lines broken_lines no_cr_lines < <(
  LC_ALL=C awk -v recv="$received_text" -v r1="${result_texts[0]}" -v r2="${result_texts[1]}" \
    -v r3="${result_texts[2]}" -v r4="${result_texts[3]}" '
    {
      lines++
      if (sub(/\r$/, "") == 0) no_cr++
    }
    /^[0-9][0-9][0-9][0-9]-[0-9][0-9]-[0-9][0-9] [0-9][0-9]:[0-9][0-9]:[0-9][0-9] / {
      text = substr($0, 21)
      in_request = (text == recv)
      if (in_request) received++
      if (index(text, r1) == 1 || index(text, r2) == 1 || index(text, r3) == 1 || text == r4)
        results++
      next
    }
    { if (!in_request) broken++ }
    END { print lines + 0, received + 0, results + 0, broken + 0, no_cr + 0 }' "$log")
log_tail_ok=0
[ "$(tail -c 2 "$log" | od -An -tx1 | tr -d ' \n')" = 0d0a ] && log_tail_ok=1

# ---- memory and descriptors -------------------------------------------------
# Baseline: the samples of the first minute (the first half of a shorter run).
base_limit=60
[ "$seconds" -lt 120 ] && base_limit=$((seconds / 2))
read -r base_rss later_rss base_fds later_fds later_samples < <(awk -v lim="$base_limit" '
  $1 <= lim { if ($2 > br) br = $2; if ($3 > bf) bf = $3; next }
  { n++; if ($2 > lr) lr = $2; if ($3 > lf) lf = $3 }
  END { print br + 0, lr + 0, bf + 0, lf + 0, n + 0 }' "$work/samples.txt")

# ---- verdict --------------------------------------------------------------
failures=()
fail() { failures+=("$1"); }
[ "$driver_status" -eq 0 ] || fail "the soak driver saw a deviation (exit $driver_status)"
[ "$pms_failed_runs" -eq 0 ] || fail "$pms_failed_runs pms-client runs failed"
[ "$pms_no_reply" -eq 0 ] || fail "$pms_no_reply pms-client requests got no reply"
[ "$pms_connect_errors" -eq 0 ] || fail "$pms_connect_errors pms-client connections failed"
[ "$daemon_alive" -eq 0 ] || fail "the server died during the load"
[ "$card_read" = "$final_no" ] ||
  fail "the card holds '$card_read' after writing '$final_no' (write: $final_write; read: $final_read)"
[ "$daemon_exit" -eq 0 ] || fail "the server exited $daemon_exit on SIGTERM"
[ "$received_lines" -eq "$expected_received" ] ||
  fail "log: $received_lines received lines, expected $expected_received"
[ "$result_lines" -eq "$expected_results" ] ||
  fail "log: $result_lines handler result lines, expected $expected_results"
[ "$broken_lines" -eq 0 ] || fail "log: $broken_lines broken lines"
[ "$no_cr_lines" -eq 0 ] || fail "log: $no_cr_lines lines without CR LF"
[ "$log_tail_ok" -eq 1 ] || fail "log: the file does not end with CR LF"
if [ "$later_samples" -gt 0 ]; then
  rss_growth=$((later_rss - base_rss))
  if [ "$rss_growth" -ge 2048 ] || [ $((rss_growth * 10)) -ge "$base_rss" ]; then
    fail "resident memory grew from $base_rss kB to $later_rss kB after the first minute"
  fi
  # Descriptors in use at a sample include the connections of the moment (8
  # clients at most); growth beyond that is a leak.
  if [ "$later_fds" -gt $((base_fds + 8)) ]; then
    fail "open descriptors grew from $base_fds to $later_fds after the first minute"
  fi
else
  fail "no samples after the baseline period (run longer)"
fi
[ "$idle_fds_after" -eq "$idle_fds_before" ] ||
  fail "idle descriptors: $idle_fds_before before the load, $idle_fds_after after"

echo
echo "== summary ($seconds s)"
echo "pms-client bench: $pms_runs runs, $pms_requests requests, $pms_no_reply without reply," \
  "$pms_connect_errors connect errors, mean $pms_rps requests/s per run"
echo "soak driver:      $(tr '\n' ' ' <"$work/driver.txt")"
echo "log:              $log_lines lines, $received_lines received (expected $expected_received)," \
  "$result_lines result lines (expected $expected_results), $broken_lines broken," \
  "$no_cr_lines without CR LF, size $(stat -c %s "$log") bytes"
echo "card:             wrote $final_no, read back '$card_read'"
echo "memory (VmRSS):   idle $idle_rss_before kB before, first-minute max $base_rss kB," \
  "later max $later_rss kB, idle after $idle_rss_after kB"
echo "descriptors:      idle $idle_fds_before before, first-minute max $base_fds," \
  "later max $later_fds, idle after $idle_fds_after"
echo "samples (s rss_kB fds): $(tr '\n' ';' <"$work/samples.txt")"
echo "server exit on SIGTERM: $daemon_exit; stdout: $(tr '\n' ' ' <"$work/daemon.out")"
if [ ${#failures[@]} -gt 0 ]; then
  echo
  for f in "${failures[@]}"; do echo "FAIL: $f"; done
  exit 1
fi
echo "PASS"
