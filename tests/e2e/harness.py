"""Drives the real tovik.exe under Wine: a folder of its own, keyboard input, the probe."""
import json
import os
import shutil
import subprocess
import time
import unittest

HERE = os.path.dirname(os.path.abspath(__file__))
SESSION = os.path.join(HERE, "..", "..", "tools", "wine-session.sh")
BIN = os.environ["TOVIK_BIN"]
WORK = os.environ["TOVIK_E2E_WORK"]
ENV = dict(os.environ)
DISPLAY = ":" + open(os.path.join(ENV["TOVIK_WINE_ROOT"], "wine-display")).read().strip()
ENV["DISPLAY"] = DISPLAY


def winpath(path):
    """The Windows name of a path on this machine, as Wine maps it."""
    return "Z:" + os.path.abspath(path).replace("/", "\\")


def wine(*args, timeout=30, check=True):
    result = subprocess.run([SESSION, "run", *args], env=ENV, stdout=subprocess.PIPE,
                            stderr=subprocess.DEVNULL, stdin=subprocess.DEVNULL, timeout=timeout)
    if check and result.returncode != 0:
        raise AssertionError(f"{args} exited {result.returncode}")
    return result.stdout.decode("utf-8", "replace")


def probe(*args, check=True):
    return wine(os.path.join(BIN, "probe.exe"), *args, check=check)


def xdotool(*args):
    subprocess.run(["xdotool", *args], env=ENV, check=True, timeout=30)


def keys(*names):
    xdotool("key", "--delay", "40", *names)


def type_text(text):
    xdotool("type", "--delay", "25", text)


def eventually(condition, timeout=10.0, interval=0.1):
    """Polls until `condition()` is truthy; returns its last value."""
    deadline = time.monotonic() + timeout
    value = condition()
    while not value and time.monotonic() < deadline:
        time.sleep(interval)
        value = condition()
    return value


class Launcher:
    """One tovik.exe in a folder of its own, with the recorder beside it."""

    def __init__(self, name, ini=None):
        self.folder = os.path.join(WORK, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        for program in ("tovik.exe", "recorder.exe"):
            shutil.copy(os.path.join(BIN, program), self.folder)
        self.exe = os.path.join(self.folder, "tovik.exe")
        self.ini = os.path.join(self.folder, "tovik.ini")
        self.recorder = winpath(os.path.join(self.folder, "recorder.exe"))
        self.process = None
        if ini is not None:
            self.write_ini(ini)

    def write_ini(self, data):
        with open(self.ini, "wb") as out:
            out.write(data if isinstance(data, bytes) else data.encode("latin-1"))

    def ini_bytes(self):
        with open(self.ini, "rb") as f:
            return f.read()

    def ini_value(self, section, key):
        return json.loads(probe("ini-get", winpath(self.ini), section, key))

    def start(self, *args, wait=True, timeout_ms=15000):
        # The probe finds the launcher by its class: a stray one from elsewhere would mislead it.
        if not eventually(lambda: probe("quit", check=False) is not None and
                          subprocess.run([SESSION, "run", os.path.join(BIN, "probe.exe"), "tree"],
                                         env=ENV, stdout=subprocess.DEVNULL,
                                         stderr=subprocess.DEVNULL).returncode != 0, timeout=5):
            raise AssertionError("another launcher window is open")
        env = dict(ENV, TOVIK_TEST_FOLDER=winpath(self.folder))
        self.process = subprocess.Popen([SESSION, "run", self.exe, *args], env=env,
                                        stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                                        stderr=subprocess.DEVNULL)
        if wait and subprocess.run([SESSION, "run", os.path.join(BIN, "probe.exe"), "wait", str(timeout_ms)],
                                   env=ENV, stdout=subprocess.DEVNULL,
                                   stderr=subprocess.DEVNULL).returncode != 0:
            raise AssertionError("the launcher window did not appear")
        return self

    def tree(self):
        return json.loads(probe("tree"))

    def boxes(self):
        return self.tree()["boxes"]

    def wait_box(self, timeout=10):
        boxes = eventually(lambda: self.running() and self.tree()["boxes"], timeout)
        if not boxes:
            raise AssertionError("no message box appeared")
        return boxes[0]

    def running(self):
        return self.process is not None and self.process.poll() is None

    def wait_exit(self, timeout=15):
        return self.process.wait(timeout=timeout)

    def recorded(self, count=1, timeout=10):
        """The command lines the recorder received, once `count` have arrived."""
        log = os.path.join(self.folder, "recorder.log")

        def lines():
            if not os.path.exists(log):
                return []
            with open(log, "rb") as f:
                return f.read().decode("latin-1").splitlines()
        eventually(lambda: len(lines()) >= count, timeout)
        return lines()

    def stop(self):
        if self.running():
            self.process.kill()
            self.process.wait(timeout=10)


class LauncherTest(unittest.TestCase):
    """Gives each test its own launcher folder and ends whatever it left running."""

    def launcher(self, ini=None, suffix=""):
        launcher = Launcher(self.id().split(".")[-1] + suffix, ini)
        self.addCleanup(launcher.stop)
        return launcher

    def focused_control(self, tree):
        """The control holding the focus; the command field's edit box counts as the field."""
        combo = next(c for c in tree["children"] if c["class"] == "ComboBox")
        if tree["focus"] and tree["focusParent"] == combo["hwnd"]:
            return combo
        return next((c for c in tree["children"] if c["hwnd"] == tree["focus"]), None)

    def assertFocusIn(self, text_or_class, tree=None):
        tree = tree or eventually(lambda: self._focused_tree())
        control = self.focused_control(tree)
        self.assertIsNotNone(control, "no control has the focus")
        self.assertIn(text_or_class, (control["text"], control["class"]))

    def _focused_tree(self):
        tree = json.loads(probe("tree"))
        return tree if self.focused_control(tree) else None


def click_control(tree, text):
    """A real mouse click in the middle of the control with this text."""
    control = next(c for c in tree["children"] if c["text"] == text)
    left, top, right, bottom = control["rect"]
    x = tree["origin"][0] + (left + right) // 2
    y = tree["origin"][1] + (top + bottom) // 2
    xdotool("mousemove", str(x), str(y), "click", "1")


def control(tree, text):
    return next(c for c in tree["children"] if c["text"] == text)


WM_COMMAND, WM_SYSCOMMAND, WM_ENDSESSION = 0x111, 0x112, 0x16
FRESH_FILE = b"[Main]\r\nTop=100\r\nLeft=100\r\nDoClose=0\r\nDoMinimize=0\r\nCount=0\r\n"


def file_uri(path):
    """A file URI, percent-encoded as file managers send it."""
    from urllib.parse import quote
    return "file://" + quote(os.path.abspath(path))


def drop_files(tree, *paths):
    """A real XDND drop of `paths` on the launcher's caption area."""
    x, y = tree["origin"][0] + 120, tree["origin"][1] + 22
    subprocess.run([os.path.join(BIN, "xdnd-drop"), str(x), str(y), *map(file_uri, paths)],
                   env=ENV, check=True, timeout=30)
