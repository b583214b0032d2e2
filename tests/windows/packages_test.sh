#!/bin/sh
# The Windows packages: what the portable zip holds, then the installer under wine, end to
# end: a silent install (/S) into a scratch prefix, the installed console twin moving an
# archive; while lorvex.com runs, a silent uninstall and a silent install over it (which
# must fail and change nothing), and the uninstaller's window opened before lorvex.com
# started, its Uninstall pressed after (which must stop at the "lorvex is running" box
# and, cancelled, change nothing); then the silent uninstall, after which every file,
# shortcut, registry entry and PATH entry the installer made is gone, and nothing is left
# to be removed when Windows restarts.
#
# The scratch prefix has registry files and a drive C: of its own; only C:\windows, the
# system files, is shared with the tests' prefix, which spares creating a prefix (seconds
# and hundreds of megabytes). Its wine server has a display of its own (an Xvfb), on which
# the uninstaller's window opens.
# Usage: packages_test.sh <build directory> <wine prefix of the tests> <installer_driver.exe>
set -eu
if [ -z "${LORVEX_PACKAGES_DISPLAY:-}" ]; then
    exec env LORVEX_PACKAGES_DISPLAY=1 xvfb-run -a -s "-screen 0 1024x768x24" "$0" "$@"
fi
build=$(cd "$1" && pwd)
tests_prefix=$(cd "$2" && pwd)
driver=$3
version=$(sed -n 's/^project(lorvex VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")
cmake --build "$build" --target windows-package >/dev/null
setup=$build/lorvex-$version-setup.exe

# The portable zip: the programs, the data files, the Windows guide, the licence and the
# note that keeps the copy to its own data files, the texts with Windows line ends.
python3 - "$build/lorvex-$version-windows-x64.zip" <<'PYTHON' || exit 1
import sys, zipfile
archive = zipfile.ZipFile(sys.argv[1])
names = sorted(archive.namelist())
expected = sorted(["lorvex.exe", "lorvex.com", "readme.txt", "LICENSE.txt", "portable.txt",
                   "cats.txt", "cats2.txt", "lorvex.ini", "lorvex2.ini"])
if names != expected:
    sys.exit(f"packages test: the portable zip holds {names}")
for text in ("readme.txt", "LICENSE.txt", "portable.txt"):
    lines = archive.read(text)
    if b"\r\n" not in lines or lines.replace(b"\r\n", b"").count(b"\n"):
        sys.exit(f"packages test: {text} is not all CR LF")
readme = archive.read("readme.txt")
if b"lorvex.com" not in readme or b"/usr/lib" in readme:
    sys.exit("packages test: readme.txt is not the Windows guide")
if b"MIT License" not in archive.read("LICENSE.txt"):
    sys.exit("packages test: LICENSE.txt is not the MIT licence")
PYTHON

scratch=$(mktemp -d "${TMPDIR:-/tmp}/lorvex-installer-XXXXXX")
export WINEPREFIX="$scratch/prefix" WINEDEBUG=-all WINEDLLOVERRIDES=mscoree,mshtml=d
cleanup() {
    wineserver -k 2>/dev/null || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "packages test: $*" >&2; exit 1; }

drive=$scratch/drive_c
mkdir -p "$WINEPREFIX/dosdevices" "$drive"
cp -p "$tests_prefix"/*.reg "$tests_prefix/.update-timestamp" "$WINEPREFIX/"
# Without the temporary directories, where the other tests are at work meanwhile.
tar -C "$tests_prefix/drive_c" --exclude=./windows --exclude='./users/*/Temp/*' -cf - . |
    tar -C "$drive" -xf -
ln -s "$tests_prefix/drive_c/windows" "$drive/windows"
ln -s "$drive" "$WINEPREFIX/dosdevices/c:"
ln -s / "$WINEPREFIX/dosdevices/z:"
wineboot </dev/null >/dev/null 2>&1

files() { (cd "$drive" && find . -path ./windows -prune -o -print | sort); }
uninstall_key='HKLM\Software\Microsoft\Windows\CurrentVersion\Uninstall\lorvex'
system_path() {
    wine reg query 'HKLM\SYSTEM\CurrentControlSet\Control\Session Manager\Environment' /v Path \
        2>/dev/null | tr -d '\r' | sed -n 's/.*REG_[A-Z_]*SZ *//p'
}
files >"$scratch/before"
path_before=$(system_path)

wine "Z:$setup" /S </dev/null >/dev/null 2>&1 || fail "the silent install failed"
files >"$scratch/after-install"
comm -13 "$scratch/before" "$scratch/after-install" >"$scratch/installed"
program="./Program Files/lorvex"
for file in lorvex.exe lorvex.com cats.txt cats2.txt lorvex.ini lorvex2.ini readme.txt LICENSE.txt \
    uninstall.exe; do
    grep -qxF "$program/$file" "$scratch/installed" || fail "$file was not installed"
done
grep -q '/Start Menu/Programs/lorvex.lnk$' "$scratch/installed" || fail "no Start-menu shortcut"
# An installed lorvex reads the user's own lists first: it is no portable copy.
! grep -q 'portable.txt$' "$scratch/installed" || fail "portable.txt was installed"
wine reg query "$uninstall_key" /v UninstallString >/dev/null 2>&1 ||
    fail "no uninstaller registered in Apps & features"
case ";$(system_path);" in
    *";C:\\Program Files\\lorvex;"*) ;;
    *) fail "the folder is not on the system PATH: $(system_path)" ;;
esac

