"""The window as another process sees it: tree, position, options, first argument, screenshot."""
import os
import subprocess
import unittest

from harness import ENV, LauncherTest, WORK, eventually

# Class, text, style bits, extended style bits, id, x, y, width, height in creation order.
CONTROLS = [
    ("Static", "MAINICON", 0x50000003, 0, 0, 10, 2, None, None),
    ("Button", "Cancel", 0x50011000, 0, 0, 308, 93, 65, 24),
    ("Button", "Browse...", 0x50011000, 0, 0, 162, 93, 65, 24),
    ("ComboBox", "", 0x50000042, 0, 0, 14, 48, 360, None),
    ("Button", "Start", 0x50010001, 0, 0, 235, 93, 65, 24),
    ("Button", " minimize", 0x50010003, 0, 1984, 17, 102, 70, 24),
    ("Button", " close", 0x50010003, 0, 2013, 17, 82, 70, 24),
    ("Static", "Enter a process to start", 0x50000000, 0x20, 0, 50, 12, 160, 21),
    ("Button", "X", 0x50011000, 0, 0, 354, 24, 20, 20),
]


class WindowTree(LauncherTest):
    def test_controls_are_created_in_order_with_their_classes_texts_styles_and_places(self):
        tree = self.launcher().start().tree()
        self.assertEqual(len(tree["children"]), len(CONTROLS))
        for child, (cls, text, style, exstyle, ident, x, y, w, h) in zip(tree["children"], CONTROLS):
            with self.subTest(text=text):
                self.assertEqual(child["class"], cls)
                if cls != "ComboBox":
                    self.assertEqual(child["text"], text)
                self.assertEqual(child["style"] & style, style)
                self.assertEqual(child["exstyle"] & exstyle, exstyle)
                self.assertEqual(child["id"], ident)
                left, top, right, bottom = child["rect"]
                self.assertEqual((left, top), (x, y))
                if w is not None:
                    self.assertEqual(right - left, w)
                if h is not None:
                    self.assertEqual(bottom - top, h)

    def test_main_window_is_topmost_fixed_size_at_the_default_place(self):
        launcher = self.launcher()
        tree = launcher.start().tree()
        main = tree["main"]
        self.assertEqual((main["class"], main["text"]), ("launcherclass", "Tovik"))
        self.assertEqual(main["style"] & 0x100A0000, 0x100A0000)
        self.assertEqual(main["style"] & 0x00050000, 0, "no sizing border, no maximise box")
        self.assertTrue(main["exstyle"] & 0x8, "topmost")
        left, top, right, bottom = tree["outer"]
        self.assertEqual((left, top, right - left, bottom - top), (100, 100, 390, 155))
        self.assertFalse(os.path.exists(launcher.ini), "reading never creates the file")

    def test_saved_position_is_used_unchanged_even_off_screen(self):
        for left, top in ((-50, 20), (3000, 2000)):
            with self.subTest(left=left, top=top):
                launcher = self.launcher(f"[Main]\r\nTop={top}\r\nLeft={left}\r\n")
                tree = launcher.start().tree()
                self.assertEqual(tree["outer"][:2], [left, top])
                launcher.stop()

    def test_options_from_the_settings_set_the_boxes(self):
        cases = [  # DoClose, DoMinimize -> close check, minimize check, minimize enabled
            (1, 1, 1, 1, 0),
            (0, 1, 0, 1, 1),
            (5, 0, 1, 0, 1),
        ]
        for do_close, do_minimize, close, minimize, enabled in cases:
            with self.subTest(do_close=do_close, do_minimize=do_minimize):
                launcher = self.launcher(f"[Main]\r\nDoClose={do_close}\r\nDoMinimize={do_minimize}\r\n")
                children = {c["text"]: c for c in launcher.start().tree()["children"]}
                self.assertEqual(children[" close"]["check"], close)
                self.assertEqual(children[" minimize"]["check"], minimize)
                self.assertEqual(children[" minimize"]["enabled"], enabled)
                launcher.stop()

    def test_first_argument_becomes_the_command_with_the_focus_in_the_field(self):
        cases = [
            ((), ""),
            (("C:\\Program Files\\App\\app.exe",), '"C:\\Program Files\\App\\app.exe"'),
            (("C:\\a.txt", "second"), "C:\\a.txt"),
            (("", "C:\\b.txt"), "C:\\b.txt"),
        ]
        for args, text in cases:
            with self.subTest(args=args):
                launcher = self.launcher()
                tree = launcher.start(*args).tree()
                self.assertEqual(tree["combo"]["text"], text)
                self.assertFocusIn("ComboBox")
                launcher.stop()

    def test_screenshot_shows_the_framed_window(self):
        launcher = self.launcher()
        tree = launcher.start().tree()
        shot = os.path.join(WORK, "window.png")
        left, top, right, bottom = tree["outer"]
        subprocess.run(["import", "-window", "root", "-crop",
                        f"{right - left}x{bottom - top}+{left}+{top}", "+repage", shot],
                       env=ENV, check=True, timeout=30)
        size = subprocess.run(["identify", "-format", "%w %h", shot], env=ENV, check=True,
                              stdout=subprocess.PIPE, timeout=30).stdout.decode()
        self.assertEqual(size, "390 155")
        client = tree["client"]
        self.assertLess(client[3] - client[1], 155, "the frame and title bar take their share")


if __name__ == "__main__":
    unittest.main()
