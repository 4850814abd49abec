#!/usr/bin/env python3
"""Fault injection and hostile input for the bundlet program, run as a real
process: a write that fails midway (file-size limit), an unreadable source,
an archive in a read-only directory, extraction targets that cannot be
created or that point outside the destination, and command lines of long,
empty, quote-only and non-UTF-8 arguments.

After each fault: the program prints the failure's text and exits 0; the
archive is byte for byte as before the run, or complete and valid; nothing is
written outside the destination and no temporary file is left behind.

Usage: bundlet_faults.py <path of the bundlet executable> [unittest arguments]

Permission faults need a user the permissions apply to: as root the program
runs as nobody for them (skipped when neither works). The checkout may lie
where nobody cannot enter (a private temporary directory, root's home), so
nobody runs a copy of the program placed in the test's own open directory.
"""
import os
import resource
import shutil
import signal
import subprocess
import sys
import time
import unittest
import zipfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), ".."))
import bundlet_run  # noqa: E402
from bundlet_run import NOBODY, as_nobody, error, read, walk, write  # noqa: E402

BUNDLET = None


def limit_file_size(limit):
    """A child setup that makes every write beyond `limit` bytes fail with
    EFBIG (SIGXFSZ ignored), as a full disk would fail it."""
    def setup():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return setup


def run(*args, setup=None, env=None, program=None):
    """Runs bundlet without a terminal; returns its standard output as bytes."""
    return bundlet_run.run(program or BUNDLET, *args, setup=setup, env=env)


DISK_FULL = error("Disk is full. There is not enough free space on disk. - Native error: 00065")


def old_archive(path):
    """An archive that was there before the run: one entry, distinct from
    anything a run writes."""
    os.makedirs(os.path.dirname(path), exist_ok=True)
    with zipfile.ZipFile(path, "w") as z:
        z.writestr("old.txt", b"the archive the user had")


def listing(root):
    """Every path below root with the bytes of each file."""
    return {rel: None if os.path.isdir(path) else read(path) if os.path.isfile(path) else "special"
            for rel, path in walk(root)}


class FaultTest(unittest.TestCase):
    def setUp(self):
        self.root = bundlet_run.scratch("zo-faults-")
        os.chmod(self.root, 0o777)
        # The engine's temporary files go here, so leftovers are seen.
        self.tmp = self.path("tmp")
        os.makedirs(self.tmp)
        os.chmod(self.tmp, 0o777)
        self.env = dict(os.environ, TMPDIR=self.tmp)

    def tearDown(self):
        bundlet_run.remove_tree(self.root)

    def path(self, *parts):
        return os.path.join(self.root, *parts)

    def run_bundlet(self, *args, setup=None):
        return run(*args, setup=setup, env=self.env)

    def run_as_nobody(self, *args, setup=None):
        """Runs a copy of the program that nobody can reach, as nobody when
        the tests run as root (the permissions then apply to it)."""
        if os.geteuid() != 0:
            return self.run_bundlet(*args, setup=setup)
        program = bundlet_run.copy_for_nobody(BUNDLET, self.path("bin"))

        def then_nobody():
            if setup:
                setup()
            as_nobody()
        return run(*args, setup=then_nobody, env=self.env, program=program)

    def run_as(self, user, *args, setup=None):
        """Runs the program as root ("root") or as an unprivileged user."""
        if user == "root":
            return self.run_bundlet(*args, setup=setup)
        return self.run_as_nobody(*args, setup=setup)

    def give_to_nobody(self, *paths):
        if os.geteuid() == 0:
            for p in paths:
                os.lchown(p, NOBODY, NOBODY)

    def assert_no_temp_files(self):
        self.assertEqual(os.listdir(self.tmp), [])

    def assert_valid_and_complete(self, archive, source):
        """The archive reads back with every entry whole: each stored file
        equals its source (no entry cut short by the fault)."""
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            for info in z.infolist():
                if not info.is_dir():
                    self.assertEqual(z.read(info), read(os.path.join(source, info.filename)), info.filename)
            return len(z.infolist())

    def make_tree(self, name="src", big=1 << 20):
        src = self.path(name)
        write(os.path.join(src, "a.txt"), b"alpha\n" * 1000)
        write(os.path.join(src, "sub/b.bin"), os.urandom(big))
        write(os.path.join(src, "sub/c.txt"), b"gamma")
        for dirpath, dirnames, filenames in os.walk(src):
            os.chmod(dirpath, 0o777)
            for f in filenames:
                os.chmod(os.path.join(dirpath, f), 0o666)
        return src


