"""Checks Tovik as Scoop installed it, for the release workflow on Windows: which version folders
Scoop keeps, that the persisted tovik.ini and its copy in each of them are one file, and what a
start of the current version shows and saves.
  scoop-check.py --versions V[,V...] [--top NAME] [--launch NAME]
      the version folders Scoop must have, the last the current one; Tovik started from it must
      show the launch NAME at the top of its history, and launch the recorder with NAME
  scoop-check.py --uninstalled --top NAME
      Tovik uninstalled: no app folder, the persisted file kept with the launch NAME at its top
A launch NAME is the command '"RECORDER" NAME', the recorder of the end-to-end tools."""
import argparse
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "e2e"))
import harness  # noqa: E402  (found through the path above)

SCOOP = os.path.join(os.environ["USERPROFILE"], "scoop")
APP = os.path.join(SCOOP, "apps", "tovik")
PERSISTED = os.path.join(SCOOP, "persist", "tovik", "tovik.ini")
RECORDER = os.path.join(harness.BIN, "recorder.exe")


def command(name):
    return f'"{RECORDER}" {name}'


def recorded(name):
    log = os.path.join(harness.BIN, "recorder.log")
    return os.path.exists(log) and any(
        line.endswith(f'" {name}') for line in open(log, encoding="latin-1").read().splitlines())


def main(arguments):
    parser = argparse.ArgumentParser()
    state = parser.add_mutually_exclusive_group(required=True)
    state.add_argument("--versions")
    state.add_argument("--uninstalled", action="store_true")
    parser.add_argument("--top")
    parser.add_argument("--launch")
    options = parser.parse_args(arguments)
    versions = [] if options.uninstalled else options.versions.split(",")
    folders = sorted(os.listdir(APP)) if os.path.exists(APP) else []
    expected = sorted(versions + ["current"]) if versions else []
    assert folders == expected, f"{APP} holds {folders}, not {expected}"
    assert os.path.isfile(PERSISTED), f"no {PERSISTED}"

    if versions:
        current = os.path.join(APP, "current")
        assert os.path.realpath(current) == os.path.realpath(os.path.join(APP, versions[-1])), \
            f"{current} leads to {os.path.realpath(current)}, not to version {versions[-1]}"
        tovik = subprocess.Popen([os.path.join(current, "tovik.exe")])
        harness.probe("wait", 15000)
        history = harness.tree()["combo"]["items"]
        if options.top:
            assert history[:1] == [command(options.top)], f"the history: {history}"
        if options.launch:
            assert not recorded(options.launch), f"{options.launch} was launched before"
            harness.probe("set-text", command(options.launch))
            harness.keys("Return")
            assert harness.eventually(lambda: recorded(options.launch)), "the launch never came"
        harness.keys("Escape")
        assert tovik.wait(15) == 0, "Tovik did not end with 0"

    text = open(PERSISTED, encoding="latin-1").read()
    top = options.launch or options.top
    assert f'MRU0="{command(top)}"' in text, f"the persisted tovik.ini: {text}"
    # Scoop links the persisted file into every version's folder, until cleanup removes the old.
    names = [PERSISTED] + [os.path.join(APP, v, "tovik.ini") for v in versions]
    for name in names[1:]:
        assert os.path.samefile(name, PERSISTED), f"{name} is not the persisted file"
    links = os.stat(PERSISTED).st_nlink
    assert links == len(names), f"the persisted file has {links} names, not {len(names)}: {names}"
    kept = f"one file under {len(names)} names" if len(names) > 1 else "kept"
    print(f"scoop: {top} at the top of the persisted history, {kept}")
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
