#!/usr/bin/env bash
# test-windows.sh [mingw32|mingw64|all]   (default: all)
#
# The Windows builds, tested under Wine, each in a fresh Wine prefix of its
# build folder (build-mingw32/wineprefix, build-mingw64/wineprefix):
#   mingw32: build; the unit tests under 32-bit Wine; the end-to-end tests of
#            the Linux build (build/, made by ./test.sh's default stage or
#            built here) driving velio-interfaced.exe over loopback TCP in all
#            three modes; the Windows service (install with every option
#            and its command line read back, refusals, start, one request,
#            stop, a taken port, uninstall) and --init-db without the
#            Access driver;
#   mingw64: build; the unit tests under 64-bit Wine.
# Where the system cannot run 32-bit programs, the mingw32 tests fail with that
# reason (VELIO_WINE32=optional accepts it) and the end-to-end and service
# tests run against the mingw64 build. Wine's servers are ended at the end.
# Exits non-zero on any failure.
set -uo pipefail
cd "$(dirname "$0")/.."
./scripts/deps.sh || exit 1
which=${1:-all}
status=0
export WINEDEBUG=-all
unset DISPLAY WAYLAND_DISPLAY

# The end-to-end tests whose checks are Linux's own are left to the Linux build:
# the first member test names libReader.so and SQLite's "unable to open
# database file"; the door-lock tests below arrange rows in SQLite's native
# day numbers or check --init-db's SQLite messages, while the Windows program
# stores through ODBC (VELIO_E2E_STORE: the host's SQLite ODBC driver). The
# --reader-library, --verbose and --home card tests compare Linux paths (a
# Linux libReader.so, "/" separators) that the Windows program names its way;
# SIGHUP has no Windows counterpart. The shared PostgreSQL/MariaDB store tests
# give the servers a --store of their own (the Windows run already gives one)
# and need those engines' Windows ODBC drivers, which Wine has not.
E2E_FILTER=${VELIO_WINE_E2E_FILTER:-'-Engines/DoorlockSharedStoreE2e.*:PoliceE2e.StopsOnSigintAndSighupLikeOnSigterm:MemberE2e.ReaderLibraryOptionWinsOverTheEnvironment:MemberE2e.VerboseSaysWhyOnStderrOnly:MemberHomes.TheSimulatedCardFollowsTheHome:MemberE2e.WritesThenReadsACardOverTcp:DoorlockE2e.CopyCardForAStoredRoomReusesItsTime:DoorlockE2e.MissingClientDbIsLoggedAndRepliesStayTheSame:DoorlockE2e.InitDbIsIdempotentAndKeepsRows'}

# True when this system runs 32-bit x86 programs (32-bit Wine needs it; some
# virtual machines' kernels have the 32-bit emulation switched off).
runs_32bit() {
  [ -x /usr/lib/wine/wine ] && /usr/lib/wine/wine --version >/dev/null 2>&1
}

# Builds a preset; with arch, runs its unit tests under Wine.
build_and_unit_test() {
  local preset=$1 arch=${2:-}
  echo "=== $preset: configure and build ==="
  cmake --preset "$preset" >/dev/null || return 1
  cmake --build --preset "$preset" || return 1
  [ -n "$arch" ] || return 0
  echo "=== $preset: Wine prefix ==="
  scripts/wine-run.sh "$PWD/build-$preset/wineprefix" "$arch" --init || return 1
  echo "=== $preset: unit tests under Wine ($arch) ==="
  local exclude=()
  if [ "$(id -u)" -eq 0 ]; then
    # Wine run by root writes files whose read-only attribute is set (root
    # writes any file), so the read-only-file tests cannot hold there.
    echo "*** $preset: not run under Wine as root (read-only attribute not enforced):" \
         "ReadOnlyFileIsLeftUnchanged SaveToReadOnlyFileFailsWithFullPath ReadOnlyFileFailsAndStaysIntact" >&2
    exclude=(-E 'ReadOnlyFileIsLeftUnchanged|SaveToReadOnlyFileFailsWithFullPath|ReadOnlyFileFailsAndStaysIntact')
  fi
  # cardsim's own test passes quoted arguments through popen, which on Windows
  # goes through cmd.exe and its quoting; cardsim is driven by the member tests.
  # The police concurrency test's own writer renames a file over one that a
  # reader thread holds open, which Wine refuses.
  echo "*** $preset: not run under Wine: ReaderSimTest.CardSimWritesShowsAndRemoves (POSIX" \
       "shell quoting), PoliceConcurrencyTest.RepliesAreWholeGuestsWhileTheFileChanges" \
       "(rename over an open file)" >&2
  local wine_only='CardSimWritesShowsAndRemoves|RepliesAreWholeGuestsWhileTheFileChanges'
  if [ ${#exclude[@]} -eq 0 ]; then
    exclude=(-E "$wine_only")
  else
    exclude[1]="${exclude[1]}|$wine_only"
  fi
  ctest --preset "$preset" "${exclude[@]}"
}

# The end-to-end tests of the Linux build against the preset's
# velio-interfaced.exe, then the service test.
e2e_and_service() {
  local preset=$1 arch=$2 rc=0
  local prefix=$PWD/build-$preset/wineprefix
  echo "=== $preset: end-to-end tests against velio-interfaced.exe under Wine ($arch) ==="
  cmake --build --preset default --target e2e_tests e2e_doorlock_police_tests pms-client cardsim \
    || return 1
  local launcher="$PWD/scripts/wine-run.sh $prefix $arch $PWD/build-$preset/bin/velio-interfaced.exe"
  for t in e2e_tests e2e_doorlock_police_tests; do
    VELIO_E2E_DAEMON=$launcher VELIO_E2E_STORE='Driver=SQLite3;Database={home}/Client.db;' \
      build/bin/$t --gtest_filter="$E2E_FILTER" || rc=1
  done
  echo "=== $preset: the Windows service under Wine ($arch) ==="
  tests/e2e/windows_service_test.sh "build-$preset" build || rc=1
  return $rc
}

[ -f build/CMakeCache.txt ] || cmake --preset default >/dev/null || status=1
e2e_preset=
if [ "$which" = all ] || [ "$which" = mingw32 ]; then
  if runs_32bit; then
    build_and_unit_test mingw32 win32 || status=1
    e2e_preset=mingw32
  else
    build_and_unit_test mingw32 || status=1
    echo "*** mingw32: the unit tests CANNOT RUN here: this system does not execute 32-bit" \
         "programs (the kernel's 32-bit emulation is off), so 32-bit Wine cannot start." \
         "The end-to-end and service tests run against the 64-bit build instead." >&2
    # VELIO_WINE32=optional accepts that (a machine whose kernel cannot be changed).
    [ "${VELIO_WINE32:-required}" = optional ] || status=1
  fi
fi
if [ "$which" = all ] || [ "$which" = mingw64 ]; then
  build_and_unit_test mingw64 win64 || status=1
  [ -z "$e2e_preset" ] && e2e_preset=mingw64
fi
if [ -n "$e2e_preset" ]; then
  arch=win32
  [ "$e2e_preset" = mingw64 ] && arch=win64
  e2e_and_service "$e2e_preset" "$arch" || status=1
fi
for p in mingw32:win32 mingw64:win64; do
  [ -d "build-${p%%:*}/wineprefix" ] &&
    scripts/wine-run.sh "$PWD/build-${p%%:*}/wineprefix" "${p##*:}" --stop 2>/dev/null
done
[ $status -eq 0 ] && echo "test-windows.sh: passed" || echo "test-windows.sh: FAILED"
exit $status
