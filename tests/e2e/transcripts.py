#!/usr/bin/env python3
"""Runs one transcript case: transcripts.py [--record] [--system posix|windows]
--program NAME=PATH ... CASE_DIR.

With --record, a case that fails has its `stdout`, `stderr` and `status` rewritten with
what the run gave (review the change with git diff before committing it).

A case directory holds `cmd` (the program and its arguments, shell-split), `stdin`,
`files/` (the initial working directory), the expected `stdout`, `stderr`, `status`
and `after/` (absent: empty, empty, 0, the working directory unchanged), an optional
`only-on` naming the one system the case makes sense on (posix or windows, the first
word; the rest says why) and an optional `setup` of key=value lines (# starts a
comment):
  stdin=closed | nonblocking   standard input closed, or a pipe in non-blocking mode
  delay=SECONDS                standard input comes through a pipe, each line after this delay
  stdout=closed | /dev/full | sealed | broken-pipe; stderr=closed | stdout (into standard output)
  stdout=nonblocking           a pipe of one page in non-blocking mode, read only from 0.5 s on
  stdout=open NAME | append NAME
                               a file of the working directory, opened for reading and writing
                               without truncation (the shell's 1<>) or for appending (>>)
  sigchld=ignored              the program starts with SIGCHLD ignored
  held-fifo=NAME               a named pipe that the runner holds open for writing until the
                               program ends, without ever writing to it
  symlink=NAME TARGET          a symbolic link NAME to TARGET (which need not exist)
  user=nobody                  run as uid and gid 65534 (when the runner is root)
  env=NAME=VALUE               an environment variable (COMSPEC is otherwise removed)
  chmod=MODE PATH              after the files are in place; PATH . is the directory
  fifo=NAME TEXT               a named pipe whose writer sends TEXT (backslash escapes)
  generate=NAME EXPRESSION     a file holding the value of a Python expression (its folders made)
  limit=fsize BYTES            the largest file the program may write (outputs go through pipes)
Files made by chmod, fifo, generate, held-fifo and symlink belong to the initial state of
the directory. A checkout keeps no links, so in after/ a regular file holding
"<symbolic link to TARGET>" stands for a symbolic link to TARGET.
"""
import fcntl, os, resource, shlex, shutil, signal, stat, subprocess, sys, tempfile, threading, time


def read(path, default=b""):
    return open(path, "rb").read() if os.path.exists(path) else default


def snapshot(top, readable=False):
    """Names and bytes under `top`; directories end with /, links show their target and
    other files their kind.
    With `readable`, what the run's modes keep from the owner is opened to it first."""
    state = {}
    grant = lambda path, bits: readable and os.chmod(path, os.lstat(path).st_mode | bits)
    grant(top, 0o700)
    for folder, dirs, names in os.walk(top):
        for name in dirs + names:
            path = os.path.join(folder, name)
            mode = os.lstat(path).st_mode
            rel = os.path.relpath(path, top)
            if stat.S_ISDIR(mode):
                grant(path, 0o700)
                state[rel + "/"] = b""
            elif stat.S_ISREG(mode):
                grant(path, 0o400)
                state[rel] = read(path)
            elif stat.S_ISLNK(mode):
                state[rel] = b"<symbolic link to " + os.fsencode(os.readlink(path)) + b">"
            else:
                state[rel] = b"<not a regular file>"
    return state


def show(data, limit=300):
    text = repr(bytes(data))[2:-1]
    return text if len(text) <= limit else text[:limit] + "..."


def difference(what, want, got):
    """None when equal, else the first differing line of both, escaped."""
    if want == got:
        return None
    w, g = want.splitlines(True), got.splitlines(True)
    i = next(k for k in range(max(len(w), len(g))) if k >= len(w) or k >= len(g) or w[k] != g[k])
    line = lambda lines: show(lines[i]) if i < len(lines) else "<nothing>"
    return (f"{what}: {len(want)} bytes expected, {len(got)} written; first difference in line {i + 1}:\n"
            f"  expected: {line(w)}\n  actual:   {line(g)}")


def feed(fd, data, delay):
    try:
        for line in data.splitlines(True):
            time.sleep(delay)
            os.write(fd, line)
    except OSError:
        pass
    finally:
        os.close(fd)


def drain(fd, into, delay=0.0):
    time.sleep(delay)
    with os.fdopen(fd, "rb") as pipe:
        into.write(pipe.read())


