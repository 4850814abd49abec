#!/usr/bin/env python3
"""Packs and unpacks corpora with bundlet and with peer tools in one run, on
1 and 2 cores and on a memory and a disk file system, and prints Markdown
tables of the median wall times side by side.

    bench/bundlet/bench.py <build directory> [--runs N] [--scale F]
        [--cores 1,2] [--out label=dir ...] [--baseline label=build ...]
        [--only corpus,...] [--without tool,...] [--parts] [--parts-only]
        [--work DIR] [--keep]

Corpora:
  small   many small text files in nested directories (8,000 at scale 1)
  large   three large compressible logs (90 MB at scale 1)
  random  incompressible random data (50 MB at scale 1)
  mixed   compressible and random stretches laid where sampling would misjudge them
  system  6,000 headers of at most 32 KiB from /usr/include (the first by
          path), the largest shared libraries of /usr/lib/x86_64-linux-gnu
          up to 24-25 MB, and 20 MB of seeded random bytes; about 90 MB,
          whatever --scale
--scale (default 0.5) sizes the first four; --only picks corpora.

Tools (--without leaves out those whose name starts with one of its words;
the reference "bundlet" always runs):
  bundlet       this build's bundlet, BUNDLET_THREADS=<cores>
  bundlet zlib  the same with ZO_CODEC=zlib: zlib alone, without the
                whole-buffer codec
  <label>       each --baseline [label=]build, another build's bundlet
  zip           zip -9 -r / unzip
  7z            7z a -tzip -mx=5 -mmt=<cores> / 7z x -mmt=<cores>
  bsdtar        bsdtar --format zip, compression-level=9 / bsdtar -xf
  tar           tar -cf / tar -xf of an uncompressed tar: what reading and
                creating the files alone costs, the floor for the others

Every tool runs under taskset on the first n cores for each n of --cores
(default 1,2). Every unpacker but tar reads the archive bundlet wrote, so all
inflate the same data; tar -x reads the tar that tar -c wrote. Archives are
written and trees unpacked in each --out [label=]dir (default "mem", a
directory in /dev/shm, and "disk", one in /var/tmp); the script works in a
fresh directory inside it and removes that afterwards. The file system is
synced before each timed command, so that no tool pays for the write-back of
the one before it. On the virtual disks here, creating thousands of files
costs more after a large tree was deleted, for every tool alike.

Each (corpus, out, cores) runs --runs times (default 3), interleaved: every
tool once, then every tool again, so that a change of load on the shared
machine touches all tools alike; the tables show the median. Peak memory is
the command's ru_maxrss, the highest of the runs (GNU time reports it: see
measure() for why not os.wait4's). The first unpack
of each tool in each (out, cores) is checked against a manifest of the
source (path -> size and SHA-1).

--parts also times "-Azp" on one directory part of 1,000, 10,000 and 100,000
small files, beside "-Aza" and zip -9 -r of the same tree (--parts-only: that
alone).

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
from dataclasses import dataclass
from typing import Callable, Optional

WORDS = ("archive deflate block window entry header central directory record stream "
         "buffer offset length checksum method level folder file name time date "
         "attribute version install upgrade database server table column value "
         "the of and to in is that for it as with was on be by at this from").split()

CORPORA = ("small", "large", "random", "mixed", "system")
HEADER_SUFFIXES = (".h", ".hh", ".hpp", ".hxx")
LIBRARY_DIR = "/usr/lib/x86_64-linux-gnu"
TIME = "/usr/bin/time"   # GNU time, for the peak memory (see measure)


# Corpora -------------------------------------------------------------------

def text_blob(rng, size):
    out = []
    n = 0
    while n < size:
        line = " ".join(rng.choice(WORDS) for _ in range(rng.randint(4, 14)))
        line = "%06d %s\n" % (rng.randint(0, 999999), line)
        out.append(line)
        n += len(line)
    return "".join(out).encode()[:size]


def make_small(path, rng, scale):
    for i in range(int(8000 * scale)):
        d = os.path.join(path, "d%02d" % (i % 40), "s%d" % (i % 7))
        os.makedirs(d, exist_ok=True)
        with open(os.path.join(d, "f%05d.txt" % i), "wb") as f:
            f.write(text_blob(rng, rng.randint(200, 9000)))


def make_large(path, rng, scale):
    os.makedirs(path)
    block = text_blob(rng, 1 << 20)
    for i in range(3):
        with open(os.path.join(path, "big%d.log" % i), "wb") as f:
            for j in range(int(30 * scale)):
                # Repeated text with a changing counter: compressible, but
                # not trivially.
                f.write(b"%08d " % (i * 1000 + j) + block[j * 997 % 4096:] + block[:j * 997 % 4096])


def make_random(path, rng, scale):
    os.makedirs(path)
    for i in range(2):
        with open(os.path.join(path, "random%d.bin" % i), "wb") as f:
            for _ in range(int(25 * scale)):
                f.write(rng.randbytes(1 << 20))


def make_mixed(path, rng, scale):
    os.makedirs(path)
    block, sample = 0x180000, 16 * 1024
    with open(os.path.join(path, "samples.bin"), "wb") as f:
        # One letter with random bytes just where a probe of three samples
        # per block would look, and the reverse.
        for j in range(int(6 * scale)):
            data = bytearray(b"a" * block if j % 2 == 0 else rng.randbytes(block))
            for at in (0, block // 2 - sample // 2, block - sample):
                data[at:at + sample] = rng.randbytes(sample) if j % 2 == 0 else b"a" * sample
            f.write(data)
    with open(os.path.join(path, "stretches.bin"), "wb") as f:
        # Text and random data in turn, in stretches around the sample size.
        for j in range(int(600 * scale)):
            n = sample - 1 + j % 3
            f.write(text_blob(rng, n) if j % 2 == 0 else rng.randbytes(n))


def system_headers(count=6000, limit=32 * 1024):
    """The first headers of /usr/include by path, regular files of at most
    limit bytes, as (relative path, absolute path)."""
    found = []
    for dirpath, dirnames, filenames in os.walk("/usr/include"):
        dirnames.sort()
        for n in filenames:
            p = os.path.join(dirpath, n)
            if n.endswith(HEADER_SUFFIXES) and not os.path.islink(p) and os.path.getsize(p) <= limit:
                found.append((os.path.relpath(p, "/usr/include"), p))
    return sorted(found)[:count]


def system_libraries(low=24_000_000, high=25_000_000):
    """The largest shared libraries, largest first, each taken while the sum
    stays at most high, until it reaches low."""
    libs = []
    for n in os.listdir(LIBRARY_DIR):
        p = os.path.join(LIBRARY_DIR, n)
        if ".so" in n and os.path.isfile(p) and not os.path.islink(p):
            libs.append((-os.path.getsize(p), n, p))
    picked, total = [], 0
    for negative_size, n, p in sorted(libs):
        if total >= low:
            break
        if total - negative_size <= high:
            picked.append((n, p))
            total -= negative_size
    return picked


def make_system(path, rng):
    for relative, source in system_headers():
        target = os.path.join(path, "include", relative)
        os.makedirs(os.path.dirname(target), exist_ok=True)
        shutil.copyfile(source, target)
    os.makedirs(os.path.join(path, "lib"))
    for n, source in system_libraries():
        shutil.copyfile(source, os.path.join(path, "lib", n))
    with open(os.path.join(path, "random.bin"), "wb") as f:
        f.write(rng.randbytes(20_000_000))


def build_corpora(work, scale, names):
    """The corpora asked for, each made once in work (kept there by --keep),
    each from its own seed so that picking some leaves the others alike."""
    makers = {"small": lambda p, rng: make_small(p, rng, scale),
              "large": lambda p, rng: make_large(p, rng, scale),
              "random": lambda p, rng: make_random(p, rng, scale),
              "mixed": lambda p, rng: make_mixed(p, rng, scale),
              "system": make_system}
    corpora = {}
    for name in names:
        path = os.path.join(work, "corpus-" + name)
        if not os.path.isdir(path):
            print("making corpus %s" % name, file=sys.stderr)
            shutil.rmtree(path + ".new", ignore_errors=True)
            makers[name](path + ".new", random.Random(20261209 + CORPORA.index(name)))
            os.rename(path + ".new", path)
        corpora[name] = path
    return corpora


def manifest(path):
    """path -> (size, SHA-1) of every file under path."""
    files = {}
    for dirpath, _, filenames in os.walk(path):
        for n in filenames:
            p = os.path.join(dirpath, n)
            h = hashlib.sha1()
            with open(p, "rb") as f:
                while chunk := f.read(1 << 20):
                    h.update(chunk)
            files[os.path.relpath(p, path)] = (os.path.getsize(p), h.hexdigest())
    return files


def verify(tool, corpus, dest, expected):
    got = manifest(dest)
    if got != expected:
        wrong = sorted(set(got) ^ set(expected)) or sorted(p for p in got if got[p] != expected[p])
        raise RuntimeError("%s unpacked %s wrongly: %d paths differ, the first %s" % (
            tool, corpus, len(wrong), wrong[0]))


# Tools ---------------------------------------------------------------------

@dataclass
class Tool:
    """One tool's packer and unpacker. pack(src, archive, cores) and
    unpack(archive, dest, cores) give (command, working directory)."""
    name: str
    pack_label: str
    unpack_label: str
    pack: Callable
    unpack: Callable
    suffix: str = ".zip"
    env: Optional[dict] = None        # added to the environment
    threads: bool = False             # gets BUNDLET_THREADS=<cores>
    quiet: bool = False               # prints nothing when all is well
    own_archive: bool = False         # unpacks what it packed, not bundlet's archive


def bundlet_tool(name, program, env=None):
    return Tool(name, name, name,
                lambda src, arc, cores: ([program, "-Aza", "-D" + src, "-Z" + arc], None),
                lambda arc, dest, cores: ([program, "-Aua", "-D" + dest, "-Z" + arc], None),
                env=env, threads=True, quiet=True)


def all_tools(bundlet, baselines):
    """bundlet first: it is the reference, and the unpackers read its archive."""
    return [
        bundlet_tool("bundlet", bundlet),
        bundlet_tool("bundlet zlib", bundlet, {"ZO_CODEC": "zlib"}),
        *[bundlet_tool(label, program) for label, program in baselines],
        Tool("zip", "zip -9 -r", "unzip",
             lambda src, arc, cores: (["zip", "-9", "-r", "-q", arc, "."], src),
             lambda arc, dest, cores: (["unzip", "-q", "-o", arc, "-d", dest], None)),
        Tool("7z", "7z -mx=5", "7z x",
             lambda src, arc, cores: (["7z", "a", "-tzip", "-mx=5", "-mmt=%d" % cores, "-bd", arc, "."], src),
             lambda arc, dest, cores: (["7z", "x", "-tzip", "-mmt=%d" % cores, "-bd", "-y", "-o" + dest, arc], None)),
        Tool("bsdtar", "bsdtar zip 9", "bsdtar -x",
             lambda src, arc, cores: (["bsdtar", "--format", "zip", "--options", "zip:compression-level=9",
                                       "-cf", arc, "-C", src, "."], None),
             lambda arc, dest, cores: (["bsdtar", "-xf", arc, "-C", dest], None)),
        Tool("tar", "tar -c", "tar -x",
             lambda src, arc, cores: (["tar", "-cf", arc, "-C", src, "."], None),
             lambda arc, dest, cores: (["tar", "-xf", arc, "-C", dest], None),
             suffix=".tar", own_archive=True),
    ]


def chosen_tools(tools, without):
    left_out = [word for word in without.split(",") if word]
    return [tool for tool in tools
            if tool.name == "bundlet" or not any(tool.name.startswith(word) for word in left_out)]


# Measuring -----------------------------------------------------------------

@dataclass
class Sample:
    wall: float
    cpu: float
    peak_mib: float


def environment(tool, cores):
    env = dict(os.environ)
    env.pop("ZO_CODEC", None)
    env.pop("BUNDLET_THREADS", None)
    if tool.threads:
        env["BUNDLET_THREADS"] = str(cores)
    env.update(tool.env or {})
    return env


def measure(tool, cmd, cwd, cores):
    """Runs cmd on the first cores cores (all of them for None); returns its
    wall time, CPU time and peak resident memory.

    The CPU time is the child's rusage from os.wait4. The peak is the
    ru_maxrss that /usr/bin/time gets from its own wait4 on the command, not
    the one os.wait4 gives here: exec carries the peak of the process that
    forked into the child's ru_maxrss, so a child of this script would show
    at least the script's own peak (tens of MiB after making the corpora),
    while time is a small program of about 1 MiB."""
    pinned = ["taskset", "-c", ",".join(str(c) for c in range(cores))] if cores is not None else []
    os.sync()
    with tempfile.TemporaryFile() as output, tempfile.NamedTemporaryFile("r", suffix=".peak") as peak:
        start = time.perf_counter()
        proc = subprocess.Popen(pinned + [TIME, "-f", "%M", "-o", peak.name] + cmd, cwd=cwd,
                                env=environment(tool, cores or os.cpu_count() or 1),
                                stdin=subprocess.DEVNULL, stdout=output, stderr=subprocess.STDOUT)
        _, status, usage = os.wait4(proc.pid, 0)
        wall = time.perf_counter() - start
        proc.returncode = os.waitstatus_to_exitcode(status)
        output.seek(0)
        text = output.read().decode(errors="replace")
        peak_kib = peak.read().split()[-1]
    if proc.returncode != 0:
        raise RuntimeError("%s failed (%d): %s" % (cmd, proc.returncode, text[-2000:]))
    if tool.quiet and text:
        raise RuntimeError("%s reported: %s" % (cmd, text))
    return Sample(wall, usage.ru_utime + usage.ru_stime, int(peak_kib) / 1024.0)


# Running -------------------------------------------------------------------

def remove(path):
    if os.path.isdir(path):
        shutil.rmtree(path)
    elif os.path.exists(path):
        os.remove(path)


def bench_pack(tools, corpus, src, out, cores, runs):
    """Every tool packs src runs times, interleaved. Returns the samples and
    archive size of each, and the archives the unpackers read."""
    archives = {tool.name: os.path.join(out, "%s-%d%s" % (corpus, i, tool.suffix)) for i, tool in enumerate(tools)}
    samples = {tool.name: [] for tool in tools}
    for _ in range(runs):
        for tool in tools:
            remove(archives[tool.name])
            cmd, cwd = tool.pack(src, archives[tool.name], cores)
            samples[tool.name].append(measure(tool, cmd, cwd, cores))
    sizes = {tool.name: os.path.getsize(archives[tool.name]) for tool in tools}
    kept = {tool.name: archives[tool.name] if tool.own_archive else archives["bundlet"] for tool in tools}
    for tool in tools:
        if archives[tool.name] not in kept.values():
            remove(archives[tool.name])
    return samples, sizes, kept


def bench_unpack(tools, corpus, archives, out, cores, runs, expected):
    """Every tool unpacks its archive into an empty directory runs times,
    interleaved; the first run of each is checked against the source."""
    dest = os.path.join(out, "unpacked")
    samples = {tool.name: [] for tool in tools}
    for r in range(runs):
        for tool in tools:
            remove(dest)
            os.makedirs(dest)
            cmd, cwd = tool.unpack(archives[tool.name], dest, cores)
            samples[tool.name].append(measure(tool, cmd, cwd, cores))
            if r == 0:
                verify(tool.unpack_label, corpus, dest, expected)
    remove(dest)
    return samples


def bench_all(tools, corpora, outs, cores_list, runs):
    """Packs and unpacks each corpus on each out and number of cores; returns
    the results by (corpus, out label, cores) and each corpus's manifest."""
    results, manifests = {}, {}
    for corpus, src in corpora.items():
        manifests[corpus] = manifest(src)
        for out_label, out in outs:
            for cores in cores_list:
                print("%s on %s, %d core(s)" % (corpus, out_label, cores), file=sys.stderr)
                pack, sizes, archives = bench_pack(tools, corpus, src, out, cores, runs)
                unpack = bench_unpack(tools, corpus, archives, out, cores, runs, manifests[corpus])
                for archive in set(archives.values()):
                    remove(archive)
                results[(corpus, out_label, cores)] = {"pack": pack, "size": sizes, "unpack": unpack}
    return results, manifests


