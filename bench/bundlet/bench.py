#!/usr/bin/env python3
"""Packs and unpacks three corpora with bundlet and with peer zip tools in one
run, and prints one table: median wall time, CPU time, peak memory, archive
size, and the ratio of each peer to bundlet.

    bench/bundlet/bench.py <build directory> [--runs N] [--scale F] [--parts]
                           [--work DIR] [--keep]

Corpora (about 200 MB at scale 1):
  small   many small text files in nested directories
  large   a few large compressible files (text and logs)
  random  incompressible random data
  mixed   compressible and random stretches laid where sampling would misjudge them
bundlet runs with its default threads (one per core, "2t" on two cores) and
with BUNDLET_THREADS=1 ("1t"); the ratios are to the first. --baseline
[<label>=]<build> (repeatable) adds another build's bundlet, e.g. the previous
release, timed in the same interleaved runs.
Peers: zip -9 -r / unzip, 7z (zip format, level 9, one thread and default
threads) and bsdtar (zip, level 9). 7z packs level 9 with many passes and is
an order of magnitude slower than the rest, so it runs --slow-runs times
(default 1) while the others run --runs times. Every unpacker reads the archive bundlet
wrote, so all of them inflate the same data.

Archives are written and unpacked under --out (default: a directory in
/dev/shm when there is one), so that the tools' own work is timed rather
than the disk's: on the virtual disks of the machines here, creating
thousands of files costs more on every run after a large tree was deleted,
for every tool alike, and drowns the differences between them.

--cores times bundlet alone on 1, 2, ... cores (taskset, with one worker per
core), to show how its speed grows with them.

--parts also times "-Azp" on one directory part of 1,000, 10,000 and 100,000
small files, beside "-Aza" and zip -9 -r of the same tree.

Not run by CI. The machine is shared: keep --scale moderate.
"""
import argparse
import hashlib
import os
import random
import shutil
import statistics
import subprocess
import sys
import tempfile
import time

WORDS = ("archive deflate block window entry header central directory record stream "
         "buffer offset length checksum method level folder file name time date "
         "attribute version install upgrade database server table column value "
         "the of and to in is that for it as with was on be by at this from").split()


