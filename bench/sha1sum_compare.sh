#!/bin/sh
# Compares coreutils sha1sum with the engine's own figures: times sha1sum
# (best of three, file already in the page cache) on a 512 MiB file in a
# fresh temporary directory, then runs the 4 MiB benchmarks of the engine
# and the portable compressor. Usage: bench/sha1sum_compare.sh [sha1_bench]
set -eu
bench=${1:-"$(cd "$(dirname "$0")/.." && pwd)/build-bench/sha1_bench"}
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT INT TERM
head -c 536870912 /dev/urandom > "$dir/data"
sha1sum "$dir/data" > /dev/null
best=
for run in 1 2 3; do
  start=$(date +%s.%N)
  sha1sum "$dir/data" > /dev/null
  end=$(date +%s.%N)
  seconds=$(echo "$end - $start" | bc -l)
  if [ -z "$best" ] || [ "$(echo "$seconds < $best" | bc -l)" = 1 ]; then
    best=$seconds
  fi
done
echo "sha1sum, 512 MiB: best of 3 $best s =" \
  "$(echo "512 / $best" | bc -l | cut -c1-7) MiB/s"
"$bench" --benchmark_filter='(engine|portable)/4194304' \
  --benchmark_min_time=1 --benchmark_repetitions=3 \
  --benchmark_report_aggregates_only=true
