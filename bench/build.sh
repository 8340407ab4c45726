#!/bin/sh
# Builds the SHA-1 benchmark (bench/CMakeLists.txt) with the engine's sources
# and flags as the program's Release build has them. Installs what is
# missing. Usage: bench/build.sh [output directory] (default: build-bench);
# prints the benchmark's path.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-bench"}
"$root/scripts/install_deps.sh" cmake make g++ libbenchmark-dev libssl-dev >&2
cmake -S "$root/bench" -B "$out" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$out" -j"$(nproc)" >/dev/null
echo "$out/sha1_bench"
