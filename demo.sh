#!/usr/bin/env bash
# Builds h2mon and its maser simulator, then runs h2mon live against the
# simulator in console mode until a key is pressed.
set -euo pipefail
cd "$(dirname "$0")"

# What building needs and no more: a build of its own, of h2mon and h2sim only,
# without the tests, the benchmarks and the companion programs.
scripts/install-deps.sh build
cmake --preset dev -B build/demo -DH2MON_TESTS=OFF -DH2MON_BENCH=OFF -DH2MON_COMPANIONS=OFF >/dev/null
cmake --build build/demo --target h2mon h2sim

sim_out=$(mktemp)
build/demo/h2sim/h2sim >"$sim_out" &
sim_pid=$!
trap 'kill $sim_pid 2>/dev/null; rm -f "$sim_out"' EXIT
for _ in $(seq 50); do
    [ -s "$sim_out" ] && break
    sleep 0.1
done
port=$(head -n1 "$sim_out")

echo "Simulated maser on $port. Press any key to stop."
build/demo/h2mon/h2mon /port:"$port" /fmt:JSON /tty /interval_ms:1000