def fifo_writer(path, data):
    with open(path, "wb") as pipe:
        pipe.write(data)


def run_case(case, programs, record=False):
    argv = shlex.split(read(os.path.join(case, "cmd")).decode())
    setup = [line.partition("=")[::2] for line in read(os.path.join(case, "setup")).decode().splitlines()
             if line.strip() and not line.startswith("#")]
    keys = dict(setup)
    if argv[0] not in programs:
        return [f"cmd names {argv[0]!r}, which is not one of the programs given: {sorted(programs)}"]
    # An unprivileged run must reach its files whatever the temporary directory is.
    root = tempfile.mkdtemp(prefix="quintolex-case-", dir="/tmp" if "user" in keys else None)
    held = []
    try:
        os.chmod(root, 0o755)
        work = os.path.join(root, "work")
        if os.path.isdir(os.path.join(case, "files")):
            shutil.copytree(os.path.join(case, "files"), work)
        else:
            os.mkdir(work)
        for folder, dirs, names in os.walk(work):  # the modes a checkout's umask may have narrowed
            os.chmod(folder, 0o755)
            for name in names:
                path = os.path.join(folder, name)
                os.chmod(path, 0o755 if os.stat(path).st_mode & 0o100 else 0o644)
        program = programs[argv[0]]
        user = {}
        if "user" in keys and os.geteuid() == 0:
            # The program and its files must be reachable without the runner's rights,
            # wherever the build lives.
            program = shutil.copy(program, os.path.join(root, os.path.basename(program)))
            user = dict(user=65534, group=65534, extra_groups=[])
        env = {k: v for k, v in os.environ.items() if k != "COMSPEC"}
        writers = []
        for key, value in setup:
            name, _, text = value.partition(" ")
            if key == "env":
                env[name.partition("=")[0]] = value.partition("=")[2]
            elif key == "generate":
                made = eval(text, {})
                os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
                with open(os.path.join(work, name), "wb") as out:
                    out.write(made.encode("latin-1") if isinstance(made, str) else made)
            elif key == "symlink":
                os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
                os.symlink(text, os.path.join(work, name))
            elif key == "fifo":
                os.makedirs(os.path.dirname(os.path.join(work, name)), exist_ok=True)
                os.mkfifo(os.path.join(work, name), 0o644)
                data = text.encode("latin-1").decode("unicode_escape").encode("latin-1")
                writers.append(threading.Thread(target=fifo_writer, args=(os.path.join(work, name), data),
                                                daemon=True))
            elif key == "held-fifo":
                os.mkfifo(os.path.join(work, value), 0o644)
                # Opened for reading too, so that the open does not wait for a reader.
                held.append(os.open(os.path.join(work, value), os.O_RDWR | os.O_NONBLOCK))
        before = snapshot(work)
        for key, value in setup:
            if key == "chmod":
                mode, _, path = value.partition(" ")
                os.chmod(os.path.join(work, path), int(mode, 8))
        stdin_bytes = read(os.path.join(case, "stdin"))
        out_file, err_file = tempfile.TemporaryFile(), tempfile.TemporaryFile()
        stdin = tempfile.TemporaryFile()
        stdin.write(stdin_bytes)
        stdin.seek(0)
        stdout, stderr, feeder, closed = out_file, err_file, None, []
        if "delay" in keys or keys.get("stdin") == "nonblocking":
            stdin, w = os.pipe()
            os.set_blocking(stdin, keys.get("stdin") != "nonblocking")
            feeder = threading.Thread(target=feed, args=(w, stdin_bytes, float(keys.get("delay", "0"))))
        if keys.get("stdout") == "/dev/full":
            stdout = open("/dev/full", "wb")
        elif keys.get("stdout") == "sealed":
            stdout = os.memfd_create("sealed", os.MFD_ALLOW_SEALING)
            fcntl.fcntl(stdout, fcntl.F_ADD_SEALS, fcntl.F_SEAL_WRITE)
        elif keys.get("stdout") == "broken-pipe":
            reader, stdout = os.pipe()
            os.close(reader)
        elif keys.get("stdout", "").split(" ")[0] in ("open", "append"):
            how, _, name = keys["stdout"].partition(" ")
            stdout = os.open(os.path.join(work, name), os.O_RDWR if how == "open" else os.O_WRONLY | os.O_APPEND)
        drains = []
        if keys.get("stdout") == "nonblocking":
            out_r, stdout = os.pipe()
            fcntl.fcntl(stdout, fcntl.F_SETPIPE_SZ, 4096)
            os.set_blocking(stdout, False)
            drains = [threading.Thread(target=drain, args=(out_r, out_file, 0.5))]
        fsize = int(keys["limit"].split()[1]) if keys.get("limit", "").startswith("fsize ") else None
        if fsize is not None:  # the limit binds files, not pipes: the outputs are read through pipes
            (out_r, stdout), (err_r, stderr) = os.pipe(), os.pipe()
            drains = [threading.Thread(target=drain, args=(out_r, out_file)),
                      threading.Thread(target=drain, args=(err_r, err_file))]
        if keys.get("stderr") == "stdout":
            stderr = subprocess.STDOUT
        closed = [fd for fd, stream in enumerate(("stdin", "stdout", "stderr")) if keys.get(stream) == "closed"]

        def prepare():
            for fd in closed:
                os.close(fd)
            if keys.get("sigchld") == "ignored":
                signal.signal(signal.SIGCHLD, signal.SIG_IGN)
            if fsize is not None:
                resource.setrlimit(resource.RLIMIT_FSIZE, (fsize, fsize))
        try:
            child = subprocess.Popen([program] + argv[1:], cwd=work, env=env, stdin=stdin, stdout=stdout,
                                     stderr=stderr, preexec_fn=prepare, **user)
        except OSError as error:
            return [f"cannot start {program}: {error}"]
        finally:
            for stream in (stdin, stdout) if stdout is not out_file else (stdin,):
                os.close(stream) if isinstance(stream, int) else stream.close()
            if isinstance(stderr, int) and stderr >= 0:
                os.close(stderr)
        for thread in writers + drains + ([feeder] if feeder else []):
            thread.start()
        try:
            status = child.wait(timeout=100)
        except subprocess.TimeoutExpired:
            child.kill()
            child.wait()
            return ["the program did not end within 100 s"]
        for thread in drains:
            thread.join()
        out_file.seek(0)
        err_file.seek(0)
        got = {"status": b"%d" % status, "stdout": out_file.read(), "stderr": err_file.read()}
        failures = [f"ended by signal {-status}" if status < 0 else
                    difference("exit status", read(os.path.join(case, "status"), b"0").strip(), got["status"]),
                    difference("standard output", read(os.path.join(case, "stdout")), got["stdout"]),
                    difference("standard error", read(os.path.join(case, "stderr")), got["stderr"])]
        if record and any(failures):
            for name, empty in (("status", b"0"), ("stdout", b""), ("stderr", b"")):
                path = os.path.join(case, name)
                if got[name] != empty:
                    open(path, "wb").write(got[name] + (b"\n" if name == "status" else b""))
                elif os.path.exists(path):
                    os.remove(path)
        after = snapshot(work, readable=True)
        if os.path.isdir(os.path.join(case, "after")):
            before = snapshot(os.path.join(case, "after"))
        for name in sorted(set(before) | set(after)):
            failures.append(difference("working directory file " + name, before.get(name, b"<absent>"),
                                       after.get(name, b"<absent>")))
        return [f for f in failures if f]
    finally:
        for fd in held:
            os.close(fd)
        shutil.rmtree(root, ignore_errors=True)


SKIPPED = 77  # the status of a case for another system


def main():
    args, programs = sys.argv[1:], {}
    record = bool(args) and args[0] == "--record"
    args = args[record:]
    system = "posix"
    if len(args) > 1 and args[0] == "--system":
        system, args = args[1], args[2:]
    while len(args) > 1 and args[0] == "--program":
        name, _, path = args[1].partition("=")
        programs[name] = os.path.abspath(path)
        args = args[2:]
    if len(args) != 1:
        sys.exit(__doc__)
    only_on = read(os.path.join(args[0], "only-on")).decode().split(None, 1)
    if only_on and only_on[0] != system:
        print(f"SKIPPED on {system}: only on {only_on[0]}: {only_on[1].strip() if len(only_on) > 1 else ''}")
        sys.exit(SKIPPED)
    failures = run_case(args[0], programs, record)
    for failure in failures:
        print(failure)
    if failures:
        print("case:", os.path.abspath(args[0]))
    sys.exit(1 if failures else 0)


if __name__ == "__main__":
    main()
