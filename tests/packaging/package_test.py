#!/usr/bin/env python3
"""The Debian packages and the installation, built from the build tree.

Usage: package_test.py --source <source dir> --build <build dir>
                       --cmake <cmake> --cpack <cpack> --version <Debian version>
                       [unittest arguments]

Builds the packages with `cpack -G DEB` into a scratch directory (the build
tree must be built), checks what each holds with `dpkg-deb -c` and its
control fields, unpacks them into a scratch root with `dpkg-deb -x` and runs
the installed programs from there: bundlet through a pack-and-unpack round
trip, upliner under a virtual display until its window comes up and closes
on its Close button. lintian, desktop-file-validate and groff check the
packages, the desktop entry and the manual pages. `cmake --install` into a
prefix must give the same tree as the packages.
"""
import argparse
import filecmp
import gzip
import os
import shutil
import subprocess
import sys
import tempfile
import unittest
import xml.dom.minidom
import zipfile

ARGS = None
HERE = os.path.dirname(os.path.abspath(__file__))

# What each package holds, as `dpkg-deb -c` lists it: files, and links with
# their targets; directories are left out. Nothing else may be there (no
# test binary, no library, no header).
EXPECTED = {
    "bundlet": {
        "usr/bin/bundlet",
        "usr/share/man/man1/bundlet.1.gz",
        "usr/share/doc/bundlet/copyright",
        "usr/share/doc/bundlet/changelog.Debian.gz",
        "usr/share/lintian/overrides/bundlet",
    },
    "upliner": {
        "usr/bin/upliner -> ../lib/upliner/upliner",
        "usr/lib/upliner/upliner",
        "usr/share/applications/upliner.desktop",
        "usr/share/icons/hicolor/scalable/apps/upliner.svg",
        "usr/share/man/man1/upliner.1.gz",
        "usr/share/doc/upliner/copyright",
        "usr/share/doc/upliner/changelog.Debian.gz",
        "usr/share/lintian/overrides/upliner",
    },
    "upliner-example": {
        "usr/lib/upliner/example/Lifter.exe",
        "usr/share/upliner/example/README",
        "usr/share/upliner/example/Versions.sl",
        "usr/share/upliner/example/LicenceNumber.txt",
        "usr/share/upliner/example/TargetLanguages.txt",
        "usr/share/upliner/example/bootstrap.sql",
        "usr/share/doc/upliner-example/copyright",
        "usr/share/doc/upliner-example/changelog.Debian.gz",
        "usr/share/lintian/overrides/upliner-example",
        # and per version of the demo, see example_versions()
    },
}
# Files that only the packages hold; `cmake --install` leaves them out.
DEBIAN_ONLY = ("/changelog.Debian.gz", "usr/share/lintian/")


def example_versions():
    """The demo's versions, which the example installation holds."""
    with open(os.path.join(ARGS.source, "demo", "Versions.sl"), encoding="utf-8") as f:
        return [line.strip() for line in f if line.strip()]


def add_example_versions():
    """Per version: its data folder as the demo has it, and a link to the
    reference program."""
    for version in example_versions():
        folder = os.path.join(ARGS.source, "demo", f"IVersion_{version}")
        EXPECTED["upliner-example"] |= {
            f"usr/share/upliner/example/IVersion_{version}/" + entry for entry in tree_listing(folder)}
        EXPECTED["upliner-example"].add(f"usr/share/upliner/example/Lifter_{version}/Lifter.exe"
                                        " -> ../../../../lib/upliner/example/Lifter.exe")


def run(*command, **kwargs):
    """Runs a command without standard input; its output, or the failure
    with what it printed."""
    proc = subprocess.run(command, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                          stderr=subprocess.STDOUT, text=True, timeout=300, **kwargs)
    if proc.returncode != 0:
        raise AssertionError(f"{' '.join(command)} ended with {proc.returncode}:\n{proc.stdout}")
    return proc.stdout


def package_listing(deb):
    """The files and links of a package, as EXPECTED writes them."""
    entries = set()
    for line in run("dpkg-deb", "-c", deb).splitlines():
        mode, _owner, _size, _date, _time, path = line.split(None, 5)
        if mode.startswith("d"):
            continue
        entries.add(path.removeprefix("./"))
    return entries


