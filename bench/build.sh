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
sources="$root/src/sha1/sha1.cpp $root/src/sha1/sha1_lanes.cpp \
  $root/src/sha1/sha1_cpu_x86.cpp"
for name in sha1_shani sha1_shani_lanes; do
  $cxx $flags -c "$root/src/sha1/$name.cpp" -msha -msse4.1 -mssse3 \
    -o "$out/$name.o"
done
$cxx $flags -c "$root/src/sha1/sha1_avx2.cpp" -mavx2 -fno-tree-reassoc -o "$out/sha1_avx2.o"
$cxx $flags -c "$root/src/sha1/sha1_avx512.cpp" -mavx512f -mavx512bw \
  -fno-tree-reassoc -Wno-maybe-uninitialized -o "$out/sha1_avx512.o"
$cxx $flags $sources "$out"/sha1_*.o "$root/bench/sha1_bench.cpp" \
  -lbenchmark -lcrypto -pthread -o "$out/sha1_bench"
echo "$out/sha1_bench"
