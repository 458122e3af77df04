#!/usr/bin/env python3
"""Timing of the batch tool: bench/batch/run.py BUILD_DIR [RUNS] [BASELINE_BATCH]

1. 1000 files of 1000 noisy points, quintolex-batch -j 2 (wall time), without and
   with --plot, and with --report (and the page's size; bench/batch/report_open.py
   times its opening in a browser), and with BASELINE_BATCH (another build's
   quintolex-batch) the same with it, alternating.
2. One noisy file of 200000 points: quintolex-batch -j 1 against the dialogue
   (quintolex with the name from the command line and two empty answers).
3. The same 200000 pairs in other shapes, each against the plain two-column file:
   a third column chosen with --value-column 3, a file of sections (a peak table
   before the data) and the file in UTF-16.
Prints the median and the spread of RUNS runs of each, wall and processor time (the
processor time of the 1000 files, halved, is what two idle processors would take).
"""
import math, os, random, resource, statistics, subprocess, sys, tempfile, time


def noisy_lines(n, rng):
    return ["%.7g %.7g" % (30.0 * k / n, 40 * math.exp(-((30.0 * k / n - 12) / 2) ** 2) + rng.gauss(0, 0.5))
            for k in range(n)]


def noisy(path, n, rng):
    with open(path, "w") as out:
        out.write("\n".join(noisy_lines(n, rng)) + "\n")


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


def compare(label, pairs):
    print("%s: median ratio of wall times %.2f, of processor times %.2f"
          % (label, statistics.median(b[0] / c[0] for b, c in pairs), statistics.median(b[1] / c[1] for b, c in pairs)))


def main():
    build, runs = sys.argv[1], int(sys.argv[2]) if len(sys.argv) > 2 else 5
    baseline = sys.argv[3] if len(sys.argv) > 3 else None
    batch, classic = os.path.join(build, "quintolex-batch"), os.path.join(build, "quintolex")
    folder, rng = tempfile.mkdtemp(), random.Random(1)
    names = []
    for k in range(1000):
        names.append(os.path.join(folder, "f%04d.txt" % k))
        noisy(names[-1], 1000, rng)
    big = os.path.join(folder, "big.txt")
    noisy(big, 200000, rng)
    plots, page = os.path.join(folder, "plots"), os.path.join(folder, "report.html")
    for label, options in (("", []), (", --plot", ["--plot", plots]),
                           (", --report", ["--report", page])):
        # An older build may have no report.
        if baseline and options[:1] != ["--report"]:
            pairs = [(run_once([batch, "-j", "2"] + options + names), run_once([baseline, "-j", "2"] + options + names))
                     for _ in range(runs)]
            summary("1000 files x 1000 points, -j 2" + label, [b for b, _ in pairs])
            summary("1000 files x 1000 points, -j 2" + label + ", baseline", [c for _, c in pairs])
            compare("1000 files" + label + ": against the baseline", pairs)
        else:
            summary("1000 files x 1000 points, -j 2" + label,
                    [run_once([batch, "-j", "2"] + options + names) for _ in range(runs)])
    print("report of 1000 files: %d bytes" % os.path.getsize(page))
    # The two programs alternate, so that both meet the same load of the machine.
    pairs = [(run_once([batch, "-j", "1", big]), run_once([classic, big], b"\n\n")) for _ in range(runs)]
    summary("200000 points, quintolex-batch", [b for b, _ in pairs])
    summary("200000 points, quintolex", [c for _, c in pairs])
    compare("200000 points: batch against the dialogue", pairs)
    if baseline:
        pairs = [(run_once([batch, "-j", "1", big]), run_once([baseline, "-j", "1", big])) for _ in range(runs)]
        compare("200000 points: against the baseline", pairs)

    # Other shapes of the same pairs.
    lines = [line.split() for line in open(big)]
    shapes = {"three columns": (["Time\tStep\tValue"] + ["%s\t0.1\t%s" % (t, c) for t, c in lines], ["--value-column", "3"]),
              "sections": (["[Peak Table]", "Peak#\tR.Time", "1\t4.5", "2\t9.2", "", "[Chromatogram]", "R.Time\tIntensity"]
                           + ["%s\t%s" % (t, c) for t, c in lines], [])}
    for label, (text, options) in shapes.items():
        path = os.path.join(folder, label.replace(" ", "_") + ".txt")
        open(path, "w").write("\n".join(text) + "\n")
        pairs = [(run_once([batch, "-j", "1"] + options + [path]), run_once([batch, "-j", "1", big])) for _ in range(runs)]
        compare("200000 points, %s against two columns" % label, pairs)
    utf16 = os.path.join(folder, "utf16.txt")
    open(utf16, "wb").write(b"\xff\xfe" + open(big).read().encode("utf-16-le"))
    pairs = [(run_once([batch, "-j", "1", utf16]), run_once([batch, "-j", "1", big])) for _ in range(runs)]
    compare("200000 points, UTF-16 against UTF-8", pairs)


if __name__ == "__main__":
    main()
