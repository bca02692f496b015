#!/usr/bin/python3
"""The web console in a headless Chromium against a gateway whose module holds many jobs:
the time from the page's start to its first rows (the performance mark "first-rows", from the
navigation's start), of which the jobs request; then from a change made through the API to the
page having drawn it (the mark "rows-applied"), against the API call's own round trip.
Usage: page_bench.py URL USER PASSWORD MODULE RUNS (bench_web runs it)."""
import base64
import json
import os
import ssl
import statistics
import sys
import tempfile
import time
import urllib.request

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

URL, USER, PASSWORD, MODULE, RUNS = sys.argv[1], sys.argv[2], sys.argv[3], sys.argv[4], int(sys.argv[5])


def figures(values, unit="ms"):
    return "min %.0f / median %.0f / max %.0f %s" % (min(values), statistics.median(values), max(values), unit)


def browser(profile):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for argument in ("--headless=new", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
                     "--disable-component-update", "--disable-sync", "--no-first-run",
                     "--disable-dev-shm-usage", "--ignore-certificate-errors", "--window-size=1400,900",
                     "--user-data-dir=" + profile, "--lang=en-US"):
        options.add_argument(argument)
    return webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)


def until(driver, script, seconds=60):
    return WebDriverWait(driver, seconds, poll_frequency=0.01).until(lambda d: d.execute_script(script))


def post(path, body):
    context = ssl.create_default_context()
    context.check_hostname = False
    context.verify_mode = ssl.CERT_NONE
    request = urllib.request.Request(URL + path, method="POST", data=json.dumps(body).encode(),
                                     headers={"Authorization": "Basic " + base64.b64encode(
                                         (USER + ":" + PASSWORD).encode()).decode()})
    with urllib.request.urlopen(request, context=context) as answer:
        return json.load(answer)


def main():
    with tempfile.TemporaryDirectory() as profile:
        driver = browser(profile)
        try:
            driver.get(URL)
            until(driver, "return document.querySelector('#signin input[name=user]') !== null")
            driver.find_element(By.CSS_SELECTOR, "#signin input[name=user]").send_keys(USER)
            driver.find_element(By.CSS_SELECTOR, "#signin input[name=password]").send_keys(PASSWORD)
            driver.find_element(By.CSS_SELECTOR, "#signin button[type=submit]").click()
            until(driver, "return document.querySelector('.module') !== null")
            first, request = [], []
            for _ in range(RUNS):
                driver.get("about:blank")
                driver.get(URL + "#/module/" + MODULE)
                until(driver, "return performance.getEntriesByName('first-rows').length > 0")
                first.append(driver.execute_script("return performance.getEntriesByName('first-rows')[0].startTime"))
                request.append(driver.execute_script(
                    "const r = performance.getEntriesByType('resource').filter(e => /\\/jobs(\\?|$)/.test(e.name));"
                    "return r.length ? r[r.length - 1].responseEnd - r[r.length - 1].startTime : 0"))
            rows = driver.execute_script("return document.querySelectorAll('#list-process .job').length")
            print("  page start to first rows (%d rows listed, %d drawn)  %s" % (
                driver.execute_script("return app.module.rows.size"), rows, figures(first)))
            print("    of which the request for every row                %s" % figures(request))

            job = driver.execute_script("return [...app.module.rows.keys()][0]")
            latency, round_trip = [], []
            for run in range(RUNS * 2):
                # Always another priority than the row has: 1 to 9 in turn.
                current = driver.execute_script("return app.module.rows.get(%d).priority" % job)
                priority = 1 + current % 9
                started = time.time() * 1000
                post("api/v1/modules/%s/jobs/priority" % MODULE, {"ids": [job], "priority": priority})
                round_trip.append(time.time() * 1000 - started)
                until(driver, "return app.module.rows.get(%d).priority === %d" % (job, priority))
                applied = driver.execute_script(
                    "const m = performance.getEntriesByName('rows-applied');"
                    "return performance.timeOrigin + m[m.length - 1].startTime")
                latency.append(applied - started)
                time.sleep(0.3)
            print("  a change (priority) to the page showing it          %s" % figures(latency))
            print("    the reference: the API call's own round trip      %s" % figures(round_trip))
        finally:
            driver.quit()
    return 0


if __name__ == "__main__":
    sys.exit(main())