class WriteFailsMidway(FaultTest):
    """RLIMIT_FSIZE makes the write of the archive (or of its temporary copy)
    fail with EFBIG part of the way through, as a full disk does."""

    def test_pack_into_a_new_archive(self):
        src = self.make_tree()
        for limit in (100, 4096, 300 * 1024):
            with self.subTest(limit=limit):
                archive = self.path("new-%d.zip" % limit)
                out = self.run_bundlet("-Aza", "-D" + src, "-Z" + archive, setup=limit_file_size(limit))
                self.assertTrue(out.startswith(b"  Original message :\n"), out)
                self.assertEqual(out, DISK_FULL)
                if os.path.exists(archive):
                    self.assert_valid_and_complete(archive, src)
                self.assert_no_temp_files()
                # Nothing beside the archive either: no partial copy, no temporary tail.
                self.assertEqual(set(os.listdir(self.root)) - {"src", "tmp"},
                                 {os.path.basename(archive)} if os.path.exists(archive) else set())
                if os.path.exists(archive):
                    os.remove(archive)

    def test_pack_over_an_existing_archive(self):
        src = self.make_tree()
        archive = self.path("old.zip")
        small = self.path("small")
        write(os.path.join(small, "x.txt"), b"x" * 100)
        self.assertEqual(self.run_bundlet("-Aza", "-D" + small, "-Z" + archive), b"")
        before = read(archive)
        out = self.run_bundlet("-Aza", "-D" + src, "-Z" + archive, setup=limit_file_size(64 * 1024))
        self.assertEqual(out, DISK_FULL)
        after = read(archive)
        if after != before:
            self.assert_valid_and_complete(archive, src)
        self.assert_no_temp_files()
        self.assertEqual(sorted(os.listdir(self.root)), ["old.zip", "small", "src", "tmp"])

    def test_unpack_into_a_full_disk(self):
        src = self.make_tree()
        archive = self.path("a.zip")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + archive), b"")
        dest = self.path("dest")
        out = self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive, setup=limit_file_size(64 * 1024))
        self.assertTrue(out.startswith(b"  Original message :\n"), out)
        self.assertIn(b"File too large", out)
        # Whatever was extracted lies inside the destination and is whole.
        for name, data in listing(dest).items():
            if data is not None:
                self.assertEqual(data, read(os.path.join(src, name)), name)
        self.assertEqual(sorted(os.listdir(self.root)), ["a.zip", "dest", "src", "tmp"])
        self.assert_no_temp_files()


class PermissionFaults(FaultTest):
    def test_unreadable_source(self):
        src = self.make_tree(big=1000)
        secret = os.path.join(src, "sub", "c.txt")
        os.chmod(secret, 0)
        archive = self.path("a.zip")
        out = self.run_as_nobody("-Aza", "-D" + src, "-Z" + archive)
        if out == b"":
            self.skipTest("the file stayed readable: permissions do not apply here")
        self.assertTrue(out.startswith(b"  Original message :\n"), out)
        self.assertEqual(out, error('Cannot open file "%s" - Native error: 00033' % secret))
        if os.path.exists(archive):
            self.assert_valid_and_complete(archive, src)
        self.assert_no_temp_files()

    def test_archive_in_a_read_only_directory(self):
        src = self.make_tree(big=1000)
        locked = self.path("locked")
        os.makedirs(locked)
        os.chmod(locked, 0o555)
        archive = os.path.join(locked, "a.zip")
        out = self.run_as_nobody("-Aza", "-D" + src, "-Z" + archive)
        if os.path.exists(archive):
            self.skipTest("the directory stayed writable: permissions do not apply here")
        self.assertEqual(out, error('Cannot create file "%s". Permission denied' % archive))
        self.assertEqual(os.listdir(locked), [])
        self.assert_no_temp_files()

    def test_existing_read_only_archive_is_left_as_it_is(self):
        src = self.make_tree(big=1000)
        archive = self.path("ro.zip")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + archive), b"")
        before = read(archive)
        os.chmod(archive, 0o444)
        write(os.path.join(src, "new.txt"), b"new")
        os.chmod(os.path.join(src, "new.txt"), 0o666)
        out = self.run_as_nobody("-Aza", "-D" + src, "-Z" + archive)
        if read(archive) != before:
            self.skipTest("the archive stayed writable: permissions do not apply here")
        self.assertTrue(out.startswith(b"  Original message :\n"), out)
        self.assertIn(b"Permission denied", out)
        self.assert_no_temp_files()


