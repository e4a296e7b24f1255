# Sourced by scripts/wine.sh: the environment of a private, headless Wine for the
# Windows build's tests. Every Wine process of a test run must see the same
# values, or it finds no server of its own and starts another one.
H2_SOURCE_DIR="$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)"
export WINEPREFIX="${H2MON_WINEPREFIX:-$H2_SOURCE_DIR/build/wineprefix}"
# Wine's server keeps its socket under TMPDIR: a directory of our own keeps it
# apart from every other Wine on the machine.
export TMPDIR="$WINEPREFIX.tmp"
export WINEDEBUG=-all
# A crash ends the program with a non-zero exit code instead of starting the
# debugger; no .NET or HTML engine is wanted in a fresh prefix.
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
# No display: Wine must never try to open a window.
unset DISPLAY WAYLAND_DISPLAY
