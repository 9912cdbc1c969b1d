#!/usr/bin/env python3
"""Writes the Scoop manifest of a release zip beside it as tovik.json, or checks one against the
zip beside it: the fields Scoop reads, the zip's SHA-256 and the version of the exe inside it.
    scoop-manifest.py ZIP [SITE]      SITE: the web address of the repository whose releases carry
                                      the zip; by default as this machine knows it (the release
                                      workflow's GITHUB_SERVER_URL and GITHUB_REPOSITORY, or the
                                      clone's origin remote; a clone with neither names its folder)
    scoop-manifest.py --check MANIFEST
"""
import hashlib
import importlib.util
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
RT_VERSION = 16
# A user's settings stay in Scoop's persist folder, hard-linked into each version's folder. Scoop
# makes a folder of a persisted name it finds nowhere, so an empty file is made first.
PRE_INSTALL = [
    'if (!(Test-Path "$persist_dir\\tovik.ini") -and !(Test-Path "$dir\\tovik.ini")) {',
    '    New-Item "$dir\\tovik.ini" -ItemType File | Out-Null',
    "}",
]


def exe_version(archive):
    """The file version in the version resource of the zip's tovik.exe, as "1.2.3.4"."""
    module = importlib.util.spec_from_file_location("check_exe", os.path.join(HERE, "check-exe.py"))
    check_exe = importlib.util.module_from_spec(module)
    module.loader.exec_module(check_exe)
    with zipfile.ZipFile(archive) as files:
        _, found = check_exe.resources(files.read("tovik.exe"))
    version = found[(RT_VERSION, 1)][0]
    ms, ls = struct.unpack_from("<2I", version, version.find(struct.pack("<I", 0xFEEF04BD)) + 8)
    return f"{ms >> 16}.{ms & 0xFFFF}.{ls >> 16}.{ls & 0xFFFF}"


def repository_site():
    """The repository's web address, as this machine is configured: the workflow's server and
    repository, else the clone's origin remote (an ssh one made a web address), else the
    project's own folder."""
    server, name = os.environ.get("GITHUB_SERVER_URL"), os.environ.get("GITHUB_REPOSITORY")
    if server and name:
        return f"{server}/{name}"
    root = os.path.dirname(HERE)
    remote = subprocess.run(["git", "-C", root, "remote", "get-url", "origin"],
                            capture_output=True, text=True).stdout.strip()
    if not remote:
        return pathlib.Path(root).as_uri()
    scp_like = re.fullmatch(r"(?:[^@/:]+@)?([^/:]+):(?!//)(.+)", remote)
    if scp_like:
        site = f"https://{scp_like[1]}/{scp_like[2]}"
    else:  # without the user and password a remote may carry
        site = re.sub(r"//[^/@]*@", "//", remote)
    return re.sub(r"\.git$", "", re.sub(r"^(?:ssh|git)://", "https://", site))


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def manifest(archive, site):
    version = exe_version(archive)
    releases = f"{site}/releases/download"
    return {
        "version": version,
        "description": "A tiny, fast, portable program launcher: type a command, press Enter.",
        "homepage": site,
        "license": {"identifier": "Freeware", "url": f"{site}/blob/main/LICENSE"},
        "url": f"{releases}/v{version}/{os.path.basename(archive)}",
        "hash": sha256(archive),
        "pre_install": PRE_INSTALL,
        "persist": "tovik.ini",
        "shortcuts": [["tovik.exe", "Tovik"]],
        "checkver": {"github": site},
        "autoupdate": {"url": f"{releases}/v$version/tovik-$version-win32.zip",
                       "hash": {"url": "$url.sha256"}},
    }


def problems(path):
    with open(path, encoding="utf-8") as f:
        found = json.load(f)
    archive = os.path.join(os.path.dirname(path), os.path.basename(found.get("url", "")))
    if not os.path.isfile(archive):
        return [f"no zip {os.path.basename(archive)} beside the manifest"]
    wanted = manifest(archive, found.get("homepage", ""))
    return [f"{key} is {found.get(key)!r}, not {value!r}" for key, value in wanted.items()
            if found.get(key) != value]


def main(arguments):
    if arguments[:1] == ["--check"]:
        wrong = problems(arguments[1])
        for problem in wrong:
            print(f"scoop-manifest: {arguments[1]}: {problem}", file=sys.stderr)
        if not wrong:
            print(f"scoop-manifest: {arguments[1]}: the zip's hash and its exe's version, as Scoop "
                  "needs them")
        return 1 if wrong else 0
    site = arguments[1] if len(arguments) > 1 else repository_site()
    out = os.path.join(os.path.dirname(os.path.abspath(arguments[0])), "tovik.json")
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        json.dump(manifest(arguments[0], site), f, indent=4)
        f.write("\n")
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
