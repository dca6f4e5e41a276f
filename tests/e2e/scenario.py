"""Runs one scenario: lays out its start state, runs the program under the driver, and compares
what happened with what the scenario expects.

A scenario is a dict; only `name` is required:

  name        unique; the result line and the run folder (BUILD/e2e/runs/NAME) carry it
  program     "archive" (default: `vexa pack` makes app/setup.exe from `files` and `pack`),
              "stub" (the bare stub, copied to app/vexasfx.exe) or "testapp" (the harness's
              own test program, with `args`)
  app         the folder of the run folder that holds the program (default "app")
  env         NAME=VALUE lines for the program's environment
  locale      a Unix locale such as ru_RU.UTF-8: the system's language and ANSI code page
              that Wine gives the program (default: English, code page 1252)
  files       {name: bytes, Tool or None}: the files to pack, in this order, written to in/;
              None makes an empty folder
  inputs      what `vexa pack` is given instead of the files one by one (paths below in/)
  pack        extra `vexa pack` options
  craft       function(Crafter): rewrites the packed archive's resources
  mkdirs      folders made in the run folder before the run
  links       {path: target}: Unix symbolic links made in the run folder before the run, the
              target relative to the link's folder; the comparison of files passes over them
  folders     folders of the run folder that the run makes and leaves empty
  put         {path: bytes or Tool}: files laid in the run folder (or a special folder, see
              below) before the run; expected unchanged afterwards unless `written` says
              otherwise
  mounts      {folder: "ro" or "size=N"}: the run folder's folder becomes a read-only view of
              itself, or a file system of that size; a scenario that cannot mount is skipped
  before      driver steps before the program is started (helpers that must run first)
  steps       driver steps between the start and the exit: dicts {"do": VERB, key: value, ...,
              "check": function}; see checks.py for the checks
  exit_checks checks of the exit step's result (the watch's runs, the windows seen)
  exit_code   the expected exit code (default 0)
  timeout_ms  how long the program may take to end after the last step (default 30000)
  written     {path: bytes, the name of an input file, or a function(bytes) -> bool}: the files
              expected after the run.
              A path is relative to the run folder, or "%TEMP%/NAME" in the temporary folder, or
              "%DESKTOP%/NAME" on the Desktop; a special path may hold a shell pattern
              ("%TEMP%/vexa-*/a.txt"), which must match exactly one file. What the first part of
              a special path names is removed before and after the scenario.
              The run folder must hold nothing else apart from in/, the program and `mkdirs`.
  absent      Windows paths (C: or Z:), or special paths with patterns, that must not exist
              after the run
  temp_checks checks of the temporary folder once the run is over: functions(Path) -> problems
  clear       special paths (with patterns) removed before and after the scenario
  after       checks of the run folder once the run is over: functions(Path) -> problems
  args        the program's command line after its name: the archive's switches, or the
              test program's orders
  slow        true: run only when asked for (run.py --slow, or by its name with --only)

"{run}" in `pack`, `args`, step values and the texts of checks stands for the run folder's
Windows path, "{setup}" for the setup program's (tests/e2e/setup).
"""

import json
import shutil
import subprocess
from pathlib import Path

# Enough to see what went wrong with an archive of thousands of items.
MAX_FILE_PROBLEMS = 20

# Special folders that `written` may name, by the key of the driver's `info` that locates them.
SPECIAL = {"%TEMP%/": "temp", "%DESKTOP%/": "desktop"}


class Tool:
    """A built program as the content of a file: `files` and `put` copy it from the build."""

    def __init__(self, name: str):
        self.name = name

    def __repr__(self):
        return f"Tool({self.name!r})"


class Crafter:
    """Reads and rewrites the RCDATA resources of the packed archive."""

    def __init__(self, tool: Path, exe: Path):
        self.tool = tool
        self.exe = exe

    def get(self, name: str) -> bytes:
        out = self.exe.with_name(f"{name}.bin")
        self._run([self.exe, "--get", f"{name}={out}"])
        data = out.read_bytes()
        out.unlink()
        return data

    def rewrite(self, drop=(), put=None):
        """Drops the resources named in `drop` and sets those in `put` ({name: bytes})."""
        args = [self.exe, self.exe.with_suffix(".new")]
        for name in drop:
            args += ["--drop", name]
        scratch = []
        for name, data in (put or {}).items():
            path = self.exe.with_name(f"{name}.bin")
            path.write_bytes(data)
            scratch.append(path)
            args += ["--set", f"{name}={path}"]
        self._run(args)
        for path in scratch:
            path.unlink()
        self.exe.with_suffix(".new").replace(self.exe)

    def _run(self, args):
        done = subprocess.run([self.tool, *map(str, args)], capture_output=True, text=True,
                              check=False)
        if done.returncode != 0:
            raise ScenarioError(f"e2e_resedit failed: {done.stderr.strip()}")


