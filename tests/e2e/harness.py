"""Drives the real tovik.exe from outside: a folder of its own, real input, the probe. Under Wine
(a private X display) or on Windows itself, where the same cases run on the shipped exe."""
import json
import os
import pathlib
import re
import shutil
import subprocess
import time
import unittest

SOURCE = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "..")
SESSION = os.path.join(SOURCE, "tools", "wine-session.sh")
NATIVE = os.name == "nt"  # on Windows itself: no Wine, no X
BIN = os.environ["TOVIK_BIN"]
# The version the exe must name, as its resources and its About box take it.
VERSION = re.search(r'TOVIK_VERSION_TEXT "([^"]+)"',
                    pathlib.Path(SOURCE, "res", "version.h").read_text()).group(1)
BUILT = os.path.join(BIN, "tovik.exe")
EXE = os.environ.get("TOVIK_EXE") or BUILT  # the exe under test: the shipped one, or this build's
PLANTED = os.environ.get("TOVIK_PLANTED_DLL") or os.path.join(BIN, "planted.dll")  # the exe's kind
SLOW = float(os.environ.get("TOVIK_E2E_SLOW", "1"))  # every wait scaled: emulation is far slower
WORK = os.environ["TOVIK_E2E_WORK"]
ENV = dict(os.environ)
if not NATIVE:
    ENV["DISPLAY"] = ":" + open(os.path.join(ENV["TOVIK_WINE_ROOT"], "wine-display")).read().strip()
WM_COMMAND, WM_SYSCOMMAND, WM_ENDSESSION, WM_KEYDOWN, WM_CLOSE = 0x111, 0x112, 0x16, 0x100, 0x10
FRESH_FILE = b"[Main]\r\nTop=100\r\nLeft=100\r\nDoClose=0\r\nDoMinimize=0\r\nCount=0\r\n"


def winpath(path):
    """The Windows name of a path on this machine, as Wine maps it."""
    return os.path.abspath(path) if NATIVE else "Z:" + os.path.abspath(path).replace("/", "\\")


def windows_program(*command):
    """The command that runs a Windows program: in the Wine session, or as it is on Windows."""
    return list(command) if NATIVE else [SESSION, "run", *command]


def error_log(name):
    """A file in the work folder that keeps a helper's error output, for a failure to show."""
    os.makedirs(WORK, exist_ok=True)
    return open(os.path.join(WORK, name + ".stderr"), "ab")


_probe = None  # one process: a program start under Wine costs far more than a request


def probe(*args, check=True):
    """What the probe printed for one request; one probe process serves the run."""
    global _probe
    if _probe is None or _probe.poll() is not None:
        _probe = subprocess.Popen(windows_program(os.path.join(BIN, "probe.exe"), "serve"),
                                  env=ENV, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                  stderr=error_log("probe"))
    _probe.stdin.write(("\t".join(map(str, args)) + "\n").encode())
    _probe.stdin.flush()
    lines = []
    read = lambda: _probe.stdout.readline().decode("utf-8", "replace").replace("\r\n", "\n")
    while not (line := read()).startswith("="):
        if not line:
            raise AssertionError(f"the probe ended during {args}")
        lines.append(line)
    if check and line != "=0\n":
        raise AssertionError(f"probe {args} answered {line.strip()}: {''.join(lines).strip()}")
    return "".join(lines)


# The keyboard, the mouse and the screen: X11's (xdotool, the root window's image), or the
# platform's own (SendInput and the screen's device context, through the probe), which is all a
# run on Windows has. TOVIK_INPUT=sendinput chooses the second under Wine.
SEND_INPUT = NATIVE or os.environ.get("TOVIK_INPUT", "x11") == "sendinput"


def xdotool(*args):
    subprocess.run(["xdotool", *args], env=ENV, check=True, timeout=30)


def keys(*names):
    if SEND_INPUT:
        to_the_front()
        probe("key", *names)
    else:
        xdotool("key", "--delay", "40", *names)


def type_text(text):
    if SEND_INPUT:
        to_the_front()
        probe("type", text)
    else:
        xdotool("type", "--delay", "25", text)


def launchers(t):
    """The launcher's main window and its boxes and dialogs."""
    return {t["main"]["hwnd"], *(box["window"]["hwnd"] for box in t["boxes"])}


def to_the_front():
    """A launcher's window in front before keys go out: the platform's input reaches only the
    foreground window, and Windows gives a started program the foreground only in some cases (a
    console that started the run may keep it). Clicked by its title bar, as a person would."""
    if (t := tree())["foreground"] in launchers(t):
        return
    click_at(t["outer"][0] + 60, t["outer"][1] + 10)
    if not eventually(lambda: (t := tree())["foreground"] in launchers(t), 5):
        raise AssertionError(f"the launcher is not in front: window {tree()['foreground']} is")


def click_at(x, y):
    """A real left click at a point of the screen."""
    if SEND_INPUT:
        probe("click", x, y)
    else:
        xdotool("mousemove", str(x), str(y), "click", "1")


def eventually(condition, timeout=10.0):
    """Polls until `condition()` is truthy; returns its last value."""
    deadline = time.monotonic() + timeout * SLOW
    while not (value := condition()) and time.monotonic() < deadline:
        time.sleep(0.1)
    return value


