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
#      (x11-main-member.png); that run is then ended;
#   3. the Windows program (build-mingw64, built when missing) under Wine on
#      the same X server, once per mode with VELIO_SCREENSHOT_DIR set: every
#      window saves its picture when it opens (client area and menu bar; there
#      is no window manager to draw frames), each opened through its menu with
#      xdotool; the pictures become windows-<name>.png beside the Qt ones.
#      Wine is told to draw "宋体", "MS Sans Serif" and its menu fonts with the
#      installed Chinese font (in the build's own Wine prefix only).
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

# 3. The Windows program under Wine.
mingw=$root/build-mingw64
exe=$mingw/bin/velio-interface.exe
if [ ! -x /usr/lib/wine/wine64 ]; then
  echo "Wine is not installed: no Windows pictures (scripts/deps.sh test installs it)"
  exit 0
fi
if [ ! -f "$exe" ]; then
  (cd "$root" && cmake --preset mingw64 >/dev/null &&
     cmake --build --preset mingw64 --target velio-interface Reader)
fi
export WINEPREFIX=$mingw/wineprefix WINEARCH=win64 WINELOADER=/usr/lib/wine/wine64 WINEDEBUG=-all
export WINEDLLOVERRIDES='mscoree,mshtml='
"$root/scripts/wine-run.sh" "$WINEPREFIX" win64 --init
for face in '宋体' 'MS Sans Serif' 'Tahoma' 'MS Shell Dlg'; do
  /usr/lib/wine/wine64 reg add 'HKCU\Software\Wine\Fonts\Replacements' /v "$face" \
    /d 'WenQuanYi Zen Hei' /f >/dev/null 2>&1 || true
done
shots=$home/windows
key() { xdotool key --window "$1" --delay 100 "${@:2}" 2>/dev/null; sleep 1; }
# The window of this caption, once it has saved its picture (half a second after opening).
window() { timeout 20 xdotool search --sync --name "^$1\$" 2>/dev/null | tail -1; sleep 1.5; }
answer() {
  local prompt
  prompt=$(window '请输入管理员密码')
  sleep 1
  xdotool type --window "$prompt" --delay 80 qelvan 2>/dev/null
  key "$prompt" Return
}
for mode in member doorlock police; do
  rm -rf "$shots"
  mkdir -p "$shots"
  VELIO_SCREENSHOT_DIR="Z:$shots" /usr/lib/wine/wine64 "$exe" --home "Z:$home" --mode "$mode" \
    >/dev/null 2>&1 &
  app_pid=$!
  main=$(window "TarvikVelio.*")
  sleep 1
  key "$main" alt+h a
  key "$(window '关于 .*')" Return
  if [ "$mode" = member ]; then
    key "$main" alt+t c
    answer
    key "$(window '更改管理员密码')" Escape
    key "$main" alt+t o
    answer
    key "$(window 'Zenta会员卡接口配置')" Escape
  fi
  if [ "$mode" != police ]; then
    key "$main" alt+t t
    key "$(window '测试')" Escape
  fi
  key "$main" alt+F4
  sleep 1
  answer
  wait "$app_pid" || true
  app_pid=""
  python3 - "$shots" "$out" "$mode" <<'EOF'
import os, struct, sys, zlib
shots, out, mode = sys.argv[1:]
names = {'TMainForm': 'main-' + mode, 'TAboutForm': 'about-' + mode,
         'TCheckPasswordForm': 'check-password', 'TChangePasswordForm': 'change-password',
         'TOptionForm': 'member-options', 'TMemberTestForm': 'member-test',
         'TDoorlockTestForm': 'doorlock-test'}
for form, name in names.items():
    src = os.path.join(shots, 'windows-%s.bmp' % form)
    if not os.path.exists(src):
        continue
    data = open(src, 'rb').read()
    offset = struct.unpack_from('<I', data, 10)[0]
    w, h = struct.unpack_from('<ii', data, 18)
    stride = (w * 3 + 3) & ~3
    rows = []
    for y in range(h):  # bottom-up 24-bit BGR
        bgr = data[offset + (h - 1 - y) * stride:][:w * 3]
        rgb = bytearray(bgr)
        rgb[0::3], rgb[2::3] = bgr[2::3], bgr[0::3]
        rows.append(b'\0' + bytes(rgb))
    def chunk(kind, body):
        return (struct.pack('>I', len(body)) + kind + body +
                struct.pack('>I', zlib.crc32(kind + body) & 0xffffffff))
    png = (b'\x89PNG\r\n\x1a\n' + chunk(b'IHDR', struct.pack('>IIBBBBB', w, h, 8, 2, 0, 0, 0)) +
           chunk(b'IDAT', zlib.compress(b''.join(rows), 9)) + chunk(b'IEND', b''))
    path = os.path.join(out, 'windows-%s.png' % name)
    open(path, 'wb').write(png)
    print('saved', path)
EOF
done
"$root/scripts/wine-run.sh" "$WINEPREFIX" win64 --stop