# Printing ------------------------------------------------------------------

def median_wall(samples):
    return statistics.median(s.wall for s in samples)


def seconds(value):
    return "%.2f" % value if value >= 0.1 else "%.3f" % value


def ratio(results, op, top, bottom):
    if top not in results[op] or bottom not in results[op]:
        return "-"
    return "%.2fx" % (median_wall(results[op][top]) / median_wall(results[op][bottom]))


def markdown(header, rows):
    print("| " + " | ".join(header) + " |")
    print("|" + "|".join("---" for _ in header) + "|")
    for row in rows:
        print("| " + " | ".join(row) + " |")
    print()


def print_corpora(tools, results, manifests):
    print("Corpora and the archive each tool wrote, MB (10^6 bytes; a range where runs differed):")
    print()
    rows = []
    for corpus, files in manifests.items():
        row = [corpus, "%.1f" % (sum(size for size, _ in files.values()) / 1e6), "{:,}".format(len(files))]
        for tool in tools:
            sizes = [r["size"][tool.name] / 1e6 for key, r in results.items() if key[0] == corpus]
            row.append("%.2f" % min(sizes) if max(sizes) - min(sizes) < 0.005
                       else "%.2f-%.2f" % (min(sizes), max(sizes)))
        rows.append(row)
    markdown(["corpus", "tree MB", "files"] + [t.pack_label for t in tools], rows)


