#!/usr/bin/env bash
# Takes screenshots of the desktop program's windows into docs/screenshots/.
#
#   scripts/screenshots.sh [build-dir]      (default: build)
#
# Builds velio-interface when it is missing, starts a private X server (Xvfb),
# and runs the program in a temporary home:
#   1. once per interface mode with VELIO_SCREENSHOT_DIR set: the program saves
#      its own rendering of the main window, the about box and the dialogs and
#      test windows of that mode, then closes itself through the password prompt;
#   2. once more plainly, to take a real X screenshot of the main window
#      (x11-main-member.png); that run is then ended.
set -euo pipefail

root=$(cd "$(dirname "$0")/.." && pwd)
build=${1:-$root/build}
out=$root/docs/screenshots
program=$build/bin/velio-interface

need=()
command -v Xvfb >/dev/null || need+=(xvfb)
command -v import >/dev/null && [ -x /usr/bin/import ] || need+=(imagemagick)
command -v xdotool >/dev/null || need+=(xdotool)
if [ ${#need[@]} -gt 0 ]; then
  echo "Installing: ${need[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${need[@]}"
fi

if [ ! -x "$program" ]; then
  cmake -S "$root" -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo
  cmake --build "$build" -j2 --target velio-interface
fi

home=$(mktemp -d)
# Port 0: each run listens on a free port, never on a port in use elsewhere.
printf '[SysOption]\r\nDoorlockPortNo=0\r\nPolicePortNo=0\r\nMemberPortNo=0\r\n' >"$home/Option.ini"
xvfb_pid=""
app_pid=""
cleanup() {
  [ -n "$app_pid" ] && kill "$app_pid" 2>/dev/null || true
  [ -n "$xvfb_pid" ] && kill "$xvfb_pid" 2>/dev/null || true
  rm -rf "$home"
}
trap cleanup EXIT

# A free display number.
display=99
while [ -e "/tmp/.X11-unix/X$display" ] || [ -e "/tmp/.X$display-lock" ]; do
  display=$((display + 1))
done
Xvfb ":$display" -screen 0 1024x640x24 -nolisten tcp >/dev/null 2>&1 &
xvfb_pid=$!
for _ in $(seq 1 100); do
  [ -e "/tmp/.X11-unix/X$display" ] && break
  sleep 0.1
done
export DISPLAY=":$display"
export QT_QPA_PLATFORM=xcb

mkdir -p "$out"
for mode in member doorlock police; do
  VELIO_SCREENSHOT_DIR=$out timeout 60 "$program" --home "$home" --mode "$mode"
done

"$program" --home "$home" --mode member >/dev/null 2>&1 &
app_pid=$!
window=$(timeout 20 xdotool search --sync --onlyvisible --name 'TarvikVelio' | head -n 1)
sleep 1  # let it paint
import -window root "$out/x11-main-member.png"
echo "saved $out/x11-main-member.png (window $window)"
kill "$app_pid"
wait "$app_pid" 2>/dev/null || true
app_pid=""
