#!/usr/bin/env python3
"""cross_check.py QUINTOLEX QUINTOLEX_BATCH REFERENCE_DIR: both programs on the reference
set's files and generated ones; the batch reals as the dialogue prints them and with the
reference bits, the exact area cell by cell, a plot for each file that loads. A file whose
times go back is one the batch tool refuses (the dialogue integrates its first-match
profile): its row must be an error that names the line."""
import json, os, random, re, struct, subprocess, sys, tempfile
from decimal import Decimal

PRINTED = {"peak_area": r"Area under the curve \(peak area\?\) =\s*(\S+)",
           "last_time": r"Maximum time \(x-axis\) in your data file=\s*(\S+)",
           "point_added": r"t=0, c=\s*(\S+) data point",
           "max_concentration": r"Maxiumum concentration \(y-axis\) =\s*(\S+)",
           "area_above": r"Area above the curve =\s*(\S+)"}


def f32(x):
    return struct.unpack("f", struct.pack("f", x))[0]


def exact_area(ts, cs):
    """First interval in file order covering a cell: rising ones first, then falling."""
    total, cuts, lo, hi = 0.0, sorted(set(ts)), min(ts[0], ts[-1]), max(ts[0], ts[-1])
    for a, b in zip(cuts, cuts[1:]):
        mid, a, b = (a + b) / 2, max(a, lo), min(b, hi)
        owners = [i for i in range(1, len(ts)) if ts[i - 1] < mid < ts[i]] or \
                 [i for i in range(1, len(ts)) if ts[i] < mid < ts[i - 1]]
        if a < b and owners:
            i = owners[0]
            line = lambda x: cs[i - 1] + (cs[i] - cs[i - 1]) * (x - ts[i - 1]) / (ts[i] - ts[i - 1])
            total += (line(a) + line(b)) / 2 * (b - a)
    return total if ts[0] <= ts[-1] else -total


def generate(folder):
    rng, names = random.Random(2026), []
    for k in range(12):
        n = rng.choice([2, 40, 300, 3000])
        ts = sorted(rng.uniform(-2, 30) for _ in range(n))
        if k % 3 == 1:
            rng.shuffle(ts)
        elif k % 3 == 2:
            ts.reverse()
        lines = ["%.7g %.7g" % (t, 50 * 2.7 ** (-((t - 12) / 3) ** 2) + rng.gauss(0, 2)) for t in ts]
        names.append(os.path.join(folder, "gen%02d.txt" % k))
        open(names[-1], "w").write("\n".join(lines) + "\n")
    return names


def main():
    classic, batch, reference = sys.argv[1:4]
    data = os.path.join(reference, "data")
    folder = tempfile.mkdtemp()
    files = [os.path.join(data, name) for name in sorted(os.listdir(data))] + generate(folder)
    plots = os.path.join(folder, "plots")
    run = subprocess.run([batch, "--format", "json", "-j", "2", "--plot", plots] + files, capture_output=True)
    rows = {row["file"]: row for row in map(json.loads, run.stdout.decode().splitlines())}
    failures = [] if len(rows) == len(files) else ["%d rows for %d files" % (len(rows), len(files))]
    unsorted = set()
    for path in files:
        row = rows.get(path, {})
        pairs = [tuple(f32(float(v)) for v in line.split()) for line in open(path) if line.strip()]
        back = next((k for k in range(1, len(pairs)) if pairs[k][0] < pairs[k - 1][0]), None)
        if back is not None:
            unsorted.add(path)
            if row.get("status") != "error" or ": times go back;" not in row.get("messages", ""):
                failures.append("%s: times go back at pair %d, row %s" % (path, back + 1, row))
            continue
        shown = subprocess.run([classic, path], input=b"\n\n", capture_output=True)
        printed = {key: m.group(1) for key, pattern in PRINTED.items()
                   if (m := re.search(pattern, shown.stdout.decode()))}
        finished = "area_above" in printed
        if (row.get("status") == "ok") != finished:
            failures.append("%s: status %s, dialogue finished: %s" % (path, row.get("status"), finished))
            continue
        for key in PRINTED if finished else ():
            ours, text = row.get(key), printed.get(key)
            if (ours is None) != (text is None) or text and Decimal("%.7g" % f32(ours)) != Decimal(text):
                failures.append("%s: %s %s, dialogue %s" % (path, key, ours, text))
        if finished and len(pairs) <= 1500:
            want = exact_area([t for t, _ in pairs], [c for _, c in pairs])
            if abs(row["exact_area"] - want) > 1e-6 * max(1.0, abs(want)):
                failures.append("%s: exact area %r, cell by cell %r" % (path, row["exact_area"], want))
        stem = os.path.splitext(os.path.basename(path))[0]
        if finished and not open(os.path.join(plots, stem + ".svg"), "rb").read().startswith(b"<"):
            failures.append("%s: no plot" % path)
    for line in open(os.path.join(reference, "cases.tsv")):
        cols = line.rstrip("\n").split("\t")
        if line.startswith("#") or cols[1:4] != ["0.001", "0.001", "200000"]:
            continue
        row = rows[os.path.join(data, cols[0])]
        if os.path.join(data, cols[0]) in unsorted:
            continue
        want = {"peak_area": cols[4].split("/")[0], "area_above": cols[6]} if cols[7] == "no" else {}
        for key, hexbits in want.items():
            got = row.get(key)
            if hexbits != "-" and (got is None or struct.pack(">f", got).hex() != hexbits):
                failures.append("%s: %s %r, reference bits %s" % (cols[0], key, got, hexbits))
        if (row["status"] == "error") != (cols[7] == "yes"):
            failures.append("%s: status %s, reference stopped: %s" % (cols[0], row["status"], cols[7]))
    print("\n".join(failures) or "%d files agree" % len(files))
    sys.exit(1 if failures else 0)


main()
