#!/usr/bin/env python3
"""The Windows builds under Wine:
check_windows.py WINDOWS_BUILD BUILD CASES BATCH_CASES REFERENCE_DATA

Runs in a Wine prefix already made (tools/check_windows.sh makes one, WINEPREFIX):
  - both executables of WINDOWS_BUILD, from the zip, with nothing beside them;
  - every transcript case of CASES (quintolex.exe) and BATCH_CASES (quintolex-batch.exe)
    with the Windows executables (--system windows): a case that makes sense only on
    POSIX says so and is counted as skipped, by name;
  - the data files of the quadrature reference set (REFERENCE_DATA), then 200 random
    data files, through this system's build (BUILD) and the Windows one: standard
    output, standard error and the exit status must be the same bytes, so that both
    builds give the same bits; and the batch tool on all of them at once, where the
    table, the plots and the report must be the same bytes too."""
import os, random, shutil, stat, subprocess, sys, tempfile, time

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "batch"))
from batch_checks import report


def wrapper(folder, exe):
    """A program that runs the Windows executable under Wine with its arguments."""
    path = os.path.join(folder, os.path.basename(exe)[:-4] + "-under-wine")
    with open(path, "w") as out:
        out.write(f'#!/bin/sh\nexec wine "{exe}" "$@"\n')
    os.chmod(path, stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
    return path


def transcripts(programs, cases):
    """`programs`: the --program arguments (NAME=PATH) of the cases."""
    skipped, rows = [], []
    for case in sorted(os.listdir(cases)):
        done = subprocess.run([sys.executable, os.path.join(HERE, "transcripts.py"), "--system", "windows"] +
                              [a for program in programs for a in ("--program", program)] + [os.path.join(cases, case)],
                              capture_output=True, text=True, timeout=300)
        if done.returncode == 77:
            skipped.append(case)
        else:
            rows.append((f"transcript {os.path.basename(cases)}/{case}",
                         done.stdout.splitlines() if done.returncode else []))
    print(f"{len(skipped)} cases of {cases} only for POSIX: {', '.join(skipped)}")
    return rows


PROGRAMS = ("quintolex", "quintolex-batch")


def standalone(build):
    """The executables import only Windows' own DLLs, and run from the unpacked zip of
    tools/windows_dist.py with nothing beside them."""
    problems = []
    for program in PROGRAMS:
        imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", os.path.join(build, program + ".exe")],
                                 capture_output=True, text=True).stdout
        dlls = sorted(line.split()[-1].lower() for line in imports.splitlines() if "DLL Name:" in line)
        problems += [f"{program}.exe imports {dll}" for dll in dlls
                     if dll not in ("kernel32.dll", "msvcrt.dll", "advapi32.dll", "user32.dll", "shell32.dll",
                                    "ntdll.dll")]
    folder = tempfile.mkdtemp(prefix="quintolex-dist-")
    try:
        archive = os.path.join(folder, "dist.zip")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "windows_dist.py"), build, archive],
                       check=True, capture_output=True)
        subprocess.run(["unzip", "-q", archive, "-d", folder], check=True)
        for program in PROGRAMS:
            done = subprocess.run(["wine", os.path.join(folder, "quintolex", program + ".exe"), "--version"],
                                  capture_output=True, timeout=120)
            if (done.returncode, done.stdout[:len(program) + 1]) != (0, program.encode() + b" "):
                problems.append(f"the unpacked {program}.exe answers {done.returncode}, {done.stdout[:40]!r}")
        held = sorted(os.listdir(os.path.join(folder, "quintolex")))
        if held != ["README.txt"] + sorted(f"{p}{ext}" for p in PROGRAMS for ext in (".exe", ".txt")):
            problems.append(f"the zip holds {held}")
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def random_file(rng):
    """Peaks, noise, unsorted and negative data, exponents, repeats, nulls and errors."""
    kind = rng.randrange(6)
    n = rng.randrange(1, 400)
    if kind == 0:
        return "".join(f"{t * 0.1:.4f} {50 * 2.718281828 ** -((t * 0.1 - n * 0.05) ** 2):.6g}\n" for t in range(n))
    if kind == 1:
        return "".join(f"{rng.uniform(-5, 50):.7g}, {rng.gauss(0, 100):.7g}\n" for _ in range(n))
    if kind == 2:
        return "".join(f"{t}e-3 {rng.choice(['1.5D2', '2*3.5', '-0', '7.25E+1', '3.', '.5'])}\n" for t in range(n))
    if kind == 3:
        return "".join(f"{t} {rng.uniform(0, 1e30):.9g}\n" for t in range(n))
    if kind == 4:
        return "0 0\n" + "".join(f"{rng.uniform(0, 1e-3):.9g} {rng.uniform(-1e3, 1e3):.9g}\n" for _ in range(n))
    return "".join(f"{t} {rng.choice(['1', 'x', '2.5', ',', '4*', '1e99'])}\n" for t in range(n))


