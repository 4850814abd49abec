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
import fcntl
import itertools
import os
import random
import resource
import shutil
import signal
import socket
import stat
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

    def run_on_a_terminal_as(self, user, *args, typed=b""):
        """As run_as, on a terminal of the program's own with typed typed
        ahead; returns standard output and what reached the terminal."""
        program, setup = BUNDLET, None
        if user != "root" and os.geteuid() == 0:
            program, setup = bundlet_run.copy_for_nobody(BUNDLET, self.path("bin")), as_nobody
        return bundlet_run.run_on_a_terminal(program, *args, setup=setup, env=self.env, typed=typed)

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

    # Each fault makes a path in a tree fail and says why the system refuses it.
    def unreadable_file(self, src):
        p = os.path.join(src, "sub", "c.txt")
        os.chmod(p, 0)
        return p, True, "Permission denied"

    def dangling_link(self, src):
        p = os.path.join(src, "sub", "gone.txt")
        os.symlink(os.path.join(src, "nowhere"), p)
        return p, False, "No such file or directory"

    def directory_with_mode(self, src, name, mode):
        p = os.path.join(src, "sub", name)
        write(os.path.join(p, "inside.txt"), b"inside")
        os.chmod(os.path.join(p, "inside.txt"), 0o666)
        os.chmod(p, mode)
        return p, True, "Permission denied"

    def unreadable_directory(self, src):
        return self.directory_with_mode(src, "locked", 0)

    def listable_not_enterable_directory(self, src):
        # Its names can be read, but none of them looked up: its content is
        # unknown, not empty.
        return self.directory_with_mode(src, "listable", 0o444)

    def enterable_not_listable_directory(self, src):
        return self.directory_with_mode(src, "enterable", 0o111)

    def link_loop(self, src):
        p = os.path.join(src, "sub", "loop.txt")
        os.symlink(p, p)
        return p, False, "Too many levels of symbolic links"

    def link_to_a_name_too_long(self, src):
        p = os.path.join(src, "sub", "long.txt")
        os.symlink(os.path.join(src, "x" * 300), p)
        return p, False, "File name too long"

    def commands(self, src, archive, failing):
        return {
            "-Aza": ["-Aza", "-D" + src, "-Z" + archive],
            "-Azp of a directory": ["-Azp", "-D" + src + "\\\\sub", "-Z" + archive],
            "-Azp of the file": ["-Azp", "-D" + src + "\\\\" + os.path.relpath(failing, src), "-Z" + archive],
        }

    # Where the new archive is built: beside the old one, or, in a directory
    # the user cannot write, apart from it and then copied over it in place
    # (only an unprivileged user meets that, and only over an existing file).
    PLACES = ("beside", "in place")

    def lock_out(self, place):
        """The archive's directory, writable or not as place says."""
        os.chmod(self.path("out"), 0o555 if place == "in place" else 0o777)

    def test_a_failed_pack_leaves_the_archive_path_as_it_was(self):
        faults = [("unreadable file", self.unreadable_file), ("dangling link", self.dangling_link),
                  ("unreadable directory", self.unreadable_directory),
                  ("listable, not enterable directory", self.listable_not_enterable_directory),
                  ("enterable, not listable directory", self.enterable_not_listable_directory),
                  ("link loop", self.link_loop), ("link to a name too long", self.link_to_a_name_too_long)]
        for fault, make in faults:
            for user, place in (("root", "beside"), ("nobody", "beside"), ("nobody", "in place")):
                for existed in (True, False) if place == "beside" else (True,):
                    src = self.make_tree(big=1000)
                    failing, needs_user, reason = make(src)
                    if user == "root" and needs_user and os.geteuid() == 0:
                        self.reset(src)   # root reads everything: only nobody meets this fault
                        continue
                    archive = self.path("out", "a.zip")
                    os.makedirs(self.path("out"), exist_ok=True)
                    for (name, args), terminal in itertools.product(self.commands(src, archive, failing).items(),
                                                                    (False, True)):
                        if fault.endswith("directory") and name == "-Azp of the file":
                            continue
                        with self.subTest(fault=fault, user=user, place=place, existed=existed, command=name,
                                          terminal=terminal):
                            self.lock_out("beside")
                            before = None
                            if existed:
                                old_archive(archive)
                                os.chmod(archive, 0o640 if place == "beside" else 0o666)
                                self.give_to_nobody(archive)
                                before = (read(archive), os.stat(archive).st_mode, os.stat(archive).st_uid)
                            self.lock_out(place)
                            if terminal:
                                # Abort typed ahead, for the one question -Aza asks.
                                out, seen = self.run_on_a_terminal_as(user, *args, typed=b"a\n")
                                asked = "Abort" in seen
                            else:
                                out = self.run_as(user, *args)
                            self.lock_out("beside")
                            if terminal:
                                self.assertEqual(asked, name == "-Aza", seen)
                            # -Aza decides on each source that fails (nobody to ask, or Abort
                            # answered); -Azp fails as opening its parts fails, with the system's
                            # reason, and asks nothing.
                            if name == "-Aza":
                                self.assertEqual(out, error('Cannot open file "%s" - Native error: 00033' % failing))
                            else:
                                self.assertEqual(out, error('Cannot open file "%s". %s' % (failing, reason)))
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
        for user, place in (("root", "beside"), ("nobody", "beside"), ("nobody", "in place")):
            for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\sub"]):
                with self.subTest(user=user, place=place, action=args[0]):
                    self.lock_out("beside")
                    old_archive(archive)
                    os.chmod(archive, 0o666)
                    self.give_to_nobody(archive)
                    before = read(archive)
                    self.lock_out(place)
                    out = self.run_as(user, *args, "-Z" + archive, setup=limit_file_size(64 * 1024))
                    self.lock_out("beside")
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


    def start_as_nobody(self, *args, stdout=subprocess.DEVNULL):
        """Starts the program as the unprivileged user (as the test's own
        user when that is not root) and returns the running process."""
        program, setup = BUNDLET, None
        if os.geteuid() == 0:
            program, setup = bundlet_run.copy_for_nobody(BUNDLET, self.path("bin")), as_nobody
        return subprocess.Popen([program, *args], stdin=subprocess.DEVNULL, stdout=stdout,
                                stderr=subprocess.DEVNULL, start_new_session=True, env=self.env, preexec_fn=setup)

    def journals(self):
        return [n for n in os.listdir(self.tmp) if n.endswith(".journal")]

    def wait_for_journal(self, proc, deadline=60):
        """Polls until the running pack copies over the archive in place (its
        journal is being written); False when it ended first."""
        end = time.time() + deadline
        while time.time() < end and proc.poll() is None:
            for name in self.journals():
                try:
                    if os.path.getsize(os.path.join(self.tmp, name)) > 0:
                        return True
                except FileNotFoundError:
                    pass
            time.sleep(0.0005)
        return False

    def in_place_setup(self, old_size=24 << 20):
        """A source tree and, in a directory nobody may write, an old archive
        of about old_size bytes that nobody may write (the new one is about
        4 MiB). Returns (src, archive, the old bytes)."""
        src = self.path("big")
        if not os.path.exists(src):
            letters = bytes(0x61 + b % 16 for b in range(256))
            for i in range(6):
                write(os.path.join(src, "f%02d.txt" % i), os.urandom(1 << 20).translate(letters))
            os.chmod(src, 0o755)
        archive = self.path("out", "a.zip")
        os.makedirs(self.path("out"), exist_ok=True)
        os.chmod(self.path("out"), 0o755)
        with zipfile.ZipFile(archive, "w") as z:
            z.writestr("old.txt", b"the archive the user had")
            z.writestr("old.bin", os.urandom(old_size))
        os.chmod(archive, 0o666)
        os.chmod(self.path("out"), 0o555)
        if os.geteuid() != 0 and os.access(self.path("out"), os.W_OK):
            self.skipTest("the directory stayed writable: permissions do not apply here")
        return src, archive, read(archive)

    def test_a_pack_in_place_killed_at_any_moment_leaves_the_old_archive(self):
        """Killed at random moments, and at random moments of the copy over
        the archive: once the next run has opened the archive (here an
        unpack), it holds the old bytes, unless the killed run had completed
        its copy; no journal stays. The next pack cleans up the rest."""
        # The new archive shorter than the old one, and longer.
        for old_size in (24 << 20, 64 << 10):
            self.kill_packs_in_place(old_size)

    def kill_packs_in_place(self, old_size):
        src, archive, before = self.in_place_setup(old_size)
        args = ("-Aza", "-D" + src, "-Z" + archive)
        started = time.time()
        self.assertEqual(self.run_as_nobody(*args), b"")
        whole = time.time() - started
        self.assert_valid_and_complete(archive, src)
        copies_cut = 0
        moments = [("any", random.uniform(0, whole)) for _ in range(6)] + \
                  [("copy", random.uniform(0, 0.02)) for _ in range(6)]
        for kind, delay in moments:
            with self.subTest(old_size=old_size, kind=kind, delay=delay):
                os.chmod(self.path("out"), 0o755)
                with open(archive, "wb") as f:
                    f.write(before)
                os.chmod(self.path("out"), 0o555)
                proc = self.start_as_nobody(*args)
                if kind == "copy":
                    self.assertTrue(self.wait_for_journal(proc), "the pack never copied over the archive")
                time.sleep(delay)
                proc.kill()
                proc.wait()
                cut = bool(self.journals())
                copies_cut += cut
                dest = self.path("dest")
                self.run_as_nobody("-Aua", "-D" + dest, "-Z" + archive)
                self.assertEqual(self.journals(), [])
                if read(archive) != before:
                    # Only a run that completed its copy may have changed it.
                    self.assertFalse(cut, "the old archive was not put back")
                    self.assert_valid_and_complete(archive, src)
                bundlet_run.remove_tree(dest)
        self.assertGreater(copies_cut, 0, "no kill fell into the copy over the archive")
        self.assertEqual(self.run_as_nobody(*args), b"")
        self.assert_valid_and_complete(archive, src)
        self.assertEqual(os.listdir(self.path("out")), ["a.zip"])
        self.assert_no_temp_files()

    def test_the_journal_of_a_living_run_is_not_played_back(self):
        """A run that opens the archive while another copies over it in place
        leaves that copy alone; the copy then completes."""
        src, archive, before = self.in_place_setup()
        proc = self.start_as_nobody("-Aza", "-D" + src, "-Z" + archive, stdout=subprocess.PIPE)
        try:
            self.assertTrue(self.wait_for_journal(proc), "the pack never copied over the archive")
            os.kill(proc.pid, signal.SIGSTOP)
            self.run_as_nobody("-Aua", "-D" + self.path("dest"), "-Z" + archive)
            self.assertEqual(len(self.journals()), 1)
        finally:
            os.kill(proc.pid, signal.SIGCONT)
        out, _ = proc.communicate(timeout=120)
        self.assertEqual(out, b"")
        self.assert_valid_and_complete(archive, src)
        self.assert_no_temp_files()

    def test_links_at_the_archive_path(self):
        """A link at the archive path stays a link, a chain of them too, and
        the archive is written where the last one points, whether that
        exists or not; a link to a directory or a loop is reported."""
        src = self.make_tree(big=1000)
        real = self.path("real")
        os.makedirs(real)
        cases = [
            ("dangling", lambda: os.symlink(os.path.join(real, "a.zip"), self.path("l.zip")), None),
            ("dangling, relative", lambda: os.symlink("real/a.zip", self.path("l.zip")), None),
            ("chain to an existing file",
             lambda: (write(os.path.join(real, "a.zip"), b"old"), os.symlink(os.path.join(real, "a.zip"),
                      self.path("l2")), os.symlink("l2", self.path("l.zip"))), None),
            ("dangling chain",
             lambda: (os.symlink(os.path.join(real, "a.zip"), self.path("l2")), os.symlink("l2", self.path("l.zip"))),
             None),
            ("to a directory", lambda: os.symlink(real, self.path("l.zip")), "Is a directory"),
            ("a loop", lambda: (os.symlink("l2", self.path("l.zip")), os.symlink("l.zip", self.path("l2"))),
             "Too many levels of symbolic links"),
        ]
        link = self.path("l.zip")
        for name, make, reason in cases:
            with self.subTest(case=name):
                make()
                links = sorted(n for n in os.listdir(self.root) if os.path.islink(self.path(n)))
                out = self.run_bundlet("-Aza", "-D" + src, "-Z" + link)
                self.assertEqual(sorted(n for n in os.listdir(self.root) if os.path.islink(self.path(n))), links)
                if reason:
                    self.assertEqual(out, error('Cannot create file "%s". %s' % (link, reason)))
                    self.assertEqual(os.listdir(real), [])
                else:
                    self.assertEqual(out, b"")
                    self.assert_valid_and_complete(os.path.join(real, "a.zip"), src)
                    self.assertEqual(os.listdir(real), ["a.zip"])
                for n in links:
                    os.remove(self.path(n))
                for n in os.listdir(real):
                    os.remove(os.path.join(real, n))
                self.assert_no_temp_files()
        # In place: a link the user may replace, to an archive in a directory
        # the user may not write.
        os.makedirs(self.path("out"))
        archive = self.path("out", "a.zip")
        old_archive(archive)
        os.chmod(archive, 0o666)
        os.chmod(self.path("out"), 0o555)
        os.symlink(archive, link)
        self.assertEqual(self.run_as_nobody("-Aza", "-D" + src, "-Z" + link), b"")
        self.assertTrue(os.path.islink(link))
        self.assert_valid_and_complete(archive, src)
        self.assertEqual(os.listdir(self.path("out")), ["a.zip"])
        self.assert_no_temp_files()


