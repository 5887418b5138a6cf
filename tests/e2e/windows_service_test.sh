#!/usr/bin/env bash
# windows_service_test.sh BUILD_DIR LINUX_BUILD_DIR
#
# The Windows service under Wine: velio-interfaced.exe service install (police
# mode, a temporary home, a free port), started by the service manager, one
# request answered over loopback TCP (pms-client of the Linux build), stopped
# by the manager (the log then holds the start line, and the stop line after
# it), uninstalled (the manager no longer knows it). Exits non-zero with the
# reason on any failure.
set -uo pipefail
build=$(cd "$1" && pwd)
linux=$(cd "$2" && pwd)
here=$(cd "$(dirname "$0")/../.." && pwd)
case "$build" in *mingw64*) arch=win64 ;; *) arch=win32 ;; esac
prefix=$build/wineprefix
wine_run() { "$here/scripts/wine-run.sh" "$prefix" "$arch" "$@"; }
fail() { echo "windows_service_test: FAILED: $*" >&2; exit 1; }

home=$(mktemp -d /tmp/velio-service-XXXXXX)
trap 'wine_run "$build/bin/velio-interfaced.exe" service uninstall --mode police >/dev/null 2>&1; rm -rf "$home"' EXIT
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
printf '[SysOption]\r\nPolicePortNo=%s\r\n' "$port" >"$home/Option.ini"
name=VelioInterface-police

out=$(wine_run "$build/bin/velio-interfaced.exe" service install --mode police --home "$home") ||
  fail "service install: $out"
[ "$(echo "$out" | tr -d '\r')" = "$name" ] || fail "service install printed '$out'"
key='HKLM\System\CurrentControlSet\Services\'$name
wine_run reg query "$key" /v DisplayName 2>/dev/null | tr -d '\r' | grep -q 'TarvikVelio' ||
  fail "the display name does not carry the mode's title"
wine_run reg query "$key" /v ImagePath 2>/dev/null | tr -d '\r' | grep -q 'service run --mode police --home' ||
  fail "the service's command line lacks its mode and home"

# Started automatically (Wine's service manager starts automatic services as
# it comes up), else now.
wine_run net start "$name" >/dev/null 2>&1
wine_run sc query "$name" | tr -d '\r' | grep -q RUNNING || fail "the service is not running"
for _ in $(seq 100); do
  reply=$("$linux/bin/pms-client" --port "$port" --xml '<Request type="ReadGuest"/>' 2>/dev/null) && break
  sleep 0.2
done
echo "$reply" | grep -q '<PoliceResponse' || fail "no police reply from the service: '$reply'"

wine_run net stop "$name" >/dev/null 2>&1 || fail "net stop $name"
log=$(ls "$home"/*.LOG 2>/dev/null | head -1)
[ -n "$log" ] || fail "the service wrote no log"
text=$(iconv -f GBK -t UTF-8 "$log" | tr -d '\r')
start=$(echo "$text" | grep -n '公安接口监听服务器已经启动' | head -1 | cut -d: -f1)
stop=$(echo "$text" | grep -n '接口监听服务器已经停止' | head -1 | cut -d: -f1)
[ -n "$start" ] && [ -n "$stop" ] && [ "$start" -lt "$stop" ] ||
  fail "the log lacks the start line before the stop line:
$text"
"$linux/bin/pms-client" --port "$port" --xml '<Request/>' >/dev/null 2>&1 &&
  fail "the port still answers after the stop"

wine_run "$build/bin/velio-interfaced.exe" service uninstall --mode police >/dev/null ||
  fail "service uninstall"
wine_run sc query "$name" >/dev/null 2>&1 && fail "the service is still installed"
echo "windows_service_test: install, start, one request, stop, uninstall: passed"
