#!/usr/bin/env python3
"""Builds the three packages users install from, out of a finished build:

  vexa_VERSION_amd64.deb             /usr/bin/vexa, the stub in /usr/share/vexa, the man page,
                                     README and copyright in /usr/share/doc/vexa
  vexa-VERSION-linux-x86_64.tar.gz   the same tree under vexa-VERSION/ (bin/, share/), which
                                     runs where it is unpacked: vexa carries its stub
  vexa-VERSION-windows-x86.zip       vexa.exe, vexasfx.exe and README.txt (CRLF) under
                                     vexa-VERSION/

Reproducible: every date in them is SOURCE_DATE_EPOCH (default: the commit's date), every
owner root, every list sorted, so the same build and epoch give the same bytes.

  make_dist.py --native build/native --win32 build/win32 --out dist
"""

import argparse
import gzip
import hashlib
import io
import os
import re
import subprocess
import sys
import tarfile
import tempfile
import time
import zipfile
from pathlib import Path

SOURCE = Path(__file__).resolve().parents[1]
MAINTAINER = "Vexa developers <maintainers@users.noreply.c-seed-bb2b54df.example>"
SUMMARY = "self-extracting archives for Windows"
DESCRIPTION = """\
 vexa packs files into a self-extracting archive: a 32-bit Windows program that
 asks what the archive says to ask, writes the files, starts a setup program,
 waits for it and cleans up. vexa also lists, extracts and verifies such
 archives without running them. The Windows stub it packs with is included."""
# The project states no licence of its own yet; the copyright file says what is known.
COPYRIGHT = """\
vexa: self-extracting archives for Windows

Copyright (C) {year} the Vexa developers.

The Windows stub (vexasfx.exe, also carried inside vexa as data) is linked
statically with zlib (zlib licence), with the LZMA SDK's LZMA2 decoder (public
domain; vexa carries it too) and with the GCC runtime libraries (licensed
under the GNU General Public License version 3 with the GCC Runtime Library
Exception; see /usr/share/common-licenses/GPL-3). vexa.exe in the Windows
package links libdeflate (MIT licence) and liblzma's encoder (public domain)
as well.
"""


def project_version() -> str:
    text = (SOURCE / "CMakeLists.txt").read_text()
    return re.search(r"project\(vexa VERSION ([0-9.]+)", text).group(1)


def source_date_epoch() -> int:
    if os.environ.get("SOURCE_DATE_EPOCH"):
        return int(os.environ["SOURCE_DATE_EPOCH"])
    done = subprocess.run(["git", "-C", SOURCE, "log", "-1", "--format=%ct"],
                          capture_output=True, text=True, check=False)
    if done.returncode != 0:
        sys.exit("make_dist: no commit to date the packages by: set SOURCE_DATE_EPOCH")
    return int(done.stdout.strip())


def gzipped(data: bytes, epoch: int) -> bytes:
    """gzip -9n: no name, the epoch as the date."""
    out = io.BytesIO()
    with gzip.GzipFile(filename="", mode="wb", compresslevel=9, fileobj=out, mtime=epoch) as f:
        f.write(data)
    return out.getvalue()


def stripped(binary: Path, work: Path) -> bytes:
    """The binary without symbols or the compiler's notes, as Debian's packaging strips."""
    out = work / "stripped"
    subprocess.run(["strip", "--strip-unneeded", "--remove-section=.comment",
                    "--remove-section=.note", "-o", out, binary], check=True)
    return out.read_bytes()


def unix_tree(native: Path, win32: Path, work: Path, epoch: int) -> dict:
    """{path below the prefix: (bytes, mode)}, the files of the .deb and the tarball."""
    return {
        "bin/vexa": (stripped(native / "vexa", work), 0o755),
        "share/vexa/vexasfx.exe": ((win32 / "vexasfx.exe").read_bytes(), 0o644),
        "share/man/man1/vexa.1.gz": (gzipped((SOURCE / "docs/vexa.1").read_bytes(), epoch),
                                     0o644),
        "share/doc/vexa/README.md": ((SOURCE / "README.md").read_bytes(), 0o644),
        "share/doc/vexa/copyright": (COPYRIGHT.format(year=time.gmtime(epoch).tm_year).encode(),
                                     0o644),
    }


def lay_out(files: dict, root: Path, epoch: int):
    """Writes files below root, every file and folder dated epoch."""
    for name, (data, mode) in files.items():
        path = root / name
        path.parent.mkdir(parents=True, exist_ok=True)
        path.write_bytes(data)
        path.chmod(mode)
    for path in [root, *root.rglob("*")]:
        if path.is_dir():
            path.chmod(0o755)
        os.utime(path, (epoch, epoch), follow_symlinks=False)


def shlib_depends(binary: Path, work: Path) -> str:
    """The Depends line for the libraries binary links dynamically, from dpkg-shlibdeps."""
    (work / "debian").mkdir(exist_ok=True)
    (work / "debian/control").write_text("Source: vexa\n\nPackage: vexa\nArchitecture: any\n")
    done = subprocess.run(["dpkg-shlibdeps", "-O", f"-e{binary}"], cwd=work,
                          capture_output=True, text=True, check=True)
    match = re.search(r"^shlibs:Depends=(.*)$", done.stdout, re.M)
    return match.group(1) if match else ""


