"""Keyboard, messages from other programs, message boxes and focus, in the real window."""
import unittest

from harness import (FRESH_FILE, WM_COMMAND, WM_ENDSESSION, WM_SYSCOMMAND, LauncherTest, control,
                     eventually, keys, probe, type_text)


class Keyboard(LauncherTest):
    def test_enter_launches_the_typed_command_with_its_parameters(self):
        launcher = self.launcher().start()
        type_text(f'"{launcher.recorder}" hello world')
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"  hello world'])
        self.assertTrue(launcher.running())

    def test_enter_in_an_empty_field_shows_and_launches_nothing(self):
        launcher = self.launcher().start()
        keys("Return")
        tree = launcher.tree()
        self.assertEqual(tree["boxes"], [])
        self.assertEqual(tree["combo"]["items"], [])

    def test_escape_with_the_list_closed_saves_and_ends(self):
        launcher = self.launcher().start()
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_bytes(), FRESH_FILE)

    def test_escape_with_the_list_open_only_closes_it(self):
        launcher = self.launcher("[Main]\r\nCount=1\r\n[MRU]\r\nMRU0=calc\r\n").start()
        keys("alt+Down")
        self.assertTrue(eventually(lambda: launcher.tree()["combo"]["dropped"]))
        # Wine's list may take a second Escape to close; the launcher must outlive every one.
        for _ in range(3):
            keys("Escape")
            if eventually(lambda: launcher.tree()["combo"]["dropped"] == 0, timeout=1):
                break
        self.assertEqual(launcher.tree()["combo"]["dropped"], 0)
        self.assertTrue(launcher.running())
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)

    def test_tab_walks_the_tab_stops_in_creation_order(self):
        cases = [
            ("0", ["Start", " minimize", " close", "X", "Cancel", "Browse...", "ComboBox"]),
            ("1", ["Start", " close", "X", "Cancel", "Browse...", "ComboBox"]),
        ]
        for do_close, order in cases:
            with self.subTest(do_close=do_close):
                launcher = self.launcher(f"[Main]\r\nDoClose={do_close}\r\n").start()
                for expected in order:
                    keys("Tab")
                    self.assertFocusIn(expected, eventually(lambda: self._focused_tree()))
                keys("shift+Tab")
                self.assertFocusIn("Browse...")
                launcher.stop()

    def test_space_on_close_disables_minimize_keeping_its_check(self):
        launcher = self.launcher("[Main]\r\nDoMinimize=1\r\n").start()
        keys("Tab", "Tab", "Tab")
        self.assertFocusIn(" close")
        keys("space")
        tree = eventually(lambda: (t := launcher.tree()) and not control(t, " minimize")["enabled"] and t)
        self.assertEqual(control(tree, " close")["check"], 1)
        self.assertEqual(control(tree, " minimize")["check"], 1)
        keys("space")
        self.assertTrue(eventually(lambda: control(launcher.tree(), " minimize")["enabled"]))
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_value("Main", "DoClose"), "0")
        self.assertEqual(launcher.ini_value("Main", "DoMinimize"), "1")

    def test_alt_f4_saves_and_ends(self):
        launcher = self.launcher().start()
        keys("alt+F4")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_bytes(), FRESH_FILE)


class MessagesFromOtherPrograms(LauncherTest):
    def test_command_one_without_handle_launches_and_two_does_nothing(self):
        launcher = self.launcher().start()
        probe("set-text", f'"{launcher.recorder}" by-message')
        probe("post", str(WM_COMMAND), "2")
        probe("post", str(WM_COMMAND), "1")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"  by-message'])
        self.assertTrue(launcher.running())

    def test_quit_message_ends_with_zero_and_writes_nothing(self):
        launcher = self.launcher().start()
        probe("quit")
        self.assertEqual(launcher.wait_exit(), 0)
        with self.assertRaises(FileNotFoundError):
            launcher.ini_bytes()

    def test_end_of_session_saves(self):
        launcher = self.launcher().start()
        probe("send", str(WM_ENDSESSION), "1")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_bytes(), FRESH_FILE)


class MessageBoxes(LauncherTest):
    def assertBoxClosesAloneOnEscape(self, launcher):
        keys("Escape")
        self.assertTrue(eventually(lambda: launcher.tree()["boxes"] == []))
        self.assertTrue(launcher.running())
        self.assertFocusIn("ComboBox")

    def test_about_box_from_the_system_menu(self):
        launcher = self.launcher().start()
        main = launcher.tree()["main"]["hwnd"]
        probe("post", str(WM_SYSCOMMAND), str(0xFFFF))
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "About Tovik")
        self.assertEqual(box["owner"], main)
        texts = [c["text"] for c in box["children"] if c["class"] == "Static"]
        text = next(t for t in texts if t.startswith("Tovik"))
        lines = text.split("\n")
        self.assertEqual(lines[:2], ["Tovik - Version 1.0.0.0", ""])
        self.assertEqual(len(lines), 5)
        self.assertNotIn("\r", text)
        self.assertBoxClosesAloneOnEscape(launcher)

    def test_failed_launch_shows_oops_and_stays_open_even_with_close(self):
        launcher = self.launcher("[Main]\r\nDoClose=1\r\n").start()
        type_text('"no such program" -x')
        keys("Return")
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "OOPS...")
        texts = [c["text"] for c in box["children"] if c["class"] == "Static"]
        self.assertIn('Unable to locate: \r"no such program"', texts)
        self.assertBoxClosesAloneOnEscape(launcher)
        self.assertEqual(launcher.tree()["combo"]["items"], [])
        self.assertEqual(launcher.tree()["combo"]["text"], '"no such program" -x')


if __name__ == "__main__":
    unittest.main()
