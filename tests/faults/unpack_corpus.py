#!/usr/bin/env python3
"""Damaged and hostile archives, built at test time (zipcraft.py), each
unpacked by the bundlet program with its expected outcome: the whole content,
or the one error text that names what could not be restored. After every
run nothing outside the destination has changed, and the output holds no
raw control character.

Usage: unpack_corpus.py <path of the bundlet executable> [unittest arguments]
       unpack_corpus.py --write <directory>   (writes the archives, for manual runs)

Each case is one function below that returns a Case. The cases stand for
classes of damage: truncation anywhere, counts that disagree, data
descriptors with and without signature or lost, local headers that disagree
with the central directory, ZIP files stored inside, overlapping entries,
names that are deep, colliding, escaping or unprintable, and links in the
destination.
"""
import os
import random
import re
import socket
import shutil
import stat
import struct
import subprocess
import sys
import unittest
import zipfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import bundlet_run  # noqa: E402
import zipcraft  # noqa: E402
from bundlet_run import read, walk  # noqa: E402
from zipcraft import Entry, build  # noqa: E402

BUNDLET = None
DIR = object()   # an expected directory

MAY_BE_MISSING = "its central directory could not be read, so entries it held may be missing"
BAD_DATA = "Invalid size or check sum of file or unsupported compression format - Native error: 00008"


class Case:
    """files: the destination afterwards, path -> bytes or DIR (None: as it
    was before). errors: texts the one error message must hold (None: the run
    must print nothing). prepare(sandbox, dest): sets up the destination and
    the files around it before the run; check(test, sandbox, dest): more
    checks afterwards."""

    def __init__(self, archive, files=None, errors=None, prepare=None, check=None):
        self.archive = archive
        self.files = files
        self.errors = errors
        self.prepare = prepare
        self.check = check


def text(n, seed=1):
    rng = random.Random(seed)
    words = [b"alpha", b"beta", b"gamma", b"delta", b"entry", b"header", b"\n"]
    out = bytearray()
    while len(out) < n:
        out += rng.choice(words) + b" "
    return bytes(out[:n])


def noise(n, seed=2):
    return random.Random(seed).randbytes(n)


# The archive most cases damage: a deflated text, a stored random file, a
# directory, and a larger deflated text.
SAMPLE = [
    ("a.txt", text(5000), 8),
    ("b.bin", noise(3000), 0),
    ("d/", b"", 0),
    ("d/c.txt", text(70000, 3), 8),
]


def sample_entries(**options):
    return [Entry(name, data, method=method, **options) for name, data, method in SAMPLE]


def sample_files(*names):
    files = {name.rstrip("/"): (DIR if name.endswith("/") else data) for name, data, _ in SAMPLE}
    return files if not names else {k: v for k, v in files.items() if k in names}


def sample(**options):
    return build(sample_entries(**options))


# --- Sound archives that must extract --------------------------------------------


def case_directory_marked_by_attribute_only():
    return Case(build([Entry("docs", method=0, attr=0x10), Entry("docs/a.txt", b"a"),
                       Entry("empty", method=0, attr=0x10), Entry("f.txt", b"not a dir", attr=0x30)]),
                {"docs": DIR, "docs/a.txt": b"a", "empty": DIR, "f.txt": b"not a dir"})


def case_count_wrapped_past_65535():
    # Written without Zip64 records: the 16-bit count holds 65,537 mod 65,536.
    # (Directory entries of one name: the entries are many, the files few.)
    entries = [Entry("d/", method=0) for _ in range(65535)] + [Entry("d/x.txt", b"x"), Entry("last.txt", b"last")]
    return Case(build(entries), {"d": DIR, "d/x.txt": b"x", "last.txt": b"last"})


def case_count_below_the_directory():
    return Case(build(sample_entries(), count=2), sample_files())


def case_count_above_the_directory():
    return Case(build(sample_entries(), count=9), sample_files())


def case_zip64_count_above_the_directory():
    return Case(build(sample_entries(), count=4000000000, zip64=True), sample_files())


