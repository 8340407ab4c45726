#!/usr/bin/env bash
# Times dupsweep against fdupes, jdupes, rdfind and rmlint on generated
# corpora, with `openssl dgst -sha1` over the same bytes as the floor for the
# large-file corpora, and writes the "Peers" section of bench/RESULTS.md.
#
#   bench/peers.sh            full run (about ten minutes on two cores)
#
# Environment:
#   BENCH_TMPDIR   where the work folder is made (default: $TMPDIR or /tmp)
#   RUNS_LARGE     timed runs per command on the 4 MiB corpora (default 3)
#   RUNS_SMALL     timed runs per command on the small-file corpora (default 3)
#   BENCH_QUICK=1  tiny corpora, nothing recorded: checks the script only
#   KEEP_WORK=1    leave the work folder (corpora, outputs) for profiling
#   DUPSWEEP       a dupsweep binary to time instead of building build/dupsweep
#   COLD=1         drop the page cache before every timed run (needs root; the
#                  run is skipped, saying so, where it is not permitted) and
#                  write the "Peers, cold page cache" section instead
set -euo pipefail

here="$(cd "$(dirname "$0")" && pwd)"
top="$(dirname "$here")"
runs_large="${RUNS_LARGE:-3}"
runs_small="${RUNS_SMALL:-3}"

# ---- tools ------------------------------------------------------------------
"$top/scripts/install_deps.sh" fdupes jdupes rdfind rmlint hyperfine time \
  openssl

dupsweep="$("$here/dupsweep_binary.sh")"

heading="Peers"
drop_caches=""
if [[ "${COLD:-}" == 1 ]]; then
  if ! { sync && echo 3 >/proc/sys/vm/drop_caches; } 2>/dev/null; then
    echo "Cannot drop the page cache here (needs root): cold runs skipped." >&2
    exit 0
  fi
  heading="Peers, cold page cache"
  drop_caches="sync && echo 3 > /proc/sys/vm/drop_caches"
fi

# ---- work folder ------------------------------------------------------------
parent="${BENCH_TMPDIR:-${TMPDIR:-/tmp}}"
free_kib=$(df -Pk "$parent" | awk 'NR == 2 { print $4 }')
if ((free_kib < 6 * 1024 * 1024)); then
  echo "Need 6 GiB free under $parent, have $((free_kib / 1024)) MiB." >&2
  exit 1
