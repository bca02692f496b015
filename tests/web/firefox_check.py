#!/usr/bin/python3
"""The web console in a real headless Firefox, the walk of browser_test.py, with no driver
program: Firefox answers its own remote protocol (Marionette: LENGTH:JSON messages, commands
[0, id, name, parameters], replies [1, id, error, result]) on a port of a fresh private profile.

The test that starts the gateway and the workflow (WebBrowserTest.cpp, on request) passes the
same environment as to browser_test.py: WEB_URL, OP_USER, OP_PASSWORD, VIEWER_USER,
VIEWER_PASSWORD, and SHOTS_DIR for the screenshots: web-firefox.png (1400 px wide),
web-firefox-tablet.png (768 px), the modules and the redirect dialog. Exit code 0 when every
check held.
"""
import base64
import json
import os
import socket
import subprocess
import sys
import tempfile
import time

URL = os.environ["WEB_URL"]
SHOTS = os.environ.get("SHOTS_DIR", "")
ELEMENT = "element-6066-11e4-a52e-4f735466cecf"
# Quiet: no updates, reports or first-run pages, nothing fetched from other hosts.
PREFS = {"app.update.disabledForTesting": True, "browser.shell.checkDefaultBrowser": False,
         "datareporting.policy.dataSubmissionEnabled": False, "toolkit.telemetry.enabled": False,
         "browser.startup.homepage_override.mstone": "ignore", "browser.safebrowsing.malware.enabled": False,
         "browser.safebrowsing.phishing.enabled": False, "extensions.update.enabled": False,
         "network.captive-portal-service.enabled": False, "network.connectivity-service.enabled": False,
         "intl.accept_languages": "en-US"}


class Firefox:
    def __init__(self, profile, width, height):
        with socket.socket() as probe:
            probe.bind(("127.0.0.1", 0))
            port = probe.getsockname()[1]
        os.makedirs(profile, mode=0o700)
        with open(os.path.join(profile, "user.js"), "w") as prefs:
            for name, value in dict(PREFS, **{"marionette.port": port}).items():
                prefs.write("user_pref(%s, %s);\n" % (json.dumps(name), json.dumps(value)))
        env = dict(os.environ, MOZ_CRASHREPORTER_DISABLE="1")
        with open(os.path.join(profile, "firefox.log"), "wb") as log:
            self.process = subprocess.Popen(["/usr/bin/firefox-esr", "--headless", "--marionette", "--no-remote",
                                             "--profile", profile], stdout=log, stderr=subprocess.STDOUT, env=env)
        deadline = time.monotonic() + 60
        while True:
            try:
                self.socket = socket.create_connection(("127.0.0.1", port), timeout=60)
                break
            except OSError:
                if time.monotonic() > deadline or self.process.poll() is not None:
                    raise
                time.sleep(0.2)
        self.buffer, self.serial = b"", 0
        self.receive()
        # Marionette takes the capabilities flat; the gateway's certificate is self-signed.
        self.call("WebDriver:NewSession", {"acceptInsecureCerts": True})
        self.call("WebDriver:SetTimeouts", {"pageLoad": 30000})
        # The page's width is the window's less the frame: the frame is added back.
        self.call("WebDriver:SetWindowRect", {"width": width, "height": height})
        inner = self.js("return [window.innerWidth, window.innerHeight]")
        self.call("WebDriver:SetWindowRect", {"width": 2 * width - inner[0], "height": 2 * height - inner[1]})

    def receive(self):
        while b":" not in self.buffer:
            self.buffer += self.read()
        length, _, rest = self.buffer.partition(b":")
        while len(rest) < int(length):
            rest += self.read()
        self.buffer = rest[int(length):]
        return json.loads(rest[:int(length)])

    def read(self):
        data = self.socket.recv(65536)
        if not data:
            raise ConnectionError("Firefox closed its remote protocol")
        return data

    def call(self, command, parameters=None):
        self.serial += 1
        text = json.dumps([0, self.serial, command, parameters or {}]).encode()
        self.socket.sendall(b"%d:%s" % (len(text), text))
        while True:
            _, serial, error, result = self.receive()
            if serial == self.serial:
                break
        if error:
            raise RuntimeError("%s: %s: %s" % (command, error.get("error"), error.get("message")))
        return result["value"] if isinstance(result, dict) and list(result) == ["value"] else result

    def js(self, script, *args):
        return self.call("WebDriver:ExecuteScript", {"script": script, "args": list(args)})

    def find(self, css):
        return self.call("WebDriver:FindElement", {"using": "css selector", "value": css})

    def click(self, css):
        """Clicks an element scrolled to the middle of its list, clear of the list's sticky
        header; found again when the live list drew its rows anew meanwhile."""
        for _ in range(40):
            try:
                element = self.find(css)
                self.js("arguments[0].scrollIntoView({block: 'center'})", element)
                self.call("WebDriver:ElementClick", {"id": element[ELEMENT]})
                return
            except RuntimeError as error:
                if "stale element" not in str(error):
                    raise
                time.sleep(0.05)
        raise AssertionError("cannot click " + css)

    def type(self, css, text):
        self.call("WebDriver:ElementSendKeys", {"id": self.find(css)[ELEMENT], "text": text})

    def wait(self, condition, what, seconds=20):
        """The value of the script expression condition once it is true."""
        deadline = time.monotonic() + seconds
        while time.monotonic() < deadline:
            value = self.js("return " + condition)
            if value:
                return value
            time.sleep(0.05)
        print("FAILED waiting for " + what, file=sys.stderr)
        print(self.js("return document.body.innerText")[:3000], file=sys.stderr)
        raise AssertionError("no " + what)

    def shot(self, path):
        """The viewport as a PNG file."""
        with open(path, "wb") as png:
            png.write(base64.b64decode(self.call("WebDriver:TakeScreenshot", {"full": False})))

    def quit(self):
        try:
            self.call("Marionette:Quit")
        except (OSError, RuntimeError):
            pass
        try:
            self.process.wait(20)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait()


