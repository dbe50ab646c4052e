#!/usr/bin/env bash
# Installs the Debian 12 packages Quenda needs to build, test, benchmark and fuzz.
# Idempotent: packages already present are not touched and apt is not called at all.
set -euo pipefail

packages=(
  # toolchain
  build-essential cmake ninja-build ccache pkg-config clang-14 libclang-rt-14-dev libfuzzer-14-dev
  # libraries
  qt6-base-dev qt6-base-dev-tools qt6-svg-dev qt6-image-formats-plugins libqt6svg6
  libsqlite3-dev sqlite3 libsimdjson-dev libzip-dev zlib1g-dev libicu-dev libharfbuzz-dev
  libheif-dev libheif-examples
  # fonts
  fonts-lmodern fonts-manrope fonts-dejavu-core
  # tests and benchmarks
  libgtest-dev libgmock-dev googletest libbenchmark-dev zip unzip
)

missing=()
for p in "${packages[@]}"; do
  if ! dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed"; then
    missing+=("$p")
  fi
done
[ ${#missing[@]} -eq 0 ] && exit 0

sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
echo "Installing: ${missing[*]}"
$sudo apt-get update -qq
DEBIAN_FRONTEND=noninteractive $sudo apt-get install -y -qq --no-install-recommends "${missing[@]}"
