#!/usr/bin/env bash
# Installs what is missing, builds the program, and runs it with the given
# arguments: scripts/run.sh [--nosha1] <directory>
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"

"$here/install_deps.sh" $(cat "$here/native_packages.txt")
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >/dev/null
cmake --build "$top/build" --target dupsweep -j"$(nproc)" >/dev/null
exec "$top/build/dupsweep" "$@"
