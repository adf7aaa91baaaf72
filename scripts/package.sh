#!/usr/bin/env bash
# Sets up, builds and packs the Debian package; prints the path of
# zart-configurator_<version>-<revision>_<arch>.deb (in ./build, or BUILD_DIR).
# Install it with: sudo apt install ./build/zart-configurator_*.deb
set -euo pipefail
root="$(cd "$(dirname "$0")/.." && pwd)"
"$root/scripts/setup.sh" >&2
"$root/scripts/build.sh" >&2
build="${BUILD_DIR:-$root/build}"
(cd "$build" && cpack -G DEB --config CPackConfig.cmake) >&2
version=$(sed -n 's/^set(CPACK_PACKAGE_VERSION "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
revision=$(sed -n 's/^set(CPACK_DEBIAN_PACKAGE_RELEASE "\(.*\)")$/\1/p' "$build/CPackConfig.cmake")
version+=${revision:+-$revision}
echo "$build/zart-configurator_${version}_$(dpkg --print-architecture).deb"