class ScenarioError(Exception):
    """The scenario could not be set up or run; the message is the reason."""


class ScenarioSkipped(Exception):
    """The scenario cannot run on this machine; the message is the reason."""


class DriverSilent(ScenarioError):
    """Wine ended the driver with a failure before it reported its first step, so nothing
    of the scenario ran: the driver reports every step it takes, failed ones included."""


def quote(value) -> str:
    text = str(value)
    for raw, escaped in (("\\", "\\\\"), ('"', '\\"'), ("\n", "\\n"), ("\r", "\\r"),
                         ("\t", "\\t")):
        text = text.replace(raw, escaped)
    return f'"{text}"'


def substitute(text: str, subs: dict) -> str:
    for key, value in subs.items():
        text = text.replace("{" + key + "}", value)
    return text


def step_line(step: dict, subs: dict) -> str:
    args = [f"{k}={quote(substitute(str(v), subs))}" for k, v in step.items()
            if k not in ("do", "check")]
    return " ".join([step["do"], *args])


def special_file(name: str):
    """(info key, file name) of a path in a special folder, else None."""
    for prefix, key in SPECIAL.items():
        if name.startswith(prefix):
            return key, name[len(prefix):]
    return None


class Mounts:
    """The scenario's mounts, undone on close. Mounting needs root and a sandbox that lets it."""

    def __init__(self, run: Path, wanted: dict):
        self.done = []
        try:
            for folder, how in wanted.items():
                self._mount(run / folder, how)
        except BaseException:
            self.close()
            raise

    def _mount(self, path: Path, how: str):
        path.mkdir(parents=True, exist_ok=True)
        if how == "ro":
            steps = [["mount", "--bind", path, path], ["mount", "-o", "remount,ro,bind", path]]
        elif how.startswith("size="):
            steps = [["mount", "-t", "tmpfs", "-o", how, "vexa-e2e", path]]
        else:
            raise ScenarioError(f"unknown mount {how}")
        for i, command in enumerate(steps):
            done = subprocess.run(command, capture_output=True, text=True, check=False)
            if done.returncode != 0:
                if i == 0:
                    raise ScenarioSkipped(f"cannot mount here: {done.stderr.strip()[-200:]}")
                self.done.append(path)
                raise ScenarioError(f"{' '.join(map(str, command))}: {done.stderr.strip()}")
            if i == 0:
                self.done.append(path)

    def close(self):
        while self.done:
            path = self.done.pop()
            subprocess.run(["umount", path], capture_output=True, check=False)


def snapshot(root: Path, skip):
    """The files (with their bytes) and folders below root, as paths relative to it."""
    files, dirs = {}, set()
    for path in sorted(root.rglob("*")):
        rel = path.relative_to(root).as_posix()
        if any(rel == s or rel.startswith(s + "/") for s in skip) or path.is_symlink():
            continue
        if path.is_dir():
            dirs.add(rel)
        else:
            files[rel] = path.read_bytes()
    return files, dirs


def differs(actual: bytes, expected) -> str:
    """Why the file's bytes are not the expected ones; empty when they are."""
    if callable(expected):
        return "" if expected(actual) else f"unexpected content {actual[:80]!r}"
    if actual == expected:
        return ""
    return f"{len(actual)} bytes differ from the expected {len(expected)}"


