"""Damaged and hostile archives, and destinations that refuse the files: each gets its defined
answer, and nothing lands outside the destination folder.

The archives are packed whole and then damaged with e2e_resedit (archive.py reads the header).
"""

import random
import zlib

from archive import (BLOCK_SIZE, RECORD_SIZE, compressed, item_paths, text_start,
                     with_item_count, with_item_paths, with_program_path, with_stored_size)
from checks import message_box

rng = random.Random(3)
README = b"Read me first.\r\n" * 40
# Compressible, and several copy buffers long once inflated.
MANUAL = b"".join(b"%05d the quick brown fox jumps over the lazy dog\r\n" % i for i in range(6000))
# Incompressible, so stored as it is; its length is no multiple of the cipher's 8-byte block.
DATA = rng.randbytes(200_001)
PASSWORD = "hostile"
LARGEST = 65534

TO_DEST = ["--dest", "{run}\\dest"]
DEFLATE = ["--method", "deflate"]
LZMA2 = ["--method", "lzma2", "--no-solid"]
LZMA2_SOLID = ["--method", "lzma2", "--solid"]
CANNOT_LOAD = [{"do": "wait", "title": "Error", "class": "#32770",
                "check": message_box("Error", "Cannot load header.", {1: "OK"})},
               {"do": "click", "id": 1}]
IO_ERROR = [{"do": "wait", "title": "Error", "class": "#32770",
             "check": message_box("Error", "I/O error occurrs. Check the destination disk is not "
                                  "write protected.", {1: "OK"})},
            {"do": "click", "id": 1}]
PASSWORD_OK = [{"do": "wait", "title": "Decrypting Files", "class": "#32770"},
               {"do": "settext", "id": 11, "text": PASSWORD},
               {"do": "click", "id": 1}]


INVALID_ARCHIVE = [{"do": "wait", "title": "Information", "class": "#32770",
                    "check": message_box("Information", "Invalid archive format.", {1: "OK"})},
                   {"do": "click", "id": 1}, {"do": "gone"}]

# Tree paths that would leave the destination or name no file in it, and paths through links
# planted in the destination to the run folder: each item is refused with the notice, the items
# around them are written, and nothing lands outside.
HOSTILE_PATHS = ["..\\outside.txt", "C:x.txt", "docs\\..\\..\\outside.txt", "\\rooted.txt",
                 "CON", "docs\\nul.txt", "docs\\a:b.txt", "linked\\outside.txt", "victim.txt",
                 "docs\\linked\\outside.txt"]
HOSTILE_FILES = {"first.txt": b"first item\r\n",
                 **{f"hostile{i}.txt": b"hostile item\r\n" for i in range(len(HOSTILE_PATHS))},
                 "last.txt": b"last item\r\n"}
PLANTED_LINKS = {"dest/linked": "../outside", "dest/docs/linked": "../../outside",
                 "dest/victim.txt": "../victim.txt"}


def rewrite_header(change):
    def craft(archive):
        archive.rewrite(put={"HEADER": change(archive.get("HEADER"))})
    return craft