class ArchivePathKinds(FaultTest):
    """What is not a file at the archive path (a named pipe, a socket, a
    device) is reported, and stays as it was; so through a link."""

    def nodes(self):
        yield "named pipe", lambda p: os.mkfifo(p)

        def socket_at(p):
            s = socket.socket(socket.AF_UNIX)
            s.bind(p)
            s.close()
        yield "socket", socket_at
        yield "device", lambda p: os.mknod(p, 0o666 | stat.S_IFCHR, os.makedev(1, 3))

    def test_a_node_at_the_archive_path_is_reported_and_left(self):
        src = self.make_tree(big=1000)
        for kind, make in self.nodes():
            for through_link in (False, True):
                with self.subTest(kind=kind, through_link=through_link):
                    node = self.path("node")
                    try:
                        make(node)
                    except PermissionError:
                        self.skipTest("no devices can be made here")
                    named = node
                    if through_link:
                        named = self.path("link.zip")
                        os.symlink(node, named)
                    before = os.lstat(node)
                    for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\sub"]):
                        out = self.run_bundlet(*args, "-Z" + named)
                        self.assertEqual(out, error('Cannot create file "%s". Operation not supported' % named))
                        after = os.lstat(node)
                        self.assertEqual((after.st_ino, after.st_mode, after.st_rdev),
                                         (before.st_ino, before.st_mode, before.st_rdev))
                        self.assertEqual(os.path.islink(named), through_link)
                    self.assertEqual(sorted(os.listdir(self.root)),
                                     sorted(["src", "tmp", "node"] + (["link.zip"] if through_link else [])))
                    self.assert_no_temp_files()
                    os.remove(node)
                    if through_link:
                        os.remove(named)


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


    def test_our_work_files_are_never_packed(self):
        """Stand-ins, part files and journals, ours by their exact names,
        stay out wherever they lie; files that only look alike go in."""
        src = self.path("src")
        ours = [".a.zip.partial-Ab12yZ", "sub/.x.txt.partial-abcdef", ".zo-abcdefghij.part",
                "sub/deep/.zo-0123456789.part", ".zo-0123456789abcdef.journal"]
        alike = [".a.zip.partial-abc12", "a.zip.partial-abcdef", ".zo-abcdefghi.part", "zo-abcdefghij.part",
                 ".zo-0123456789abcdef.jrnl", "sub/.zo-ABCDEFGHIJ.part"]
        for name in ours + alike:
            write(os.path.join(src, name), name.encode())
        for args in (["-Aza", "-D" + src], ["-Azp", "-D" + src + "\\\\sub"], ["-Azp", "-D" + src + "\\\\"]):
            with self.subTest(action=args):
                archive = self.path("c.zip")
                self.assertEqual(self.run_bundlet(*args, "-Z" + archive), b"")
                with zipfile.ZipFile(archive) as z:
                    stored = {n.lstrip("/") for n in z.namelist() if not n.endswith("/")}
                prefix = "sub/" if args[1].endswith("sub") else ""
                expected = {n for n in alike if n.startswith(prefix)}
                self.assertEqual(stored, expected)
                os.remove(archive)

    def test_two_packs_at_once_into_the_tree_they_pack(self):
        """Two packs into one archive inside the folder they pack: neither
        stores the other's half-written stand-in; the archive is whole."""
        src = self.path("src")
        letters = bytes(0x61 + b % 16 for b in range(256))
        for i in range(12):
            write(os.path.join(src, "f%02d.txt" % i), os.urandom(1 << 20).translate(letters))
        archive = os.path.join(src, "a.zip")
        procs = [subprocess.Popen([BUNDLET, "-Aza", "-D" + src, "-Z" + archive], stdin=subprocess.DEVNULL,
                                  stdout=subprocess.PIPE, start_new_session=True, env=self.env) for _ in range(2)]
        outs = [p.communicate(timeout=300)[0] for p in procs]
        self.assertEqual(outs, [b"", b""])
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(sorted(z.namelist()), ["f%02d.txt" % i for i in range(12)])
        self.assert_valid_and_complete(archive, src)
        self.assertEqual(sorted(os.listdir(src)), ["a.zip"] + ["f%02d.txt" % i for i in range(12)])

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


