"""Runs every reader over the same query, one after the other, and prints
rows per second and peak memory (maximum resident set) side by side.

    compare.py READ_BENCH CONNECTION_STRING ROWS [ROWS ...]

Each reader runs as its own process so that its peak memory is its own;
the time is the whole run of the process (connect, execute, fetch all),
as wall-clock time and as the process's own CPU time (user + system). The
server runs on the same machine, so wall-clock time also holds the server's
work and whatever else the machine does; CPU time is the client's work alone.
"""
import os
import subprocess
import sys
import time

HERE = os.path.dirname(os.path.abspath(__file__))
PYTHON = "/usr/bin/python3"  # the Debian interpreter that has python3-pyodbc


def run(argv, stdin_text=None):
    """Returns (seconds, cpu seconds, peak KiB, first output line, line count) of one child process."""
    start = time.monotonic()
    proc = subprocess.Popen(
        argv,
        stdin=subprocess.PIPE if stdin_text is not None else subprocess.DEVNULL,
        stdout=subprocess.PIPE,
        stderr=subprocess.PIPE,
        text=True,
    )
    if stdin_text is not None:
        proc.stdin.write(stdin_text)
        proc.stdin.close()
    out_lines = 0
    first = ""
    for line in proc.stdout:  # read as it comes; isql prints every row
        if not first:
            first = line
        out_lines += 1
    err = proc.stderr.read()
    _, status, usage = os.wait4(proc.pid, 0)
    proc.returncode = os.waitstatus_to_exitcode(status)
    seconds = time.monotonic() - start
    if proc.returncode != 0:
        raise RuntimeError(f"{argv[0]} failed ({proc.returncode}): {err.strip()}")
    return seconds, usage.ru_utime + usage.ru_stime, usage.ru_maxrss, first, out_lines


def main() -> int:
    bench, conn_str = sys.argv[1], sys.argv[2]
    counts = [int(n) for n in sys.argv[3:]]
    repeat = int(os.environ.get("REPEAT", "2"))
    print(f"{'reader':<50} {'rows':>9} {'seconds':>8} {'rows/s':>11} {'CPU s':>7} {'rows/CPU s':>11} {'peak MiB':>9}")
    results = {}
    for n in counts:
        sql = f"select i, b, d, v, ts from bench_rows where i <= {n}"
        # The data layer opens a select without long columns forward-only
        # with rowsets of 30 (or of 1 for small buffers); static cursors are
        # for selects with long columns.
        readers = [
            ("TODBCStatement, BufferCount 30, forward-only", [bench, conn_str, sql, "30", "forward"], None),
            ("TODBCStatement, BufferCount 1, forward-only", [bench, conn_str, sql, "1", "forward"], None),
            ("  the same without reading values (driver floor)", [bench, conn_str, sql, "30", "forward", "raw"], None),
            ("TODBCStatement, BufferCount 30, static", [bench, conn_str, sql, "30"], None),
            ("TODBCStatement, BufferCount 1, static", [bench, conn_str, sql, "1"], None),
            ("pyodbc (fetchmany 1000)", [PYTHON, os.path.join(HERE, "read_pyodbc.py"), conn_str, sql], None),
            ("isql -b", ["isql", "-b", "-k", conn_str], sql + "\n"),
        ]
        for name, argv, stdin_text in readers:
            best = None
            for _ in range(repeat):  # the best of a few runs: the machine is shared
                seconds, cpu, peak_kib, first, _lines = run(argv, stdin_text)
                rows = int(first.split()[0]) if stdin_text is None else n  # isql fails or prints all
                if rows != n:
                    raise RuntimeError(f"{name}: read {rows} rows, expected {n}")
                if best is None:
                    best = [seconds, cpu, peak_kib]
                else:
                    best = [min(best[0], seconds), min(best[1], cpu), max(best[2], peak_kib)]
            results[(name, n)] = best
            seconds, cpu, peak_kib = best
            print(f"{name:<50} {n:>9} {seconds:>8.2f} {n / seconds:>11,.0f} {cpu:>7.2f} {n / max(cpu, 1e-6):>11,.0f}"
                  f" {peak_kib / 1024:>9.1f}", flush=True)
    n = max(counts)
    py = results[("pyodbc (fetchmany 1000)", n)]
    print()
    for name in ("TODBCStatement, BufferCount 30, forward-only", "TODBCStatement, BufferCount 30, static"):
        ours = results[(name, n)]
        print(f"{name} against pyodbc at {n} rows: {py[0] / ours[0]:.2f}x rows/s, {py[1] / ours[1]:.2f}x rows/CPU s")
    for name in ("TODBCStatement, BufferCount 30, forward-only", "TODBCStatement, BufferCount 1, forward-only"):
        small, large = results[(name, min(counts))][2], results[(name, n)][2]
        print(f"{name}: peak {small / 1024:.1f} MiB at {min(counts)} rows, {large / 1024:.1f} MiB at {n} rows")
    return 0


if __name__ == "__main__":
    sys.exit(main())
