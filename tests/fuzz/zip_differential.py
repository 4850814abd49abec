#!/usr/bin/env python3
"""Differential check of unpacking against peer readers.

Sanitizers see crashes, not a silent partial extraction. This check mutates
valid archives of many shapes and sizes (written by zipcraft, Python's
zipfile, zip, 7z, bsdtar and bundlet itself) and unpacks each with bundlet.
Whenever a peer reader (Python's zipfile, or bsdtar when it reports no
error at all) restores an entry whose CRC matches, bundlet must either
restore the same bytes under the same name or print a message.

    zip_differential.py <bundlet> --seconds N [--keep DIR] [--seed S]
        searches for N seconds; each archive that breaks the rule is written
        to DIR (default: the kept cases beside this script) and reported
    zip_differential.py <bundlet> --replay DIR
        checks every archive in DIR once (the test suite does this)

Names are compared only where both sides must agree: plain ASCII path
elements, no "..", no name met twice.
"""
import argparse
import hashlib
import io
import os
import random
import re
import shutil
import subprocess
import sys
import tempfile
import time
import zipfile
import zlib

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "faults"))
sys.path.insert(0, os.path.join(HERE, ".."))
import bundlet_run  # noqa: E402
import zipcraft  # noqa: E402
from bundlet_run import read, walk, write  # noqa: E402
from zipcraft import Entry  # noqa: E402

KEPT = os.path.join(HERE, "differential")
PLAIN = re.compile(r"^[A-Za-z0-9_.-]+(/[A-Za-z0-9_.-]+)*$")


def content(rng, size):
    kind = rng.choice(["text", "zeros", "random", "mixed"])
    if kind == "zeros":
        return bytes(size)
    if kind == "random":
        return rng.randbytes(size)
    words = [b"alpha", b"beta", b"PK\x03\x04", b"PK\x01\x02", b"PK\x07\x08", b"\n", b"data", b"zip"]
    out = bytearray()
    while len(out) < size:
        out += rng.choice(words) if kind == "text" or rng.random() < 0.7 else rng.randbytes(rng.randint(1, 40))
    return bytes(out[:size])


def random_tree(rng):
    sizes = [0, 1, 63, 64, 65, 1000, 4096, 65535, 65536, 70000, 200000]
    files = {}
    for i in range(rng.randint(1, 10)):
        depth = rng.randint(0, 2)
        name = "/".join("d%d" % rng.randint(0, 2) for _ in range(depth)) + ("/" if depth else "") + "f%d.%s" % (
            i, rng.choice(["txt", "bin", "zip"]))
        size = rng.choice(sizes) if rng.random() < 0.5 else rng.randint(0, 20000)
        files[name] = content(rng, size)
    if rng.random() < 0.3:
        # A ZIP archive stored inside: its headers are data of the outer one.
        inner = zipcraft.build([Entry(n, d, method=0) for n, d in list(files.items())[:3]]).data
        files["inner%d.zip" % rng.randint(0, 9)] = inner
    return files


class Unseekable(io.RawIOBase):
    def __init__(self, f):
        self.f = f

    def writable(self):
        return True

    def write(self, b):
        return self.f.write(b)


