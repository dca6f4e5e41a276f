"""The tool and the stub agree: `vexa extract` on Linux writes exactly the files that the stub
writes under Wine from the same archive, of every kind and with either method; and vexa.exe,
the Windows build of the tool, run under Wine packs the same archive as `vexa` on Linux from the
same files, byte for byte: both deflate with the same libdeflate and compress LZMA2 with the
same liblzma.

The scenarios reach the native side through their `craft` step, which runs after `vexa pack` and
before the program starts: it finds the build from the crafter's tool (BUILD/native/tests/e2e/
tools/e2e_resedit), keeps what it learns for the checks of `written`, and works below in/, which
the comparison of the run folder leaves out.

Wine stands in for Windows. Run with --arch win64, the x86_64 builds of the stub and of vexa.exe
run instead; the Linux tool then packs with that stub (--stub), the one the x86_64 vexa.exe
carries, so the two packers start from the same bytes.
"""

import os
import shutil
import struct
import subprocess
import tempfile
from pathlib import Path

from scenario import ScenarioError, ScenarioSkipped
from wine_session import i386_translated

PASSWORD = "Tool and stub 7"
PASSWORD_CHECK_SIZE = 128
# A file date (2026-12-09 10:05:30 UTC) whose days since 1899, as a double, came out one
# bit apart from the i686 and x86_64 tools while the i686 one computed on the x87 unit.
AWKWARD_DATE = 1796810730
# Sizes around the stub's copy buffer of 61440 bytes, an empty file, a Windows-1252 name.
FILES = {
    "readme.txt": b"Read me first.\r\n" * 12000,
    "noise.bin": bytes((i * 7919 + (i >> 9) * 31) % 251 for i in range(130_001)),
    "empty.dat": b"",
    "caf\u00e9.txt": "caf\u00e9 cr\u00e8me\r\n".encode("cp1252"),
}
TO_DEST = ["--dest", "{run}\\dest"]
PASSWORD_STEPS = [
    {"do": "wait", "title": "Decrypting Files", "class": "#32770"},
    {"do": "type", "id": 11, "text": PASSWORD},
    {"do": "click", "id": 1},
    {"do": "gone"},
]


def build_of(crafter) -> Path:
    """BUILD, as the harness names it (its parts may be links)."""
    return Path(crafter.tool).parents[4]


def windows_arch(exe: Path) -> str:
    """win64 for an x86_64 image, else win32: the build the archive's stub came from."""
    data = exe.read_bytes()
    machine = struct.unpack_from("<H", data, struct.unpack_from("<I", data, 0x3C)[0] + 4)[0]
    return "win64" if machine == 0x8664 else "win32"


def native(crafter, *args) -> subprocess.CompletedProcess:
    try:
        done = subprocess.run([build_of(crafter) / "native" / "vexa", *map(str, args)],
                              capture_output=True, text=True, check=False)
    except OSError as e:
        raise ScenarioError(f"cannot run vexa: {e}") from e
    if done.returncode != 0:
        raise ScenarioError(f"vexa {' '.join(map(str, args))[:200]}: {done.stderr.strip()}")
    return done


def same_but_check_block(wine: bytes, linux: bytes) -> bool:
    """Two encrypted archives of the same files and options: the same bytes but for the
    password check block, whose padding is random, and the PE checksum over it."""
    if len(wine) != len(linux):
        return False
    checksum_at = struct.unpack_from("<I", linux, 0x3C)[0] + 24 + 64
    differ = [i for i in range(len(linux)) if wine[i] != linux[i]
              and not checksum_at <= i < checksum_at + 4]
    return not differ or differ[-1] - differ[0] < PASSWORD_CHECK_SIZE


def verifies(vexa: Path, archive: bytes, *options) -> bool:
    """`vexa verify` passes an archive given as bytes: every item and the PE checksum."""
    with tempfile.TemporaryDirectory() as folder:
        path = Path(folder) / "archive.exe"
        path.write_bytes(archive)
        return subprocess.run([vexa, "verify", path, *options], capture_output=True,
                              check=False).returncode == 0


def extract_matches_stub(name, pack, steps=()):
    """The stub's files in dest/ are the files packed and the ones `vexa extract` writes."""
    extracted = {}

    def craft(crafter):
        target = crafter.exe.parent.parent / "in" / "tool-extract"
        password = ["--password", PASSWORD] if "--password" in pack else []
        native(crafter, "extract", crafter.exe, "-C", target, *password)
        extracted.clear()
        extracted.update({p.name: p.read_bytes() for p in target.iterdir()})

    def same(file):
        return lambda data: data == FILES[file] and extracted.get(file) == data

    return {"name": name, "files": FILES, "pack": TO_DEST + pack, "mkdirs": ["dest"],
            "craft": craft, "steps": list(steps),
            "written": {f"dest/{file}": same(file) for file in FILES}}


def quoted(arg: str) -> str:
    return f'"{arg}"' if " " in arg else arg


