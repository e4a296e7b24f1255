#!/usr/bin/env bash
# Installs, from Debian's packages, what building and testing h2mon needs.
# Does nothing when everything is present already.
#
#   scripts/install-deps.sh          everything: the tests of every build too
#   scripts/install-deps.sh build    only what building every program for Linux needs
set -euo pipefail

# Building every program for Linux: h2mon and h2sim need a compiler and CMake
# only; h2export and h2plot also CLI11 and zlib.
build_packages=(
    cmake ninja-build g++
    libcli11-dev zlib1g-dev
)
# Everything else the tests need: the sanitizer build, GoogleTest, benchmarks,
# the Windows build and Wine, valgrind, the format check, Prometheus; the
# Debian package, its man pages and the clean Debian it is tested on.
test_packages=(
    clang libclang-rt-14-dev
    googletest libgtest-dev libgmock-dev libbenchmark-dev
    g++-mingw-w64-x86-64-posix wine wine64
    valgrind python3 clang-format
    prometheus prometheus-node-exporter prometheus-alertmanager
    libz-mingw-w64-dev influxdb influxdb-client
    libxml2-utils chromium libpng-dev
    debhelper dpkg-dev lintian mandoc groff mmdebstrap systemd-container
)

case "${1:-all}" in
build) packages=("${build_packages[@]}") ;;
all) packages=("${build_packages[@]}" "${test_packages[@]}") ;;
*)
    echo "usage: $0 [build|all]" >&2
    exit 2
    ;;
esac

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
