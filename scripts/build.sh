#!/usr/bin/env bash
# Configures and builds into ./build (override with BUILD_DIR).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
build="${BUILD_DIR:-$root/build}"
launcher=()
# ccache, where installed, makes a second build of the same sources (another
# work tree, a clean clone) take minutes instead of a quarter of an hour.
if command -v ccache >/dev/null 2>&1; then
  export CCACHE_BASEDIR="$root"
  launcher=(-DCMAKE_CXX_COMPILER_LAUNCHER=ccache)
fi
cmake -S "$root" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo "${launcher[@]}" >/dev/null
cmake --build "$build" -j "$(nproc)"
