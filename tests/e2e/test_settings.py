"""Every way out of the real program, read back as the settings file's bytes and exit statuses,
and the failure report for a malformed value."""
import json
import os
import pathlib
import re
import signal
import subprocess
import time
import unittest

from harness import (BIN, FRESH_FILE, SOURCE, WM_CLOSE, WM_COMMAND, WM_ENDSESSION, LauncherTest,
                     click, close_by_title_bar, eventually, keys, probe, tree)
from test_exe_header import text_section_rvas


class WaysOut(LauncherTest):
    def test_every_way_out_writes_the_same_file_and_ends_with_zero(self):
        ways = {  # the system menu's Close gives the same command as Alt+F4
            "Cancel": lambda: click(tree(), "Cancel"),
            "title bar": close_by_title_bar,
            "Alt+F4": lambda: keys("alt+F4"),
            "log-off": lambda: probe("send", WM_ENDSESSION, 1),
        }
        for name, leave in ways.items():
            with self.subTest(way=name):
                launcher = self.launcher(suffix=name.replace(" ", "-")).start()
                leave()
                self.assertEqual(launcher.wait_exit(), 0)
                self.assertEqual(launcher.ini.read_bytes(), FRESH_FILE)

    def test_escape_closes_an_open_list_and_then_saves_and_ends(self):
        launcher = self.launcher("[MRU]\r\nMRU0=calc\r\n[Main]\r\nCount=1\r\n").start()
        keys("alt+Down")
        self.assertTrue(eventually(lambda: tree()["combo"]["dropped"]))
        # Wine's list may take a second Escape to close; the launcher must outlive every one.
        for _ in range(3):
            keys("Escape")
            if eventually(lambda: tree()["combo"]["dropped"] == 0, timeout=1):
                break
        self.assertEqual(tree()["combo"]["dropped"], 0)
        self.assertTrue(launcher.running())
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini.read_bytes(), b"[MRU]\r\nMRU0=calc\r\n[Main]\r\nCount=1\r\n"
                         b"Top=100\r\nLeft=100\r\nDoClose=0\r\nDoMinimize=0\r\n")

    def test_a_quit_message_ends_with_zero_and_writes_nothing(self):
        launcher = self.launcher().start()
        probe("quit")
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertFalse(os.path.exists(launcher.ini), "reading never creates the file either")


class RunCommand(unittest.TestCase):
    def test_ctrl_c_in_a_terminal_ends_tovik_as_cancel_does_with_its_settings_saved(self):
        tree_folder = os.path.dirname(BIN)
        ini = pathlib.Path(tree_folder, "run", "tovik", "tovik.ini")
        ini.unlink(missing_ok=True)
        env = {k: v for k, v in os.environ.items() if k not in ("DISPLAY", "WINEPREFIX")}
        # A process group of its own, signalled whole, as a terminal's Ctrl+C does.
        run = subprocess.Popen([os.path.join(SOURCE, "tools", "run.sh")], env=env,
                               stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                               stdin=subprocess.DEVNULL, start_new_session=True)
        self.addCleanup(lambda: run.poll() is None and os.killpg(run.pid, signal.SIGKILL))
        for line in iter(run.stdout.readline, b""):
            if line.startswith(b"Press Ctrl+C"):
                break
        os.killpg(run.pid, signal.SIGINT)
        self.assertEqual(run.wait(timeout=60), 0)
        self.assertEqual(ini.read_bytes(), FRESH_FILE)


class FailureReport(LauncherTest):
    def test_malformed_value_reports_and_ends_with_one_leaving_the_file_alone_whatever_is_tried(self):
        ways_out = [  # each with the command it gives where the report makes the click do nothing
            lambda: (click(tree(), "Cancel"), probe("post", WM_COMMAND, 0, "=Cancel")),
            lambda: (close_by_title_bar(), probe("post", WM_CLOSE, 0)),
            lambda: probe("send", WM_ENDSESSION, 1),
        ]
        cases = [  # the line, the report's second line, whether the window shows, what is tried
            ("Top=abc", "'abc' is not a valid integer value.", False, []),
            ("Count=3x", "'3x' is not a valid integer value.", True, ways_out),
        ]
        code = text_section_rvas(os.path.join(BIN, "tovik.exe"))
        for line, message, window_shown, attempts in cases:
            with self.subTest(line=line):
                data = f"[Main]\r\n{line}\r\n[MRU]\r\nMRU0=x\r\n".encode()
                launcher = self.launcher(data, suffix=line[:3])
                launcher.start(wait=False)
                found = eventually(lambda: (f := json.loads(probe("boxes")))["boxes"] and f, 15)
                self.assertTrue(found, "no report appeared")
                box = found["boxes"][0]
                self.assertEqual((box["window"]["text"], box["owner"]), ("Application Error", 0))
                text = next(c["text"] for c in box["children"] if c["text"].startswith("Exception"))
                first, second = text.split("\n")
                match = re.fullmatch(
                    r"Exception EConvertError in module tovik\.exe at ([0-9A-F]{8})\.", first)
                self.assertIsNotNone(match, first)
                self.assertIn(int(match.group(1), 16), code)
                self.assertEqual(second, message)
                self.assertEqual(bool(found["main_visible"]), window_shown)
                for attempt in attempts:
                    attempt()
                if attempts:
                    time.sleep(1)  # nothing may happen: give it the time to happen
                    self.assertTrue(launcher.running(), "the report still waits")
                    self.assertEqual(launcher.ini.read_bytes(), data)
                    probe("close-box")
                else:
                    keys("Return")
                self.assertEqual(launcher.wait_exit(), 1)
                self.assertEqual(launcher.ini.read_bytes(), data)
                # The next case must not find this report while the platform still clears it.
                self.assertTrue(eventually(lambda: not json.loads(probe("boxes"))["boxes"]))


if __name__ == "__main__":
    unittest.main()
