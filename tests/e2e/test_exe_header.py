"""The built tovik.exe's PE header, sections and imports: 32-bit GUI, hardened, system DLLs only."""
import os
import re
import subprocess
import unittest

EXE = os.path.join(os.environ["TOVIK_BIN"], "tovik.exe")
SYSTEM_DLLS = {"kernel32.dll", "user32.dll", "gdi32.dll", "shell32.dll", "comdlg32.dll",
               "msvcrt.dll"}


def objdump(*options, exe=EXE):
    return subprocess.run(["objdump", *options, exe], check=True,
                          stdout=subprocess.PIPE).stdout.decode()


def sections(exe=EXE):
    """Name, offset from the image base, size and flags of every section."""
    base = int(re.search(r"^ImageBase\s+(\w+)", objdump("-p", exe=exe), re.M).group(1), 16)
    return [(name, int(vma, 16) - base, int(size, 16), flags.split(", "))
            for name, size, vma, flags in re.findall(
                r"^ +\d+ (\S+) +(\w+) +(\w+) .*\n +(.*)$", objdump("-h", exe=exe), re.M)]


def text_section_rvas(exe):
    _, start, size, _ = next(s for s in sections(exe) if s[0] == ".text")
    return range(start, start + size)


class ExeHeader(unittest.TestCase):
    def test_is_a_hardened_32_bit_gui_program_that_needs_only_system_dlls(self):
        header = objdump("-p", "-f")
        field = lambda name: re.search(rf"^{name}\s+(\S+)", header, re.M).group(1)
        self.assertIn("file format pei-i386", header)
        self.assertEqual((field("Magic"), field("Subsystem"), field("ImageBase")),
                         ("010b", "00000002", "00400000"), "PE32, Windows GUI")
        self.assertEqual(int(field("DllCharacteristics"), 16) & 0x140, 0x140,
                         "DYNAMIC_BASE and NX_COMPAT")
        self.assertIn("HAS_RELOC", header, "relocations kept")
        for name, _, _, flags in sections():
            self.assertFalse("CODE" in flags and "READONLY" not in flags, f"{name} writable and run")
        dlls = {name.lower() for name in re.findall(r"DLL Name: (\S+)", header)}
        self.assertIn("user32.dll", dlls)
        self.assertLessEqual(dlls, SYSTEM_DLLS)
        # The DLL search rule is looked up at run time, not imported: older systems lack it.
        with open(EXE, "rb") as f:
            self.assertIn(b"SetDefaultDllDirectories\0", f.read())
        self.assertIn("Time/Date\t\tThu Jan  1 00:00:00 1970", header, "reproducible: no stamp")


if __name__ == "__main__":
    unittest.main()
