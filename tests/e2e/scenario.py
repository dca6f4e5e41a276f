"""Runs one scenario: lays out its start state, runs the program under the driver, and compares
what happened with what the scenario expects.

A scenario is a dict; only `name` is required:

  name        unique; the result line and the run folder (BUILD/e2e/runs/NAME) carry it
  program     "archive" (default: `vexa pack` makes app/setup.exe from `files` and `pack`),
              "stub" (the bare stub, copied to app/vexasfx.exe) or "testapp" (the harness's
              own test program, with `args`)
  files       {name: bytes}: the files to pack, in this order, written to in/
  pack        extra `vexa pack` options
  craft       function(Crafter): rewrites the packed archive's resources
  mkdirs      folders made in the run folder before the run
  steps       driver steps between the start and the exit: dicts {"do": VERB, key: value, ...,
              "check": function}; see checks.py for the checks
  exit_checks checks of the exit step's result (the watch's runs, the windows seen)
  exit_code   the expected exit code (default 0)
  timeout_ms  how long the program may take to end after the last step (default 30000)
  written     {path: bytes, the name of an input file, or a function(bytes) -> bool}: the files
              expected after the run.
              A path is relative to the run folder, or "%TEMP%/NAME" in the temporary folder.
              The run folder must hold nothing else apart from in/, the program and `mkdirs`.
  absent      Windows paths (C: or Z:) that must not exist after the run
  args        the test program's command line

"{run}" in `pack`, `args` and step values stands for the run folder's Windows path.
"""

import json
import shutil
import subprocess
from pathlib import Path

TEMP = "%TEMP%/"


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


def quote(value) -> str:
    text = str(value)
    for raw, escaped in (("\\", "\\\\"), ('"', '\\"'), ("\n", "\\n"), ("\r", "\\r"),
                         ("\t", "\\t")):
        text = text.replace(raw, escaped)
    return f'"{text}"'


def step_line(step: dict, run_win: str) -> str:
    args = [f"{k}={quote(str(v).replace('{run}', run_win))}" for k, v in step.items()
            if k not in ("do", "check")]
    return " ".join([step["do"], *args])


