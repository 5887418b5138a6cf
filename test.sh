#!/usr/bin/env bash
# Installs what is missing (scripts/deps.sh test: the tests' packages too),
# builds everything, tests included, and runs every test: the include check
# (scripts/check-includes.sh), the whole suite in the default and the asan
# builds, the Debian packages' test (scripts/package-test.sh), a short run of
# every fuzz target, the tests labelled concurrency in the tsan
# build, the Windows builds under Wine (scripts/test-windows.sh) and the
# Windows desktop program under Wine on a private Xvfb (scripts/test-windows-gui.sh).
# VELIO_FUZZ_SECONDS sets the fuzz time per target (default 30).
# Exits non-zero on any failure; the last lines name every stage that failed
# and, for the test suites, the tests that failed in it.
set -uo pipefail
cd "$(dirname "$0")"
./scripts/deps.sh test || exit 1

logdir=$(mktemp -d "${TMPDIR:-/tmp}/velio-test.XXXXXX")
failed=()

# Runs one stage, its output shown as it comes and kept for the summary.
stage() {
  local name=$1; shift
  echo "=== ${name} ==="
  "$@" 2>&1 | tee "$logdir/$name.log"
  local rc=${PIPESTATUS[0]}
  if [ "$rc" -ne 0 ]; then failed+=("$name"); fi
  return 0
}

run_preset() {
  local preset=$1 target=$2
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" --target "$target" || return 1
  ctest --preset "$preset"
}

export ASAN_OPTIONS=${ASAN_OPTIONS:-detect_leaks=1:abort_on_error=0}
export UBSAN_OPTIONS=${UBSAN_OPTIONS:-print_stacktrace=1:halt_on_error=1}
export LSAN_OPTIONS=${LSAN_OPTIONS:-suppressions=$PWD/tests/lsan.supp}
export TSAN_OPTIONS=${TSAN_OPTIONS:-halt_on_error=1:second_deadlock_stack=1}

# Every source folder includes only folders below it.
stage includes ./scripts/check-includes.sh
stage default run_preset default all
# The two Debian packages from the default build: lintian, the server package
# alone (nothing of Qt), the service's command line as its user, the desktop
# package, purge, the upgrade from the single package (as root; the machine is
# left as it was).
stage package ./scripts/package-test.sh
stage asan run_preset asan all
# Every fuzz target, built with clang's libFuzzer, for a short run from its seeds.
stage fuzz ./scripts/fuzz.sh "${VELIO_FUZZ_SECONDS:-30}"
stage tsan run_preset tsan velio_concurrency
# The Windows builds under Wine; the end-to-end part uses the default build.
# Where the kernel cannot execute 32-bit programs (some virtual machines), the
# 32-bit unit tests cannot run at all: test-windows.sh says so loudly and runs
# the end-to-end and service tests against the 64-bit build. Set
# VELIO_WINE32=required to make that a failure.
VELIO_WINE32=${VELIO_WINE32:-optional} stage windows ./scripts/test-windows.sh
# The Windows desktop program's windows, driven with xdotool (64-bit, and
# 32-bit where the kernel runs 32-bit programs; the output says which).
stage windows-gui ./scripts/test-windows-gui.sh

if [ ${#failed[@]} -eq 0 ]; then
  echo "test.sh: all presets passed"
  rm -rf "$logdir"
  exit 0
fi
echo
echo "=== summary of what failed (full output above, and in $logdir) ==="
for name in "${failed[@]}"; do
  echo "--- ${name} ---"
  log="$logdir/$name.log"
  if grep -q "The following tests FAILED" "$log"; then
    sed -n '/The following tests FAILED/,$p' "$log" | grep -E '^\s+[0-9]+ - ' | head -40
    # The first lines of each failing test's own report.
    grep -E -A4 '^\S+:[0-9]+: Failure\s?$|wine client error|ERROR: (Address|Thread|Leak)Sanitizer|runtime error:|Tracer caught' \
      "$log" | head -80
  else
    grep -v '^\s*$' "$log" | tail -25
  fi
done
echo "test.sh: FAILED: ${failed[*]}"
exit 1