def case_descriptors_of_every_form():
    forms = ["signed", "unsigned", "signed64", "unsigned64"]
    entries = [Entry("%s-%d.txt" % (f, m), text(3000 + i, i), method=m, descriptor=f)
               for i, (f, m) in enumerate((f, m) for f in forms for m in (0, 8))]
    return Case(build(entries), {e.name.decode(): e.data for e in entries})


# --- Truncation --------------------------------------------------------------------


def case_cut_inside_the_first_local_header():
    return Case(sample().data[:17], {}, ["Invalid archive file. - Native error: 00035"])


def case_cut_inside_an_entrys_data():
    b = sample()
    return Case(b.data[:b.data_starts[3] + 100], sample_files("a.txt", "b.bin", "d"),
                [MAY_BE_MISSING, 'Entry "d/c.txt" could not be restored: ' + BAD_DATA])


def case_cut_inside_a_stored_entrys_data():
    b = sample()
    return Case(b.data[:b.data_starts[1] + 10], sample_files("a.txt"),
                [MAY_BE_MISSING, 'Entry "b.bin" could not be restored: ' + BAD_DATA])


def case_cut_between_entries():
    b = sample()
    return Case(b.data[:b.offsets[2]], sample_files("a.txt", "b.bin"), [MAY_BE_MISSING])


def case_cut_inside_the_central_directory():
    b = sample()
    return Case(b.data[:b.central_start + 60], sample_files())


def case_cut_inside_the_end_record():
    return Case(sample().data[:-5], sample_files())


def case_cut_inside_a_descriptor():
    b = build(sample_entries(descriptor="signed"))
    return Case(b.data[:b.central_start - 6], sample_files("a.txt", "b.bin", "d"),
                [MAY_BE_MISSING, 'Entry "d/c.txt" could not be restored: The size and check sum of "d/c.txt" are'
                                 " lost: its data descriptor was not found"])


# --- Data descriptors without a central directory ------------------------------------


def case_rebuilt_with_descriptors_of_every_form():
    forms = ["signed", "unsigned", "signed64", "unsigned64"]
    entries = [Entry("%s-%d.txt" % (f, m), text(3000 + i, i), method=m, descriptor=f)
               for i, (f, m) in enumerate((f, m) for f in forms for m in (0, 8))]
    b = build(entries)
    return Case(b.data[:b.central_start + 10], {e.name.decode(): e.data for e in entries})


def case_descriptor_lost():
    entries = [Entry("a.txt", b"first"), Entry("lost.txt", text(4000), descriptor="lost"), Entry("z.txt", b"last")]
    b = build(entries)
    return Case(b.data[:b.central_start], {"a.txt": b"first", "z.txt": b"last"},
                [MAY_BE_MISSING, 'Entry "lost.txt" could not be restored: The size and check sum of "lost.txt"'
                                 " are lost: its data descriptor was not found"])


def case_many_headers_waiting_for_descriptors():
    # Thousands of headers whose descriptors never come: still one pass.
    header = struct.pack("<IHHHHHIIIHH", zipcraft.LOCAL, 20, 8, 8, 0, 0, 0, 0, 0, 1, 0) + b"n"
    return Case(header * 20000, {}, ["20000 entries could not be restored", "data descriptor was not found"])


# --- Local headers that disagree with the central directory ---------------------------


def disagreeing(**local):
    entries = [Entry("a.txt", b"before"), Entry("victim.txt", text(2000), **local), Entry("z.txt", b"after")]
    return Case(build(entries).data, {"a.txt": b"before", "z.txt": b"after"},
                ['Entry "victim.txt" could not be restored: The local header of "victim.txt" does not agree'
                 " with the central directory"])


def case_local_name_differs():
    return disagreeing(local_name="evil.txt")


def case_local_method_differs():
    return disagreeing(local_method=0)


def case_local_sizes_differ():
    return disagreeing(local_sizes=(100, 2000))


