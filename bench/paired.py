#!/usr/bin/env python3
"""Times two dupsweep builds on one corpus in pairs of runs, the order
alternating from pair to pair, and prints each build's median wall and CPU
time and the median of the pairs' ratios, second build to first.

    bench/paired.py CORPUS RUNS FIRST SECOND

A host whose speed drifts from minute to minute moves both runs of a pair
alike, so the ratio of a pair says more than the ratio of two medians.
CORPUS is a folder made by make_corpus.pl; before every run it is copied
afresh by hard links into a folder made beside it, and only that copy is
given to the program. The page cache stays warm.
"""
import os
import resource
import shutil
import statistics
import subprocess
import sys
import tempfile
import time


def timed_run(binary, corpus, work):
    copy = os.path.join(work, "copy")
    shutil.rmtree(copy, ignore_errors=True)
    subprocess.run(["cp", "-al", corpus, copy], check=True)
    subprocess.run(["sync"], check=True)
    before = resource.getrusage(resource.RUSAGE_CHILDREN)
    start = time.monotonic()
    subprocess.run([binary, copy], stdout=subprocess.DEVNULL, check=True)
    wall = time.monotonic() - start
    after = resource.getrusage(resource.RUSAGE_CHILDREN)
    cpu = (after.ru_utime - before.ru_utime) + (after.ru_stime - before.ru_stime)
    return wall, cpu


def main():
    corpus = os.path.realpath(sys.argv[1])
    runs = int(sys.argv[2])
    first, second = (os.path.realpath(b) for b in sys.argv[3:5])
    work = tempfile.mkdtemp(prefix="paired.", dir=os.path.dirname(corpus))
    times = {first: [], second: []}
    try:
        for pair in range(runs):
            for binary in (first, second) if pair % 2 == 0 else (second, first):
                times[binary].append(timed_run(binary, corpus, work))
    finally:
        shutil.rmtree(work)
    for binary in (first, second):
        print("%s: %d runs, median wall %.3f s, median CPU %.3f s" % (
            binary, runs, statistics.median(t[0] for t in times[binary]),
            statistics.median(t[1] for t in times[binary])))
    walls = [b[0] / a[0] for a, b in zip(times[first], times[second])]
    cpus = [b[1] / a[1] for a, b in zip(times[first], times[second])]
    quartiles = statistics.quantiles(walls, n=4)
    print("second / first: wall %.3f (quartiles %.3f-%.3f), CPU %.3f" % (
        statistics.median(walls), quartiles[0], quartiles[2],
        statistics.median(cpus)))


if __name__ == "__main__":
    main()
