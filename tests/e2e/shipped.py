"""Runs end-to-end tests on the exe under test, once for each input backend, and counts them: the
cases the test command runs on the shipped exe (--cases), or whole modules. Under Wine through
tools/test-shipped.sh, and on Windows itself in the release workflow.
  shipped.py [--inputs "x11 sendinput"] (--cases | MODULE...)
The last line is "shipped exe: N passed, M failed", with ", K skipped" where tests were skipped;
a test whose class could not be set up counts as failed."""
import os
import sys
import unittest

WINDOW = ("test_window.Window."
          "test_window_matches_its_table_then_close_toggles_minimize_and_the_options_are_saved")
SESSION = ("test_launch.Launching."
           "test_a_session_of_launches_leaves_its_history_and_every_other_line_in_the_file")
REPORT = ("test_settings.FailureReport."
          "test_malformed_value_reports_and_ends_with_one_leaving_the_file_alone_whatever_is_tried")
# Chosen by what can differ in a 32-bit program (calling conventions, structure and pointer sizes,
# the platform's 32-bit paths, unwinding): three tests, one start of the exe each, and the cases
# each of them checks.
CASES = [
    (WINDOW, "the window against its table, and drawn as this machine's build draws it"),
    (SESSION, "a history with a 5,000-character entry, saved back whole"),
    (SESSION, "a launch through the shell into the recorder: its command line and show flag"),
    (SESSION, "the X button"),
    (WINDOW, "Escape: the settings file's bytes and exit status 0"),
    (REPORT, "the failure report's exact text, its address inside the image, exit status 1"),
]


def run(names, send_input):
    """The ids of the tests that passed, how many ran, and how many were skipped."""
    import harness
    harness.SEND_INPUT = harness.NATIVE or send_input
    passed = set()

    class Result(unittest.TextTestResult):
        def addSuccess(self, test):
            super().addSuccess(test)
            passed.add(test.id())
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2, resultclass=Result).run(suite)
    return passed, suite.countTestCases() - len(result.skipped), len(result.skipped)


def main(arguments):
    inputs = ["x11"]
    if arguments[:1] == ["--inputs"]:
        inputs, arguments = arguments[1].split(), arguments[2:]
    cases = arguments == ["--cases"]
    names = list(dict.fromkeys(test for test, _ in CASES)) if cases else arguments
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    outcomes, skipped = [], 0
    for backend in inputs:
        passed, ran, skips = run(names, backend == "sendinput")
        skipped += skips
        if cases:
            label = f" ({backend})" if len(inputs) > 1 else ""
            for test, case in CASES:
                outcomes.append(test in passed)
                print(f"  {'passed' if test in passed else 'FAILED'}: {case}{label}")
        else:
            outcomes += [True] * len(passed) + [False] * (ran - len(passed))
    print(f"shipped exe: {sum(outcomes)} passed, {len(outcomes) - sum(outcomes)} failed"
          + (f", {skipped} skipped" if skipped else ""))
    return 0 if outcomes and all(outcomes) else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
