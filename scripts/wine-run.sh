#!/usr/bin/env bash
# wine-run.sh PREFIX ARCH PROGRAM [ARGS...]
#
# Runs a Windows program of the MinGW builds under Wine, in the Wine prefix
# PREFIX (a folder of the build, never the user's own) of architecture ARCH
# (win32 or win64). The prefix is created on first use (wineboot -i, under a
# lock, so parallel tests wait for one another). No display is used: console
# programs need none. `wine-run.sh PREFIX ARCH --init` only creates the prefix;
# `wine-run.sh PREFIX ARCH --stop` ends the prefix's wineserver.
set -euo pipefail
prefix=$1 arch=$2
shift 2
export WINEPREFIX=$prefix WINEARCH=$arch
export WINEDEBUG=${WINEDEBUG:--all}
# No Mono or Gecko installer dialogs, no window system.
export WINEDLLOVERRIDES=${WINEDLLOVERRIDES:-mscoree,mshtml=}
unset DISPLAY WAYLAND_DISPLAY

# Debian's loaders: /usr/lib/wine/wine (32-bit, package wine32:i386) and
# /usr/lib/wine/wine64 (package wine64).
if [ "$arch" = win64 ]; then
  WINE=/usr/lib/wine/wine64 WINESERVER=/usr/lib/wine/wineserver64
  export WINELOADER=$WINE
else
  WINE=/usr/lib/wine/wine WINESERVER=/usr/lib/wine/wineserver32
fi
[ -x "$WINE" ] || { echo "wine-run.sh: $WINE is not installed (scripts/deps.sh installs it)" >&2; exit 127; }
if [ "$arch" = win32 ] && ! "$WINE" --version >/dev/null 2>&1; then
  echo "wine-run.sh: this system cannot run 32-bit programs ($WINE does not start: the kernel's" \
       "32-bit emulation is off), so 32-bit Wine cannot run" >&2
  exit 126
fi

if [ "${1:-}" = --stop ]; then
  [ -d "$prefix" ] && { "$WINESERVER" -k 2>/dev/null || true; "$WINESERVER" -w 2>/dev/null || true; }
  exit 0
fi

if [ ! -f "$prefix/.velio-ready" ]; then
  mkdir -p "$(dirname "$prefix")"
  exec 9>"$prefix.lock"
  flock 9
  if [ ! -f "$prefix/.velio-ready" ]; then
    rm -rf "$prefix"
    log=$(dirname "$prefix")/wineboot.log
    "$WINE" wineboot -i >"$log" 2>&1 ||
      { echo "wine-run.sh: wineboot failed in $prefix (see $log)" >&2; exit 1; }
    "$WINESERVER" -w 2>/dev/null || true
    touch "$prefix/.velio-ready"
  fi
  flock -u 9
  exec 9>&-
fi
[ "${1:-}" = --init ] && exit 0
exec "$WINE" "$@"