def print_pack(tools, results, runs):
    print("Pack: median wall seconds of %d run(s); bundlet / zip -9 in time and archive size; "
          "bundlet's peak memory:" % runs)
    print()
    rows = []
    for (corpus, out, cores), r in results.items():
        size = "%.3f" % (r["size"]["bundlet"] / r["size"]["zip"]) if "zip" in r["size"] else "-"
        rows.append([corpus, out, str(cores)] + [seconds(median_wall(r["pack"][t.name])) for t in tools]
                    + [ratio(r, "pack", "bundlet", "zip"), size,
                       "%.1f" % max(s.peak_mib for s in r["pack"]["bundlet"])])
    markdown(["corpus", "out", "cores"] + [t.pack_label for t in tools]
             + ["bundlet / zip -9", "size / zip -9", "bundlet MiB"], rows)


def print_unpack(tools, results, runs):
    print("Unpack (all but tar -x read bundlet's archive): median wall seconds of %d run(s); "
          "tar -x / bsdtar -x is the floor; bundlet's peak memory:" % runs)
    print()
    rows = []
    for (corpus, out, cores), r in results.items():
        rows.append([corpus, out, str(cores)] + [seconds(median_wall(r["unpack"][t.name])) for t in tools]
                    + [ratio(r, "unpack", "bundlet", "bsdtar"), ratio(r, "unpack", "bundlet", "bundlet zlib"),
                       ratio(r, "unpack", "tar", "bsdtar"),
                       "%.1f" % max(s.peak_mib for s in r["unpack"]["bundlet"])])
    markdown(["corpus", "out", "cores"] + [t.unpack_label for t in tools]
             + ["bundlet / bsdtar", "bundlet / bundlet zlib", "tar -x / bsdtar", "bundlet MiB"], rows)


