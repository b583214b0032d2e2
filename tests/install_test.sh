#!/bin/sh
# Installs lorvex into a scratch root and runs the installed program through its bin/ link,
# end to end on a scratch directory. Usage: install_test.sh <build directory>
set -eu
build=$1
root=$(mktemp -d "${TMPDIR:-/tmp}/lorvex-install-XXXXXX")
trap 'rm -rf "$root"' EXIT
# Moves write their journals into the state folder: this test's own, never the home's.
export XDG_STATE_HOME="$root/state"
fail() { echo "install test: $*" >&2; exit 1; }

cmake --install "$build" --prefix "$root/usr" >/dev/null
[ -L "$root/usr/bin/lorvex" ] || fail "bin/lorvex is not a symlink"
for file in lorvex liblorvex-window.so cats.txt cats2.txt lorvex.ini lorvex2.ini readme.txt; do
    [ -f "$root/usr/lib/lorvex/$file" ] || fail "lib/lorvex/$file is missing"
done
# Self-contained apart from system libraries: no run path into the build tree. The
# program itself needs no toolkit; only the window library it loads on demand does.
for executable in "$build/bin/lorvex" "$root/usr/lib/lorvex/lorvex" \
                  "$root/usr/lib/lorvex/liblorvex-window.so"; do
    if readelf -d "$executable" | grep -qE 'RPATH|RUNPATH'; then
        fail "$executable carries a run path"
    fi
done
if readelf -d "$root/usr/lib/lorvex/lorvex" | grep NEEDED | grep -qi qt; then
    fail "the program links a toolkit library"
fi
for file in applications/lorvex.desktop metainfo/org.lorvex.lorvex.metainfo.xml \
            icons/hicolor/scalable/apps/lorvex.svg icons/hicolor/48x48/apps/lorvex.png \
            man/man1/lorvex.1.gz doc/lorvex/copyright; do
    [ -f "$root/usr/share/$file" ] || fail "share/$file is missing"
done
if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$root/usr/share/applications/lorvex.desktop"
fi
if command -v appstreamcli >/dev/null; then
    appstreamcli validate --no-net --pedantic \
        "$root/usr/share/metainfo/org.lorvex.lorvex.metainfo.xml" >/dev/null ||
        fail "appstreamcli rejects the metainfo file"
fi

# One archive for the first "Music / Jazz" entry of the installed map, one of another
# category; only the first may move.
# The map's lines may end in CR LF or LF alone.
jazz=$(awk -F= '{ sub(/\r$/, "") } NR > 3 && /^[^;[]/ && $2 == "Music / Jazz" { print $1; exit }' \
    "$root/usr/lib/lorvex/lorvex.ini")
[ -n "$jazz" ] || fail "no Music / Jazz entry in the installed map"
mkdir "$root/in"
printf 'PK' >"$root/in/$jazz.zip"
printf 'PK' >"$root/in/not in the map.zip"
out=$(env -u DISPLAY -u WAYLAND_DISPLAY -u QT_QPA_PLATFORM \
    "$root/usr/bin/lorvex" -c "Music / Jazz" -e "$root/in" -d "$root/out" </dev/null)
[ "$out" = " 1 files were successfully found and moved!" ] || fail "unexpected output: $out"
[ -f "$root/out/$jazz.zip" ] || fail "the archive was not moved"
[ -f "$root/in/not in the map.zip" ] || fail "an archive of no category was moved"
echo "installed lorvex moved \"$jazz.zip\" through $root/usr/bin/lorvex"
