#!/usr/bin/env python3
"""The pool of workers: worker_pool_test.py QUINTOLEX_BATCH

Workers take many profiles one after the other, so whatever a library keeps from one
profile must not reach the next. Each row of ROWS writes 300 varied files (peaks of
many sizes, noisy data that brings quadrature warnings, narrow spikes the quadrature
misses, exports with headers, sections, decimal commas and UTF-16, files that give an
error row), adds the files of its own, shuffles them, and runs them through two
workers; the table, and every plot, must be byte for byte what the same file gives
processed alone, in a fresh run of its own. The special files end their worker: a
FATAL stop of the quadrature, a floating-point trap, and a named pipe whose reader
the test kills with SIGILL (a crash).

The worker's own entry (--worker) is run as a system without fork runs it: its
channel on standard input, one task, its records.

Then the progress line: on a terminal (a pseudo-terminal here) standard error shows
it while a batch runs and erases it at the end; --quiet, or standard error not being
a terminal, shows nothing; the table is the same either way."""
import json, math, os, pty, random, select, signal, socket, subprocess, sys, tempfile, threading, time

from batch_checks import children_of, holder_of, report

FATAL = "0 0\n10.022 0\n10.04 1\n10.044 0\n"  # the quadrature's divergence test fails
TRAP = "0 0\n1e-15 1e20\n2e-15 0\n1e20 0\n"     # the area above overflows
ROUNDOFF = "0 -1000\n1 1000\n"                  # roundoff detected


def peak(rng, n, noise=0.0, start=0.0):
    width, top, centre = rng.uniform(0.5, 4), rng.uniform(1, 500), rng.uniform(5, 25)
    return [(start + 30.0 * k / n, top * math.exp(-((30.0 * k / n - centre) / width) ** 2) + rng.gauss(0, noise))
            for k in range(n)]


def text(pairs, form="%.7g %.7g"):
    return "".join(form % pair + "\n" for pair in pairs)


def spike(rng):
    pairs = [(float(t), 0.0) for t in range(40)]
    where = rng.randrange(5, 35)
    pairs[where:where] = [(where - 0.0005, 0.0), (where - 0.0002, 1000.0)]
    return text(sorted(pairs))


def section_file(rng):
    return ("[Peak Table]\nPeak#\tR.Time\tArea\n1\t4.5\t120\n2\t9.2\t80\n\n[Chromatogram]\nR.Time\tIntensity\n"
            + text(peak(rng, rng.randrange(20, 400)), "%.5f\t%.5f"))


# Each kind of file: its extension and how its bytes are made.
KINDS = [
    ("txt", lambda rng: text(peak(rng, rng.randrange(2, 3000))).encode()),
    ("txt", lambda rng: text(peak(rng, rng.randrange(50, 2000), noise=rng.uniform(0.1, 5))).encode()),
    ("txt", lambda rng: text(peak(rng, rng.randrange(3, 300), start=rng.uniform(0.1, 3))).encode()),
    ("txt", lambda rng: spike(rng).encode()),
    ("txt", lambda rng: ROUNDOFF.encode()),
    ("csv", lambda rng: ("# exported\nTime;Conc\n" + text(peak(rng, rng.randrange(5, 500)), "%.4f;%.4f")
                         .replace(".", ",")).encode()),
    ("csv", lambda rng: ("\ufeffTime,Conc\r\n" + text(peak(rng, rng.randrange(5, 500)), "%.6g,%.6g")
                         .replace("\n", "\r\n")).encode("utf-8")),
    ("txt", lambda rng: ("Time\tValue\n" + text(peak(rng, rng.randrange(5, 500)), "%.6g\t%.6g"))
     .encode("utf-16")),
    ("txt", lambda rng: text(peak(rng, rng.randrange(5, 300))).replace("\n", "\r").encode()),
    ("txt", lambda rng: section_file(rng).encode()),
    ("txt", lambda rng: text([(3, 1), (2, 5), (4, 0)]).encode()),  # times go back: an error row
    ("txt", lambda rng: b"time conc\nnot numbers at all\n"),       # no data: an error row
]

