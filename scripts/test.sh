#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"

"$here/install_deps.sh" $(cat "$here/native_packages.txt")
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DDUPSWEEP_WERROR=ON
cmake --build "$top/build" -j"$(nproc)"
ctest --test-dir "$top/build" --output-on-failure -j"$(nproc)"

# The Windows program, cross-built, with its tests run under wine64.
"$here/build_windows.sh" --test