def debian_changelog(version: str, epoch: int) -> bytes:
    date = time.strftime("%a, %d %b %Y %H:%M:%S +0000", time.gmtime(epoch))
    return (f"vexa ({version}) unstable; urgency=medium\n\n"
            f"  * Release {version}.\n\n -- {MAINTAINER}  {date}\n").encode()


def build_deb(files: dict, version: str, epoch: int, work: Path, out: Path) -> Path:
    root = work / "deb"
    tree = {f"usr/{name}": entry for name, entry in files.items()}
    tree["usr/share/doc/vexa/changelog.gz"] = (gzipped(debian_changelog(version, epoch), epoch),
                                               0o644)
    lay_out(tree, root, epoch)
    installed_kib = sum((len(data) + 1023) // 1024 for data, _ in tree.values())
    control = (f"Package: vexa\nVersion: {version}\nArchitecture: amd64\n"
               f"Maintainer: {MAINTAINER}\nInstalled-Size: {installed_kib}\n"
               f"Depends: {shlib_depends(root / 'usr/bin/vexa', work)}\n"
               f"Section: utils\nPriority: optional\nDescription: {SUMMARY}\n{DESCRIPTION}\n")
    md5sums = "".join(f"{hashlib.md5(data).hexdigest()}  {name}\n"
                      for name, (data, _) in sorted(tree.items()))
    lay_out({"DEBIAN/control": (control.encode(), 0o644),
             "DEBIAN/md5sums": (md5sums.encode(), 0o644)}, root, epoch)
    deb = out / f"vexa_{version}_amd64.deb"
    subprocess.run(["dpkg-deb", "--root-owner-group", "-Zxz", "--build", root, deb],
                   env={**os.environ, "SOURCE_DATE_EPOCH": str(epoch)},
                   stdout=subprocess.DEVNULL, check=True)
    return deb


def build_tarball(files: dict, version: str, epoch: int, out: Path) -> Path:
    top = f"vexa-{version}"
    tarball = out / f"vexa-{version}-linux-x86_64.tar.gz"
    folders = sorted({str(parent) for name in files for parent in Path(top, name).parents
                      if str(parent) != "."})

    def info(name: str, mode: int, size: int = 0, folder: bool = False) -> tarfile.TarInfo:
        entry = tarfile.TarInfo(name)
        entry.type = tarfile.DIRTYPE if folder else tarfile.REGTYPE
        entry.mode, entry.size, entry.mtime = mode, size, epoch
        entry.uid = entry.gid = 0
        entry.uname = entry.gname = "root"
        return entry

    raw = io.BytesIO()
    with tarfile.open(fileobj=raw, mode="w", format=tarfile.GNU_FORMAT) as tar:
        for folder in folders:
            tar.addfile(info(folder, 0o755, folder=True))
        for name, (data, mode) in sorted(files.items()):
            tar.addfile(info(f"{top}/{name}", mode, len(data)), io.BytesIO(data))
    tarball.write_bytes(gzipped(raw.getvalue(), epoch))
    return tarball


def build_zip(win32: Path, version: str, epoch: int, out: Path) -> Path:
    top = f"vexa-{version}"
    readme = (SOURCE / "README.md").read_text(encoding="utf-8").replace("\r\n", "\n")
    files = {
        "README.txt": readme.replace("\n", "\r\n").encode("utf-8"),
        "vexa.exe": (win32 / "vexa.exe").read_bytes(),
        "vexasfx.exe": (win32 / "vexasfx.exe").read_bytes(),
    }
    # A zip holds local time from 1980 on, in two-second steps.
    date = time.gmtime(max(epoch, 315532800))[:6]
    archive = out / f"vexa-{version}-windows-x86.zip"
    with zipfile.ZipFile(archive, "w") as z:
        for name, data in sorted(files.items()):
            entry = zipfile.ZipInfo(f"{top}/{name}", date_time=date)
            entry.compress_type = zipfile.ZIP_DEFLATED
            entry.create_system = 0  # MS-DOS: no Unix modes to carry
            z.writestr(entry, data, compresslevel=9)
    return archive


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--native", type=Path, required=True, help="the native build (vexa)")
    ap.add_argument("--win32", type=Path, required=True, help="the win32 build (the .exe files)")
    ap.add_argument("--out", type=Path, required=True, help="where the packages go")
    args = ap.parse_args()
    for needed in (args.native / "vexa", args.win32 / "vexa.exe", args.win32 / "vexasfx.exe"):
        if not needed.is_file():
            sys.exit(f"make_dist: {needed} is missing: build first (make native)")
    version, epoch = project_version(), source_date_epoch()
    args.out.mkdir(parents=True, exist_ok=True)
    with tempfile.TemporaryDirectory() as folder:
        work = Path(folder)
        files = unix_tree(args.native, args.win32, work, epoch)
        made = [build_deb(files, version, epoch, work, args.out),
                build_tarball(files, version, epoch, args.out),
                build_zip(args.win32, version, epoch, args.out)]
    for package in made:
        print(package)


if __name__ == "__main__":
    main()