class UnpackLeftovers(FaultTest):
    """The hidden part files an unpack writes beside the files it replaces
    are removed by the next unpack into the same folder, unless a living run
    still writes them."""

    def make_archive(self, big):
        src = self.path("src")
        for name in ("a.bin", "sub/b.bin", "sub/c.bin"):
            write(os.path.join(src, name), os.urandom(big))
        archive = self.path("in.zip")
        self.assertEqual(self.run_bundlet("-Aza", "-D" + src, "-Z" + archive), b"")
        return src, archive

    def parts(self, dest):
        return sorted(rel for rel, _ in walk(dest) if os.path.basename(rel).startswith(".zo-"))

    def test_a_killed_unpack_leaves_nothing_after_the_next(self):
        src, archive = self.make_archive(32 << 20)
        dest = self.path("dest")
        self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
        for attempt in range(10):
            proc = subprocess.Popen([BUNDLET, "-Aua", "-D" + dest, "-Z" + archive], stdin=subprocess.DEVNULL,
                                    stdout=subprocess.DEVNULL, start_new_session=True, env=self.env)
            while proc.poll() is None and not self.parts(dest):
                time.sleep(0.0002)
            proc.kill()
            proc.wait()
            if self.parts(dest):
                break
        self.assertTrue(self.parts(dest), "no kill fell into the writing of a file")
        self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
        self.assertEqual(self.parts(dest), [])
        self.assertEqual(listing(dest), listing(src))

    def test_only_part_files_no_living_run_holds_are_removed(self):
        src, archive = self.make_archive(1000)
        dest = self.path("dest")
        self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
        dead = [".zo-abcdefghij.part", "sub/.zo-0123456789.part"]
        held = "sub/.zo-heldbyarun.part"
        alike = ["sub/.zo-ABCDEFGHIJ.part", ".zo-abcdefghij.partial"]
        for name in dead + [held] + alike:
            write(os.path.join(dest, name), b"x")
        with open(os.path.join(dest, held), "rb") as f:
            fcntl.flock(f, fcntl.LOCK_EX)
            self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
            self.assertEqual(self.parts(dest), sorted(alike + [held]))
        self.assertEqual(self.run_bundlet("-Aua", "-D" + dest, "-Z" + archive), b"")
        self.assertEqual(self.parts(dest), sorted(alike))

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
