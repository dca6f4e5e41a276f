#!/usr/bin/env python3
"""Runs the end-to-end scenarios: the shipped 32-bit stub and vexa.exe, and the harness's own
test program, under Wine on a virtual display, driven by driver.exe.

    python3 tests/e2e/run.py --build build [--only PATTERN]... [--arch win32|win64] [--slow]
                             [--list]

Prints one line per scenario (PASS, FAIL with the reasons, or SKIP with the reason it cannot run
here) and exits non-zero when any scenario failed or Wine could not run. Slow scenarios run only
with --slow or when --only names them. Logs: BUILD/e2e/runs/NAME.log (the pack command, the
driver's script and its output) and BUILD/e2e/wine.log (Xvfb and Wine).

Scenarios are data in tests/e2e/scenarios/*.py (each module's SCENARIOS list); scenario.py says
what a scenario holds.
"""

import argparse
import fnmatch
import importlib
import io
import json
import sys
import time
import unittest
from pathlib import Path

from scenario import Runner, ScenarioError, ScenarioSkipped
from wine_session import Unavailable, WineSession, find_wine, i386_translated

HERE = Path(__file__).resolve().parent


def load_scenarios(patterns, slow):
    scenarios, names = [], set()
    sys.path.insert(0, str(HERE / "scenarios"))
    for path in sorted((HERE / "scenarios").glob("*.py")):
        for sc in importlib.import_module(path.stem).SCENARIOS:
            if sc["name"] in names:
                raise SystemExit(f"e2e: two scenarios are named {sc['name']}")
            names.add(sc["name"])
            if sc.get("slow") and not slow and not (patterns and wanted(sc["name"], patterns)):
                continue
            if wanted(sc["name"], patterns):
                scenarios.append(sc)
    return scenarios


HARNESS_CHECKS = "harness_checks"


def wanted(name, patterns):
    return not patterns or any(fnmatch.fnmatch(name, p) for p in patterns)


def check_harness():
    """Runs test_harness.py; returns the problems found."""
    suite = unittest.defaultTestLoader.loadTestsFromName("test_harness")
    result = unittest.TextTestRunner(stream=io.StringIO()).run(suite)
    return [f"{test.id()}: {trace.strip().splitlines()[-1]}"
            for test, trace in result.failures + result.errors]


def tools(build: Path, arch: str) -> dict:
    """The programs of a run: the stub of the `arch` build, and the helpers' 64-bit builds,
    which run natively also where 32-bit programs pay for translation."""
    windows, helpers = build / arch, build / "win64"
    return {
        # The tool packs the win32 stub it carries; the win64 one must be named.
        "pack_stub": windows / "vexasfx.exe" if arch != "win32" else None,
        "vexa": build / "native" / "vexa",
        "resedit": build / "native" / "tests" / "e2e" / "tools" / "e2e_resedit",
        "stub": windows / "vexasfx.exe",
        "driver": helpers / "tests" / "driver" / "driver.exe",
        "testapp": helpers / "tests" / "e2e" / "e2e_testapp.exe",
        "setup": helpers / "tests" / "e2e" / "e2e_setup.exe",
    }


def screen_info(session: WineSession, driver: Path, root: Path) -> dict:
    if not driver.exists():
        raise ScenarioError(f"not built: {driver}")
    code, out = session.run([driver, "info"], cwd=root, timeout=120)
    for line in out.splitlines():
        if line.startswith("{"):
            result = json.loads(line)
            if result.get("ok"):
                return result
    raise ScenarioError(f"the driver did not start (exit code {code})")


def main() -> int:
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--build", default="build", help="the build folder (default: build)")
    parser.add_argument("--only", action="append", metavar="PATTERN",
                        help="run only the scenarios whose names match (shell pattern)")
    parser.add_argument("--arch", choices=["win32", "win64"], default="win32",
                        help="which build of the stub and vexa.exe to run (default: win32, the "
                             "shipped one)")
    parser.add_argument("--slow", action="store_true",
                        help="run the slow scenarios too (the largest archive)")
    parser.add_argument("--list", action="store_true", help="list the scenarios and stop")
    args = parser.parse_args()

    scenarios = load_scenarios(args.only, args.slow)
    if args.list:
        print("\n".join([HARNESS_CHECKS] + [sc["name"] for sc in scenarios]))
        return 0
    passed = failed = skipped = 0
    if wanted(HARNESS_CHECKS, args.only):
        problems = check_harness()
        if problems:
            failed += 1
            print(f"FAIL {HARNESS_CHECKS}: {'; '.join(problems)}", flush=True)
        else:
            passed += 1
            print(f"PASS {HARNESS_CHECKS}", flush=True)
    if not scenarios:
        print(f"e2e: {passed} passed, {failed} failed")
        return 1 if failed or not passed else 0

    build = Path(args.build).resolve()
    started = time.monotonic()
    try:
        loader = find_wine()
    except Unavailable as e:
        print(f"e2e: cannot run Wine: {e}")
        return 1
    how = " (32-bit programs through qemu-user)" if i386_translated() else ""
    print(f"e2e: {len(scenarios)} scenarios, {args.arch} build, {loader}{how}", flush=True)

    root = build / "e2e"
    (root / "runs").mkdir(parents=True, exist_ok=True)
    with open(root / "wine.log", "w") as log:
        try:
            with WineSession(build, log, loader) as session:
                paths = tools(build, args.arch)
                info = screen_info(session, paths["driver"], root)
                runner = Runner(session, paths, root / "runs", info)
                for sc in scenarios:
                    t0 = time.monotonic()
                    try:
                        problems = runner.run(sc)
                    except ScenarioSkipped as e:
                        skipped += 1
                        print(f"SKIP {sc['name']}: {e}", flush=True)
                        continue
                    seconds = time.monotonic() - t0
                    if problems:
                        failed += 1
                        print(f"FAIL {sc['name']} ({seconds:.1f} s): {'; '.join(problems)}",
                              flush=True)
                    else:
                        passed += 1
                        print(f"PASS {sc['name']} ({seconds:.1f} s)", flush=True)
        except (Unavailable, ScenarioError) as e:
            print(f"e2e: cannot run: {e}")
            return 1
    print(f"e2e: {time.monotonic() - started:.0f} s")
    print(f"e2e: {passed} passed, {failed} failed" + (f", {skipped} skipped" if skipped else ""))
    return 1 if failed else 0


if __name__ == "__main__":
    sys.exit(main())
