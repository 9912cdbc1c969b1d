"""The settings file after every way out, read back as bytes and through the profile reader."""
import json
import os
import re
import unittest

from harness import (BIN, FRESH_FILE, WM_ENDSESSION, WM_SYSCOMMAND, LauncherTest, click_control,
                     eventually, keys, probe, type_text, xdotool)
from test_exe_header import PeImage

SC_MINIMIZE, SC_CLOSE = 0xF020, 0xF060


def text_section_rvas(exe):
    """The code section of the exe as a range of offsets from its image base."""
    with open(exe, "rb") as f:
        _, start, size, _, _ = next(s for s in PeImage(f.read()).sections if s[0] == ".text")
    return range(start, start + size)


class WaysOut(LauncherTest):
    def test_every_way_out_writes_the_same_file(self):
        def title_bar_close(launcher):
            outer = launcher.tree()["outer"]
            xdotool("mousemove", str(outer[2] - 12), str(outer[1] + 11), "click", "1")

        ways = {
            "Cancel": lambda l: click_control(l.tree(), "Cancel"),
            "Escape": lambda l: keys("Escape"),
            "title bar": title_bar_close,
            "Alt+F4": lambda l: keys("alt+F4"),
            "system menu close": lambda l: probe("post", str(WM_SYSCOMMAND), str(SC_CLOSE)),
            "log-off": lambda l: probe("send", str(WM_ENDSESSION), "1"),
        }
        for name, leave in ways.items():
            with self.subTest(way=name):
                launcher = self.launcher().start()
                leave(launcher)
                self.assertEqual(launcher.wait_exit(), 0)
                self.assertEqual(launcher.ini_bytes(), FRESH_FILE)

    def test_close_after_a_launch_saves_the_new_entry(self):
        launcher = self.launcher("[Main]\r\nDoClose=1\r\n").start()
        type_text(f'"{launcher.recorder}" x')
        keys("Return")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_value("Main", "Count"), "1")
        self.assertEqual(launcher.ini_value("MRU", "MRU0"), f'"{launcher.recorder}" x')
        self.assertEqual(len(launcher.recorded()), 1)

    def test_existing_file_keeps_what_the_program_does_not_write(self):
        launcher = self.launcher(
            "; my notes\r\n[Other]\r\nkeep=me\r\n[Main]\r\nTop=30\r\nLeft=-40\r\nDoClose=5\r\n"
            "DoMinimize=$10\r\nExtra=1\r\nCount=2\r\n[MRU]\r\nMRU0=a\r\nMRU1=b\r\nMRU2=old\r\n")
        launcher.start()
        self.assertEqual(launcher.tree()["outer"][:2], [-40, 30])
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        expected = {("Other", "keep"): "me", ("Main", "Top"): "30", ("Main", "Left"): "-40",
                    ("Main", "DoClose"): "5", ("Main", "DoMinimize"): "16",
                    ("Main", "Extra"): "1", ("Main", "Count"): "2", ("MRU", "MRU0"): "a",
                    ("MRU", "MRU1"): "b", ("MRU", "MRU2"): "old"}
        for (section, key), value in expected.items():
            self.assertEqual(launcher.ini_value(section, key), value, key)

    def test_minimized_window_saves_its_restored_position(self):
        launcher = self.launcher("[Main]\r\nTop=210\r\nLeft=320\r\n").start()
        probe("post", str(WM_SYSCOMMAND), str(SC_MINIMIZE))
        self.assertTrue(eventually(lambda: launcher.tree()["iconic"]))
        probe("post", "0x111", "0", "=Cancel")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual((launcher.ini_value("Main", "Top"), launcher.ini_value("Main", "Left")),
                         ("210", "320"))

    def test_moved_window_reopens_where_it_was_closed(self):
        launcher = self.launcher().start()
        # Dragged by its title bar with the mouse, as a user moves it.
        xdotool("mousemove", "160", "110", "mousedown", "1", "mousemove", "200", "150",
                "mousemove", "310", "290", "mouseup", "1")
        position = eventually(lambda: (p := launcher.tree()["outer"][:2]) != [100, 100] and p)
        self.assertTrue(position, "the window did not move")
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        again = self.launcher(suffix="-again")
        os.replace(launcher.ini, again.ini)
        self.assertEqual(again.start().tree()["outer"][:2], position)


class FailureReport(LauncherTest):
    def test_malformed_value_reports_and_ends_with_one_leaving_the_file_alone(self):
        cases = {
            "Top=abc": ("'abc' is not a valid integer value.", False),
            "Top=": ("'' is not a valid integer value.", False),
            "DoMinimize=1.0": ("'1.0' is not a valid integer value.", False),
            "Count=-2147483649": ("'-2147483649' is not a valid integer value.", True),
        }
        code = text_section_rvas(os.path.join(BIN, "tovik.exe"))
        for line, (message, window_shown) in cases.items():
            with self.subTest(line=line):
                data = f"[Main]\r\n{line}\r\n[MRU]\r\nMRU0=x\r\n".encode()
                launcher = self.launcher(data)
                launcher.start(wait=False)
                box = eventually(lambda: self._report_box(), timeout=15)
                self.assertIsNotNone(box)
                self.assertEqual(box["window"]["text"], "Application Error")
                self.assertEqual(box["owner"], 0)
                text = next(c["text"] for c in box["children"]
                            if c["class"] == "Static" and c["text"].startswith("Exception"))
                first, second = text.split("\n")
                match = re.fullmatch(r"Exception EConvertError in module tovik\.exe at ([0-9A-F]{8})\.", first)
                self.assertIsNotNone(match, first)
                self.assertIn(int(match.group(1), 16), code)
                self.assertEqual(second, message)
                self.assertEqual(self._main_visible, window_shown)
                keys("Return")
                self.assertEqual(launcher.wait_exit(), 1)
                self.assertEqual(launcher.ini_bytes(), data)

    def _report_box(self):
        found = json.loads(probe("boxes"))
        self._main_visible = bool(found["main_visible"])
        return found["boxes"][0] if found["boxes"] else None


class BadInput(LauncherTest):
    BINARY = bytes(range(1, 256)) * 4

    def test_huge_count_starts_and_saves_without_hang_reading_at_most_65536_positions(self):
        data = b"[Main]\r\nCount=2147483647\r\n[MRU]\r\nMRU0=" + self.BINARY + b"\r\n"
        launcher = self.launcher(data).start(timeout_ms=120000)
        combo = launcher.tree()["combo"]
        self.assertLessEqual(combo["count"], 65536)
        self.assertGreater(combo["count"], 65530)
        self.assertEqual(combo["last"], "0")
        keys("Escape")
        self.assertEqual(launcher.wait_exit(timeout=60), 0)
        self.assertEqual(launcher.ini_value("Main", "Count"), str(combo["count"]))

    def test_binary_and_nul_bytes_load_and_save_back_what_was_loaded(self):
        data = (b"[Main]\r\nCount=3\r\n[MRU]\r\nMRU0=" + self.BINARY + b"\r\nMRU1=\0\0\0z\r\nMRU2=" +
                b"v" * 5000 + b"\r\n")
        launcher = self.launcher(data).start()
        items = launcher.tree()["combo"]["items"]
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_value("Main", "Count"), str(len(items)))
        for position, item in enumerate(items):
            self.assertEqual(launcher.ini_value("MRU", f"MRU{position}"), item)


if __name__ == "__main__":
    unittest.main()
