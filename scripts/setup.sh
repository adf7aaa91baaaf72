#!/usr/bin/env bash
# Installs the Debian 12 packages the configurator needs to build, run and test.
# Arguments name further packages a script needs (scripts/fuzz.sh: clang and libFuzzer).
set -euo pipefail
packages=(cmake g++ make qt6-base-dev qt6-serialport-dev qt6-svg-dev qt6-qpa-plugins libgl-dev
          qt6-translations-l10n libqt6sql6-sqlite libqt6sql6-psql postgresql poppler-utils
          dpkg-dev file help2man desktop-file-utils appstream man-db "$@")
missing=()
for p in "${packages[@]}"; do
  dpkg -s "$p" >/dev/null 2>&1 || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  sudo=""
  [ "$(id -u)" -eq 0 ] || sudo="sudo"
  $sudo apt-get update
  DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y "${missing[@]}"
fi
