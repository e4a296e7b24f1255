#!/usr/bin/env bash
# A private, headless Wine for running the Windows build (see wine-env.sh).
#
#   wine.sh start                start the server, making the prefix first if needed
#   wine.sh run PROGRAM ARGS...  start, then run PROGRAM under Wine (the test emulator)
#   wine.sh map-port COMn PATH   make the Windows port COMn open the device PATH
#   wine.sh stop                 end the server and every Wine process of the prefix
#
# The server is started persistent and with its output detached: a server that
# inherits a pipe keeps whoever reads that pipe (CTest, a shell's $(...))
# waiting until it exits.
set -euo pipefail
source "$(dirname "${BASH_SOURCE[0]}")/wine-env.sh"

# Runs a command with no standard streams and without the prefix lock, which a
# server started here would otherwise hold for as long as it runs.
detached() {
    "$@" </dev/null >/dev/null 2>&1 9>&-
}

# Starts the server unless it runs already; a new server also gets the prefix's
# services started with their output detached.
start_server() {
    mkdir -p "$TMPDIR"
    if detached wineserver -p; then
        detached wineboot || true
    fi
}

# A prefix counts as made once wineboot has finished in it; one left half-made
# by an interrupted run is made again.
make_prefix() {
    [ -e "$WINEPREFIX/.h2-ready" ] && return 0
    detached wineserver -k || true
    rm -rf "$WINEPREFIX"
    mkdir -p "$WINEPREFIX" "$TMPDIR"
    detached wineserver -p || true
    detached wineboot -i
    touch "$WINEPREFIX/.h2-ready"
}

# Wine's display driver is the null one: a program's hidden windows work (h2mon
# learns of the end of the session through one), and nothing is ever shown.
# Set once per prefix, also in one made before this setting existed.
use_null_display() {
    [ -e "$WINEPREFIX/.h2-null-display" ] && return 0
    detached wine reg add 'HKCU\Software\Wine\Drivers' /v Graphics /d null /f
    touch "$WINEPREFIX/.h2-null-display"
}

start() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    # Tests may run in parallel: one of them makes the prefix, the others wait.
    (
        flock 9
        make_prefix
        start_server
        use_null_display
    ) 9>"$WINEPREFIX.lock"
}

stop() {
    [ -d "$WINEPREFIX" ] || return 0
    wineserver -k >/dev/null 2>&1 || true
}

# COMn opens a link of its own, which is pointed at the device. Wine reads its
# port mappings when its server starts, so only the first mapping of a port
# takes a restart (which ends the prefix's running programs); pointing the port
# at another device later is a change of the link alone.
map_port() {
    local port="$1" device="$2"
    local link="$WINEPREFIX.ports/${port,,}"
    mkdir -p "$(dirname "$link")"
    ln -sfn "$device" "$link"
    start
    [ "$(readlink "$WINEPREFIX/dosdevices/${port,,}" 2>/dev/null)" = "$link" ] && return 0
    detached wine reg add 'HKLM\Software\Wine\Ports' /v "$port" /d "$link" /f
    stop
    start
    if [ "$(readlink "$WINEPREFIX/dosdevices/${port,,}" 2>/dev/null)" != "$link" ]; then
        echo "wine.sh: $port is not mapped to $link" >&2
        return 1
    fi
}

case "${1:-}" in
start) start ;;
stop) stop ;;
run)
    shift
    start
    exec wine "$@"
    ;;
map-port)
    [ $# -eq 3 ] || { echo "usage: wine.sh map-port COMn PATH" >&2; exit 2; }
    map_port "$2" "$3"
    ;;
*)
    echo "usage: wine.sh start | run PROGRAM ARGS... | map-port COMn PATH | stop" >&2
    exit 2
    ;;
esac
