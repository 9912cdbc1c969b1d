"""Launching through the shell into the recorder, the boxes it may show, the history it leaves
in the settings file, what must not end the launcher (Escape with the list open, a log-off that
was called off), and the DLLs a launch may make the shell load."""
import os
import pathlib
import shutil
import subprocess
import unittest

from harness import (ENV, PLANTED, VERSION, WM_COMMAND, WM_ENDSESSION, WM_SYSCOMMAND, LauncherTest,
                     click, control, error_log, eventually, keys, probe, tree, type_text,
                     windows_program, winpath)


class Launching(LauncherTest):
    def assertBoxClosesAloneOnEscape(self, launcher):
        keys("Escape")
        self.assertTrue(eventually(lambda: tree()["boxes"] == []))
        self.assertTrue(launcher.running())
        self.assertFocusIn("ComboBox")

    def test_a_session_of_launches_leaves_its_history_and_every_other_line_in_the_file(self):
        long_entry = "h" * 5000  # longer than the platform fetches from a list in one piece
        launcher = self.launcher(
            "; my notes\r\n[Other]\r\nkeep=me\r\n[Main]\r\nTop=210\r\nLeft=320\r\nExtra=1\r\n"
            f"Count=1\r\n[MRU]\r\nMRU0={long_entry}\r\n").start()
        rec = launcher.recorder
        type_text(f'"{rec}" hello world')
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{rec}"  hello world'])
        probe("set-text", f'"{rec}" two')
        click(tree(), "Start")
        launcher.recorded(2)
        # Another program's command 2, or 1 with a notification code, does nothing; command 1
        # from no control launches like Enter.
        probe("set-text", f'"{rec.upper()}" HELLO WORLD')
        probe("post", WM_COMMAND, 2)
        probe("post", WM_COMMAND, 0x10001)
        probe("post", WM_COMMAND, 1, 0x1234)
        self.assertEqual(launcher.recorded(3), [f'"{rec}"  hello world', f'"{rec}"  two',
                                                f'"{rec.upper()}"  HELLO WORLD'])
        history = [f'"{rec}" two', f'"{rec}" hello world', long_entry]
        t = tree()
        self.assertEqual(t["combo"]["items"], history, "new at the top, once in any letter case")
        self.assertEqual(t["combo"]["text"], f'"{rec.upper()}" HELLO WORLD', "a launch keeps it")

        probe("set-text", '"no such program" -x')
        keys("Return")
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "OOPS...")
        self.assertBoxClosesAloneOnEscape(launcher)
        self.assertEqual(tree()["combo"]["items"], history)
        self.assertEqual(tree()["combo"]["text"], '"no such program" -x')

        probe("post", WM_SYSCOMMAND, 0xFFFF)  # the system menu's About...
        box = launcher.wait_box()
        self.assertEqual((box["window"]["text"], box["owner"]), ("About Tovik", tree()["main"]["hwnd"]))
        self.assertIn(f"Tovik - Version {VERSION}",
                      [c["text"].split("\n")[0] for c in box["children"]])
        self.assertBoxClosesAloneOnEscape(launcher)

        # X deletes the entry matching in any case, clears the field and focuses it.
        probe("set-text", f'"{rec.upper()}" TWO')
        click(tree(), "X")
        self.assertTrue(eventually(lambda: tree()["combo"]["text"] == ""))
        self.assertFocusIn("ComboBox")
        history.remove(f'"{rec}" two')
        self.assertEqual(tree()["combo"]["items"], history)

        # Escape with the list open closes only the list (closed, it is a way out).
        keys("alt+Down")
        self.assertTrue(eventually(lambda: tree()["combo"]["dropped"]))
        for _ in range(3):  # Wine's list may take a second Escape; the launcher outlives each
            keys("Escape")
            if eventually(lambda: tree()["combo"]["dropped"] == 0, timeout=1):
                break
        self.assertEqual(tree()["combo"]["dropped"], 0)
        probe("send", WM_ENDSESSION, 0)  # a log-off that was called off ends nothing either
        self.assertTrue(launcher.running())

        click(tree(), " minimize")
        self.assertTrue(eventually(lambda: control(tree(), " minimize")["check"] == 1))
        probe("set-text", f'"{rec}" m')
        keys("Return")
        t = eventually(lambda: (t := tree())["iconic"] and t)
        self.assertTrue(t, "a launch with minimize checked minimizes")
        self.assertEqual(t["combo"]["text"], f'"{rec}" m')
        # Cancel while minimized saves the place the window returns to.
        probe("post", WM_COMMAND, 0, "=Cancel")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini.read_bytes().decode("latin-1"), (
            "; my notes\r\n[Other]\r\nkeep=me\r\n[Main]\r\nTop=210\r\nLeft=320\r\nExtra=1\r\n"
            f'Count=3\r\nDoClose=0\r\nDoMinimize=1\r\n[MRU]\r\nMRU0=""{rec}" m"\r\n'
            f'MRU1=""{rec}" hello world"\r\nMRU2={long_entry}\r\n'))

class DllSearch(LauncherTest):
    # A document type with two shell handlers: one named by its bare file name, as a careless
    # installer registers it, and one by its full path. The shell loads both while it opens the
    # document; a copy of the first lying beside tovik.exe must not be what it finds.
    def test_a_dll_planted_beside_the_launcher_is_not_loaded_by_the_shell_it_asks(self):
        launcher = self.launcher().start()
        folder = launcher.folder
        os.makedirs(os.path.join(folder, "control"))
        for name in ("planted.dll", "control/named.dll"):
            shutil.copy(PLANTED, os.path.join(folder, name))
        document = winpath(folder + "/document.tovikplant")
        open(os.path.join(folder, "document.tovikplant"), "w").close()
        values = {".tovikplant": "tovikplantfile",
                  "tovikplantfile\\shell\\open\\command": f'"{launcher.recorder}" "%1"'}
        for n, dll in enumerate(("planted.dll", winpath(folder + "/control/named.dll"))):
            clsid = f"{{6C3E2A10-7D1B-4E0B-9A55-2F1C0B7E9D0{n}}}"
            values[f"tovikplantfile\\shellex\\ContextMenuHandlers\\{clsid}"] = ""
            for view in ("", "Wow6432Node\\"):  # the 32-bit view too, for the shipped exe
                values[f"{view}CLSID\\{clsid}\\InprocServer32"] = dll
        quoted = lambda text: '"' + text.replace("\\", "\\\\").replace('"', '\\"') + '"'
        # Bytes as they stand: a text file on Windows would end each line in \r\r\n.
        pathlib.Path(folder, "handlers.reg").write_bytes(("REGEDIT4\r\n" + "".join(
            f"[HKEY_LOCAL_MACHINE\\Software\\Classes\\{key}]\r\n@={quoted(value)}\r\n"
            for key, value in values.items())).encode())
        # Each view as the file names it, whatever the loader: a 32-bit regedit would put the
        # 64-bit names into the 32-bit view.
        handlers = winpath(folder + "/handlers.reg")
        subprocess.run(windows_program("reg", "import", handlers, "/reg:64"), env=ENV, check=True,
                       stdout=error_log("reg"), stderr=subprocess.STDOUT)
        probe("set-text", f'"{document}"')
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}" "{document}"'])
        self.assertEqual([os.path.exists(f"{folder}/{name}.loaded")
                          for name in ("control/named.dll", "planted.dll")], [True, False],
                         "the shell must try the handlers, and never the DLL beside tovik.exe")


if __name__ == "__main__":
    unittest.main()
