#!/usr/bin/env bash
# Installs the Debian packages the build, the programs and the tests need,
# when any is missing. Uses sudo when not root.
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config
      qt6-base-dev libgl-dev libasio-dev libcli11-dev libsqlite3-dev sqlite3 libjpeg-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang fonts-wqy-zenhei xvfb xauth xdotool x11-utils
      pcscd libpcsclite-dev vsmartcard-vpcd strace
      dpkg-dev help2man patchelf lintian adduser systemd iproute2
      # The door-lock record store through ODBC, tested against the SQLite ODBC driver.
      unixodbc-dev odbcinst libsqliteodbc
      # The Windows builds (MinGW-w64, POSIX threads), tested under Wine; the
      # 32-bit Wine's ODBC reaches the host's 32-bit unixODBC and SQLite driver.
      g++-mingw-w64-i686-posix g++-mingw-w64-x86-64-posix
      wine wine32:i386 wine64 libodbc2:i386 libsqliteodbc:i386 zip)
SUDO=""
[ "$(id -u)" -ne 0 ] && SUDO="sudo"
# wine32 and the 32-bit ODBC pieces come from the i386 architecture.
if ! dpkg --print-foreign-architectures | grep -qx i386; then
  echo "Adding the i386 architecture (32-bit Wine)"
  $SUDO dpkg --add-architecture i386
fi
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=900 install -y -q \
    --no-install-recommends "${missing[@]}"
fi
