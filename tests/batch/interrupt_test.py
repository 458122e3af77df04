#!/usr/bin/env python3
"""A batch ended by a signal: interrupt_test.py QUINTOLEX_BATCH

Each row starts the real executable on data files of which some are named pipes that
the test holds open without writing to them, so that their workers wait for data
until they are ended; it then sends the batch a signal (or closes the pipe its table
goes to) and checks that
  - the batch ends with status 128 + the signal (SIGKILL: killed by it),
  - none of its workers is left: each was ended and reaped,
  - an earlier -o table is left exactly as it was (a new one does not appear, nor does
    a --report page), and no temporary file is left behind,
  - while the batch runs, the earlier -o table is still whole."""
import fcntl, os, shutil, signal, subprocess, sys, tempfile, termios, time

from batch_checks import children_of, holder_of, report, waits_for_task

GOOD = b"0 0\n1 2\n2 0\n"
EARLIER = b"file,status\nearlier.csv,ok\n"
HEADER = b"file,profile,points,first_time,last_time,max_concentration,time_of_max,peak_area,area_above,point_added,exact_area,status,messages\n"
GOOD_ROW = b"good.txt,,3,0,2,2,1,2,2,,2,ok,\n"

# name, signal, table ("-o": an earlier table.csv is there; "-o new": none; "pipe": a pipe
# read by the test), extra options, data files, how the run is ended:
#   "signal"       the signal is sent once every named pipe is held by a worker;
#   "full pipe"    the table's pipe holds one page, which the header takes: the signal is sent
#                  once the first file's worker waits for another task, its row waiting to
#                  be written;
#   "broken pipe"  the test reads the header and the first row, then closes the pipe:
#                  the next row is written into a pipe without a reader.
ROWS = [
    ("interrupt", signal.SIGINT, "-o", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    ("terminate", signal.SIGTERM, "-o", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    ("hang-up", signal.SIGHUP, "-o", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    ("SIGPIPE sent", signal.SIGPIPE, "-o", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    # Neither the report nor its temporary file is left.
    ("terminate, a report asked for", signal.SIGTERM, "-o", ["-j", "3", "--report", "report.html"],
     ["good.txt", "a.fifo", "b.fifo"], "signal"),
    ("terminate, no earlier table", signal.SIGTERM, "-o new", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"],
     "signal"),
    ("interrupt, table on a pipe", signal.SIGINT, "pipe", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    # No clean-up is possible: the system ends the workers with their parent.
    ("killed outright", signal.SIGKILL, "pipe", ["-j", "3"], ["good.txt", "a.fifo", "b.fifo"], "signal"),
    ("terminate while the table waits", signal.SIGTERM, "pipe", ["-j", "2"], ["good.txt", "a.fifo"], "full pipe"),
    ("reader of the table gone", signal.SIGPIPE, "pipe", ["-j", "2", "--timeout", "1"],
     ["good.txt", "a.fifo", "b.fifo"], "broken pipe"),
]


def ended(pid):
    """Whether the process `pid` has ended: gone, or a zombie not yet reaped."""
    try:
        with open(f"/proc/{pid}/stat") as stat:
            return stat.read().rsplit(")", 1)[1].split()[0] == "Z"
    except OSError:
        return True


def wait_until(condition, what, seconds=30):
    end = time.monotonic() + seconds
    while not condition():
        if time.monotonic() > end:
            raise AssertionError("never happened: " + what)
        time.sleep(0.02)


def run_row(program, sig, table, options, files, how):
    folder = tempfile.mkdtemp(prefix="quintolex-interrupt-")
    held, problems, children = [], [], []
    batch = None
    try:
        with open(os.path.join(folder, "good.txt"), "wb") as out:
            out.write(GOOD)
        fifos = [os.path.join(folder, f) for f in files if f.endswith(".fifo")]
        for fifo in fifos:
            os.mkfifo(fifo)
            # Read and write: the open does not wait, and the pipe keeps a writer.
            held.append(os.open(fifo, os.O_RDWR | os.O_NONBLOCK))
        if table == "-o":
            with open(os.path.join(folder, "table.csv"), "wb") as out:
                out.write(EARLIER)
        before = sorted(os.listdir(folder))
        args = [program] + options + (["-o", "table.csv"] if table.startswith("-o") else []) + files
        read_end = None
        if table == "pipe":
            read_end, write_end = os.pipe()
            if how == "full pipe":
                fcntl.fcntl(write_end, fcntl.F_SETPIPE_SZ, 4096)
            batch = subprocess.Popen(args, cwd=folder, stdin=subprocess.DEVNULL, stdout=write_end)
            os.close(write_end)
        else:
            batch = subprocess.Popen(args, cwd=folder, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        if how in ("signal", "broken pipe"):
            wait_until(lambda: all(holder_of(fifo, children_of(batch.pid)) for fifo in fifos),
                       "every named pipe held by a worker")
        elif how == "full pipe":
            unread = lambda: int.from_bytes(fcntl.ioctl(read_end, termios.FIONREAD, b"\0\0\0\0"), sys.byteorder)
            wait_until(lambda: unread() == len(HEADER) and holder_of(fifos[0], children_of(batch.pid)) and
                       any(waits_for_task(pid) for pid in children_of(batch.pid)),
                       "the header written and good.txt's worker waiting for another task")
        if table == "-o":
            with open(os.path.join(folder, "table.csv"), "rb") as earlier:
                if earlier.read() != EARLIER:
                    problems.append("the earlier table changed while the batch ran")
        children = children_of(batch.pid)
        if how == "broken pipe":
            with os.fdopen(read_end, "rb") as pipe:
                first = pipe.readline() + pipe.readline()
            read_end = None
            if first != HEADER + GOOD_ROW:
                problems.append(f"table began {first!r}")
        else:
            batch.send_signal(sig)
        status, expected = batch.wait(timeout=30), -sig if sig == signal.SIGKILL else 128 + sig
        try:
            wait_until(lambda: all(ended(pid) for pid in children), "every worker ended", 5)
        except AssertionError:
            pass
        gone = [pid for pid in children if ended(pid)]
        if status != expected:
            problems.append(f"status {status}, expected {expected}")
        if not children:
            problems.append("no child was running")
        if gone != children:
            problems.append(f"children left after the batch: {sorted(set(children) - set(gone))}")
        after = sorted(os.listdir(folder))
        if after != before:
            problems.append(f"files before {before}, after {after}")
        if table == "-o" and open(os.path.join(folder, "table.csv"), "rb").read() != EARLIER:
            problems.append("the earlier table was changed")
        if read_end is not None:
            os.close(read_end)
    except (AssertionError, subprocess.TimeoutExpired) as error:
        problems.append(str(error))
    finally:
        if batch is not None and batch.poll() is None:
            batch.kill()
            batch.wait()
        for pid in children:
            if not ended(pid):
                os.kill(pid, signal.SIGKILL)
        for fd in held:
            os.close(fd)
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def main():
    program = os.path.abspath(sys.argv[1])
    sys.exit(1 if report((name, run_row(program, *row)) for name, *row in ROWS) else 0)


main()
