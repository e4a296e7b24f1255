#!/usr/bin/env bash
# Runs every fuzzer built in build/asan/fuzz for a bounded time each: the first
# argument or FUZZ_SECONDS seconds, 60 by default. Each starts from its
# committed corpus (tests/fuzz/corpus/<name>/) and writes the new inputs it finds
# to build/asan/fuzz-corpus/<name>/, never to the committed corpus. A finding
# (crash, sanitizer report, leak, slow input) is saved under
# build/asan/fuzz-findings/<name>/ and fails the script; once fixed, copy the
# input into the committed corpus so that ctest replays it from then on.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds="${1:-${FUZZ_SECONDS:-60}}"
max_len="${FUZZ_MAX_LEN:-8192}"
# Absolute paths: a fuzzer may change its working directory (parse_fuzz does).
build=$PWD/build/asan
bin_dir=$build/fuzz

fuzzers=()
if [ -d "$bin_dir" ]; then
    for f in "$bin_dir"/*; do
        [ -f "$f" ] && [ -x "$f" ] && fuzzers+=("$f")
    done
fi
if [ ${#fuzzers[@]} -eq 0 ]; then
    echo "fuzz.sh: no fuzzers in $bin_dir; build them with: cmake --workflow --preset asan" >&2
    exit 1
fi

failed=0
for fuzzer in "${fuzzers[@]}"; do
    name=$(basename "$fuzzer")
    seeds=$PWD/tests/fuzz/corpus/$name
    scratch=$build/fuzz-corpus/$name
    findings=$build/fuzz-findings/$name
    log=$build/fuzz-logs/$name.log
    mkdir -p "$scratch" "$findings" "$(dirname "$log")"
    echo "fuzz.sh: $name for ${seconds}s from $seeds (new inputs: $scratch, log: $log)"
    if "$fuzzer" -max_total_time="$seconds" -max_len="$max_len" -timeout=10 \
        -print_final_stats=1 -artifact_prefix="$findings/" "$scratch" "$seeds" >"$log" 2>&1; then
        grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1 || true
        grep -E '^stat::(number_of_executed_units|average_exec_per_sec|peak_rss_mb)' "$log" || true
        echo "fuzz.sh: $name: no finding"
    else
        failed=1
        tail -n 40 "$log"
        if [ -n "$(ls -A "$findings")" ]; then
            echo "fuzz.sh: $name: FINDING, input saved in $findings/" >&2
        else
            echo "fuzz.sh: $name: the fuzzer failed to run (see $log)" >&2
        fi
    fi
done
exit $failed
