"""The real window as another process sees it: its table, its place, the options, the first
argument, the caret and the Tab order."""
import unittest

from harness import (BUILT, EXE, WM_KEYDOWN, LauncherTest, control, eventually, focused, keys, look,
                     pixels, probe, steady, tree)

# Class, text, style bits, extended style bits, id, x, y, width, height in creation order.
# The combo box reports its collapsed height; the icon sizes itself to the icon.
CONTROLS = [
    ("Static", "MAINICON", 0x50000003, 0, 0, 10, 2, None, None),
    ("Button", "Cancel", 0x50011000, 0, 0, 308, 93, 65, 24),
    ("Button", "Browse...", 0x50011000, 0, 0, 162, 93, 65, 24),
    ("ComboBox", None, 0x50000042, 0, 0, 14, 48, 360, None),
    ("Button", "Start", 0x50010001, 0, 0, 235, 93, 65, 24),
    ("Button", " minimize", 0x50010003, 0, 1984, 17, 102, 70, 24),
    ("Button", " close", 0x50010003, 0, 2013, 17, 82, 70, 24),
    ("Static", "Enter a process to start", 0x50000000, 0x20, 0, 50, 12, 160, 21),
    ("Button", "X", 0x50011000, 0, 0, 354, 24, 20, 20),
]
VK_TAB = 9


class Window(LauncherTest):
    def assertBoxes(self, t, close, minimize, minimize_enabled):
        self.assertEqual((control(t, " close")["check"], control(t, " minimize")["check"],
                          control(t, " minimize")["enabled"]), (close, minimize, minimize_enabled))

    def test_window_matches_its_table_then_close_toggles_minimize_and_the_options_are_saved(self):
        ini = "[Main]\r\nDoMinimize=1\r\nDoClose=1\r\n"
        arguments = ("C:\\Program Files\\App\\app.exe", "second")
        if EXE != BUILT:  # another build of the exe (the shipped one) looks as this one draws it
            reference = self.launcher(ini, "-reference", BUILT).start(*arguments)
            drawn = steady(lambda: look(tree()))
            keys("Escape")
            reference.wait_exit()
        launcher = self.launcher(ini).start(*arguments)
        t = tree()
        seen = [(c["class"], text and c["text"], c["style"] & style, c["exstyle"] & exstyle, c["id"],
                 *c["rect"][:2], w and c["rect"][2] - c["rect"][0], h and c["rect"][3] - c["rect"][1])
                for c, (_, text, style, exstyle, _, _, _, w, h) in zip(t["children"], CONTROLS)]
        self.assertEqual(seen, CONTROLS)
        main, (left, top, right, bottom) = t["main"], t["outer"]
        self.assertEqual((main["class"], main["text"], main["style"] & 0x100F0000,
                          main["exstyle"] & 0x8, left, top, right - left, bottom - top),
                         ("launcherclass", "Tovik", 0x100A0000, 0x8, 100, 100, 390, 155),
                         "visible, system menu, minimize box, no sizing or maximize, topmost")
        if EXE != BUILT:
            self.assertTrue(eventually(lambda: look(tree()) == drawn), "fonts, texts or places")
        text = '"C:\\Program Files\\App\\app.exe"'
        self.assertEqual(t["combo"]["text"], text)
        self.assertEqual(t["combo"]["selection"], [len(text), len(text)])
        self.assertEqual(focused(t), "ComboBox")
        self.assertBoxes(t, 1, 1, 0)
        # Space on " close" gives " minimize" back, and greys it out again keeping its check.
        keys("Tab", "Tab")  # Start, then " close": a greyed " minimize" is skipped
        self.assertFocusIn(" close")
        keys("space")
        self.assertTrue(eventually(lambda: control(tree(), " minimize")["enabled"]))
        self.assertBoxes(tree(), 0, 1, 1)
        keys("space")
        t = eventually(lambda: (t := tree()) and not control(t, " minimize")["enabled"] and t)
        self.assertBoxes(t, 1, 1, 0)
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini.read_bytes(), b"[Main]\r\nDoMinimize=1\r\nDoClose=1\r\n"
                         b"Top=100\r\nLeft=100\r\nCount=0\r\n")

    # A long history fills the list with its drawing off: the field and its open list must then
    # draw as they do where the same first entries were added one by one after the start.
    def test_a_long_history_draws_its_field_and_open_list_as_entries_added_one_by_one_do(self):
        entries = [f"C:\\Tools\\tool{i}.exe -x" for i in range(3000)]
        drawn = []
        for loaded in (False, True):
            ini = f"[Main]\r\nCount={len(entries)}\r\n[MRU]\r\n" + "".join(
                f"MRU{i}={entry}\r\n" for i, entry in enumerate(entries))
            launcher = self.launcher(ini if loaded else None, str(loaded)).start("first")
            for entry in [] if loaded else entries[:5]:
                probe("add-entry", entry)
            keys("Tab")  # the field without its caret
            self.assertFocusIn("Start")
            t = tree()
            left, top, right, bottom = next(c for c in t["children"]
                                            if c["class"] == "ComboBox")["rect"]
            field = steady(lambda: pixels(t, left, top, right, bottom))
            keys("shift+Tab", "alt+Down")
            self.assertTrue(eventually(lambda: tree()["combo"]["dropped"]))
            # The open list's top rows, left of where a scroll bar may stand.
            drawn.append((field, steady(lambda: pixels(t, left, bottom, right - 24, bottom + 40))))
            launcher.stop()
        self.assertTrue(drawn[1][0] == drawn[0][0], "the field is drawn otherwise")
        self.assertTrue(drawn[1][1] == drawn[0][1], "the open list's top entries drawn otherwise")

    # The platform's Tab order is the table's creation order of tab stops; the buttons' own rule
    # acts on a Tab sent to them directly, each moving the focus on from where the last left it.
    def test_saved_place_is_used_unchanged_off_screen_and_a_tab_sent_to_a_button_follows_its_rule(
            self):
        self.launcher("[Main]\r\nTop=2000\r\nLeft=-50\r\nDoClose=5\r\n").start()
        t = tree()
        self.assertEqual(t["outer"][:2], [-50, 2000])
        self.assertBoxes(t, 1, 0, 1)  # only DoClose=1 greys " minimize" out
        for button, target in (("Cancel", "ComboBox"), ("Browse...", "Start"),
                               ("Start", "Cancel"), ("X", "Cancel")):
            probe("send-to", button, WM_KEYDOWN, VK_TAB)
            self.assertEqual(focused(tree()), target, button)


if __name__ == "__main__":
    unittest.main()