def case_central_crc_wrong():
    entries = [Entry("a.txt", b"before"), Entry("bad.txt", text(2000), crc_value=0x12345678), Entry("z.txt", b"after")]
    return Case(build(entries).data, {"a.txt": b"before", "z.txt": b"after"},
                ['Entry "bad.txt" could not be restored: ' + BAD_DATA])


def case_zip64_marker_without_its_field():
    # The sizes say "see the Zip64 field", and there is none: never 0 bytes.
    entries = [Entry("a.txt", b"before"), Entry("m.txt", text(3000), central_sizes=(0xFFFFFFFF, 0xFFFFFFFF),
                                                crc_value=0), Entry("z.txt", b"after")]
    return Case(build(entries).data, {"a.txt": b"before", "z.txt": b"after"},
                ['Entry "m.txt" could not be restored: The sizes of "m.txt" are lost: its Zip64 extra field is missing'])


def case_zip64_locator_pointing_nowhere():
    b = build(sample_entries(), zip64=True)
    data = bytearray(b.data)
    locator = data.rindex(b"PK\x06\x07")
    data[locator + 8:locator + 16] = (2 ** 40).to_bytes(8, "little")
    return Case(bytes(data), sample_files())


def case_several_damaged_entries():
    entries = [Entry("1.txt", b"one", crc_value=1), Entry("2.txt", b"two"), Entry("3.txt", b"three", method=12),
               Entry("4.txt", b"four", flags=1)]
    return Case(build(entries).data, {"2.txt": b"two"},
                ['3 entries could not be restored, the first "1.txt": ' + BAD_DATA])


# --- ZIP files inside, overlapping entries --------------------------------------------


def inner_zip():
    return build([Entry("a.txt", b"EVIL inner content", method=0), Entry("inner-only.txt", b"x", method=0)]).data


def case_zip_stored_inside_rebuilt():
    inner = inner_zip()
    b = build([Entry("a.txt", b"real a"), Entry("inner.zip", inner, method=0), Entry("z.txt", b"real z")])
    # The central directory is cut: rebuilt from the local headers, the
    # stored archive stays one entry.
    return Case(b.data[:b.central_start + 30], {"a.txt": b"real a", "inner.zip": inner, "z.txt": b"real z"})


def case_zip_stored_inside_with_descriptor_rebuilt():
    inner = inner_zip()
    b = build([Entry("a.txt", b"real a"), Entry("inner.zip", inner, method=0, descriptor="signed"),
               Entry("z.txt", b"real z")])
    return Case(b.data[:b.central_start], {"a.txt": b"real a", "inner.zip": inner, "z.txt": b"real z"},
                [MAY_BE_MISSING])


def case_overlap_bomb_quoted():
    return Case(zipcraft.overlap_bomb(30, 1), {}, ['The archive is refused: entries "00000.bin" and "00001.bin"'
                                                   " overlap in the archive - Native error: 00048"])


def case_overlap_bomb_one_header():
    return Case(zipcraft.overlap_bomb(60, 1, same_header=True), {}, ["overlap in the archive - Native error: 00048"])


def case_entry_inside_the_central_directory():
    # The second entry's local header hides in the first entry's comment.
    fake = struct.pack("<IHHHHHIIIHH", zipcraft.LOCAL, 20, 0, 0, 0, 0, zipcraft.crc(b"hidden"), 6, 6, 6, 0) + b"hidden"
    entries = [Entry("a.txt", b"a", method=0, comment=fake + b"hidden"), Entry("hidden", b"hidden", method=0)]
    b = build(entries)
    # Point the second central entry at the copy in the comment.
    comment_at = b.data.index(fake)
    entries[1].offset = comment_at
    # Only that entry is refused: the other is whole and apart.
    return Case(build(entries).data, {"a.txt": b"a"},
                ['Entry "hidden" could not be restored: The local header of "hidden" lies inside the central directory'
                 " - Native error: 00048"])


def peers_read_the_same(test, sandbox, dest):
    """Python's zipfile (and unzip -t, where it is installed) read the archive
    as bundlet did: every entry, with the content bundlet restored."""
    archive = os.path.join(sandbox, "case.zip")
    with zipfile.ZipFile(archive) as z:
        for name in z.namelist():
            test.assertEqual(z.read(name), read(os.path.join(dest, name)), name)
    if shutil.which("unzip"):
        test.assertEqual(subprocess.run(["unzip", "-t", "-qq", archive], capture_output=True).returncode, 0)


