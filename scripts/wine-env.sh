# Sourced by the test scripts: a private, headless Wine for the Windows tests.
export WINEPREFIX="${H2MON_WINEPREFIX:-$PWD/build/wineprefix}"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="winedbg.exe=d;mscoree=d;mshtml=d"
unset DISPLAY
mkdir -p "$WINEPREFIX"
# Start the server with its output detached, or a cold start keeps pipe readers waiting.
wineserver -p </dev/null >/dev/null 2>&1 || true
wineboot </dev/null >/dev/null 2>&1 || true
