"""One virtual display, one Wine prefix and one persistent wineserver for a whole test run.

The prefix is a 64-bit one that runs 32-bit programs too (the shipped programs are 32-bit, the
test helpers 64-bit, which saves them the translation where 32-bit programs run under qemu-user).
It is made by the 64-bit loader, because 32-bit wineboot crashes under qemu-user, lives in the
build folder and is kept between runs; it is made again when it is missing or incomplete.
Everything started here is ended by close(), and nothing else is.
"""

import os
import select
import shutil
import subprocess
import time
from pathlib import Path, PureWindowsPath

# Bump when the prefix set-up changes, so that old prefixes are made again.
PREFIX_VERSION = "2"

# Unmanaged windows: with no window manager, Wine waits about 2 s whenever a managed window
# closes. AeDebug: a program that faults just ends, without the crash dialog; 32-bit programs
# read their own view of the key, below Wow6432Node.
REGISTRY = r"""REGEDIT4

[HKEY_CURRENT_USER\Software\Wine\X11 Driver]
"Managed"="N"

[HKEY_LOCAL_MACHINE\Software\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="false"
"Auto"="1"

[HKEY_LOCAL_MACHINE\Software\Wow6432Node\Microsoft\Windows NT\CurrentVersion\AeDebug]
"Debugger"="false"
"Auto"="1"
"""


# Debian installs the loaders off the PATH: wine64 for 64-bit programs, which starts the 32-bit
# loader by itself for a 32-bit program.
DEBIAN_WINE64 = "/usr/lib/wine/wine64"
DEBIAN_WINE32 = "/usr/lib/wine/wine"

# Read only by qemu-user. Without a preloader, Wine probes the whole 4 GiB guest address space
# in 64 KiB steps at every start (about 50 s under translation); reserving this much keeps the
# start near 2.5 s and still leaves room for Wine's fixed areas (0x80100000 is too little).
QEMU_ENV = {"QEMU_RESERVED_VA": "0x81000000"}

BINFMT = Path("/proc/sys/fs/binfmt_misc")


class Unavailable(Exception):
    """Wine or the display cannot run on this machine at all."""


def _probe(loader: str):
    """None when `loader --version` runs, else why it does not."""
    try:
        done = subprocess.run([loader, "--version"], capture_output=True, text=True,
                              timeout=60, check=False)
    except OSError as e:
        return str(e)
    if done.returncode == 0:
        return None
    lines = (done.stderr or done.stdout).strip().splitlines()
    return lines[-1] if lines else f"exit code {done.returncode}"


def i386_translated() -> bool:
    """Whether 32-bit x86 programs run here through qemu-user rather than natively."""
    try:
        entries = [e for e in BINFMT.iterdir() if e.name not in ("register", "status")]
    except OSError:
        return False
    for entry in entries:
        try:
            lines = entry.read_text().splitlines()
        except OSError:
            continue
        if "enabled" in lines and any(l.startswith("interpreter ") and "qemu-i386" in l
                                      for l in lines):
            return True
    return False


def find_wine() -> str:
    """The 64-bit loader of a Wine that runs both 32-bit and 64-bit programs: the shipped
    programs are 32-bit, the test helpers 64-bit."""
    loader64 = shutil.which("wine64") or (DEBIAN_WINE64 if os.access(DEBIAN_WINE64, os.X_OK)
                                          else None)
    loader32 = DEBIAN_WINE32 if os.access(DEBIAN_WINE32, os.X_OK) else shutil.which("wine")
    reasons = []
    for bits, loader in (("64-bit", loader64), ("32-bit", loader32)):
        reason = _probe(loader) if loader else "not installed"
        if reason and "Exec format error" in reason:
            reason += " (this kernel runs no 32-bit x86 programs; make setup registers qemu-user)"
        if reason:
            reasons.append(f"{bits} Wine: {reason} (make setup installs what is missing)")
    if reasons:
        raise Unavailable("; ".join(reasons))
    return loader64


