"""bundlet.exe (the Windows build) under Wine, checked from Linux.

Packs and unpacks real trees through the program, then reads the archives with
Python's zipfile and unzip: names in Cyrillic, CJK and Latin-1 come back as
written, a path longer than MAX_PATH (260) goes both ways, and the OEM code page
of the system (which follows LANG under Wine) decides how a name that fits it
is stored.

    windows_test.py <bundlet.exe>     (WINEPREFIX and a running wineserver are
                                       the caller's: scripts/test.sh)
"""
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile

EXE = None


def winpath(path):
    # Wine shows the Unix root as drive Z:.
    return "Z:" + path.replace("/", "\\")


def bundlet(*args, env=None):
    env = dict(os.environ, **(env or {}))
    done = subprocess.run(["wine", EXE, *args], env=env, stdin=subprocess.DEVNULL,
                          capture_output=True, timeout=120)
    return done.stdout.decode("utf-8", "replace")


def tree(root):
    found = {}
    for dirpath, dirnames, filenames in os.walk(root):
        for name in filenames:
            path = os.path.join(dirpath, name)
            with open(path, "rb") as f:
                found[os.path.relpath(path, root)] = f.read()
        for name in dirnames:
            found[os.path.relpath(os.path.join(dirpath, name), root) + "/"] = None
    return found


class WindowsBuild(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory(prefix="zo-win-")
        self.dir = self.scratch.name

    def tearDown(self):
        self.scratch.cleanup()

    def write(self, name, data):
        path = os.path.join(self.dir, "src", name)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def pack_and_unpack(self):
        archive = os.path.join(self.dir, "a.zip")
        self.assertEqual(bundlet("-Aza", "-D" + winpath(self.dir + "/src"), "-Z" + winpath(archive)), "")
        self.assertEqual(bundlet("-Aua", "-D" + winpath(self.dir + "/out"), "-Z" + winpath(archive)), "")
        self.assertEqual(tree(self.dir + "/out"), tree(self.dir + "/src"))
        return archive

    def test_names_in_every_script_survive_both_ways(self):
        names = ["Папка/файл.txt", "日本語/文書.txt", "café/naïve.txt", "plain.txt"]
        for i, name in enumerate(names):
            self.write(name, b"data %d" % i)
        archive = self.pack_and_unpack()
        with zipfile.ZipFile(archive) as z:
            self.assertIsNone(z.testzip())
            stored = {i.filename for i in z.infolist() if not i.is_dir()}
        self.assertEqual(stored, set(names))
        subprocess.run(["unzip", "-tq", archive], check=True, capture_output=True)

    def test_path_longer_than_max_path(self):
        deep = "/".join(["level-%02d-%s" % (i, "x" * 20) for i in range(12)]) + "/file.txt"
        self.assertGreater(len(winpath(self.dir + "/src/" + deep)), 260)
        self.write(deep, b"deep")
        archive = self.pack_and_unpack()
        with zipfile.ZipFile(archive) as z:
            self.assertEqual(z.read(deep), b"deep")

    def locales(self, *names):
        """A private locale directory (for LOCPATH) with names generated from
        the locale sources, as a fresh machine has none but C."""
        path = os.path.join(self.dir, "locales")
        os.makedirs(path)
        for name in names:
            made = subprocess.run(["localedef", "-i", name, "-f", "UTF-8", os.path.join(path, name + ".UTF-8")],
                                  capture_output=True)
            if made.returncode not in (0, 1):   # 1: made, with warnings
                self.skipTest("the locale %s cannot be generated here: %s" % (name, made.stderr.decode()))
        return path

    def test_oem_code_page_follows_the_system_locale(self):
        # Wine takes its code pages from the Unix locale (LANG). A name that
        # fits the OEM code page (Russian 866, German 850) is stored in it;
        # one that does not fit (Cyrillic under 437) needs UTF-8 and flag
        # bit 11.
        cases = [("ru_RU", "Отчёт.txt", "cp866"), ("de_DE", "Øre.txt", "cp850"), ("en_US", "Отчёт.txt", None)]
        locpath = self.locales(*{lang for lang, _, _ in cases})
        for lang, name, codepage in cases:
            with self.subTest(lang=lang):
                src, archive, out = (os.path.join(self.dir, lang, part) for part in ("src", "a.zip", "out"))
                os.makedirs(src)
                with open(os.path.join(src, name), "wb") as f:
                    f.write(b"r")
                env = {"LANG": lang + ".UTF-8", "LOCPATH": locpath}
                self.assertEqual(bundlet("-Aza", "-D" + winpath(src), "-Z" + winpath(archive), env=env), "")
                with zipfile.ZipFile(archive) as z:
                    info = z.infolist()[0]
                    stored = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
                expected = (name.encode(codepage), 0) if codepage else (name.encode("utf-8"), 0x800)
                self.assertEqual((stored, info.flag_bits & 0x800), expected)
                self.assertEqual(bundlet("-Aua", "-D" + winpath(out), "-Z" + winpath(archive), env=env), "")
                self.assertEqual(os.listdir(out), [name])

if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main()
