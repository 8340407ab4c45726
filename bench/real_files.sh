#!/usr/bin/env bash
# Times dupsweep against jdupes -dN -o time -i (which also deletes all but
# the newest of each set) on a directory of real files: the flattened
# contents of two copies of /usr/share/doc, the fonts under /usr/share/fonts
# and the shared libraries under /usr/lib/x86_64-linux-gnu, copied into one
# folder. Each run gets a fresh hard-linked copy of it; runs alternate, the
# page cache warm, and each one's median wall and CPU time is printed.
#
#   bench/real_files.sh
#
# RUNS (default 10), DUPSWEEP, BEFORE and BENCH_TMPDIR as for the others.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
runs="${RUNS:-10}"
"$(dirname "$here")/scripts/install_deps.sh" jdupes time >&2
dupsweep="$("$here/dupsweep_binary.sh")"
before="${BEFORE:+$(realpath "$BEFORE")}"

work="$(mktemp -d "${BENCH_TMPDIR:-${TMPDIR:-/var/tmp}}/real.XXXXXX")"
trap 'rm -rf "$work"' EXIT
mkdir "$work/corpus"

# Every regular file under $2, copied into the corpus under a name made of
# $1 and its path.
flatten() {
  local prefix=$1 source=$2
  find "$source" -type f -print0 |
    while IFS= read -r -d '' file; do
      local name=${file#/}
      cp "$file" "$work/corpus/$prefix${name//\//_}"
    done
}
flatten doc1_ /usr/share/doc
flatten doc2_ /usr/share/doc
flatten font_ /usr/share/fonts
find /usr/lib/x86_64-linux-gnu -maxdepth 1 -name '*.so*' -type f -print0 |
  xargs -0 cp -t "$work/corpus"
echo "corpus: $(ls "$work/corpus" | wc -l) files," \
  "$(du -sh "$work/corpus" | cut -f1)"

timed() {
  local name=$1
  shift
  rm -rf "$work/copy"
  cp -al "$work/corpus" "$work/copy"
  sync
  /usr/bin/time -a -o "$work/times" -f "$name %e %U %S" "$@" >/dev/null
}

for _ in $(seq "$runs"); do
  timed dupsweep "$dupsweep" "$work/copy"
  [[ -n $before ]] && timed before "$before" "$work/copy"
  timed jdupes jdupes -dN -o time -i -q "$work/copy"
done

grep -m1 'model name' /proc/cpuinfo
awk -f "$here/medians.awk" -v refs="jdupes" "$work/times"
