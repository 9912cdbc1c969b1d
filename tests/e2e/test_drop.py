"""Dropped files, the open-file dialog and the foreground, with real drops and the real dialog."""
import os
import subprocess
import unittest

from harness import (BIN, ENV, SESSION, LauncherTest, click_control, drop_files, eventually, keys, probe,
                     type_text, winpath)


class Drops(LauncherTest):
    def dropped_text(self, launcher, before):
        return eventually(lambda: (t := launcher.tree()["combo"]["text"]) != before and t, timeout=5)

    def make(self, launcher, *names):
        paths = []
        for name in names:
            path = os.path.join(launcher.folder, name)
            if name.endswith("/"):
                os.makedirs(path, exist_ok=True)
            else:
                open(path, "w").close()
            paths.append(path.rstrip("/"))
        return paths

    def test_the_first_dropped_name_replaces_the_text_quoted_when_spaced(self):
        launcher = self.launcher().start()
        cases = [
            (("plain.txt",), lambda p: winpath(p[0])),
            (("with space.txt",), lambda p: f'"{winpath(p[0])}"'),
            (("folder/",), lambda p: winpath(p[0])),
            (("first.txt", "second.txt", "third.txt"), lambda p: winpath(p[0])),
        ]
        for names, expected in cases:
            with self.subTest(names=names):
                paths = self.make(launcher, *names)
                probe("set-text", "typed before")
                drop_files(launcher.tree(), *paths)
                self.assertEqual(self.dropped_text(launcher, "typed before"), expected(paths))
        tree = launcher.tree()
        self.assertEqual(tree["combo"]["items"], [], "a drop launches nothing")
        self.assertEqual(launcher.recorded(timeout=0), [])

    def test_typing_after_a_drop_appends_and_enter_launches_it(self):
        launcher = self.launcher().start()
        drop_files(launcher.tree(), os.path.join(launcher.folder, "recorder.exe"))
        self.assertEqual(self.dropped_text(launcher, ""), launcher.recorder)
        self.assertFocusIn("ComboBox")
        type_text(" after")
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"  after'])
        self.assertEqual(launcher.tree()["combo"]["items"], [launcher.recorder + " after"])

    def test_a_drop_from_behind_brings_the_launcher_forward_with_the_focus_in_the_field(self):
        launcher = self.launcher().start()
        holder = subprocess.Popen([SESSION, "run",
                                   os.path.join(BIN, "probe.exe"), "hold"],
                                  env=ENV, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        self.addCleanup(holder.kill)
        holder_window = int(holder.stdout.readline())
        main = launcher.tree()["main"]["hwnd"]
        self.assertEqual(eventually(lambda: launcher.tree()["foreground"] == holder_window), True)
        drop_files(launcher.tree(), os.path.join(launcher.folder, "recorder.exe"))
        tree = eventually(lambda: (t := launcher.tree())["foreground"] == main and t)
        self.assertTrue(tree, "the launcher did not come forward")
        self.assertFocusIn("ComboBox")
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"'])

    def test_a_drop_while_in_front_sets_text_and_focus(self):
        launcher = self.launcher().start()
        main = launcher.tree()["main"]["hwnd"]
        self.assertTrue(eventually(lambda: launcher.tree()["foreground"] == main))
        click_control(launcher.tree(), " close")
        drop_files(launcher.tree(), os.path.join(launcher.folder, "tovik.ini.none"))
        self.assertEqual(self.dropped_text(launcher, ""), winpath(launcher.folder + "/tovik.ini.none"))
        self.assertEqual(launcher.tree()["foreground"], main)
        self.assertFocusIn("ComboBox")


class Browse(LauncherTest):
    def open_dialog(self, launcher):
        click_control(launcher.tree(), "Browse...")
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "Search for a file to open")
        return box

    def test_dialog_offers_the_one_filter(self):
        launcher = self.launcher().start()
        box = self.open_dialog(launcher)
        combos = [c["text"] for c in box["children"] if c["class"] == "ComboBox"]
        self.assertIn("All files", combos)
        keys("Escape")

    def test_a_chosen_or_typed_file_becomes_the_command(self):
        launcher = self.launcher().start()
        spaced = os.path.join(launcher.folder, "with space.txt")
        open(spaced, "w").close()
        cases = [
            (winpath(spaced), f'"{winpath(spaced)}"'),
            (winpath(launcher.folder + "/recorder.exe"), launcher.recorder),
            (winpath(launcher.folder + "/not-there.txt"), winpath(launcher.folder + "/not-there.txt")),
        ]
        for typed, expected in cases:
            with self.subTest(typed=typed):
                self.open_dialog(launcher)
                type_text(typed)
                keys("Return")
                self.assertTrue(eventually(lambda: launcher.tree()["boxes"] == []))
                self.assertEqual(launcher.tree()["combo"]["text"], expected)
                self.assertFocusIn("ComboBox")
        type_text(" more")
        self.assertEqual(eventually(lambda: launcher.tree()["combo"]["text"].endswith(" more")), True)

    def test_cancel_keeps_the_typed_command(self):
        launcher = self.launcher().start()
        type_text("my command")
        self.open_dialog(launcher)
        keys("Escape")
        self.assertTrue(eventually(lambda: launcher.tree()["boxes"] == []))
        self.assertEqual(launcher.tree()["combo"]["text"], "my command")
        self.assertFocusIn("ComboBox")


if __name__ == "__main__":
    unittest.main()
