#!/usr/bin/env bash
# Times dupsweep on a corpus larger than the memory it may use: 16 pairs of
# 128 MiB files (4 GiB), every process run in a memory cgroup of 1 GiB, so
# that no file read once is still cached when it would be read again, and
# the page cache dropped before every run. jdupes -q and cat of the same
# files run alternately with it, run by run, and each one's median wall and
# CPU time and its ratio to jdupes and to cat are printed.
#
#   bench/beyond_memory.sh
#
# Needs root (the cgroup, dropping caches) and 4.5 GiB under $BENCH_TMPDIR
# (default $TMPDIR or /var/tmp). RUNS (default 3), DUPSWEEP and BEFORE (a
# second dupsweep build timed in the same runs) as for the other scripts.
# dupsweep runs on a hard-linked copy of the corpus, remade before each run.
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
runs="${RUNS:-3}"
"$(dirname "$here")/scripts/install_deps.sh" jdupes time >&2
dupsweep="$("$here/dupsweep_binary.sh")"
before="${BEFORE:+$(realpath "$BEFORE")}"

work="$(mktemp -d "${BENCH_TMPDIR:-${TMPDIR:-/var/tmp}}/beyond.XXXXXX")"
group=""
cleanup() {
  [[ -n $group ]] && rmdir "$group" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# A memory cgroup of 1 GiB: v2 memory.max, or v1 memory.limit_in_bytes.
if [[ -f /sys/fs/cgroup/cgroup.controllers ]]; then
  group=/sys/fs/cgroup/dupsweep-bench.$$
  mkdir "$group"
  echo 1G >"$group/memory.max"
else
  group=/sys/fs/cgroup/memory/dupsweep-bench.$$
  mkdir "$group"
  echo 1G >"$group/memory.limit_in_bytes"
fi

mkdir "$work/corpus"
perl "$here/make_corpus.pl" pairs "$work/corpus" 32 134217728 >/dev/null

# $1: a name for the table, the rest: the command, run in the cgroup after
# the caches are dropped.
timed() {
  local name=$1
  shift
  sync
  echo 3 >/proc/sys/vm/drop_caches
  sh -c 'echo $$ > "$0/cgroup.procs" && exec "$@"' "$group" \
    /usr/bin/time -a -o "$work/times" -f "$name %e %U %S" "$@" >/dev/null
}

fresh_copy() {
  rm -rf "$work/copy"
  cp -al "$work/corpus" "$work/copy"
}

for _ in $(seq "$runs"); do
  fresh_copy
  timed dupsweep "$dupsweep" "$work/copy"
  if [[ -n $before ]]; then
    fresh_copy
    timed before "$before" "$work/copy"
  fi
  timed jdupes jdupes -q "$work/corpus"
  timed cat sh -c "cat \"$work\"/corpus/* >/dev/null"
done

grep -m1 'model name' /proc/cpuinfo
awk -f "$here/medians.awk" -v refs="jdupes cat" "$work/times"
