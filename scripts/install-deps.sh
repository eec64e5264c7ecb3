#!/usr/bin/env bash
# Installs the Debian packages Vardex needs to build, run and test.
# Asks apt only for what is missing, and runs `apt-get update` once first.
set -euo pipefail
packages=(
  cmake ninja-build g++ pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev
  zlib1g-dev libdeflate-dev libgtest-dev libgmock-dev libbenchmark-dev
  clang libclang-rt-dev
  libsqlite3-dev sqlite3
  pxlib-dev zip unzip p7zip-full dbus libglib2.0-bin socat xvfb xauth
  desktop-file-utils scdoc appstream man-db dpkg-dev
)
missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0
echo "Installing: ${missing[*]}"
SUDO=""
[ "$(id -u)" -eq 0 ] || SUDO="sudo"
$SUDO apt-get update -qq
DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq --no-install-recommends "${missing[@]}"
