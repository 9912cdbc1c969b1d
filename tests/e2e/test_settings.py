"""Every way out of the real program, read back as the settings file's bytes and exit statuses,
and the failure report for a malformed value."""
import json
import pathlib
import re
import struct
import time
import unittest

from harness import (EXE, FRESH_FILE, SLOW, WM_CLOSE, WM_COMMAND, WM_ENDSESSION, LauncherTest,
                     click, close_by_title_bar, eventually, keys, probe, tree)


def code_range(exe):
    """The offsets from the image base that the exe's code section spans, from its headers."""
    image = pathlib.Path(exe).read_bytes()
    header = struct.unpack_from("<I", image, 0x3C)[0]
    sections, optional = struct.unpack_from("<H12xH", image, header + 6)
    table = header + 24 + optional
    for at in range(table, table + 40 * sections, 40):
        name, size, start = struct.unpack_from("<8sII", image, at)
        if name.rstrip(b"\0") == b".text":
            return range(start, start + size)
    raise AssertionError(f"{exe} has no code section")


class WaysOut(LauncherTest):
    def test_every_way_out_saves_the_same_file_and_ends_with_zero_but_a_quit_saves_nothing(self):
        ways = {  # the system menu's Close gives the same command as Alt+F4
            "Cancel": lambda: click(tree(), "Cancel"),
            "title bar": close_by_title_bar,
            "Alt+F4": lambda: keys("alt+F4"),
            "log-off": lambda: probe("send", WM_ENDSESSION, 1),
            "quit": lambda: probe("quit"),  # reading never creates the file either
        }
        for name, leave in ways.items():
            with self.subTest(way=name):
                launcher = self.launcher(suffix=name.replace(" ", "-")).start()
                leave()
                self.assertEqual(launcher.wait_exit(), 0)
                self.assertEqual(launcher.ini.exists() and launcher.ini.read_bytes(),
                                 name != "quit" and FRESH_FILE)


class FailureReport(LauncherTest):
    def test_malformed_value_reports_and_ends_with_one_leaving_the_file_alone_whatever_is_tried(self):
        data = b"[Main]\r\nCount=3x\r\n[MRU]\r\nMRU0=x\r\n"  # read after the window shows
        launcher = self.launcher(data)
        launcher.start(wait=False)
        found = eventually(lambda: (f := json.loads(probe("boxes")))["boxes"] and f, 15)
        self.assertTrue(found, "no report appeared")
        box = found["boxes"][0]
        self.assertEqual((box["window"]["text"], box["owner"]), ("Application Error", 0))
        text = next(c["text"] for c in box["children"] if c["text"].startswith("Exception"))
        first, second = text.split("\n")
        match = re.fullmatch(r"Exception EConvertError in module tovik\.exe at ([0-9A-F]{8})\.",
                             first)
        self.assertIsNotNone(match, first)
        self.assertIn(int(match.group(1), 16), code_range(EXE))
        self.assertEqual(second, "'3x' is not a valid integer value.")
        self.assertTrue(box["main_visible"], "the report came before the window")
        # Each way out, with the command it gives where the report makes the click do nothing;
        # the close last, as it takes the window away (its WM_DESTROY is what must do nothing).
        click(tree(), "Cancel")
        probe("post", WM_COMMAND, 0, "=Cancel")
        probe("send", WM_ENDSESSION, 1)
        close_by_title_bar()
        probe("post", WM_CLOSE, 0)
        time.sleep(SLOW)  # nothing may happen: give it the time to happen
        self.assertTrue(launcher.running(), "the report still waits")
        self.assertEqual(launcher.ini.read_bytes(), data)
        probe("close-box")
        self.assertEqual(launcher.wait_exit(), 1)
        self.assertEqual(launcher.ini.read_bytes(), data)

if __name__ == "__main__":
    unittest.main()
