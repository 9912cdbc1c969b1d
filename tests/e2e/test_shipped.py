"""The cases the shipped 32-bit exe runs on every test run: where a 32-bit program can differ
(calling conventions, structure and pointer sizes, the platform's 32-bit paths, unwinding). A
32-bit start is costly under emulation, so cases 1 to 5 share one start and run in order."""
import os
import unittest

from Xlib import X, display

from harness import (BIN, ENV, Launcher, click, eventually, focused, keys, probe, tree,
                     type_text)
from test_settings import assertReports
from test_window import TABLE, as_table

LONG_ENTRY = "h" * 5000  # longer than the platform fetches from a list in one piece
FILE = f"[Main]\r\nCount=1\r\n[MRU]\r\nMRU0={LONG_ENTRY}\r\n"


def look():
    """The client area's pixels above and below the command field, whose caret blinks."""
    t = tree()
    (x, y), width, height = t["origin"], t["client"][2], t["client"][3]
    field = next(c for c in t["children"] if c["class"] == "ComboBox")["rect"]
    x11 = display.Display(ENV["DISPLAY"])
    grab = lambda top, bottom: x11.screen().root.get_image(
        x, y + top, width, bottom - top, X.ZPixmap, 0xFFFFFFFF).data
    pixels = grab(0, field[1]) + grab(field[3], height)
    x11.close()
    return pixels


class ShippedExe(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        # This machine's own build draws the window first: the shipped one must match it.
        reference = Launcher("reference", FILE, os.path.join(BIN, "tovik.exe")).start()
        cls.reference = eventually(lambda: (a := look()) == look() and a)
        keys("Escape")
        reference.wait_exit()
        cls.launcher = Launcher("shipped", FILE).start()

    @classmethod
    def tearDownClass(cls):
        cls.launcher.stop()

    def test_1_window_matches_its_table_and_looks_as_this_build_draws_it(self):
        self.assertEqual(as_table(tree()), TABLE)
        self.assertTrue(eventually(lambda: look() == self.reference),
                        "fonts, texts or places differ from this machine's build")

    def test_2_a_long_history_entry_is_read_whole(self):
        self.assertEqual(tree()["combo"]["items"], [LONG_ENTRY])

    def test_3_a_launch_reaches_the_program_with_its_parameters_shown_normally(self):
        type_text(f'"{self.launcher.recorder}" one two')
        keys("Return")
        self.assertEqual(self.launcher.recorded(), [f'"{self.launcher.recorder}"  one two'])
        self.assertEqual(tree()["combo"]["items"], [f'"{self.launcher.recorder}" one two',
                                                    LONG_ENTRY])

    def test_4_x_deletes_the_entry_in_any_letter_case_and_puts_the_focus_in_the_field(self):
        probe("set-text", f'"{self.launcher.recorder.upper()}" ONE TWO')
        click(tree(), "X")
        self.assertTrue(eventually(lambda: (t := tree())["combo"]["text"] == ""
                                   and focused(t) == "ComboBox"))
        self.assertEqual(tree()["combo"]["items"], [LONG_ENTRY])

    def test_5_escape_saves_the_long_entry_whole_and_ends_with_zero(self):
        keys("Escape")
        self.assertEqual(self.launcher.wait_exit(), 0)
        self.assertEqual(self.launcher.ini.read_bytes().decode(), FILE.replace(
            "Count=1\r\n", "Count=1\r\nTop=100\r\nLeft=100\r\nDoClose=0\r\nDoMinimize=0\r\n"))

    def test_6_a_malformed_value_is_reported_exactly_and_ends_with_one(self):
        launcher = Launcher("report", b"[Main]\r\nCount=3x\r\n")
        self.addCleanup(launcher.stop)
        assertReports(self, launcher)
        probe("close-box")
        self.assertEqual(launcher.wait_exit(), 1)


if __name__ == "__main__":
    unittest.main()
