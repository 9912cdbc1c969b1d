#!/usr/bin/env python3
"""Writes the Scoop manifest of a release zip beside it as tovik.json, or checks one against the
zip beside it: the fields Scoop reads, the zip's SHA-256 and the version of the exe inside it.

The repository whose releases carry the zip is SITE, else the one this machine names: the release
workflow's GITHUB_SERVER_URL and GITHUB_REPOSITORY, else the clone's origin remote where that is a
web address. Without one (no origin, a local path, an ssh remote) the manifest has no homepage,
licence address, checkver or autoupdate, and its url is the zip's own file URI: enough
to check the zip and the exe, nothing to publish."""
import argparse
import hashlib
import importlib.util
import json
import os
import pathlib
import re
import struct
import subprocess
import sys
import urllib.parse
import zipfile

HERE = os.path.dirname(os.path.abspath(__file__))
RT_VERSION = 16
# A user's settings stay in Scoop's persist folder, hard-linked into each version's folder. Scoop
# runs this after unpacking the zip, which has no tovik.ini; where the persist folder has none yet,
# an empty one is made, as Scoop would make a folder of a persisted name it finds nowhere.
PRE_INSTALL = ('if (!(Test-Path "$persist_dir\\tovik.ini")) '
               '{ New-Item "$dir\\tovik.ini" -ItemType File | Out-Null }')


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


def web_address(text):
    """The text as an http(s) address with a host, without a trailing slash; else None."""
    parts = urllib.parse.urlsplit(text)
    if parts.scheme not in ("http", "https") or not parts.hostname:
        return None
    return text.rstrip("/")


def repository_site():
    """The repository's web address as this machine is configured, or None: the workflow's server
    and repository, else the clone's origin remote where that is a web address. An ssh remote
    names no web address: none is guessed from its host."""
    server, name = os.environ.get("GITHUB_SERVER_URL"), os.environ.get("GITHUB_REPOSITORY")
    if server and name:
        return web_address(f"{server}/{name}")
    remote = subprocess.run(["git", "-C", os.path.dirname(HERE), "remote", "get-url", "origin"],
                            capture_output=True, text=True).stdout.strip()
    # Without the user and password a remote may carry, and git's ".git".
    return web_address(re.sub(r"\.git/?$", "", re.sub(r"//[^/@]*@", "//", remote)))


def sha256(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def manifest(archive, site):
    """The manifest's fields, in Scoop's usual order; those that follow from the site only with
    one."""
    version = exe_version(archive)
    releases = f"{site}/releases/download"
    fields = {
        "version": version,
        "description": "A tiny, fast, portable program launcher: type a command, press Enter.",
        "homepage": site,
        "license": {"identifier": "Freeware", "url": f"{site}/blob/main/LICENSE"} if site
        else "Freeware",
        "url": f"{releases}/v{version}/{os.path.basename(archive)}" if site
        else pathlib.Path(archive).resolve().as_uri(),
        "hash": sha256(archive),
        "pre_install": PRE_INSTALL,
        "persist": "tovik.ini",
        "shortcuts": [["tovik.exe", "Tovik"]],
        "checkver": {"github": site} if site else None,
        "autoupdate": {"url": f"{releases}/v$version/tovik-$version-win32.zip",
                       "hash": {"url": "$url.sha256"}} if site else None,
    }
    return {key: value for key, value in fields.items() if value is not None}


def problems(path, site):
    try:
        with open(path, encoding="utf-8") as f:
            found = json.load(f)
    except (OSError, ValueError) as error:
        return [f"not read: {error}"]
    if not isinstance(found, dict):
        return ["not a JSON object"]
    url = found.get("url")
    name = os.path.basename(urllib.parse.urlsplit(url).path) if isinstance(url, str) else ""
    archive = os.path.join(os.path.dirname(path), urllib.parse.unquote(name))
    if not name or not os.path.isfile(archive):
        return [f"its url {url!r} names no zip beside the manifest"]
    wanted = manifest(archive, site)
    return ([f"{key} is {found[key]!r}, not {value!r}" if key in found else f"no {key}: {value!r}"
             for key, value in wanted.items() if found.get(key) != value] +
            [f"{key}: a field it should not have" for key in found if key not in wanted])


def main(arguments):
    parser = argparse.ArgumentParser(
        description="Writes Scoop's manifest tovik.json beside a release zip, or checks one.",
        epilog="SITE, where not given, is the repository this machine names: GITHUB_SERVER_URL "
               "and GITHUB_REPOSITORY, else the clone's origin remote if it is a web address. "
               "Without one the manifest has no homepage, licence address, checkver or "
               "autoupdate, and its url is the zip's own file URI.")
    parser.add_argument("--check", action="store_true",
                        help="check the manifest PATH against the zip beside it and the site")
    parser.add_argument("path", metavar="PATH", help="the release zip, or with --check the manifest")
    parser.add_argument("site", metavar="SITE", nargs="?",
                        help="the web address of the repository whose releases carry the zip")
    options = parser.parse_args(arguments)
    if not options.check and not os.path.isfile(options.path):
        parser.error(f"no zip {options.path}")
    if options.site is None:
        site = repository_site()
    elif not (site := web_address(options.site)):
        parser.error(f"SITE must be an http or https address: {options.site}")
    if options.check:
        wrong = problems(options.path, site)
        for problem in wrong:
            print(f"scoop-manifest: {options.path}: {problem}", file=sys.stderr)
        if not wrong:
            print(f"scoop-manifest: {options.path}: the zip's hash and its exe's version, as Scoop "
                  f"needs them, for {site or 'no repository'}")
        return 1 if wrong else 0
    out = os.path.join(os.path.dirname(os.path.abspath(options.path)), "tovik.json")
    with open(out, "w", encoding="utf-8", newline="\n") as f:
        json.dump(manifest(options.path, site), f, indent=4)
        f.write("\n")
    print(out)
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv[1:]))
