#!/usr/bin/env python3
"""Timing of the batch tool: bench/batch/run.py BUILD_DIR [RUNS]

1. 1000 files of 1000 noisy points, quintolex-batch -j 2 (wall time).
2. One noisy file of 200000 points: quintolex-batch -j 1 against the dialogue
   (quintolex with the name from the command line and two empty answers).
Prints the median and the spread of RUNS runs of each.
"""
import math, os, random, statistics, subprocess, sys, tempfile, time


def noisy(path, n, rng):
    with open(path, "w") as out:
        for k in range(n):
            t = 30.0 * k / n
            out.write("%.7g %.7g\n" % (t, 40 * math.exp(-((t - 12) / 2) ** 2) + rng.gauss(0, 0.5)))


def timed(command, runs, stdin=b""):
    times = []
    for _ in range(runs):
        start = time.perf_counter()
        subprocess.run(command, input=stdin, stdout=subprocess.DEVNULL, check=False)
        times.append(time.perf_counter() - start)
    return statistics.median(times), min(times), max(times)


def main():
    build, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5
    batch, classic = os.path.join(build, "quintolex-batch"), os.path.join(build, "quintolex")
    folder, rng = tempfile.mkdtemp(), random.Random(1)
    names = []
    for k in range(1000):
        names.append(os.path.join(folder, "f%04d.txt" % k))
        noisy(names[-1], 1000, rng)
    big = os.path.join(folder, "big.txt")
    noisy(big, 200000, rng)
    print("1000 files x 1000 points, -j 2: median %.3f s (min %.3f, max %.3f)"
          % timed([batch, "-j", "2"] + names, runs))
    b = timed([batch, "-j", "1", big], runs)
    c = timed([classic, big], runs, b"\n\n")
    print("200000 points: batch median %.3f s (min %.3f, max %.3f)" % b)
    print("200000 points: dialogue median %.3f s (min %.3f, max %.3f)" % c)
    print("ratio of medians: %.2f" % (b[0] / c[0]))


main()
