#!/usr/bin/env bash
# Door-lock "IssueCard" requests per second with 8 clients, one run per
# record store, on this machine over 127.0.0.1:
#
#   * native      Client.db through SQLite's own library (the Linux default),
#   * sqlite-odbc Client.db through the SQLite ODBC driver (--store),
#   * postgresql  a PostgreSQL server (--store, the PostgreSQL Unicode driver),
#   * mariadb     a MariaDB server (--store, the MariaDB Unicode driver);
#   * none        for comparison: the same requests storing nothing
#                 (UseNativeDoorlockDb and SaveDoorlockRecord off), which is
#                 the encoder's and the request server's share.
#
# Every request is a new card for one of 40 rooms, with UseNativeDoorlockDb
# and SaveDoorlockRecord on: the store reads and writes the room's time and
# inserts the issue record (three statements). The simulated encoder answers.
# The database servers are started by this script (tests/support/db-server.sh:
# a private data folder, a free port, small buffers, no fsync, so the figures
# show the store's round trips rather than the disk's flushes) and stopped at
# the end, like the interface servers. After each run the stored records are
# counted: every request must have its row.
#
#   bench/doorlock_store_bench.sh [REQUESTS]        (default 2000)
#
# Builds the default preset's programs first (build/). Exit status 0 unless a
# store could not be set up or lost records.
set -euo pipefail
cd "$(dirname "$0")/.."
requests=${1:-2000}
clients=8
bin=build/bin
db_server=tests/support/db-server.sh

if [ ! -f build/CMakeCache.txt ]; then cmake --preset default > /dev/null; fi
cmake --build build -j2 --target velio-interfaced pms-client > /dev/null

work=$(mktemp -d /tmp/velio-doorlock-bench.XXXXXX)
# The database servers run as nobody when this runs as root.
chmod 711 "$work"
daemon_pids=()
db_dirs=()
cleanup() {
  for pid in "${daemon_pids[@]}"; do kill "$pid" 2> /dev/null || true; done
  for pid in "${daemon_pids[@]}"; do wait "$pid" 2> /dev/null || true; done
  for entry in "${db_dirs[@]}"; do "$db_server" stop "${entry%%:*}" "${entry#*:}" || true; done
  rm -rf "$work"
}
trap cleanup EXIT

listening() { (exec 3<> "/dev/tcp/127.0.0.1/$1") 2> /dev/null; }
free_port() {
  local p
  for _ in $(seq 200); do
    p=$((20000 + RANDOM % 12000))
    if ! listening "$p"; then
      echo "$p"
      return
    fi
  done
  echo "no free port found" >&2
  exit 1
}

# One issue request for room $1 (two digits).
issue_xml() {
  echo "<DoorRequest type=\"IssueCard\"><RequestID>1</RequestID><RegisterId>B</RegisterId><BuildingCode>01</BuildingCode><FloorCode>02</FloorCode><RoomNo>$1</RoomNo><GuestName>张三</GuestName><CheckInDate>2026-12-09</CheckInDate><CheckInTime>14:00:00</CheckInTime><CheckOutDate>2026-12-11</CheckOutDate><CheckOutTime>12:00:00</CheckOutTime><IsCopy>0</IsCopy></DoorRequest>"
}

# count_records STORE SOURCE: the rows of T_IssueCardRecord, through the
# database's own client.
count_records() {
  local sql="select count(*) from T_IssueCardRecord" port=${2#*Port=}
  port=${port%%;*}
  case $1 in
    none | native) sqlite3 "$2" "$sql" ;;
    sqlite-odbc) sqlite3 "$(sed 's/.*Database=\([^;]*\).*/\1/' <<< "$2")" "$sql" ;;
    postgresql)
      "$(ls /usr/lib/postgresql/*/bin/psql | head -1)" -h 127.0.0.1 -p "$port" -U velio -d velio \
        -Atc "$sql"
      ;;
    mariadb) mariadb --no-defaults -h 127.0.0.1 -P "$port" -u velio velio -N -e "$sql" ;;
  esac
}

printf '%-12s %7s %8s %9s %8s %8s %8s\n' store clients requests req/s p50_ms p99_ms records
failed=0
for store in none native sqlite-odbc postgresql mariadb; do
  home=$work/$store-home
  mkdir -p "$home"
  port=$(free_port)
  on=1
  [ "$store" = none ] && on=0
  printf '[SysOption]\r\nDoorlockPortNo=%s\r\n\r\n[DoorlockOption]\r\nUseNativeDoorlockDb=%s\r\nSaveDoorlockRecord=%s\r\n' \
    "$port" "$on" "$on" > "$home/Option.ini"
  args=()
  case $store in
    none | native) source_of=$home/Client.db ;;
    sqlite-odbc) source_of="Driver=SQLite3;Database=$home/Client.db;" ;;
    postgresql | mariadb)
      db_dir=$work/$store-db
      db_dirs+=("$store:$db_dir")
      if ! source_of=$("$db_server" start "$store" "$db_dir" "$(free_port)"); then
        echo "$store: the database server did not start" >&2
        failed=1
        continue
      fi
      ;;
  esac
  if [ "$store" != native ] && [ "$store" != none ]; then args=(--store "$source_of"); fi
  "$bin/velio-interfaced" --home "$home" --init-db "${args[@]}" > /dev/null
  "$bin/velio-interfaced" --home "$home" --mode doorlock "${args[@]}" > /dev/null 2>&1 &
  daemon_pids+=($!)
  for _ in $(seq 200); do
    listening "$port" && break
    sleep 0.05
  done
  # Warm-up: the rooms exist before the measured run.
  for room in $(seq 10 49); do "$bin/pms-client" --port "$port" --xml "$(issue_xml "$room")" > /dev/null; done
  warm=40
  out=$("$bin/pms-client" bench --port "$port" --xml "$(issue_xml 10)" --clients "$clients" \
    --requests "$requests")
  rps=$(awk '/^requests\/s:/ { print $2 }' <<< "$out")
  p50=$(awk '/^latency us:/ { print $4 }' <<< "$out")
  p99=$(awk '/^latency us:/ { print $8 }' <<< "$out")
  records=$(count_records "$store" "$source_of")
  requests_stored=$requests
  if [ "$store" = none ]; then warm=0 requests_stored=0; fi
  if [ "$records" != $((requests_stored + warm)) ]; then failed=1; fi
  printf '%-12s %7d %8d %9.0f %8.2f %8.2f %8s\n' "$store" "$clients" "$requests" "$rps" \
    "$(awk -v v="$p50" 'BEGIN { print v / 1000 }')" "$(awk -v v="$p99" 'BEGIN { print v / 1000 }')" \
    "$records/$((requests_stored + warm))"
  kill "${daemon_pids[-1]}"
  wait "${daemon_pids[-1]}" 2> /dev/null || true
done
echo "(records: T_IssueCardRecord rows after the run / requests sent, warm-up included)"
exit $failed
