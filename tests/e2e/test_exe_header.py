"""The built tovik.exe's PE header, sections and imports: 32-bit GUI, hardened, system DLLs only."""
import os
import struct
import unittest

EXE = os.path.join(os.environ["TOVIK_BIN"], "tovik.exe")
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
        self.import_rva, _ = struct.unpack_from("<II", data, directories + 8)
        self.reloc_rva, self.reloc_size = struct.unpack_from("<II", data, directories + 5 * 8)
        self.sections = []  # name, RVA, size, file offset, flags
        table = opt + optional_size
        for i in range(sections):
            name, vsize, rva, rawsize, rawptr = struct.unpack_from("<8sIIII", data, table + 40 * i)
            flags = struct.unpack_from("<I", data, table + 40 * i + 36)[0]
            self.sections.append((name.rstrip(b"\0").decode(), rva, max(vsize, rawsize), rawptr, flags))

    def offset(self, rva):
        for _, start, size, rawptr, _ in self.sections:
            if start <= rva < start + size:
                return rawptr + rva - start
        raise ValueError(hex(rva))

    def cstring(self, rva):
        at = self.offset(rva)
        return self.data[at:self.data.index(b"\0", at)].decode()

    def imports(self):
        names, at = [], self.offset(self.import_rva)
        while True:
            lookup, _, _, name, thunk = struct.unpack_from("<IIIII", self.data, at)
            if name == 0:
                return names
            names.append(self.cstring(name))
            at += 20


class ExeHeader(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        with open(EXE, "rb") as f:
            cls.image = PeImage(f.read())

    def test_is_a_32_bit_windows_gui_program(self):
        self.assertEqual(self.image.machine, 0x14C, "Intel 80386")
        self.assertEqual(self.image.magic, 0x10B, "PE32")
        self.assertEqual(self.image.subsystem, 2, "Windows GUI")

    def test_asks_for_aslr_with_its_relocations_and_dep(self):
        self.assertTrue(self.image.dll_characteristics & 0x40, "DYNAMIC_BASE")
        self.assertTrue(self.image.dll_characteristics & 0x100, "NX_COMPAT")
        self.assertFalse(self.image.characteristics & 0x1, "relocations stripped")
        self.assertGreater(self.image.reloc_size, 0)

    def test_no_section_is_both_writable_and_executable(self):
        for name, _, _, _, flags in self.image.sections:
            self.assertFalse(flags & 0x80000000 and flags & 0x20000000, name)

    def test_imports_only_dlls_that_windows_ships(self):
        imports = {name.lower() for name in self.image.imports()}
        self.assertTrue(imports)
        self.assertLessEqual(imports, SYSTEM_DLLS)

    def test_limits_dll_loading_without_importing_the_call(self):
        self.assertIn(b"SetDefaultDllDirectories\0", self.image.data)
        self.assertEqual(self.image.timestamp, 0, "no time stamp: builds are reproducible")


if __name__ == "__main__":
    unittest.main()
