#!/usr/bin/env python3
"""Builds the test specimens from the two waiting programs and lists them in a signature
file of their own.

usage: make_specimens.py WAITER.exe WAITER_WITH_PLUGINS.exe OUTPUT_DIR

Every specimen gets a marker of its own in the DOS stub, inside the first 500 bytes, so
each has its own fingerprint (CRC-32 of those bytes). Sizes come from zero padding after
the image, which the loader ignores; the server configuration blocks lie in that padding.
OUTPUT_DIR receives the specimens, "specimens.manifest" (the signature entries, for
make_signatures.py) and "specimens.txt" (name, size, fingerprint, type index or "-" for
no entry, traits).
"""
import os
import struct
import sys
import zlib

FINGERPRINT_BYTES = 500
MARKER_OFFSET = 0x4E  # where the stub's message text starts
MARKER_BYTES = 40


def config_block(install_name, registry_entry, leading_zeros=3):
    """A server configuration block: zeros, install name, zero, four bytes, entry, zero."""
    block = bytes(leading_zeros) + install_name + b"\0" + b"\x39\x05\0\0" + registry_entry + b"\0"
    assert len(block) <= 100
    return block


# name, base (plain or plugins), type index or None, size or None (image size),
# {offset: bytes} placed in the padding, traits for the listing
SPECIMENS = [
    ("bo_60000.exe", "plain", 0, 60000, {}, "Back Orifice at the 60000-byte floor"),
    ("bo_59999.exe", "plain", 0, 59999, {}, "Back Orifice one byte short: clean"),
    ("bo_config_124888.exe", "plain", 0, 125500,
     {124888: config_block(b"tvbo_inst.exe", b"TvBoConfigured")},
     "Back Orifice configured at 124888: install name without drive, own entry"),
    ("bo_config_77436.exe", "plain", 0, 80000,
     {77436: config_block(b"C:\\tvbo_drive.exe", b"")},
     "Back Orifice configured at 77436: install name with drive, entry = install name"),
    (" .exe", "plain", 0, 61440, {}, "Back Orifice with built-in settings, name begins with a space"),
    ("netbus_350000.exe", "plain", 1, 350000, {}, "NetBus at the 350000-byte floor"),
    ("netbus_349999.exe", "plain", 1, 349999, {}, "NetBus one byte short: clean"),
    ("deepthroat_100000.exe", "plain", 4, 100000, {}, "DeepThroat at the 100000-byte floor"),
    ("deepthroat_99999.exe", "plain", 4, 99999, {}, "DeepThroat one byte short: clean"),
    ("deepthroat_systray.exe", "plain", 4, 100000, {}, "DeepThroat whose path holds systray"),
    ("masters_plugins.exe", "plugins", 2, None, {}, "MastersParadise with .plugins: Bo2k"),
    ("sockets_plain.exe", "plain", 3, None, {}, "Sockets d'Troy without .plugins: clean"),
    ("setupdm_plugins.exe", "plugins", 5, None, {}, "SetupDM with .plugins: Bo2k"),
    ("setupdm_plain.exe", "plain", 5, None, {}, "SetupDM without .plugins: clean"),
    ("sksilencer.exe", "plain", 6, None, {}, "SkSilencer"),
    ("hackattack.exe", "plain", 7, None, {}, "HackAttack"),
    ("prettypark.exe", "plain", 8, None, {}, "PrettyPark"),
    ("bo2k.exe", "plain", 9, None, {}, "Bo2k"),
    ("subseven.exe", "plain", 10, None, {}, "SubSeven"),
    ("attackftp.exe", "plain", 11, None, {}, "AttackFTP"),
    ("unlisted_plugins.exe", "plugins", None, None, {}, "no signature entry, .plugins: Bo2k"),
]


def build(base, name, size, blocks):
    data = bytearray(base)
    nt_offset = struct.unpack_from("<I", data, 0x3C)[0]
    assert MARKER_OFFSET + MARKER_BYTES <= nt_offset, "the DOS stub has no room for the marker"
    marker = ("Tolvane specimen " + name.strip()).encode()[:MARKER_BYTES]
    data[MARKER_OFFSET:MARKER_OFFSET + MARKER_BYTES] = marker.ljust(MARKER_BYTES, b" ")
    if size is not None:
        assert size >= len(data), name
        data.extend(bytes(size - len(data)))
    for offset, block in blocks.items():
        assert offset + len(block) <= len(data), name
        data[offset:offset + len(block)] = block
    return bytes(data)


def main():
    if len(sys.argv) != 4:
        sys.exit(__doc__)
    bases = {}
    for key, path in (("plain", sys.argv[1]), ("plugins", sys.argv[2])):
        with open(path, "rb") as f:
            bases[key] = f.read()
    out_dir = sys.argv[3]
    os.makedirs(out_dir, exist_ok=True)

    entries, listing, seen = [], [], {}
    for name, base, type_index, size, blocks, traits in SPECIMENS:
        data = build(bases[base], name, size, blocks)
        fingerprint = zlib.crc32(data[:FINGERPRINT_BYTES]) & 0xFFFFFFFF
        assert fingerprint not in seen, f"{name} shares its fingerprint with {seen[fingerprint]}"
        seen[fingerprint] = name
        with open(os.path.join(out_dir, name), "wb") as f:
            f.write(data)
        if type_index is not None:
            entries.append(f"# {name!r}\nentry {type_index} 0x{fingerprint:08X}")
        listing.append(f"{name!r}\t{len(data)}\t{fingerprint:08X}\t"
                       f"{'-' if type_index is None else type_index}\t{traits}")

    with open(os.path.join(out_dir, "specimens.manifest"), "w") as f:
        f.write("# Test specimens only: written by make_specimens.py\ndate 12/7/2026\n")
        f.write("\n".join(entries) + "\n")
    with open(os.path.join(out_dir, "specimens.txt"), "w") as f:
        f.write("name\tsize\tfingerprint\ttype\ttraits\n" + "\n".join(listing) + "\n")


if __name__ == "__main__":
    main()
