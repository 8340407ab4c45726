#!/bin/sh
# Builds the SHA-1 benchmark apart from the program, which needs neither
# Google Benchmark nor OpenSSL. Usage: bench/build.sh [output directory]
# (default: build-bench). The same flags as the program's Release build.
set -eu
root=$(cd "$(dirname "$0")/.." && pwd)
out=${1:-"$root/build-bench"}
mkdir -p "$out"
cxx=${CXX:-g++}
flags="-std=c++17 -O3 -DNDEBUG -Wall -Wextra -Werror -I$root/src"
sources="$root/src/sha1/sha1.cpp $root/src/sha1/sha1_cpu_x86.cpp"
$cxx $flags -c "$root/src/sha1/sha1_shani.cpp" -msha -msse4.1 -mssse3 \
  -o "$out/sha1_shani.o"
$cxx $flags $sources "$out/sha1_shani.o" "$root/bench/sha1_bench.cpp" \
  -lbenchmark -lcrypto -pthread -o "$out/sha1_bench"
echo "$out/sha1_bench"