def overstated(method, grow, in_local=False):
    """An archive whose first entry's compressed size says grow bytes more
    than its data holds: the excess reaches into the next local header."""
    data = text(3000, 7)
    first = Entry("a.txt", data, method=method)
    sizes = (len(first.packed) + grow, len(data))
    first.central_sizes = sizes
    if in_local:
        first.local_sizes = sizes
    entries = [first, Entry("b.txt", text(500, 8)), Entry("c.txt", b"last", method=0)]
    return Case(build(entries).data, {"a.txt": data, "b.txt": text(500, 8), "c.txt": b"last"},
                check=peers_read_the_same)


def case_overstated_central_compressed_size():
    # The deflate stream ends before the next local header: it is read to
    # its end, as other readers read it.
    return overstated(8, 40)


def case_overstated_compressed_size_in_both_headers():
    return overstated(8, 40, in_local=True)


def case_overstated_compressed_size_far_into_the_next_entry():
    return overstated(8, 600)


def case_overstated_stored_size():
    # A stored entry's data is as long as the entry: what follows is not
    # read. (With the local header overstating it too, unzip reads the
    # excess as data and fails the check sum; Python's zipfile reads the
    # entry, and so does bundlet.)
    return overstated(0, 40)


def case_overstated_stored_size_in_both_headers():
    return Case(overstated(0, 40, in_local=True).archive, {"a.txt": text(3000, 7), "b.txt": text(500, 8),
                                                           "c.txt": b"last"})


def case_one_entry_overlapping_its_neighbour():
    # x.bin's sizes grow over all of y.txt: those two share bytes and are
    # refused, the entries apart from them come out.
    y = Entry("y.txt", b"why" * 10, method=0)
    y_length = 30 + len(y.name) + len(y.packed)
    x_data = text(1000, 9)
    x = Entry("x.bin", x_data, method=0, local_sizes=(len(x_data) + y_length,) * 2,
              central_sizes=(len(x_data) + y_length,) * 2)
    entries = [Entry("a.txt", b"before"), x, y, Entry("z.txt", b"after")]
    return Case(build(entries).data, {"a.txt": b"before", "z.txt": b"after"},
                ['2 entries could not be restored, the first "x.bin": The data of "x.bin" overlaps another entry'
                 " in the archive - Native error: 00048"])


# --- Names ----------------------------------------------------------------------------


def case_deep_name():
    return Case(build([Entry(zipcraft.deep_name(), b"deep", method=0), Entry("ok.txt", b"ok")]).data,
                {"ok.txt": b"ok"}, ["could not be restored", "File name too long", "..."])


def case_colliding_names():
    names = zipcraft.colliding_names(3000)
    return Case(build([Entry(n, n.encode(), method=0) for n in names]).data, {n: n.encode() for n in names})


def case_names_escaping_the_destination():
    names = ["../up.txt", "/abs.txt", "a/../../up2.txt", "..\\back.txt", "C:/drive.txt", "//server/x.txt"]
    entries = [Entry(n, b"escaped") for n in names] + [Entry("in.txt", b"in")]
    return Case(build(entries).data, {"in.txt": b"in"},
                ['6 entries could not be restored, the first "../up.txt": Cannot extract file "../up.txt": its name'
                 " leads outside the destination directory"])


def case_unprintable_names():
    entries = [Entry(b"bad\x1b[31m\x07\x9b.txt", b"x", crc_value=1), Entry(b"nul\x00name.txt", b"y"),
               Entry("ok.txt", b"ok")]
    # \x9b alone is no UTF-8: the name is read in the OEM code page (U+00A2).
    return Case(build(entries).data, {"ok.txt": b"ok"},
                ['2 entries could not be restored, the first "bad\\x1B[31m\\x07\u00a2.txt"'])


