#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64, or with --wine32 a 32-bit one
# through scripts/wine32, for CMake's CMAKE_CROSSCOMPILING_EMULATOR. Each
# build tree gets its own Wine prefix (created on first use), so runs never
# share state with a user's ~/.wine.
# With --terminal the program keeps the caller's standard handles, so that
# on a Unix terminal Wine gives it a console drawn there; the prefix's
# server is stopped afterwards, since its background services hold those
# handles open too.
# Usage: wine_run.sh [--wine32] [--terminal] program.exe [arguments...]
set -euo pipefail

source "$(dirname "$0")/wine_tools.sh"
terminal=no
while [[ ${1:-} == --* ]]; do
  case $1 in
    --wine32) wine=$(dirname "$0")/wine32 ;;
    --terminal) terminal=yes ;;
    *) break ;;
  esac
  shift
done

# The build tree is the nearest folder above the program holding a CMake cache.
find_build_tree() {
  local dir
  dir=$(cd "$(dirname "$1")" && pwd)
  while [[ $dir != / && ! -f $dir/CMakeCache.txt ]]; do
    dir=$(dirname "$dir")
  done
  [[ $dir == / ]] && dir=$(cd "$(dirname "$1")" && pwd)
  echo "$dir"
}

export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
export WINEPREFIX=${DUPSWEEP_WINEPREFIX:-$(find_build_tree "$1")/wineprefix}

# ctest runs tests in parallel: only one of them may create the prefix.
mkdir -p "$WINEPREFIX"
(
  flock 9
  if [[ ! -f $WINEPREFIX/system.reg ]]; then
    "$wine" wineboot --init </dev/null >/dev/null 2>&1
  fi
) 9>"$WINEPREFIX.lock"
# A server that outlives each program by a minute saves a start per test.
"$wineserver" -p60 </dev/null >/dev/null 2>&1 || true

if [[ $terminal == yes ]]; then
  status=0
  "$wine" "$@" || status=$?
  "$wineserver" -k 2>/dev/null || true
  exit "$status"
fi

# Wine's background services (services.exe, winedevice.exe, ...) start with
# the first program of a server and inherit its standard handles; on pipes
# they would keep ctest waiting until the server quits. So the program
# writes to files, which are copied out once it has ended.
output=$(mktemp -d)
trap 'rm -rf "$output"' EXIT
status=0
"$wine" "$@" >"$output/out" 2>"$output/err" || status=$?
cat "$output/out"
cat "$output/err" >&2
exit "$status"
