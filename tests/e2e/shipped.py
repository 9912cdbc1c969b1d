"""Runs end-to-end tests on the exe under test, once for each input backend, and counts them: the
cases the test command runs on the shipped exe (--cases), or whole modules. Under Wine through
tools/test-shipped.sh, and on Windows itself in the release workflow.
  shipped.py [--inputs "x11 sendinput"] (--cases | MODULE...)
The last line is "shipped exe: N passed, M failed"; a test whose class could not be set up counts
as failed."""
import os
import sys
import unittest

# Chosen by what can differ in a 32-bit program (calling conventions, structure and pointer sizes,
# the platform's 32-bit paths, unwinding), one start of the exe each: the window against its table
# and drawn as this machine's build draws it, then Escape's bytes and exit status 0; a history with
# a 5,000-character entry saved back whole, launches through the shell with their command lines
# and show flag, the X button; the failure report's exact text, its address inside the image, and
# exit status 1.
CASES = [
    "test_window.Window."
    "test_window_matches_its_table_then_close_toggles_minimize_and_the_options_are_saved",
    "test_launch.Launching."
    "test_a_session_of_launches_leaves_its_history_and_every_other_line_in_the_file",
    "test_settings.FailureReport."
    "test_malformed_value_reports_and_ends_with_one_leaving_the_file_alone_whatever_is_tried",
]


def run(names, send_input):
    """How many tests passed, and how many did not."""
    import harness
    harness.SEND_INPUT = harness.NATIVE or send_input
    suite = unittest.defaultTestLoader.loadTestsFromNames(names)
    result = unittest.TextTestRunner(verbosity=2).run(suite)
    failed = len(result.failures) + len(result.errors)
    return suite.countTestCases() - failed, failed


def main(arguments):
    inputs = ["x11"]
    if arguments[:1] == ["--inputs"]:
        inputs, arguments = arguments[1].split(), arguments[2:]
    names = CASES if arguments == ["--cases"] else arguments
    sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
    passed = failed = 0
    for backend in inputs:
        ok, not_ok = run(names, backend == "sendinput")
        passed, failed = passed + ok, failed + not_ok
    print(f"shipped exe: {passed} passed, {failed} failed")
    return 0 if passed and not failed else 1


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