def wine_pack(name, options, compare, files=FILES, inputs=None, empty=(), jobs=1, then=None):
    """vexa.exe under Wine packs out/wine.exe on `jobs` threads from the same files and options
    as `vexa` on Linux on all of its own; `compare(wine_bytes, linux_bytes, vexa)` judges the
    two. Both pack `files` dated AWKWARD_DATE with the stub of the build under test: named one
    by one, or as `inputs` (paths below in/) with the folders `empty` made there. The program
    started is vexa.exe itself, put in the archive's place. `then` has vexa.exe go on with
    out/wine.exe: the pack and then["runs"] ((args, output) as vexa_exe_runs takes them) run
    in turn before the program, which is started last with then["args"]; then["written"] and
    then["folders"] are the files and empty folders those runs leave.

    qemu-user runs a 32-bit Windows program on several threads unreliably (a two-thread
    program that does nothing but allocate memory crashes in it now and then), so where it
    runs the i686 build, a run on more than one thread is skipped: --arch win64 runs it."""
    seen = {}
    inputs = inputs or list(files)

    def craft(crafter):
        build = build_of(crafter)
        arch = windows_arch(crafter.exe)
        if jobs > 1 and arch == "win32" and i386_translated():
            raise ScenarioSkipped("32-bit programs run through qemu-user here, which runs one "
                                  "on several threads unreliably; --arch win64 runs this")
        folder = crafter.exe.parent.parent / "in"
        for file in files:
            os.utime(folder / file, (AWKWARD_DATE, AWKWARD_DATE))
        for path in empty:
            (folder / path).mkdir(parents=True, exist_ok=True)
        linux = folder / "linux.exe"
        native(crafter, "pack", "-o", linux, "--stub", build / arch / "vexasfx.exe", *options,
               *(folder / path for path in inputs))
        seen["linux"] = linux.read_bytes()
        linux.unlink()
        seen["vexa"] = build / "native" / "vexa"
        try:
            shutil.copyfile(build / arch / "vexa.exe", crafter.exe)
        except OSError as e:
            raise ScenarioError(f"no vexa.exe to run: {e}") from e

    windows_inputs = " ".join('"{run}\\in\\' + path.replace("/", "\\") + '"' for path in inputs)
    pack = (f'pack -o "{{run}}\\out\\wine.exe" --jobs {jobs} '
            f'{" ".join(map(quoted, options))} {windows_inputs}')
    sc = {"name": name, "files": files, "inputs": inputs, "pack": options, "mkdirs": ["out"],
          "craft": craft, "args": pack,
          "written": {"out/wine.exe": lambda data: compare(data, seen["linux"], seen["vexa"])}}
    if then:
        sc["before"] = [step for args, output in [(pack, None), *then["runs"]]
                        for step in vexa_exe_runs(args, output)]
        sc["args"] = then["args"]
        sc["written"].update(then["written"])
        sc["folders"] = then["folders"]
        sc["timeout_ms"] = 120000
    return sc


def vexa_exe_runs(args, output=None):
    """Driver steps that run vexa.exe (in the archive's place) with `args` and wait for it to
    end with exit code 0; with `output`, a path below the run folder, through cmd.exe, which
    writes what vexa.exe prints there."""
    exe = "{run}\\app\\setup.exe"
    spawn = {"do": "spawn", "exe": exe, "args": args}
    if output is not None:
        target = "{run}\\" + output.replace("/", "\\")
        spawn = {"do": "spawn", "exe": "C:\\windows\\system32\\cmd.exe",
                 "args": f"/c {exe} {args} > {target}"}

    def ended(result, info):
        codes = result["exit_codes"]
        return [] if codes == [0] else [f"vexa.exe {args[:60]} ended with {codes}"]

    return [spawn, {"do": "reap", "timeout": 120000, "check": ended}]


# An application folder: names past 32 bytes, a folder name in Windows-1252, Cyrillic and CJK
# names, which code page 1252 (the test prefix's) cannot spell, a name past U+FFFF and one
# after the surrogates that sort apart in UTF-8 and UTF-16, a program in a subfolder, a file
# left out, and empty folders made before both pack.
TREE = {
    "app/bin/Microsoft.Extensions.DependencyInjection.dll": FILES["noise.bin"],
    "app/bin/setup.exe": b"MZ" + FILES["readme.txt"][:5000],
    "app/bin/setup.pdb": b"left out",
    "app/Caf\u00e9/cr\u00e8me.txt": FILES["caf\u00e9.txt"],
    "app/locales/en-US.pak": FILES["readme.txt"],
    "app/readme.txt": b"Read me.\r\n",
    "app/\u0414\u043e\u043a\u0443\u043c\u0435\u043d\u0442\u044b/\u043e\u0442\u0447\u0451\u0442 "
    "\u0437\u0430 \u0433\u043e\u0434.txt": FILES["readme.txt"][:7000],
    "app/\u6570\u636e/\u8aac\u660e\u66f8.txt": "\u8aac\u660e\u66f8\r\n".encode(),
    "app/\u6570\u636e/\U0001f4e6.bin": FILES["noise.bin"][:3000],
    "app/\u6570\u636e/\uff46\uff55\uff4c\uff4c.txt": b"full width\r\n",
    # Deeper than MAX_PATH below any run folder: reached only in the \\?\ form.
    "app/" + "/".join(f"level {i} " + "x" * 50 for i in range(5)) + "/past MAX_PATH.txt":
        b"deep\r\n",
}
# Where vexa.exe extracts the tree: a folder deeper than MAX_PATH, which it makes itself.
DEEP_OUT = "out/" + "/".join(f"deep{i}" + "y" * 56 for i in range(4))
TREE_EMPTY = ["app/logs/empty",
              "app/\u0436\u0443\u0440\u043d\u0430\u043b/\u043f\u0443\u0441\u0442\u043e"]