def differential(linux, windows, files):
    """`files`: (name, text) of each data file. Standard input comes from a file, as in
    the transcripts. A Windows run that differs is run once more: Wine itself has been
    seen to fail a start under load, and a program that gives other bytes for the same
    input fails twice; a difference that does not repeat is shown, not counted."""
    problems = []
    folder = tempfile.mkdtemp(prefix="quintolex-windows-")
    try:
        with open(os.path.join(folder, "enter"), "wb") as enter:
            enter.write(b"\n\n")

        def run(program, name):
            with open(os.path.join(folder, "enter"), "rb") as stdin:
                done = subprocess.run(program + [name], cwd=folder, stdin=stdin, capture_output=True, timeout=120)
            return done.returncode, done.stdout, done.stderr

        for name, text in files:
            with open(os.path.join(folder, name), "w", newline="\n") as out:
                out.write(text)
            expected = run([linux], name)
            got = run(["wine", windows], name)
            if got == expected:
                continue
            again = run(["wine", windows], name)
            if again == expected:
                print(f"note: {name}: one Windows run differed and its rerun did not "
                      f"(status {got[0]}, standard error {got[2][-300:]!r})")
                continue
            problems.append(f"{name}: status {expected[0]} and {got[0]}, "
                            f"output {'the same' if expected[1] == got[1] else 'differs'}; "
                            f"the Windows build ends {got[1][-300:]!r} and says {got[2][-600:]!r}")
            shutil.copy(os.path.join(folder, name), os.path.join(tempfile.gettempdir(), "quintolex-" + name))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    return problems


def batch_differential(linux, windows, files):
    """Both batch tools on all of `files` (name, text) at once, with a table, plots and a
    report: the same standard output, standard error, exit status and files."""
    problems = []
    runs = []
    for program in ([linux], ["wine", windows]):
        folder = tempfile.mkdtemp(prefix="quintolex-batch-windows-")
        try:
            for name, text in files:
                with open(os.path.join(folder, name), "w", newline="\n") as out:
                    out.write(text)
            names = [name for name, _ in files]
            done = subprocess.run(program + ["-j", "2", "-o", "table.csv", "--plot", "plots", "--report", "page.html",
                                             "--timeout", "60"] + names,
                                  cwd=folder, stdin=subprocess.DEVNULL, capture_output=True, timeout=600)
            made = {}
            for top, _, held in os.walk(folder):
                for name in held:
                    path = os.path.join(top, name)
                    made[os.path.relpath(path, folder)] = open(path, "rb").read()
            runs.append((done.returncode, done.stdout, done.stderr, made))
        finally:
            shutil.rmtree(folder, ignore_errors=True)
    (status, out, err, made), (w_status, w_out, w_err, w_made) = runs
    if (status, out, err) != (w_status, w_out, w_err):
        problems.append(f"status {status} and {w_status}; standard error {err[-300:]!r} and {w_err[-300:]!r}")
    for name in sorted(set(made) | set(w_made)):
        if made.get(name) != w_made.get(name):
            problems.append(f"{name} differs" if name in made and name in w_made else
                            f"{name} made by {'this system' if name in made else 'Windows'} only")
    if len(made) < len(files) + 2:
        problems.append(f"only {len(made)} files after the run")
    return problems[:20]


def worker_pids(folder):
    """The processes working in `folder` whose command line is that of a batch worker
    under Wine."""
    pids = set()
    for entry in os.listdir("/proc"):
        try:
            if (entry.isdigit() and os.readlink(f"/proc/{entry}/cwd") == folder and
                    b"quintolex-batch.exe\0--worker" in open(f"/proc/{entry}/cmdline", "rb").read()):
                pids.add(int(entry))
        except OSError:
            pass
    return pids


