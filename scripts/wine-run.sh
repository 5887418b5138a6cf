#!/usr/bin/env bash
# wine-run.sh PREFIX ARCH PROGRAM [ARGS...]
#
# Runs a Windows program of the MinGW builds under Wine, in the Wine prefix
# PREFIX (a folder of the build, never the user's own) of architecture ARCH
# (win32 or win64). The prefix is created on first use (wineboot -i, under a
# lock, so parallel tests wait for one another). No display is used: console
# programs need none. `wine-run.sh PREFIX ARCH --init` creates the prefix and
# starts a wineserver that stays until `wine-run.sh PREFIX ARCH --stop` ends it.
# `wine-run.sh PREFIX ARCH --retry PROGRAM [ARGS...]` starts the program once
# more when Wine itself failed to start it (see below).
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
if [ "${1:-}" = --init ]; then
  # One wineserver for the whole run, until --stop. Left to itself the server
  # ends a few seconds after its last program, and a program starting in that
  # moment (the next test) finds it gone: "recvmsg: Connection reset by peer".
  # (It exits at once, non-zero, when the prefix's server already runs.)
  "$WINESERVER" -p </dev/null >/dev/null 2>&1 9>&- || true
  exit 0
fi
if [ "${1:-}" != --retry ]; then
  exec "$WINE" "$@"
fi
# --retry (the test programs): a program that Wine could not start ran no code
# of ours. Two signs of it: its server connection failed ("wine client error:
# ... recvmsg"), or it ended non-zero without a byte on either stream (every
# test program writes its banner first thing). It is started once more, and
# said so. Its standard error is kept back until it ends to look for that, so this
# form is not for the daemon, whose signals and stderr the end-to-end tests
# need first-hand.
shift
out=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
err=$(mktemp "${TMPDIR:-/tmp}/wine-run.XXXXXX")
trap 'rm -f "$out" "$err"' EXIT
for attempt in 1 2; do
  # Standard output goes straight through (a test that times out still shows
  # how far it came) and into $out to see whether there was any.
  set +e
  "$WINE" "$@" 2>"$err" | tee "$out"
  rc=${PIPESTATUS[0]}
  set -e
  failed=$(grep -m1 '^wine client error' "$err" || true)
  if [ "$rc" -ne 0 ] && [ -z "$failed" ] && [ ! -s "$out" ] && [ ! -s "$err" ]; then
    failed="exit code $rc and no output"
  fi
  if [ "$rc" -ne 0 ] && [ "$attempt" -eq 1 ] && [ -n "$failed" ]; then
    echo "wine-run.sh: Wine did not start $1 ($failed); starting it again" >&2
    continue
  fi
  cat "$err" >&2
  [ "$rc" -eq 0 ] || [ -s "$out" ] || [ -s "$err" ] ||
    echo "wine-run.sh: $1 ended with exit code $rc and wrote nothing" >&2
  exit "$rc"
done