def table_past_the_end(header):
    """The smallest item count whose table alone reaches past the resource's end."""
    return with_item_count(header, (len(header) - BLOCK_SIZE) // RECORD_SIZE + 1)


def text_without_nul(header):
    at = text_start(header)
    return header[:at] + header[at:].replace(b"\0", b"X")


def unterminated_program_path(header):
    return with_program_path(header, b"A" * 256)


def damaged_header(name, change, pack=()):
    """A header that cannot be trusted: the error box, then an orderly end with nothing written."""
    return {"name": name, "files": {"readme.txt": README}, "pack": [*TO_DEST, *pack],
            "mkdirs": ["dest"], "craft": rewrite_header(change), "steps": CANNOT_LOAD}


def corrupt_stream(archive):
    """ITEM2 becomes a zlib stream that inflates half of MANUAL and then meets a block of the
    reserved type, so the data error comes after real output."""
    header = archive.get("HEADER")
    assert compressed(header, 1), "the manual was expected to be packed compressed"
    packer = zlib.compressobj(9, zlib.DEFLATED, 15)
    stream = packer.compress(MANUAL[:len(MANUAL) // 2]) + packer.flush(zlib.Z_FULL_FLUSH)
    stream += bytes([0b111]) + bytes(16)  # BFINAL 1, BTYPE 11 (reserved)
    archive.rewrite(put={"HEADER": with_stored_size(header, 1, len(stream)), "ITEM2": stream})


def flip_byte(name, at):
    def craft(archive):
        data = bytearray(archive.get(name))
        data[at(len(data))] ^= 0x55
        archive.rewrite(put={name: bytes(data)})
    return craft


def cut_item(name, keep):
    def craft(archive):
        data = archive.get(name)
        archive.rewrite(put={name: data[:keep(len(data))]})
    return craft


def strict_prefix_of(original, at_most=None):
    """A partly written file: what came before the fault, never more, and not the whole."""
    limit = len(original) - 1 if at_most is None else at_most
    return lambda data: len(data) <= limit and original.startswith(data)


MANUAL_AND_FRIENDS = {"readme.txt": README, "manual.txt": MANUAL, "last.txt": b"last\r\n"}

SCENARIOS = [
    damaged_header("header_truncated", lambda header: header[:BLOCK_SIZE - 56]),
    damaged_header("header_item_count_past_end", table_past_the_end),
    damaged_header("header_text_without_nul", text_without_nul),
    damaged_header("header_program_path_without_nul", unterminated_program_path,
                   pack=["--run", "setup.exe"]),

    # The run stops at the damaged item: the items before it stay, the one after it never comes.
    {"name": "zlib_corrupt", "files": MANUAL_AND_FRIENDS, "pack": TO_DEST + DEFLATE,
     "mkdirs": ["dest"], "craft": corrupt_stream, "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt",
                 "dest/manual.txt": strict_prefix_of(MANUAL, len(MANUAL) // 2)}},
    # Damage that still decodes to the item's size: the item's Adler-32 finds it at its end.
    {"name": "lzma2_corrupt", "files": MANUAL_AND_FRIENDS, "pack": TO_DEST + LZMA2,
     "mkdirs": ["dest"], "craft": flip_byte("ITEM2", lambda n: n // 2), "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt", "dest/manual.txt": lambda data: data != MANUAL}},

    *({"name": f"{name}_truncated", "files": MANUAL_AND_FRIENDS, "pack": TO_DEST + method,
       "mkdirs": ["dest"], "craft": cut_item(item, lambda n: n // 2), "exit_code": 1,
       "written": {"dest/readme.txt": "readme.txt", "dest/manual.txt": strict_prefix_of(MANUAL)}}
      # A solid block's stream is ITEM1: cut in the manual's bytes, the readme before it
      # comes out whole, the manual in part, and the last item never.
      for name, method, item in (("zlib", DEFLATE, "ITEM2"), ("lzma2", LZMA2, "ITEM2"),
                                 ("lzma2_solid", LZMA2_SOLID, "ITEM1"))),

    # One byte short of its padding: every plain byte is there, the last block is not whole.
    {"name": "encrypted_short_padding", "files": {"readme.txt": README, "data.bin": DATA},
     "pack": [*TO_DEST, "--encrypt", "--password", PASSWORD], "mkdirs": ["dest"],
     "craft": cut_item("ITEM2", lambda n: n - 1), "steps": PASSWORD_OK, "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt", "dest/data.bin": strict_prefix_of(DATA)}},

    {"name": "tree_hostile_paths", "files": HOSTILE_FILES, "pack": TO_DEST,
     "mkdirs": ["dest/docs", "outside"], "links": PLANTED_LINKS,
     "put": {"victim.txt": b"not the archive's\r\n"},
     "craft": with_item_paths(["docs\\first.txt", *HOSTILE_PATHS, "docs\\last.txt"],
                              ["..\\escaped", "linked\\made", "CON"]),
     "steps": INVALID_ARCHIVE * len(HOSTILE_PATHS),
     "written": {"dest/docs/first.txt": "first.txt", "dest/docs/last.txt": "last.txt"},
     "absent": ["C:\\x.txt", "C:\\rooted.txt"]},
    # A damaged ITEMPATHS damages the archive: the notice, and nothing is written.
    *({"name": f"tree_paths_{name}", "files": MANUAL_AND_FRIENDS, "pack": TO_DEST,
       "mkdirs": ["dest"], "craft": with_item_paths((), resource=resource),
       "steps": INVALID_ARCHIVE}
      for name, resource in (
          ("odd_length", item_paths(["a\\readme.txt", "b\\manual.txt", "last.txt"]) + b"\0"),
          ("too_few", item_paths(["a\\readme.txt", "b\\manual.txt"])),
          ("without_nul", item_paths(["a\\readme.txt", "b\\manual.txt"]) + "c".encode(
              "utf-16-le")))),

    # Root passes Unix permission checks, so the folder is made read-only by a read-only mount.
    {"name": "readonly_destination", "files": {"readme.txt": README}, "pack": TO_DEST,
     "mounts": {"dest": "ro"}, "exit_code": 1},

    # A helper holds data.bin open without sharing: the stub cannot create it and stops there.
    {"name": "target_locked", "files": {"readme.txt": README, "data.bin": DATA,
                                        "last.txt": b"last\r\n"},
     "pack": TO_DEST, "mkdirs": ["dest"],
     "before": [{"do": "spawn", "exe": "{setup}",
                 "args": "hold {run}\\dest\\data.bin; mark {run}\\held.txt; sleep 60000"},
                {"do": "file", "path": "{run}\\held.txt"}],
     "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt", "dest/data.bin": b"",
                 "held.txt": lambda data: data.lower().endswith(b"e2e_setup.exe")}},

    # A 64 KiB file system cannot take DATA: the write comes up short, and the stub says so.
    {"name": "disk_full", "files": {"readme.txt": README, "data.bin": DATA,
                                    "last.txt": b"last\r\n"},
     "pack": TO_DEST, "mounts": {"dest": "size=64k"}, "steps": IO_ERROR, "exit_code": 1,
     "written": {"dest/readme.txt": "readme.txt", "dest/data.bin": strict_prefix_of(DATA)}},

    # The packer's largest archive: 65534 items, the most that the resource directory's 16-bit
    # count of named entries holds beside HEADER. Their files are there already, stale: Wine looks
    # a new file's name up without regard to case by reading the whole folder, so creating n new
    # files costs it n * n (8000 take 18 s instead of 3), which Windows does not. Every file must
    # come out empty, as its item is. Even so it takes half a minute to two on this machine,
    # so it runs only when asked for (run.py --slow).
    {"name": "largest_item_count", "slow": True,
     "files": {f"items/{i:05d}": b"" for i in range(LARGEST)}, "inputs": ["items"],
     "pack": TO_DEST, "put": {f"dest/{i:05d}": b"stale" for i in range(LARGEST)},
     "timeout_ms": 300_000,
     "written": {f"dest/{i:05d}": b"" for i in range(LARGEST)}},
]