class Runner:
    def __init__(self, session, tools: dict, runs: Path, info: dict):
        self.session = session
        # "vexa", "stub", "driver", "testapp", "resedit" -> Path; "pack_stub" -> Path or None
        self.tools = tools
        self.runs = runs
        self.info = info

    def tool(self, name) -> Path:
        path = self.tools[name]
        if not path.exists():
            raise ScenarioError(f"not built: {path}")
        return path

    def special_path(self, key: str, name: str) -> Path:
        return self.session.unix_path(self.info[key]) / name

    def content(self, data) -> bytes:
        return self.tool(data.name).read_bytes() if isinstance(data, Tool) else data

    def run(self, sc: dict) -> list:
        """Returns the problems found; an empty list is a pass. Raises ScenarioSkipped.
        Now and then Wine ends the driver with exit code 1 before it has done anything (one
        start in several hundred); such a run is repeated once, in a fresh folder, and says
        so."""
        try:
            return self._run_once(sc)
        except DriverSilent as e:
            print(f"RETRY {sc['name']}: {e}", flush=True)
        try:
            return self._run_once(sc)
        except DriverSilent as e:
            return [str(e)]

    def _run_once(self, sc: dict) -> list:
        run = self.runs / sc["name"]
        for folder in sc.get("mounts", {}):
            # Left over from a run that was killed before it could unmount.
            if (run / folder).is_mount():
                subprocess.run(["umount", run / folder], capture_output=True, check=False)
        shutil.rmtree(run, ignore_errors=True)
        (run / "in").mkdir(parents=True)
        (run / sc.get("app", "app")).mkdir(parents=True)
        subs = {"run": self.session.win_path(run)}
        if "setup" in self.tools:
            subs["setup"] = self.session.win_path(self.tools["setup"])
        log = [f"# {sc['name']}"]
        mounts = None
        try:
            exe = self._prepare(sc, run, subs, log)
            mounts = Mounts(run, sc.get("mounts", {}))
            # The files tell what happened also when a step failed.
            try:
                problems = self._judge(sc, self._drive(sc, run, subs, exe, log), subs)
            except DriverSilent:
                raise
            except ScenarioError as e:
                problems = [str(e)]
            problems += self._compare_files(sc, run, exe)
        except DriverSilent:
            raise
        except ScenarioError as e:
            return [str(e)]
        finally:
            if mounts:
                mounts.close()
            (self.runs / f"{sc['name']}.log").write_text("\n".join(log) + "\n")
        self._clear_special(sc)
        return problems

    def special_matches(self, key: str, pattern: str) -> list:
        return sorted(self.session.unix_path(self.info[key]).glob(pattern))

    def _clear_special(self, sc):
        names = [*sc.get("written", {}), *sc.get("put", {}), *sc.get("absent", []),
                 *sc.get("clear", [])]
        for name in names:
            if special := special_file(name):
                key, rest = special
                for path in self.special_matches(key, rest.split("/")[0]):
                    if path.is_dir():
                        shutil.rmtree(path)
                    else:
                        path.unlink()

    def _prepare(self, sc, run: Path, subs: dict, log) -> Path:
        for name, data in sc.get("files", {}).items():
            (run / "in" / name).parent.mkdir(parents=True, exist_ok=True)
            if data is None:
                (run / "in" / name).mkdir()
            else:
                (run / "in" / name).write_bytes(self.content(data))
        self._clear_special(sc)
        for name, data in sc.get("put", {}).items():
            special = special_file(name)
            path = self.special_path(*special) if special else run / name
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(self.content(data))
        program = sc.get("program", "archive")
        if program == "archive":
            exe = run / sc.get("app", "app") / "setup.exe"
            options = [substitute(o, subs) for o in sc.get("pack", [])]
            if self.tools["pack_stub"]:
                options = ["--stub", self.tool("pack_stub"), *options]
            inputs = sc.get("inputs", list(sc.get("files", {})))
            command = [self.tool("vexa"), "pack", "-o", exe, *options,
                       *[run / "in" / name for name in inputs]]
            log.append("$ " + " ".join(map(str, command))[:2000])
            done = subprocess.run(command, cwd=run, capture_output=True, text=True, check=False)
            log.append(done.stdout + done.stderr)
            if done.returncode != 0:
                raise ScenarioError(f"vexa pack failed with exit code {done.returncode}: "
                                    f"{done.stderr.strip()[-300:]}")
            if "craft" in sc:
                sc["craft"](Crafter(self.tool("resedit"), exe))
        elif program == "stub":
            exe = run / sc.get("app", "app") / "vexasfx.exe"
            shutil.copyfile(self.tool("stub"), exe)
        elif program == "testapp":
            exe = self.tool("testapp")
        else:
            raise ScenarioError(f"unknown program {program}")
        for folder in sc.get("mkdirs", []):
            (run / folder).mkdir(parents=True, exist_ok=True)
        for link, target in sc.get("links", {}).items():
            (run / link).parent.mkdir(parents=True, exist_ok=True)
            (run / link).symlink_to(target)
        return exe

    def _drive(self, sc, run: Path, subs: dict, exe: Path, log) -> list:
        timeout_ms = sc.get("timeout_ms", 30000)
        start = {"do": "start", "exe": self.session.win_path(exe), "dir": "C:\\"}
        for key in ("args", "env"):
            if key in sc:
                start[key] = sc[key]
        steps = [*sc.get("before", []), start, *sc.get("steps", []),
                 {"do": "exit", "timeout": timeout_ms}]
        script = "\n".join(step_line(s, subs) for s in steps) + "\n"
        log.append(script)
        env = None
        if "locale" in sc:
            env, why = self.session.locale_env(sc["locale"])
            if why:
                raise ScenarioSkipped(why)
        # Every wait has its own timeout; this one only guards against a hung driver.
        budget = sum(int(s.get("timeout", 10000)) for s in steps) / 1000 + 60
        code, out = self.session.run([self.tool("driver")], cwd=run, stdin=script,
                                     timeout=budget, env=env)
        log.append(out)
        results = []
        for line in out.splitlines():
            try:
                results.append(json.loads(line))
            except ValueError:
                continue
        if code is None:
            raise ScenarioError(f"the driver hung for {budget:.0f} s")
        if not results and code != 0:
            raise DriverSilent(f"the driver ended with exit code {code} before its first step")
        for step, result in zip(steps, results):
            if not result.get("ok"):
                raise ScenarioError(f"{step_line(step, subs)[:80]}: "
                                    f"{result.get('error', '')[:400]}")
        if len(results) != len(steps):
            raise ScenarioError(f"the driver ended after {len(results)} of {len(steps)} steps "
                                f"with exit code {code}")
        return list(zip(steps, results))

    def _judge(self, sc, results, subs: dict) -> list:
        info = {**self.info, **subs}
        problems = []
        for step, result in results:
            if "check" in step:
                problems += [f"{step['do']}: {p}" for p in step["check"](result, info)]
        exit_result = results[-1][1]
        for check in sc.get("exit_checks", []):
            problems += check(exit_result, info)
        expected = sc.get("exit_code", 0)
        if exit_result["exit_code"] != expected:
            seen = ", ".join(f"{w['class']} {w['title']!r}" for w in exit_result["seen"])
            problems.append(f"exit code {exit_result['exit_code']}, expected {expected}"
                            + (f" (windows seen: {seen})" if seen else ""))
        return problems

    def _compare_files(self, sc, run: Path, exe: Path) -> list:
        problems = []
        expected_files, special_files = {}, {}
        for name, data in sc.get("put", {}).items():
            (special_files if special_file(name) else expected_files)[name] = self.content(data)
        expected_dirs = {"in", *sc.get("mkdirs", []), *sc.get("mounts", {})}
        for name in sc.get("folders", []):
            if not (run / name).is_dir():
                problems.append(f"missing folder {name}")
            expected_dirs.update(p.as_posix() for p in [Path(name), *Path(name).parents]
                                 if p != Path("."))
        expected_dirs.add(sc.get("app", "app"))
        for name in expected_files:
            parent = Path(name).parent
            while parent != Path("."):
                expected_dirs.add(parent.as_posix())
                parent = parent.parent
        for name, source in sc.get("written", {}).items():
            data = (run / "in" / source).read_bytes() if isinstance(source, str) else source
            if special_file(name):
                special_files[name] = data
                continue
            expected_files[name] = data
            parent = Path(name).parent
            while parent != Path("."):
                expected_dirs.add(parent.as_posix())
                parent = parent.parent
        skip = ["in"]
        if exe.is_relative_to(run):
            skip.append(exe.relative_to(run).as_posix())
        files, dirs = snapshot(run, skip)
        for name in sorted(files.keys() - expected_files.keys()):
            problems.append(f"unexpected file {name}")
        for name in sorted(expected_files.keys() - files.keys()):
            problems.append(f"missing {name}")
        for name in sorted(files.keys() & expected_files.keys()):
            if why := differs(files[name], expected_files[name]):
                problems.append(f"{name}: {why}")
        for name in sorted(dirs - expected_dirs):
            problems.append(f"unexpected folder {name}")
        for name, data in special_files.items():
            matches = [p for p in self.special_matches(*special_file(name)) if p.is_file()]
            if len(matches) != 1:
                problems.append(f"{len(matches)} files match {name}" if matches
                                else f"missing {name}")
            elif why := differs(matches[0].read_bytes(), data):
                problems.append(f"{name}: {why}")
        for win in sc.get("absent", []):
            special = special_file(win)
            if special and (found := self.special_matches(*special)):
                problems.append(f"{win} exists: {', '.join(p.name for p in found)}")
            elif not special and self.session.unix_path(win).exists():
                problems.append(f"{win} was written")
        for check in sc.get("after", []):
            problems += check(run)
        for check in sc.get("temp_checks", []):
            problems += check(self.session.unix_path(self.info["temp"]))
        if len(problems) > MAX_FILE_PROBLEMS:
            more = len(problems) - MAX_FILE_PROBLEMS
            problems = problems[:MAX_FILE_PROBLEMS] + [f"{more} more differences"]
        return problems

