#!/usr/bin/python3
"""How long a report of 1000 profiles takes to open in headless Chromium:
bench/batch/report_open.py QUINTOLEX_BATCH [RUNS]

Writes 1000 files of 1000 noisy points (as run.py does), runs quintolex-batch
--report on them, then opens the page RUNS times, each in a fresh browser, and prints
the page's size and the medians of: the time driver.get takes (until the load event),
the load event and the first contentful paint as the page's own timing has them.
Needs Debian's chromium, chromium-driver and python3-selenium."""
import os, random, shutil, statistics, subprocess, sys, tempfile, time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..", "tests", "batch"))
from run import noisy
from browser import start_chromium


def main():
    program, runs = os.path.abspath(sys.argv[1]), int(sys.argv[2]) if len(sys.argv) > 2 else 5
    folder, rng = tempfile.mkdtemp(prefix="quintolex-report-open-"), random.Random(1)
    try:
        names = []
        for k in range(1000):
            names.append(os.path.join(folder, "f%04d.txt" % k))
            noisy(names[-1], 1000, rng)
        page = os.path.join(folder, "report.html")
        subprocess.run([program, "-j", "2", "--report", page] + names, stdout=subprocess.DEVNULL, check=False)
        gets, loads, paints = [], [], []
        for run in range(runs):
            driver = start_chromium(os.path.join(folder, f"profile-{run}"))
            try:
                start = time.perf_counter()
                driver.get("file://" + page)
                gets.append(time.perf_counter() - start)
                loads.append(driver.execute_script(
                    "return performance.getEntriesByType('navigation')[0].loadEventEnd") / 1000)
                paints.append(driver.execute_script(
                    "var p = performance.getEntriesByName('first-contentful-paint'); "
                    "return p.length ? p[0].startTime : NaN") / 1000)
            finally:
                driver.quit()
        print("report of 1000 profiles: %d bytes" % os.path.getsize(page))
        print("open in headless Chromium, medians of %d: driver.get %.3f s, load event %.3f s, "
              "first contentful paint %.3f s (max of driver.get %.3f s)"
              % (runs, statistics.median(gets), statistics.median(loads), statistics.median(paints), max(gets)))
    finally:
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
