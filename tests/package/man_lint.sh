#!/usr/bin/env bash
# Every man page made for the build (man_lint.sh DIR VERSION) without a
# warning from mandoc's and groff's checks, its title line naming the
# project's version.
set -euo pipefail
status=0
for page in "$1"/*.[1-8]; do
    out=$( { mandoc -T lint -W warning "$page"; groff -ww -z -man "$page"; } 2>&1) || status=1
    if [ -n "$out" ]; then
        echo "$out"
        status=1
    fi
    if ! head -1 "$page" | grep -q "^\.TH .* \"h2mon $2\" "; then
        echo "$page: the title line does not name h2mon $2: $(head -1 "$page")"
        status=1
    fi
done
exit $status