class ExtractionTargets(FaultTest):
    def make_archive(self, entries):
        archive = self.path("in.zip")
        with zipfile.ZipFile(archive, "w") as z:
            for name, data in entries:
                z.writestr(name, data)
        return archive

    def test_target_that_cannot_be_created(self):
        archive = self.make_archive([("a/b.txt", b"b"), ("c.txt", b"c")])
        dest = self.path("dest")
        write(os.path.join(dest, "a"), b"a file where a directory is needed")
        out = self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive)
        self.assertTrue(out.startswith(b"  Original message :\n"), out)
        self.assertIn(os.path.join(dest, "a").encode(), out)
        self.assertEqual(read(os.path.join(dest, "a")), b"a file where a directory is needed")
        self.assertEqual(sorted(os.listdir(self.root)), ["dest", "in.zip", "tmp"])

    def test_destination_is_a_file(self):
        archive = self.make_archive([("c.txt", b"c")])
        dest = self.path("dest.txt")
        write(dest, b"keep")
        out = self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive)
        self.assertTrue(out.startswith(b"  Original message :\n"), out)
        self.assertEqual(read(dest), b"keep")
        self.assertEqual(sorted(os.listdir(self.root)), ["dest.txt", "in.zip", "tmp"])

    def test_entry_names_that_point_outside_the_destination(self):
        outside = self.path("outside.txt")
        names = ["../outside.txt", "../../outside.txt", "a/../../outside.txt", outside,
                 "/" + os.path.relpath(outside, "/"), "..\\outside.txt", "a\\..\\..\\outside.txt"]
        for name in names:
            with self.subTest(name=name):
                archive = self.make_archive([("inside.txt", b"in"), (name, b"escaped")])
                dest = self.path("dest")
                self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive)
                self.assertFalse(os.path.exists(outside))
                self.assertEqual(sorted(os.listdir(self.root)), ["dest", "in.zip", "tmp"])
                for dirpath, _, filenames in os.walk(dest):
                    for f in filenames:
                        real = os.path.realpath(os.path.join(dirpath, f))
                        self.assertTrue(real.startswith(os.path.realpath(dest) + os.sep), real)
                shutil.rmtree(dest)


