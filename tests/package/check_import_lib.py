#!/usr/bin/python3
"""Checks an MSVC-style import library of morvantis.dll against the .def.

    check_import_lib.py DEF LIB LLVM_NM

The archive's symbol index (read with llvm-nm) must hold, for each export
of the .def, the decorated name a 32-bit compiler references (_CAN_Init@0)
and its __imp_ pointer, and nothing else but the import descriptors. Each
short import member (Microsoft's import library format: a 20-byte header,
then the symbol and the DLL name) must name the DLL, be a 32-bit x86 code
import (the decorations exist only there), and import the export by its
undecorated name (name type "undecorate": the symbol without its leading _
and its @N), with the export's ordinal as the hint. Prints each fault and
exits 1 if there is any.
"""

import re
import struct
import subprocess
import sys

MACHINE_I386 = 0x14C
IMPORT_CODE = 0
NAME_TYPES = {0: "ordinal", 1: "name", 2: "noprefix", 3: "undecorate"}
DESCRIPTORS = {"__NULL_IMPORT_DESCRIPTOR"}


def read_def(path):
    """The DLL's name and (decorated name, ordinal) of each export."""
    dll = None
    exports = []
    in_exports = False
    with open(path, encoding="ascii") as lines:
        for line in lines:
            line = line.split(";", 1)[0].strip()
            if not line:
                continue
            library = re.fullmatch(r'LIBRARY\s+"?([^"\s]+)"?', line)
            if library:
                dll = library.group(1)
            elif line == "EXPORTS":
                in_exports = True
            elif in_exports:
                entry = re.fullmatch(r"(\w+@\d+)\s+@(\d+)", line)
                if not entry:
                    sys.exit(f"{path}: unexpected export line: {line}")
                exports.append((entry.group(1), int(entry.group(2))))
    if dll is None or not exports:
        sys.exit(f"{path}: no LIBRARY or no EXPORTS")
    return dll, exports


def archive_members(path):
    """The data of each member of an ar archive."""
    with open(path, "rb") as archive:
        data = archive.read()
    if not data.startswith(b"!<arch>\n"):
        sys.exit(f"{path}: not an archive")
    offset = 8
    while offset + 60 <= len(data):
        header = data[offset : offset + 60]
        if header[58:60] != b"`\n":
            sys.exit(f"{path}: broken member header at {offset}")
        size = int(header[48:58])
        start = offset + 60
        yield header[:16].rstrip(b" "), data[start : start + size]
        offset = start + size + (size & 1)


def short_imports(path):
    """(symbol, dll, machine, type, name type, hint) of each short import member."""
    imports = []
    for name, member in archive_members(path):
        if name in (b"/", b"//") or member[:4] != b"\0\0\xff\xff":
            continue
        _, _, _, machine, _, size, hint, flags = struct.unpack_from("<HHHHIIHH", member)
        symbol, dll = member[20 : 20 + size].split(b"\0")[:2]
        imports.append(
            (symbol.decode(), dll.decode(), machine, flags & 3, (flags >> 2) & 7, hint))
    return imports


def imported_name(symbol, name_type):
    """The export name the loader looks up for a symbol, as name types say."""
    if name_type == 1:
        return symbol
    if name_type == 2:
        return symbol.lstrip("?@_")
    if name_type == 3:
        return symbol.lstrip("?@_").split("@", 1)[0]
    return None


def armap_symbols(path, llvm_nm):
    output = subprocess.run([llvm_nm, "--print-armap", path], check=True,
                            capture_output=True, text=True).stdout
    index = output.split("Archive map\n", 1)[1].split("\n\n", 1)[0]
    return {line.split(" in ", 1)[0] for line in index.splitlines()}


def main():
    def_path, lib_path, llvm_nm = sys.argv[1:4]
    dll, exports = read_def(def_path)
    faults = []

    wanted = {"_" + name for name, _ in exports}
    wanted |= {"__imp_" + symbol for symbol in wanted}
    descriptor = "__IMPORT_DESCRIPTOR_" + dll.rsplit(".", 1)[0]
    thunk_end = "\x7f" + dll.rsplit(".", 1)[0] + "_NULL_THUNK_DATA"
    indexed = armap_symbols(lib_path, llvm_nm) - DESCRIPTORS - {descriptor, thunk_end}
    for symbol in sorted(wanted - indexed):
        faults.append(f"symbol index lacks {symbol}")
    for symbol in sorted(indexed - wanted):
        faults.append(f"symbol index has {symbol}, which {def_path} does not export")

    imports = {entry[0]: entry for entry in short_imports(lib_path)}
    for name, ordinal in exports:
        symbol = "_" + name
        plain = name.split("@", 1)[0]
        if symbol not in imports:
            faults.append(f"no import member for {symbol}")
            continue
        _, member_dll, machine, kind, name_type, hint = imports.pop(symbol)
        imported = imported_name(symbol, name_type)
        if member_dll != dll:
            faults.append(f"{symbol} imports from {member_dll}, expected {dll}")
        if machine != MACHINE_I386:
            faults.append(f"{symbol} is for machine {machine:#x}, expected i386")
        if kind != IMPORT_CODE:
            faults.append(f"{symbol} is not a code import (type {kind})")
        if imported != plain:
            faults.append(f"{symbol} imports {imported or 'by ordinal'} "
                          f"(name type {NAME_TYPES.get(name_type, name_type)}), "
                          f"expected {plain}")
        if hint != ordinal:
            faults.append(f"{symbol} has hint {hint}, expected ordinal {ordinal}")
    for symbol in sorted(imports):
        faults.append(f"import member {symbol}, which {def_path} does not export")

    for fault in faults:
        print(f"{lib_path}: {fault}")
    if faults:
        return 1
    print(f"{lib_path}: {len(exports)} imports from {dll}, each by its undecorated name "
          "with its ordinal as hint")
    for name, ordinal in exports:
        print(f"  @{ordinal:<2} _{name:<22} -> {name.split('@', 1)[0]}")
    return 0


if __name__ == "__main__":
    sys.exit(main())
