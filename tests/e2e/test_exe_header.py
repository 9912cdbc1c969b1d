"""The built tovik.exe's PE header, sections and imports: 32-bit GUI, hardened, system DLLs only."""
import os
import struct
import unittest

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comdlg32.dll",
               "msvcrt.dll"}


class PeImage:
    def __init__(self, data):
        self.data = data
        pe = struct.unpack_from("<I", data, 0x3C)[0]
        assert data[pe:pe + 4] == b"PE\0\0"
        (self.machine, sections, self.timestamp, _, _, optional_size,
         self.characteristics) = struct.unpack_from("<HHIIIHH", data, pe + 4)
        opt = pe + 24
        self.magic = struct.unpack_from("<H", data, opt)[0]
        self.subsystem, self.dll_characteristics = struct.unpack_from("<HH", data, opt + 68)
        directories = opt + (96 if self.magic == 0x10B else 112)  # PE32 or PE32+
        self.import_rva = struct.unpack_from("<I", data, directories + 8)[0]
        self.reloc_size = struct.unpack_from("<I", data, directories + 5 * 8 + 4)[0]
        self.sections = []  # name, RVA, size, file offset, flags
        for at in range(opt + optional_size, opt + optional_size + 40 * sections, 40):
            name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, at)
            flags = struct.unpack_from("<I", data, at + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, rawsize), rawptr, flags))

    def offset(self, rva):
        return next(ptr + rva - start for _, start, size, ptr, _ in self.sections
                    if start <= rva < start + size)

    def imports(self):
        """The names of the imported DLLs, from the import directory's 20-byte entries."""
        names, at = [], self.offset(self.import_rva)
        while name := struct.unpack_from("<I", self.data, at + 12)[0]:
            names.append(self.data[self.offset(name):self.data.index(b"\0", self.offset(name))])
            at += 20
        return [name.decode() for name in names]


class ExeHeader(unittest.TestCase):
    def test_is_a_hardened_32_bit_gui_program_that_needs_only_system_dlls(self):
        with open(os.path.join(os.environ["TOVIK_BIN"], "tovik.exe"), "rb") as f:
            image = PeImage(f.read())
        self.assertEqual((image.machine, image.magic, image.subsystem), (0x14C, 0x10B, 2),
                         "Intel 80386, PE32, Windows GUI")
        self.assertEqual(image.dll_characteristics & 0x140, 0x140, "DYNAMIC_BASE and NX_COMPAT")
        self.assertFalse(image.characteristics & 0x1, "relocations stripped")
        self.assertGreater(image.reloc_size, 0)
        for name, _, _, _, flags in image.sections:
            self.assertFalse(flags & 0x80000000 and flags & 0x20000000, f"{name} writable and run")
        dlls = {name.lower() for name in image.imports()}
        self.assertIn("user32.dll", dlls)
        self.assertLessEqual(dlls, SYSTEM_DLLS)
        # The DLL search rule is looked up at run time, not imported: older systems lack it.
        self.assertIn(b"SetDefaultDllDirectories\0", image.data)
        self.assertEqual(image.timestamp, 0, "no time stamp: builds are reproducible")


if __name__ == "__main__":
    unittest.main()
