#!/usr/bin/env bash
# Prints the path of the dupsweep binary a benchmark times: $DUPSWEEP when
# set, else build/dupsweep, built in Release (with what it needs installed).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
if [[ -n "${DUPSWEEP:-}" ]]; then
  realpath "$DUPSWEEP"
  exit
fi
"$top/scripts/install_deps.sh" $(cat "$top/scripts/native_packages.txt") >&2
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target dupsweep -j"$(nproc)" >/dev/null
echo "$top/build/dupsweep"
