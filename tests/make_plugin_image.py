#!/usr/bin/env python3
"""Writes a small plug-in-shaped DLL of either kind, for the tests that need a module of the
edition they are not built for (a 32-bit engine in the 64-bit edition's tests, and the
reverse) without the other edition's build folder or compiler.

    make_plugin_image.py i386|amd64 NAME OUTPUT

The file is a whole PE image: i386 with a PE32 header, or AMD64 with a PE32+ header, a DLL
with one section and no imports, exporting the seven functions every engine module carries
under ordinals 1 to 7. Each answers as a module that knows nothing: 0 (S_OK for
DllCanUnloadNow and the registration calls, "no name" for GetPluginName, "not
registered", "not critical"), and DllGetClassObject CLASS_E_CLASSNOTAVAILABLE. NAME is the
module's own name in its export directory ("kwreng32.dll"), so two of them differ.
"""
import struct
import sys

EXPORTS = ["DllCanUnloadNow", "DllGetClassObject", "DllRegisterServer", "DllUnregisterServer",
           "GetPluginName", "IsPluginRegistered", "IsCriticalPlugin"]
# Bytes on the stack each export removes in the 32-bit calling convention (stdcall).
ARGUMENT_BYTES = {"DllGetClassObject": 12, "GetPluginName": 4}
CLASS_E_CLASSNOTAVAILABLE = 0x80040111

FILE_ALIGNMENT = 0x200
SECTION_RVA = 0x1000
SECTION_ALIGNMENT = 0x1000

KINDS = {
    # machine, optional header magic, optional header size, characteristics, image base
    "i386": (0x14C, 0x10B, 224, 0x2102, 0x13500000),    # executable, 32-bit machine, DLL
    "amd64": (0x8664, 0x20B, 240, 0x2022, 0x135000000),  # executable, large addresses, DLL
}


def code(name, wide):
    result = b"\xb8" + struct.pack("<I", CLASS_E_CLASSNOTAVAILABLE) if name == "DllGetClassObject" else b"\x31\xc0"
    pop = 0 if wide else ARGUMENT_BYTES.get(name, 0)
    return result + (b"\xc2" + struct.pack("<H", pop) if pop else b"\xc3")


def section(kind, module_name):
    wide = kind == "amd64"
    data = bytearray()
    functions = []
    for name in EXPORTS:
        functions.append(SECTION_RVA + len(data))
        data += code(name, wide)
        data += b"\xcc" * (-len(data) % 16)
    directory_at = len(data)
    data += b"\0" * 40
    functions_at = len(data)
    data += struct.pack("<%dI" % len(EXPORTS), *functions)
    ordered = sorted(range(len(EXPORTS)), key=lambda i: EXPORTS[i])  # the loader searches names in order
    names_at = len(data)
    data += b"\0" * 4 * len(EXPORTS)
    ordinals_at = len(data)
    data += struct.pack("<%dH" % len(EXPORTS), *ordered)
    name_rvas = []
    for i in ordered:
        name_rvas.append(SECTION_RVA + len(data))
        data += EXPORTS[i].encode() + b"\0"
    module_at = len(data)
    data += module_name.encode() + b"\0"
    data[names_at:names_at + 4 * len(EXPORTS)] = struct.pack("<%dI" % len(EXPORTS), *name_rvas)
    data[directory_at:directory_at + 40] = struct.pack(
        "<IIHHIIIIIII", 0, 0, 0, 0, SECTION_RVA + module_at, 1, len(EXPORTS), len(EXPORTS),
        SECTION_RVA + functions_at, SECTION_RVA + names_at, SECTION_RVA + ordinals_at)
    return bytes(data), SECTION_RVA + directory_at, len(data) - directory_at


def image(kind, module_name):
    machine, magic, optional_size, characteristics, base = KINDS[kind]
    body, export_rva, export_size = section(kind, module_name)
    raw_size = len(body) + (-len(body) % FILE_ALIGNMENT)
    image_size = SECTION_RVA + len(body) + (-len(body) % SECTION_ALIGNMENT)
    directories = [(0, 0)] * 16
    directories[0] = (export_rva, export_size)
    common = struct.pack("<HBBIIIII", magic, 2, 0, raw_size, 0, 0, 0, SECTION_RVA)
    layout = struct.pack("<II", SECTION_ALIGNMENT, FILE_ALIGNMENT)
    versions = struct.pack("<6H", 4, 0, 0, 0, 5 if kind == "amd64" else 4, 2 if kind == "amd64" else 0)
    sizes = struct.pack("<IIIIHH", 0, image_size, FILE_ALIGNMENT, 0, 2, 0)  # GUI subsystem
    if kind == "amd64":
        optional = common + struct.pack("<Q", base) + layout + versions + sizes + struct.pack(
            "<4Q", 0x100000, 0x1000, 0x100000, 0x1000)
    else:
        optional = common + struct.pack("<II", SECTION_RVA, base) + layout + versions + sizes + struct.pack(
            "<4I", 0x100000, 0x1000, 0x100000, 0x1000)
    optional += struct.pack("<II", 0, 16) + b"".join(struct.pack("<II", *d) for d in directories)
    assert len(optional) == optional_size
    headers = bytearray(b"MZ" + b"\0" * 58 + struct.pack("<I", 64))
    headers += b"PE\0\0" + struct.pack("<HHIIIHH", machine, 1, 0, 0, 0, optional_size, characteristics)
    headers += optional
    # .text: code, initialised data, executable, readable
    headers += struct.pack("<8sIIIIIIHHI", b".text", len(body), SECTION_RVA, raw_size, FILE_ALIGNMENT, 0, 0, 0, 0,
                           0x60000060)
    assert len(headers) <= FILE_ALIGNMENT
    headers += b"\0" * (FILE_ALIGNMENT - len(headers))
    return bytes(headers) + body + b"\0" * (raw_size - len(body))


def main():
    if len(sys.argv) != 4 or sys.argv[1] not in KINDS:
        sys.stderr.write(__doc__)
        return 2
    with open(sys.argv[3], "wb") as f:
        f.write(image(sys.argv[1], sys.argv[2]))
    return 0


if __name__ == "__main__":
    sys.exit(main())
