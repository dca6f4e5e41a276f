#!/usr/bin/python3
"""Writes the fuzz targets' seed corpora from archives that `vexa pack` makes.

Packs small archives of every kind (stored, compressed, encrypted, both; every
destination; a program to run), takes their resources apart with pefile and writes each
target's seeds in the input layout its source file describes:

  header/      the HEADER resource
  decompress/  read-size seed, mode, a compressed item's zlib stream
  lzma2/       read-size seed, mode, plain size, [block: item count, sizes], an LZMA2 item's data
  decrypt/     password, StoredSize, read-size seed, check block, an encrypted item
  item/        item record, password, the item's resource
  pe/          a packed archive with its code sections dropped (headers, resources)

Usage: make_seeds.py VEXA OUTDIR   (needs Debian's python3 for pefile)
"""

import os
import shutil
import struct
import subprocess
import sys
import tempfile

import pefile

PASSWORD = b"seed password"
TARGETS = ("header", "decompress", "lzma2", "decrypt", "item", "pe")
BLOCK = 656
RECORD = 81


def pack(vexa, workdir, name, files, *options, password=None):
    src = os.path.join(workdir, name + ".in")
    os.makedirs(src)
    for fname, data in files.items():
        with open(os.path.join(src, fname), "wb") as f:
            f.write(data)
    exe = os.path.join(workdir, name + ".exe")
    env = dict(os.environ, SOURCE_DATE_EPOCH="1700000000")
    if password is not None:
        env["VEXA_PASSWORD"] = password.decode()
    subprocess.run([vexa, "pack", "-o", exe, *options, src], check=True, env=env,
                   stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
    return exe


def rcdata(exe):
    """The RT_RCDATA resources by upper-case name."""
    pe = pefile.PE(exe)
    found = {}
    for type_entry in pe.DIRECTORY_ENTRY_RESOURCE.entries:
        if type_entry.id != pefile.RESOURCE_TYPE["RT_RCDATA"]:
            continue
        for name_entry in type_entry.directory.entries:
            lang = name_entry.directory.entries[0]
            rva, size = lang.data.struct.OffsetToData, lang.data.struct.Size
            found[str(name_entry.name).upper()] = pe.get_data(rva, size)
    return found


def strip_code(exe, out):
    """The image with every section but the resources' emptied in the file: the reader
    sees the same headers and resource tree in a seed a fraction of the size."""
    pe = pefile.PE(exe)
    res_rva = pe.OPTIONAL_HEADER.DATA_DIRECTORY[2].VirtualAddress
    data = bytearray(pe.__data__[: pe.OPTIONAL_HEADER.SizeOfHeaders])
    tail = b""
    for s in pe.sections:
        offset = s.get_file_offset()
        extent = max(s.Misc_VirtualSize, s.SizeOfRawData)
        if s.VirtualAddress <= res_rva < s.VirtualAddress + extent:
            raw = pe.__data__[s.PointerToRawData: s.PointerToRawData + s.SizeOfRawData]
            pointer, size = len(data) + len(tail), len(raw)
            tail += raw
        else:
            pointer, size = 0, 0
        struct.pack_into("<II", data, offset + 16, size, pointer)
    with open(out, "wb") as f:
        f.write(bytes(data) + tail)


def write(outdir, target, name, data):
    folder = os.path.join(outdir, target)
    os.makedirs(folder, exist_ok=True)
    with open(os.path.join(folder, name), "wb") as f:
        f.write(data)


def text_file(n):
    words = [b"setup", b"install", b"vexa", b"archive", b"program", b"files", b"\r\n"]
    out = bytearray()
    i = 7
    while len(out) < n:
        i = (i * 1103515245 + 12345) & 0x7FFFFFFF
        out += words[(i >> 16) % len(words)] + b" "
    return bytes(out[:n])


def main():
    vexa, outdir = sys.argv[1], sys.argv[2]
    for target in TARGETS:
        shutil.rmtree(os.path.join(outdir, target), ignore_errors=True)

    files = {
        "readme.txt": text_file(3000),
        "empty.dat": b"",
        "setup.exe": bytes(range(256)) * 4 + text_file(700),  # 1724 bytes: not a block multiple
    }
    kinds = [
        ("stored", ["--temp", "--store"], None),
        ("compressed", ["--dest", "C:\\Program Files\\Vexa Seed", "--method", "deflate",
                        "--level", "9"], None),
        ("lzma2", ["--temp", "--method", "lzma2", "--level", "6", "--no-solid"], None),
        ("solid", ["--temp", "--method", "lzma2", "--level", "6"], None),
        ("encrypted", ["--ask-folder", "--store", "--encrypt"], PASSWORD),
        ("both", ["--temp", "--encrypt", "--run", "setup.exe", "--program-in-destination",
                  "--wait-and-delete", "--always-confirm", "--welcome", "Install the seed?",
                  "--title", "Seed"], PASSWORD),
    ]
    with tempfile.TemporaryDirectory() as work:
        for kind, options, password in kinds:
            exe = pack(vexa, work, kind, files, *options, password=password)
            res = rcdata(exe)
            header = res["HEADER"]
            write(outdir, "header", kind, header)
            count = struct.unpack_from("<H", header, 12)[0]
            check = header[16:144]
            pw = password or b""
            for i in range(count):
                record = header[BLOCK + RECORD * i: BLOCK + RECORD * (i + 1)]
                item = res["ITEM%d" % (i + 1)]
                stored_size = struct.unpack_from("<I", record, 77)[0]
                method = record[64]
                name = "%s-item%d" % (kind, i + 1)
                write(outdir, "item", name, record + bytes([len(pw)]) + pw + item)
                if method == 2 and not pw:
                    # The item's block: its own size and those of the items continuing it.
                    sizes = [struct.unpack_from("<I", record, 73)[0]]
                    for j in range(i + 1, count):
                        following = header[BLOCK + RECORD * j: BLOCK + RECORD * (j + 1)]
                        if following[64] != 3:
                            break
                        sizes.append(struct.unpack_from("<I", following, 73)[0])
                    for mode in (0, 1) if len(sizes) == 1 else (2, 3):
                        seed = struct.pack("<IBI", 0x9E3779B9 * (mode + 1) & 0xFFFFFFFF, mode,
                                           sum(sizes))
                        if mode & 2:
                            seed += bytes([len(sizes) - 1])
                            seed += b"".join(struct.pack("<I", size) for size in sizes[:-1])
                        write(outdir, "lzma2", "%s-mode%d" % (name, mode), seed + item)
                if method == 1 and not pw:
                    for mode in (0, 1, 2, 4, 7):
                        seed = struct.pack("<IB", 0x9E3779B9 * (mode + 1) & 0xFFFFFFFF, mode)
                        write(outdir, "decompress", "%s-mode%d" % (name, mode), seed + item)
                if pw:
                    head = bytes([len(pw)]) + pw + struct.pack("<II", stored_size, 12345)
                    write(outdir, "decrypt", name, head + check + item)
            stripped = os.path.join(work, kind + ".stripped.exe")
            strip_code(exe, stripped)
            with open(stripped, "rb") as f:
                write(outdir, "pe", kind, f.read())
    for target in TARGETS:
        print("%-10s %d seeds" % (target, len(os.listdir(os.path.join(outdir, target)))))


if __name__ == "__main__":
    main()