# -Azp ----------------------------------------------------------------------

def bench_parts(bundlet, work, counts, runs):
    """-Azp of one directory part beside -Aza and zip -9 -r of the same tree:
    all of it is one transaction, so the time per file stays flat."""
    rng = random.Random(7)
    print("-Azp of one directory part of N small files, beside -Aza and zip -9 -r of the same tree "
          "(median wall seconds, all cores):")
    print()
    bundlet_run = bundlet_tool("bundlet", bundlet)
    zip_run = Tool("zip", "", "", None, None)
    rows = []
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
        runs_of = [("-Azp", bundlet_run, [bundlet, "-Azp", "-D" + base + "\\\\part", "-Z" + out], None),
                   ("-Aza", bundlet_run, [bundlet, "-Aza", "-D" + part, "-Z" + out], None),
                   ("zip -9", zip_run, ["zip", "-9", "-q", "-r", out, "."], part)]
        samples = {name: [] for name, _, _, _ in runs_of}
        sizes = {}
        for _ in range(runs):
            for name, tool, cmd, cwd in runs_of:   # interleaved, so load spikes hit every tool alike
                remove(out)
                samples[name].append(measure(tool, cmd, cwd, None))
                sizes[name] = os.path.getsize(out)
        aza = median_wall(samples["-Aza"])
        for name, _, _, _ in runs_of:
            wall = median_wall(samples[name])
            rows.append(["{:,}".format(count), name, seconds(wall), "%.1f" % max(s.peak_mib for s in samples[name]),
                         "%.2f" % (sizes[name] / 1e6), "%.3f" % (wall * 1000 / count), "%.2fx" % (wall / aza)])
        remove(out)
    markdown(["files", "tool", "wall s", "peak MiB", "archive MB", "ms per file", "/ -Aza"], rows)


