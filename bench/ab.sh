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
awk '{ n[$1]++; wall[$1, n[$1]] = $2; cpu[$1, n[$1]] = $3 + $4 }
     function median(a, b, k,   v, i, j, t) {
       for (i = 1; i <= k; i++) v[i] = a[b, i]
       for (i = 2; i <= k; i++)
         for (j = i; j > 1 && v[j - 1] > v[j]; j--) {
           t = v[j]; v[j] = v[j - 1]; v[j - 1] = t
         }
       return k % 2 ? v[(k + 1) / 2] : (v[k / 2] + v[k / 2 + 1]) / 2
     }
     END {
       for (b in n)
         printf "%s: %d runs, median wall %.3f s, median CPU %.3f s\n",
                b, n[b], median(wall, b, n[b]), median(cpu, b, n[b])
     }' "$times"
