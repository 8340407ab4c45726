#!/usr/bin/env bash
# Shows what the kernel costs dupsweep per byte it reads, beside a plain
# sequential reader (cat) of the same files in the same hyperfine run, on
# two corpora of 4 MiB files: pairs (every file has one copy, so each pair
# is read in the pass and once more before its deletion) and all different
# (read once). Also times jdupes (pairs) and `openssl dgst -sha1` (all
# different) beside it. Prints the CPU, its SHA-1 lane kernels and caches
# first, since every figure depends on them.
#
#   bench/systime.sh
#
# Environment:
#   BENCH_TMPDIR  where the work folder is made (default: $TMPDIR or /tmp)
#   RUNS          timed runs per command (default 10)
#   DUPSWEEP      a dupsweep binary to time instead of building build/dupsweep
#   BEFORE        a second dupsweep binary timed in the same runs (optional)
#   COLD=1        drop the page cache before every timed run (needs root)
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"
runs="${RUNS:-10}"

"$top/scripts/install_deps.sh" jdupes hyperfine openssl jq
dupsweep="$("$here/dupsweep_binary.sh")"
before="${BEFORE:+$(realpath "$BEFORE")}"

drop=""
if [[ "${COLD:-}" == 1 ]]; then
  if ! { sync && echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
    echo "Cannot drop the page cache here (needs root)." >&2
    exit 1
  fi
  drop=" && sync && echo 3 > /proc/sys/vm/drop_caches"
fi

# ---- the machine ------------------------------------------------------------
flags=$(grep -m1 '^flags' /proc/cpuinfo)
kernels=""
for pair in "avx512bw:AVX-512 x16" "avx2:AVX2 x8" "sha_ni:SHA-NI x4"; do
  [[ " $flags " == *" ${pair%%:*} "* ]] && kernels+="${pair#*:}, "
done
echo "CPU: $(grep -m1 'model name' /proc/cpuinfo | cut -d: -f2- | sed 's/^ //')," \
  "$(nproc) CPUs; SHA-1 lane kernels: ${kernels}portable" \
  "(the cheapest for the lanes of each round is used)"
echo "Caches: $(lscpu | awk -F: '/cache/ { gsub(/^ +/, "", $2); printf "%s %s; ", $1, $2 }')"
echo "Kernel: $(uname -r)"

# ---- work folder ------------------------------------------------------------
parent="${BENCH_TMPDIR:-${TMPDIR:-/tmp}}"
work="$(mktemp -d "$parent/dupsweep-systime.XXXXXX")"
case "$work" in
  "$top"/*) echo "The work folder must lie outside the repository." >&2; exit 1 ;;
esac
trap 'rm -rf -- "$work"' EXIT
mkdir -p "$work/corpus/pairs" "$work/corpus/distinct" "$work/run"
perl "$here/make_corpus.pl" pairs "$work/corpus/pairs" 200 4194304 >/dev/null
perl "$here/make_corpus.pl" distinct "$work/corpus/distinct" 400 4194304 \
  >/dev/null

# ---- one corpus -------------------------------------------------------------
# measure NAME PEER-NAME PEER-COMMAND: the bytes dupsweep reads are counted
# from its own output (each hashed file once, each deleted file and its
# keeper once more), cat's and the peer's are the corpus.
measure() {
  local name=$1 peer_name=$2 peer=$3
  local corpus="$work/corpus/$name" copy="$work/run/$name"
  local json="$work/$name.json"
  local prepare="rm -rf $copy && cp -al $corpus $copy$drop"
  local bytes deleted
  bytes=$(du -sb "$corpus" | cut -f1)
  cp -al "$corpus" "$copy.probe"
  deleted=$("$dupsweep" "$copy.probe" | grep -c '^Erasing : ' || true)
  rm -rf "$copy.probe"
  local read_by_dupsweep=$((bytes + deleted * 2 * 4194304))
  local commands=(-n dupsweep "$dupsweep $copy")
  [[ -n "$before" ]] && commands+=(-n before "$before $copy")
  hyperfine -N --runs "$runs" --warmup 1 --export-json "$json" \
    --prepare "sh -c '$prepare'" "${commands[@]}" \
    -n cat "sh -c 'cat $corpus/*'" -n "$peer_name" "$peer" >/dev/null
  echo
  echo "$name: $((bytes / 1048576)) MiB, $deleted deletions;" \
    "dupsweep reads $((read_by_dupsweep / 1048576)) MiB"
  jq -r --argjson mine "$read_by_dupsweep" --argjson all "$bytes" '
    (.results[] | select(.command == "cat") | .system / $all) as $cat |
    (.results[] | select(.command == "dupsweep") | .mean) as $own |
    .results[] |
    (if (.command == "dupsweep" or .command == "before")
     then $mine else $all end) as $read |
    "  \(.command): wall \(.mean * 1000 | round) ms, user \(.user * 1000 |
      round) ms, sys \(.system * 1000 | round) ms; sys per GiB read \(
      .system / $read * 1073741824 * 1000 | round) ms (\(.system / $read /
      $cat * 100 | round / 100)x cat); dupsweep takes \($own / .mean * 100 |
      round / 100)x its time"' "$json"
}

measure pairs jdupes "jdupes -q $work/corpus/pairs"
measure distinct openssl "sh -c 'openssl dgst -sha1 $work/corpus/distinct/* >/dev/null'"