def write_with(rng, writer, files, work, bundlet):
    """The archive's bytes for files, written by writer."""
    if writer == "zipcraft":
        entries = []
        for name, data in files.items():
            method = rng.choice([0, 8])
            descriptor = rng.choice([None, None, "signed", "unsigned", "signed64", "unsigned64"])
            entries.append(Entry(name, data, method=method, descriptor=descriptor, level=rng.choice([1, 6, 9])))
        if rng.random() < 0.2:
            entries.insert(rng.randint(0, len(entries)), Entry("dir%d/" % rng.randint(0, 9), method=0))
        return zipcraft.build(entries, stub=rng.choice([b"", b"", b"MZ stub " * rng.randint(1, 30)]),
                              comment=rng.choice([b"", b"comment", bytes(rng.randint(0, 300))]),
                              zip64=rng.random() < 0.2).data
    if writer == "python":
        buffer = io.BytesIO()
        target = Unseekable(buffer) if rng.random() < 0.4 else buffer
        with zipfile.ZipFile(target, "w") as z:
            for name, data in files.items():
                info = zipfile.ZipInfo(name, (2021, 3, 4, 5, 6, 8))
                info.compress_type = rng.choice([zipfile.ZIP_STORED, zipfile.ZIP_DEFLATED])
                with z.open(info, "w", force_zip64=rng.random() < 0.2) as f:
                    f.write(data)
        return buffer.getvalue()
    src = os.path.join(work, "src")
    shutil.rmtree(src, ignore_errors=True)
    for name, data in files.items():
        write(os.path.join(src, name), data)
    out = os.path.join(work, "written.zip")
    if os.path.exists(out):
        os.remove(out)
    commands = {
        "zip": ["zip", "-qr", rng.choice(["-0", "-1", "-9", "-fd", "-fz"]), out, "."],
        "7z": ["7z", "a", "-tzip", "-bd", "-mx=" + rng.choice(["0", "5", "9"]), out, "."],
        "bsdtar": ["bsdtar", "-cf", out, "--format", "zip", "."],
        "bundlet": [bundlet, "-Aza", "-D" + src, "-Z" + out],
    }
    subprocess.run(commands[writer], cwd=src, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL, check=True)
    return read(out)


def mutate(rng, data, others):
    data = bytearray(data)
    for _ in range(rng.randint(1, 4)):
        if not data:
            break
        kind = rng.randrange(9)
        at = rng.randrange(len(data))
        if kind == 0:
            data[at] ^= 1 << rng.randrange(8)
        elif kind == 1:
            data[at] = rng.choice([0, 0xFF, 0x7F, 0x80, rng.randrange(256)])
        elif kind == 2:
            del data[rng.randrange(len(data)):]                      # truncation
        elif kind == 3:
            del data[at:at + rng.randint(1, 64)]
        elif kind == 4:
            data[at:at] = rng.randbytes(rng.randint(1, 64))
        elif kind == 5:
            # A field of some header: find a signature and hit a number in it.
            sigs = [m.start() for m in re.finditer(b"PK(\x03\x04|\x01\x02|\x05\x06|\x07\x08|\x06\x06)", bytes(data))]
            if sigs:
                s = rng.choice(sigs)
                off = s + rng.randrange(4, 46)
                if off + 4 <= len(data):
                    value = rng.choice([0, 1, 0xFFFF, 0xFFFFFFFF, rng.randrange(1 << 32), len(data), s])
                    width = rng.choice([2, 4])
                    data[off:off + width] = (value & ((1 << (8 * width)) - 1)).to_bytes(width, "little")
        elif kind == 6:
            n = rng.randint(1, 200)
            src = rng.randrange(len(data))
            data[at:at] = data[src:src + n]                         # a copy of other bytes
        elif kind == 7 and others:
            other = rng.choice(others)
            cut = rng.randrange(len(other) + 1)
            data = data[:at] + bytearray(other[cut:])                # spliced with another archive
        else:
            data[at:at + 4] = b"PK" + bytes([rng.choice([1, 3, 5, 7]), rng.choice([2, 4, 6, 8])])
    return bytes(data)


def python_restores(path):
    """name -> bytes of every entry Python's zipfile reads with its CRC good."""
    restored, seen = {}, {}
    try:
        with zipfile.ZipFile(path) as z:
            for info in z.infolist():
                seen[info.filename] = seen.get(info.filename, 0) + 1
                if info.is_dir():
                    continue
                try:
                    restored[info.filename] = z.read(info)
                except Exception:
                    pass
    except Exception:
        return {}
    return {n: d for n, d in restored.items() if seen[n] == 1}


def recorded_crcs(data):
    """Every CRC the archive's local headers, central headers and signed
    data descriptors record."""
    found = set()
    for m in re.finditer(b"PK(\x03\x04|\x01\x02|\x07\x08)", data):
        at = m.start() + {b"\x03\x04": 14, b"\x01\x02": 16, b"\x07\x08": 4}[m.group(1)]
        if at + 4 <= len(data):
            found.add(int.from_bytes(data[at:at + 4], "little"))
    return found