def snapshot(root: Path, skip):
    """The files (with their bytes) and folders below root, as paths relative to it."""
    files, dirs = {}, set()
    for path in sorted(root.rglob("*")):
        rel = path.relative_to(root).as_posix()
        if any(rel == s or rel.startswith(s + "/") for s in skip):
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

    def temp_path(self, name: str) -> Path:
        return self.session.unix_path(self.info["temp"]) / name

    def run(self, sc: dict) -> list:
        """Returns the problems found; an empty list is a pass."""
        run = self.runs / sc["name"]
        shutil.rmtree(run, ignore_errors=True)
        (run / "in").mkdir(parents=True)
        (run / "app").mkdir()
        run_win = self.session.win_path(run)
        log = [f"# {sc['name']}"]
        try:
            exe = self._prepare(sc, run, run_win, log)
            # The files tell what happened also when a step failed.
            try:
                problems = self._judge(sc, self._drive(sc, run, run_win, exe, log))
            except ScenarioError as e:
                problems = [str(e)]
            problems += self._compare_files(sc, run, exe)
        except ScenarioError as e:
            return [str(e)]
        finally:
            (self.runs / f"{sc['name']}.log").write_text("\n".join(log) + "\n")
        for name in sc.get("written", {}):
            if name.startswith(TEMP):
                self.temp_path(name[len(TEMP):]).unlink(missing_ok=True)
        return problems

    def _prepare(self, sc, run: Path, run_win: str, log) -> Path:
        for name, data in sc.get("files", {}).items():
            (run / "in" / name).write_bytes(data)
        for name in sc.get("written", {}):
            if name.startswith(TEMP):
                self.temp_path(name[len(TEMP):]).unlink(missing_ok=True)
        program = sc.get("program", "archive")
        if program == "archive":
            exe = run / "app" / "setup.exe"
            options = [o.replace("{run}", run_win) for o in sc.get("pack", [])]
            if self.tools["pack_stub"]:
                options = ["--stub", self.tool("pack_stub"), *options]
            command = [self.tool("vexa"), "pack", "-o", exe, *options,
                       *[run / "in" / name for name in sc.get("files", {})]]
            log.append("$ " + " ".join(map(str, command)))
            done = subprocess.run(command, cwd=run, capture_output=True, text=True, check=False)
            log.append(done.stdout + done.stderr)
            if done.returncode != 0:
                raise ScenarioError(f"vexa pack failed with exit code {done.returncode}: "
                                    f"{done.stderr.strip()[-300:]}")
            if "craft" in sc:
                sc["craft"](Crafter(self.tool("resedit"), exe))
        elif program == "stub":
            exe = run / "app" / "vexasfx.exe"
            shutil.copyfile(self.tool("stub"), exe)
        elif program == "testapp":
            exe = self.tool("testapp")
        else:
            raise ScenarioError(f"unknown program {program}")
        for folder in sc.get("mkdirs", []):
            (run / folder).mkdir(parents=True, exist_ok=True)
        return exe

    def _drive(self, sc, run: Path, run_win: str, exe: Path, log) -> list:
        timeout_ms = sc.get("timeout_ms", 30000)
        start = {"do": "start", "exe": self.session.win_path(exe), "dir": "C:\\"}
        if "args" in sc:
            start["args"] = sc["args"]
        steps = [start, *sc.get("steps", []), {"do": "exit", "timeout": timeout_ms}]
        script = "\n".join(step_line(s, run_win) for s in steps) + "\n"
        log.append(script)
        # Every wait has its own timeout; this one only guards against a hung driver.
        budget = sum(int(s.get("timeout", 10000)) for s in steps) / 1000 + 60
        code, out = self.session.run([self.tool("driver")], cwd=run, stdin=script,
                                     timeout=budget)
        log.append(out)
        results = []
        for line in out.splitlines():
            try:
                results.append(json.loads(line))
            except ValueError:
                continue
        if code is None:
            raise ScenarioError(f"the driver hung for {budget:.0f} s")
        for step, result in zip(steps, results):
            if not result.get("ok"):
                raise ScenarioError(f"{step_line(step, run_win)[:80]}: "
                                    f"{result.get('error', '')[:400]}")
        if len(results) != len(steps):
            raise ScenarioError(f"the driver ended after {len(results)} of {len(steps)} steps "
                                f"with exit code {code}")
        return list(zip(steps, results))

    def _judge(self, sc, results) -> list:
        problems = []
        for step, result in results:
            if "check" in step:
                problems += [f"{step['do']}: {p}" for p in step["check"](result, self.info)]
        exit_result = results[-1][1]
        for check in sc.get("exit_checks", []):
            problems += check(exit_result, self.info)
        expected = sc.get("exit_code", 0)
        if exit_result["exit_code"] != expected:
            seen = ", ".join(f"{w['class']} {w['title']!r}" for w in exit_result["seen"])
            problems.append(f"exit code {exit_result['exit_code']}, expected {expected}"
                            + (f" (windows seen: {seen})" if seen else ""))
        return problems

    def _compare_files(self, sc, run: Path, exe: Path) -> list:
        problems = []
        inputs = sc.get("files", {})
        expected_files, expected_dirs = {}, {"in", "app", *sc.get("mkdirs", [])}
        for name, source in sc.get("written", {}).items():
            data = inputs[source] if isinstance(source, str) else source
            if name.startswith(TEMP):
                path = self.temp_path(name[len(TEMP):])
                if not path.is_file():
                    problems.append(f"missing {name}")
                elif why := differs(path.read_bytes(), data):
                    problems.append(f"{name}: {why}")
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
        for win in sc.get("absent", []):
            if self.session.unix_path(win).exists():
                problems.append(f"{win} was written")
        return problems

