#!/usr/bin/env python3
"""The packages of tools/make_dist.py, as users get them: built twice with one
SOURCE_DATE_EPOCH they are the same bytes; the .deb installs into a scratch root with
dpkg --root, its vexa packs with the stub installed beside it, and purging it leaves no
file behind; lintian (where installed) finds no error or warning; the tarball's vexa runs
where it is unpacked; the zip's vexa.exe runs under Wine and packs the archive vexa packs.

  make_dist_test.py --build build
"""

import argparse
import os
import subprocess
import sys
import tempfile
import unittest
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[2]
sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
from wine_session import WineSession, find_wine, Unavailable  # noqa: E402

BUILD = SOURCE / "build"
EPOCH = "1700000000"


def version() -> str:
    return subprocess.run([BUILD / "native" / "vexa", "--version"], capture_output=True,
                          text=True, check=True).stdout.strip()


def make_dist(out: Path) -> list:
    done = subprocess.run([sys.executable, SOURCE / "tools" / "make_dist.py", "--native",
                           BUILD / "native", "--win32", BUILD / "win32", "--out", out],
                          env={**os.environ, "SOURCE_DATE_EPOCH": EPOCH},
                          capture_output=True, text=True, check=True)
    return [Path(line) for line in done.stdout.split()]


def payload(folder: Path) -> list:
    """Files worth deflating, of several kinds."""
    folder.mkdir(parents=True, exist_ok=True)
    files = {"readme.txt": b"Read me before installing.\r\n" * 4000,
             "table.csv": b"".join(b"%d;%d;item %d\r\n" % (i, i * i, i % 7) for i in range(9000)),
             "setup.dat": bytes((i * 7919 + (i >> 9)) % 251 for i in range(70000))}
    for name, data in files.items():
        (folder / name).write_bytes(data)
    return [folder / name for name in files]


class DistTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory(prefix="vexa-dist-test-")
        cls.work = Path(cls.scratch.name)
        cls.first = make_dist(cls.work / "first")
        cls.second = make_dist(cls.work / "second")
        cls.deb, cls.tarball, cls.zip = cls.first
        cls.version = version()
        cls.inputs = payload(cls.work / "in")

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def pack_and_verify(self, vexa: Path, stub: Path, name: str) -> Path:
        out = self.work / name
        subprocess.run([vexa, "pack", "-o", out, "--temp", "--stub", stub, *self.inputs],
                       capture_output=True, check=True)
        verified = subprocess.run([vexa, "verify", out], capture_output=True, text=True)
        self.assertEqual(verified.returncode, 0, verified.stderr)
        return out

    def test_two_builds_with_one_epoch_are_the_same_bytes(self):
        self.assertEqual([p.name for p in self.first],
                         [f"vexa_{self.version}_amd64.deb",
                          f"vexa-{self.version}-linux-x86_64.tar.gz",
                          f"vexa-{self.version}-windows-x86.zip"])
        for a, b in zip(self.first, self.second):
            self.assertEqual(a.read_bytes(), b.read_bytes(), a.name)

    def test_the_deb_installs_runs_packs_and_purges_without_leftovers(self):
        root = self.work / "root"
        admin = root / "var/lib/dpkg"
        for folder in ("info", "updates"):
            (admin / folder).mkdir(parents=True)
        (admin / "status").touch()
        before = {p for p in root.rglob("*")}
        # The scratch root has none of the libraries the package depends on; the host has.
        dpkg = ["dpkg", f"--root={root}", "--force-not-root", "--force-depends",
                "--log=/dev/null"]
        subprocess.run([*dpkg, "--install", self.deb], capture_output=True, check=True)
        vexa = root / "usr/bin/vexa"
        done = subprocess.run([vexa, "--version"], capture_output=True, text=True, check=True)
        self.assertEqual(done.stdout.strip(), self.version)
        stub = root / "usr/share/vexa/vexasfx.exe"
        self.assertTrue((root / "usr/share/man/man1/vexa.1.gz").is_file())
        self.assertTrue((root / "usr/share/doc/vexa/README.md").is_file())
        packed = self.pack_and_verify(vexa, stub, "from-deb.exe")
        self.assertEqual(packed.read_bytes()[:2], b"MZ")

        subprocess.run([*dpkg, "--purge", "vexa"], capture_output=True, check=True)
        left = {p for p in root.rglob("*")} - before
        self.assertEqual([p for p in left if not p.is_relative_to(admin)], [])

    def test_lintian_finds_no_error_or_warning(self):
        if subprocess.run(["sh", "-c", "command -v lintian"], capture_output=True).returncode:
            self.skipTest("lintian is not installed (make setup installs it)")
        done = subprocess.run(["lintian", "--fail-on", "error,warning", self.deb],
                              capture_output=True, text=True)
        self.assertEqual(done.returncode, 0, done.stdout + done.stderr)

    def test_the_tarball_runs_where_it_is_unpacked(self):
        (self.work / "unpacked").mkdir()
        subprocess.run(["tar", "-xzf", self.tarball, "-C", self.work / "unpacked"], check=True)
        top = self.work / "unpacked" / f"vexa-{self.version}"
        done = subprocess.run([top / "bin/vexa", "--version"], capture_output=True, text=True,
                              check=True)
        self.assertEqual(done.stdout.strip(), self.version)
        self.pack_and_verify(top / "bin/vexa", top / "share/vexa/vexasfx.exe", "from-tar.exe")

    def test_the_zips_vexa_exe_runs_under_wine_and_packs_as_vexa_does(self):
        with zipfile.ZipFile(self.zip) as z:
            names = z.namelist()
            z.extractall(self.work / "windows")
        top = self.work / "windows" / f"vexa-{self.version}"
        self.assertEqual(sorted(names), [f"vexa-{self.version}/{n}"
                                         for n in ("README.txt", "vexa.exe", "vexasfx.exe")])
        readme = (top / "README.txt").read_bytes()
        self.assertEqual(readme.count(b"\n"), readme.count(b"\r\n"))
        self.assertGreater(readme.count(b"\r\n"), 10)
        try:
            loader = find_wine()
        except Unavailable as e:
            self.skipTest(str(e))
        linux = self.pack_and_verify(BUILD / "native" / "vexa", top / "vexasfx.exe", "linux.exe")
        wine = self.work / "wine.exe"
        with open(self.work / "wine.log", "w") as log, WineSession(BUILD, log, loader) as session:
            code, out = session.run([top / "vexa.exe", "--version"], cwd=self.work)
            self.assertEqual((code, out.strip()), (0, self.version))
            code, out = session.run([top / "vexa.exe", "pack", "-o", session.win_path(wine),
                                     "--temp", "--stub", session.win_path(top / "vexasfx.exe"),
                                     *map(session.win_path, self.inputs)], cwd=self.work)
            self.assertEqual(code, 0, out)
        self.assertEqual(wine.read_bytes(), linux.read_bytes())


def main():
    global BUILD
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--build", type=Path, default=BUILD)
    args, rest = ap.parse_known_args()
    BUILD = args.build.resolve()
    unittest.main(argv=[sys.argv[0], "-v", *rest])


if __name__ == "__main__":
    main()
