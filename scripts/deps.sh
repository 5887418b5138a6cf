#!/usr/bin/env bash
# Installs the Debian packages the build, the programs and the tests need,
# when any is missing. Uses sudo when not root.
set -euo pipefail
PKGS=(cmake ninja-build g++ pkg-config
      qt6-base-dev libgl-dev libasio-dev libcli11-dev libsqlite3-dev sqlite3 libjpeg-dev
      libgtest-dev libgmock-dev googletest libbenchmark-dev
      clang fonts-wqy-zenhei xvfb xauth xdotool x11-utils
      pcscd libpcsclite-dev vsmartcard-vpcd
      dpkg-dev help2man patchelf lintian adduser systemd iproute2)
PKGS+=(strace)  # bench/server_syscalls.sh counts system calls per request
missing=()
for p in "${PKGS[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  echo "Installing: ${missing[*]}"
  SUDO=""
  [ "$(id -u)" -ne 0 ] && SUDO="sudo"
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get update -q
  $SUDO env DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
