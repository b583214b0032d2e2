#!/bin/sh
# A destination drive that fills up during a move across drives: an archive that fits is
# moved, the one that does not stays whole where it was, nothing of it is left on the
# full drive, and the report names it with the system's reason (status 1).
#
# lorvex.com runs under wine in a mount namespace of its own, where drive Y: is a 1 MB
# tmpfs. Its wine session is a second prefix that shares drive C: with the tests' prefix
# but has its own registry files, so that a wineserver of its own starts inside the
# namespace and sees the mount. Needs root for the namespace; skipped otherwise.
# Usage: full_drive_test.sh <directory of lorvex.com> <wine prefix of the tests>
set -eu
bin=$(cd "$1" && pwd)
tests_prefix=$(cd "$2" && pwd)
if [ "$(id -u)" -ne 0 ] || ! command -v unshare >/dev/null || ! unshare -m true 2>/dev/null; then
    echo "skipped: a mount namespace needs root"
    exit 77
fi
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lorvex-full-drive-XXXXXX")
trap 'rm -rf "$scratch"' EXIT

prefix=$scratch/prefix
mkdir -p "$prefix/dosdevices" "$scratch/full" "$scratch/app" "$scratch/in"
cp -p "$tests_prefix"/*.reg "$tests_prefix/.update-timestamp" "$prefix/"
ln -s "$tests_prefix/drive_c" "$prefix/dosdevices/c:"
ln -s / "$prefix/dosdevices/z:"
ln -s "$scratch/full" "$prefix/dosdevices/y:"

cp "$bin/lorvex.com" "$scratch/app/"
printf 'Jazz\r\n' >"$scratch/app/cats.txt"
printf '; map\r\n; name=category\r\n[Catalogue]\r\nsmall=Jazz\r\nbig=Jazz\r\n' >"$scratch/app/lorvex.ini"
head -c 100000 /dev/urandom >"$scratch/in/small.zip"
head -c 3000000 /dev/urandom >"$scratch/in/big.zip"
big_sum=$(md5sum <"$scratch/in/big.zip")
windows() { echo "Z:$1" | tr / '\\'; }

# Everything that needs the small drive happens inside the namespace, before it goes.
export WINEPREFIX="$prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=d
unshare -m sh -eu -c '
    scratch=$1; shift
    mount -t tmpfs -o size=1m lorvex-full-drive "$scratch/full"
    status=0
    wine "$@" >"$scratch/out" 2>"$scratch/err" </dev/null || status=$?
    echo $status >"$scratch/status"
    ls -A "$scratch/full/out" >"$scratch/left-on-drive" 2>&1 || true
    wineserver -k 2>/dev/null || true
' sh "$scratch" "$(windows "$scratch/app/lorvex.com")" -c Jazz -e "$(windows "$scratch/in")" -d 'Y:\out'

fail() { echo "full drive test: $*" >&2; cat "$scratch/out" "$scratch/err" >&2; exit 1; }
[ "$(cat "$scratch/status")" = 1 ] || fail "exit status $(cat "$scratch/status"), not 1"
[ "$(cat "$scratch/left-on-drive")" = small.zip ] ||
    fail "the full drive holds: $(cat "$scratch/left-on-drive")"
[ "$(md5sum <"$scratch/in/big.zip")" = "$big_sum" ] || fail "big.zip changed in the search directory"
[ ! -e "$scratch/in/small.zip" ] || fail "small.zip was copied but not moved"
expected_start=" 1 files were successfully found and moved!
1 file could not be moved:
big.zip: "
# lorvex.com ends its lines in CR LF in a file.
case $(tr -d '\r' <"$scratch/out") in
    "$expected_start"?*) ;;
    *) fail "unexpected report" ;;
esac
echo "a full drive: $(sed -n 3p "$scratch/out")"
