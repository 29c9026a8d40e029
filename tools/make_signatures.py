#!/usr/bin/env python3
"""Writes a Tolvane signature file (tsigs.kws or psigs.kws) from a text manifest.

Manifest lines (blank lines and lines starting with # are ignored):

    date MONTH/DAY/YEAR                      definitions date of the header
    entry TYPE 0xFINGERPRINT                 a fingerprint given as a number
    entry TYPE file PATH                     the CRC-32 of PATH's first 500 bytes
    registry ROOT KEY-PATH = TOOL NAME       a privacy record (psigs.kws only);
                                             ROOT is HKCR, HKCU, HKLM, HKU or a number

Relative PATHs are taken from the manifest's folder. Entries are written in manifest
order; the engines look up the first entry of a fingerprint in file order.

usage: make_signatures.py MANIFEST OUTPUT
       make_signatures.py --fingerprint FILE...   prints each file's fingerprint
"""
import os
import struct
import sys
import zlib

FINGERPRINT_BYTES = 500
HEADER = struct.Struct("<4sHHIHHH6s")          # 24 bytes
ENTRY = struct.Struct("<II")                    # type index, fingerprint
REGISTRY_RECORD = struct.Struct("<68sI260s4s")  # name, root, key path, reserved
ROOTS = {"HKCR": 0x80000000, "HKCU": 0x80000001, "HKLM": 0x80000002, "HKU": 0x80000003}
assert HEADER.size == 24 and ENTRY.size == 8 and REGISTRY_RECORD.size == 336


class ManifestError(Exception):
    pass


def fingerprint(path):
    with open(path, "rb") as f:
        head = f.read(FINGERPRINT_BYTES)
    if len(head) < FINGERPRINT_BYTES:
        raise ManifestError(f"{path}: shorter than {FINGERPRINT_BYTES} bytes, has no fingerprint")
    return zlib.crc32(head) & 0xFFFFFFFF


def fixed_text(text, size, what):
    data = text.encode("cp1252")
    if len(data) >= size:
        raise ManifestError(f"{what} longer than {size - 1} bytes: {text!r}")
    return data.ljust(size, b"\0")


def parse(manifest_path):
    base = os.path.dirname(os.path.abspath(manifest_path))
    date = (0, 0, 0)
    entries, records = [], []
    with open(manifest_path, encoding="utf-8") as f:
        for number, raw in enumerate(f, 1):
            line = raw.strip()
            if not line or line.startswith("#"):
                continue
            word, _, rest = line.partition(" ")
            try:
                if word == "date":
                    month, day, year = (int(x) for x in rest.split("/"))
                    date = (month, day, year)
                elif word == "entry":
                    parts = rest.split(None, 2)
                    type_index = int(parts[0], 0)
                    if parts[1] == "file":
                        value = fingerprint(os.path.join(base, parts[2]))
                    else:
                        value = int(parts[1], 0)
                    entries.append((type_index & 0xFFFFFFFF, value & 0xFFFFFFFF))
                elif word == "registry":
                    root_word, _, rest2 = rest.partition(" ")
                    key_path, sep, name = rest2.partition(" = ")
                    if not sep:
                        raise ManifestError("registry line needs 'KEY-PATH = TOOL NAME'")
                    root = ROOTS.get(root_word.upper())
                    if root is None:
                        root = int(root_word, 0)
                    records.append((name.strip(), root, key_path.strip()))
                else:
                    raise ManifestError(f"unknown line kind {word!r}")
            except (ValueError, IndexError) as e:
                raise ManifestError(f"{manifest_path}:{number}: {e}") from None
            except ManifestError as e:
                raise ManifestError(f"{manifest_path}:{number}: {e}") from None
    if len(entries) > 0xFFFF or len(records) > 0xFFFF:
        raise ManifestError("at most 65535 entries and 65535 registry records")
    return date, entries, records


def build(date, entries, records):
    month, day, year = date
    out = bytearray(HEADER.pack(b"KWRT", len(entries), len(records), 0, month, day, year, b"\0" * 6))
    for type_index, value in entries:
        out += ENTRY.pack(type_index, value)
    for name, root, key_path in records:
        out += REGISTRY_RECORD.pack(fixed_text(name, 68, "tool name"), root,
                                    fixed_text(key_path, 260, "key path"), b"\0" * 4)
    return bytes(out)


def main(argv):
    if len(argv) >= 2 and argv[0] == "--fingerprint":
        for path in argv[1:]:
            print(f"0x{fingerprint(path):08X} {path}")
        return 0
    if len(argv) != 2:
        print(__doc__, file=sys.stderr)
        return 2
    try:
        data = build(*parse(argv[0]))
    except (ManifestError, OSError) as e:
        print(f"make_signatures: {e}", file=sys.stderr)
        return 1
    # Written beside the target and renamed over it: a reader never sees half a file.
    temp = argv[1] + ".tmp"
    with open(temp, "wb") as f:
        f.write(data)
    os.replace(temp, argv[1])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