# name, options, how many varied files, the special files among them (name -> contents;
# None: the crash pipe)
ROWS = [
    ("300 varied files", [], 300, {}),
    ("with a window, a baseline and plots", ["--from", "2", "--to", "20", "--baseline", "linear", "--plot", "PLOTS"],
     100, {}),
    ("a FATAL stop, a trap and a crash among them", [], 300,
     {"fatal.txt": FATAL, "trap.txt": TRAP, "crash.fifo": None}),
]


def run(program, args, folder, fifo=None):
    """Runs the batch; the worker that opens `fifo` gets SIGILL (no sanitizer reports it)."""
    batch = subprocess.Popen([program] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=subprocess.PIPE)
    def crash():
        while batch.poll() is None and holder_of(fifo, children_of(batch.pid)) is None:
            time.sleep(0.005)
        if batch.poll() is None:
            os.kill(holder_of(fifo, children_of(batch.pid)), signal.SIGILL)
    if fifo is not None:
        threading.Thread(target=crash, daemon=True).start()
    out, err = batch.communicate(timeout=600)
    return batch.returncode, out, err


def plots_of(folder):
    return {name: open(os.path.join(folder, name), "rb").read() for name in sorted(os.listdir(folder))} \
        if os.path.isdir(folder) else {}


def check_row(program, options, count, special, rng):
    problems, held = [], None
    with tempfile.TemporaryDirectory(prefix="quintolex-pool-") as folder:
        files = []
        for k in range(count):
            extension, make = KINDS[k % len(KINDS)]
            files.append("f%03d.%s" % (k, extension))
            with open(os.path.join(folder, files[-1]), "wb") as out:
                out.write(make(rng))
        for special_name, contents in special.items():
            if contents is None:
                # Held open for reading and writing: its reader waits for data, in sight.
                os.mkfifo(os.path.join(folder, special_name))
                held = os.open(os.path.join(folder, special_name), os.O_RDWR | os.O_NONBLOCK)
            else:
                with open(os.path.join(folder, special_name), "w") as out:
                    out.write(contents)
            files.insert(rng.randrange(len(files) + 1), special_name)
        rng.shuffle(files)
        fifo = os.path.join(folder, "crash.fifo") if "crash.fifo" in special else None
        pooled_options = [os.path.join(folder, "pooled") if o == "PLOTS" else o for o in options]
        status, table, err = run(program, ["-j", "2"] + pooled_options + files, folder, fifo)
        expected, expected_plots, expected_status = b"", {}, 0
        for file in files:
            alone = os.path.join(folder, "alone-" + file)
            alone_options = [alone if o == "PLOTS" else o for o in options]
            one_status, one_table, _ = run(program, ["-j", "1"] + alone_options + [file], folder,
                                           fifo if file == "crash.fifo" else None)
            header, _, rows = one_table.partition(b"\n")
            expected += (header + b"\n" if not expected else b"") + rows
            expected_status = max(expected_status, one_status)
            expected_plots.update(plots_of(alone))
        differ = [(got, want) for got, want in zip(table.split(b"\n"), expected.split(b"\n")) if got != want]
        if table != expected:
            problems.append("table differs, first %r, alone %r" % (differ or [(table, expected)])[0])
        if (status, err) != (expected_status, b""):
            problems.append("status %d, standard error %r; alone %d" % (status, err[:200], expected_status))
        pooled_plots = plots_of(os.path.join(folder, "pooled"))
        if pooled_plots != expected_plots:
            problems.append("plots differ: %s" % [p for p in expected_plots if pooled_plots.get(p) != expected_plots[p]])
        if "PLOTS" in options and not expected_plots:
            problems.append("no plots were written")
        rows = {line.split(b",")[0]: line for line in table.split(b"\n")}
        for special_name in special:
            row = rows.get(special_name.encode(), b"")
            if b",error," not in row or (special_name == "crash.fifo" and b"crashed: signal 4" not in row):
                problems.append("%s: row %r" % (special_name, row))
        if held is not None:
            os.close(held)
    return problems


