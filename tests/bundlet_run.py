"""What the bundlet program's end-to-end, fault and differential suites share:
running the program as an installer or a script starts it, the one error
text it prints, files and trees on disk, the peer tools' verdict on an
archive, and a copy of the program that an unprivileged user can run.

A suite imports it with its own folder's parent on the path:

    sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
    import bundlet_run
"""
import fcntl
import os
import pty
import shutil
import stat
import subprocess
import tempfile
import termios
import threading
import zipfile

# The unprivileged user whose permissions the fault suites test.
NOBODY = 65534


def under_wine(program):
    """Whether program is the Windows build, which runs under Wine."""
    return program.endswith(".exe")


def command(program, *args):
    """The command line that runs program with args: the Windows build
    through Wine (whose prefix and server are the caller's)."""
    return (["wine"] if under_wine(program) else []) + [program, *args]


def start(program, *args, setup=None, env=None, cwd=None, stdout=subprocess.PIPE, timeout=120):
    """Runs program to its end without a terminal: in a new session, with no
    standard input, so the engine cannot ask and answers itself; the Windows
    build through Wine. Returns the finished process."""
    return subprocess.run(command(program, *args), cwd=cwd, stdin=subprocess.DEVNULL, stdout=stdout,
                          stderr=subprocess.PIPE, start_new_session=True, timeout=timeout,
                          preexec_fn=setup, env=env)


def run(program, *args, **options):
    """As start, for a run that must end as every run does (exit code 0,
    nothing on standard error); returns its standard output as bytes."""
    proc = start(program, *args, **options)
    assert proc.returncode == 0, (args, proc.returncode, proc.stderr)
    assert proc.stderr == b"", proc.stderr
    return proc.stdout


def run_on_a_terminal(program, *args, setup=None, env=None, typed=b"", timeout=120):
    """Runs program to its end with a pseudo-terminal as its controlling
    terminal (standard input and error on it, standard output a pipe), as a
    person at a console starts it. typed is what the person has typed
    ahead (without echo), the answers to any questions. Returns standard
    output as bytes and what reached the terminal as text. The terminal is
    given to the unprivileged user too, so that a setup that drops to it
    keeps it."""
    master, slave = pty.openpty()
    mode = termios.tcgetattr(slave)
    mode[3] &= ~termios.ECHO
    termios.tcsetattr(slave, termios.TCSANOW, mode)
    if os.geteuid() == 0:
        os.fchown(slave, NOBODY, -1)
    os.write(master, typed)

    def own_terminal():
        fcntl.ioctl(0, termios.TIOCSCTTY, 0)   # a new session's first terminal becomes its own
        if setup:
            setup()
    proc = subprocess.Popen(command(program, *args), stdin=slave, stdout=subprocess.PIPE, stderr=slave, env=env,
                            start_new_session=True, preexec_fn=own_terminal)
    os.close(slave)
    seen = []

    def drain():   # read as it comes, so that the terminal never fills up
        while True:
            try:
                chunk = os.read(master, 65536)
            except OSError:   # the other end is gone: all is read
                return
            if not chunk:
                return
            seen.append(chunk)
    reader = threading.Thread(target=drain)
    reader.start()
    try:
        out, _ = proc.communicate(timeout=timeout)
    finally:
        if proc.poll() is None:
            proc.kill()
            proc.wait()
        reader.join(timeout=10)
        os.close(master)
    assert proc.returncode == 0, (args, proc.returncode)
    return out, b"".join(seen).decode("utf-8", "replace")


ERROR_HEAD = b"  Original message :\n"


def error(message):
    """The program's output for an error that ended its run."""
    return ERROR_HEAD + message.encode("utf-8") + b"\n\n"


def write(path, data=b""):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with open(path, "wb") as f:
        f.write(data)


def read(path):
    with open(path, "rb") as f:
        return f.read()


def walk(root, skip=None):
    """Every path below root as (path relative to root, path), directories
    included; symbolic links are listed, never entered, and nothing at or
    below skip is listed."""
    skipped = os.path.abspath(skip) if skip else None
    for dirpath, dirnames, filenames in os.walk(root):
        dirnames[:] = [d for d in dirnames if os.path.abspath(os.path.join(dirpath, d)) != skipped]
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            if os.path.abspath(path) != skipped:
                yield os.path.relpath(path, root), path


def scratch(prefix):
    """A new private directory in the temporary directory."""
    return tempfile.mkdtemp(prefix=prefix)


def remove_tree(root):
    """Removes root with everything in it, whatever rights a test took away."""
    for dirpath, dirnames, filenames in os.walk(root):
        for name in dirnames + filenames:
            path = os.path.join(dirpath, name)
            if not os.path.islink(path):
                os.chmod(path, os.lstat(path).st_mode | stat.S_IRWXU)
    os.chmod(root, os.lstat(root).st_mode | stat.S_IRWXU)
    shutil.rmtree(root)


def check_with_peers(archive, empty=False):
    """Python's zipfile, unzip and 7z all find the archive whole."""
    with zipfile.ZipFile(archive) as z:
        assert z.testzip() is None, archive
    if not empty:  # unzip fails on an archive without entries
        subprocess.run(["unzip", "-tqq", archive], check=True, stdout=subprocess.DEVNULL)
    subprocess.run(["7z", "t", archive], check=True, stdout=subprocess.DEVNULL)


def as_nobody():
    """A child setup that drops to the unprivileged user."""
    os.setgid(NOBODY)
    os.setuid(NOBODY)


def copy_for_nobody(program, directory):
    """A copy of program in directory, which the unprivileged user can reach
    and run: the checkout may lie where that user cannot enter (a private
    temporary directory, root's home)."""
    copy = os.path.join(directory, os.path.basename(program))
    if not os.path.exists(copy):
        os.makedirs(directory, exist_ok=True)
        os.chmod(directory, 0o755)
        shutil.copy(program, copy)
        os.chmod(copy, 0o755)
    return copy
