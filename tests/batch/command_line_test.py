#!/usr/bin/env python3
"""Command lines of the batch tool that end before any file is processed, or whose
outcome is decided by one value: command_line_test.py QUINTOLEX_BATCH MANUAL_PAGE

Each row runs the real executable in a fresh directory holding good.txt (a valid
profile) and the row's own files, and checks its exit status and the first line of
its standard error."""
import os, re, shutil, subprocess, sys, tempfile

from batch_checks import report

GOOD = b"0 0\n1 2\n2 0\n"
LONGEST = 65536  # the longest name a --files-from list may hold

# name, arguments, standard output ("pipe" or "/dev/full"), status, first line of standard
# error, and the row's files (name: bytes)
ROWS = [
    ("empty window start", ["--from", "", "good.txt"], "pipe", 2, "quintolex-batch: --from '': not a time"),
    ("empty window end", ["--to", "", "good.txt"], "pipe", 2, "quintolex-batch: --to '': not a time"),
    ("empty end after a start", ["--from", "0", "--to", "", "good.txt"], "pipe", 2,
     "quintolex-batch: --to '': not a time"),
    ("window given in full", ["--from", "0", "--to", "2", "good.txt"], "pipe", 0, ""),
    ("help written", ["--help"], "pipe", 0, ""),
    ("timeout of zero", ["--timeout", "0", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout 0: not a positive number of seconds"),
    ("negative timeout", ["--timeout=-1", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout -1: not a positive number of seconds"),
    ("empty timeout", ["--timeout", "", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout '': not a positive number of seconds"),
    ("timeout not a number", ["--timeout", "soon", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout soon: not a positive number of seconds"),
    ("timeout with a unit", ["--timeout", "2s", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout 2s: not a positive number of seconds"),
    ("infinite timeout", ["--timeout", "inf", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout inf: not a positive number of seconds"),
    ("timeout beyond a double", ["--timeout", "1e999", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout 1e999: not a positive number of seconds"),
    ("timeout NaN", ["--timeout", "nan", "good.txt"], "pipe", 2,
     "quintolex-batch: --timeout nan: not a positive number of seconds"),
    ("timeout of a year", ["--timeout", "31536000", "good.txt"], "pipe", 0, ""),
    ("timeout beyond any clock", ["--timeout", "1e300", "good.txt"], "pipe", 0, ""),
    ("help on a full disk", ["--help"], "/dev/full", 1,
     "quintolex-batch: cannot write to standard output: No space left on device"),
    ("version on a full disk", ["--version"], "/dev/full", 1,
     "quintolex-batch: cannot write to standard output: No space left on device"),
    # A name of the longest length opens nothing (no directory takes it), but it is
    # the file's error row; one byte more is a usage error, with or without CR LF.
    ("listed name of the longest length", ["--files-from", "list"], "pipe", 1, "",
     {"list": b"a" * LONGEST + b"\ngood.txt\n"}),
    ("longest name with CR LF", ["--files-from", "list"], "pipe", 1, "", {"list": b"a" * LONGEST + b"\r\n"}),
    ("listed name one byte longer", ["--files-from", "list"], "pipe", 2,
     "quintolex-batch: --files-from list: line 2: a name longer than 65536 bytes",
     {"list": b"good.txt\n" + b"a" * (LONGEST + 1) + b"\ngood.txt\n"}),
    ("one byte longer, with CR LF", ["--files-from", "list"], "pipe", 2,
     "quintolex-batch: --files-from list: line 1: a name longer than 65536 bytes",
     {"list": b"a" * (LONGEST + 1) + b"\r\n"}),
    ("one byte longer, last line", ["--files-from", "list"], "pipe", 2,
     "quintolex-batch: --files-from list: line 1: a name longer than 65536 bytes",
     {"list": b"a" * (LONGEST + 1)}),
]


def run_row(program, args, stdout, files):
    folder = tempfile.mkdtemp(prefix="quintolex-command-line-")
    try:
        for name, data in {"good.txt": GOOD, **files}.items():
            with open(os.path.join(folder, name), "wb") as out:
                out.write(data)
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


def options_agree(program, manual):
    """The long options --help lists are those the manual page names."""
    helped = set(re.findall(r"--[a-z][a-z-]*", subprocess.run([program, "--help"], capture_output=True,
                                                             check=True).stdout.decode()))
    with open(manual) as page:
        named = set(name.replace("\\-", "-") for name in re.findall(r"\\-\\-[a-z](?:[a-z]|\\-)*", page.read()))
    if helped != named:
        print(f"--help lists {sorted(helped - named)} that the manual does not name, "
              f"the manual {sorted(named - helped)} that --help does not list")
        return False
    return True


def check(program, args, stdout, status, first_error, files):
    code, out, err = run_row(program, args, stdout, files)
    got_error = err.split("\n", 1)[0]
    problems = []
    if code != status:
        problems.append(f"status {code}, expected {status}")
    if got_error != first_error:
        problems.append(f"standard error starts {got_error!r}, expected {first_error!r}")
    if status != 2 and stdout == "pipe" and not out:
        problems.append("nothing written to standard output")
    listed = files.get("list", b"").split(b"\n")[0].rstrip(b"\r")
    if status == 1 and listed and not out.split(b"\n")[1].startswith(listed + b","):
        problems.append("the first row is not that of the first listed name")
    return problems


def main():
    program = os.path.abspath(sys.argv[1])
    failures = 0 if options_agree(program, sys.argv[2]) else 1
    failures += report((f"{name}: {args}", check(program, args, stdout, status, first_error, files[0] if files else {}))
                       for name, args, stdout, status, first_error, *files in ROWS)
    sys.exit(1 if failures else 0)


main()
