#!/usr/bin/env python3
"""The Windows build of quintolex under Wine:
check_windows.py QUINTOLEX_EXE QUINTOLEX CASES REFERENCE_DATA

Runs in a Wine prefix already made (tools/check_windows.sh makes one, WINEPREFIX):
  - every transcript case of CASES with the Windows executable (--system windows): a
    case that makes sense only on POSIX says so and is counted as skipped, by name;
  - the data files of the quadrature reference set (REFERENCE_DATA), then 200 random
    data files, through QUINTOLEX (this system's build) and QUINTOLEX_EXE: standard
    output, standard error and the exit status must be the same bytes, so that both
    builds give the same bits."""
import os, random, shutil, stat, subprocess, sys, tempfile

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "batch"))
from batch_checks import report


def wrapper(folder, exe):
    """A program that runs the Windows executable under Wine with its arguments."""
    path = os.path.join(folder, "quintolex-under-wine")
    with open(path, "w") as out:
        out.write(f'#!/bin/sh\nexec wine "{exe}" "$@"\n')
    os.chmod(path, stat.S_IRWXU | stat.S_IRGRP | stat.S_IXGRP | stat.S_IROTH | stat.S_IXOTH)
    return path


def transcripts(program, cases):
    skipped, rows = [], []
    for case in sorted(os.listdir(cases)):
        done = subprocess.run([sys.executable, os.path.join(HERE, "transcripts.py"), "--system", "windows",
                               "--program", f"quintolex={program}", os.path.join(cases, case)],
                              capture_output=True, text=True, timeout=300)
        if done.returncode == 77:
            skipped.append(case)
        else:
            rows.append((f"transcript {case}", done.stdout.splitlines() if done.returncode else []))
    print(f"{len(skipped)} cases only for POSIX: {', '.join(skipped)}")
    return rows


def standalone(windows):
    """The executable imports only Windows' own DLLs, and runs from the unpacked zip of
    tools/windows_dist.py with nothing beside it."""
    imports = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", windows], capture_output=True, text=True).stdout
    dlls = sorted(line.split()[-1].lower() for line in imports.splitlines() if "DLL Name:" in line)
    problems = [f"imports {dll}" for dll in dlls if dll not in ("kernel32.dll", "msvcrt.dll", "advapi32.dll",
                                                              "user32.dll", "shell32.dll", "ntdll.dll")]
    folder = tempfile.mkdtemp(prefix="quintolex-dist-")
    try:
        archive = os.path.join(folder, "dist.zip")
        subprocess.run([sys.executable, os.path.join(HERE, "..", "..", "tools", "windows_dist.py"),
                        os.path.dirname(windows), archive], check=True, capture_output=True)
        subprocess.run(["unzip", "-q", archive, "-d", folder], check=True)
        done = subprocess.run(["wine", os.path.join(folder, "quintolex", "quintolex.exe"), "--version"],
                              capture_output=True, timeout=120)
        if (done.returncode, done.stdout[:12]) != (0, b"quintolex V."):
            problems.append(f"the unpacked program answers {done.returncode}, {done.stdout[:40]!r}")
        if sorted(os.listdir(os.path.join(folder, "quintolex"))) != ["README.txt", "quintolex.exe", "quintolex.txt"]:
            problems.append(f"the zip holds {os.listdir(os.path.join(folder, 'quintolex'))}")
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


def main():
    windows, linux, cases, reference = (os.path.abspath(a) for a in sys.argv[1:5])
    folder = tempfile.mkdtemp(prefix="quintolex-wine-")
    try:
        rows = [("a program that needs no DLL of its own, from the zip", standalone(windows))]
        rows += transcripts(wrapper(folder, windows), cases)
        known = [(name, open(os.path.join(reference, name)).read()) for name in sorted(os.listdir(reference))]
        rows.append((f"the same bytes from both builds on the {len(known)} reference files",
                     differential(linux, windows, known)))
        rng = random.Random(19)
        generated = [(f"r{k:03d}.txt", random_file(rng)) for k in range(200)]
        rows.append(("the same bytes from both builds on 200 random files", differential(linux, windows, generated)))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    sys.exit(1 if report(rows) else 0)


if __name__ == "__main__":
    main()
