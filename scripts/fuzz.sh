#!/usr/bin/env bash
# Builds the libFuzzer targets with clang and runs each for a bounded time
# (seconds, default 60) over a scratch copy of its seed corpus.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"
seconds="${1:-60}"

"$here/install_deps.sh" --clang cmake make
cmake -S "$top/fuzz" -B "$top/build-fuzz" -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$top/build-fuzz" -j"$(nproc)"

for target in sha1 path_rules; do
  scratch="$(mktemp -d)"
  echo "Fuzzing $target for ${seconds}s"
  status=0
  # A crash leaves its input (crash-*) in the scratch folder, which is kept.
  mkdir "$scratch/corpus"
  (cd "$scratch" && "$top/build-fuzz/${target}_fuzz" -max_total_time="$seconds" \
    -print_final_stats=1 corpus "$top/fuzz/corpus/$target" >log 2>&1) || status=$?
  grep -E '^(Done|stat::number_of_executed_units)' "$scratch/log" || true
  if [ "$status" -ne 0 ]; then
    tail -n 40 "$scratch/log"
    echo "fuzz target $target failed; its input is in $scratch"
    exit 1
  fi
  rm -rf "$scratch"
done
