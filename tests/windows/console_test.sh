#!/bin/sh
# lorvex.com writing to a console rather than a pipe: wine gives a program started on a
# terminal a console, so the text goes through WriteConsoleW and must reach the terminal
# with every name intact. (The tests run from CTest see only pipes.)
# Usage: console_test.sh <directory of lorvex.com>
set -eu
bin=$(cd "$1" && pwd)
scratch=$(mktemp -d "${TMPDIR:-/tmp}/lorvex-console-XXXXXX")
trap 'rm -rf "$scratch"' EXIT
cp "$bin/lorvex.com" "$scratch/"
printf 'Music / Jazz\r\n' >"$scratch/cats.txt"
category='Música / 日本'
# script(1) gives the program a terminal; its output is what the terminal showed.
script -q -e -c "wine '$scratch/lorvex.com' -x -c '$category' -e C:\\\\ -d C:\\\\" \
    "$scratch/terminal" </dev/null >/dev/null 2>&1 || true
shown=$(tr -d '\r' <"$scratch/terminal")
for expected in "lorvex: unknown switch \"-x\", ignored" "Usage: lorvex.com -c category|--all" \
    "lorvex: category \"$category\" is not in the category list"; do
    case $shown in
        *"$expected"*) ;;
        *) echo "console test: the terminal did not show: $expected" >&2; echo "$shown" >&2; exit 1 ;;
    esac
done
echo "the console showed: lorvex: category \"$category\" ..."
