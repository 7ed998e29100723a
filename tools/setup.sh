#!/usr/bin/env bash
# Installs every Debian package Telvane needs to build, test and run. Idempotent and
# non-interactive; re-running it only installs what is missing.
set -euo pipefail

packages=(
  build-essential cmake ninja-build pkg-config
  libgtest-dev libgmock-dev libbenchmark-dev
  libusb-1.0-0-dev libcfitsio-dev
  clang-14 libclang-rt-14-dev
  fitsverify python3-astropy
  yabasic bwbasic
  locales-all
)

missing=()
for p in "${packages[@]}"; do
  dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
  exit 0
fi

sudo=""
if [ "$(id -u)" -ne 0 ]; then sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
$sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
