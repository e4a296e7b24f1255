#!/usr/bin/env bash
# Runs a test program of the Linux build from the Windows build's tests; exit
# code 77 (skipped) when the Linux build has not made it.
#
#   run_linux_test.sh PROGRAM ARGS...
if [ ! -x "$1" ]; then
    echo "no $1: build the dev preset first"
    exit 77
fi
exec "$@"
