#!/usr/bin/env bash
# Builds the fuzz targets of tests/fuzz with clang's libFuzzer, AddressSanitizer
# and UndefinedBehaviorSanitizer into ./build-fuzz (override with BUILD_DIR) and
# runs each for SECONDS (default 60), one after the other, starting from its
# seed corpus in tests/fuzz/corpus/<target>. Prints one line per target with its
# executions and whether it found anything; exits non-zero on any finding.
# A finding's input is kept in build-fuzz/findings/<target>/ with the log beside it.
# Further arguments are target names to run instead of all of them.
# FUZZ_SEED=N fixes libFuzzer's random seed, so that a run from a clean corpus
# tries the same inputs each time (CI does this); by default each run differs.
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-fuzz}"
seconds="${1:-60}"
shift || true
"$root/scripts/setup.sh" clang libclang-rt-14-dev
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
CC=clang CXX=clang++ cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZART_FUZZ=ON \
  "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)" --target zart_fuzz >/dev/null

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  for bin in "$build"/fuzz/fuzz_*; do targets+=("$(basename "$bin")"); done
fi

# No allocation stacks and a small quarantine: the allocator is most of the cost
# of a run. Re-run a finding with build-fuzz/fuzz/<target> <input> for the full report.
export ASAN_OPTIONS="abort_on_error=1:detect_leaks=1:malloc_context_size=0:max_malloc_fill_size=0:quarantine_size_mb=16"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
export QT_QPA_PLATFORM=offscreen
failed=0
for t in "${targets[@]}"; do
  seeds="$root/tests/fuzz/corpus/$t"
  corpus="$build/corpus/$t"
  findings="$build/findings/$t"
  log="$build/logs/$t.log"
  mkdir -p "$corpus" "$findings" "$(dirname "$log")"
  status=0
  # The grown corpus of earlier runs is kept; the seeds are only read.
  "$build/fuzz/$t" ${FUZZ_SEED:+-seed="$FUZZ_SEED"} -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 \
    -artifact_prefix="$findings/" "$corpus" "$seeds" >"$log" 2>&1 || status=$?
  execs="$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -1)"
  if [ "$status" -ne 0 ]; then
    failed=1
    input="$(sed -n 's/.*Test unit written to *//p' "$log" | tail -1)"
    printf '%-14s %12s executions  FINDING %s (log: %s)\n' "$t" "${execs:-?}" "${input:-exit status $status}" "$log"
  else
    printf '%-14s %12s executions  nothing found\n' "$t" "${execs:-?}"
  fi
done
exit "$failed"
