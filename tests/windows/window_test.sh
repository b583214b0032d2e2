#!/bin/sh
# Runs the window's test program under wine on an Xvfb. Wine draws windows on the display
# its desktop was started with, and the session's desktop has none, so this test gets a
# scratch prefix with a server and a desktop of its own; it shares the tests' registry
# (copied) and drive C: (linked), so nothing is set up twice.
# Usage: window_test.sh <test program> <wine prefix of the tests>
set -eu
program=$1
tests_prefix=$(cd "$2" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lorvex-window-XXXXXX")
export WINEPREFIX="$scratch" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=d LC_ALL=C.UTF-8
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
mkdir -p "$scratch/dosdevices"
cp -p "$tests_prefix"/*.reg "$tests_prefix/.update-timestamp" "$scratch/"
ln -s "$tests_prefix/drive_c" "$scratch/dosdevices/c:"
ln -s / "$scratch/dosdevices/z:"
xvfb-run -a -s "-screen 0 1280x800x24" sh -c '
    wine "$1"
    status=$?
    wineserver -k 2>/dev/null
    exit $status
' window_test "Z:$program"
