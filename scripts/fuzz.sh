#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (the "fuzz" preset) and runs each for
# the given number of seconds (default 60), starting from its seed corpus in
# fuzz/corpus/<name>/. New inputs go to build-fuzz/corpus/<name>/; findings to
# fuzz/findings/. Exits non-zero when a target found a crash.
set -uo pipefail
cd "$(dirname "$0")/.."
SECONDS_EACH=${1:-60}
./scripts/deps.sh >/dev/null
targets=$(for f in fuzz/fuzz_*.cpp; do basename "$f" .cpp; done)
# shellcheck disable=SC2086
cmake --preset fuzz >/dev/null && cmake --build --preset fuzz --target $targets || exit 1
mkdir -p fuzz/findings
status=0
for bin in build-fuzz/bin/fuzz_*; do
  name=$(basename "$bin"); corpus=${name#fuzz_}
  work=build-fuzz/corpus/$corpus
  mkdir -p "$work"
  echo "=== $name: ${SECONDS_EACH}s ==="
  log=build-fuzz/$name.log
  if "$bin" "$work" "fuzz/corpus/$corpus" -max_total_time="$SECONDS_EACH" \
       -print_final_stats=1 -artifact_prefix="fuzz/findings/${name}-" >"$log" 2>&1; then
    # The final coverage line and the run count.
    grep -E 'DONE|^Done|number_of_executed_units' "$log"
  else
    tail -n 40 "$log"
    status=1
  fi
done
exit $status
