"""The mixed batch the report's tests (and tools/report_screenshot.py) look at: ok
peaks, a quadrature warning, a narrow spike the quadrature misses, a file without
data, a long-format file of three subjects, and hostile names, all read as tables
with the columns Subject, Time and conc, one profile per subject."""
import csv, io, math, os, subprocess

OPTIONS = ["--time-column", "Time", "--value-column", "conc", "--group-column", "Subject"]
HEADER = "Subject,Time,conc\n"
HOSTILE = "<img src=x onerror=alert(1)>.csv"
# Quotes, an ampersand, a byte that is not UTF-8 and a control character.
ODD = b"\"quoted\" & 'single' \xff\x01.csv"
SCRIPT_SUBJECT = "<script>alert(2)</script>"
# Characters on either side of each range the page writes as \xHH: C1 controls,
# U+FDD0 to U+FDEF, and the last two of a plane (U+1FFFF); U+100000 and U+1F600 stay.
EDGES = "edges \u009f\u00a0\ufdef\ufdf0\U0001ffff\U00100000\U0001f600.csv"


def gaussian(subject, n, centre, width, top, wobble=0.0):
    return "".join(f"{subject},{20.0 * k / n:.5f},{top * math.exp(-((20.0 * k / n - centre) / width) ** 2) + wobble * math.sin(k * 1.7):.5f}\n"
                   for k in range(n + 1))


def spike():
    times = [float(t) for t in range(40)] + [19.9995, 19.9998]
    return "".join(f"S,{t},{1000.0 if t == 19.9998 else 0.0}\n" for t in sorted(times))


def study():
    return "".join(f"{subject},{t},{dose * t * math.exp(-t / 3):.4f}\n"
                   for subject, dose in (("1", 10), (SCRIPT_SUBJECT, 7), ("3", 12))
                   for t in (0, 0.5, 1, 2, 4, 6, 8, 12, 24))


FILES = [
    ("run 01.csv", HEADER + gaussian("A", 400, 8, 1.5, 20)),
    ("run 02.csv", HEADER + gaussian("A", 1000, 11, 0.8, 35, 0.4)),
    ("roundoff.csv", HEADER + "A,0,-1000\nA,1,1000\n"),
    ("spike.csv", HEADER + spike()),
    ("empty.csv", HEADER + "no data were acquired\n"),
    ("study.csv", HEADER + study()),
    (HOSTILE, HEADER + gaussian("A", 100, 3, 1, 4)),
    (ODD, HEADER + gaussian("A", 50, 10, 3, 2)),
    (EDGES, HEADER + gaussian("A", 20, 10, 3, 2)),
]


def make(folder):
    """Writes the files into `folder`; returns their names, as bytes, in batch order."""
    names = []
    for name, text in FILES:
        name = os.fsencode(name)
        with open(os.path.join(os.fsencode(folder), name), "w") as out:
            out.write(text)
        names.append(name)
    return names


def run(program, folder, report, extra=()):
    """Runs the batch in `folder` with --report; returns (status, table rows as dicts
    of the CSV's bytes decoded with surrogate escapes, stderr)."""
    names = make(folder)
    done = subprocess.run([program, *OPTIONS, "--report", report, *extra, *names], cwd=folder,
                          capture_output=True, timeout=120)
    text = done.stdout.decode("utf-8", "surrogateescape")
    return done.returncode, list(csv.DictReader(io.StringIO(text, newline=""))), done.stderr
