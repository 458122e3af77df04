#!/usr/bin/env python3
"""Command lines of the batch tool that end before any file is processed, or whose
outcome is decided by one value: command_line_test.py QUINTOLEX_BATCH

Each row runs the real executable in a fresh directory holding good.txt (a valid
profile) and checks its exit status and the first line of its standard error."""
import os, shutil, subprocess, sys, tempfile

GOOD = b"0 0\n1 2\n2 0\n"

# name, arguments, standard output ("pipe" or "/dev/full"), status, first line of standard error
ROWS = [
    ("empty window start", ["--from", "", "good.txt"], "pipe", 2, "quintolex-batch: --from '': not a time"),
    ("empty window end", ["--to", "", "good.txt"], "pipe", 2, "quintolex-batch: --to '': not a time"),
    ("empty end after a start", ["--from", "0", "--to", "", "good.txt"], "pipe", 2,
     "quintolex-batch: --to '': not a time"),
    ("window given in full", ["--from", "0", "--to", "2", "good.txt"], "pipe", 0, ""),
    ("help written", ["--help"], "pipe", 0, ""),
    ("help on a full disk", ["--help"], "/dev/full", 1,
     "quintolex-batch: cannot write to standard output: No space left on device"),
    ("version on a full disk", ["--version"], "/dev/full", 1,
     "quintolex-batch: cannot write to standard output: No space left on device"),
]


def run_row(program, args, stdout):
    folder = tempfile.mkdtemp(prefix="quintolex-command-line-")
    try:
        with open(os.path.join(folder, "good.txt"), "wb") as out:
            out.write(GOOD)
        sink = open("/dev/full", "wb") if stdout == "/dev/full" else subprocess.PIPE
        try:
            done = subprocess.run([program] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=sink,
                                  stderr=subprocess.PIPE, timeout=60)
        finally:
            if sink is not subprocess.PIPE:
                sink.close()
        return done.returncode, done.stdout or b"", done.stderr.decode("utf-8", "replace")
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def main():
    program = os.path.abspath(sys.argv[1])
    failures = 0
    for name, args, stdout, status, first_error in ROWS:
        code, out, err = run_row(program, args, stdout)
        got_error = err.split("\n", 1)[0]
        problems = []
        if code != status:
            problems.append(f"status {code}, expected {status}")
        if got_error != first_error:
            problems.append(f"standard error starts {got_error!r}, expected {first_error!r}")
        if status == 0 and stdout == "pipe" and not out:
            problems.append("nothing written to standard output")
        if problems:
            failures += 1
            print(f"{name}: {args}: " + "; ".join(problems))
    print(f"{len(ROWS) - failures} of {len(ROWS)} rows as expected")
    sys.exit(1 if failures else 0)


main()
