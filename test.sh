#!/usr/bin/env bash
# Builds h2mon and runs every test: the Linux build, the sanitizer build (with the
# fuzz targets' regression inputs), h2mon's threads and stops under
# ThreadSanitizer, and the Windows build under Wine.
set -euo pipefail
cd "$(dirname "$0")"

# CI has installed everything already, once.
[ -n "${H2_DEPS_INSTALLED:-}" ] || scripts/install-deps.sh
scripts/check-format.sh

cmake --workflow --preset dev
cmake --workflow --preset asan
cmake --workflow --preset tsan

# The Windows tests run under the project's own Wine server; whatever happens,
# it does not outlive the run.
trap 'scripts/wine.sh stop' EXIT
cmake --workflow --preset mingw
