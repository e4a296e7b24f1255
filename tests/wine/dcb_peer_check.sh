#!/usr/bin/env bash
# Compares this project's BuildCommDCBA for Linux with Windows' own, run under
# Wine: the same probe, built for each system, prints what each makes of the
# same mode strings from the same starting DCBs; every line must agree.
#
#   dcb_peer_check.sh LINUX_PROBE WINDOWS_PROBE
#
# Two differences are Wine's and are listed, not failed: Wine refuses the
# handshake values dtr=hs, rts=hs and rts=tg that Windows documents, and reads
# the comma form's rate 15 as 15 baud where Windows documents 150.
# Exit code 77 (skipped) when the Linux build is missing.
set -euo pipefail
linux_probe="$1"
windows_probe="$2"
wine_sh="$(cd "$(dirname "$0")/../../scripts" && pwd)/wine.sh"

if [ ! -x "$linux_probe" ]; then
    echo "no Linux probe at $linux_probe: build the dev preset first"
    exit 77
fi
work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
"$linux_probe" >"$work/linux"
"$wine_sh" run "$windows_probe" | tr -d '\r' >"$work/windows"

# Field 2 is the quoted mode string.
awk -F'\t' '
    function wine_difference(mode) {
        mode = tolower(mode)
        return mode ~ /[" ](dtr|rts)=(hs|tg)[" ]/ || mode ~ /[": ]0*15,/
    }
    NR == FNR { linux[FNR] = $0; lines = FNR; next }
    {
        seen = FNR
        if ($0 == linux[FNR]) { agree++; next }
        if (wine_difference($2)) {
            known++
            print "Wine differs: " linux[FNR] "\n       Wine: " $0
            next
        }
        unexplained++
        print "DIFFERENT:    " linux[FNR] "\n     Windows: " $0
    }
    END {
        printf "%d lines: %d agree, %d differ as Wine is known to, %d differ otherwise\n",
               lines, agree, known, unexplained
        if (lines == 0 || seen != lines) { print "the two probes printed different line counts"; exit 1 }
        exit unexplained > 0
    }' "$work/linux" "$work/windows"
