#!/usr/bin/env bash
# windows_service_test.sh BUILD_DIR LINUX_BUILD_DIR
#
# The Windows program's own commands under Wine. --help names the Windows
# files and the service commands. velio-interfaced.exe service install (police
# mode, a temporary home, a free port) with every server option, each of which
# must be found in the installed command line (read back from the registry),
# the store's password in none of it and its connection string in the home's
# Store-police.conn; the one-off options and a second install refused; the
# service started by the service manager, one request answered over loopback
# TCP (pms-client of the Linux build), stopped by the manager (the log then
# holds the start line, and the stop line after it); started again with its
# port taken: it ends STOPPED with service-specific code 1 and the reason in
# the log; uninstalled (the manager no longer knows it, its
# connection-string file is gone). Last, --init-db in a home without
# Client.mdb names the Access driver that Wine lacks. Exits non-zero with the
# reason on any failure.
set -uo pipefail
build=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
case "$build" in *mingw64*) arch=win64 ;; *) arch=win32 ;; esac
prefix=$build/wineprefix
exe=$build/bin/velio-interfaced.exe
wine_run() { "$here/scripts/wine-run.sh" "$prefix" "$arch" "$@"; }
fail() { echo "windows_service_test: FAILED: $*" >&2; exit 1; }
# A Linux path as the Windows program names it (Wine's drive Z: is /).
winpath() { local p=${1//\//\\}; echo "Z:$p"; }

home=$(mktemp -d /tmp/velio-service-XXXXXX)
holder=
trap '[ -n "$holder" ] && kill "$holder" 2>/dev/null
      wine_run "$exe" service uninstall --mode police >/dev/null 2>&1; rm -rf "$home"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[SysOption]\r\nPolicePortNo=%s\r\n' "$port" >"$home/Option.ini"
name=VelioInterface-police
whome=$(winpath "$home")
store='Driver={Velio No Such Driver};Database=rooms;UID=pms;PWD={se;cr}}et}'

# --help names the Windows files, the stop and the service commands.
help=$(wine_run "$exe" --help 2>&1 | tr -d '\r')
for text in Client.mdb ReaderPcsc.dll Reader.dll Ctrl+C 'service install' 'service uninstall'; do
  grep -qF -- "$text" <<<"$help" || fail "--help lacks '$text': $help"
done
for text in Client.db libReader SIGTERM SIGHUP; do
  grep -qF -- "$text" <<<"$help" && fail "--help names the Linux '$text': $help"
done

# Every server option given to install, and what the service's command line
# must then hold for it.
options=() expected=()
row() { options+=("${@:1:$#-1}"); expected+=("${!#}"); }
row --mode police                            'service run --mode police'
row --home "$home"                           "--home $whome"
row --listen 127.0.0.1                       '--listen 127.0.0.1'
row --allow 127.0.0.1,10.0.0.0/8             '--allow 127.0.0.1,10.0.0.0/8'
row --reader-library "$build/bin/Reader.dll" "--reader-library $(winpath "$build/bin/Reader.dll")"
row --verbose                                '--verbose'
row --store "$store"                         "--store-file $whome\\Store-police.conn"

out=$(wine_run "$exe" service install "${options[@]}" 2>&1) || fail "service install: $out"
out=$(echo "$out" | tr -d '\r')
key='HKLM\System\CurrentControlSet\Services\'$name
command=$(wine_run reg query "$key" /v ImagePath 2>/dev/null | tr -d '\r' | grep ImagePath)
[ -n "$command" ] || fail "the service's command line cannot be read back"
for i in "${!expected[@]}"; do
  grep -qF -- "${expected[$i]}" <<<"$command" ||
    fail "the service's command line lacks '${expected[$i]}': $command"
done
grep -qF "installed the service $name: \"$(winpath "$exe")\" service run --mode police" <<<"$out" ||
  fail "service install did not print its command line: $out"
grep -qF 'PWD=***' <<<"$out" || fail "service install did not show the store, masked: $out"
grep -qF 'cr}}et' <<<"$command$out" && fail "the store's password is shown: $command / $out"
[ "$(cat "$home/Store-police.conn")" = "$store" ] || fail "Store-police.conn does not hold the store"
# Wine maps the file's access list (SYSTEM, Administrators) to its mode:
# nothing for other users.
[ "$(stat -c %a "$home/Store-police.conn" | cut -c3)" = 0 ] ||
  fail "Store-police.conn is open to every user: mode $(stat -c %a "$home/Store-police.conn")"
wine_run reg query "$key" /v DisplayName 2>/dev/null | tr -d '\r' | grep -q 'TarvikVelio' ||
  fail "the display name does not carry the mode's title"

# Refused: the one-off options (exit 2, naming them) and a second install
# (exit 1, saying so).
for option in --check --init-db; do
  out=$(wine_run "$exe" service install --mode police --home "$home" "$option" 2>&1)
  rc=$?
  [ $rc -eq 2 ] && grep -qF -- "$option" <<<"$out" ||
    fail "service install $option: exit $rc, '$out' (expected 2 naming $option)"
done
out=$(wine_run "$exe" service install --mode police --home "$home" 2>&1)
rc=$?
[ $rc -eq 1 ] && grep -q "the service $name is already installed" <<<"$out" &&
  ! grep -qi success <<<"$out" || fail "a second install: exit $rc, '$out'"

# Started automatically (Wine's service manager starts automatic services as
# it comes up), else now.
wine_run net start "$name" >/dev/null 2>&1
wine_run sc query "$name" | tr -d '\r' | grep -q RUNNING || fail "the service is not running"
for _ in $(seq 100); do
  reply=$("$linux/bin/pms-client" --port "$port" --xml '<Request type="ReadGuest"/>' 2>/dev/null) && break
  sleep 0.2
done
echo "$reply" | grep -q '<PoliceResponse' || fail "no police reply from the service: '$reply'"
[ -f "$home/Verbose-police.log" ] || fail "the service with --verbose made no Verbose-police.log"

wine_run net stop "$name" >/dev/null 2>&1 || fail "net stop $name"
log=$(ls "$home"/*.LOG 2>/dev/null | head -1)
[ -n "$log" ] || fail "the service wrote no log"
text=$(iconv -f GBK -t UTF-8 "$log" | tr -d '\r')
start=$(echo "$text" | grep -n '公安接口监听服务器已经启动' | head -1 | cut -d: -f1)
stop=$(echo "$text" | grep -n '接口监听服务器已经停止' | head -1 | cut -d: -f1)
[ -n "$start" ] && [ -n "$stop" ] && [ "$start" -lt "$stop" ] ||
  fail "the log lacks the start line before the stop line:
$text"
grep -q 'Velio No Such Driver' <<<"$text" ||
  fail "the service did not open the store of Store-police.conn:
$text"
"$linux/bin/pms-client" --port "$port" --xml '<Request/>' >/dev/null 2>&1 &&
  fail "the port still answers after the stop"

# The port taken by another program: the service ends STOPPED with the
# service-specific code 1 and the log says why. (Wine's net start says
# "started" whatever the service reports, and a RUNNING before the STOPPED
# would last too short a time to be seen by sc query.)
# (SO_REUSEADDR: the served connection may leave the port in TIME_WAIT.)
python3 -c 'import socket,sys,time
s=socket.socket(); s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.1",int(sys.argv[1]))); s.listen(); print("held", flush=True)
time.sleep(120)' "$port" >"$home/holder.out" &
holder=$!
for _ in $(seq 50); do grep -q held "$home/holder.out" 2>/dev/null && break; sleep 0.1; done
grep -q held "$home/holder.out" || fail "the test could not take port $port itself"
wine_run net start "$name" >/dev/null 2>&1
for _ in $(seq 50); do
  status=$(wine_run sc query "$name" | tr -d '\r')
  grep -q PENDING <<<"$status" || break
  sleep 0.2
done
grep -q STOPPED <<<"$status" && grep -Eq 'SERVICE_EXIT_CODE *: *1( |$)' <<<"$status" &&
  grep -Eq 'WIN32_EXIT_CODE *: *1066( |$)' <<<"$status" ||
  fail "the service on a taken port is not STOPPED with service-specific code 1: $status"
iconv -f GBK -t UTF-8 "$log" | grep -q "police mode, address 127.0.0.1 port $port" ||
  fail "the log does not say why the service stopped"
kill "$holder" 2>/dev/null
holder=

out=$(wine_run "$exe" service uninstall --mode police 2>&1) || fail "service uninstall: $out"
grep -q "removed the service $name" <<<"$out" || fail "service uninstall printed '$out'"
wine_run sc query "$name" >/dev/null 2>&1 && fail "the service is still installed"
[ -e "$home/Store-police.conn" ] && fail "uninstall left Store-police.conn"

# --init-db makes a missing Client.mdb through the Access driver, which Wine
# does not have: the driver is named.
out=$(wine_run "$exe" --init-db --home "$home" 2>&1)
rc=$?
[ $rc -eq 1 ] && grep -q 'the ODBC driver "Microsoft Access Driver.*" is not installed' <<<"$out" ||
  fail "--init-db without the Access driver: exit $rc, '$out'"
echo "windows_service_test: --help, install with every option, refusals, start, one request, stop," \
     "taken port, uninstall, --init-db without the Access driver: passed"
