"""The archive's HEADER resource, as far as crafted archives need it: the 656-byte header block,
then one 81-byte record per item, then the text section."""

import struct

BLOCK_SIZE = 656
RECORD_SIZE = 81
ITEM_COUNT_AT = 12
PROGRAM_PATH_AT = 400
PATH_FIELD = 256
NAME_FIELD = 32
ITEM_NAME_AT = 0
FILE_NAME_AT = 32
COMPRESSED_AT = 64
STORED_SIZE_AT = 77


def item_count(header: bytes) -> int:
    return struct.unpack_from("<H", header, ITEM_COUNT_AT)[0]


def text_start(header: bytes) -> int:
    return BLOCK_SIZE + RECORD_SIZE * item_count(header)


def with_item_count(header: bytes, count: int) -> bytes:
    """The header claiming `count` items; the table and the text stay as they are."""
    out = bytearray(header)
    struct.pack_into("<H", out, ITEM_COUNT_AT, count)
    return bytes(out)


def with_program_path(header: bytes, field: bytes) -> bytes:
    """The header with the 256-byte program path field holding `field`, NUL-padded."""
    if len(field) > PATH_FIELD:
        raise ValueError(f"{len(field)} bytes do not fit the program path")
    out = bytearray(header)
    out[PROGRAM_PATH_AT:PROGRAM_PATH_AT + PATH_FIELD] = field.ljust(PATH_FIELD, b"\0")
    return bytes(out)


def compressed(header: bytes, index: int) -> bool:
    return header[_record_at(header, index) + COMPRESSED_AT] != 0


def with_stored_size(header: bytes, index: int, size: int) -> bytes:
    out = bytearray(header)
    struct.pack_into("<I", out, _record_at(header, index) + STORED_SIZE_AT, size)
    return bytes(out)


def _record_at(header: bytes, index: int) -> int:
    if not 0 <= index < item_count(header):
        raise IndexError(f"item {index} of {item_count(header)}")
    return BLOCK_SIZE + RECORD_SIZE * index


def file_name(header: bytes, index: int) -> bytes:
    at = _record_at(header, index) + FILE_NAME_AT
    return header[at:at + NAME_FIELD].split(b"\0", 1)[0]


def with_file_name(header: bytes, index: int, name: bytes) -> bytes:
    """The header with item `index` (from 0) renamed; the item name, which the stub does not
    read, is kept equal to the file name as the packer writes it."""
    if len(name) > NAME_FIELD:
        raise ValueError(f"{name!r} is longer than {NAME_FIELD} bytes")
    field = name.ljust(NAME_FIELD, b"\0")
    out = bytearray(header)
    at = _record_at(header, index)
    out[at + ITEM_NAME_AT:at + ITEM_NAME_AT + NAME_FIELD] = field
    out[at + FILE_NAME_AT:at + FILE_NAME_AT + NAME_FIELD] = field
    return bytes(out)


def item_paths(items, empty_folders=()) -> bytes:
    """The ITEMPATHS resource: each item's path, then each empty folder, in UTF-16LE, each ended
    by a NUL unit."""
    return b"".join(path.encode("utf-16-le") + b"\0\0" for path in [*items, *empty_folders])


def with_item_paths(items, empty_folders=(), header=None, resource=None):
    """A craft giving the packed archive an ITEMPATHS resource: `items` in item order and
    `empty_folders`, or the bytes `resource`; `header`, a function of the HEADER, rewrites it."""
    def craft(archive):
        put = {"ITEMPATHS": item_paths(items, empty_folders) if resource is None else resource}
        if header:
            put["HEADER"] = header(archive.get("HEADER"))
        archive.rewrite(put=put)
    return craft