def read_terminal(program, args, folder, release):
    """Runs the batch with standard error on a pseudo-terminal: (table, terminal bytes).
    `release` is a named pipe of the batch, written to after 1.5 s."""
    held = os.open(release, os.O_RDWR | os.O_NONBLOCK)
    leader, follower = pty.openpty()
    batch = subprocess.Popen([program] + args, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                             stderr=follower)
    os.close(follower)
    def write_later():
        time.sleep(1.5)
        os.write(held, b"0 0\n1 1\n")
        os.close(held)
    threading.Thread(target=write_later, daemon=True).start()
    seen, chunk = b"", b"-"
    while chunk and select.select([leader], [], [], 30)[0]:
        try:
            chunk = os.read(leader, 4096)
        except OSError:  # the terminal's other side is closed
            chunk = b""
        seen += chunk
    table = batch.stdout.read()
    batch.wait(timeout=30)
    os.close(leader)
    return table, seen


def check_progress(program):
    problems = []
    with tempfile.TemporaryDirectory(prefix="quintolex-progress-") as folder:
        with open(os.path.join(folder, "a.txt"), "w") as out:
            out.write("0 0\n1 2\n2 0\n")
        with open(os.path.join(folder, "bad.txt"), "w") as out:
            out.write("no numbers\n")
        fifo = os.path.join(folder, "late.fifo")
        args = ["-j", "1", "a.txt", "bad.txt", "late.fifo"]
        os.mkfifo(fifo)
        table, shown = read_terminal(program, args, folder, fifo)
        quiet_table, quiet_shown = read_terminal(program, ["--quiet"] + args, folder, fifo)
        plain = subprocess.run([program] + args[:-1], cwd=folder, capture_output=True)
        if b"\r2/3 files, " not in shown or b" left, 1 error row\x1b[K" not in shown:
            problems.append("no progress line: %r" % shown[:200])
        if not shown.endswith(b"\r\x1b[K"):
            problems.append("progress line not erased at the end: %r" % shown[-60:])
        if quiet_shown or plain.stderr:
            problems.append("progress shown with --quiet %r or without a terminal %r" % (quiet_shown, plain.stderr))
        if table != quiet_table or not table.startswith(plain.stdout):
            problems.append("the table differs with a progress line")
    return problems


def check_worker_entry(program):
    """quintolex-batch --worker, started as a system without fork starts its workers:
    the channel on standard input, the console, the report and the results on 1, 2, 3."""
    problems = []
    with tempfile.TemporaryDirectory(prefix="quintolex-worker-") as folder:
        with open(os.path.join(folder, "a.txt"), "w") as out:
            out.write("0 0\n1 2\n2 0\n")
        ours, theirs = socket.socketpair()
        files = [open(os.path.join(folder, name), "w+b") for name in ("console", "report", "results")]
        results = files[2].fileno()
        worker = subprocess.Popen(["sh", "-c", f'exec "$0" --worker 3<&{results}', program], cwd=folder, stdin=theirs,
                                  stdout=files[0], stderr=files[1], pass_fds=[results])
        theirs.close()
        settings = dict.fromkeys(["has_from", "has_to", "linear_baseline", "plots", "report", "decimal_comma", "sort",
                                  "skip_missing"], False) | dict.fromkeys(["from", "to"], 0) | \
            dict.fromkeys(["time_column", "value_column", "group_column", "section"], "")
        ours.sendall((json.dumps(settings) + '\n{"file": "a.txt", "profile": 0, "plot": ""}\n').encode())
        done, _, status = ours.recv(16), ours.close(), worker.wait(timeout=30)
        files[2].seek(0)
        records = {key: value for line in files[2].read().splitlines() for key, value in json.loads(line).items()}
        if (done, status) != (b"\n", 0) or records.get("points") != 3 or records.get("peak_area") != 2 or \
                not records.get("done"):
            problems.append("task: done %r, status %d, records %r" % (done, status, records))
        refused = subprocess.run([program, "--worker"], stdin=subprocess.DEVNULL, capture_output=True)
        if refused.returncode != 2 or b"only for quintolex-batch's own use" not in refused.stderr:
            problems.append("--worker without a channel: %d %r" % (refused.returncode, refused.stderr))
        for file in files:
            file.close()
    return problems


def main():
    program = os.path.abspath(sys.argv[1])
    rows = [(row[0], lambda n=n, row=row: check_row(program, *row[1:], random.Random(n))) for n, row in enumerate(ROWS)]
    rows += [("progress line", lambda: check_progress(program)), ("--worker", lambda: check_worker_entry(program))]
    sys.exit(1 if report((name, check()) for name, check in rows) else 0)

if __name__ == "__main__":
    main()
