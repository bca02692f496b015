#!/usr/bin/env python3
"""Installs the build into a temporary folder (DESTDIR, prefix /usr) and checks what the
package would hold: exactly the expected files, raduvuz on the PATH as a link that still finds
its program folder, activation files that agree with -REGSERVER, one version everywhere, and man
pages that man renders without a warning."""

import argparse
import glob
import gzip
import os
import re
import shutil
import subprocess
import sys
import tempfile

failures = []


def check(condition, message):
    if not condition:
        failures.append(message)
    return condition


def run(args, env=None, **kwargs):
    return subprocess.run(args, env=env, capture_output=True, text=True, timeout=60, **kwargs)


def expected_files(source, ctl):
    programs = ["twf", "memoryman", "raduvuz-rastergen", "raduvuz-goevent", "raduvuz-web"] + (["raduvuz-ctl"] if ctl else [])
    pages = [os.path.basename(p)[:-3] for p in glob.glob(os.path.join(source, "docs/man/*.1.md"))]
    if ctl and "raduvuz-ctl.1" not in pages:
        pages.append("raduvuz-ctl.1")
    files = {"usr/lib/raduvuz/raduvuz", "usr/bin/raduvuz", "usr/lib/raduvuz/ColorsCMYK.map",
             "usr/share/dbus-1/services/RAduvuz.ServerProvider.service",
             "usr/share/dbus-1/services/RozEza.MemoryMan.service",
             "usr/share/icons/hicolor/32x32/apps/raduvuz.png",
             "etc/opt/raduvuz/registry.ini",
             "usr/share/doc/raduvuz/copyright", "usr/share/doc/raduvuz/changelog.gz",
             "usr/share/lintian/overrides/raduvuz",
             "usr/lib/systemd/user/raduvuz-web.service"}
    files |= {"usr/bin/" + p for p in programs}
    files |= {"usr/lib/raduvuz/" + os.path.basename(p) for p in glob.glob(os.path.join(source, "app/Language.*"))}
    files |= {"usr/share/dbus-1/interfaces/" + os.path.basename(p)
              for p in glob.glob(os.path.join(source, "app/RAduvuz.I*.xml"))}
    files |= {"usr/share/man/man1/" + p + ".gz" for p in pages}
    return files, programs, pages


def installed_files(root):
    found = set()
    for folder, _, names in os.walk(root):
        for name in names:
            found.add(os.path.relpath(os.path.join(folder, name), root))
    return found