def case_nul_in_a_name():
    return Case(build([Entry(b"nul\x00name.txt", b"y"), Entry("ok.txt", b"ok")]).data, {"ok.txt": b"ok"},
                ['Entry "nul\\x00name.txt" could not be restored: Cannot extract file "nul\\x00name.txt"'])


def case_empty_name():
    return Case(build([Entry(b"", b"nameless"), Entry("ok.txt", b"ok")]).data, {"ok.txt": b"ok"},
                ['Entry "" could not be restored: Cannot extract file "": it has no name'])


# --- Bytes without a readable entry ----------------------------------------------------


def case_garbage_after_a_signature():
    return Case(b"PK\x03\x04" + noise(3000), {}, ["Invalid archive file. - Native error: 00035"])


def case_zeros_after_a_signature():
    return Case(b"PK\x03\x04" + bytes(3000), {}, ["Invalid archive file. - Native error: 00035"])


def case_one_header_whose_sizes_run_past_the_end():
    header = struct.pack("<IHHHHHIIIHH", zipcraft.LOCAL, 20, 0, 8, 0, 0, 0x1234, 1000000, 2000000, 7, 0)
    return Case(header + b"big.bin" + noise(200), {},
                [MAY_BE_MISSING, 'Entry "big.bin" could not be restored: ' + BAD_DATA])


# --- The destination's own files -------------------------------------------------------


def case_hard_link_at_the_target():
    def prepare(sandbox, dest):
        victim = os.path.join(sandbox, "outside", "victim.txt")
        with open(victim, "wb") as f:
            f.write(b"precious")
        os.chmod(victim, 0o644)
        os.link(victim, os.path.join(dest, "f.txt"))

    def check(test, sandbox, dest):
        test.assertEqual(os.stat(os.path.join(dest, "f.txt")).st_nlink, 1)
        test.assertEqual(stat.S_IMODE(os.stat(os.path.join(dest, "f.txt")).st_mode) & 0o222, 0)

    return Case(build([Entry("f.txt", b"new content", attr=0x21)]).data, {"f.txt": b"new content"},
                prepare=prepare, check=check)


def case_symbolic_links_in_the_destination():
    def prepare(sandbox, dest):
        with open(os.path.join(sandbox, "outside", "victim.txt"), "wb") as f:
            f.write(b"precious")
        os.symlink(os.path.join(sandbox, "outside", "victim.txt"), os.path.join(dest, "f.txt"))
        os.symlink(os.path.join(sandbox, "outside"), os.path.join(dest, "sub"))

    def check(test, sandbox, dest):
        test.assertTrue(os.path.islink(os.path.join(dest, "sub")))
        test.assertFalse(os.path.islink(os.path.join(dest, "f.txt")))

    return Case(build([Entry("f.txt", b"new"), Entry("sub/planted.txt", b"planted")]).data,
                {"f.txt": b"new", "sub": "link"},
                ['Entry "sub/planted.txt" could not be restored: Cannot extract file "sub/planted.txt": its path'
                 " passes through a symbolic link"], prepare=prepare, check=check)


def case_damaged_entry_leaves_the_file_there():
    def prepare(sandbox, dest):
        with open(os.path.join(dest, "keep.txt"), "wb") as f:
            f.write(b"the destination's own")

    return Case(build([Entry("keep.txt", text(3000), crc_value=7)]).data, {"keep.txt": b"the destination's own"},
                ['Entry "keep.txt" could not be restored'], prepare=prepare)


CASES = {name[len("case_"):]: fn for name, fn in sorted(globals().items()) if name.startswith("case_")}


# --- The runner -------------------------------------------------------------------------


def snapshot(root, skip):
    """Every path below root but skip, with its kind, mode and content."""
    result = {}
    for rel, path in walk(root, skip):
        st = os.lstat(path)
        content = None
        if stat.S_ISREG(st.st_mode):
            content = read(path)
        elif stat.S_ISLNK(st.st_mode):
            content = os.readlink(path)
        result[rel] = (stat.S_IFMT(st.st_mode), stat.S_IMODE(st.st_mode), content)
    return result


