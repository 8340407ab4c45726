#!/usr/bin/env bash
# Names beyond ASCII, written by the Windows program once to a file, where
# the UTF-8 bytes of every line must be exactly those expected, and once on
# a console, which must show the names as text. Wine draws the console of a
# program started on a Unix terminal on that terminal, in UTF-8; script(1)
# provides the terminal and copies what it shows.
# Usage: console_names_test.sh RUNNER [RUNNER ARGUMENTS...] PROGRAM.exe
# RUNNER is scripts/wine_run.sh, as CMake's emulator gives it.
set -euo pipefail

program=${*: -1}
runner=("${@:1:$#-1}")
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
windows_dir="Z:${work//\//\\}\\d"

fail() {
  echo "console_names_test: $*" >&2
  exit 1
}

# Three names of one size, older than the file that stays: the run with
# --nosha1 names each in an "Erasing" line short enough not to wrap.
make_files() {
  rm -rf "$work/d"
  mkdir "$work/d"
  local name
  for name in café.txt 日本.txt smile_😀.txt keep.txt; do
    printf abc >"$work/d/$name"
    touch -d @1000 "$work/d/$name"
  done
  touch -d @2000 "$work/d/keep.txt"
}

make_files
"${runner[@]}" "$program" --nosha1 "$windows_dir" >"$work/file"
{
  printf '\r\nWorking in directory: %s\r\n\r\n' "$windows_dir"
  for name in café.txt 日本.txt smile_😀.txt; do
    printf 'Erasing : %s\\%s\r\n' "$windows_dir" "$name"
  done
} >"$work/expected"
# Only the order of the lines is the listing's.
cmp <(LC_ALL=C sort "$work/expected") <(LC_ALL=C sort "$work/file") ||
  fail "the file does not hold the names' bytes"

make_files
command=$(printf '%q ' "${runner[@]}" --terminal "$program" --nosha1 \
  "$windows_dir")
timeout 600 script -qec "stty cols 200 rows 50; $command" /dev/null \
  </dev/null >"$work/console"
# Wine's console keeps one UTF-16 unit per screen cell and turns each into
# UTF-8 alone for the terminal, so a character beyond the BMP, such as
# U+1F600, shows as two replacement characters whatever the program wrote:
# that name is checked in the file only.
for name in café.txt 日本.txt; do
  grep -qF "Erasing : $windows_dir\\$name" "$work/console" ||
    fail "the console does not show $name"
done
[[ ! -e $work/d/café.txt ]] || fail "the console run deleted nothing"