def tree():
    return json.loads(probe("tree"))


def control(tree, text):
    return next(c for c in tree["children"] if c["text"] == text)


def close_by_title_bar():
    outer = tree()["outer"]
    click_at(outer[2] - 12, outer[1] + 11)


def click(tree, text):
    """A real mouse click in the middle of the control with this text."""
    left, top, right, bottom = control(tree, text)["rect"]
    click_at(tree["origin"][0] + (left + right) // 2, tree["origin"][1] + (top + bottom) // 2)


def pixels(tree, left, top, right, bottom):
    """The screen's pixels in a rectangle of the client area's coordinates."""
    (x, y) = tree["origin"]
    if SEND_INPUT:
        return probe("pixels", x + left, y + top, right - left, bottom - top)
    from Xlib import X, display
    x11 = display.Display(ENV["DISPLAY"])
    data = x11.screen().root.get_image(x + left, y + top, right - left, bottom - top, X.ZPixmap,
                                       0xFFFFFFFF).data
    x11.close()
    return data


def steady(grab):
    """What `grab()` gives twice in a row: pixels once drawing has settled."""
    return eventually(lambda: (seen := grab()) == grab() and seen)


def look(tree):
    """The client area's pixels above and below the command field, whose caret blinks."""
    width, height = tree["client"][2], tree["client"][3]
    field = next(c for c in tree["children"] if c["class"] == "ComboBox")["rect"]
    return pixels(tree, 0, 0, width, field[1]) + pixels(tree, 0, field[3], width, height)


def focused(tree):
    """The text of the control holding the focus; "ComboBox" for the field's edit box."""
    combo = next(c for c in tree["children"] if c["class"] == "ComboBox")
    if tree["focus"] and tree["focusParent"] == combo["hwnd"]:
        return "ComboBox"
    return next((c["text"] for c in tree["children"] if c["hwnd"] == tree["focus"]), None)


class Launcher:
    """One tovik.exe in a folder of its own, with the recorder beside it."""

    def __init__(self, name, ini=None, exe=EXE):
        self.name = name
        self.folder = os.path.join(WORK, name)
        shutil.rmtree(self.folder, ignore_errors=True)
        os.makedirs(self.folder)
        shutil.copy(exe, os.path.join(self.folder, "tovik.exe"))
        shutil.copy(os.path.join(BIN, "recorder.exe"), self.folder)
        self.ini = pathlib.Path(self.folder, "tovik.ini")
        self.recorder = winpath(os.path.join(self.folder, "recorder.exe"))
        self.process = None
        if ini is not None:
            self.ini.write_bytes(ini if isinstance(ini, bytes) else ini.encode("latin-1"))

    def start(self, *args, wait=True):
        self.process = subprocess.Popen(
            windows_program(os.path.join(self.folder, "tovik.exe"), *args), env=ENV,
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=error_log(self.name))
        if wait:
            try:
                probe("wait", int(15000 * SLOW))  # fails when the window does not appear
            except AssertionError as failure:
                status = self.process.poll()
                said = pathlib.Path(WORK, self.name + ".stderr").read_text("latin-1").strip()
                raise AssertionError(f"{failure}; the launcher ended with {status}: {said}")
            if SEND_INPUT:
                # Wine takes the modifier keys' state from X when a window gains the focus, which
                # drops a modifier that SendInput pressed just before (Alt of Alt+F4): input
                # waits until the new window has settled.
                time.sleep(0.5 * SLOW)
        return self

    def wait_box(self):
        boxes = eventually(lambda: self.process.poll() is None and tree()["boxes"])
        if not boxes:
            raise AssertionError("no message box appeared")
        return boxes[0]

    def running(self):
        return self.process.poll() is None

    def wait_exit(self, timeout=15):
        return self.process.wait(timeout=timeout * SLOW)

    def recorded(self, count=1, timeout=10):
        """The command lines the recorder was started with, once `count` came; each start must
        have been asked to show itself normally (SW_SHOWNORMAL, 1)."""
        log = pathlib.Path(self.folder, "recorder.log")
        lines = lambda: log.exists() and log.read_bytes().decode("latin-1").splitlines() or []
        eventually(lambda: len(lines()) >= count, timeout)
        starts = [line.split(" ", 2) for line in lines()]
        assert all(show == "1" for show, *_ in starts), f"not shown normally: {starts}"
        return [command_line for *_, command_line in starts]

    def stop(self):
        # Asked to end first; killed where it does not (Wine may keep a launcher whose list an
        # X11 key opened from ending on WM_QUIT).
        probe("quit", int(2000 * SLOW), check=False)
        if self.process and self.running():
            self.process.kill()
            self.process.wait(timeout=10)
        # A launcher that outlived its wrapper would mislead the next test's probe.
        probe("quit", check=False)


class LauncherTest(unittest.TestCase):
    """Gives each launcher its own folder and ends whatever a test left running."""

    def launcher(self, ini=None, suffix="", exe=EXE):
        launcher = Launcher(self.id().split(".")[-1] + suffix, ini, exe)
        self.addCleanup(launcher.stop)
        return launcher

    def assertFocusIn(self, expected):
        self.assertEqual(eventually(lambda: focused(tree()) == expected and expected)
                         or focused(tree()), expected)
