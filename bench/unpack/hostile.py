#!/usr/bin/env python3
"""Unpacking hostile archives: time and peak memory of bundlet beside the
peer tools (unzip, 7z, bsdtar) in one run, one table.

    bench/unpack/hostile.py <bundlet> [--baseline <older bundlet>] [--cases a,b] [--work DIR]

Cases (built by tests/faults/zipcraft.py):
  bomb-one-header   512 central entries that share one local header and its
                    deflated 1 MiB of zeros (about 29 KB that expands to 512 MiB)
  bomb-quoted       entries whose data quote the next entries' headers in
                    stored deflate blocks, all ending in one 1 MiB kernel
  deep-name         one entry named with 65,535 bytes in 32,767 folder levels
  names-colliding   70,000 entries whose names all share the engine's name hash
  names-ordinary    70,000 entries with ordinary names of the same length
  headers-waiting   60,000 small local headers with their sizes after the data
                    and no central directory (the descriptor scan of recovery)

Every run gets the same limit on its address space (6 GiB) and on its time
(300 s); "limit" in the table means it hit one. Peak memory is the child's
maximum resident set. Not run by CI.
"""
import argparse
import os
import struct
import subprocess
import sys
import tempfile
import time

ROOT = os.path.dirname(os.path.dirname(os.path.dirname(os.path.abspath(__file__))))
sys.path.insert(0, os.path.join(ROOT, "tests", "faults"))
import zipcraft  # noqa: E402
from zipcraft import Entry  # noqa: E402

LIMIT_BYTES = 6 << 30
LIMIT_SECONDS = 300


def build_cases():
    cases = {}
    cases["bomb-one-header"] = lambda: zipcraft.overlap_bomb(512, 1, same_header=True)
    cases["bomb-quoted"] = lambda: zipcraft.overlap_bomb(250, 1)
    cases["deep-name"] = lambda: zipcraft.build([Entry(zipcraft.deep_name(), b"deep", method=0)]).data
    # Zip64 end records: more than 65,535 entries need them, and without them
    # an older reader would stop at the wrapped count.
    cases["names-colliding"] = lambda: zipcraft.build(
        [Entry(n, b"", method=0) for n in zipcraft.colliding_names(70000)], zip64=True).data
    cases["names-ordinary"] = lambda: zipcraft.build(
        [Entry("n%015d" % i, b"", method=0) for i in range(70000)], zip64=True).data
    header = struct.pack("<IHHHHHIIIHH", zipcraft.LOCAL, 20, 8, 8, 0, 0, 0, 0, 0, 1, 0) + b"n"
    cases["headers-waiting"] = lambda: header * 60000
    return cases


# Runs a command under the limits and reports its peak resident set. A small
# program of its own does the waiting: a child forked from Python would
# count Python's own memory as the command's peak.
PEAK_SOURCE = r"""
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
int main(int argc, char** argv) {
  FILE* report = fopen(argv[1], "w");
  const int seconds = atoi(argv[2]);
  const pid_t pid = fork();
  if (pid == 0) {
    struct rlimit limit = {6UL << 30, 6UL << 30};
    setrlimit(RLIMIT_AS, &limit);
    setsid();
    execvp(argv[3], argv + 3);
    _exit(127);
  }
  int status = 0, timed_out = 0;
  struct rusage usage;
  for (int waited = 0;; ++waited) {
    if (wait4(pid, &status, WNOHANG, &usage) == pid) break;
    if (waited >= seconds * 200) {
      kill(-pid, SIGKILL);
      kill(pid, SIGKILL);
      wait4(pid, &status, 0, &usage);
      timed_out = 1;
      break;
    }
    usleep(5000);
  }
  fprintf(report, "%ld %d %d\n", usage.ru_maxrss, WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status),
          timed_out);
  fclose(report);
  return 0;
}
"""


