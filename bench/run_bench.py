#!/usr/bin/python3
"""Prints the benchmark table: every row sets ours beside a named reference measured in the
same run on the same bytes, as a ratio, with the budget that applies.

  run_bench.py --native build/native --win32 build/win32 --work build/bench

The micro rows come from the Google Benchmark program (vexa_bench, JSON output); the tool
rows time `vexa` against zip, unzip and cp on a corpus of Wine's DLLs, packing on one
thread and on all, and its default LZMA2 against 7zz a -mx9 and xz's raw LZMA2 of each file;
the peak-memory rows take the max RSS of `vexa pack` and `vexa extract` from /usr/bin/time and
sample their anonymous memory; the Wine rows run the shipped i686 stub (as the end-to-end tests
do, with their session helper, through qemu-user where the kernel runs no 32-bit programs) and
watch it with bench/wine/probe.exe, and pack the tool rows' corpus with vexa.exe on one thread
and on two. Run it with Debian's python3.
"""

import argparse
import hashlib
import json
import os
import platform
import shlex
import shutil
import statistics
import subprocess
import sys
import time
from pathlib import Path

SOURCE = Path(__file__).resolve().parent.parent
MiB = 1 << 20
DLL_FOLDER = Path("/usr/lib/x86_64-linux-gnu/wine/x86_64-windows")


def log(*args):
    print(*args, file=sys.stderr, flush=True)


def run(cmd, **kw):
    return subprocess.run([str(c) for c in cmd], check=True, stdin=subprocess.DEVNULL,
                          stdout=subprocess.DEVNULL, **kw)


def timed(cmd, before=None, repeat=3):
    """Median wall time of cmd over `repeat` runs; `before` runs untimed before each."""
    times = []
    for _ in range(repeat):
        if before:
            before()
        t = time.perf_counter()
        run(cmd)
        times.append(time.perf_counter() - t)
    return statistics.median(times)


