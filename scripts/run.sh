#!/usr/bin/env bash
# Installs what is missing, builds the program, and runs it with the given
# arguments: scripts/run.sh [--nosha1] <directory>
# Without a directory it only builds and prints the usage text. The build
# shows its progress on standard error, so that standard output is the
# program's alone.
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"

"$here/install_deps.sh" $(cat "$here/native_packages.txt") >&2
cmake -S "$top" -B "$top/build" -DCMAKE_BUILD_TYPE=Release >&2
cmake --build "$top/build" --target dupsweep -j"$(nproc)" >&2
exec "$top/build/dupsweep" "$@"