def workers_end_with_the_batch(batch):
    """The batch tool killed outright (no chance to end its workers itself) while two
    workers wait on named pipes that never give data: the Job object ends them."""
    folder = os.path.realpath(tempfile.mkdtemp(prefix="quintolex-job-"))
    held = []
    try:
        for name in ("s1.fifo", "s2.fifo"):
            os.mkfifo(os.path.join(folder, name))
            held.append(os.open(os.path.join(folder, name), os.O_RDWR))
        tool = subprocess.Popen(["wine", batch, "-j", "2", "s1.fifo", "s2.fifo"], cwd=folder,
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        workers = set()
        for _ in range(200):
            workers = worker_pids(folder)
            if len(workers) == 2:
                break
            time.sleep(0.1)
        tool.kill()
        tool.wait()
        if len(workers) != 2:
            return [f"{len(workers)} workers seen, not 2"]
        for _ in range(100):
            if not workers & worker_pids(folder):
                return []
            time.sleep(0.1)
        return [f"workers {sorted(workers & worker_pids(folder))} outlive the batch"]
    finally:
        for fd in held:
            os.close(fd)
        shutil.rmtree(folder, ignore_errors=True)


def crashed_worker_row(batch, crash_worker):
    """A worker that crashes in a task (crash_worker.exe ends it as an access violation
    does) gives that file's error row, and the next file is done by a new worker."""
    folder = os.path.realpath(tempfile.mkdtemp(prefix="quintolex-crash-"))
    held = None
    try:
        os.mkfifo(os.path.join(folder, "stalled.fifo"))
        held = os.open(os.path.join(folder, "stalled.fifo"), os.O_RDWR)
        with open(os.path.join(folder, "good.txt"), "w") as out:
            out.write("0 0\n1 2\n2 0\n")
        tool = subprocess.Popen(["wine", batch, "-j", "1", "stalled.fifo", "good.txt"], cwd=folder,
                                stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE)
        for _ in range(200):
            if worker_pids(folder):
                break
            time.sleep(0.1)
        time.sleep(0.5)  # the worker waits on the pipe
        crash = subprocess.run(["wine", crash_worker], capture_output=True, timeout=60)
        os.close(held)
        held = None
        out, err = tool.communicate(timeout=120)
        expected = (b"stalled.fifo,,,,,,,,,,,error,crashed: exception 0xC0000005 (access violation)\n"
                    b"good.txt,,3,0,2,2,1,2,2,,2,ok,\n")
        problems = []
        if crash.returncode != 0 or crash.stdout.strip() != b"1":
            problems.append(f"crash_worker.exe ended {crash.stdout.strip()!r} workers")
        if (tool.returncode, out.split(b"\n", 1)[-1], err) != (1, expected, b""):
            problems.append(f"status {tool.returncode}, table {out!r}, standard error {err!r}")
        return problems
    finally:
        if held is not None:
            os.close(held)
        shutil.rmtree(folder, ignore_errors=True)


def main():
    windows, linux, cases, batch_cases, reference = (os.path.abspath(a) for a in sys.argv[1:6])
    folder = tempfile.mkdtemp(prefix="quintolex-wine-")
    try:
        rows = [("programs that need no DLL of their own, from the zip", standalone(windows))]
        classic = os.path.join(windows, "quintolex.exe")
        batch = os.path.join(windows, "quintolex-batch.exe")
        rows += transcripts([f"quintolex={wrapper(folder, classic)}"], cases)
        rows += transcripts([f"quintolex-batch={wrapper(folder, batch)}", f"quintolex={wrapper(folder, classic)}"],
                            batch_cases)
        known = [(name, open(os.path.join(reference, name)).read()) for name in sorted(os.listdir(reference))]
        rows.append((f"the same bytes from both builds on the {len(known)} reference files",
                     differential(os.path.join(linux, "quintolex"), classic, known)))
        rng = random.Random(19)
        generated = [(f"r{k:03d}.txt", random_file(rng)) for k in range(200)]
        rows.append(("the same bytes from both builds on 200 random files",
                     differential(os.path.join(linux, "quintolex"), classic, generated)))
        rows.append(("the batch tool killed outright takes its workers with it (its Job object)",
                     workers_end_with_the_batch(batch)))
        rows.append(("a worker's crash gives its file's error row",
                     crashed_worker_row(batch, os.path.join(windows, "tests", "batch", "crash_worker.exe"))))
        rows.append(("the same table, plots and report from both batch tools on the reference and random files",
                     batch_differential(os.path.join(linux, "quintolex-batch"), batch, known + generated)))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    sys.exit(1 if report(rows) else 0)


if __name__ == "__main__":
    main()
