#!/usr/bin/env python3
"""End-to-end tests of the bundlet program: real command lines, real trees,
archives checked with Python's zipfile and the peer tools unzip and 7z.

Usage: cli_test.py <path of the bundlet executable> [unittest arguments]

Every run starts in a new session, without a controlling terminal, as an
installer or a script would start the tool: the engine then cannot ask about
a failed entry and answers itself, Abort when packing and Ignore when
unpacking (every whole entry is still restored, and the failures reported).
"""
import os
import pty
import random
import resource
import shutil
import signal
import stat
import subprocess
import sys
import time
import unicodedata
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import bundlet_run  # noqa: E402
from bundlet_run import error, read, walk, write  # noqa: E402

BUNDLET = None


def run(*args, cwd=None):
    """Runs bundlet without a terminal; returns its standard output."""
    return bundlet_run.run(BUNDLET, *args, cwd=cwd)


def dos_time(seconds):
    """A file time as the DOS stamp keeps it: local time, even seconds."""
    t = time.localtime(seconds)
    return (t.tm_year, t.tm_mon, t.tm_mday, t.tm_hour, t.tm_min, t.tm_sec // 2 * 2)


def make_tree(root):
    """Files, empty files, empty and nested directories, hidden files, names
    with blanks and non-ASCII characters (inside and outside the ANSI code
    page), a read-only file and a file of several deflate blocks."""
    files = {
        "a.txt": b"alpha\n" * 100,
        "empty.txt": b"",
        ".hidden": b"secret",
        "noext": b"no extension",
        "with space/file name.txt": b"blanks",
        "caf\u00e9/\u00e4 \u00f6 \u00fc.txt": "Umlaute".encode(),
        "\u03a9mega/\u65e5\u672c.txt": "unicode".encode(),
        "\u20acuro.txt": b"euro",
        "nested/deeper/deepest/leaf.bin": bytes(range(256)) * 10,
        "nested/big.bin": (b"0123456789abcdef" * 65536 + os.urandom(1 << 20)) * 2,
        "readonly.txt": b"do not touch",
    }
    for name, data in files.items():
        write(os.path.join(root, name), data)
    os.makedirs(os.path.join(root, "emptydir"))
    os.makedirs(os.path.join(root, "nested/emptyinner"))
    old = time.time() - 400 * 86400
    os.utime(os.path.join(root, "a.txt"), (old, old))
    os.chmod(os.path.join(root, "readonly.txt"), 0o444)
    return files


def tree_of(root):
    """Relative path -> None for a directory, (bytes, DOS time, writable) for a file."""
    result = {}
    for rel, path in walk(root):
        if os.path.isdir(path):
            result[rel] = None
        else:
            st = os.stat(path)
            result[rel] = (read(path), dos_time(st.st_mtime), bool(st.st_mode & stat.S_IWUSR))
    return result


class BundletTest(unittest.TestCase):
    def setUp(self):
        self.root = bundlet_run.scratch("zo-bundlet-")

    def tearDown(self):
        bundlet_run.remove_tree(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def check_with_peers(self, archive, empty=False):
        bundlet_run.check_with_peers(archive, empty)

    def skip_under_wine(self, reason):
        """Skips the case when the program is the Windows build under Wine."""
        if bundlet_run.under_wine(BUNDLET):
            self.skipTest(reason)


class ArgumentErrors(BundletTest):
    def test_each_error_with_its_exact_output(self):
        param = "Incorrect parameter "
        count = "Incorrect number of parameters."
        dcount = "Incorrect number of -D parameters "
        cases = [
            ([], count),
            (["-aza"], param + "-aza"),
            (["-Z"], param + "-Z"),
            (["-D"], param + "-D"),
            (["x.zip"], param + "x.zip"),
            (["--"], param + "--"),
            (["-Ax"], param + "-Ax"),
            (["-AZA", "-D/tmp", "-Z/tmp/a.zip"], param + "-AZA"),
            (["-Azaa"], param + "-Azaa"),
            (["-Qfoo"], param + "-Qfoo"),
            (["-zfoo"], param + "-zfoo"),
            (["-D/tmp", "-Aza", "-Z/tmp/a.zip"], param + "-D/tmp"),
            (["-Z/tmp/a.zip", "-D/tmp", "-Aza"], param + "-D/tmp"),
            (["-Azp", "-D\\\\part"], param + "-D\\\\part"),
            (["-Azp", "-D/data/part"], param + "-D/data/part"),
            (["-Azp", "-D/data\\part"], param + "-D/data\\part"),
            (["-aza", "-Qfoo"], param + "-aza"),
            (["-Aza", "-D/tmp"], count),
            (["-Aza", "-Z/tmp/a.zip"], count),
            (["-Z/tmp/a.zip", "-D"], param + "-D"),
            (["-Z/tmp/a.zip"], count),
            (["-Aza", "-D/a", "-D/b", "-Z/tmp/a.zip"], dcount),
            (["-Aua", "-D/a", "-D/b", "-Z/tmp/a.zip"], dcount),
            (["-Azp", "-D/a\\\\x", "-Aza", "-Z/tmp/a.zip", "-D/b"], dcount),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                self.assertEqual(run(*args), error(message))

    def test_a_wrong_command_line_never_touches_an_existing_archive(self):
        write(self.path("src/a.txt"), b"a")
        archive = self.path("keep.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + archive), b"")
        before = read(archive)
        missing = self.path("missing")
        for args, message in [
            (["-Aza", "-D" + self.path("src"), "-D/x", "-Z" + archive], "Incorrect number of -D parameters "),
            (["-Aza", "-Z" + archive, "-Qx"], "Incorrect parameter -Qx"),
            (["-Aza", "-D" + missing, "-Z" + archive],
             'Cannot open file "%s". No such file or directory' % missing),
            (["-Aza", "-D" + self.path("src/a.txt"), "-Z" + archive],
             'Cannot open file "%s". Not a directory' % self.path("src/a.txt")),
            (["-Azp", "-D" + self.path("src") + "\\\\a.txt", "-D" + self.path("src") + "\\\\gone", "-Z" + archive],
             'Cannot open file "%s". No such file or directory' % self.path("src/gone")),
        ]:
            with self.subTest(args=args):
                self.assertEqual(run(*args), error(message))
                self.assertEqual(read(archive), before)


class PackAll(BundletTest):
    def test_pack_a_whole_tree(self):
        src = self.path("src")
        files = make_tree(src)
        archive = self.path("src", "nested", "self.zip")  # inside its own source tree
        self.assertEqual(run("-Aza", "-D" + src, "-Z" + archive), b"")
        self.check_with_peers(archive)
        with zipfile.ZipFile(archive) as z:
            infos = {i.filename: i for i in z.infolist()}
            expected = set(files) | {"emptydir/", "nested/emptyinner/"}
            for name in files:
                parent = os.path.dirname(name)
                while parent:
                    expected.add(parent + "/")
                    parent = os.path.dirname(parent)
            self.assertEqual(set(infos), expected)
            self.assertNotIn("nested/self.zip", infos)
            # Files of a directory first, then each subdirectory, its entry
            # right before what lies below it.
            names = [i.filename for i in z.infolist()]
            self.assertLess(names.index("readonly.txt"), names.index("caf\u00e9/"))
            self.assertEqual(names[names.index("nested/") + 1], "nested/big.bin")
            for name, data in files.items():
                info = infos[name]
                self.assertEqual(z.read(name), data, name)
                st = os.stat(os.path.join(src, name))
                self.assertEqual(info.date_time, dos_time(st.st_mtime), name)
                attr = 0x20 | (0x02 if os.path.basename(name).startswith(".") else 0)
                attr |= 0x01 if name == "readonly.txt" else 0
                self.assertEqual(info.external_attr, attr, name)
                self.assertEqual(info.compress_type, zipfile.ZIP_STORED if not data else zipfile.ZIP_DEFLATED, name)
            for name in ("emptydir/", "nested/emptyinner/", "caf\u00e9/"):
                self.assertEqual(infos[name].external_attr, 0x10, name)
                self.assertEqual(infos[name].compress_type, zipfile.ZIP_STORED)
            # Names outside the ANSI code page go as UTF-8 with bit 11.
            self.assertTrue(infos["\u03a9mega/\u65e5\u672c.txt"].flag_bits & 0x800)
            self.assertFalse(infos["a.txt"].flag_bits & 0x800)

    def test_archive_cannot_be_created(self):
        write(self.path("src/a.txt"), b"a")
        target = self.path("no", "such", "x.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + target),
                         error('Cannot create file "%s". No such file or directory' % target))

    def test_an_empty_directory_gives_an_empty_archive(self):
        os.makedirs(self.path("empty"))
        self.assertEqual(run("-Aza", "-D" + self.path("empty"), "-Z" + self.path("e.zip")), b"")
        self.assertEqual(os.path.getsize(self.path("e.zip")), 22)
        self.check_with_peers(self.path("e.zip"), empty=True)


    def test_a_failed_entry_is_reported_and_nothing_is_created(self):
        self.skip_under_wine("the message names the path as Windows spells it (Z:/tmp/...)")
        # A sparse source of 4 GiB needs Zip64, which this engine does not
        # write: the entry fails at commit and nobody can be asked, so the
        # transaction is aborted, its failure printed, and the pack leaves
        # the archive path as it was: absent.
        write(self.path("src/a.txt"), b"a")
        with open(self.path("src/huge.bin"), "wb") as f:
            f.truncate(1 << 32)
        archive = self.path("h.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + archive),
                         error("Cannot compress file '%s'. Zip64 mode is not enabled - Native error: 00043"
                               % self.path("src/huge.bin")))
        self.assertEqual(sorted(os.listdir(self.root)), ["src"])

    def test_special_files_are_left_out(self):
        self.skip_under_wine("named pipes are a POSIX kind of file; Wine shows them as files to open")
        write(self.path("src/a.txt"), b"a")
        os.mkfifo(self.path("src/pipe"))
        os.makedirs(self.path("src/sub"))
        os.mkfifo(self.path("src/sub/pipe.fifo"))
        archive = self.path("s.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), ["a.txt", "sub/"])
        self.assertEqual(run("-Azp", "-D" + self.path("src") + "\\\\", "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), ["a.txt"])
        self.assertEqual(run("-Azp", "-D" + self.path("src") + "\\\\sub\\pipe.fifo", "-Z" + archive),
                         error('Cannot open file "%s". Invalid argument' % self.path("src/sub/pipe.fifo")))


class PackParts(BundletTest):
    def test_file_and_directory_parts(self):
        base = self.path("data")
        write(self.path("data/sub/x.txt"), b"x" * 1000)
        write(self.path("data/sub/deeper/y.txt"), b"y")
        write(self.path("data/sub/deeper/.dot"), b"dot")
        write(self.path("data/sub/README"), b"readme")
        os.makedirs(self.path("data/sub/emptydir"))
        write(self.path("other/z z/\u00e9t\u00e9.txt"), b"summer")
        write(self.path("other/x.txt"), b"later data")
        old = time.time() - 100 * 86400
        os.utime(self.path("data/sub/x.txt"), (old, old))
        archive = self.path("parts.zip")
        started = time.time()
        out = run("-Azp",
                  "-D" + base + "\\\\sub\\x.txt",           # a file, '\' inside the part
                  "-D" + base + "\\\\sub/deeper",           # a directory, '/' inside the part
                  "-D" + base + "\\\\sub\\README",          # a file without an extension
                  "-D" + self.path("other").replace("/", "\\") + "\\\\z z",  # base written with '\'
                  "-D" + self.path("other") + "\\\\x.txt",  # the same stored name again
                  "-Z" + archive)
        self.assertEqual(out, b"")
        self.check_with_peers(archive)
        with zipfile.ZipFile(archive) as z:
            names = [i.filename for i in z.infolist()]
            self.assertEqual(names, ["sub/x.txt", "sub/deeper/.dot", "sub/deeper/y.txt", "sub/README",
                                     "z z/\u00e9t\u00e9.txt", "x.txt"])
            self.assertEqual(z.read("sub/x.txt"), b"x" * 1000)
            self.assertEqual(z.read("z z/\u00e9t\u00e9.txt"), b"summer")
            self.assertEqual(z.read("x.txt"), b"later data")
            for info in z.infolist():
                # Parts are stored with the time of the run and plain attributes.
                self.assertEqual(info.external_attr, 0x80, info.filename)
                self.assertGreaterEqual(info.date_time, dos_time(started - 2), info.filename)

    def test_a_name_met_twice_keeps_one_entry_with_the_later_data(self):
        write(self.path("one/x.txt"), b"first")
        write(self.path("two/x.txt"), b"second")
        archive = self.path("twice.zip")
        self.assertEqual(run("-Azp", "-D" + self.path("one") + "\\\\x.txt",
                             "-D" + self.path("two") + "\\\\x.txt", "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), ["x.txt"])
            self.assertEqual(z.read("x.txt"), b"second")

    def test_empty_part_walks_the_base_directory_itself(self):
        write(self.path("data/a.txt"), b"a")
        write(self.path("data/sub/b.txt"), b"b")
        archive = self.path("data/self.zip")
        self.assertEqual(run("-Azp", "-D" + self.path("data") + "\\\\", "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            # Relative names, and the archive is not stored into itself.
            self.assertEqual(z.namelist(), ["a.txt", "sub/b.txt"])

    def test_part_errors(self):
        write(self.path("data/dir.v2/a.txt"), b"a")
        archive = self.path("p.zip")
        self.assertEqual(run("-Azp", "-D" + self.path("data") + "\\\\dir.v2", "-Z" + archive),
                         error('Cannot open file "%s". Is a directory' % self.path("data/dir.v2")))
        self.assertEqual(run("-Azp", "-D" + self.path("nowhere") + "\\\\sub", "-Z" + archive),
                         error('Cannot open file "%s". No such file or directory' % self.path("nowhere/sub")))
        self.assertFalse(os.path.exists(archive))


class Names(BundletTest):
    """Names come back as they went in, from our own unpacking and from the
    peers'."""

    def packed_both_ways(self, src):
        """The archive of src by -Aza and by -Azp, each checked by the peers."""
        for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\"]):
            with self.subTest(action=args[0]):
                archive = self.path("n.zip")
                self.assertEqual(run(*args, "-Z" + archive), b"")
                self.check_with_peers(archive)
                yield archive

    def unpacked_by_peers(self, archive):
        """Peer -> the files it unpacks from archive (relative paths)."""
        commands = {"unzip": lambda dest: ["unzip", "-q", archive, "-d", dest],
                    "7z": lambda dest: ["7z", "x", "-y", "-bd", "-o" + dest, archive],
                    "bsdtar": lambda dest: ["bsdtar", "-xf", archive, "-C", dest]}
        result = {}
        for peer, command in commands.items():
            dest = self.path("peer-" + peer)
            os.makedirs(dest)
            subprocess.run(command(dest), check=True, stdout=subprocess.DEVNULL,
                           env=dict(os.environ, LC_ALL="C.UTF-8"))
            result[peer] = [rel for rel, path in walk(dest) if not os.path.isdir(path)]
            shutil.rmtree(dest)
        return result

    def assert_packs_and_unpacks_as(self, expected):
        """The tree src, packed both ways, holds the files expected (entry
        name: data), and unpacks into the same."""
        for archive in self.packed_both_ways(self.path("src")):
            with zipfile.ZipFile(archive) as z:
                self.assertEqual({n: z.read(n) for n in z.namelist() if not n.endswith("/")}, expected)
            dest = self.path("out")
            self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
            self.assertEqual({k: v[0] for k, v in tree_of(dest).items() if v}, expected)
            shutil.rmtree(dest)

    def test_names_survive_the_round_trip(self):
        # Each name as zipfile reads it (CP437 without bit 11, UTF-8 with it)
        # and as our unpacking writes it: CP437 and Windows-1252 letters,
        # letters of one of them only (sigma and box drawing are CP437's
        # alone, the euro is Windows-1252's), CP437 bytes that form UTF-8,
        # letters of neither, both Unicode forms of an accented letter (two
        # files), and names that differ in case only.
        names = ["\u00df\u00e4\u00f6.txt", "caf\u00e9.txt", "\u00e9t\u00e9/\u00fc.txt", "\u0416.txt", "\u20ac.txt",
                 "plain.txt", "\u03a3.txt", "\u2560\u2550\u2563.txt", "\u00b1\u00bd\u00b7.txt",
                 "e\u0301t\u00e9.txt", "\u00e9t\u00e9.txt", "Case.txt", "CASE.txt", "\U0001f600.txt"]
        for i, name in enumerate(names):
            write(self.path("src", name), b"content %d" % i)
        for archive in self.packed_both_ways(self.path("src")):
            with zipfile.ZipFile(archive) as z:
                self.assertEqual(sorted(n for n in z.namelist() if not n.endswith("/")), sorted(names))
            for peer, files in self.unpacked_by_peers(archive).items():
                # bsdtar brings every UTF-8 name it reads to the composed
                # form, so the two forms of one name meet there, whatever
                # the archive holds.
                expected = {unicodedata.normalize("NFC", n) for n in names} if peer == "bsdtar" else names
                self.assertEqual(sorted(files), sorted(expected), peer)
            dest = self.path("out")
            self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
            self.assertEqual({k: v[0] for k, v in tree_of(dest).items() if v},
                             {n: b"content %d" % i for i, n in enumerate(names)})
            shutil.rmtree(dest)

    def test_file_names_that_are_not_utf8_are_stored_as_windows_1252(self):
        self.skip_under_wine("Wine reads Linux names through the Unix locale: bytes that are not UTF-8 "
                             "never reach a Windows program as they are")
        src = self.path("src").encode()
        os.makedirs(src)
        for raw in (b"caf\xe9.txt", b"\x80uro.txt", b"ok.txt"):
            with open(os.path.join(src, raw), "wb") as f:
                f.write(raw)
        os.makedirs(os.path.join(src, b"d\xfcr"))
        with open(os.path.join(src, b"d\xfcr", b"in.txt"), "wb") as f:
            f.write(b"inside")
        expected = {"caf\u00e9.txt": b"caf\xe9.txt", "\u20acuro.txt": b"\x80uro.txt", "ok.txt": b"ok.txt",
                    "d\u00fcr/in.txt": b"inside"}
        self.assert_packs_and_unpacks_as(expected)

    def test_names_that_read_alike_stay_apart(self):
        """A byte name read as Windows-1252 never takes the name of a sibling:
        of those that read alike, the UTF-8 one keeps its name and the others
        show their foreign bytes; a directory renamed so takes its content
        along. Every file of the tree is an entry."""
        self.skip_under_wine("Wine reads Linux names through the Unix locale: bytes that are not UTF-8 "
                             "never reach a Windows program as they are")
        src = self.path("src").encode()
        files = {b"caf\xe9.txt": b"bytes", "caf\u00e9.txt".encode(): b"utf-8", b"caf%E9.txt": b"percent",
                 b"\xe9\xc3\xa9.txt": b"bytes first", b"\xc3\xa9\xe9.txt": b"bytes last",
                 b"\x81.txt": b"undefined byte", "\u0081.txt".encode(): b"control letter",
                 b"d\xfcr/in.txt": b"in the byte directory", b"d\xfcr/only.txt": b"only there",
                 "d\u00fcr/in.txt".encode(): b"in the utf-8 directory"}
        for raw, data in files.items():
            os.makedirs(os.path.dirname(os.path.join(src, raw)), exist_ok=True)
            with open(os.path.join(src, raw), "wb") as f:
                f.write(data)
        expected = {"caf\u00e9.txt": b"utf-8", "caf%E9.txt": b"percent", "caf%E9~2.txt": b"bytes",
                    "%E9\u00e9.txt": b"bytes first", "\u00e9%E9.txt": b"bytes last",
                    "%81.txt": b"undefined byte", "\u0081.txt": b"control letter",
                    "d%FCr/in.txt": b"in the byte directory", "d%FCr/only.txt": b"only there",
                    "d\u00fcr/in.txt": b"in the utf-8 directory"}
        self.assert_packs_and_unpacks_as(expected)


class ChangedWhilePacked(BundletTest):
    """A file that another process shrinks or grows while bundlet reads it is
    stored as it was read, the archive is whole and in place, and the run
    says which file it was."""

    def start_when_open(self, proc, path, writer):
        """Runs writer (a command line) once proc has path open."""
        fds = "/proc/%d/fd" % proc.pid
        deadline = time.time() + 60
        while time.time() < deadline and proc.poll() is None:
            try:
                if any(os.path.realpath(os.path.join(fds, fd)) == path for fd in os.listdir(fds)):
                    subprocess.run(writer, check=True)
                    return True
            except OSError:
                pass
            time.sleep(0.001)
        return False

    def test_shrunk_and_grown_files_are_stored_as_read_and_named(self):
        self.skip_under_wine("a Windows program's open files are not shown in /proc")
        letters = bytes(0x61 + b % 16 for b in range(256))
        data = os.urandom(24 << 20).translate(letters)   # seconds of deflate at level 9
        for change, size in (("shrunk", 8 << 20), ("grown", (24 << 20) + 12345)):
            for action in ("-Aza", "-Azp"):
                with self.subTest(change=change, action=action):
                    src = self.path("src")
                    big = os.path.join(src, "big.txt")
                    write(os.path.join(src, "small.txt"), b"small")
                    write(big, data)
                    archive = self.path("c.zip")
                    part = "-D" + src + ("" if action == "-Aza" else "\\\\big.txt")
                    env = dict(os.environ, BUNDLET_THREADS="1")
                    proc = subprocess.Popen(bundlet_run.command(BUNDLET, action, part, "-Z" + archive),
                                            stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                                            stderr=subprocess.PIPE, start_new_session=True, env=env)
                    changed = self.start_when_open(proc, big, ["truncate", "-s", str(size), big])
                    out, err = proc.communicate(timeout=300)
                    self.assertTrue(changed, "the file was never seen open")
                    self.assertEqual((proc.returncode, err), (0, b""))
                    self.assertEqual(out, error('File "%s" changed while it was packed: it is stored as it was read'
                                                % big))
                    self.check_with_peers(archive)
                    with zipfile.ZipFile(archive) as z:
                        stored = z.read("big.txt")
                    # Everything up to the new end, or the size it was opened with.
                    self.assertEqual(stored, data[:len(stored)])
                    self.assertEqual(len(stored), size if change == "shrunk" else len(data))
                    shutil.rmtree(src)
                    os.remove(archive)


class FailingFiles(BundletTest):
    """A source, an archive or a target whose reads or writes the system
    refuses once it is open is named in the run's error, with the system's
    reason. The faults are real: a sysfs attribute that claims 4,096 bytes
    but refuses to be read (the loopback device has no link speed), and the
    file size limit, which makes writes past it fail."""

    UNREADABLE = "/sys/class/net/lo/speed"

    def unreadable_link(self, path):
        try:
            with open(self.UNREADABLE, "rb") as f:
                f.read()
        except OSError:
            os.makedirs(os.path.dirname(path), exist_ok=True)
            os.symlink(self.UNREADABLE, path)
            return
        self.skipTest("%s reads on this system" % self.UNREADABLE)

    def test_unreadable_sources_and_archives_are_named(self):
        self.skip_under_wine("no sysfs for a Windows program")
        src = self.path("src")
        write(os.path.join(src, "a.txt"), b"fine")
        self.unreadable_link(os.path.join(src, "sub", "speed"))
        source = os.path.join(src, "sub", "speed")
        archive = self.path("out.zip")
        for action, part in (("-Aza", src), ("-Azp", src + "\\\\sub")):
            with self.subTest(action=action):
                self.assertEqual(run(action, "-D" + part, "-Z" + archive),
                                 error('Cannot read file "%s". Invalid argument' % source))
                self.assertFalse(os.path.exists(archive))
        self.unreadable_link(self.path("linked.zip"))
        self.assertEqual(run("-Aua", "-D" + self.path("dest"), "-Z" + self.path("linked.zip")),
                         error('Cannot read file "%s". Invalid argument' % self.path("linked.zip")))

    def test_a_target_that_cannot_grow_is_named(self):
        self.skip_under_wine("no file size limit for a Windows program")
        limit = 256 << 10

        def limited():
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))

        src = self.path("src")
        write(os.path.join(src, "big.bin"), os.urandom(limit + 1))
        archive = self.path("out.zip")
        self.assertEqual(run("-Aza", "-D" + src, "-Z" + archive), b"")
        dest = self.path("dest")
        out = bundlet_run.run(BUNDLET, "-Aua", "-D" + dest, "-Z" + archive, setup=limited)
        self.assertIn(b'Cannot write file "%s". File too large' % os.path.join(dest, "big.bin").encode(), out)
        self.assertEqual([rel for rel, _ in walk(dest)], [])


class Ratio(BundletTest):
    """Whatever the data, the archive is at most 1% larger than zip -9's:
    data that does not compress may be stored at once, but only when no part
    of it compresses. The cases lay compressible and random stretches around
    the sizes that matter: the best mode's block (1.5 MiB) and 16 KiB."""

    BLOCK = 0x180000
    SAMPLE = 16 * 1024

    def cases(self):
        rng = random.Random(20261210)
        block, sample = self.BLOCK, self.SAMPLE

        def random_bytes(n):
            return rng.randbytes(n)

        def letters(n):
            return bytes(0x61 + b % 16 for b in random_bytes(n))

        def at_samples(base, fill, size):
            data = bytearray(base(size))
            for at in (0, size // 2 - sample // 2, size - sample):
                data[at:at + sample] = fill(sample)
            return bytes(data)

        def alternating(stretch, size, first=letters, second=random_bytes):
            out = bytearray()
            while len(out) < size:
                out += (first if len(out) // stretch % 2 == 0 else second)(stretch)
            return bytes(out[:size])

        yield "random", random_bytes(block + 1)
        for size in (block - 1, block, block + 1, 2 * block):
            yield "one letter, random at the samples %d" % size, at_samples(lambda n: b"a" * n, random_bytes, size)
            yield "random, one letter at the samples %d" % size, at_samples(random_bytes, lambda n: b"a" * n, size)
        for stretch in (sample - 1, sample, sample + 1, 4 * sample, block - 1, block + 1):
            yield "alternating %d" % stretch, alternating(stretch, 3 * block)
        chunk = random_bytes(24 * 1024)
        yield "one random chunk repeated", (chunk * (block // len(chunk) + 2))[:block + 1]
        yield "random from 200 byte values", bytes(b % 200 for b in random_bytes(block))
        yield "random, then text", random_bytes(block // 2) + letters(block)

    def test_never_much_larger_than_zip_9(self):
        for name, data in self.cases():
            with self.subTest(case=name):
                src = self.path("src-" + name.replace(" ", "-").replace(",", ""))
                write(os.path.join(src, "data.bin"), data)
                ours, theirs = self.path("ours.zip"), self.path("theirs.zip")
                for archive in (ours, theirs):
                    if os.path.exists(archive):
                        os.remove(archive)
                self.assertEqual(run("-Aza", "-D" + src, "-Z" + ours), b"")
                subprocess.run(["zip", "-9", "-q", "-X", "-j", theirs, os.path.join(src, "data.bin")], check=True)
                with zipfile.ZipFile(ours) as z:
                    self.assertEqual(z.read("data.bin"), data)
                self.assertLessEqual(os.path.getsize(ours), os.path.getsize(theirs) * 1.01,
                                     "%d bytes against zip -9's %d" % (os.path.getsize(ours), os.path.getsize(theirs)))


class Output(BundletTest):
    def test_a_closed_standard_output_does_not_change_the_exit_code(self):
        # The error text goes into a pipe nobody reads any more.
        read_end, write_end = os.pipe()
        os.close(read_end)
        proc = subprocess.run(bundlet_run.command(BUNDLET, "-Aua", "-D" + self.path("out"), "-Z" + self.path("none.zip")),
                              stdin=subprocess.DEVNULL, stdout=write_end, stderr=subprocess.PIPE,
                              start_new_session=True, timeout=60)
        os.close(write_end)
        self.assertEqual(proc.returncode, 0)
        self.assertEqual(proc.stderr, b"")


def run_on_a_terminal(*args):
    """Runs bundlet on a pseudo-terminal, as a person at a console starts it;
    returns its standard output and what reached the terminal."""
    return bundlet_run.run_on_a_terminal(BUNDLET, *args)


class Progress(BundletTest):
    """A long run shows one line of progress on a terminal, and erases it;
    without a terminal nothing at all is written but the one error text."""

    def big_tree(self):
        # Random letters of a 16-letter alphabet: they compress, so deflate
        # searches them (incompressible data is stored at once), and that
        # takes long enough to be shown.
        letters = bytes(0x61 + b % 16 for b in range(256))
        for i in range(12):
            write(self.path("src", "f%02d.txt" % i), os.urandom(3 << 20).translate(letters))
        return self.path("src")

    def test_a_progress_line_on_a_terminal(self):
        self.skip_under_wine("Wine's console adds escapes of its own on a pseudo-terminal")
        src = self.big_tree()
        archive = self.path("p.zip")
        out, seen = run_on_a_terminal("-Aza", "-D" + src, "-Z" + archive)
        self.assertEqual(out, b"")
        self.assertIn("\rPacking ", seen)
        line = seen.split("\r")[-2]
        self.assertRegex(line, r"^Packing \d+%  [\d.]+ of [\d.]+ MB  \d+ of 12 files  [\d.]+ MB/s  \d+:\d\d left")
        self.assertTrue(seen.endswith("\r\x1b[K"), repr(seen[-40:]))   # erased at the end
        self.check_with_peers(archive)
        # An error on a terminal: the line is gone before the error text.
        out, seen = run_on_a_terminal("-Aua", "-D" + self.path("out"), "-Z" + self.path("none.zip"))
        self.assertEqual(out, error('File "%s" not found - Native error: 00012' % self.path("none.zip")))
        self.assertEqual(seen, "")

    def test_nothing_without_a_terminal(self):
        src = self.big_tree()
        proc = subprocess.run(bundlet_run.command(BUNDLET, "-Aza", "-D" + src, "-Z" + self.path("p.zip")), stdin=subprocess.DEVNULL,
                              stdout=subprocess.PIPE, stderr=subprocess.PIPE, start_new_session=True)
        self.assertEqual((proc.returncode, proc.stdout, proc.stderr), (0, b"", b""))


class Unpack(BundletTest):
    def test_round_trip_into_a_missing_directory(self):
        src = self.path("src")
        make_tree(src)
        archive = self.path("t.zip")
        self.assertEqual(run("-Aza", "-D" + src, "-Z" + archive), b"")
        dest = self.path("restore", "deep", "er")
        self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
        self.assertEqual(tree_of(dest), tree_of(src))
        # Unpacking again overwrites what is there, read-only files included.
        write(os.path.join(dest, "a.txt"), b"changed")
        self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
        self.assertEqual(tree_of(dest), tree_of(src))

    def test_relative_paths_with_either_separator(self):
        write(self.path("src/a.txt"), b"a")
        write(self.path("src/sub/b.txt"), b"b")
        os.makedirs(self.path("out"))
        self.assertEqual(run("-Aza", "-Dsrc", "-Zout\\t.zip", cwd=self.root), b"")
        self.assertEqual(run("-Aua", "-Ddest\\x", "-Zout/t.zip", cwd=self.root), b"")
        self.assertEqual(tree_of(self.path("dest/x")), tree_of(self.path("src")))

    def test_archive_written_by_a_peer(self):
        src = self.path("src")
        make_tree(src)
        archive = self.path("peer.zip")
        subprocess.run(["zip", "-qr", archive, "."], cwd=src, check=True)
        dest = self.path("out")
        self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
        ours, theirs = tree_of(dest), tree_of(src)
        self.assertEqual({k: v and v[0] for k, v in ours.items()}, {k: v and v[0] for k, v in theirs.items()})

    def test_entries_just_past_the_inflate_buffer_come_out_whole(self):
        # zlib still holds output and the end of the stream when the last
        # compressed byte has been read; both the peer's archive and our own
        # must unpack, and so must the entry after it.
        zeros = {"zeros-%d.bin" % n: bytes(n) for n in (262204, 262304, 262384, 524448)}
        text = {"text.txt": (b"The quick brown fox jumps over the lazy dog.\n" * 6000)[:262145]}
        peer = self.path("peer.zip")
        with zipfile.ZipFile(peer, "w", zipfile.ZIP_DEFLATED) as z:
            for name, data in {**zeros, **text, "z-after.txt": b"after"}.items():
                z.writestr(name, data)
        for name, data in {**zeros, **text, "z-after.txt": b"after"}.items():
            write(self.path("src", name), data)
        ours = self.path("ours.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + ours), b"")
        for archive in (peer, ours):
            with self.subTest(archive=os.path.basename(archive)):
                dest = self.path("out-" + os.path.basename(archive))
                self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive), b"")
                self.assertEqual({k: v[0] for k, v in tree_of(dest).items()},
                                 {**zeros, **text, "z-after.txt": b"after"})

    def test_missing_archive(self):
        missing = self.path("none.zip")
        self.assertEqual(run("-Aua", "-D" + self.path("out"), "-Z" + missing),
                         error('File "%s" not found - Native error: 00012' % missing))

    def test_not_an_archive(self):
        write(self.path("junk.zip"), b"this is not an archive at all" * 10)
        self.assertEqual(run("-Aua", "-D" + self.path("out"), "-Z" + self.path("junk.zip")),
                         error("Invalid archive file. - Native error: 00035"))

    def test_damaged_entry_is_reported_not_passed_over(self):
        write(self.path("src/1-good.txt"), b"good")
        write(self.path("src/2-bad.txt"), b"The quick brown fox jumps over the lazy dog. " * 200)
        write(self.path("src/3-after.txt"), b"after")
        archive = self.path("d.zip")
        self.assertEqual(run("-Aza", "-D" + self.path("src"), "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("2-bad.txt")
        data = bytearray(read(archive))
        start = info.header_offset + 30 + len(info.filename)
        data[start + info.compress_size // 2] ^= 0x55
        write(archive, bytes(data))
        dest = self.path("out")
        self.assertEqual(run("-Aua", "-D" + dest, "-Z" + archive),
                         error('Entry "2-bad.txt" could not be restored: Invalid size or check sum of file'
                               " or unsupported compression format - Native error: 00008"))
        # The good entries before and after it are there, and the damaged one
        # is not left half written.
        self.assertEqual(sorted(os.listdir(dest)), ["1-good.txt", "3-after.txt"])
        self.assertEqual(read(os.path.join(dest, "3-after.txt")), b"after")



class AbortWithWorkers(BundletTest):
    """An Abort answered on the terminal ends an unpack at the same entry,
    with the same tree and the same message, whatever BUNDLET_THREADS is."""

    def test_abort_leaves_the_same_tree_and_text_with_any_number_of_workers(self):
        self.skip_under_wine("Wine's console is not the pseudo-terminal the answer is typed on")
        src = self.path("src")
        write(os.path.join(src, "1-good.txt"), b"good")
        write(os.path.join(src, "2-bad.txt"), b"The quick brown fox jumps over the lazy dog. " * 2000)
        for i in range(40):
            write(os.path.join(src, "3-after", "%02d.txt" % i), b"after %d\n" % i * (i * 50))
        write(os.path.join(src, "4-existing.txt"), b"from the archive")
        archive = self.path("d.zip")
        self.assertEqual(run("-Aza", "-D" + src, "-Z" + archive), b"")
        with zipfile.ZipFile(archive) as z:
            info = z.getinfo("2-bad.txt")
        data = bytearray(read(archive))
        data[info.header_offset + 30 + len(info.filename) + info.compress_size // 2] ^= 0x55
        write(archive, bytes(data))
        outcomes = {}
        for threads in ("1", "2", "16"):
            dest = self.path("out-" + threads)
            write(os.path.join(dest, "4-existing.txt"), b"was there")
            env = dict(os.environ, BUNDLET_THREADS=threads)
            out, seen = bundlet_run.run_on_a_terminal(BUNDLET, "-Aua", "-D" + dest, "-Z" + archive, env=env,
                                                      typed=b"a\n" * 8)
            self.assertIn("[a] Abort", seen)
            outcomes[threads] = (out, sorted((rel, None if os.path.isdir(p) else read(p)) for rel, p in walk(dest)))
        out, tree = outcomes["1"]
        self.assertEqual(out, error("43 entries could not be restored, the first \"2-bad.txt\": Invalid size or"
                                    " check sum of file or unsupported compression format - Native error: 00008"))
        # The entries after the damaged one (a directory, its 40 files, the
        # existing file) are not restored, and nothing was written ahead.
        self.assertEqual(tree, [("1-good.txt", b"good"), ("4-existing.txt", b"was there")])
        self.assertEqual(outcomes["2"], outcomes["1"])
        self.assertEqual(outcomes["16"], outcomes["1"])


if __name__ == "__main__":
    BUNDLET = os.path.abspath(sys.argv.pop(1))
    unittest.main()
