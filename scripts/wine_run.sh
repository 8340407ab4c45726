#!/usr/bin/env bash
# Runs a 64-bit Windows program under wine64, for CMake's
# CMAKE_CROSSCOMPILING_EMULATOR. Each build tree gets its own Wine prefix
# (created on first use), so runs never share state with a user's ~/.wine.
# Usage: wine_run.sh program.exe [arguments...]
set -euo pipefail

wine=/usr/lib/wine/wine64
wineserver=/usr/lib/wine/wineserver

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

# ctest runs tests in parallel; only one of them may create the prefix.
if [[ ! -f $WINEPREFIX/system.reg ]]; then
  mkdir -p "$WINEPREFIX"
  (
    flock 9
    [[ -f $WINEPREFIX/system.reg ]] || "$wine" wineboot --init >/dev/null 2>&1
  ) 9>"$WINEPREFIX.lock"
fi
# A server that outlives each test by a minute saves a start per test.
"$wineserver" -p60 >/dev/null 2>&1 || true

exec "$wine" "$@"
