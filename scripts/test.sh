#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"

"$here/install_deps.sh" $(cat "$here/native_packages.txt")
"$here/check_format.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DDUPSWEEP_WERROR=ON
cmake --build "$top/build" -j"$(nproc)"
ctest --test-dir "$top/build" --output-on-failure -j"$(nproc)"

# The same tests with AddressSanitizer and UndefinedBehaviorSanitizer.
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DDUPSWEEP_SANITIZE=ON -DDUPSWEEP_WERROR=ON
cmake --build "$top/build-asan" -j"$(nproc)"
ctest --test-dir "$top/build-asan" --output-on-failure -j"$(nproc)"

# The fuzz targets, a minute each.
"$here/fuzz.sh" 60

# The Windows program, cross-built, with its tests run under wine64.
"$here/build_windows.sh" --test

# The Debian package and the Windows zip, checked as a user would.
"$here/check_packages.sh"
