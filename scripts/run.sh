#!/usr/bin/env bash
# Sets up, builds and starts the configurator with a simulated sensor attached.
# Extra arguments go to the configurator (e.g. --port /dev/ttyUSB0 instead of the demo).
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh"
"$root/scripts/build.sh"
build="${BUILD_DIR:-$root/build}"
if [ $# -eq 0 ]; then set -- --demo; fi
exec "$build/bin/zart-configurator" "$@"
