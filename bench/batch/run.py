#!/usr/bin/env python3
"""Timing of the batch tool: bench/batch/run.py BUILD_DIR [RUNS]

1. 1000 files of 1000 noisy points, quintolex-batch -j 2 (wall time).
2. One noisy file of 200000 points: quintolex-batch -j 1 against the dialogue
   (quintolex with the name from the command line and two empty answers).
Prints the median and the spread of RUNS runs of each, wall and processor time (the
processor time of the 1000 files, halved, is what two idle processors would take).
"""
import math, os, random, resource, statistics, subprocess, sys, tempfile, time


def noisy(path, n, rng):
    with open(path, "w") as out:
        for k in range(n):
            t = 30.0 * k / n
            out.write("%.7g %.7g\n" % (t, 40 * math.exp(-((t - 12) / 2) ** 2) + rng.gauss(0, 0.5)))


def run_once(command, stdin=b""):
    """Wall seconds and processor seconds (user + system, children included)."""
    before, start = resource.getrusage(resource.RUSAGE_CHILDREN), time.perf_counter()
    subprocess.run(command, input=stdin, stdout=subprocess.DEVNULL, check=False)
    wall, after = time.perf_counter() - start, resource.getrusage(resource.RUSAGE_CHILDREN)
    return wall, after.ru_utime - before.ru_utime + after.ru_stime - before.ru_stime


def summary(label, samples):
    walls, cpus = [w for w, _ in samples], [c for _, c in samples]
    print("%s: wall median %.3f s (min %.3f, max %.3f), processor median %.3f s"
          % (label, statistics.median(walls), min(walls), max(walls), statistics.median(cpus)))


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
    summary("1000 files x 1000 points, -j 2", [run_once([batch, "-j", "2"] + names) for _ in range(runs)])
    # The two programs alternate, so that both meet the same load of the machine.
    pairs = [(run_once([batch, "-j", "1", big]), run_once([classic, big], b"\n\n")) for _ in range(runs)]
    summary("200000 points, quintolex-batch", [b for b, _ in pairs])
    summary("200000 points, quintolex", [c for _, c in pairs])
    print("200000 points: median ratio of wall times %.2f, of processor times %.2f"
          % (statistics.median(b[0] / c[0] for b, c in pairs), statistics.median(b[1] / c[1] for b, c in pairs)))


main()