class WineSession:
    def __init__(self, build: Path, log, loader: str):
        self.root = build / "e2e"
        self.prefix = build / "prefix"
        self.home = self.root / "home"
        self.log = log
        self.loader = loader
        self.xvfb = None
        self.server = None
        self.env = None

    # -- paths ----------------------------------------------------------------------------

    @staticmethod
    def win_path(path: Path) -> str:
        """The Windows name of a Unix path: Z: is the Unix root."""
        return "Z:" + str(Path(path).resolve()).replace("/", "\\")

    def unix_path(self, win: str) -> Path:
        """The Unix path of a Windows path on C: or Z:."""
        p = PureWindowsPath(win)
        drive = p.drive.lower()
        rest = p.parts[1:]
        if drive == "z:":
            return Path("/", *rest)
        if drive == "c:":
            return Path(self.prefix, "drive_c", *rest)
        raise ValueError(f"no Unix path for {win}")

    # -- life cycle -----------------------------------------------------------------------

    def open(self):
        for tool in ("wineserver", "Xvfb"):
            if not shutil.which(tool):
                raise Unavailable(f"{tool} is not installed (make setup installs it)")
        self.home.mkdir(parents=True, exist_ok=True)
        display = self._start_xvfb()
        env = dict(os.environ)
        env.pop("WAYLAND_DISPLAY", None)
        env.update({
            "WINEPREFIX": str(self.prefix),
            "WINEARCH": "win64",
            "WINEDEBUG": "-all",
            "WINEDLLOVERRIDES": "mscoree,mshtml=;winemenubuilder.exe=d",
            "HOME": str(self.home),
            "XDG_CONFIG_HOME": str(self.home / ".config"),
            "XDG_DATA_HOME": str(self.home / ".local/share"),
            "XDG_CACHE_HOME": str(self.home / ".cache"),
            "DISPLAY": display,
            "LC_ALL": "C.UTF-8",
            # Debian's wine script sets this for the programs that Wine starts; the 32-bit
            # loader's name is derived from it.
            "WINELOADER": self.loader,
        })
        if i386_translated():
            env.update(QEMU_ENV)
        self.env = env
        marker = self.prefix / ".vexa-e2e"
        stamp = f"{PREFIX_VERSION} wow64"
        if not marker.exists() or marker.read_text() != stamp:
            self._make_prefix()
            marker.write_text(stamp)
        self.server = subprocess.Popen(["wineserver", "-f", "-p"], env=self.env,
                                       stdout=self.log, stderr=self.log)
        self._await_server()

    def close(self):
        if self.server:
            subprocess.run(["wineserver", "-k"], env=self.env, stdout=self.log,
                           stderr=self.log, timeout=30, check=False)
            try:
                self.server.wait(timeout=15)
            except subprocess.TimeoutExpired:
                self.server.kill()
                self.server.wait()
            self.server = None
        if self.xvfb:
            self.xvfb.terminate()
            try:
                self.xvfb.wait(timeout=10)
            except subprocess.TimeoutExpired:
                self.xvfb.kill()
                self.xvfb.wait()
            self.xvfb = None

    def __enter__(self):
        try:
            self.open()
        except BaseException:
            self.close()
            raise
        return self

    def __exit__(self, *exc):
        self.close()

    # -- running --------------------------------------------------------------------------

    def run(self, args, cwd: Path, stdin: str = "", timeout: float = 60, env: dict = None):
        """Runs `wine ARGS...` with `env` added to the session's environment; returns (exit
        code, stdout text); exit code None on timeout."""
        env = {**self.env, **env} if env else self.env
        proc = subprocess.Popen([self.loader, *map(str, args)], cwd=cwd, env=env,
                                stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                stderr=self.log, text=True, encoding="utf-8", errors="replace")
        try:
            out, _ = proc.communicate(stdin, timeout=timeout)
            return proc.returncode, out
        except subprocess.TimeoutExpired:
            proc.kill()
            out, _ = proc.communicate()
            return None, out

    def locale_env(self, name: str):
        """The environment under which Wine takes the system's language and ANSI code page
        from the Unix locale `name` (such as ru_RU.UTF-8), for a program and the programs it
        starts; or why there is none. Wine falls back to English and code page 1252 for a
        locale that the C library cannot load, and a system may have no locale but C, so the
        locale is compiled into the build folder the first time."""
        folder = self.root / "locales"
        if not (folder / name / "LC_CTYPE").exists():
            folder.mkdir(parents=True, exist_ok=True)
            source, _, charmap = name.partition(".")
            done = subprocess.run(["localedef", "-i", source, "-f", charmap or "UTF-8",
                                   folder / name], capture_output=True, text=True, check=False)
            if not (folder / name / "LC_CTYPE").exists():
                return None, (f"locale {name} cannot be made here (make setup installs the "
                              f"locales package): {done.stderr.strip()[-200:]}")
        return {"LC_ALL": name, "LOCPATH": str(folder)}, None

    # -- set-up ---------------------------------------------------------------------------

    def _start_xvfb(self) -> str:
        read_end, write_end = os.pipe()
        try:
            self.xvfb = subprocess.Popen(
                ["Xvfb", "-displayfd", str(write_end), "-screen", "0", "1024x768x24",
                 "-nolisten", "tcp"],
                pass_fds=(write_end,), stdout=self.log, stderr=self.log)
            os.close(write_end)
            write_end = None
            number = b""
            while not number.endswith(b"\n"):
                ready, _, _ = select.select([read_end], [], [], 15)
                chunk = os.read(read_end, 16) if ready else b""
                if not chunk:
                    raise Unavailable("Xvfb did not start (see the run's log)")
                number += chunk
            return ":" + number.decode().strip()
        finally:
            os.close(read_end)
            if write_end is not None:
                os.close(write_end)

    def _await_server(self):
        """Waits a little for the server's socket: a program started before it exists starts a
        server of its own, which outlives it only briefly, and every later program then pays
        for another start. Upstream Wine keeps the socket under /tmp/.wine-UID; Debian's under
        a folder that the prefix's file "wineserver" names."""
        st = self.prefix.stat()
        leaf = f"server-{st.st_dev:x}-{st.st_ino:x}/socket"
        tmp = Path(os.environ.get("TMPDIR", "/tmp"))
        named = self.prefix / "wineserver"
        deadline = time.monotonic() + 5
        while time.monotonic() < deadline and self.server.poll() is None:
            folders = [tmp / f".wine-{os.getuid()}"]
            if named.exists():
                folders.append(tmp / named.read_text().strip())
            if any((folder / leaf).exists() for folder in folders):
                return
            time.sleep(0.05)

    def _make_prefix(self):
        """Creates the prefix with a server of its own, which ends with it, so that the
        registry is on disk before the persistent server starts."""
        shutil.rmtree(self.prefix, ignore_errors=True)
        self.prefix.mkdir(parents=True)
        steps = [[self.loader, "wineboot", "--init"]]
        reg = self.root / "e2e.reg"
        reg.write_text(REGISTRY.replace("\n", "\r\n"))
        steps.append([self.loader, "regedit", "/S", self.win_path(reg)])
        steps.append(["wineserver", "-w"])
        for step in steps:
            done = subprocess.run(step, env=self.env, stdout=self.log, stderr=self.log,
                                  timeout=300, check=False)
            if done.returncode != 0:
                raise Unavailable(f"making the Wine prefix failed: {' '.join(step)} gave "
                                  f"exit code {done.returncode}")
        if '"Managed"="N"' not in (self.prefix / "user.reg").read_text(errors="replace"):
            raise Unavailable("the prefix's registry settings did not take")
