#!/usr/bin/python3
"""A screenshot of a batch report: tools/report_screenshot.py QUINTOLEX_BATCH OUT.png

Runs quintolex-batch --report on the mixed batch of the report's tests
(tests/batch/report_batch.py: ok peaks, a quadrature warning, a missed spike, a file
without data, a three-subject study, hostile names), opens the page in headless
Chromium (Debian's chromium, chromium-driver and python3-selenium), sorts it by
peak_area, opens the full plot of one row and saves the window as a PNG. The README's
picture is made with it: tools/report_screenshot.py build/quintolex-batch
doc/report.png."""
import os, shutil, sys, tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "batch"))
import report_batch
from browser import start_chromium
from selenium.webdriver.common.by import By


def main():
    program, out = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    folder = tempfile.mkdtemp(prefix="quintolex-screenshot-")
    driver = None
    try:
        report_batch.run(program, folder, "report.html")
        driver = start_chromium(os.path.join(folder, "profile"), width=1600, height=1650)
        driver.get("file://" + os.path.join(folder, "report.html"))
        heads = driver.find_elements(By.CSS_SELECTOR, "#rows thead th")
        [head for head in heads if head.text.replace("\n", "") == "peak_area"][0].find_element(By.TAG_NAME, "button").click()
        row = driver.find_element(By.CSS_SELECTOR, "#row-2")
        row.find_element(By.TAG_NAME, "summary").click()
        driver.save_screenshot(out)
        print(f"wrote {out}")
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(folder, ignore_errors=True)


if __name__ == "__main__":
    main()
