#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the whole suite in the
# default and the asan builds, the Debian package's test (scripts/package-test.sh),
# a short run of every fuzz target, the tests labelled concurrency in the tsan
# build, and the Windows builds under Wine (scripts/test-windows.sh).
# VELIO_FUZZ_SECONDS sets the fuzz time per target (default 30).
# Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh || exit 1

status=0
run_preset() {
  local preset=$1 target=$2
  echo "=== ${preset}: configure and build ==="
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" --target "$target" || return 1
  echo "=== ${preset}: tests ==="
  ctest --preset "$preset"
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

run_preset default all || status=1
# The Debian package from the default build: lintian, install, the service's
# command line as its user, purge (as root; the machine is left as it was).
echo "=== package: build, lintian, install, run, purge ==="
./scripts/package-test.sh || status=1
run_preset asan all || status=1
# Every fuzz target, built with clang's libFuzzer, for a short run from its seeds.
echo "=== fuzz: ${VELIO_FUZZ_SECONDS:-30}s per target ==="
./scripts/fuzz.sh "${VELIO_FUZZ_SECONDS:-30}" || status=1
run_preset tsan velio_concurrency || status=1
# The Windows builds under Wine; the end-to-end part uses the default build.
# Where the kernel cannot execute 32-bit programs (some virtual machines), the
# 32-bit unit tests cannot run at all: test-windows.sh says so loudly and runs
# the end-to-end and service tests against the 64-bit build. Set
# VELIO_WINE32=required to make that a failure.
VELIO_WINE32=${VELIO_WINE32:-optional} ./scripts/test-windows.sh || status=1

if [ $status -ne 0 ]; then
  echo "test.sh: FAILED"
else
  echo "test.sh: all presets passed"
fi
exit $status
