#!/usr/bin/env python3
"""What each part of tovik.exe contributes, from the linker's map: Tovik's own code, the C++
library, the C runtime start-up, the unwinder, the resources and the rest; the exe's size against
its target beside them.
    size-report.py EXE MAP [TARGET-BYTES]
"""
import collections
import os
import re
import sys

# Output sections that take room in the exe; debugging sections are stripped.
KEPT = {".text", ".data", ".rdata", ".eh_frame", ".bss", ".pdata", ".xdata", ".CRT", ".tls",
        ".rsrc", ".reloc", ".idata"}
# An input section: its name (or on the line before), address, size and the file it came from.
INPUT = re.compile(r"^ (?:\S+)?\s+0x[0-9a-f]+\s+0x([0-9a-f]+)\s+(\S.*)$")
PARTS = (  # the first pattern that matches an input file names its part
    ("Tovik's own code", r"libtovik_|\.cpp\.obj$|\.ltrans\.o$"),
    ("resources", r"\.res$"),
    ("C++ library", r"libstdc\+\+|libsupc\+\+"),
    ("unwinder", r"libgcc_eh|libgcc_s|libunwind"),
    ("threads (winpthreads)", r"libwinpthread|libpthread"),
    ("C runtime start-up", r"crt\w*\.o|libmingw|libmsvcrt|libgcc\.a|libucrt"),
    ("import tables", r"lib(kernel32|user32|gdi32|shell32|comdlg32|advapi32)\.a"),
    ("relocations (for ASLR)", r"^dll stuff$"),
)


def part_of(source):
    name = os.path.basename(source.split("(")[0].strip())
    return next((part for part, pattern in PARTS if re.search(pattern, name)), "other")


def parts(map_path):
    sizes, kept = collections.Counter(), False
    for line in open(map_path, errors="replace"):
        if line[:1] not in " \t\n":  # an output section, or what follows them
            kept = line.split()[0] in KEPT
        elif kept and not line.startswith(" *fill*") and (match := INPUT.match(line)):
            sizes[part_of(match.group(2))] += int(match.group(1), 16)
    return sizes


def main():
    exe, map_path = sys.argv[1:3]
    target = int(sys.argv[3]) if len(sys.argv) > 3 else 160 * 1024
    size = os.path.getsize(exe)
    print(f"size: tovik.exe {size} bytes ({size / 1024:.1f} KB) against the target of "
          f"{target // 1024} KB: {'within' if size <= target else 'OVER'}")
    sizes = parts(map_path)
    for part, bytes_ in sizes.most_common():
        print(f"size:   {part:<24} {bytes_:>7} bytes")
    print(f"size:   (the rest is headers, alignment and the sections' padding: "
          f"{size - sum(sizes.values())} bytes)")


main()