def text_blob(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line = "%06d %s\n" % (rng.randint(0, 999999), line)
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def build_corpora(work, scale):
    rng = random.Random(20261209)
    corpora = {}
    small = os.path.join(work, "corpus-small")
    if not os.path.isdir(small):
        count = int(8000 * scale)
        for i in range(count):
            d = os.path.join(small, "d%02d" % (i % 40), "s%d" % (i % 7))
            os.makedirs(d, exist_ok=True)
            with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
                f.write(text_blob(rng, rng.randint(200, 9000)))
    corpora["small"] = small
    large = os.path.join(work, "corpus-large")
    if not os.path.isdir(large):
        os.makedirs(large)
        block = text_blob(rng, 1 << 20)
        for i in range(3):
            with open(os.path.join(large, "big%d.log" % i), "wb") as f:
                for j in range(int(30 * scale)):
                    # Repeated text with a changing counter: compressible,
                    # but not trivially.
                    f.write(b"%08d " % (i * 1000 + j) + block[j * 997 % 4096:] + block[:j * 997 % 4096])
    corpora["large"] = large
    rnd = os.path.join(work, "corpus-random")
    if not os.path.isdir(rnd):
        os.makedirs(rnd)
        for i in range(2):
            with open(os.path.join(rnd, "random%d.bin" % i), "wb") as f:
                for _ in range(int(25 * scale)):
                    f.write(os.urandom(1 << 20))
    corpora["random"] = rnd
    mixed = os.path.join(work, "corpus-mixed")
    if not os.path.isdir(mixed):
        os.makedirs(mixed)
        block, sample = 0x180000, 16 * 1024
        with open(os.path.join(mixed, "samples.bin"), "wb") as f:
            # One letter with random bytes just where a probe of three
            # samples per block would look, and the reverse.
            for j in range(int(6 * scale)):
                data = bytearray(b"a" * block if j % 2 == 0 else os.urandom(block))
                for at in (0, block // 2 - sample // 2, block - sample):
                    data[at:at + sample] = os.urandom(sample) if j % 2 == 0 else b"a" * sample
                f.write(data)
        with open(os.path.join(mixed, "stretches.bin"), "wb") as f:
            # Text and random data in turn, in stretches around the sample size.
            for j in range(int(600 * scale)):
                n = sample - 1 + j % 3
                f.write(text_blob(rng, n) if j % 2 == 0 else os.urandom(n))
    corpora["mixed"] = mixed
    return corpora


def tree_size(path):
    total = files = 0
    for dirpath, _, filenames in os.walk(path):
        for n in filenames:
            total += os.path.getsize(os.path.join(dirpath, n))
            files += 1
    return total, files


def measure(cmd, cwd=None):
    """Runs cmd under GNU time; returns (wall s, CPU s, peak RSS MiB). The
    peak is the program's own: time's child is small when it execs it."""
    with tempfile.NamedTemporaryFile("r", suffix=".time") as report:
        start = time.perf_counter()
        proc = subprocess.run(["/usr/bin/time", "-f", "%e %U %S %M", "-o", report.name, *cmd], cwd=cwd,
                              stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.STDOUT)
        wall = time.perf_counter() - start
        if proc.returncode != 0:
            raise RuntimeError("%s failed (%d): %s" % (cmd, proc.returncode, proc.stdout[-2000:]))
        if any(part.endswith("bundlet") for part in cmd) and proc.stdout:
            raise RuntimeError("%s reported: %s" % (cmd, proc.stdout.decode()))
        _, user, system, peak_kib = report.read().split()[-4:]
    return wall, float(user) + float(system), int(peak_kib) / 1024.0


def threads():
    """bundlet's worker threads in this run: one per core, at most BUNDLET_THREADS."""
    cores = os.cpu_count() or 1
    cap = int(os.environ.get("BUNDLET_THREADS", "0") or 0)
    return min(cores, cap) if cap > 0 else cores


def bundlets(bundlet, baselines):
    """(label, command prefix) of each bundlet timed: default threads and one
    thread, for this build and each baseline build."""
    runs = [("bundlet", bundlet)] + list(baselines or [])
    out = []
    for label, program in runs:
        out.append(("%s %%s %dt" % (label, threads()), [program]))
        out.append(("%s %%s 1t" % label, ["env", "BUNDLET_THREADS=1", program]))
    return out


def packers(bundlet, baselines=None):
    return [
        *[(label % "-Aza", lambda src, out, p=prefix: (p + ["-Aza", "-D" + src, "-Z" + out], None))
          for label, prefix in bundlets(bundlet, baselines)],
        ("zip -9 -r", lambda src, out: (["zip", "-9", "-r", "-q", out, "."], src)),
        ("7z zip mx9 mmt1", lambda src, out: (["7z", "a", "-tzip", "-mx=9", "-mmt=1", "-bd", out, "."], src)),
        ("7z zip mx9 mmt", lambda src, out: (["7z", "a", "-tzip", "-mx=9", "-bd", out, "."], src)),
        ("bsdtar zip 9", lambda src, out: (["bsdtar", "--format", "zip", "--options", "zip:compression-level=9",
                                            "-cf", out, "-C", src, "."], None)),
    ]


def unpackers(bundlet, baselines=None):
    return [
        *[(label % "-Aua", lambda arc, dest, p=prefix: p + ["-Aua", "-D" + dest, "-Z" + arc])
          for label, prefix in bundlets(bundlet, baselines)],
        ("unzip", lambda arc, dest: ["unzip", "-q", "-o", arc, "-d", dest]),
        ("7z x mmt1", lambda arc, dest: ["7z", "x", "-tzip", "-mmt=1", "-bd", "-y", "-o" + dest, arc]),
        ("7z x mmt", lambda arc, dest: ["7z", "x", "-tzip", "-bd", "-y", "-o" + dest, arc]),
        ("bsdtar -x", lambda arc, dest: ["mkdir-then", dest, "bsdtar", "-xf", arc, "-C", dest]),
    ]


def chosen(args, tools):
    left_out = [prefix for prefix in args.without.split(",") if prefix]
    return [(name, make) for name, make in tools if not any(name.startswith(p) for p in left_out)]


def run_cmd(cmd):
    if cmd[0] == "mkdir-then":
        os.makedirs(cmd[1], exist_ok=True)
        return cmd[2:]
    return cmd


def digest_tree(path):
    h = hashlib.sha256()
    for dirpath, dirnames, filenames in sorted(os.walk(path)):
        dirnames.sort()
        for n in sorted(filenames):
            p = os.path.join(dirpath, n)
            h.update(os.path.relpath(p, path).encode())
            with open(p, "rb") as f:
                while True:
                    chunk = f.read(1 << 20)
                    if not chunk:
                        break
                    h.update(chunk)
    return h.hexdigest()


def bench_corpora(args, bundlet, work, corpora):
    """Runs are interleaved (every tool once, then every tool again), so a
    change of load on the shared machine touches all tools alike."""
    rows = []
    for name, src in corpora.items():
        size, files = tree_size(src)
        print("corpus %-6s %8.1f MB in %d files" % (name, size / 1e6, files), file=sys.stderr)
        source_digest = digest_tree(src)
        tools = chosen(args, packers(bundlet, args.baselines))
        runs = [args.slow_runs if tool.startswith("7z") else args.runs for tool, _ in tools]
        outs = [os.path.join(args.out, "out-%s-%d.zip" % (name, i)) for i in range(len(tools))]
        samples = [[] for _ in tools]
        for r in range(max(runs)):
            for i, (tool, make) in enumerate(tools):
                if r >= runs[i]:
                    continue
                if os.path.exists(outs[i]):
                    os.remove(outs[i])
                cmd, cwd = make(src, outs[i])
                samples[i].append(measure(cmd, cwd))
        for i, (tool, _) in enumerate(tools):
            rows.append((name, "pack", tool, samples[i], os.path.getsize(outs[i])))
            if i > 0:
                os.remove(outs[i])
        bundlet_archive = outs[0]
        tools = chosen(args, unpackers(bundlet, args.baselines))
        runs = [args.slow_runs if tool.startswith("7z") else args.runs for tool, _ in tools]
        samples = [[] for _ in tools]
        dest = os.path.join(args.out, "unpacked")
        for r in range(max(runs)):
            for i, (tool, make) in enumerate(tools):
                if r >= runs[i]:
                    continue
                shutil.rmtree(dest, ignore_errors=True)
                samples[i].append(measure(run_cmd(make(bundlet_archive, dest))))
                if r == 0 and digest_tree(dest) != source_digest:
                    raise RuntimeError("%s unpacked %s wrongly" % (tool, name))
        shutil.rmtree(dest, ignore_errors=True)
        for i, (tool, _) in enumerate(tools):
            rows.append((name, "unpack", tool, samples[i], None))
        os.remove(bundlet_archive)
    return rows


def print_table(rows):
    header = "%-7s %-6s %-16s %9s %9s %9s %11s %8s %8s" % (
        "corpus", "op", "tool", "wall s", "cpu s", "peak MiB", "archive MB", "wall/b", "size/b")
    print("median wall and CPU time of the runs, highest peak resident memory; wall/b and size/b:")
    print("the tool's wall time and archive size divided by bundlet's on the same corpus")
    print(header)
    print("-" * len(header))
    base = {}
    for corpus, op, tool, samples, size in rows:
        wall = statistics.median(s[0] for s in samples)
        cpu = statistics.median(s[1] for s in samples)
        peak = max(s[2] for s in samples)
        if tool.startswith("bundlet") and (corpus, op) not in base:
            base[(corpus, op)] = (wall, size)
        bwall, bsize = base[(corpus, op)]
        print("%-7s %-6s %-16s %9.2f %9.2f %9.1f %11s %8.2f %8s" % (
            corpus, op, tool, wall, cpu, peak,
            "%.2f" % (size / 1e6) if size is not None else "-",
            wall / bwall,
            "%.3f" % (size / bsize) if size is not None else "-"))


def bench_cores(bundlet, work, out, corpora, runs):
    """bundlet packing and unpacking each corpus on the first n cores, with
    n workers (BUNDLET_THREADS=n), for n = 1 .. the machine's cores."""
    cores = os.cpu_count() or 1
    print()
    print("bundlet on n cores (taskset, BUNDLET_THREADS=n): median wall time, and the speed-up over one core")
    header = "%-7s %-6s %5s %9s %9s %9s" % ("corpus", "op", "cores", "wall s", "cpu s", "speed-up")
    print(header)
    print("-" * len(header))
    for name, src in corpora.items():
        archive = os.path.join(out, "cores-%s.zip" % name)
        dest = os.path.join(out, "cores-unpacked")
        for op in ("pack", "unpack"):
            one = None
            for n in range(1, cores + 1):
                prefix = ["taskset", "-c", "0-%d" % (n - 1), "env", "BUNDLET_THREADS=%d" % n, bundlet]
                samples = []
                for _ in range(runs):
                    if op == "pack":
                        if os.path.exists(archive):
                            os.remove(archive)
                        samples.append(measure(prefix + ["-Aza", "-D" + src, "-Z" + archive]))
                    else:
                        shutil.rmtree(dest, ignore_errors=True)
                        samples.append(measure(prefix + ["-Aua", "-D" + dest, "-Z" + archive]))
                wall = statistics.median(s[0] for s in samples)
                one = one or wall
                print("%-7s %-6s %5d %9.2f %9.2f %9.2f" % (name, op, n, wall, statistics.median(s[1] for s in samples),
                                                       one / wall))
        shutil.rmtree(dest, ignore_errors=True)
        os.remove(archive)


def bench_parts(bundlet, work, counts, runs):
    """-Azp of one directory part beside -Aza and zip -9 -r of the same tree:
    all of it is one transaction, so the time per file stays flat."""
    rng = random.Random(7)
    print()
    print("-Azp of one directory part of N small files, beside -Aza and zip -9 -r of the same tree")
    header = "%8s %-8s %9s %9s %9s %11s %12s %10s" % (
        "files", "tool", "wall s", "cpu s", "peak MiB", "archive MB", "ms per file", "wall/-Aza")
    print(header)
    print("-" * len(header))
    for count in counts:
        base = os.path.join(work, "parts-%d" % count)
        part = os.path.join(base, "part")
        if not os.path.isdir(part):
            for i in range(count):
                d = os.path.join(part, "d%02d" % (i % 20))
                os.makedirs(d, exist_ok=True)
                with open(os.path.join(d, "f%06d.txt" % i), "wb") as f:
                    f.write(text_blob(rng, rng.randint(100, 2000)))
        out = os.path.join(work, "parts.zip")
        tools = [("-Azp", [bundlet, "-Azp", "-D" + base + "\\\\part", "-Z" + out], None),
                 ("-Aza", [bundlet, "-Aza", "-D" + part, "-Z" + out], None),
                 ("zip -9", ["zip", "-9", "-q", "-r", out, "."], part)]
        results = {name: [] for name, _, _ in tools}
        sizes = {}
        for _ in range(runs):
            for name, cmd, cwd in tools:   # interleaved, so load spikes hit every tool alike
                if os.path.exists(out):
                    os.remove(out)
                results[name].append(measure(cmd, cwd=cwd))
                sizes[name] = os.path.getsize(out)
        aza = statistics.median(s[0] for s in results["-Aza"])
        for name, _, _ in tools:
            samples = results[name]
            wall = statistics.median(s[0] for s in samples)
            print("%8d %-8s %9.2f %9.2f %9.1f %11.2f %12.3f %10.2f" % (
                count, name, wall, statistics.median(s[1] for s in samples), max(s[2] for s in samples),
                sizes[name] / 1e6, wall * 1000 / count, wall / aza))
        os.remove(out)


def main():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--slow-runs", type=int, default=1, help="runs of the slow peer (7z)")
    parser.add_argument("--scale", type=float, default=1.0)
    parser.add_argument("--parts", action="store_true", help="also time -Azp on 1,000..100,000 files")
    parser.add_argument("--parts-only", action="store_true")
    parser.add_argument("--cores", action="store_true", help="also time bundlet on 1, 2, ... cores")
    parser.add_argument("--cores-only", action="store_true")
    parser.add_argument("--work", default=None, help="directory for corpora and archives")
    parser.add_argument("--keep", action="store_true", help="keep the corpora for the next run")
    parser.add_argument("--out", default=None, help="directory for archives and unpacked trees")
    parser.add_argument("--baseline", action="append", default=[],
                        help="[label=]build: another build whose bundlet is timed beside this one (repeatable)")
    parser.add_argument("--only", default=None, help="comma-separated corpora to run (small,large,random,mixed)")
    parser.add_argument("--without", default="", help="comma-separated tools to leave out, by the start of their name")
    args = parser.parse_args()
    bundlet = os.path.join(os.path.abspath(args.build), "bundlet", "bundlet")
    args.baselines = []
    for i, given in enumerate(args.baseline):
        label, _, build = given.rpartition("=")
        args.baselines.append((label or "base%d" % (i + 1), os.path.join(os.path.abspath(build), "bundlet", "bundlet")))
    for program in [bundlet] + [program for _, program in args.baselines]:
        if not os.access(program, os.X_OK):
            sys.exit("bench: %s is not built" % program)
    work = args.work or tempfile.mkdtemp(prefix="zo-bench-bundlet-")
    os.makedirs(work, exist_ok=True)
    own_out = args.out is None
    if own_out:
        args.out = tempfile.mkdtemp(prefix="zo-bench-out-", dir="/dev/shm" if os.path.isdir("/dev/shm") else work)
    print("archives and unpacked trees in %s" % args.out, file=sys.stderr)
    try:
        if not args.parts_only:
            corpora = build_corpora(work, args.scale)
            if args.only:
                corpora = {name: corpora[name] for name in args.only.split(",")}
            if not args.cores_only:
                print_table(bench_corpora(args, bundlet, work, corpora))
            if args.cores or args.cores_only:
                bench_cores(bundlet, work, args.out, corpora, args.runs)
        if args.parts or args.parts_only:
            bench_parts(bundlet, work, [1000, 10000, 100000], max(1, min(args.runs, 3)))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        if own_out:
            shutil.rmtree(args.out, ignore_errors=True)


if __name__ == "__main__":
    main()
