"""Launching through the shell into the recorder, and the history it leaves."""
import unittest

from harness import LauncherTest, click_control, control, eventually, keys, probe, type_text


class Launching(LauncherTest):
    def launch(self, launcher, text):
        probe("set-text", text)
        keys("Return")

    def test_start_button_launches_like_enter(self):
        launcher = self.launcher().start()
        type_text(f'"{launcher.recorder}" -a "b c"')
        click_control(launcher.tree(), "Start")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"  -a "b c"'])

    def test_history_gains_new_commands_at_the_top_once_in_any_case(self):
        launcher = self.launcher().start()
        rec = launcher.recorder
        for text in (f'"{rec}" one', f'"{rec}" two', f'"{rec.upper()}" ONE'):
            self.launch(launcher, text)
        self.assertEqual(len(launcher.recorded(3)), 3)
        tree = launcher.tree()
        self.assertEqual(tree["combo"]["items"], [f'"{rec}" two', f'"{rec}" one'])
        self.assertEqual(tree["combo"]["text"], f'"{rec.upper()}" ONE', "a launch keeps the text")

    def test_failed_launch_adds_nothing(self):
        launcher = self.launcher().start()
        self.launch(launcher, "no-such-program.exe")
        launcher.wait_box()
        probe("close-box")
        self.assertTrue(eventually(lambda: launcher.tree()["boxes"] == []))
        self.assertEqual(launcher.tree()["combo"]["items"], [])

    def test_x_deletes_the_first_match_and_clears_the_field(self):
        launcher = self.launcher("[Main]\r\nCount=3\r\n[MRU]\r\nMRU0=a\r\nMRU1=Calc\r\nMRU2=calc\r\n").start()
        type_text("CALC")
        click_control(launcher.tree(), "X")
        tree = eventually(lambda: (t := launcher.tree()) and len(t["combo"]["items"]) == 2 and t)
        self.assertEqual(tree["combo"]["items"], ["a", "calc"])
        self.assertEqual(tree["combo"]["text"], "")
        self.assertFocusIn("ComboBox")
        type_text("zzz")
        click_control(launcher.tree(), "X")
        self.assertFocusIn("ComboBox")
        tree = launcher.tree()
        self.assertEqual((tree["combo"]["text"], tree["combo"]["items"]), ("zzz", ["a", "calc"]))

    def test_history_survives_a_restart_in_order(self):
        launcher = self.launcher().start()
        rec = launcher.recorder
        commands = [f'"{rec}" first', f'"{rec}" second', '"C:\\My Files\\a.txt"']
        for text in commands[:2]:
            self.launch(launcher, text)
        launcher.recorded(2)
        probe("set-text", commands[2])
        keys("Escape")
        self.assertEqual(launcher.wait_exit(), 0)
        launcher.start()
        self.assertEqual(launcher.tree()["combo"]["items"], [commands[1], commands[0]])

    def test_minimize_option_minimizes_after_success_and_keeps_the_text(self):
        launcher = self.launcher().start()
        click_control(launcher.tree(), " minimize")
        self.assertTrue(eventually(lambda: control(launcher.tree(), " minimize")["check"] == 1))
        self.launch(launcher, f'"{launcher.recorder}" m')
        tree = eventually(lambda: (t := launcher.tree())["iconic"] and t)
        self.assertTrue(tree)
        self.assertEqual(tree["combo"]["text"], f'"{launcher.recorder}" m')
        self.assertTrue(launcher.running())

    def test_close_option_ends_after_success_without_minimizing(self):
        launcher = self.launcher("[Main]\r\nDoClose=1\r\nDoMinimize=1\r\n").start()
        self.launch(launcher, f'"{launcher.recorder}" c')
        self.assertEqual(launcher.wait_exit(), 0)
        self.assertEqual(launcher.ini_value("Main", "DoClose"), "1")
        self.assertEqual(len(launcher.recorded()), 1)

    def test_environment_references_launch_expanded_and_are_remembered_as_typed(self):
        launcher = self.launcher().start()
        self.launch(launcher, "%TOVIK_TEST_FOLDER%\\recorder.exe")
        self.assertEqual(launcher.recorded(), [f'"{launcher.recorder}"'])
        self.assertEqual(launcher.tree()["combo"]["items"], ["%TOVIK_TEST_FOLDER%\\recorder.exe"])


if __name__ == "__main__":
    unittest.main()
