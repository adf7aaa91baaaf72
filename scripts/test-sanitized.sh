#!/usr/bin/env bash
# Sets up, builds everything with clang, AddressSanitizer and UndefinedBehaviorSanitizer
# into ./build-asan (override with BUILD_DIR) and runs every test there, headless.
# With ./scripts/test.sh (GCC) this compiles the whole tree with both compilers.
# Any finding of either sanitizer fails the test that ran into it.
# Extra arguments go to ctest (e.g. -R 'tst_crc|tst_Passport').
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build-asan}"
"$root/scripts/setup.sh" clang libclang-rt-14-dev
# The compiler is named on the command line, so a build folder configured
# earlier with another compiler is configured afresh.
launcher=()
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_BUILD_TYPE=RelWithDebInfo -DZART_SANITIZE=ON "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
export QT_QPA_PLATFORM=offscreen
export ASAN_OPTIONS="detect_leaks=1:abort_on_error=1:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1"
export UBSAN_OPTIONS="print_stacktrace=1:halt_on_error=1"
cd "$build"
ctest --output-on-failure -j 2 "$@"
