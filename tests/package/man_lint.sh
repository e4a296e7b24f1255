#!/usr/bin/env bash
# Every man page without a warning from mandoc's and groff's checks.
set -euo pipefail
status=0
for page in "$1"/*.[1-8]; do
    out=$( { mandoc -T lint -W warning "$page"; groff -ww -z -man "$page"; } 2>&1) || status=1
    if [ -n "$out" ]; then
        echo "$out"
        status=1
    fi
done
exit $status