class PackAllOrNothing(FaultTest):
    """A pack that does not complete leaves the archive path as it was, byte
    for byte, with its permissions, and nothing beside it; the failure is
    printed. Each fault runs as root where it applies to root, and always as
    an unprivileged user."""

    def unreadable_file(self, src):
        p = os.path.join(src, "sub", "c.txt")
        os.chmod(p, 0)
        return p, True

    def dangling_link(self, src):
        p = os.path.join(src, "sub", "gone.txt")
        os.symlink(os.path.join(src, "nowhere"), p)
        return p, False

    def unreadable_directory(self, src):
        p = os.path.join(src, "sub", "locked")
        os.makedirs(p)
        write(os.path.join(p, "inside.txt"), b"inside")
        os.chmod(os.path.join(p, "inside.txt"), 0o666)
        os.chmod(p, 0)
        return p, True

    def commands(self, src, archive, failing):
        return {
            "-Aza": ["-Aza", "-D" + src, "-Z" + archive],
            "-Azp of a directory": ["-Azp", "-D" + src + "\\\\sub", "-Z" + archive],
            "-Azp of the file": ["-Azp", "-D" + src + "\\\\" + os.path.relpath(failing, src), "-Z" + archive],
        }

    def test_a_failed_pack_leaves_the_archive_path_as_it_was(self):
        faults = [("unreadable file", self.unreadable_file), ("dangling link", self.dangling_link),
                  ("unreadable directory", self.unreadable_directory)]
        for fault, make in faults:
            for user in ("root", "nobody"):
                for existed in (True, False):
                    src = self.make_tree(big=1000)
                    failing, needs_user = make(src)
                    if user == "root" and needs_user and os.geteuid() == 0:
                        self.reset(src)   # root reads everything: only nobody meets this fault
                        continue
                    archive = self.path("out", "a.zip")
                    os.makedirs(self.path("out"), exist_ok=True)
                    os.chmod(self.path("out"), 0o777)
                    for name, args in self.commands(src, archive, failing).items():
                        if fault == "unreadable directory" and name == "-Azp of the file":
                            continue
                        with self.subTest(fault=fault, user=user, existed=existed, command=name):
                            before = None
                            if existed:
                                old_archive(archive)
                                os.chmod(archive, 0o640)
                                self.give_to_nobody(archive)
                                before = (read(archive), os.stat(archive).st_mode, os.stat(archive).st_uid)
                            out = self.run_as(user, *args)
                            self.assertEqual(out, error('Cannot open file "%s" - Native error: 00033' % failing))
                            if existed:
                                st = os.stat(archive)
                                self.assertEqual((read(archive), st.st_mode, st.st_uid), before)
                                self.assertEqual(os.listdir(self.path("out")), ["a.zip"])
                            else:
                                self.assertEqual(os.listdir(self.path("out")), [])
                            self.assert_no_temp_files()
                            if os.path.exists(archive):
                                os.remove(archive)
                    self.reset(src)

    def reset(self, src):
        for dirpath, dirnames, filenames in os.walk(src):
            for n in dirnames:
                os.chmod(os.path.join(dirpath, n), 0o777)
        shutil.rmtree(src)

    def test_a_full_disk_leaves_the_old_archive(self):
        src = self.make_tree()
        archive = self.path("out", "a.zip")
        os.makedirs(self.path("out"))
        os.chmod(self.path("out"), 0o777)
        for user in ("root", "nobody"):
            for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\sub"]):
                with self.subTest(user=user, action=args[0]):
                    old_archive(archive)
                    self.give_to_nobody(archive)
                    before = read(archive)
                    out = self.run_as(user, *args, "-Z" + archive, setup=limit_file_size(64 * 1024))
                    self.assertEqual(out, DISK_FULL)
                    self.assertEqual(read(archive), before)
                    self.assertEqual(os.listdir(self.path("out")), ["a.zip"])
                    self.assert_no_temp_files()

    def test_a_killed_pack_leaves_the_old_archive_and_the_next_run_cleans_up(self):
        src = self.path("big")
        # Random letters: deflate searches them for a while (data that does
        # not compress would be stored at once), so the run is still going
        # when it is killed.
        letters = bytes(0x61 + b % 16 for b in range(256))
        for i in range(40):
            write(os.path.join(src, "f%02d.txt" % i), os.urandom(1 << 20).translate(letters))
        archive = self.path("out", "a.zip")
        old_archive(archive)
        before = read(archive)
        proc = subprocess.Popen([BUNDLET, "-Aza", "-D" + src, "-Z" + archive], stdin=subprocess.DEVNULL,
                                stdout=subprocess.DEVNULL, start_new_session=True, env=self.env)
        deadline = time.time() + 30
        while time.time() < deadline and len(os.listdir(self.path("out"))) < 2:
            time.sleep(0.005)
        time.sleep(0.05)
        proc.kill()
        proc.wait()
        self.assertEqual(read(archive), before)
        leftovers = [n for n in os.listdir(self.path("out")) if n != "a.zip"]
        self.assertEqual(len(leftovers), 1, "the killed run was to leave its new archive beside the old one")
        self.assertTrue(leftovers[0].startswith(".a.zip."), leftovers)
        small = self.path("small")
        write(os.path.join(small, "x.txt"), b"x")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + small, "-Z" + archive), b"")
        self.assertEqual(os.listdir(self.path("out")), ["a.zip"])
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.namelist(), ["x.txt"])

    def test_the_replacement_keeps_mode_and_owner(self):
        src = self.make_tree(big=1000)
        archive = self.path("out", "a.zip")
        os.makedirs(self.path("out"))
        os.chmod(self.path("out"), 0o777)
        write(archive, b"old")
        os.chmod(archive, 0o640)
        self.give_to_nobody(archive)
        owner = os.stat(archive).st_uid
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + archive), b"")
        st = os.stat(archive)
        self.assertEqual((st.st_mode & 0o7777, st.st_uid), (0o640, owner))
        self.assert_valid_and_complete(archive, src)
        # A new archive gets the permissions any new file gets.
        fresh = self.path("out", "new.zip")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + fresh, setup=lambda: os.umask(0o027)), b"")
        self.assertEqual(os.stat(fresh).st_mode & 0o7777, 0o640)

    def test_an_archive_named_through_a_link_replaces_the_file_it_names(self):
        src = self.make_tree(big=1000)
        os.makedirs(self.path("real"))
        target = self.path("real", "a.zip")
        write(target, b"old")
        link = self.path("link.zip")
        os.symlink(target, link)
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + link), b"")
        self.assertTrue(os.path.islink(link))
        self.assert_valid_and_complete(target, src)
        self.assertEqual(os.listdir(self.path("real")), ["a.zip"])

    def test_a_writable_archive_in_a_read_only_directory_is_written_in_place(self):
        src = self.make_tree(big=1000)
        locked = self.path("locked")
        os.makedirs(locked)
        archive = os.path.join(locked, "a.zip")
        write(archive, b"old")
        os.chmod(archive, 0o666)
        os.chmod(locked, 0o555)
        out = self.run_as_nobody("-Aza", "-D" + src, "-Z" + archive)
        if os.geteuid() != 0 and os.access(locked, os.W_OK):
            self.skipTest("the directory stayed writable: permissions do not apply here")
        self.assertEqual(out, b"")
        self.assert_valid_and_complete(archive, src)
        self.assertEqual(os.listdir(locked), ["a.zip"])


