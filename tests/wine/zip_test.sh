#!/usr/bin/env bash
# The Windows zip as an operator gets it: CPack makes h2mon-<version>-win64.zip
# from the build, which must hold the three programs, README.txt with Windows
# line ends, LICENSE and run-h2mon.cmd; every .exe of the unpacked zip runs
# under Wine and prints its help or version.
#
#   zip_test.sh BUILD_DIR VERSION WINE_SH
set -euo pipefail
build=$1 version=$2 wine_sh=$3
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

fail() {
    echo "FAILED: $*" >&2
    exit 1
}

(cd "$build" && cpack -G ZIP -B "$work/out" >"$work/cpack.log" 2>&1) || {
    cat "$work/cpack.log"
    fail "cpack"
}
zip="$work/out/h2mon-$version-win64.zip"
[ -f "$zip" ] || fail "no $(basename "$zip") in: $(ls "$work/out")"

mkdir "$work/unzipped"
(cd "$work/unzipped" && cmake -E tar xf "$zip")
contents=$(cd "$work/unzipped" && find . -type f | sort | tr '\n' ' ')
expected="./LICENSE ./README.txt ./h2export.exe ./h2mon.exe ./h2plot.exe ./run-h2mon.cmd "
[ "$contents" = "$expected" ] || fail "the zip holds: $contents; expected: $expected"
echo "zip: $contents"

# Every line of the texts for Windows ends in CR LF.
for text in README.txt run-h2mon.cmd; do
    lines=$(wc -l <"$work/unzipped/$text")
    crlf=$(grep -c $'\r$' "$work/unzipped/$text" || true)
    [ "$lines" -gt 0 ] && [ "$lines" = "$crlf" ] || fail "$text: $crlf of $lines lines end in CR LF"
done
grep -q "Unattended on Windows" "$work/unzipped/README.txt" || fail "README.txt lacks the Windows sections"

# h2mon.exe prints its usage for /? (exit code 1); the companions their version.
usage=$("$wine_sh" run "$work/unzipped/h2mon.exe" '/?' || true)
grep -q "Usage: h2mon <arguments>" <<<"$usage" || fail "h2mon.exe /? printed: $usage"
for program in h2export h2plot; do
    printed=$("$wine_sh" run "$work/unzipped/$program.exe" --version | tr -d '\r')
    [ "$printed" = "$program $version" ] || fail "$program.exe --version printed: $printed"
done
echo "h2mon.exe, h2export.exe, h2plot.exe run from the unpacked zip"