def tree_listing(root):
    """The files and links below root, in the same form."""
    entries = set()
    for directory, _dirs, files in os.walk(root):
        for name in files:
            path = os.path.join(directory, name)
            relative = os.path.relpath(path, root)
            if os.path.islink(path):
                relative += " -> " + os.readlink(path)
            entries.add(relative)
    return entries


class Packages(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.mkdtemp(prefix="zo-packages.")
        cls.addClassCleanup(shutil.rmtree, cls.scratch, ignore_errors=True)
        cls.out = os.path.join(cls.scratch, "packages")
        run(ARGS.cpack, "-G", "DEB", "--config", os.path.join(ARGS.build, "CPackConfig.cmake"),
            "-B", cls.out)
        cls.debs = {name: os.path.join(cls.out, f"{name}_{ARGS.version}_{cls.architecture()}.deb")
                    for name in EXPECTED}
        cls.root = os.path.join(cls.scratch, "root")
        for deb in cls.debs.values():
            run("dpkg-deb", "-x", deb, cls.root)

    @staticmethod
    def architecture():
        return run("dpkg", "--print-architecture").strip()

    def installed(self, path):
        return os.path.join(self.root, path)

    def test_each_package_holds_its_program_and_files_only(self):
        self.assertEqual(sorted(os.listdir(self.out)),
                         sorted(["_CPack_Packages", *(os.path.basename(d) for d in self.debs.values())]))
        for name, deb in self.debs.items():
            with self.subTest(package=name):
                self.assertEqual(package_listing(deb), EXPECTED[name])

    def test_control_fields(self):
        def field(name, key):
            return run("dpkg-deb", "-f", self.debs[name], key).strip()

        for name in EXPECTED:
            with self.subTest(package=name):
                self.assertEqual(field(name, "Package"), name)
                self.assertEqual(field(name, "Version"), ARGS.version)
        # Library dependencies are dpkg-shlibdeps' findings; the platform
        # plugin is the one Qt loads at run time.
        bundlet_depends = field("bundlet", "Depends")
        for library in ("libc6 (>=", "zlib1g (>=", "libdeflate0 (>="):
            self.assertIn(library, bundlet_depends)
        upliner_depends = field("upliner", "Depends")
        for library in ("qt6-qpa-plugins", "libqt6widgets6 (>=", "libodbc2 (>=", "libssl3 (>="):
            self.assertIn(library, upliner_depends)
        self.assertEqual(field("upliner", "Recommends"), "odbc-postgresql | tdsodbc, unixodbc")
        self.assertIn(f"upliner (= {ARGS.version})", field("upliner-example", "Depends"))

    def test_cmake_install_lays_out_the_same_tree(self):
        prefix = os.path.join(self.scratch, "prefix")
        run(ARGS.cmake, "--install", ARGS.build, "--prefix", prefix)
        packaged = set()
        for entries in EXPECTED.values():
            packaged |= {e.removeprefix("usr/") for e in entries
                         if not any(part in e for part in DEBIAN_ONLY)}
        self.assertEqual(tree_listing(prefix), packaged)
        # The links resolve under any prefix.
        self.assertTrue(os.path.samefile(os.path.join(prefix, "bin/upliner"),
                                         os.path.join(prefix, "lib/upliner/upliner")))
        self.assertEqual(run(os.path.join(prefix, "bin/bundlet")),
                         "  Original message :\nIncorrect number of parameters.\n\n")

    def test_installed_bundlet_packs_and_unpacks(self):
        bundlet = self.installed("usr/bin/bundlet")
        work = os.path.join(self.scratch, "bundlet")
        source = os.path.join(work, "source")
        files = {
            "a.txt": b"alpha\n",
            "empty.bin": b"",
            "deep/er/numbers.txt": "".join(f"{i}\n" for i in range(40000)).encode(),
            "deep/random.bin": os.urandom(70000),
            "Übersicht/café.txt": "Grüße\n".encode(),
        }
        for name, data in files.items():
            path = os.path.join(source, name)
            os.makedirs(os.path.dirname(path), exist_ok=True)
            with open(path, "wb") as f:
                f.write(data)
        os.makedirs(os.path.join(source, "empty dir"))
        archive = os.path.join(work, "tree.zip")
        target = os.path.join(work, "restored", "here")

        self.assertEqual(run(bundlet, "-Aza", f"-D{source}", f"-Z{archive}"), "")
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
        self.assertEqual(run(bundlet, "-Aua", f"-D{target}", f"-Z{archive}"), "")

        def same_trees(left, right):
            compared = filecmp.dircmp(left, right)
            self.assertEqual((compared.left_only, compared.right_only), ([], []), left)
            _, mismatch, errors = filecmp.cmpfiles(left, right, compared.common_files, shallow=False)
            self.assertEqual((mismatch, errors), ([], []), left)
            for sub in compared.common_dirs:
                same_trees(os.path.join(left, sub), os.path.join(right, sub))

        same_trees(source, target)

    def test_installed_upliner_window_comes_up_and_closes(self):
        # The tool reads Versions.sl beside its executable, through the link
        # in bin/: lay out the package's directory as an administrator would.
        shutil.copy(self.installed("usr/share/upliner/example/Versions.sl"),
                    self.installed("usr/lib/upliner/Versions.sl"))
        runtime = tempfile.mkdtemp(dir=self.scratch)
        env = dict(os.environ, XDG_RUNTIME_DIR=runtime)
        for name in ("DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"):
            env.pop(name, None)
        output = run("xvfb-run", "--auto-servernum", "--server-args=-screen 0 1280x1024x24",
                     "bash", os.path.join(HERE, "open_and_close_window.sh"),
                     self.installed("usr/bin/upliner"), "Reinstall Database", env=env)
        self.assertIn("closed with exit code 0", output)

    def test_example_links_reach_the_reference_program(self):
        program = self.installed("usr/lib/upliner/example/Lifter.exe")
        for version in example_versions():
            link = self.installed(f"usr/share/upliner/example/Lifter_{version}/Lifter.exe")
            self.assertTrue(os.path.samefile(link, program), link)
        self.assertTrue(os.access(program, os.X_OK))

    def test_lintian_finds_nothing_to_warn_of(self):
        # Fails with lintian's report when it finds an error or a warning.
        run("lintian", "--fail-on", "error,warning", "--tag-display-limit", "0", *self.debs.values())

    def test_desktop_entry_and_icon(self):
        entry = self.installed("usr/share/applications/upliner.desktop")
        self.assertEqual(run("desktop-file-validate", entry), "")
        with open(entry, encoding="utf-8") as f:
            keys = dict(line.rstrip("\n").split("=", 1) for line in f if "=" in line)
        self.assertTrue(os.access(self.installed(f"usr/bin/{keys['Exec']}"), os.X_OK))
        icon = self.installed(f"usr/share/icons/hicolor/scalable/apps/{keys['Icon']}.svg")
        self.assertEqual(xml.dom.minidom.parse(icon).documentElement.tagName, "svg")

    def test_manual_pages(self):
        for page in ("bundlet", "upliner"):
            with self.subTest(page=page):
                with gzip.open(self.installed(f"usr/share/man/man1/{page}.1.gz"), "rt",
                               encoding="utf-8") as f:
                    text = f.read()
                title = next(line for line in text.splitlines() if line.startswith(".TH "))
                self.assertIn(f'"{page} {ARGS.version.rsplit("-", 1)[0]}"', title)
                proc = subprocess.run(["groff", "-man", "-ww", "-z"], input=text, text=True,
                                      capture_output=True, timeout=60)
                self.assertEqual((proc.returncode, proc.stderr), (0, ""))


if __name__ == "__main__":
    parser = argparse.ArgumentParser()
    parser.add_argument("--source", required=True)
    parser.add_argument("--build", required=True)
    parser.add_argument("--cmake", required=True)
    parser.add_argument("--cpack", required=True)
    parser.add_argument("--version", required=True)
    ARGS, rest = parser.parse_known_args()
    add_example_versions()
    unittest.main(argv=[sys.argv[0], *rest], verbosity=2)