def rows(panel, state=""):
    return "document.querySelectorAll('#list-%s .job%s')" % (panel, "[data-state=%s]" % state if state else "")


def names(panel):
    return "[...%s].map(r => r.querySelector('.c-name').innerText)" % rows(panel)


def enabled(panel, action):
    return "!document.querySelector('#list-%s button[data-action=%s]').disabled" % (panel, action)


def shot(ff, name):
    if SHOTS:
        ff.shot(os.path.join(SHOTS, name))


def sign_in(ff, user, password):
    ff.call("WebDriver:Navigate", {"url": URL})
    ff.wait("document.querySelector('#signin input[name=user]')", "the sign-in form")
    ff.type("#signin input[name=user]", user)
    ff.type("#signin input[name=password]", password)
    ff.click("#signin button[type=submit]")
    ff.wait("document.querySelector('.module h2 a')", "the modules")
    shot(ff, "web-firefox-modules-%s-%d.png" % (user, ff.js("return window.innerWidth")))
    ff.click(".module h2 a")
    ff.wait(rows("passed") + ".length", "the passed jobs")


def operator_session(ff):
    sign_in(ff, os.environ["OP_USER"], os.environ["OP_PASSWORD"])
    # A reload would lose this mark: the checks below see the page change by itself.
    ff.js("window.notReloaded = true")
    held_id = ff.wait(rows("process", "held") + "[0]?.dataset.id", "a held job")

    # Search with FindJobs' criteria: the passed list shows what was found.
    ff.click("#list-passed button.search")
    ff.type("#dialog input[name=name]", "sol")
    ff.click("#dialog button.ok")
    ff.wait("document.querySelector('#list-passed .found')", "the search's result")
    assert ff.js("return " + names("passed")) == ["solo"], ff.js("return " + names("passed"))
    ff.click("#list-passed .found button")
    ff.wait(rows("passed") + ".length == 2", "both passed jobs again")

    # Redirect with the device dialog: only the devices the job's flow entries name are on.
    solo = ff.js("return [...%s].find(r => r.querySelector('.c-name').innerText == 'solo').dataset.id" % rows("passed"))
    ff.click("#list-passed .job[data-id='%s']" % solo)
    ff.wait(enabled("passed", "redirect"), "Redirect enabled")
    ff.click("#list-passed button[data-action=redirect]")
    ff.wait("document.querySelector('#dialog input[name=device]')", "the devices")
    boxes = ff.js("return [...document.querySelectorAll('#dialog input[name=device]')].map(b => !b.disabled)")
    assert len(boxes) >= 2 and boxes.count(True) == 1, boxes
    ff.click("#dialog input[name=device]:not(:disabled)")
    shot(ff, "web-firefox-redirect.png")
    ff.click("#dialog button.ok")
    ff.wait("document.getElementById('notice').innerText.includes('1 of 1')", "the redirect done")

    # Release the held job: it leaves the jobs in process without a reload.
    ff.click("#list-process .job[data-id='%s']" % held_id)
    ff.wait(enabled("process", "release"), "Release enabled")
    shot(ff, "web-firefox.png")
    ff.click("#list-process button[data-action=release]")
    ff.wait("!document.querySelector(\"#list-process .job[data-id='%s']\")" % held_id,
            "the released job to leave the list")
    assert ff.js("return window.notReloaded === true"), "the page was reloaded"

    # The viewer sees the jobs and no action.
    ff.click("#signout")
    sign_in(ff, os.environ["VIEWER_USER"], os.environ["VIEWER_PASSWORD"])
    buttons = ff.js("return [...document.querySelectorAll('button.action, button.pause, button.resume')]"
                    ".map(b => b.innerText)")
    assert not buttons, buttons
    assert ff.js("return " + rows("passed") + ".length"), "the viewer sees no jobs"


def tablet(ff):
    sign_in(ff, os.environ["OP_USER"], os.environ["OP_PASSWORD"])
    assert ff.js("return document.documentElement.scrollWidth <= window.innerWidth"), "the page scrolls sideways"
    ff.click("#list-passed .job")
    ff.wait(enabled("passed", "reprocess"), "Reprocess enabled")
    shot(ff, "web-firefox-tablet.png")


def main():
    with tempfile.TemporaryDirectory() as profiles:
        for session, width, height in ((operator_session, 1400, 900), (tablet, 768, 1024)):
            ff = Firefox(os.path.join(profiles, session.__name__), width, height)
            try:
                session(ff)
            except Exception:
                # What the page showed when a check failed, beside the test's other files.
                failed = os.path.join(SHOTS or os.environ.get("HOME", "/tmp"), "failed-firefox.png")
                ff.shot(failed)
                print("the page when the check failed: " + failed, file=sys.stderr)
                raise
            finally:
                ff.quit()
    print("browser checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
