#!/usr/bin/env bash
# Installs what is missing for the programs (scripts/deps.sh run), builds the
# programs and reader libraries only (no tests, benchmarks or fuzz targets:
# VELIO_BUILD_TESTS=OFF; ./test.sh builds those in the same build/ folder), and
# starts the product on its embedded defaults: the desktop program when a
# display is available, the headless server otherwise. Extra arguments go to
# the program (for example --mode police).
set -euo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh run
cmake --preset default -DVELIO_BUILD_TESTS=OFF >/dev/null
cmake --build --preset default
# A fresh install works at once: lay a card on the simulated reader when none is there.
if [ -z "${VELIO_READER_LIBRARY:-}" ]; then
  simdir=${VELIO_READER_SIM_DIR:-build/bin/ReaderSim}
  [ -f "$simdir/card.bin" ] || build/bin/cardsim new
fi
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ] && [ -x build/bin/velio-interface ]; then
  exec build/bin/velio-interface "$@"
fi
exec build/bin/velio-interfaced "$@"
