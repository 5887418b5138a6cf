#!/usr/bin/env bash
# A private database server for the tests and benchmarks of the door-lock
# store: its data folder, a local port, and nothing shared with any other
# server of the machine.
#
#   db-server.sh start postgresql|mariadb DIR PORT
#       starts the server on 127.0.0.1:PORT and waits until it answers; the
#       first time (no DIR/data yet) makes the data folder and the database
#       "velio" (user "velio", no password) first; prints the ODBC
#       connection string
#   db-server.sh stop postgresql|mariadb DIR     stops the server, keeps DIR
#   db-server.sh connection postgresql|mariadb PORT   prints the string only
#
# As root the server runs as "nobody" (PostgreSQL refuses root), which then
# owns DIR. The servers start cheaply: small buffers, no fsync, no binary log,
# and a new data folder is a copy of one made once per engine version and
# kept in ${TMPDIR:-/tmp}/velio-db-templates-UID (made under a lock, so that
# tests starting at once make it once).
# Exit 1 with the reason (the server's own log) when a server does not start.
set -uo pipefail
cmd=${1:-}
engine=${2:-}

as_owner() {
  if [ "$(id -u)" -eq 0 ]; then
    runuser -u nobody -- "$@"
  else
    "$@"
  fi
}

# Makes DIR/data a copy of the engine's template, which "$@" makes (into
# the folder named by its last argument) when missing.
from_template() {
  local dir=$1 name=$2
  shift 2
  local root=${TMPDIR:-/tmp}/velio-db-templates-$(id -u)
  mkdir -p "$root" && chmod 755 "$root" || fail "cannot make $root"
  local template=$root/$name
  (
    flock 9
    if [ ! -d "$template" ]; then
      rm -rf "$template.new"
      mkdir "$template.new" && chown "$owner" "$template.new"
      "$@" "$template.new" > "$root/$name.log" 2>&1 || exit 1
      mv "$template.new" "$template"
    fi
  ) 9> "$root/$name.lock" || fail "cannot make the data folder: $(tail -5 "$root/$name.log")"
  cp -a "$template" "$dir/data" || fail "cannot copy $template"
}

