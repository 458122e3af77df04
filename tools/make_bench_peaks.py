#!/usr/bin/env python3
"""Writes the three 200000-point data files the whole-run benchmarks read
(tools/bench_run.sh): points 0.0001 apart, a Gaussian peak of height 100 and width
0.5 ten time units after the first point, two columns (time, concentration).

  noisy.txt    times from 0, uniform noise of +-10 (10% of the peak height)
  centred.txt  the same with times from -10: the peak is centred on t = 0
  smooth.txt   times from 0, no noise

Usage: make_bench_peaks.py DIRECTORY. The noise comes from a fixed seed, so the
files are the same on every run."""
import math
import os
import random
import sys

COUNT = 200000


def write_peak(path, start, noise):
    rng = random.Random(2024)
    lines = []
    for i in range(COUNT):
        t = start + 0.0001 * i
        z = (t - start - 10.0) / 0.5
        c = 100.0 * math.exp(-z * z / 2.0)
        if noise:
            c += 20.0 * (rng.random() - 0.5)
        lines.append(f"{t:.4f} {c:.6f}\n")
    with open(path, "w", newline="\n") as out:
        out.writelines(lines)


def main():
    if len(sys.argv) != 2:
        sys.exit("usage: make_bench_peaks.py DIRECTORY")
    directory = sys.argv[1]
    os.makedirs(directory, exist_ok=True)
    write_peak(os.path.join(directory, "noisy.txt"), 0.0, True)
    write_peak(os.path.join(directory, "centred.txt"), -10.0, True)
    write_peak(os.path.join(directory, "smooth.txt"), 0.0, False)


if __name__ == "__main__":
    main()
