#!/usr/bin/env bash
# Installs what Zolt needs to build, test and run on Debian 12.
set -euo pipefail
SUDO=""
if [ "$(id -u)" -ne 0 ]; then SUDO="sudo"; fi
PACKAGES=(
  cmake g++ make pkg-config clang libclang-rt-14-dev
  libgtest-dev libgmock-dev libbenchmark-dev libeigen3-dev
  freeglut3-dev libglu1-mesa-dev libgl1-mesa-dev libgl1-mesa-dri libglew-dev
  libimgui-dev libstb-dev libxxhash-dev
  libsuitesparse-dev liblapack-dev libopenblas0-serial tetgen
  xvfb xauth x11-utils x11-apps xdotool imagemagick
)
missing=()
for p in "${PACKAGES[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
if [ ${#missing[@]} -gt 0 ]; then
  $SUDO apt-get update
  DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y --no-install-recommends "${missing[@]}"
fi