def peak_memory_mib(cmd, work: Path, before=None, least_seconds=2.0):
    """(max RSS, peak anonymous RSS, peak file-backed RSS) of cmd, in MiB. The max RSS comes
    from /usr/bin/time (a child of this script would inherit the script's own pages until
    it execs, and ru_maxrss keeps them); the anonymous part (heap, stacks) and the
    file-backed part (the program, a mapped archive) are sampled from /proc every few
    milliseconds. A run shorter than a few samples could slip between them, so cmd runs
    again (after `before`) until the runs have lasted `least_seconds`, and the highest
    values count."""
    report = work / "time.out"
    rss, peak = 0, {"RssAnon:": 0, "RssFile:": 0}
    started = time.perf_counter()
    while not rss or time.perf_counter() - started < least_seconds:
        if before:
            before()
        proc = subprocess.Popen(["/usr/bin/time", "-o", str(report), "-f", "%M",
                                 *[str(c) for c in cmd]],
                                stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        children = Path(f"/proc/{proc.pid}/task/{proc.pid}/children")
        child = None
        while proc.poll() is None:
            try:
                if child is None:
                    pids = children.read_text().split()
                    child = pids[0] if pids else None
                if child is not None:
                    for line in Path(f"/proc/{child}/status").read_text().splitlines():
                        key, *value = line.split()
                        if key in peak:
                            peak[key] = max(peak[key], int(value[0]))
            except (OSError, IndexError):
                pass
            time.sleep(0.003)
        if proc.returncode != 0:
            raise RuntimeError(f"{cmd[0]} failed with {proc.returncode}")
        rss = max(rss, int(report.read_text().split()[-1]))
    return rss / 1024, peak["RssAnon:"] / 1024, peak["RssFile:"] / 1024


def fresh(path: Path):
    shutil.rmtree(path, ignore_errors=True)
    if path.exists():
        path.unlink()


def tree_digest(folder: Path):
    h = hashlib.sha256()
    for f in sorted(folder.iterdir()):
        h.update(f.name.encode())
        h.update(f.read_bytes())
    return h.hexdigest()


def machine():
    model = "unknown CPU"
    for line in Path("/proc/cpuinfo").read_text().splitlines():
        if line.startswith("model name"):
            model = line.split(":", 1)[1].strip()
            break
    return f"{os.cpu_count()} CPUs (nproc), {model}, Linux {platform.release()}"


class Table:
    def __init__(self):
        self.rows = []

    def add(self, what, ours, reference, ratio, budget, verdict):
        self.rows.append((what, ours, reference, ratio, budget, verdict))

    def render(self, header):
        cols = ("measure", "ours", "reference", "ratio", "budget", "")
        widths = [max(len(str(r[i])) for r in [cols, *self.rows]) for i in range(len(cols))]
        line = lambda r: "  ".join(str(c).ljust(w) for c, w in zip(r, widths)).rstrip()
        out = [*header, "", line(cols), line(["-" * w for w in widths])]
        out += [line(r) for r in self.rows]
        return "\n".join(out)


def verdict(ok):
    return "ok" if ok else "OVER BUDGET"


# -- micro benchmarks ----------------------------------------------------------------------

def google_benchmarks(native: Path):
    program = native / "bench" / "vexa_bench"
    wanted = ("BM_BlowfishSameBytes|BM_BlowfishCbcDecrypt_.*/1048576|BM_Inflate_"
              "|BM_Pipeline_|BM_Parts_")
    log("bench: running", program.name)
    done = subprocess.run([str(program), f"--benchmark_filter={wanted}",
                           "--benchmark_format=json", "--benchmark_repetitions=5",
                           "--benchmark_enable_random_interleaving=true",
                           "--benchmark_report_aggregates_only=true"],
                          check=True, capture_output=True, text=True)
    results = {}
    for b in json.loads(done.stdout)["benchmarks"]:
        if b.get("error_occurred"):
            raise RuntimeError(f"{b['name']}: {b.get('error_message')}")
        if b.get("aggregate_name", "median") != "median":
            continue
        scale = {"ns": 1e-9, "us": 1e-6, "ms": 1e-3, "s": 1.0}[b["time_unit"]]
        # CPU time: on a shared machine, wall time also counts the other processes.
        seconds = b["cpu_time"] * scale
        results[b["run_name"]] = {"seconds": seconds,
                                  "bytes_per_second": b["bytes_per_second"] * b["real_time"] /
                                  b["cpu_time"] if "bytes_per_second" in b else 0}
    return results


def micro_rows(table, results):
    ours = results["BM_BlowfishCbcDecrypt_Vexa/1048576"]["bytes_per_second"] / MiB
    ref = results["BM_BlowfishCbcDecrypt_OpenSSL/1048576"]["bytes_per_second"] / MiB
    table.add("Blowfish-CBC decrypt, 1 MiB", f"{ours:.0f} MiB/s",
              f"OpenSSL BF_cbc_encrypt {ref:.0f} MiB/s", f"{ours / ref:.2f}x speed",
              ">= 1.00x", verdict(ours >= ref))

    ours = results["BM_Inflate_DecompressionStream"]["seconds"]
    ref = results["BM_Inflate_ZlibOneBuffer"]["seconds"]
    table.add("inflate 8 MiB (TDecompressionStream)", f"{ours * 1e3:.1f} ms",
              f"zlib inflate, one buffer {ref * 1e3:.1f} ms", f"{ours / ref:.2f}x time", "-",
              "")

    pipe = results["BM_Pipeline_ExtractItem"]["seconds"]
    parts = {k: results[f"BM_Parts_{k}"]["seconds"] for k in ("Decrypt", "Inflate", "WriteFile")}
    total = sum(parts.values())
    detail = " + ".join(f"{k.lower()} {v * 1e3:.1f}" for k, v in parts.items())
    table.add("pipeline 8 MiB item: ExtractItem", f"{pipe * 1e3:.1f} ms",
              f"sum of parts {total * 1e3:.1f} ms ({detail})", f"{pipe / total:.2f}x time",
              "<= 1.10x", verdict(pipe <= 1.10 * total))


# -- the tool against zip, unzip and cp ----------------------------------------------------

def dll_corpus(folder: Path, size: int):
    """Wine's x86_64 DLLs in name order until `size` bytes (names the archive can hold)."""
    fresh(folder)
    folder.mkdir(parents=True)
    total = 0
    for dll in sorted(DLL_FOLDER.glob("*.dll")):
        if len(dll.name) > 31:
            continue
        shutil.copyfile(dll, folder / dll.name)
        total += dll.stat().st_size
        if total >= size:
            break
    return total, len(list(folder.iterdir()))


def tool_rows(table, vexa: Path, work: Path, stub_size: int):
    corpus = work / "corpus"
    total, count = dll_corpus(corpus, 32 * MiB)
    files = sorted(corpus.iterdir())
    exe, zipfile = work / "corpus.exe", work / "corpus.zip"
    log(f"bench: packing {count} DLLs, {total / MiB:.1f} MiB")

    cores = os.cpu_count()
    # Deflate against zip's deflate; LZMA2, the default, against xz below.
    deflate = ["--method", "deflate"]
    one_core = timed([vexa, "pack", "-o", exe, "--temp", "--jobs", "1", *deflate, corpus],
                     before=lambda: fresh(exe))
    one_core_digest = hashlib.sha256(exe.read_bytes()).hexdigest()
    all_cores = timed([vexa, "pack", "-o", exe, "--temp", *deflate, corpus],
                      before=lambda: fresh(exe))
    if hashlib.sha256(exe.read_bytes()).hexdigest() != one_core_digest:
        raise RuntimeError("vexa pack wrote different archives on one thread and on all")
    zip_time = timed(["zip", "-9", "-q", "-j", "-X", zipfile, *files],
                     before=lambda: fresh(zipfile))
    exe_size, zip_size = exe.stat().st_size, zipfile.stat().st_size
    table.add(f"pack {count} Wine DLLs, {total / MiB:.0f} MiB, deflate: size", f"{exe_size:,} B",
              f"zip -9 {zip_size:,} B", f"{exe_size / zip_size:.3f}x", "<= 0.97x",
              verdict(exe_size <= 0.97 * zip_size))
    # The .exe carries the stub (the one vexa embeds, the win32 build's); a .zip carries no
    # extractor at all.
    table.add("  the same less the stub", f"{exe_size - stub_size:,} B", f"zip -9 {zip_size:,} B",
              f"{(exe_size - stub_size) / zip_size:.3f}x", "-", "")
    table.add("  pack time, one thread (--jobs 1)", f"{one_core:.2f} s", f"zip -9 {zip_time:.2f} s",
              f"{one_core / zip_time:.2f}x time", "-", "")
    # The budget holds for a machine of 2 processors; with more it is only easier.
    table.add(f"  pack time, {cores} threads (default)", f"{all_cores:.2f} s",
              f"zip -9 {zip_time:.2f} s", f"{all_cores / zip_time:.2f}x time",
              "<= 0.60x (2 CPUs)" if cores >= 2 else "-",
              verdict(all_cores <= 0.60 * zip_time) if cores >= 2 else "")

    out = work / "out"
    ex_time = timed([vexa, "extract", exe, "-C", out], before=lambda: fresh(out))
    if tree_digest(out) != tree_digest(corpus):
        raise RuntimeError("vexa extract did not give back the packed files")
    unzip_time = timed(["unzip", "-q", "-o", zipfile, "-d", out], before=lambda: fresh(out))
    cp_time = timed(["cp", "-r", corpus, out], before=lambda: fresh(out))
    fresh(out)
    table.add("extract the same files", f"{ex_time:.2f} s", f"unzip {unzip_time:.2f} s",
              f"{ex_time / unzip_time:.2f}x time", "-", "")
    table.add("  against copying them", f"{ex_time:.2f} s", f"cp -r {cp_time:.2f} s",
              f"{ex_time / cp_time:.2f}x time", "-", "")
    lzma2_rows(table, vexa, work, files, exe_size, all_cores, stub_size)
    fresh(corpus)
    for f in (exe, zipfile):
        fresh(f)


def lzma2_rows(table, vexa: Path, work: Path, files, deflate_size: int, deflate_time: float,
               stub_size: int):
    """LZMA2 on the same corpus, beside the peers' LZMA tools: the default archive against
    7zz a -mx9 of the same files (size, time with a thread per processor, peak memory); items
    compressed one by one against xz's raw LZMA2 of each file alone, and against the deflate
    archive above; extracting against xz -d of those streams. A missing 7zz (Debian's 7zip)
    leaves its rows saying so."""
    exe, streams, out = work / "corpus-lzma2.exe", work / "xz-streams", work / "out"
    seven = work / "corpus.7z"
    cores = os.cpu_count()
    pack_time = timed([vexa, "pack", "-o", exe, "--temp", *files], before=lambda: fresh(exe))
    exe_size = exe.stat().st_size
    pack_memory = peak_memory_mib([vexa, "pack", "-o", exe, "--temp", *files], work,
                                  before=lambda: fresh(exe))[0]
    if shutil.which("7zz"):
        seven_pack = ["7zz", "a", "-bd", "-mx9", seven, *files]
        seven_time = timed(seven_pack, before=lambda: fresh(seven))
        seven_size = seven.stat().st_size
        seven_memory = peak_memory_mib(seven_pack, work, before=lambda: fresh(seven))[0]
        table.add("  LZMA2, default options: size less the stub", f"{exe_size - stub_size:,} B",
                  f"7zz a -mx9 {seven_size:,} B", f"{(exe_size - stub_size) / seven_size:.3f}x",
                  "<= 1.05x", verdict(exe_size - stub_size <= 1.05 * seven_size))
        table.add(f"    pack time, {cores} threads (default)", f"{pack_time:.2f} s",
                  f"7zz a -mx9 {seven_time:.2f} s", f"{pack_time / seven_time:.2f}x time",
                  "<= 1.00x", verdict(pack_time <= seven_time))
        table.add("    peak memory (max RSS)", f"{pack_memory:.0f} MiB",
                  f"7zz a -mx9 {seven_memory:.0f} MiB", f"{pack_memory / seven_memory:.2f}x", "-",
                  "")
        fresh(seven)
    else:
        table.add("  LZMA2, default options, against 7zz a -mx9", f"{exe_size - stub_size:,} B",
                  "-", "-", "<= 1.05x", "skipped: no 7zz (make setup installs 7zip)")
        table.add("    peak memory (max RSS)", f"{pack_memory:.0f} MiB", "-", "-", "-", "")
    table.add("    against deflate", f"{exe_size:,} B", f"deflate {deflate_size:,} B",
              f"{exe_size / deflate_size:.3f}x", "-", "")
    table.add(f"    pack time, {cores} threads", f"{pack_time:.2f} s",
              f"deflate {deflate_time:.2f} s", f"{pack_time / deflate_time:.2f}x time", "-", "")

    # Items one by one: --no-solid where the packer makes solid blocks, else its LZMA2 items.
    help_text = subprocess.run([vexa, "pack", "--help"], capture_output=True, text=True).stdout
    per_item = ["--no-solid"] if "--no-solid" in help_text else ["--method", "lzma2"]
    run([vexa, "pack", "-o", exe, "--temp", *per_item, *files])
    item_size = exe.stat().st_size
    fresh(streams)
    streams.mkdir()
    xz_size = 0
    for f in files:
        with open(streams / f.name, "wb") as stream:
            subprocess.run(["xz", "-q", "--format=raw", "--lzma2=preset=9e", "-c", f],
                           stdout=stream, check=True)
        xz_size += (streams / f.name).stat().st_size
    xz_compressed = sorted(streams.iterdir())
    table.add(f"  LZMA2 per item ({' '.join(per_item)}): size less the stub",
              f"{item_size - stub_size:,} B", f"xz raw 9e per file {xz_size:,} B",
              f"{(item_size - stub_size) / xz_size:.3f}x", "<= 1.05x",
              verdict(item_size - stub_size <= 1.05 * xz_size))
    ex_time = timed([vexa, "extract", exe, "-C", out], before=lambda: fresh(out))
    xz_time = timed(["sh", "-c", 'for f; do xz -q --format=raw -d -c "$f"; done >/dev/null', "xz",
                     *xz_compressed])
    # The same plain bytes come out of both, so the ratio of the times is that of the speeds.
    table.add("    extract: throughput", f"{ex_time:.2f} s", f"xz -d {xz_time:.2f} s",
              f"{xz_time / ex_time:.2f}x speed", ">= 0.90x", verdict(xz_time >= 0.90 * ex_time))
    for f in (exe, streams, out):
        fresh(f)


def big_input(path: Path, size: int):
    """Compressible, not trivially: Wine's DLLs, 64 MiB of them repeated (deflate's
    window is 32 KiB, so the repeats do not help it)."""
    block = bytearray()
    for dll in sorted(DLL_FOLDER.glob("*.dll")):
        block += dll.read_bytes()
        if len(block) >= 64 * MiB:
            break
    block = bytes(block[: min(size, 64 * MiB)])
    with open(path, "wb") as f:
        written = 0
        while written < size:
            n = min(len(block), size - written)
            f.write(block[:n])
            written += n


def one_item_input(work: Path, name: str, size: int):
    """A folder holding one file of `size` bytes, to pack as one item."""
    src = work / f"{name}.in"
    fresh(src)
    src.mkdir(parents=True)
    big_input(src / f"{name}.bin", size)
    return src


def one_item_archive(vexa: Path, work: Path, name: str, size: int, *pack_options):
    src = one_item_input(work, name, size)
    exe = work / f"{name}.exe"
    fresh(exe)
    run([vexa, "pack", "-o", exe, "--temp", "--level", "1", *pack_options, src])
    fresh(src)
    return exe


def memory_table(table, command, rss, anon, mapped, mapped_note):
    ratio = rss["one-gib"] / rss["one-mib"]
    table.add(f"peak memory (max RSS), {command}, 1 GiB item", f"{rss['one-gib']:.1f} MiB",
              f"1 MiB item {rss['one-mib']:.1f} MiB", f"{ratio:.2f}x",
              "flat (<= 1.10x)" if command == "vexa extract" else "-",
              verdict(ratio <= 1.10) if command == "vexa extract" else "")
    ratio = anon["one-gib"] / anon["one-mib"]
    table.add("  of it anonymous (heap, stacks; sampled)", f"{anon['one-gib']:.1f} MiB",
              f"1 MiB item {anon['one-mib']:.1f} MiB", f"{ratio:.2f}x", "flat (<= 1.10x)",
              verdict(ratio <= 1.10))
    table.add(f"  of it file-backed ({mapped_note}; sampled)", f"{mapped['one-gib']:.1f} MiB",
              f"1 MiB item {mapped['one-mib']:.1f} MiB",
              f"{mapped['one-gib'] / mapped['one-mib']:.2f}x", "-", "")


def memory_rows(table, vexa: Path, work: Path):
    """Packs a 1 MiB and a 1 GiB item (level 1, as fast as packing goes), then extracts
    them. Packing maps its input and the room for the compressed stream from files, so its
    file-backed part grows with the item: those are pages of the page cache that the kernel
    writes back or drops under pressure, not memory the process holds."""
    log("bench: peak memory of vexa pack and vexa extract, 1 MiB and 1 GiB items")
    measured = {command: ({}, {}, {}) for command in ("pack", "extract")}
    for name, size in (("one-mib", MiB), ("one-gib", 1024 * MiB)):
        src = one_item_input(work, name, size)
        exe = work / f"{name}.exe"
        fresh(exe)
        rss, anon, mapped = measured["pack"]
        rss[name], anon[name], mapped[name] = peak_memory_mib(
            [vexa, "pack", "-o", exe, "--temp", "--level", "1", src], work)
        fresh(src)
        out = work / "out"
        fresh(out)
        rss, anon, mapped = measured["extract"]
        rss[name], anon[name], mapped[name] = peak_memory_mib(
            [vexa, "extract", exe, "-C", out], work, before=lambda: fresh(out))
        fresh(out)
        fresh(exe)
    memory_table(table, "vexa pack", *measured["pack"],
                 "program, mapped input and work file")
    memory_table(table, "vexa extract", *measured["extract"], "program, mapped archive")


def tree_source(work: Path) -> Path:
    """The C++ headers of Debian's libboost1.74-dev, fetched with apt-get download into the
    work folder once: the folder that holds them."""
    source = work / "tree-source"
    if not (source / "usr" / "include" / "boost").is_dir():
        fresh(source)
        source.mkdir(parents=True)
        run(["apt-get", "download", "libboost1.74-dev"], cwd=source)
        deb, = source.glob("*.deb")
        run(["dpkg", "-x", deb, source])
        deb.unlink()
    return source / "usr" / "include"


def tree_rows(table, vexa: Path, work: Path):
    """A real folder tree: the C++ headers of Debian's libboost1.74-dev (about 14,000 files in
    130 folders, fetched with apt-get download into the work folder once), packed at the
    default level and extracted, against zip -r -9 and unzip of the same tree; then the peak
    memory of each on the tree and on its bytes in 51 files (few_files_of). The two are the
    same bytes in the same order, so solid blocks and the compressor's and decompressor's
    dictionaries come out alike, and what grows between the two is what each item costs."""
    whole = tree_source(work)
    few = few_files_of(whole, work / "tree-few", 51)
    files = lambda folder: [p for p in folder.rglob("*") if p.is_file()]
    count, total = len(files(whole)), sum(p.stat().st_size for p in files(whole))
    exe, zipfile, out = work / "tree.exe", work / "tree.zip", work / "tree-out"
    log(f"bench: packing a tree of {count} files, {total / MiB:.0f} MiB")
    pack = lambda folder: [vexa, "pack", "-o", exe, "--temp", folder]
    # zip stores the paths it is given: run in the folder, as vexa names items below it.
    zip_r = lambda folder: ["sh", "-c", 'cd "$1" && exec zip -r -9 -q -X "$2" .', "zip", folder,
                            zipfile]
    pack_time = timed(pack(whole), before=lambda: fresh(exe))
    zip_time = timed(zip_r(whole), before=lambda: fresh(zipfile))
    exe_size, zip_size = exe.stat().st_size, zipfile.stat().st_size
    table.add(f"pack a tree of {count:,} files, {total / MiB:.0f} MiB (Boost headers): size",
              f"{exe_size:,} B", f"zip -r -9 {zip_size:,} B", f"{exe_size / zip_size:.3f}x", "-",
              "")
    table.add("  pack time (default: lzma2, all threads)", f"{pack_time:.2f} s",
              f"zip -r -9 {zip_time:.2f} s", f"{pack_time / zip_time:.2f}x time", "-", "")
    extract_time = timed([vexa, "extract", exe, "-C", out], before=lambda: fresh(out))
    run(["diff", "-r", "-q", whole, out])
    unzip_time = timed(["unzip", "-q", "-o", zipfile, "-d", out], before=lambda: fresh(out))
    table.add("extract the tree", f"{extract_time:.2f} s", f"unzip {unzip_time:.2f} s",
              f"{extract_time / unzip_time:.2f}x time", "-", "")

    peaks = {}
    for name, folder in (("few", few), ("whole", whole)):
        fresh(exe)
        fresh(zipfile)
        peaks[name] = {
            "pack": peak_memory_mib(pack(folder), work, before=lambda: fresh(exe))[0],
            "zip": peak_memory_mib(zip_r(folder), work, before=lambda: fresh(zipfile))[0],
            "extract": peak_memory_mib([vexa, "extract", exe, "-C", out], work,
                                       before=lambda: fresh(out))[0],
            "unzip": peak_memory_mib(["unzip", "-q", "-o", zipfile, "-d", out], work,
                                     before=lambda: fresh(out))[0],
        }
    few_count = len(files(few))
    for ours, theirs in (("pack", "zip"), ("extract", "unzip")):
        small, large = peaks["few"][ours], peaks["whole"][ours]
        per_item = (large - small) * 1024 / (count - few_count)
        table.add(f"  peak memory, vexa {ours}: the same bytes in {few_count:,} / {count:,} files",
                  f"{small:.0f} / {large:.0f} MiB",
                  f"{theirs} {peaks['few'][theirs]:.0f} / {peaks['whole'][theirs]:.0f} MiB",
                  f"{large / small:.2f}x, {per_item:.1f} KiB/item",
                  "<= 1.30x (flat in the item count)", verdict(large <= 1.30 * small))
    for path in (exe, zipfile, out, few):
        fresh(path)


def few_files_of(tree: Path, folder: Path, count: int) -> Path:
    """The bytes of tree's files, in name order, cut into `count` files of about equal size."""
    fresh(folder)
    folder.mkdir(parents=True)
    sources = sorted(p for p in tree.rglob("*") if p.is_file())
    piece = sum(p.stat().st_size for p in sources) // count + 1
    number, out, written = 0, None, piece
    for source in sources:
        data = source.read_bytes()
        while data:
            if written == piece:
                if out:
                    out.close()
                number += 1
                out, written = open(folder / f"{number:03d}.bin", "wb"), 0
            n = min(len(data), piece - written)
            out.write(data[:n])
            data, written = data[n:], written + n
    if out:
        out.close()
    return folder


# -- the stub under Wine -------------------------------------------------------------------

def mingw_build(source: Path, out: Path, *flags):
    if not out.exists() or out.stat().st_mtime < source.stat().st_mtime:
        run(["x86_64-w64-mingw32-g++", "-O2", "-static", "-std=c++20", *flags, "-o", out,
             source])
    return out


def wine_pack_rows(table, vexa: Path, windows: dict, work: Path):
    """vexa.exe packing the tool rows' corpus under Wine, on one thread and on two: the same
    archive as vexa on Linux, and the time two threads save. `windows` maps win32 and win64 to
    their build folders. The shipped i686 build runs, unless 32-bit programs go through
    qemu-user here, which runs one on several threads unreliably: then the x86_64 build."""
    sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
    from wine_session import WineSession, find_wine, i386_translated, Unavailable

    try:
        loader = find_wine()
    except Unavailable as e:
        table.add("vexa.exe rows", "-", "-", "-", "-", f"skipped: {e}")
        return
    build = windows["win64"] if i386_translated() else windows["win32"]
    where = f"{build.name}, Wine"
    if not (build / "vexa.exe").exists():
        table.add(f"vexa.exe rows ({where})", "-", "-", "-", "-",
                  f"skipped: no {build / 'vexa.exe'} (make win64)")
        return
    corpus = work / "corpus"
    total, count = dll_corpus(corpus, 32 * MiB)
    files = sorted(corpus.iterdir())
    exe, wine_exe, zipfile = work / "corpus.exe", work / "corpus-wine.exe", work / "corpus.zip"
    for f in (exe, wine_exe, zipfile):
        fresh(f)
    # The stub that vexa.exe carries, so that both start from the same bytes.
    run([vexa, "pack", "-o", exe, "--temp", "--stub", build / "vexasfx.exe", corpus])
    run(["zip", "-9", "-q", "-j", "-X", zipfile, *files])
    log(f"bench: packing {count} DLLs with vexa.exe ({where}) on one thread and on two")
    seconds, same = {}, {}
    with open(work / "wine-pack.log", "w") as session_log, \
            WineSession(work / "wine", session_log, loader) as session:
        for jobs in (1, 2):
            fresh(wine_exe)
            started = time.perf_counter()
            code, out = session.run([build / "vexa.exe", "pack", "-o", session.win_path(wine_exe),
                                     "--temp", "--jobs", str(jobs), session.win_path(corpus)],
                                    cwd=work, timeout=3600)
            seconds[jobs] = time.perf_counter() - started
            if code != 0:
                raise RuntimeError(f"vexa.exe pack --jobs {jobs} under Wine: exit {code}: {out}")
            same[jobs] = wine_exe.read_bytes() == exe.read_bytes()
    wine_size, zip_size = wine_exe.stat().st_size, zipfile.stat().st_size
    table.add(f"vexa.exe ({where}) packs the {total / MiB:.0f} MiB of DLLs: size",
              f"{wine_size:,} B", f"zip -9 {zip_size:,} B", f"{wine_size / zip_size:.3f}x",
              "<= 0.97x", verdict(wine_size <= 0.97 * zip_size))
    for jobs in (1, 2):
        table.add(f"  --jobs {jobs}: the same archive as vexa on Linux",
                  "identical" if same[jobs] else "differs", f"vexa {exe.stat().st_size:,} B",
                  "-", "identical", verdict(same[jobs]))
    table.add("  pack time, --jobs 2", f"{seconds[2]:.1f} s", f"--jobs 1 {seconds[1]:.1f} s",
              f"{seconds[2] / seconds[1]:.2f}x time", "<= 0.70x",
              verdict(seconds[2] <= 0.70 * seconds[1]))
    for f in (corpus, exe, wine_exe, zipfile):
        fresh(f)


def wine_rows(table, vexa: Path, work: Path, stub: Path = None):
    """The stub that vexa packs, the shipped i686 one unless `stub` names another, watched by
    64-bit helpers."""
    sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
    from wine_session import WineSession, find_wine, i386_translated, Unavailable

    bin_dir = work / "wine-bin"
    bin_dir.mkdir(parents=True, exist_ok=True)
    probe = mingw_build(SOURCE / "bench" / "wine" / "probe.cpp", bin_dir / "probe.exe")
    sleeper = mingw_build(SOURCE / "bench" / "wine" / "sleeper.cpp", bin_dir / "sleeper.exe",
                          "-mwindows")

    payload = work / "wait.in"
    fresh(payload)
    payload.mkdir(parents=True)
    shutil.copyfile(sleeper, payload / "setup.exe")
    wait_exe = work / "wait.exe"
    fresh(wait_exe)
    stub_option = ["--stub", stub] if stub else []
    run([vexa, "pack", "-o", wait_exe, "--temp", "--run", "setup.exe",
         "--program-in-destination", "--wait-and-delete", *stub_option, payload])
    fresh(payload)
    log("bench: packing a 512 MiB item for the repaint row")
    big_exe = one_item_archive(vexa, work, "repaint-512mib", 512 * MiB, *stub_option)
    run_exe = one_item_archive(vexa, work, "unattended-1mib", MiB, *stub_option)

    try:
        loader = find_wine()
    except Unavailable as e:
        table.add("Wine rows", "-", "-", "-", "-", f"skipped: {e}")
        return
    # Under translation the stub's own work is slower than on a real machine; its CPU while
    # it waits is measured over the wait alone, where translation adds nothing.
    if stub:
        where = f"Wine, stub {stub.parent.name}/{stub.name}"
    else:
        where = "Wine, i686 stub through qemu-user" if i386_translated() else "Wine, i686 stub"
    log(f"bench: running the stub ({where})")
    session_log = open(work / "wine.log", "w")
    with WineSession(work / "wine", session_log, loader) as session:
        def probe_run(*args):
            code, out = session.run([probe, *args], cwd=work, timeout=600)
            if code != 0:
                raise RuntimeError(f"probe {' '.join(args)}: exit {code}: {out}")
            return json.loads(out.strip().splitlines()[-1])

        cpu = probe_run("cpu", session.win_path(wait_exe), "setup.exe")
        small = probe_run("repaint", session.win_path(wait_exe))
        big = probe_run("repaint", session.win_path(big_exe))
        # Interleaved, the median of three each: a start through qemu-user varies by a second.
        runs = {"": [], "/S": []}
        for _ in range(3):
            for switches in runs:
                runs[switches].append(probe_run("run", session.win_path(run_exe),
                                                *([switches] if switches else [])))
        plain, silent = (sorted(r, key=lambda one: one["wall_ms"])[1] for r in runs.values())
    fresh(big_exe)
    fresh(wait_exe)
    fresh(run_exe)
    # The stub leaves an item in its folder in the prefix's temporary folder when it starts
    # no program.
    for extracted in (work / "wine" / "prefix" / "drive_c" / "users").glob(
            "*/Temp/vexa-*/*.bin"):
        extracted.unlink()
        extracted.parent.rmdir()

    share = cpu["cpu_ms"] / cpu["wait_ms"]
    table.add(f"stub CPU while its program runs 10 s ({where})", f"{cpu['cpu_ms']:.1f} ms",
              f"wall {cpu['wait_ms'] / 1e3:.1f} s (before: {cpu['cpu_before_ms']:.0f} ms)",
              f"{share * 100:.2f}%", "< 1%", verdict(share < 0.01))
    # The ratio is the share of the window's time on screen that it went unpainted.
    table.add(f"longest time without repaint during a 512 MiB item ({where})",
              f"{big['longest_unpainted_ms']:.0f} ms",
              f"small item {small['longest_unpainted_ms']:.0f} ms",
              f"{big['longest_unpainted_ms'] / big['on_screen_ms'] * 100:.0f}% of "
              f"{big['on_screen_ms'] / 1e3:.1f} s shown", "<= 250 ms",
              verdict(big["longest_unpainted_ms"] <= 250))
    # Without a window there is no status display to hold on screen for at least 1.5 s, which
    # an item this small would otherwise wait out.
    table.add(f"/S run of a 1 MiB archive ({where})", f"{silent['wall_ms']:.0f} ms",
              f"without switches {plain['wall_ms']:.0f} ms",
              f"{silent['wall_ms'] / plain['wall_ms']:.2f}x", "< without switches",
              verdict(silent["wall_ms"] < plain["wall_ms"] and silent["stub_exit"] == 0))


def wine_tree_rows(table, vexa: Path, work: Path):
    """The shipped stub writing the tree of tree_rows under Wine (/S /D=, no window), against
    `vexa extract` of the same archive natively."""
    sys.path.insert(0, str(SOURCE / "tests" / "e2e"))
    from wine_session import WineSession, find_wine, i386_translated, Unavailable

    (work / "wine-bin").mkdir(parents=True, exist_ok=True)
    probe = mingw_build(SOURCE / "bench" / "wine" / "probe.cpp", work / "wine-bin" / "probe.exe")
    tree = tree_source(work)
    count = sum(1 for p in tree.rglob("*") if p.is_file())
    exe, out = work / "tree.exe", work / "tree-out"
    fresh(exe)
    run([vexa, "pack", "-o", exe, "--temp", tree])
    native = timed([vexa, "extract", exe, "-C", out], before=lambda: fresh(out))
    try:
        loader = find_wine()
    except Unavailable as e:
        table.add("Wine tree row", "-", "-", "-", "-", f"skipped: {e}")
        return
    where = "Wine, i686 stub through qemu-user" if i386_translated() else "Wine, i686 stub"
    log(f"bench: the stub writes a tree of {count} files ({where})")
    with open(work / "wine-tree.log", "w") as session_log, \
            WineSession(work / "wine", session_log, loader) as session:
        fresh(out)
        out.mkdir()
        code, text = session.run([probe, "run", session.win_path(exe),
                                  f"/S /D={session.win_path(out)}"], cwd=work, timeout=3600)
    result = json.loads(text.strip().splitlines()[-1])
    if code != 0 or result["stub_exit"] != 0:
        raise RuntimeError(f"the stub's run of the tree: {text}")
    run(["diff", "-r", "-q", tree, out])
    for path in (exe, out):
        fresh(path)
    stub = result["wall_ms"] / 1e3
    table.add(f"stub writes the tree of {count:,} files ({where}, /S)", f"{stub:.1f} s",
              f"vexa extract {native:.2f} s", f"{stub / native:.1f}x time", "-", "")


def main():
    ap = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    ap.add_argument("--native", type=Path, required=True)
    ap.add_argument("--win32", type=Path, required=True)
    ap.add_argument("--work", type=Path, required=True)
    ap.add_argument("--command", default=" ".join(shlex.quote(a) for a in sys.argv))
    ap.add_argument("--no-wine", action="store_true", help="leave out the rows that need Wine")
    ap.add_argument("--only", choices=("micro", "tool", "memory", "tree", "wine-pack", "wine",
                                       "wine-tree"),
                    action="append",
                    help="measure only these rows (repeatable); all when not given")
    ap.add_argument("--stub", type=Path,
                    help="the stub that the Wine rows pack instead of the shipped one (the "
                         "x86_64 build runs at the machine's own speed where i686 programs go "
                         "through qemu-user)")
    args = ap.parse_args()
    wanted = lambda rows: (rows in args.only if args.only else
                           not (rows.startswith("wine") and args.no_wine))
    args.work.mkdir(parents=True, exist_ok=True)
    work = args.work.resolve()
    vexa = (args.native / "vexa").resolve()

    table = Table()
    if wanted("micro"):
        micro_rows(table, google_benchmarks(args.native))
    stub32 = args.win32 / "vexasfx.exe"
    if wanted("tool"):
        tool_rows(table, vexa, work, stub32.stat().st_size)
        table.add("stub size (i686, shipped)", f"{stub32.stat().st_size:,} B", "-", "-",
                  "as small as a careful build", "")
    if wanted("memory"):
        memory_rows(table, vexa, work)
    if wanted("tree"):
        tree_rows(table, vexa, work)
    if wanted("wine-pack"):
        # The x86_64 build beside the i686 one, as the Makefile lays them out.
        wine_pack_rows(table, vexa, {"win32": args.win32.resolve(),
                                     "win64": args.win32.resolve().parent / "win64"}, work)
    if wanted("wine"):
        wine_rows(table, vexa, work, args.stub.resolve() if args.stub else None)
    if wanted("wine-tree"):
        wine_tree_rows(table, vexa, work)

    header = [f"vexa benchmarks, {time.strftime('%Y-%m-%d %H:%M:%S %Z')}",
              f"machine: {machine()}",
              f"command: {args.command}",
              "micro rows: median CPU time of 5 interleaved repetitions (vexa_bench); tool "
              "rows: median wall time of 3 runs; one corpus, the same bytes on both sides"]
    text = table.render(header)
    (work / "table.txt").write_text(text + "\n")
    print(text)
    return 0


if __name__ == "__main__":
    sys.exit(main())
