"""Helpers of the batch tool's Python tests: the processes of a running batch, as /proc
shows them, and the report of a table of rows."""
import os


def children_of(pid):
    """The processes whose parent is `pid`: the batch's workers."""
    found = []
    for entry in os.listdir("/proc"):
        try:
            if entry.isdigit() and int(open(f"/proc/{entry}/stat").read().rsplit(")", 1)[1].split()[1]) == pid:
                found.append(int(entry))
        except (OSError, ValueError):
            continue
    return found


def holder_of(path, pids):
    """The first of `pids` that has `path` open, or None."""
    for pid in pids:
        try:
            if any(os.readlink(f"/proc/{pid}/fd/{fd}") == path for fd in os.listdir(f"/proc/{pid}/fd")):
                return pid
        except OSError:
            continue
    return None


def waits_for_task(pid):
    """Whether the worker `pid` is waiting on its channel (a Unix socket) for a task."""
    try:
        with open(f"/proc/{pid}/wchan") as wchan:
            return "unix_stream" in wchan.read()
    except OSError:
        return False


def report(rows):
    """`rows`: (name, problems) of each row, as it is checked. Prints the rows with
    problems and the count of rows as expected; returns the count of the others."""
    failures = total = 0
    for name, problems in rows:
        total += 1
        if problems:
            failures += 1
            print(f"{name}: " + "; ".join(problems))
    print(f"{total - failures} of {total} rows as expected")
    return failures
