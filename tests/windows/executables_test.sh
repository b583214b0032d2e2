#!/bin/sh
# What the two Windows programs are made of: lorvex.exe a windowed program and lorvex.com
# a console one, both needing no DLL that Windows does not ship, both carrying the icon,
# the version and the manifest; the four data files beside them.
# Usage: executables_test.sh <directory of the built programs>
set -eu
bin=$1
fail() { echo "executables test: $*" >&2; exit 1; }
objdump=x86_64-w64-mingw32-objdump
windres=x86_64-w64-mingw32-windres
version=$(sed -n 's/^project(lorvex VERSION \([0-9.]*\).*/\1/p' "$(dirname "$0")/../../CMakeLists.txt")

# DLLs that every Windows 10 and 11 has.
system_dlls="kernel32.dll user32.dll gdi32.dll shell32.dll shlwapi.dll ole32.dll oleaut32.dll
comctl32.dll comdlg32.dll advapi32.dll uxtheme.dll msvcrt.dll ucrtbase.dll"

check() {
    file=$1 subsystem=$2
    [ -f "$bin/$file" ] || fail "$file is missing"
    headers=$($objdump -p "$bin/$file")
    echo "$headers" | grep -q "^Subsystem.*($subsystem)" || fail "$file is not a $subsystem program"
    for dll in $(echo "$headers" | sed -n 's/^\tDLL Name: //p' | tr 'A-Z' 'a-z'); do
        case " $(echo $system_dlls) " in
            *" $dll "*) ;;
            *) fail "$file needs $dll, which Windows does not ship" ;;
        esac
    done
    resources=$($windres -i "$bin/$file" -O rc)
    echo "$resources" | grep -q "RT_GROUP_ICON" || fail "$file has no icon"
    echo "$resources" | grep -q "VALUE \"ProductVersion\", \"$version\"" ||
        fail "$file does not say it is version $version"
    echo "$resources" | grep -q "VALUE \"OriginalFilename\", \"$file\"" ||
        fail "$file does not carry its own name"
    for value in '"FileDescription", "lorvex archive sorter"' '"ProductName", "lorvex"' \
        '"CompanyName", "lorvex contributors"'; do
        echo "$resources" | grep -qF "VALUE $value" || fail "$file lacks $value in its version"
    done
    for setting in longPathAware PerMonitorV2 Microsoft.Windows.Common-Controls; do
        echo "$resources" | grep -q "$setting" || fail "the manifest of $file lacks $setting"
    done
    echo "$file: $subsystem, system DLLs only, icon, version $version, manifest"
}

check lorvex.exe "Windows GUI"
check lorvex.com "Windows CUI"
for data in cats.txt cats2.txt lorvex.ini lorvex2.ini; do
    [ -f "$bin/$data" ] || fail "$data is not beside the programs"
done
