#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing h2mon needs.
# Does nothing when everything is present already.
set -euo pipefail

packages=(
    cmake ninja-build g++ clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix wine wine64
    valgrind python3
    prometheus prometheus-node-exporter prometheus-alertmanager
    libcli11-dev zlib1g-dev libz-mingw-w64-dev influxdb influxdb-client
    libxml2-utils chromium libpng-dev
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q "install ok installed" || missing+=("$p")
done
[ ${#missing[@]} -eq 0 ] && exit 0

echo "Installing: ${missing[*]}"
sudo=""
[ "$(id -u)" -eq 0 ] || sudo="sudo"
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -q
$sudo apt-get install -y -q --no-install-recommends "${missing[@]}"