def tree(dest):
    """What unpacking made: a link, a directory or a file's bytes by path."""
    return {rel: "link" if os.path.islink(path) else DIR if os.path.isdir(path) else read(path)
            for rel, path in walk(dest)}


def run_bundlet(*args):
    return bundlet_run.run(BUNDLET, *args, timeout=300)


class UnpackCorpus(unittest.TestCase):
    def setUp(self):
        self.sandbox = bundlet_run.scratch("zo-corpus-")
        os.makedirs(os.path.join(self.sandbox, "outside"))
        with open(os.path.join(self.sandbox, "outside", "up.txt"), "wb") as f:
            f.write(b"outside")

    def tearDown(self):
        bundlet_run.remove_tree(self.sandbox)

    def check_output(self, out, errors):
        if errors is None:
            self.assertEqual(out, b"")
            return
        self.assertTrue(out.startswith(bundlet_run.ERROR_HEAD) and out.endswith(b"\n\n"), out[:300])
        message = out[len(bundlet_run.ERROR_HEAD):-2].decode("utf-8")
        self.assertNotIn("\n", message)
        self.assertIsNone(re.search(r"[\x00-\x08\x0b-\x1f\x7f-\x9f]", message), message[:300])
        for expected in errors:
            self.assertIn(expected, message)

    def run_case(self, name):
        case = CASES[name]()
        archive_bytes = case.archive.data if hasattr(case.archive, "data") else case.archive
        archive = os.path.join(self.sandbox, "case.zip")
        with open(archive, "wb") as f:
            f.write(archive_bytes)
        dest = os.path.join(self.sandbox, "dest")
        os.makedirs(dest)
        if case.prepare:
            case.prepare(self.sandbox, dest)
        before_dest = tree(dest)
        before = snapshot(self.sandbox, dest)
        out = run_bundlet("-Aua", "-D" + dest, "-Z" + archive)
        self.check_output(out, case.errors)
        self.assertEqual(snapshot(self.sandbox, dest), before, "something outside the destination changed")
        expected = before_dest if case.files is None else case.files
        got = tree(dest)
        self.assertEqual(sorted(got), sorted(expected))
        for path, content in expected.items():
            self.assertTrue(got[path] == content, path)
        if case.check:
            case.check(self, self.sandbox, dest)


def add_case_tests():
    for name in CASES:
        setattr(UnpackCorpus, "test_" + name, lambda self, n=name: self.run_case(n))


add_case_tests()


class ArchiveArgument(unittest.TestCase):
    """The archive argument must be a file: anything else is refused at once,
    never waited on."""

    def test_special_files_are_refused_at_once(self):
        root = bundlet_run.scratch("zo-corpus-")
        try:
            fifo = os.path.join(root, "fifo.zip")
            os.mkfifo(fifo)
            sock_path = os.path.join(root, "sock.zip")
            sock = socket.socket(socket.AF_UNIX)
            sock.bind(sock_path)
            link = os.path.join(root, "link.zip")
            os.symlink(fifo, link)
            cases = [(fifo, "Not a regular file"), (sock_path, "Not a regular file"), (link, "Not a regular file"),
                     ("/dev/null", "Not a regular file"), (root, "Is a directory")]
            for path, reason in cases:
                with self.subTest(path=path):
                    out = run_bundlet("-Aua", "-D" + os.path.join(root, "out"), "-Z" + path)
                    self.assertEqual(out, bundlet_run.error('Cannot open file "%s". %s' % (path, reason)))
            sock.close()
        finally:
            bundlet_run.remove_tree(root)


def write_all(directory):
    os.makedirs(directory, exist_ok=True)
    for name, fn in CASES.items():
        case = fn()
        data = case.archive.data if hasattr(case.archive, "data") else case.archive
        with open(os.path.join(directory, name + ".zip"), "wb") as f:
            f.write(data)


if __name__ == "__main__":
    if sys.argv[1] == "--write":
        write_all(sys.argv[2])
        sys.exit(0)
    BUNDLET = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
