#!/bin/bash
# Compares coreutils sha1sum with the engine's own figures: sha1sum hashes a
# 512 MiB file in a fresh temporary directory (already in the page cache),
# best of three; then the engine's and the portable compressor's 4 MiB
# benchmarks run. CPU time, not wall time, is compared, as the benchmark
# does, so that other load on the machine does not count; sha1sum's user
# time is its hashing, its system time the reading.
# Usage: bench/sha1sum_compare.sh [path of sha1_bench]
set -eu
bench=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build-bench/sha1_bench"}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
head -c 536870912 /dev/urandom >"$dir/data"
sha1sum "$dir/data" >/dev/null

TIMEFORMAT='%3U %3S'
best_user=
best_total=
for run in 1 2 3; do
  read -r user system < <({ time sha1sum "$dir/data" >/dev/null; } 2>&1)
  total=$(echo "$user + $system" | bc -l)
  if [ -z "$best_user" ] || [ "$(echo "$user < $best_user" | bc -l)" = 1 ]; then
    best_user=$user
  fi
  if [ -z "$best_total" ] || [ "$(echo "$total < $best_total" | bc -l)" = 1 ]; then
    best_total=$total
  fi
done
mib_per_s() { printf '%.0f' "$(echo "512 / $1" | bc -l)"; }
echo "sha1sum, 512 MiB, best of 3: user $best_user s = $(mib_per_s "$best_user") MiB/s;" \
  "user+sys $best_total s = $(mib_per_s "$best_total") MiB/s"
"$bench" --benchmark_filter='(engine|portable)/4194304' \
  --benchmark_min_time=1 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true