class PackWalks(FaultTest):
    """What a walk meets on disk is stored once each, or reported."""

    def test_symbolic_link_cycles_end(self):
        src = self.path("src")
        write(os.path.join(src, "a.txt"), b"a")
        write(os.path.join(src, "d1", "b.txt"), b"b")
        os.makedirs(os.path.join(src, "d2"))
        os.symlink(src, os.path.join(src, "self"))
        os.symlink(os.path.join(src, "d2"), os.path.join(src, "d1", "to2"))
        os.symlink(os.path.join(src, "d1"), os.path.join(src, "d2", "to1"))
        for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\"]):
            with self.subTest(action=args[0]):
                archive = self.path("c.zip")
                self.assertEqual(self.run_bundlet(*args, "-Z" + archive), b"")
                with zipfile.ZipFile(archive) as z:
                    files = [n for n in z.namelist() if not n.endswith("/")]
                self.assertEqual(files.count("a.txt"), 1, files)
                self.assertLessEqual(len(files), 4, files)
                os.remove(archive)

    def test_names_differing_only_in_case_are_both_stored(self):
        src = self.path("src")
        write(os.path.join(src, "README"), b"upper")
        write(os.path.join(src, "readme"), b"lower")
        for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\"]):
            with self.subTest(action=args[0]):
                archive = self.path("c.zip")
                self.assertEqual(self.run_bundlet(*args, "-Z" + archive), b"")
                with zipfile.ZipFile(archive) as z:
                    self.assertEqual({n: z.read(n) for n in z.namelist()}, {"README": b"upper", "readme": b"lower"})
                dest = self.path("out")
                self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
                self.assertEqual(listing(dest), {"README": b"upper", "readme": b"lower"})
                shutil.rmtree(dest)
                os.remove(archive)


    def test_every_file_becomes_its_own_entry(self):
        """Siblings whose names read alike in some way (bytes that are not
        UTF-8 against UTF-8, the two Unicode forms, case, a byte against the
        control letter it reads as, and whole directories of them) are each
        an entry with their own data, and come back as as many files."""
        if bundlet_run.under_wine(BUNDLET):
            self.skipTest("Wine reads Linux names through the Unix locale: bytes that are not UTF-8 "
                          "never reach a Windows program as they are")
        src = self.path("src")
        names = [b"caf\xe9", "caf\u00e9".encode(), "cafe\u0301".encode(), b"CAF\xc9", "CAF\u00c9".encode(),
                 b"\x81", "\u0081".encode(), b"%81", b"\xe9\xe9", "\u00e9\u00e9".encode(), b"\xe9" + "\u00e9".encode()]
        files = []
        for top in names:
            for leaf in names:
                files.append(os.path.join(os.fsencode(src), top, leaf + b".txt"))
        for i, path in enumerate(files):
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(b"file %d" % i)
        contents = sorted(b"file %d" % i for i in range(len(files)))
        for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\"]):
            with self.subTest(action=args[0]):
                archive = self.path("c.zip")
                self.assertEqual(self.run_bundlet(*args, "-Z" + archive), b"")
                with zipfile.ZipFile(archive) as z:
                    entries = [n for n in z.namelist() if not n.endswith("/")]
                    self.assertEqual(len(set(entries)), len(entries))
                    self.assertEqual(sorted(z.read(n) for n in entries), contents)
                dest = self.path("out")
                self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
                self.assertEqual(sorted(v for v in listing(dest).values() if v is not None), contents)
                shutil.rmtree(dest)
                os.remove(archive)


