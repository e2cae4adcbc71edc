#!/usr/bin/env bash
# Installs the Debian/Ubuntu packages the workbench needs to build, run and test,
# or the packages named on the command line instead.
# Idempotent: packages already present are left alone and apt is not touched.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  qt6-base-dev qt6-base-dev-tools libgl-dev qt6-svg-dev
  libqt6sql6-sqlite libqt6sql6-psql postgresql
  libusb-1.0-0-dev
  libopencv-core-dev
  libgtest-dev libgmock-dev libbenchmark-dev
  umockdev libumockdev-dev
  fonts-liberation fonts-wqy-microhei
  libxcb1-dev
  clang
  poppler-utils
)
# libFuzzer and the sanitizer runtimes: their own package on Debian 12,
# part of clang's common package on older Ubuntu.
if apt-cache show libclang-rt-dev >/dev/null 2>&1; then
  packages+=(libclang-rt-dev)
fi
if [ $# -gt 0 ]; then
  packages=("$@")
fi

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed'; then
    missing+=("$p")
  fi
done

if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
echo "Installing: ${missing[*]}"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
