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


def bundlet(*args, lang=None):
    env = dict(os.environ)
    if lang:
        env["LANG"] = lang
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

    @unittest.skipUnless("ru_RU.utf8" in subprocess.run(["locale", "-a"], capture_output=True, text=True).stdout,
                         "Wine reads names through the Unix locale, and ru_RU.UTF-8 is not generated here")
    def test_oem_code_page_follows_the_system_locale(self):
        # A Cyrillic name fits the Russian OEM code page (866) and is stored
        # in it; under the default (437) it needs UTF-8 and flag bit 11.
        self.write("Отчёт.txt", b"r")
        cases = [("ru_RU.UTF-8", "Отчёт.txt".encode("cp866"), 0),
                 ("en_US.UTF-8", "Отчёт.txt".encode("utf-8"), 0x800)]
        for lang, raw, flag in cases:
            with self.subTest(lang=lang):
                archive = os.path.join(self.dir, lang + ".zip")
                self.assertEqual(bundlet("-Aza", "-D" + winpath(self.dir + "/src"), "-Z" + winpath(archive),
                                         lang=lang), "")
                with zipfile.ZipFile(archive) as z:
                    info = z.infolist()[0]
                    name = info.filename.encode("utf-8" if info.flag_bits & 0x800 else "cp437")
                self.assertEqual((name, info.flag_bits & 0x800), (raw, flag))
                out = self.dir + "/out-" + lang
                self.assertEqual(bundlet("-Aua", "-D" + winpath(out), "-Z" + winpath(archive), lang=lang), "")
                self.assertEqual(os.listdir(out), ["Отчёт.txt"])


if __name__ == "__main__":
    EXE = sys.argv.pop(1)
    unittest.main()
