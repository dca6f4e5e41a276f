#!/usr/bin/env python3
"""Reads a PE image with readers independent of ours and prints what they see, one fact
per line, for the C++ tests to compare:

  resource TYPE NAME LANG CODEPAGE SIZE CRC32   (pefile; names as stored, ids in decimal)
  wrestool TYPE NAME LANG SIZE                  (icoutils' wrestool -l)
  large-address-aware yes|no                    (the file header's characteristics)
  checksum HEADER COMPUTED                      (pefile's own checksum of the file)
  layout ok | layout PROBLEM                    (section table against the headers)

With --strings first, it prints the string table instead, one string a line:

  string ID TEXT                                (pefile; UTF-8, CR and LF as \\r and \\n)

With --version first, it prints the version resource instead:

  fixed FILEVERSION PRODUCTVERSION              (pefile; the fixed numbers as a.b.c.d)
  version LANGCODEPAGE KEY VALUE                (pefile; each string, in the table's order)
"""
import re
import subprocess
import sys
import zlib

import pefile


def align(value, to):
    return (value + to - 1) // to * to


def printable(name):
    """Names as our ResourceKey::ToString writes them: non-ASCII code units as \\uXXXX."""
    return "".join(c if " " <= c < "\x7f" else f"\\u{ord(c):04X}" for c in name)


def key(entry):
    return printable(str(entry.name)) if entry.name is not None else str(entry.id)


def resources(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        for n in t.directory.entries:
            for lang in n.directory.entries:
                s = lang.data.struct
                data = pe.get_data(s.OffsetToData, s.Size) if s.Size else b""
                if len(data) != s.Size:
                    print(f"layout resource {key(t)}/{key(n)} data cut short")
                print(f"resource {key(t)} {key(n)} {lang.id} {s.CodePage} {s.Size} "
                      f"{zlib.crc32(data):08x}")


def wrestool(path):
    # wrestool writes names as 8-bit text, one byte per code unit below 256.
    out = subprocess.run(["wrestool", "-l", path], check=True,
                         capture_output=True).stdout.decode("latin-1")
    pattern = re.compile(r"--type='?([^' ]+)'? --name='?([^' ]+)'? --language=(\d+) "
                         r"\[.*size=(\d+)\]")
    for line in out.splitlines():
        m = pattern.match(line)
        print("wrestool " + (printable(" ".join(m.groups())) if m else "unparsed " + line))


def layout(pe, size):
    opt = pe.OPTIONAL_HEADER
    sa, fa = opt.SectionAlignment, opt.FileAlignment
    problems = []
    expected_va = align(opt.SizeOfHeaders, sa)
    raw_ranges = []
    for s in pe.sections:
        name = s.Name.rstrip(b"\0").decode("latin-1")
        vsize = s.Misc_VirtualSize or s.SizeOfRawData
        if s.VirtualAddress != expected_va:
            problems.append(f"{name} at VA {s.VirtualAddress:#x}, expected {expected_va:#x}")
        expected_va = align(s.VirtualAddress + vsize, sa)
        if s.SizeOfRawData:
            if s.PointerToRawData % fa or s.SizeOfRawData % fa:
                problems.append(f"{name} raw data not aligned to {fa:#x}")
            if s.PointerToRawData + s.SizeOfRawData > size:
                problems.append(f"{name} raw data past the end of the file")
            raw_ranges.append((s.PointerToRawData, s.PointerToRawData + s.SizeOfRawData))
    if opt.SizeOfImage != expected_va:
        problems.append(f"SizeOfImage {opt.SizeOfImage:#x}, sections end at {expected_va:#x}")
    raw_ranges.sort()
    for (a, b), (c, d) in zip(raw_ranges, raw_ranges[1:]):
        if c < b:
            problems.append(f"raw data overlaps at {c:#x}")
    table_end = (pe.DOS_HEADER.e_lfanew + 24 + pe.FILE_HEADER.SizeOfOptionalHeader
                 + 40 * pe.FILE_HEADER.NumberOfSections)
    if raw_ranges and table_end > raw_ranges[0][0]:
        problems.append("section table runs into section data")
    rsrc = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_RESOURCE"]]
    if rsrc.VirtualAddress and pe.get_section_by_rva(rsrc.VirtualAddress) is None:
        problems.append("resource directory outside every section")
    security = opt.DATA_DIRECTORY[pefile.DIRECTORY_ENTRY["IMAGE_DIRECTORY_ENTRY_SECURITY"]]
    if security.VirtualAddress or security.Size:
        problems.append("certificate table present")
    for w in pe.get_warnings():
        if not re.match(r"Byte 0x.. makes up", w):  # a guess from the content, not the layout
            problems.append("pefile: " + w)
    print("layout " + ("; ".join(problems) if problems else "ok"))


def strings(pe):
    if not hasattr(pe, "DIRECTORY_ENTRY_RESOURCE"):
        return
    for t in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if t.id != pefile.RESOURCE_TYPE["RT_STRING"]:
            continue
        for block in t.directory.entries:
            for sid, text in sorted(block.directory.strings.items()):
                text = text.replace("\r", "\\r").replace("\n", "\\n")
                print(f"string {sid} {text}")


def version(pe):
    def dotted(high, low):
        return f"{high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}"
    for fixed in getattr(pe, "VS_FIXEDFILEINFO", []):
        print(f"fixed {dotted(fixed.FileVersionMS, fixed.FileVersionLS)} "
              f"{dotted(fixed.ProductVersionMS, fixed.ProductVersionLS)}")
    for info in getattr(pe, "FileInfo", []):
        for block in info:
            for table in getattr(block, "StringTable", []):
                for k, v in table.entries.items():
                    print(f"version {table.LangID.decode()} {k.decode()} {v.decode()}")


def main():
    if sys.argv[1] == "--strings":
        strings(pefile.PE(sys.argv[2]))
        return
    if sys.argv[1] == "--version":
        version(pefile.PE(sys.argv[2]))
        return
    path = sys.argv[1]
    with open(path, "rb") as f:
        size = len(f.read())
    pe = pefile.PE(path)
    resources(pe)
    wrestool(path)
    large = pe.FILE_HEADER.Characteristics & pefile.IMAGE_CHARACTERISTICS[
        "IMAGE_FILE_LARGE_ADDRESS_AWARE"]
    print(f"large-address-aware {'yes' if large else 'no'}")
    print(f"checksum {pe.OPTIONAL_HEADER.CheckSum} {pe.generate_checksum()}")
    layout(pe, size)


main()
