#!/usr/bin/env bash
# Times two or more dupsweep builds on one corpus, their runs alternating so
# that a machine whose speed drifts treats them alike, and prints each one's
# median wall and CPU time. Before every timed run the corpus is copied
# afresh by hard links into a folder made for it, and only that copy is
# given to the program.
#
#   bench/ab.sh CORPUS RUNS BINARY...
#
# CORPUS is a folder made by make_corpus.pl; the copies are made beside it,
# on its file system. The page cache stays warm.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"

corpus="$(realpath "$1")"
runs="$2"
shift 2
work="$(mktemp -d "$(dirname "$corpus")/ab.XXXXXX")"
times="$work/times"
trap 'rm -rf "$work"' EXIT

for _ in $(seq "$runs"); do
  for binary in "$@"; do
    rm -rf "$work/copy"
    cp -al "$corpus" "$work/copy"
    sync
    /usr/bin/time -a -o "$times" -f "$binary %e %U %S" \
      "$binary" "$work/copy" >/dev/null
  done
done
awk -f "$here/medians.awk" "$times"