def tree_read_back(folder):
    """vexa.exe lists out/wine.exe into out/list.txt, extracts it to `folder` below the run
    folder, and verifies it: the listing names every item, and `folder` holds the tree packed."""
    packed = {path.removeprefix("app/"): data for path, data in TREE.items()
              if not path.endswith(".pdb")}

    def listed(data):
        return all(path.replace("/", "\\") in data.decode("utf-8", "replace") for path in packed)

    extract = "extract {run}\\out\\wine.exe -C {run}\\" + folder.replace("/", "\\")
    return {"runs": [("list {run}\\out\\wine.exe", "out/list.txt"), (extract, None)],
            "args": "verify {run}\\out\\wine.exe",
            "written": {"out/list.txt": listed,
                        **{f"{folder}/{path}": data for path, data in packed.items()}},
            "folders": [f"{folder}/{path.removeprefix('app/')}" for path in TREE_EMPTY]}


# The compression methods, each a dimension of the compressed scenarios below: LZMA2 solid
# packs the four files as one block, whose items the stub writes in turn.
METHODS = {"deflate": ["--method", "deflate"], "lzma2": ["--method", "lzma2", "--no-solid"],
           "lzma2_solid": ["--method", "lzma2", "--solid"]}
# The threads vexa.exe packs on, another: whatever their number, it writes what vexa writes
# on as many as the machine has.
JOBS = {"one_thread": 1, "two_threads": 2}

SCENARIOS = [
    extract_matches_stub("tool_extract_stored", ["--store"]),
    extract_matches_stub("tool_extract_encrypted", ["--store", "--password", PASSWORD],
                         PASSWORD_STEPS),
    # Stored items: both packers write the same bytes, down to the PE checksum, and the same
    # version resource from the same fields.
    wine_pack("tool_wine_pack_stored", ["--store", "--temp", "--welcome", "Install?",
                                        "--description", "Caf\u00e9 Demo Setup",
                                        "--product-version", "2.1.7", "--company", "ACME"],
              lambda wine, linux, vexa: wine == linux),
    # A folder tree: the same paths, FileName stand-ins and empty folders, in the same order;
    # and vexa.exe lists, extracts and verifies what it packed, by every name.
    wine_pack("tool_wine_pack_tree", ["--temp", "--run", "bin/setup.exe",
                                      "--program-in-destination", "--exclude", "*.pdb"],
              lambda wine, linux, vexa: wine == linux and verifies(vexa, wine),
              files=TREE, inputs=["app"], empty=TREE_EMPTY, then=tree_read_back(DEEP_OUT)),
    # A link where a folder goes: the check before writing sees it, so nothing is written,
    # and nothing lands outside.
    {**wine_pack("tool_wine_extract_link_in_the_way", ["--temp"],
                 lambda wine, linux, vexa: wine == linux, files=TREE, inputs=["app"],
                 then={"runs": [], "args": "extract {run}\\out\\wine.exe -C {run}\\out\\tree",
                       "written": {}, "folders": ["out/tree"]}),
     "mkdirs": ["out", "outside"], "links": {"out/tree/locales": "../../outside"},
     "exit_code": 1},
    # A destination below a file: refused with a message, not made and not written.
    {**wine_pack("tool_wine_extract_below_a_file", ["--temp"],
                 lambda wine, linux, vexa: wine == linux,
                 then={"runs": [], "written": {}, "folders": [],
                       "args": "extract {run}\\out\\wine.exe -C {run}\\out\\wine.exe\\x"}),
     "exit_code": 1},
]
for method, chosen in METHODS.items():
    SCENARIOS += [
        extract_matches_stub(f"tool_extract_compressed_{method}", chosen),
        extract_matches_stub(f"tool_extract_compressed_encrypted_{method}",
                             [*chosen, "--password", PASSWORD], PASSWORD_STEPS),
        # Compressed at the default level, and compressed and encrypted at the fastest: the
        # same bytes but for the random padding of the password check block.
        *(wine_pack(f"tool_wine_pack_compressed_{method}_{threads}",
                    [*chosen, "--temp", "--run", "readme.txt", "--program-in-destination"],
                    lambda wine, linux, vexa: wine == linux, jobs=jobs)
          for threads, jobs in JOBS.items()),
        wine_pack(f"tool_wine_pack_compressed_encrypted_{method}",
                  [*chosen, "--level", "1", "--temp", "--password", PASSWORD],
                  lambda wine, linux, vexa: same_but_check_block(wine, linux)
                  and verifies(vexa, wine, "--password", PASSWORD)),
    ]