# Main ----------------------------------------------------------------------

def parse_args():
    parser = argparse.ArgumentParser(description=__doc__, formatter_class=argparse.RawDescriptionHelpFormatter)
    parser.add_argument("build")
    parser.add_argument("--runs", type=int, default=3)
    parser.add_argument("--scale", type=float, default=0.5, help="size of the generated corpora")
    parser.add_argument("--cores", default="1,2", help="comma-separated numbers of cores to run on")
    parser.add_argument("--out", action="append", default=[],
                        help="[label=]dir: a file system to write archives and trees to (repeatable; "
                             "default mem=/dev/shm and disk=/var/tmp)")
    parser.add_argument("--baseline", action="append", default=[],
                        help="[label=]build: another build whose bundlet is timed beside this one (repeatable)")
    parser.add_argument("--only", default=",".join(CORPORA), help="comma-separated corpora to run")
    parser.add_argument("--without", default="", help="comma-separated tools to leave out, by the start of their name")
    parser.add_argument("--parts", action="store_true", help="also time -Azp on 1,000..100,000 files")
    parser.add_argument("--parts-only", action="store_true")
    parser.add_argument("--work", default=None, help="directory for the corpora")
    parser.add_argument("--keep", action="store_true", help="keep the corpora for the next run")
    args = parser.parse_args()
    args.corpora = [name for name in args.only.split(",") if name]
    unknown = [name for name in args.corpora if name not in CORPORA]
    if unknown:
        parser.error("unknown corpora %s (there are %s)" % (",".join(unknown), ",".join(CORPORA)))
    try:
        args.cores = [int(n) for n in args.cores.split(",") if n]
    except ValueError:
        parser.error("--cores takes numbers, e.g. 1,2")
    if not args.cores or min(args.cores) < 1 or max(args.cores) > (os.cpu_count() or 1):
        parser.error("--cores: between 1 and %d" % (os.cpu_count() or 1))
    return args


