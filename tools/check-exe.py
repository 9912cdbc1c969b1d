#!/usr/bin/env python3
"""Checks a built tovik.exe's manifest and version resource against what it must carry: the
version 6 common controls for the exe's own architecture and nothing else declared (no execution
level, no DPI awareness, no supported-OS list), each in one language only, the identity 1.0.0.0
with a short description, and the version numbers of res/version.h; and the graphical subsystem
at a version below 6.0, which gives the window the client area its fixed sizes were made for.
Reads the PE file itself, so it runs anywhere.
    check-exe.py EXE...
"""
import os
import re
import struct
import sys
import xml.etree.ElementTree as ET

ARCHITECTURES = {0x14C: "X86", 0x8664: "amd64", 0xAA64: "arm64"}
RT_VERSION, RT_MANIFEST = 16, 24
NS = "{urn:schemas-microsoft-com:asm.v1}"
VERSION_H = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "res", "version.h")


def subsystem(data):
    """The subsystem, its version and the operating system version from the optional header."""
    optional = struct.unpack_from("<I", data, 0x3C)[0] + 24
    os_major, os_minor, _, _, major, minor = struct.unpack_from("<6H", data, optional + 40)
    return struct.unpack_from("<H", data, optional + 68)[0], (major, minor), (os_major, os_minor)


def resources(data):
    """The machine the exe is for, and its resources as {(type, id): bytes}."""
    pe = struct.unpack_from("<I", data, 0x3C)[0]
    machine, sections, optional_size = struct.unpack_from("<HH12xH", data, pe + 4)
    optional = pe + 24
    magic = struct.unpack_from("<H", data, optional)[0]
    directories = optional + (96 if magic == 0x10B else 112)
    root_rva = struct.unpack_from("<I", data, directories + 2 * 8)[0]
    table = [struct.unpack_from("<8xIIII", data, optional + optional_size + 40 * i)
             for i in range(sections)]

    def offset(rva):
        for size, address, raw_size, raw in table:
            if address <= rva < address + max(size, raw_size):
                return rva - address + raw
        raise ValueError(f"address {rva:#x} lies in no section")

    root = offset(root_rva)

    def entries(directory):
        named, ids = struct.unpack_from("<HH", data, directory + 12)
        for i in range(named + ids):
            name, target = struct.unpack_from("<II", data, directory + 16 + 8 * i)
            yield name, target

    found = {}  # every language of each resource, in the file's order
    for kind, types in entries(root):
        for name, languages in entries(root + (types & 0x7FFFFFFF)):
            for _, leaf in entries(root + (languages & 0x7FFFFFFF)):
                rva, size = struct.unpack_from("<II", data, root + leaf)
                found.setdefault((kind, name), []).append(data[offset(rva):offset(rva) + size])
    return ARCHITECTURES.get(machine, hex(machine)), found


def problems(path):
    data = open(path, "rb").read()
    arch, found = resources(data)
    defined = dict(re.findall(r'#define TOVIK_VERSION_(\w+) "?([^"\n]*)"?', open(VERSION_H).read()))
    numbers = tuple(int(defined[k]) for k in ("MAJOR", "MINOR", "PATCH", "BUILD"))
    wrong = []
    kind, version, _ = subsystem(data)
    if kind != 2 or version >= (6, 0):
        wrong.append(f"subsystem {kind} version {version[0]}.{version[1]}, not the graphical one "
                     "below 6.0")
    for (kind, name), copies in sorted(found.items()):
        if kind in (RT_VERSION, RT_MANIFEST) and (name != 1 or len(copies) > 1):
            wrong.append(f"a second {'manifest' if kind == RT_MANIFEST else 'version resource'}"
                         f" (id {name}, {len(copies)} language(s))")
    version = found.get((RT_VERSION, 1), [None])[0]
    if version is None:
        wrong.append("no version resource")
    else:
        fixed = version.find(struct.pack("<I", 0xFEEF04BD))
        ms, ls, product_ms, product_ls = struct.unpack_from("<4I", version, fixed + 8)
        for name, (high, low) in (("file", (ms, ls)), ("product", (product_ms, product_ls))):
            if (high >> 16, high & 0xFFFF, low >> 16, low & 0xFFFF) != numbers:
                wrong.append(f"{name} version {high >> 16}.{high & 0xFFFF}.{low >> 16}.{low & 0xFFFF}")
        texts = version.decode("utf-16-le", "replace")
        for key in ("FileVersion", "ProductVersion"):
            value = re.search(key + r"\x00+([^\x00]*)", texts)
            if not value or value.group(1) != defined["TEXT"]:
                wrong.append(f"{key} text {value and value.group(1)!r}")
    manifest = found.get((RT_MANIFEST, 1), [None])[0]
    if manifest is None:
        return wrong + ["no manifest"], arch
    root = ET.fromstring(manifest)
    children = [child.tag.replace(NS, "") for child in root]
    if children != ["assemblyIdentity", "description", "dependency"]:
        wrong.append(f"the manifest declares {children}")
    # The manifest's identity stays 1.0.0.0 whatever the program's own version.
    identity = root.find(NS + "assemblyIdentity")
    if identity is None or identity.get("version") != "1.0.0.0":
        wrong.append("the manifest's identity is not 1.0.0.0")
    elif identity.get("processorArchitecture") != arch:
        wrong.append(f"the manifest's identity names {identity.get('processorArchitecture')}")
    controls = root.findall(f"{NS}dependency/{NS}dependentAssembly/{NS}assemblyIdentity")
    wanted = {"name": "Microsoft.Windows.Common-Controls", "version": "6.0.0.0",
              "processorArchitecture": arch, "publicKeyToken": "6595b64144ccf1df"}
    if len(controls) != 1 or any(controls[0].get(k) != v for k, v in wanted.items()):
        wrong.append(f"the dependency is not the common controls 6.0.0.0 for {arch}")
    return wrong, arch


def main(exes):
    status = 0
    for exe in exes:
        wrong, arch = problems(exe)
        if wrong:
            print(f"check-exe: {exe}: " + "; ".join(wrong))
            status = 1
        else:
            _, version, os_version = subsystem(open(exe, "rb").read())
            print(f"check-exe: {exe}: {arch}, subsystem {version[0]}.{version[1]} (system "
                  f"{os_version[0]}.{os_version[1]}), version resource and manifest as they must be")
    return status


if __name__ == "__main__":  # also read by scoop-manifest.py
    sys.exit(main(sys.argv[1:]))
