#!/usr/bin/env python3
"""What a batch plot marks for a file: plot_marks_test.py QUINTOLEX_BATCH

Each row runs the real executable with --plot on one data file and checks which of
the plot's marks (by their class) the SVG holds. The point (0, c) put in front of a
profile whose first time lies after 0 is marked however little after 0 that is. The
shaded window reaches down to c = 0, a level edge, without a baseline, and down to
the slanted baseline with one."""
import os, re, shutil, subprocess, sys, tempfile

from batch_checks import report

PEAK = "0 1\n1 4\n2 3\n"

# name, data, options, exit status, marks that must be there, marks that must not, and
# whether the window's lower edge is level (None: not looked at)
ROWS = [
    ("first time 0", "0 1\n2 3\n", [], 0, ["profile", "window"], ["added-point", "baseline"]),
    ("first time just after 0", "0.05 1\n2 3\n", [], 0, ["added-point"], []),
    ("first time 1", "1 1\n2 3\n", [], 0, ["added-point"], []),
    ("linear baseline", PEAK, ["--baseline", "linear"], 0, ["baseline", "window"], []),
    # Nothing is integrated: the data alone, without window or baseline.
    ("window outside the times", PEAK, ["--from", "-1", "--baseline", "linear"], 1,
     ["profile"], ["window", "baseline"]),
    ("window down to zero", PEAK, ["--from", "0.5", "--to", "1.5"], 0, ["window"], ["baseline"], True),
    ("window down to the baseline", PEAK, ["--from", "0.5", "--to", "1.5", "--baseline", "linear"], 0,
     ["window", "baseline"], [], False),
]


def window_bottom_level(svg):
    """Whether the window's last two corners (its lower edge) have the same height."""
    shape = re.search(r'class="window"[^>]*\sd="([^"]*)"', svg)
    corners = re.findall(r"[ML]([-0-9.]+),([-0-9.]+)", shape.group(1)) if shape else []
    return len(corners) >= 2 and corners[-1][1] == corners[-2][1]


def check(program, data, options, status, present, absent, *level):
    folder = tempfile.mkdtemp(prefix="quintolex-plot-marks-")
    try:
        with open(os.path.join(folder, "run.txt"), "w") as out:
            out.write(data)
        done = subprocess.run([program, "--plot", "plots"] + options + ["run.txt"], cwd=folder,
                              capture_output=True, timeout=60)
        plot = os.path.join(folder, "plots", "run.svg")
        svg = open(plot).read() if os.path.exists(plot) else ""
        return ([f"status {done.returncode}, expected {status}"] if done.returncode != status else []) + \
               ([] if svg else ["no plot"]) + \
               [f"no {mark}" for mark in present if f'class="{mark}"' not in svg] + \
               [f"a {mark}" for mark in absent if f'class="{mark}"' in svg] + \
               ([f"the window's lower edge is {'not ' if level[0] else ''}level"]
                if level and window_bottom_level(svg) != level[0] else [])
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    program = os.path.abspath(sys.argv[1])
    sys.exit(1 if report((name, check(program, *row)) for name, *row in ROWS) else 0)


main()