def read(path):
    with open(path, encoding="utf-8") as f:
        return f.read()


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("--build", required=True)
    parser.add_argument("--source", required=True)
    parser.add_argument("--version-file", required=True)
    parser.add_argument("--ctl", default="0")
    args = parser.parse_args()
    version = read(args.version_file).strip()
    ctl = args.ctl == "1"

    work = tempfile.mkdtemp(prefix="raduvuz-install-")
    try:
        root = os.path.join(work, "root")
        env = dict(os.environ, DESTDIR=root)
        done = run(["cmake", "--install", args.build, "--prefix", "/usr"], env=env)
        if not check(done.returncode == 0, "cmake --install failed:\n" + done.stdout + done.stderr):
            return

        want, programs, pages = expected_files(args.source, ctl)
        have = installed_files(root)
        check(not want - have, "missing from the install: " + ", ".join(sorted(want - have)))
        check(not have - want, "installed but not expected: " + ", ".join(sorted(have - want)))

        link = os.path.join(root, "usr/bin/raduvuz")
        check(os.path.islink(link) and os.readlink(link) == "../lib/raduvuz/raduvuz",
              "usr/bin/raduvuz is not a link to ../lib/raduvuz/raduvuz")
        for name in programs + ["raduvuz"]:
            path = os.path.join(root, "usr/bin", name)
            check(os.access(path, os.X_OK), name + " is not executable")
        check(oct(os.stat(os.path.join(root, "etc/opt/raduvuz/registry.ini")).st_mode & 0o777) == "0o644",
              "the registry file is not mode 644")

        services = os.path.join(root, "usr/share/dbus-1/services")
        check(read(os.path.join(services, "RAduvuz.ServerProvider.service")) ==
              "[D-BUS Service]\nName=RAduvuz.ServerProvider\nExec=/usr/lib/raduvuz/raduvuz -AUTOMATION\n",
              "RAduvuz.ServerProvider.service does not start the installed module program")
        check(read(os.path.join(services, "RozEza.MemoryMan.service")) ==
              "[D-BUS Service]\nName=RozEza.MemoryMan\nExec=/usr/bin/memoryman\n",
              "RozEza.MemoryMan.service does not start the installed store")

        # Started through the link, the program names its own file in the program folder, and
        # writes the same interface XML as the install holds.
        xdg = os.path.join(work, "xdg")
        reg_env = dict(os.environ, XDG_DATA_HOME=xdg, HOME=work)
        reg_env.pop("DESTDIR", None)
        done = run([link, "-REGSERVER"], env=reg_env)
        if check(done.returncode == 0, "raduvuz -REGSERVER failed: " + done.stderr):
            written = read(os.path.join(xdg, "dbus-1/services/RAduvuz.ServerProvider.service"))
            check(written == read(os.path.join(services, "RAduvuz.ServerProvider.service")).replace(
                "Exec=/usr/", "Exec=" + root + "/usr/"),
                "-REGSERVER of the installed program wrote another activation file:\n" + written)
            interfaces = os.path.join(root, "usr/share/dbus-1/interfaces")
            mine = sorted(os.listdir(os.path.join(xdg, "dbus-1/interfaces")))
            check(mine == sorted(os.listdir(interfaces)),
                  "-REGSERVER writes the interfaces %s, the install holds %s" % (mine, sorted(os.listdir(interfaces))))
            for name in mine:
                check(read(os.path.join(xdg, "dbus-1/interfaces", name)) == read(os.path.join(interfaces, name)),
                      name + " differs between -REGSERVER and the install")

        for name in ["raduvuz"] + programs:
            done = run([os.path.join(root, "usr/bin", name), "--version"], env=reg_env)
            check(done.returncode == 0 and done.stdout == "%s %s\n" % (name, version),
                  "%s --version printed %r (exit code %d), not %r" % (name, done.stdout, done.returncode,
                                                                       "%s %s" % (name, version)))

        with gzip.open(os.path.join(root, "usr/share/doc/raduvuz/changelog.gz"), "rt") as f:
            first = f.readline()
        check(first.startswith("raduvuz (%s) " % version), "the changelog starts with " + first)

        man_env = dict(reg_env, MANWIDTH="80", LC_ALL="C.UTF-8")
        for page in pages:
            path = os.path.join(root, "usr/share/man/man1", page + ".gz")
            if not check(os.path.exists(path), "no man page " + page):
                continue
            with open(path, "rb") as f:
                header = f.read(10)
            # gzip -n: no name and no time stamp, so the package is the same for the same sources.
            check(header[3] & 0x08 == 0 and header[4:8] == b"\0\0\0\0", page + ".gz carries a name or a time")
            done = run(["man", "--warnings", "-E", "UTF-8", "-l", path], env=man_env)
            check(done.returncode == 0 and done.stderr == "",
                  "man --warnings -l %s: exit code %d\n%s" % (page, done.returncode, done.stderr))
            for section in ["NAME", "SYNOPSIS", "DESCRIPTION", "OPTIONS", "FILES", "ENVIRONMENT",
                            "EXIT STATUS", "EXAMPLES", "SEE ALSO"]:
                check("\n" + section + "\n" in done.stdout, "%s has no %s section" % (page, section))
            command = page[:-2]
            check(re.search(r"NAME\n\s+%s\s+[-\u2010]\s" % re.escape(command), done.stdout),
                  page + " has no NAME line for " + command)
    finally:
        shutil.rmtree(work, ignore_errors=True)


main()
for failure in failures:
    print("FAIL: " + failure)
if failures:
    sys.exit(1)
print("install tree: every check passed")