# The installed console twin moves the first "Music / Jazz" archive of the installed map.
jazz=$(awk -F= 'NR > 3 && /^[^;[]/ && $2 == "Music / Jazz\r" { print $1; exit }' \
    "$drive/$program/lorvex.ini")
[ -n "$jazz" ] || fail "no Music / Jazz entry in the installed map"
mkdir "$scratch/in"
printf 'PK' >"$scratch/in/$jazz.zip"
printf 'PK' >"$scratch/in/not in the map.zip"
out=$(wine 'C:\Program Files\lorvex\lorvex.com' -c "Music / Jazz" -e "Z:$scratch/in" \
    -d 'C:\sorted' </dev/null | tr -d '\r')
[ "$out" = " 1 files were successfully found and moved!" ] || fail "unexpected output: $out"
[ -f "$drive/sorted/$jazz.zip" ] || fail "the archive was not moved"
[ -f "$scratch/in/not in the map.zip" ] || fail "an archive of no category was moved"
rm -r "$drive/sorted"

# While lorvex.com runs, held in the middle of writing its report (a dry run of 3,000
# archives, more than a pipe holds) until its output is read, nothing may change the
# installed files or the registration. The uninstaller runs in place (_?=), so that its
# exit status is its own.
cp "$drive/$program/lorvex.ini" "$scratch/lorvex.ini"
awk 'BEGIN { print ";\r"; print ";\r"; print "[Catalogue]\r";
             for (i = 0; i < 3000; i++) printf "album %d=Music / Jazz\r\n", i }' \
    >"$drive/$program/lorvex.ini"
mkdir "$scratch/many"
(cd "$scratch/many" && for i in $(seq 0 2999); do printf 'PK' >"album $i.zip"; done)
start_lorvex() {
    rm -f "$scratch/report"
    mkfifo "$scratch/report"
    wine 'C:\Program Files\lorvex\lorvex.com' -c "Music / Jazz" -e "Z:$scratch/many" \
        -d 'C:\sorted' --dry-run </dev/null >"$scratch/report" 2>/dev/null 4>&- 5<&- &
    running=$!
    exec 3<"$scratch/report"
    read -r first_line <&3 || fail "lorvex.com wrote no report"
}
stop_lorvex() {
    cat <&3 >/dev/null
    exec 3<&-
    wait "$running" || true
}
unchanged() {
    files | comm -13 - "$scratch/installed" >"$scratch/missing"
    [ ! -s "$scratch/missing" ] || fail "removed while lorvex.com was running ($1): $(cat "$scratch/missing")"
    cmp -s "$drive/$program/lorvex.com" "$build/packaging/windows/files/lorvex.com" ||
        fail "lorvex.com was changed while it was running ($1)"
    wine reg query "$uninstall_key" >/dev/null 2>&1 || fail "unregistered while lorvex.com was running ($1)"
}
nothing_pending() {
    if wine reg query 'HKLM\System\CurrentControlSet\Control\Session Manager' \
        /v PendingFileRenameOperations >/dev/null 2>&1; then
        fail "files are left to be removed when Windows restarts ($1)"
    fi
}

refused() {
    what=$1
    shift
    status=0
    "$@" </dev/null >/dev/null 2>&1 || status=$?
    [ "$status" -eq 2 ] || fail "$what exited with $status while lorvex.com was running"
    unchanged "$what"
}

start_lorvex
refused "the silent uninstall" \
    wine 'C:\Program Files\lorvex\uninstall.exe' /S '_?=C:\Program' 'Files\lorvex'
refused "the silent install over it" wine "Z:$setup" /S
stop_lorvex

# The uninstaller's window opens while lorvex is not running; then lorvex.com starts, and
# then Uninstall is pressed.
mkfifo "$scratch/to-driver" "$scratch/from-driver"
wine "Z:$driver" 'C:\Program Files\lorvex\uninstall.exe' '_?=C:\Program Files\lorvex' \
    <"$scratch/to-driver" >"$scratch/from-driver" 2>/dev/null &
uninstaller=$!
exec 4>"$scratch/to-driver" 5<"$scratch/from-driver"
read -r ready <&5 || fail "the uninstaller's window did not open"
start_lorvex
echo next >&4
read -r box <&5 || fail "no box after Uninstall was pressed while lorvex.com was running"
case $box in
    *"lorvex is running."*) ;;
    *) fail "after Uninstall was pressed while lorvex.com was running: $box" ;;
esac
unchanged "Uninstall pressed in the window"
echo cancel >&4
exec 4>&- 5<&-
status=0
wait "$uninstaller" || status=$?
[ "$status" -eq 2 ] || fail "the uninstaller cancelled at the box exited with $status"
unchanged "the box cancelled"
nothing_pending "the box cancelled"
stop_lorvex
cp "$scratch/lorvex.ini" "$drive/$program/lorvex.ini"

# The uninstaller runs from a copy of itself in the temporary directory, so the wait is
# for the wine session to end, which it does shortly after its last program.
wine 'C:\Program Files\lorvex\uninstall.exe' /S </dev/null >/dev/null 2>&1 ||
    fail "the silent uninstall failed"
wineserver -w
left=$(files | comm -12 - "$scratch/installed")
[ -z "$left" ] || fail "left behind after uninstalling: $left"
if wine reg query "$uninstall_key" >/dev/null 2>&1; then
    fail "still registered in Apps & features"
fi
nothing_pending "uninstalled"
[ "$(system_path)" = "$path_before" ] || fail "PATH is \"$(system_path)\", was \"$path_before\""
echo "installed, moved \"$jazz.zip\" with the installed lorvex.com, uninstalled without a trace"
