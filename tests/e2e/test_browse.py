"""The real open-file dialog."""
import os
import unittest

from harness import LauncherTest, click, eventually, keys, probe, tree, type_text, winpath


class Browse(LauncherTest):
    # The file dialog: Cancel keeps the command; a chosen or typed file becomes it, quoted when
    # spaced.
    def test_the_browser_sets_a_chosen_or_typed_name_and_cancel_keeps_the_command(self):
        launcher = self.launcher().start()
        folder = launcher.folder
        open(os.path.join(folder, "with space.txt"), "w").close()
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

    def open_dialog(self, launcher):
        click(tree(), "Browse...")
        box = launcher.wait_box()
        self.assertEqual(box["window"]["text"], "Search for a file to open")
        return box


if __name__ == "__main__":
    unittest.main()