fi
work="$(mktemp -d "$parent/dupsweep-peers.XXXXXX")"
case "$work" in
  "$top"/*) echo "The work folder must lie outside the repository." >&2; exit 1 ;;
esac
cleanup() {
  if [[ "${KEEP_WORK:-}" == 1 ]]; then
    echo "Work folder kept: $work"
  else
    rm -rf -- "$work"
  fi
}
trap cleanup EXIT
corpus="$work/corpus"   # read-only by convention: peers run here
run="$work/run"         # dupsweep deletes in hard-linked copies made here
out="$work/out"         # every output file any tool writes
mkdir -p "$corpus" "$run" "$out"

# ---- corpora ----------------------------------------------------------------
declare -A expected
make_corpus() {  # name kind count bytes [seed]
  local name=$1; shift
  mkdir "$corpus/$name"
  echo "Generating corpus $name ($*) ..."
  expected[$name]=$(perl "$here/make_corpus.pl" "$1" "$corpus/$name" "${@:2}")
}
large_count=400 large_bytes=$((4 * 1024 * 1024)) small_count=100000
if [[ "${BENCH_QUICK:-}" == 1 ]]; then  # a smoke test of the script itself
  large_count=40 large_bytes=$((256 * 1024)) small_count=2000
fi
make_corpus a pairs "$large_count" "$large_bytes"
make_corpus b distinct "$large_count" "$large_bytes"
make_corpus c small "$small_count" 4096 1
make_corpus c2 small $((2 * small_count)) 4096 2

# Every timing below is of a warm page cache: read all bytes once now. The
# copies dupsweep runs on are hard links to these inodes, so they are warm too.
for name in a b c c2; do
  [[ -n $drop_caches ]] || find "$corpus/$name" -type f -print0 | xargs -0 cat >/dev/null
done

load_before=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- timing -----------------------------------------------------------------
# A hard-linked copy costs no data I/O and shares the page cache; dupsweep
# only unlinks names, so the original corpus stays whole.
prepare_copy() { echo "rm -rf '$run/$1' && cp -al '$corpus/$1' '$run/$1'"; }

time_peers() {  # corpus runs
  local name=$1 runs=$2 dir="$corpus/$1"
  local commands=(
    -n fdupes "fdupes -q '$dir'"
    -n jdupes "jdupes -q '$dir'"
    -n rdfind "rdfind -dryrun true -outputname '$out/rdfind-$name.txt' '$dir'"
    -n rmlint "rmlint -o sh:'$out/rmlint-$name.sh' -o json:'$out/rmlint-$name.json' -o summary:stdout '$dir'"
  )
  if [[ $name == a || $name == b ]]; then
    commands+=(-n openssl "openssl dgst -sha1 '$dir'/* >/dev/null")
  fi
  hyperfine --style basic --warmup 1 --runs "$runs" \
    ${drop_caches:+--prepare "$drop_caches"} \
    --export-csv "$out/peers-$name.csv" "${commands[@]}"
}

time_dupsweep() {  # corpus runs
  local name=$1 runs=$2
  hyperfine --style basic --runs "$runs" \
    --prepare "$(prepare_copy "$name")${drop_caches:+ && $drop_caches}" \
    --export-csv "$out/dupsweep-$name.csv" \
    -n dupsweep "'$dupsweep' '$run/$name'"
}

# Peak resident memory, and whether the run left exactly one file per content.
check_dupsweep() {  # corpus
  local name=$1
  eval "$(prepare_copy "$name")"
  /usr/bin/time -f %M -o "$out/rss-$name.txt" \
    "$dupsweep" "$run/$name" >"$out/dupsweep-$name.log"
  local left
  left=$(find "$run/$name" -type f | wc -l)
  if [[ $left -ne ${expected[$name]} ]]; then
    echo "dupsweep left $left files in $name, expected ${expected[$name]}" >&2
    exit 1
  fi
}

for name in a b; do
  check_dupsweep "$name"
  time_dupsweep "$name" "$runs_large"
  time_peers "$name" "$runs_large"
done
for name in c c2; do
  check_dupsweep "$name"
  time_dupsweep "$name" "$runs_small"
done
time_peers c "$runs_small"

load_after=$(cut -d' ' -f1-3 /proc/loadavg)

# ---- summary ----------------------------------------------------------------
mean_of() {  # csv command-name
  awk -F, -v n="$2" 'NR > 1 && $1 == n { print $2 }' "$1"
}
cpu_of() {  # csv command-name: mean user + system seconds
  awk -F, -v n="$2" 'NR > 1 && $1 == n { print $5 + $6 }' "$1"
}
ratio() { awk -v x="$1" -v y="$2" 'BEGIN { printf "%.2f", x / y }'; }
verdict() { awk -v c="$1" 'BEGIN { print (c ? "met" : "NOT met") }'; }
lt() { awk -v x="$1" -v y="$2" 'BEGIN { print (x < y) }'; }

# CPU time is shown beside wall time because on a shared machine it is the
# steadier of the two; the targets are judged on wall time.
table="$out/table.md"
{
  echo "| corpus | tool | wall (s) | CPU (s) | wall / dupsweep | CPU / dupsweep |"
  echo "|---|---|---:|---:|---:|---:|"
  for name in a b c; do
    d=$(mean_of "$out/dupsweep-$name.csv" dupsweep)
    dcpu=$(cpu_of "$out/dupsweep-$name.csv" dupsweep)
    printf '| %s | dupsweep | %.3f | %.3f | 1.00 | 1.00 |\n' "$name" "$d" "$dcpu"
    for tool in fdupes jdupes rdfind rmlint openssl; do
      m=$(mean_of "$out/peers-$name.csv" "$tool")
      [[ -n $m ]] || continue
      c=$(cpu_of "$out/peers-$name.csv" "$tool")
      printf '| %s | %s | %.3f | %.3f | %s | %s |\n' "$name" "$tool" "$m" "$c" \
        "$(ratio "$m" "$d")" "$(ratio "$c" "$dcpu")"
    done
  done
  printf '| c2 | dupsweep | %.3f | %.3f | - | - |\n' \
    "$(mean_of "$out/dupsweep-c2.csv" dupsweep)" "$(cpu_of "$out/dupsweep-c2.csv" dupsweep)"
} >"$table"

da=$(mean_of "$out/dupsweep-a.csv" dupsweep)
db=$(mean_of "$out/dupsweep-b.csv" dupsweep)
dc=$(mean_of "$out/dupsweep-c.csv" dupsweep)
dc2=$(mean_of "$out/dupsweep-c2.csv" dupsweep)
oa=$(mean_of "$out/peers-a.csv" openssl)
ob=$(mean_of "$out/peers-b.csv" openssl)
rss_c=$(cat "$out/rss-c.txt")
rss_limit=$((4096 + small_count / 2))  # KiB: 4 MiB + 512 bytes per file
slowest_c=1
for tool in fdupes jdupes rdfind rmlint; do
  [[ $(lt "$dc" "$(mean_of "$out/peers-c.csv" "$tool")") == 1 ]] || slowest_c=0
done
a_beats=1
for tool in fdupes rdfind rmlint; do
  [[ $(lt "$da" "$(mean_of "$out/peers-a.csv" "$tool")") == 1 ]] || a_beats=0
done

checks="$out/checks.md"
{
  echo "| target | figure | verdict |"
  echo "|---|---|---|"
  echo "| (c) faster than every peer | see table | $(verdict "$slowest_c") |"
  echo "| (a) faster than fdupes, rdfind, rmlint | see table | $(verdict "$a_beats") |"
  echo "| (a) jdupes / dupsweep | $(ratio "$(mean_of "$out/peers-a.csv" jdupes)" "$da") | reported |"
  echo "| (a) dupsweep / openssl <= 1.1 | $(ratio "$da" "$oa") (CPU $(ratio "$(cpu_of "$out/dupsweep-a.csv" dupsweep)" "$(cpu_of "$out/peers-a.csv" openssl)")) | $(verdict "$(lt "$da" "$(awk -v o="$oa" 'BEGIN{print o*1.1}')")") |"
  echo "| (b) dupsweep / openssl <= 1.1 | $(ratio "$db" "$ob") (CPU $(ratio "$(cpu_of "$out/dupsweep-b.csv" dupsweep)" "$(cpu_of "$out/peers-b.csv" openssl)")) | $(verdict "$(lt "$db" "$(awk -v o="$ob" 'BEGIN{print o*1.1}')")") |"
  echo "| (c) peak RSS < 4 MiB + 512 B/file | ${rss_c} KiB of ${rss_limit} KiB ($(ratio "$rss_c" "$rss_limit")) | $(verdict "$(lt "$rss_c" "$rss_limit")") |"
  echo "| time(c2) / time(c) <= 2.2 | $(ratio "$dc2" "$dc") (CPU $(ratio "$(cpu_of "$out/dupsweep-c2.csv" dupsweep)" "$(cpu_of "$out/dupsweep-c.csv" dupsweep)")) | $(verdict "$(lt "$dc2" "$(awk -v c="$dc" 'BEGIN{print c*2.2}')")") |"
  echo
  echo "Peak RSS of dupsweep (KiB): a $(cat "$out/rss-a.txt"), b $(cat "$out/rss-b.txt"), c ${rss_c}, c2 $(cat "$out/rss-c2.txt")."
} >"$checks"

echo
cat "$table"
echo
cat "$checks"

# ---- RESULTS.md ---------------------------------------------------------------
versions="$out/versions.txt"
{
  echo "- dupsweep $(git -C "$top" describe --always --dirty 2>/dev/null || echo '?')"
  echo "- $(fdupes --version)"
  echo "- $(jdupes --version | head -n 1)"
  echo "- $(rdfind -v)"
  echo "- rmlint $(rmlint --version 2>&1 | head -n 1 | awk '{ print $2 }')"
  echo "- $(openssl version)"
  echo "- $(hyperfine --version)"
  echo "- $(lscpu | awk -F: '/Model name/ { gsub(/^ +/, "", $2); print $2; exit }'), $(nproc) cores, $(uname -r)"
} >"$versions"

section="$out/section.md"
{
  echo "## $heading"
  echo
  echo "Run of $(date -u '+%Y-%m-%d %H:%M UTC') by \`bench/peers.sh\`; $([[ -n $drop_caches ]] && echo "page cache dropped before every run" || echo "warm page cache");"
  echo "hyperfine means over $runs_large runs (a, b) and $runs_small runs (c, c2)."
  echo "Load average (1, 5, 15 min) before the timings: $load_before; after: $load_after."
  echo
  echo "Corpora (one flat directory each): a = 400 files of 4 MiB in 200 identical"
  echo "pairs; b = 400 files of 4 MiB, all different; c = 100,000 files of 1..4096"
  echo "bytes, about one in ten a copy; c2 = the same with 200,000 files."
  echo
  echo "Commands (peers never delete and write their outputs outside the corpus;"
  echo "dupsweep runs on a hard-linked copy remade before every run, untimed):"
  echo
  echo '```'
  echo "fdupes -q DIR"
  echo "jdupes -q DIR"
  echo "rdfind -dryrun true -outputname WORK/rdfind.txt DIR"
  echo "rmlint -o sh:WORK/rmlint.sh -o json:WORK/rmlint.json -o summary:stdout DIR"
  echo "openssl dgst -sha1 DIR/*          # a and b only"
  echo "dupsweep COPY                     # prepare: rm -rf COPY && cp -al DIR COPY"
  echo "/usr/bin/time -f %M dupsweep COPY # peak RSS, untimed"
  echo '```'
  echo
  echo "Versions:"
  echo
  cat "$versions"
  echo
  cat "$table"
  echo
  cat "$checks"
  echo
} >"$section"

if [[ "${BENCH_QUICK:-}" == 1 ]]; then
  echo "Quick run: $here/RESULTS.md left as it was."
  exit 0
fi
results="$here/RESULTS.md"
[[ -f $results ]] || printf '# Benchmark results\n\n' >"$results"
# Replace only this section so other benchmarks' sections survive.
awk -v file="$section" -v heading="## $heading" '
  $0 == heading { skipping = 1; while ((getline line < file) > 0) print line; done = 1; next }
  skipping && /^## / { skipping = 0 }
  !skipping { print }
  END { if (!done) while ((getline line < file) > 0) print line }
' "$results" >"$out/RESULTS.md"
cp "$out/RESULTS.md" "$results"
echo "Wrote $results"
