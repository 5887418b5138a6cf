#!/usr/bin/env bash
# Installs the Debian packages that are missing: as root, else through sudo,
# else through su (which asks for root's password; a plain Debian has no sudo):
#
#   scripts/deps.sh run    what building and running the programs needs (./run.sh):
#                          the compiler, CMake and Ninja, the libraries the
#                          programs link; Qt and the Chinese font only where a
#                          display is available (DISPLAY or WAYLAND_DISPLAY),
#                          since only then does ./run.sh start the desktop program
#   scripts/deps.sh test   (the default) all of that and what the tests need
#                          (./test.sh): Qt, GoogleTest, the fuzzing compiler, the
#                          PC/SC daemon and virtual reader, the package tools, the
#                          database servers and ODBC drivers of the door-lock store's
#                          tests, the Windows cross-compilers and Wine with 32-bit
#                          libraries
#
# --print names the packages of the set (one a line) without installing them.
set -euo pipefail
set_name="test"
print=
for arg in "$@"; do
  case "$arg" in
    run | test) set_name=$arg ;;
    --print) print=yes ;;
    *)
      echo "deps.sh: unknown argument $arg (run, test, --print)" >&2
      exit 2
      ;;
  esac
done

# Building and running the programs.
RUN=(cmake ninja-build g++ pkg-config
     libasio-dev libcli11-dev libsqlite3-dev unixodbc-dev libpcsclite-dev)
# The desktop program.
DESKTOP=(qt6-base-dev libgl-dev fonts-wqy-zenhei)
# The tests, benchmarks, fuzz targets, the package and the Windows builds.
TEST=(sqlite3 libjpeg-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang xvfb xauth xdotool x11-utils
      pcscd vsmartcard-vpcd strace
      dpkg-dev help2man patchelf lintian adduser systemd iproute2
      # The door-lock record store through ODBC, tested against the SQLite ODBC
      # driver and against PostgreSQL and MariaDB servers that the tests start
      # themselves (tests/support/db-server.sh), each in a temporary folder.
      odbcinst libsqliteodbc
      postgresql odbc-postgresql mariadb-server odbc-mariadb
      # The Windows builds (MinGW-w64, POSIX threads), tested under Wine; the
      # 32-bit Wine's ODBC reaches the host's 32-bit unixODBC and SQLite driver.
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      wine wine32:i386 wine64 libodbc2:i386 libsqliteodbc:i386 zip
      # The Windows window test reads the form table and its dump with Python.
      python3)

PKGS=("${RUN[@]}")
if [ "$set_name" = test ]; then
  PKGS+=("${DESKTOP[@]}" "${TEST[@]}")
elif [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  PKGS+=("${DESKTOP[@]}")
fi
if [ -n "$print" ]; then
  printf '%s\n' "${PKGS[@]}"
  exit 0
fi

as_root() {
  if [ "$(id -u)" -eq 0 ]; then
    "$@"
  elif command -v sudo > /dev/null; then
    sudo "$@"
  else
    echo "deps.sh: $1 needs root: su asks for root's password" >&2
    # shellcheck disable=SC2016 # expanded by root's shell: the command and its arguments
    su root -c 'exec "$0" "$@"' -- "$@"
  fi
}
# wine32 and the 32-bit ODBC pieces come from the i386 architecture.
if [ "$set_name" = test ] && ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (32-bit Wine)"
  as_root dpkg --add-architecture i386
fi
# A mirror that stays mid-sync serves a package index that is complete but
# not the one its signed Release file names ("File has unexpected size"), and
# apt leaves that index out: on a fresh machine nothing of it can then be
# installed (the i386 libraries, say, which must match the amd64 versions).
# For each such index that apt has no copy of, this takes the index as the
# mirror serves it, says so loudly, and puts it where apt keeps its lists;
# the packages themselves are still checked against the hashes it lists.
use_served_indexes() {
  local url name tmp
  # Each line: E: Failed to fetch URL  File has unexpected size (...)
  grep -o 'Failed to fetch [^ ]*/dists/[^ ]*/Packages\(\.[a-z0-9]*\)\?  File has unexpected size' "$1" |
    awk '{print $4}' | sort -u |
    while read -r url; do
      name=${url#*://}
      name=${name%.xz}; name=${name%.gz}; name=${name%.lz4}; name=${name%.bz2}
      name=/var/lib/apt/lists/${name//\//_}
      if compgen -G "${name}*" > /dev/null; then continue; fi
      tmp=$(mktemp --suffix=".${url##*.}")
      if /usr/lib/apt/apt-helper download-file "$url" "$tmp" > /dev/null &&
          /usr/lib/apt/apt-helper cat-file "$tmp" > "$tmp.list" &&
          [ "$(head -c 9 "$tmp.list")" = "Package: " ]; then
        echo "deps.sh: WARNING: $url does not match the mirror's Release file (mirror mid-sync);" \
             "using the index as served, so that the packages it lists can be installed" >&2
        as_root install -m 644 "$tmp.list" "$name"
      else
        echo "deps.sh: $url could not be read as a package index; left out" >&2
      fi
      rm -f "$tmp" "$tmp.list"
    done
}
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  # A mirror caught mid-sync fails one index now and then: try again, and
  # when it still fails go on with the indexes that came, and with those the
  # mirror serves mid-sync (use_served_indexes); the install says whether
  # what is missing can be had.
  update_log=$(mktemp)
  trap 'rm -f "$update_log"' EXIT
  for try in 1 2 3 4; do
    if as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q \
        2>&1 | tee "$update_log"; then
      break
    fi
    if [ "$try" -eq 4 ]; then
      echo "deps.sh: apt-get update failed 4 times; installing from the indexes it has" >&2
      use_served_indexes "$update_log"
    else
      echo "deps.sh: apt-get update failed; trying again in $((try * 15)) s" >&2
      sleep $((try * 15))
    fi
  done
  as_root env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends "${missing[@]}"
fi