def labelled(given, default_label):
    label, _, value = given.rpartition("=")
    return label or default_label, value


def bundlet_of(build):
    program = os.path.join(os.path.abspath(build), "bundlet", "bundlet")
    if not os.access(program, os.X_OK):
        sys.exit("bench: %s is not built" % program)
    return program


def make_outs(given):
    """A fresh directory in each file system asked for, as (label, path)."""
    if not given:
        given = ["mem=/dev/shm", "disk=/var/tmp"]
    outs = []
    for i, spec in enumerate(given):
        label, parent = labelled(spec, "")
        os.makedirs(parent, exist_ok=True)
        outs.append((label or os.path.basename(os.path.normpath(parent)) or "out%d" % (i + 1),
                     tempfile.mkdtemp(prefix="zo-bench-out-", dir=parent)))
    return outs


def main():
    args = parse_args()
    if not os.access(TIME, os.X_OK):
        sys.exit("bench: needs GNU time as %s" % TIME)
    bundlet = bundlet_of(args.build)
    baselines = []
    for i, given in enumerate(args.baseline):
        label, build = labelled(given, "base%d" % (i + 1))
        baselines.append((label, bundlet_of(build)))
    work = args.work or tempfile.mkdtemp(prefix="zo-bench-bundlet-", dir="/var/tmp")
    os.makedirs(work, exist_ok=True)
    outs = make_outs(args.out)
    for label, out in outs:
        print("%s: archives and unpacked trees in %s" % (label, out), file=sys.stderr)
    try:
        if not args.parts_only:
            tools = chosen_tools(all_tools(bundlet, baselines), args.without)
            corpora = build_corpora(work, args.scale, args.corpora)
            results, manifests = bench_all(tools, corpora, outs, args.cores, args.runs)
            print_corpora(tools, results, manifests)
            print_pack(tools, results, args.runs)
            print_unpack(tools, results, args.runs)
        if args.parts or args.parts_only:
            bench_parts(bundlet, work, [1000, 10000, 100000], max(1, min(args.runs, 3)))
    finally:
        if not args.keep:
            shutil.rmtree(work, ignore_errors=True)
        for _, out in outs:
            shutil.rmtree(out, ignore_errors=True)


if __name__ == "__main__":
    main()
