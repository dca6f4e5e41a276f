"""The archive's HEADER resource, as far as crafted archives need it: the 656-byte header block,
then one 81-byte record per item, then the text section."""

import struct

BLOCK_SIZE = 656
RECORD_SIZE = 81
ITEM_COUNT_AT = 12
NAME_FIELD = 32
ITEM_NAME_AT = 0
FILE_NAME_AT = 32


def item_count(header: bytes) -> int:
    return struct.unpack_from("<H", header, ITEM_COUNT_AT)[0]


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