class HostileCommandLines(FaultTest):
    """Arguments no installer should pass: every one ends in the tool's own
    message, never in a crash."""

    def test_each_ends_in_its_message(self):
        param = "Incorrect parameter "
        count = "Incorrect number of parameters."
        long_text = "x" * 100000  # one argument may hold at most 128 KiB
        bad = b"-\xff\xfe\x80"
        cases = [
            ([b""], param),
            ([b"", b"", b""], param),
            ([b'"'], param + '"'),
            ([b'""""'], param + '""""'),
            ([b"\\\\\\\\"], param + "\\\\\\\\"),
            ([b";;;"], param + ";;;"),
            ([b"   "], param + "   "),
            ([b"-Aza", b"-D", b"-Z"], param + "-D"),
            ([b"-" + long_text.encode()], param + "-" + long_text),
            ([b"-A" + long_text.encode()], param + "-A" + long_text),
            ([bad], param + "-\ufffd\ufffd\ufffd"),
            ([b"-Aza", b"-D\xc3\x28", b"-Z\xed\xa0\x80"], None),  # paths, not arguments, are wrong
            ([b"-Azp", b"-D\\\\"], param + "-D\\\\"),
            ([b"-Azp", b"-D" + long_text.encode()], param + "-D" + long_text),
            ([b"-Aza", b"-D/", b"-D" + long_text.encode(), b"-Zx"], "Incorrect number of -D parameters "),
            ([b"-Aza", b'-D"', b"-Z"], param + "-Z"),
            ([b"-Aua", b"-D" + long_text.encode()], count),
        ]
        for args, message in cases:
            with self.subTest(args=[a[:20] for a in args]):
                out = run(*args, env=self.env)
                if message is None:
                    self.assertTrue(out.startswith(b"  Original message :\n"), out[:200])
                else:
                    self.assertEqual(out, error(message))

    def test_long_paths_end_in_the_systems_reason(self):
        src = self.make_tree(big=10)
        long_name = self.path("a" * 300 + ".zip")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + long_name),
                         error('Cannot create file "%s". File name too long' % long_name))
        deep = self.path(*(["d" * 250] * 20))
        out = self.run_bundlet("-Aza", "-D" + deep, "-Z" + self.path("x.zip"))
        self.assertTrue(out.startswith(b"  Original message :\n"), out[:200])
        self.assertTrue(out.startswith(error('Cannot open file "%s". ' % deep)[:-2]), out[-100:])
        self.assertFalse(os.path.exists(self.path("x.zip")) and os.path.getsize(self.path("x.zip")) > 22)


if __name__ == "__main__":
    BUNDLET = os.path.abspath(sys.argv.pop(1))
    unittest.main(verbosity=1)
