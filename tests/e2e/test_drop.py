"""Real drops, the real open-file dialog and the foreground after a drop."""
import os
import subprocess
import unittest

from harness import (BIN, ENV, NATIVE, LauncherTest, click, click_at, drop_files, error_log,
                     eventually, keys, probe, tree, type_text, windows_program, winpath)


class DropsAndBrowse(LauncherTest):
    def started(self):
        launcher = self.launcher().start()
        for name in ("plain.txt", "with space.txt"):
            open(os.path.join(launcher.folder, name), "w").close()
        return launcher

    @unittest.skipIf(NATIVE, "the drops are X11's (XDND, as a Linux file manager sends them), "
                     "which Windows does not have")
    def test_a_drop_sets_the_name_quoted_when_spaced_and_brings_the_launcher_forward(self):
        launcher = self.started()
        folder = launcher.folder
        main = tree()["main"]["hwnd"]
        self.assertTrue(eventually(lambda: tree()["foreground"] == main))
        click(tree(), " minimize")  # the focus leaves the field; the first drop gives it back
        self.assertFocusIn(" minimize")
        cases = [
            (["plain.txt"], winpath(folder + "/plain.txt")),
            (["with space.txt", "plain.txt"], f'"{winpath(folder + "/with space.txt")}"'),
        ]
        for names, expected in cases:
            with self.subTest(names=names):
                probe("set-text", "typed before")
                drop_files(tree(), *(os.path.join(folder, n) for n in names))
                self.assertEqual(eventually(lambda: (t := tree()["combo"]["text"]) != "typed before"
                                            and t, timeout=5), expected)
                self.assertEqual(tree()["foreground"], main)
                self.assertFocusIn("ComboBox")

        # From behind another program's window: forward, the focus in the field, Enter launches.
        self.hold_the_foreground()
        drop_files(tree(), os.path.join(folder, "recorder.exe"))
        self.assertTrue(eventually(lambda: tree()["foreground"] == main),
                        "the launcher did not come forward")
        self.assertFocusIn("ComboBox")

        # Clicked forward by its title bar, the launcher puts the focus in the field too.
        click(tree(), " minimize")
        self.assertFocusIn(" minimize")
        self.hold_the_foreground()
        click_at(tree()["outer"][0] + 60, tree()["outer"][1] + 10)
        self.assertTrue(eventually(lambda: tree()["foreground"] == main))
        self.assertFocusIn("ComboBox")
        type_text(" after")
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
