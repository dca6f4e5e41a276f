#!/usr/bin/env python3
"""make demo: packs an encrypted, compressed archive with a welcome question and a setup program,
runs it under Wine on a virtual display, answers its dialogs the way a user would, says what it
did at each step, and keeps a screenshot of every window it passed through.

    python3 tools/demo.py --build BUILD

Needs the built tool (BUILD/native) with the shipped 32-bit stub inside it, the 64-bit test
helpers (BUILD/win64), Wine, Xvfb and ImageMagick's `import`. Writes BUILD/demo/: the archive,
its input files, and the screenshots 1-welcome.png ... 5-confirmation.png.
"""

import argparse
import json
import shutil
import subprocess
import sys
from pathlib import Path

ROOT = Path(__file__).resolve().parent.parent
sys.path.insert(0, str(ROOT / "tests" / "e2e"))

from run import tools  # noqa: E402
from wine_session import Unavailable, WineSession, find_wine, i386_translated  # noqa: E402

PASSWORD = "open sesame"
WELCOME_TITLE = "Vexa Demo Setup"
WELCOME = "This installs the Vexa demo product. Go on?"
SETUP_TITLE = "Vexa Demo Product"
FILES = {
    "readme.txt": b"The Vexa demo product.\r\n\r\nNothing here is real but the archive.\r\n" * 50,
    "manual.txt": b"".join(b"Chapter %d: how to use the demo product.\r\n" % i
                           for i in range(2000)),
    "setup.cfg": (f"title {SETUP_TITLE}\n"
                  "box The demo product is installed. Press OK to finish.\n"
                  "mark installed.txt\n"
                  "exit 0\n").encode(),
}
MARGIN = 24


class DemoError(Exception):
    pass


class Driver:
    """driver.exe under Wine, one step at a time, so that screenshots fit in between."""

    def __init__(self, session: WineSession, driver: Path, cwd: Path):
        self.proc = subprocess.Popen([session.loader, str(driver)], cwd=cwd, env=session.env,
                                     stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                     stderr=session.log, text=True, encoding="utf-8",
                                     errors="replace")

    def step(self, line: str) -> dict:
        self.proc.stdin.write(line + "\n")
        self.proc.stdin.flush()
        while True:
            out = self.proc.stdout.readline()
            if not out:
                raise DemoError(f"the driver ended at: {line}")
            if out.startswith("{"):
                result = json.loads(out)
                if not result.get("ok"):
                    raise DemoError(f"{line}: {result.get('error')}")
                return result

    def close(self):
        if self.proc.stdin:
            self.proc.stdin.close()
        try:
            self.proc.wait(timeout=30)
        except subprocess.TimeoutExpired:
            self.proc.kill()
            self.proc.wait()


def quote(text: str) -> str:
    return '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'


def screenshot(session: WineSession, window: dict, path: Path):
    """The part of the screen around the window, as a PNG."""
    r = window["rect"]
    x, y = max(r["x"] - MARGIN, 0), max(r["y"] - MARGIN, 0)
    w, h = r["w"] + 2 * MARGIN, r["h"] + 2 * MARGIN
    done = subprocess.run(["import", "-display", session.env["DISPLAY"], "-window", "root",
                           "-crop", f"{w}x{h}+{x}+{y}", "+repage", str(path)],
                          capture_output=True, text=True, check=False)
    if done.returncode != 0:
        raise DemoError(f"import failed: {done.stderr.strip()}")
    print(f"     screenshot: {path}")


def say(number: int, text: str):
    print(f"{number}. {text}", flush=True)


def pack(paths: dict, demo: Path) -> Path:
    inputs = demo / "in"
    inputs.mkdir(parents=True)
    for name, data in FILES.items():
        (inputs / name).write_bytes(data)
    shutil.copyfile(paths["setup"], inputs / "setup.exe")
    (demo / "password.txt").write_text(PASSWORD + "\n")
    exe = demo / "vexa-demo.exe"
    command = [str(paths["vexa"]), "pack", "-o", str(exe), "--temp", "--encrypt",
               "--password-file", str(demo / "password.txt"),
               "--welcome", WELCOME, "--title", WELCOME_TITLE,
               "--run", "setup.exe", "--program-in-destination", "--wait-and-delete",
               "--always-confirm"]
    command += [str(inputs / name) for name in [*FILES, "setup.exe"]]
    print("$ " + " ".join(quote(c) if " " in c else c for c in command))
    subprocess.run(command, check=True)
    subprocess.run([str(paths["vexa"]), "list", str(exe)], check=True)
    return exe