def build_peak(work):
    source = os.path.join(work, "peak.c")
    with open(source, "w") as f:
        f.write(PEAK_SOURCE)
    binary = os.path.join(work, "peak")
    subprocess.run(["cc", "-O2", "-o", binary, source], check=True)
    return binary


def measure(peak, command, cwd):
    """(seconds, peak MiB, timed out, output) of one run."""
    report = os.path.join(os.path.dirname(peak), "report")
    with tempfile.TemporaryFile() as log:
        start = time.monotonic()
        subprocess.run([peak, report, str(LIMIT_SECONDS), *command], cwd=cwd, stdin=subprocess.DEVNULL,
                       stdout=log, stderr=subprocess.STDOUT)
        elapsed = time.monotonic() - start
        log.seek(0)
        output = log.read(8192)
    with open(report) as f:
        rss_kb, _, timed_out = (int(x) for x in f.read().split())
    return elapsed, rss_kb / 1024, bool(timed_out), output


def run_tool(peak, tool, binary, archive, out):
    commands = {
        "bundlet": [binary, "-Aua", "-D" + out, "-Z" + archive],
        "unzip": ["unzip", "-qq", "-o", archive, "-d", out],
        "7z": ["7z", "x", "-y", "-bd", "-o" + out, archive],
        "bsdtar": ["bsdtar", "-xf", archive, "-C", out],
    }
    os.makedirs(out, exist_ok=True)
    return measure(peak, commands[tool], out)


def written(out):
    """Files and bytes below out (find copes with trees of any depth)."""
    sizes = subprocess.run(["find", out, "-type", "f", "-printf", "%s\\n"], stdout=subprocess.PIPE,
                           stderr=subprocess.DEVNULL).stdout.split()
    return len(sizes), sum(int(x) for x in sizes)


def summary(output):
    lines = [l.strip() for l in output.decode("utf-8", "replace").splitlines() if l.strip()]
    lines = [l for l in lines if not l.startswith(("7-Zip", "p7zip", "Scanning", "Extracting archive", "--",
                                                    "Path =", "Type =", "Physical Size", "Original message"))]
    text = lines[0] if lines else ""
    return (text[:70] + "...") if len(text) > 73 else text


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bundlet")
    parser.add_argument("--baseline", help="an older bundlet to measure beside")
    parser.add_argument("--cases")
    parser.add_argument("--work")
    args = parser.parse_args()
    cases = build_cases()
    chosen = args.cases.split(",") if args.cases else list(cases)
    tools = [("bundlet", os.path.abspath(args.bundlet))]
    if args.baseline:
        tools.append(("bundlet (before)", os.path.abspath(args.baseline)))
    tools += [("unzip", None), ("7z", None), ("bsdtar", None)]
    work = args.work or tempfile.mkdtemp(prefix="zo-hostile-bench-")
    peak = build_peak(work)
    print("%-16s %-17s %9s %10s %8s %12s  %s" % ("case", "tool", "time s", "peak MiB", "files", "bytes", "says"))
    try:
        for name in chosen:
            archive = os.path.join(work, name + ".zip")
            with open(archive, "wb") as f:
                f.write(cases[name]())
            size = os.path.getsize(archive)
            for label, binary in tools:
                out = os.path.join(work, "out")
                subprocess.run(["rm", "-rf", out])
                tool = "bundlet" if label.startswith("bundlet") else label
                elapsed, rss, timed_out, output = run_tool(peak, tool, binary, archive, out)
                files, total = written(out)
                says = "limit (time)" if timed_out else summary(output) or "(nothing)"
                print("%-16s %-17s %9.2f %10s %8d %12d  %s" % (
                    name, label, elapsed, "%.1f" % rss, files, total, says), flush=True)
            print("%-16s archive: %d bytes" % ("", size))
            subprocess.run(["rm", "-rf", os.path.join(work, "out")])
    finally:
        if not args.work:
            subprocess.run(["rm", "-rf", work])


if __name__ == "__main__":
    main()