def bsdtar_restores(path, work):
    """name -> bytes of what bsdtar extracts when it reports no error at all,
    for the files whose CRC the archive records somewhere (bsdtar does not
    check every entry it writes)."""
    out = os.path.join(work, "bsdtar-out")
    shutil.rmtree(out, ignore_errors=True)
    os.makedirs(out)
    try:
        proc = subprocess.run(["bsdtar", "-xf", path, "-C", out], stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=60)
    except subprocess.TimeoutExpired:
        return {}
    if proc.returncode != 0:
        return {}
    result = {rel: read(p) for rel, p in walk(out) if os.path.isfile(p) and not os.path.islink(p)}
    crcs = recorded_crcs(read(path))
    result = {n: d for n, d in result.items() if zlib.crc32(d) in crcs}
    # bsdtar writes a name met twice twice: names must be unique in the archive.
    try:
        with zipfile.ZipFile(path) as z:
            names = [i.filename for i in z.infolist()]
        return {n: d for n, d in result.items() if names.count(n) <= 1}
    except Exception:
        return result


def ours(bundlet, path, work):
    out = os.path.join(work, "ours-out")
    shutil.rmtree(out, ignore_errors=True)
    proc = bundlet_run.start(bundlet, "-Aua", "-D" + out, "-Z" + path)
    if proc.returncode != 0 or proc.stderr:
        return None, "exit %d, stderr %r" % (proc.returncode, proc.stderr[:200])
    return out, proc.stdout


def violations(bundlet, path, work, use_bsdtar=True):
    """What the peers restored that bundlet lost without a word."""
    out, message = ours(bundlet, path, work)
    if out is None:
        return ["bundlet failed: " + message]
    if message:
        return []
    peers = [("python", python_restores(path))]
    if use_bsdtar:
        peers.append(("bsdtar", bsdtar_restores(path, work)))
    found = []
    for peer, restored in peers:
        for name, data in restored.items():
            if not PLAIN.match(name) or ".." in name.split("/"):
                continue
            target = os.path.join(out, name)
            got = read(target) if os.path.isfile(target) else None
            if got != data:
                found.append("%s restored %s (%d bytes, CRC %08x); bundlet %s, silently" % (
                    peer, name, len(data), zlib.crc32(data), "missing" if got is None else "gave %d other bytes" % len(got)))
    return found


def search(args):
    rng = random.Random(args.seed)
    work = tempfile.mkdtemp(prefix="zo-differential-")
    os.makedirs(args.keep, exist_ok=True)
    writers = ["zipcraft", "zipcraft", "python", "zip", "7z", "bsdtar", "bundlet"]
    bases = []
    stop = time.time() + args.seconds
    tried = kept = 0
    try:
        while time.time() < stop:
            if len(bases) < 60 or rng.random() < 0.05:
                writer = rng.choice(writers)
                try:
                    bases.append(write_with(rng, writer, random_tree(rng), work, args.bundlet))
                except subprocess.CalledProcessError:
                    continue
                bases = bases[-200:]
            data = mutate(rng, rng.choice(bases), bases)
            path = os.path.join(work, "case.zip")
            write(path, data)
            tried += 1
            problems = violations(args.bundlet, path, work)
            if problems:
                name = hashlib.sha1(data).hexdigest()[:16] + ".zip"
                shutil.copy(path, os.path.join(args.keep, name))
                kept += 1
                print("kept %s: %s" % (name, "; ".join(problems[:3])), flush=True)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    print("%d archives tried, %d kept" % (tried, kept))
    return 0


def replay(args):
    work = tempfile.mkdtemp(prefix="zo-differential-")
    failed = 0
    try:
        names = sorted(n for n in os.listdir(args.replay) if n.endswith(".zip"))
        for n in names:
            problems = violations(args.bundlet, os.path.join(args.replay, n), work)
            for p in problems:
                print("%s: %s" % (n, p))
            failed += bool(problems)
        print("replayed %d archives, %d with silent losses" % (len(names), failed))
    finally:
        shutil.rmtree(work, ignore_errors=True)
    return 1 if failed or not names else 0


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("bundlet")
    parser.add_argument("--seconds", type=float, default=60)
    parser.add_argument("--keep", default=KEPT)
    parser.add_argument("--seed", type=int, default=None)
    parser.add_argument("--replay")
    args = parser.parse_args()
    args.bundlet = os.path.abspath(args.bundlet)
    return replay(args) if args.replay else search(args)


if __name__ == "__main__":
    sys.exit(main())
