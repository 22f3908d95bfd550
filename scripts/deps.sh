#!/usr/bin/env bash
# Installs what building, running and testing fwprep needs on Debian 12.
set -euo pipefail
packages=(
  cmake ninja-build g++ clang libclang-rt-14-dev
  qt6-base-dev qt6-base-dev-tools libgl-dev
  fonts-dejavu-core
  xvfb xauth imagemagick xdotool
  mawk gawk perl
  time
  scdoc bash-completion
  build-essential dpkg-dev debhelper fakeroot lintian desktop-file-utils appstream
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  export DEBIAN_FRONTEND=noninteractive
  apt-get update -q
  apt-get install -y -q --no-install-recommends "${missing[@]}"
fi