pg_bin() {
  local dir
  for dir in /usr/lib/postgresql/*/bin; do
    [ -x "$dir/$1" ] && { echo "$dir/$1"; return 0; }
  done
  command -v "$1"
}

connection() {
  case $engine in
    postgresql)
      echo "Driver={PostgreSQL Unicode};Server=127.0.0.1;Port=$1;Database=velio;UID=velio;PWD=;" ;;
    mariadb)
      echo "Driver={MariaDB Unicode};Server=127.0.0.1;Port=$1;Database=velio;UID=velio;PWD=;" ;;
  esac
}

fail() {
  echo "db-server.sh: $*" >&2
  exit 1
}

# Waits up to 30 s for the command to succeed, while process $server_pid
# (when set) lives.
server_pid=
wait_for() {
  local i
  for i in $(seq 300); do
    "$@" > /dev/null 2>&1 && return 0
    [ -n "$server_pid" ] && ! kill -0 "$server_pid" 2> /dev/null && return 1
    sleep 0.1
  done
  return 1
}

start_postgresql() {
  local dir=$1 port=$2 initdb pg_ctl psql
  initdb=$(pg_bin initdb) || fail "PostgreSQL is not installed (scripts/deps.sh test)"
  pg_ctl=$(pg_bin pg_ctl)
  psql=$(pg_bin psql)
  local fresh=
  if [ ! -d "$dir/data" ]; then
    fresh=yes
    from_template "$dir" "postgresql-$("$initdb" --version | awk '{print $NF}' | tr -d '()')" \
      as_owner "$initdb" -U velio -A trust -E UTF8 --no-sync --locale=C -D
  fi
  as_owner "$pg_ctl" -D "$dir/data" -l "$dir/server.log" -w -t 30 \
    -o "-p $port -k $dir -c listen_addresses=127.0.0.1 -c fsync=off -c synchronous_commit=off
        -c full_page_writes=off -c shared_buffers=16MB -c max_connections=60" start \
    > /dev/null 2>&1 || fail "PostgreSQL did not start: $(tail -5 "$dir/server.log")"
  wait_for as_owner "$psql" -h 127.0.0.1 -p "$port" -U velio -d postgres -c "select 1" ||
    fail "PostgreSQL does not answer: $(tail -5 "$dir/server.log")"
  [ -z "$fresh" ] && return 0
  as_owner "$psql" -h 127.0.0.1 -p "$port" -U velio -d postgres -q -c "create database velio" \
    > "$dir/create.log" 2>&1 || fail "cannot create the database: $(cat "$dir/create.log")"
}

stop_postgresql() {
  local dir=$1
  [ -f "$dir/data/postmaster.pid" ] || return 0
  as_owner "$(pg_bin pg_ctl)" -D "$dir/data" -m fast -w stop > /dev/null 2>&1
}

install_mariadb() {
  as_owner "$1" --no-defaults --auth-root-authentication-method=normal --skip-test-db \
    --skip-log-bin --innodb-log-file-size=8M --datadir="$2"
}

start_mariadb() {
  local dir=$1 port=$2 install server
  install=$(command -v mariadb-install-db) || fail "MariaDB is not installed (scripts/deps.sh test)"
  server=$(command -v mariadbd || echo /usr/sbin/mariadbd)
  local options=(--no-defaults --datadir="$dir/data" --socket="$dir/mysql.sock"
                 --pid-file="$dir/mariadb.pid" --skip-log-bin --innodb-buffer-pool-size=16M
                 --innodb-log-file-size=8M --innodb-flush-log-at-trx-commit=0
                 --innodb-doublewrite=0 --skip-name-resolve)
  local fresh=
  if [ ! -d "$dir/data" ]; then
    fresh=yes
    from_template "$dir" "mariadb-$("$server" --version | awk '{print $3}')" \
      install_mariadb "$install"
  fi
  # Started in the background, its own process group; the pid file stops it.
  as_owner setsid "$server" "${options[@]}" --port="$port" --bind-address=127.0.0.1 \
    --log-error="$dir/server.log" --max-connections=60 < /dev/null > /dev/null 2>&1 &
  server_pid=$!
  local mariadb
  mariadb=$(command -v mariadb || command -v mysql)
  wait_for "$mariadb" --no-defaults -S "$dir/mysql.sock" -u root -e "select 1" ||
    fail "MariaDB did not start: $(tail -5 "$dir/server.log" 2> /dev/null)"
  [ -z "$fresh" ] && return 0
  "$mariadb" --no-defaults -S "$dir/mysql.sock" -u root -e "create database velio;
     create user 'velio'@'127.0.0.1'; create user 'velio'@'localhost';
     grant all on velio.* to 'velio'@'127.0.0.1'; grant all on velio.* to 'velio'@'localhost';" \
    > "$dir/create.log" 2>&1 || fail "cannot create the database: $(cat "$dir/create.log")"
}

stop_mariadb() {
  local dir=$1 pid i
  [ -f "$dir/mariadb.pid" ] || return 0
  pid=$(cat "$dir/mariadb.pid")
  kill -TERM "$pid" 2> /dev/null
  for i in $(seq 200); do
    kill -0 "$pid" 2> /dev/null || break
    sleep 0.05
  done
  kill -KILL "$pid" 2> /dev/null
  rm -f "$dir/mariadb.pid"
}

owner=$(id -un)
[ "$(id -u)" -eq 0 ] && owner=nobody

case $cmd in
  start)
    dir=${3:?DIR}
    port=${4:?PORT}
    mkdir -p "$dir" || fail "cannot make $dir"
    chown "$owner" "$dir"
    "start_$engine" "$dir" "$port"
    connection "$port"
    ;;
  stop)
    dir=${3:?DIR}
    "stop_$engine" "$dir"
    ;;
  connection)
    connection "${3:?PORT}"
    ;;
  *)
    fail "usage: db-server.sh start|stop postgresql|mariadb DIR [PORT]"
    ;;
esac
