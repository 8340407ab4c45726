#!/usr/bin/env bash
# Installs what is missing, builds everything, and runs every test.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"

# Runs a build tree's tests, then names each skipped test with its reason,
# which ctest itself does not show.
run_tests() {
  local build=$1
  shift
  local status=0
  ctest --test-dir "$build" --output-on-failure -j"$(nproc)" "$@" || status=$?
  awk '/^\[ RUN      \]/ { name = $4 }
       /: Skipped$/ { getline reason; print "Skipped " name ": " reason }' \
    "$build/Testing/Temporary/LastTest.log"
  return "$status"
}

"$here/install_deps.sh" $(cat "$here/native_packages.txt")
"$here/check_format.sh"
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release -DDUPSWEEP_WERROR=ON
cmake --build "$top/build" -j"$(nproc)"
run_tests "$top/build"

# The same tests with AddressSanitizer and UndefinedBehaviorSanitizer, built
# with clang: the program then builds with both compilers, and the fuzz
# targets below share this one.
"$here/install_deps.sh" --clang
cmake -S "$top" -B "$top/build-asan" -DCMAKE_BUILD_TYPE=RelWithDebInfo \
  -DCMAKE_CXX_COMPILER=clang++ -DDUPSWEEP_SANITIZE=ON -DDUPSWEEP_WERROR=ON
cmake --build "$top/build-asan" -j"$(nproc)"
run_tests "$top/build-asan"

# The fuzz targets, a minute each.
"$here/fuzz.sh" 60

# The Windows program, cross-built, with its tests run under wine64.
"$here/build_windows.sh" --test

# The Debian package and the Windows zip, checked as a user would.
"$here/check_packages.sh"
