"""The built tovik.exe's header, sections and imports: 32-bit GUI, hardened, system DLLs only."""
import os
import re
import subprocess
import unittest

SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comdlg32.dll",
               "msvcrt.dll"}


def headers(exe):
    """The header fields, imports and sections, as objdump prints them."""
    return subprocess.run(["objdump", "-p", "-h", exe], check=True,
                          stdout=subprocess.PIPE).stdout.decode()


def sections(dump):
    """Name, size, offset from the image base and flags of every section."""
    base = int(re.search(r"^ImageBase\s+(\w+)", dump, re.M).group(1), 16)
    return [(name, int(size, 16), int(vma, 16) - base, flags.split(", "))
            for name, size, vma, flags in re.findall(
                r"^ +\d+ (\S+) +(\w+) +(\w+) .*\n +(.*)$", dump, re.M)]


def text_section_rvas(exe):
    _, size, start, _ = next(s for s in sections(headers(exe)) if s[0] == ".text")
    return range(start, start + size)


class ExeHeader(unittest.TestCase):
    def test_is_a_hardened_32_bit_gui_program_that_needs_only_system_dlls(self):
        dump = headers(os.path.join(os.environ["TOVIK_BIN"], "tovik.exe"))
        field = lambda name: re.search(rf"^{name}\s+(\S+)", dump, re.M).group(1)
        self.assertEqual((field("Magic"), field("Subsystem")), ("010b", "00000002"),
                         "PE32, Windows GUI")
        self.assertEqual(int(field("DllCharacteristics"), 16) & 0x140, 0x140, "ASLR and DEP")
        self.assertIn(".reloc", [name for name, size, *_ in sections(dump) if size], "relocations")
        for name, *_, flags in sections(dump):
            self.assertFalse("CODE" in flags and "READONLY" not in flags, f"{name} writable and run")
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", dump)}
        self.assertIn("user32.dll", dlls)
        self.assertLessEqual(dlls, SYSTEM_DLLS)


if __name__ == "__main__":
    unittest.main()
