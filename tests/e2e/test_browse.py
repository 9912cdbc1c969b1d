"""The real open-file dialog, and the launcher clicked forward from behind another window."""
import os
import subprocess
import unittest

from harness import (BIN, ENV, LauncherTest, click, click_at, error_log, eventually, keys, probe,
                     tree, type_text, windows_program, winpath)


class ForwardAndBrowse(LauncherTest):
    def started(self):
        launcher = self.launcher().start()
        for name in ("plain.txt", "with space.txt"):
            open(os.path.join(launcher.folder, name), "w").close()
        return launcher

    # A click on the title bar brings the launcher forward from behind another program's window
    # with the focus in the field, where Enter launches.
    def test_a_click_brings_the_launcher_forward_with_the_focus_in_the_field(self):
        launcher = self.started()
        main = tree()["main"]["hwnd"]
        click(tree(), " minimize")  # the focus leaves the field
        self.assertFocusIn(" minimize")
        self.hold_the_foreground()
        click_at(tree()["outer"][0] + 60, tree()["outer"][1] + 10)
        self.assertTrue(eventually(lambda: tree()["foreground"] == main))
        self.assertFocusIn("ComboBox")
        probe("set-text", f'"{launcher.recorder}" after')
        keys("Return")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"  after'])

    # The file dialog: Cancel keeps the command; a chosen or typed file becomes it, quoted when
    # spaced.
    def test_the_browser_sets_a_chosen_or_typed_name_and_cancel_keeps_the_command(self):
        launcher = self.started()
        folder = launcher.folder
        probe("set-text", "my command")
        box = self.open_dialog(launcher)
        classes_and_texts = [(c["class"], c["text"]) for c in box["children"]]
        self.assertIn(("ComboBox", "All files"), classes_and_texts, "the one filter")
        self.assertTrue(any(c == "Button" and "read-only" in t.lower() for c, t in classes_and_texts),
                        "no flags: the read-only box is shown")
        keys("Escape")
        self.assertTrue(eventually(lambda: tree()["boxes"] == []))
        self.assertEqual(tree()["combo"]["text"], "my command")
        self.assertFocusIn("ComboBox")
        spaced = os.path.join(folder, "with space.txt")
        missing = winpath(folder + "/not-there.txt")
        for typed, expected in ((winpath(spaced), f'"{winpath(spaced)}"'), (missing, missing)):
            with self.subTest(typed=typed):
                self.open_dialog(launcher)
                type_text(typed)
                keys("Return")
                self.assertTrue(eventually(lambda: tree()["boxes"] == []))
                self.assertEqual(tree()["combo"]["text"], expected)
                self.assertFocusIn("ComboBox")
        type_text(" more")
        self.assertTrue(eventually(lambda: tree()["combo"]["text"] == missing + " more"))

    def hold_the_foreground(self):
        """Another program's window in front of the launcher until the test ends."""
        holder = subprocess.Popen(windows_program(os.path.join(BIN, "probe.exe"), "hold"), env=ENV,
                                  stdout=subprocess.PIPE, stderr=error_log("holder"))
        self.addCleanup(holder.kill)
        holder_window = int(holder.stdout.readline())
        self.assertTrue(eventually(lambda: tree()["foreground"] == holder_window))

    def open_dialog(self, launcher):
        click(tree(), "Browse...")
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "Search for a file to open")
        return box


if __name__ == "__main__":
    unittest.main()
