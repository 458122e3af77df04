#!/usr/bin/env python3
"""Writes examples/peak.txt: a sampled chromatography-like peak (a Gaussian with an
exponential tail on a slightly drifting baseline, with a little detector noise),
two columns: time in minutes, concentration in mg/L."""
import math
import random

random.seed(20261206)
lines = []
for i in range(391):
    t = 0.5 + 0.05 * i
    # Exponentially modified Gaussian: centre 8.2 min, width 0.45 min, tail 0.9 min.
    mu, sigma, tau, height = 8.2, 0.45, 0.9, 36.0
    z = (t - mu) / sigma - sigma / tau
    emg = height * (sigma / tau) * math.sqrt(math.pi / 2) * math.exp(
        0.5 * (sigma / tau) ** 2 - (t - mu) / tau) * math.erfc(-z / math.sqrt(2))
    baseline = 0.15 + 0.004 * t
    c = emg + baseline + random.gauss(0.0, 0.02)
    lines.append(f"{t:7.2f}  {c:9.4f}\n")
with open("examples/peak.txt", "w", newline="\n") as out:
    out.writelines(lines)