def converse(session: WineSession, paths: dict, demo: Path, exe: Path, temp: Path):
    driver = Driver(session, paths["driver"], demo)
    earlier = set(temp.glob("vexa-*"))
    try:
        driver.step(f"start exe={quote(session.win_path(exe))}")
        say(1, f"The archive starts and asks {WELCOME!r}")
        box = driver.step(f"wait title={quote(WELCOME_TITLE)} class=#32770")
        screenshot(session, box["window"], demo / "1-welcome.png")
        driver.step("click id=6")
        print("     answered Yes")

        say(2, "It is encrypted, so it asks for the password")
        dialog = driver.step('wait title="Decrypting Files" class=#32770')
        driver.step("focus id=11")
        driver.step(f"type id=11 text={quote(PASSWORD)}")
        dialog = driver.step("dump")
        screenshot(session, dialog["window"], demo / "2-password.png")
        driver.step("click id=1")
        print(f"     typed {PASSWORD!r} and pressed OK")

        say(3, "The status window shows while the items are written (at least 1.5 s)")
        driver.step("wait class=QuorvantaSelfExtractorWindow")
        status = driver.step("onscreen")
        screenshot(session, status["window"], demo / "3-status.png")

        say(4, "The setup program starts from a new folder in the temporary folder and reports")
        box = driver.step(f"wait title={quote(SETUP_TITLE)} class=#32770 any=1 timeout=20000")
        screenshot(session, box["window"], demo / "4-setup-program.png")
        driver.step("click id=1")
        print("     pressed OK: the setup program ends with exit code 0")

        say(5, "The archive asks before it deletes the extracted files")
        dialog = driver.step('wait title="Confirmation" class=#32770')
        driver.step("focus id=6")
        screenshot(session, dialog["window"], demo / "5-confirmation.png")
        driver.step("click id=6")
        print("     answered Yes")

        say(6, "1.5 s later the extracted files are gone")
        result = driver.step("exit timeout=20000")
        print(f"     the archive ended with exit code {result['exit_code']}")
        if result["exit_code"] != 0:
            raise DemoError(f"exit code {result['exit_code']}, expected 0")
        folders = set(temp.glob("vexa-*")) - earlier
        if len(folders) != 1:
            raise DemoError(f"{len(folders)} new folders vexa-* in {temp}, expected 1")
        folder = folders.pop()
        if left := sorted(p.name for p in folder.iterdir() if p.name != "installed.txt"):
            raise DemoError(f"{folder} still holds {', '.join(left)}")
        print(f"     {folder.name} holds only installed.txt, which the setup program left "
              "there (so the folder stays); removing it")
        shutil.rmtree(folder)
    finally:
        driver.close()


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    args = parser.parse_args()
    build = Path(args.build).resolve()
    if not shutil.which("import"):
        print("demo: ImageMagick's import is missing (make setup installs it)")
        return 1
    try:
        loader = find_wine()
    except Unavailable as e:
        print(f"demo: cannot run Wine: {e}")
        return 1
    paths = tools(build, "win32")
    for name in ("vexa", "driver", "setup", "stub"):
        if not paths[name].exists():
            print(f"demo: not built: {paths[name]}")
            return 1
    demo = build / "demo"
    shutil.rmtree(demo, ignore_errors=True)
    demo.mkdir(parents=True)
    how = " (through qemu-user: each start of it takes a few seconds)" if i386_translated() else ""
    print(f"demo: the 32-bit stub under {loader}{how}; everything goes to {demo}")
    exe = pack(paths, demo)
    (build / "e2e").mkdir(parents=True, exist_ok=True)
    try:
        with open(demo / "wine.log", "w") as log, WineSession(build, log, loader) as session:
            info = Driver(session, paths["driver"], demo)
            temp = session.unix_path(info.step("info")["temp"])
            info.close()
            converse(session, paths, demo, exe, temp)
    except (Unavailable, DemoError, subprocess.CalledProcessError) as e:
        print(f"demo: failed: {e}")
        return 1
    print(f"demo: done; the screenshots are in {demo}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
