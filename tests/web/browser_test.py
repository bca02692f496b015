#!/usr/bin/python3
"""The web console in a real headless Chromium, against a running gateway and workflow.

The test that starts them (WebBrowserTest.cpp) passes the URL and the accounts in the
environment: WEB_URL, OP_USER, OP_PASSWORD, VIEWER_USER, VIEWER_PASSWORD, and SHOTS_DIR to also
take the screenshots of the documentation. Exit code 0 when every check held.
"""
import os
import sys
import tempfile

import time

from selenium import webdriver
from selenium.common.exceptions import StaleElementReferenceException
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

URL = os.environ["WEB_URL"]
SHOTS = os.environ.get("SHOTS_DIR", "")


def browser(language, width, height, profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu",
                     "--disable-background-networking", "--disable-component-update",
                     "--disable-sync", "--no-first-run", "--disable-dev-shm-usage",
                     # The gateway's certificate is self-signed.
                     "--ignore-certificate-errors",
                     "--user-data-dir=" + profile, "--window-size=%d,%d" % (width, height),
                     "--lang=" + language):
        options.add_argument(argument)
    options.add_experimental_option("prefs", {"intl.accept_languages": language})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.set_page_load_timeout(30)
    return driver


def wait(driver, condition, what, seconds=20):
    try:
        return WebDriverWait(driver, seconds, poll_frequency=0.05).until(lambda d: condition(d))
    except Exception:
        print("FAILED waiting for " + what, file=sys.stderr)
        print(driver.find_element(By.TAG_NAME, "body").text[:3000], file=sys.stderr)
        raise


def sign_in(driver, user, password):
    driver.get(URL)
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#signin input[name=user]"), "the sign-in form")
    driver.find_element(By.CSS_SELECTOR, "#signin input[name=user]").send_keys(user)
    driver.find_element(By.CSS_SELECTOR, "#signin input[name=password]").send_keys(password)
    driver.find_element(By.CSS_SELECTOR, "#signin button[type=submit]").click()
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, ".module h2 a"), "the modules")


def open_module(driver):
    driver.find_element(By.CSS_SELECTOR, ".module h2 a").click()
    wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#list-passed .job"), "the passed jobs")


def rows(driver, panel, state=None):
    selector = "#list-%s .job" % panel + ("[data-state=%s]" % state if state else "")
    return driver.find_elements(By.CSS_SELECTOR, selector)


def row_named(driver, panel, name):
    for row in rows(driver, panel):
        if row.find_element(By.CSS_SELECTOR, ".c-name").text == name:
            return row
    return None


def enabled(driver, panel, action):
    button = driver.find_element(By.CSS_SELECTOR, "#list-%s button[data-action=%s]" % (panel, action))
    return button if button.is_enabled() else None


def click(driver, css):
    """Clicks an element scrolled to the middle of its list, clear of the list's sticky header;
    found again when the live list drew its rows anew meanwhile."""
    for _ in range(40):
        try:
            element = driver.find_element(By.CSS_SELECTOR, css)
            driver.execute_script("arguments[0].scrollIntoView({block: 'center'})", element)
            element.click()
            return
        except StaleElementReferenceException:
            time.sleep(0.05)
    raise AssertionError("cannot click " + css)


def row_css(panel, row_id):
    return "#list-%s .job[data-id='%s']" % (panel, row_id)


def shot(driver, name):
    if SHOTS:
        driver.save_screenshot(os.path.join(SHOTS, name))


def operator_session(profile):
    driver = browser("en-US", 1400, 900, profile)
    try:
        sign_in(driver, os.environ["OP_USER"], os.environ["OP_PASSWORD"])
        shot(driver, "web-modules.png")
        open_module(driver)
        # A reload would lose this mark: the checks below see the page change by itself.
        driver.execute_script("window.notReloaded = true")
        held = wait(driver, lambda d: rows(d, "process", "held"), "a held job")[0]
        held_id = held.get_attribute("data-id")

        # Search with FindJobs' criteria: the passed list shows what was found.
        driver.find_element(By.CSS_SELECTOR, "#list-passed button.search").click()
        driver.find_element(By.CSS_SELECTOR, "#dialog input[name=name]").send_keys("sol")
        driver.find_element(By.CSS_SELECTOR, "#dialog button.ok").click()
        wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#list-passed .found"), "the search's result")
        found = [r.find_element(By.CSS_SELECTOR, ".c-name").text for r in rows(driver, "passed")]
        assert found == ["solo"], found
        driver.find_element(By.CSS_SELECTOR, "#list-passed .found button").click()
        wait(driver, lambda d: len(rows(d, "passed")) == 2, "both passed jobs again")

        # Redirect with the device dialog: only the devices the job's flow entries name are on.
        click(driver, row_css("passed", row_named(driver, "passed", "solo").get_attribute("data-id")))
        wait(driver, lambda d: enabled(d, "passed", "redirect"), "Redirect enabled").click()
        boxes = wait(driver, lambda d: d.find_elements(By.CSS_SELECTOR, "#dialog input[name=device]"), "the devices")
        on = [b for b in boxes if b.is_enabled()]
        assert len(boxes) >= 2 and len(on) == 1, (len(boxes), len(on))
        on[0].click()
        shot(driver, "web-redirect.png")
        driver.find_element(By.CSS_SELECTOR, "#dialog button.ok").click()
        wait(driver, lambda d: "1 of 1" in d.find_element(By.ID, "notice").text, "the redirect done")

        # Release the held job: it leaves the jobs in process without a reload.
        click(driver, row_css("process", held_id))
        shot(driver, "web.png")
        wait(driver, lambda d: enabled(d, "process", "release"), "Release enabled").click()
        wait(driver, lambda d: not d.find_elements(By.CSS_SELECTOR, "#list-process .job[data-id='%s']" % held_id),
             "the released job to leave the list")
        assert driver.execute_script("return window.notReloaded === true"), "the page was reloaded"

        # The viewer sees the jobs and no action.
        driver.find_element(By.ID, "signout").click()
        sign_in(driver, os.environ["VIEWER_USER"], os.environ["VIEWER_PASSWORD"])
        open_module(driver)
        buttons = driver.find_elements(By.CSS_SELECTOR, "button.action, button.pause, button.resume")
        assert not buttons, [b.text for b in buttons]
        assert rows(driver, "passed"), "the viewer sees no jobs"
    except Exception:
        # What the page showed when a check failed, beside the test's other files.
        driver.save_screenshot(os.path.join(SHOTS or os.environ.get("HOME", "/tmp"), "failed.png"))
        print("the page when the check failed: " + os.path.join(SHOTS or os.environ.get("HOME", "/tmp"), "failed.png"), file=sys.stderr)
        raise
    finally:
        driver.quit()


def screenshots(profile):
    """The German console and a tablet's width, for the documentation."""
    for language, width, height, name in (("de-DE", 1400, 900, "web-deu.png"), ("en-US", 800, 1100, "web-tablet.png")):
        driver = browser(language, width, height, os.path.join(profile, name))
        try:
            sign_in(driver, os.environ["OP_USER"], os.environ["OP_PASSWORD"])
            open_module(driver)
            click(driver, row_css("passed", rows(driver, "passed")[0].get_attribute("data-id")))
            wait(driver, lambda d: enabled(d, "passed", "reprocess"), "Reprocess enabled")
            shot(driver, name)
        finally:
            driver.quit()


def main():
    with tempfile.TemporaryDirectory() as profile:
        operator_session(os.path.join(profile, "operator"))
        if SHOTS:
            screenshots(profile)
    print("browser checks passed")
    return 0


if __name__ == "__main__":
    sys.exit(main())
