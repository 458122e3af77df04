#!/usr/bin/python3
"""The batch report in a real browser: report_browser_test.py QUINTOLEX_BATCH ARTEFACTS

Runs the real executable on the mixed batch of report_batch.py (ok peaks, a quadrature
warning, a missed spike, a file without data, a three-subject study, names holding
markup, quotes, & and bytes that are not UTF-8), opens the page in headless Chromium
and checks, row by row, what a person would see: no console errors, the rows,
counts and cells of the CSV table, sorting by a clicked heading, a row's full plot,
names that run nothing, the page without scripts, and a screenshot that shows the
marks' colours. The screenshot is kept as ARTEFACTS/report.png. Without Debian's
chromium, chromium-driver, python3-selenium and python3-pil the test is skipped
(status 77)."""
import os, shutil, sys, tempfile

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_batch
from batch_checks import report
from browser import missing, start_chromium

SKIPPED = 77


class Session:
    def __init__(self, program, folder):
        self.status, self.table, _ = report_batch.run(program, folder, "report.html")
        self.url = "file://" + os.path.join(folder, "report.html")
        self.folder = folder

    def open(self, scripts=True):
        driver = start_chromium(os.path.join(self.folder, f"profile-{scripts}"), scripts=scripts)
        driver.get(self.url)
        return driver


def column_texts(driver, name):
    heads = [h.text.replace("\n", "") for h in driver.find_elements("css selector", "#rows thead th")]
    index = heads.index(name) + 1
    return [cell.get_attribute("textContent") for cell in
            driver.find_elements("css selector", f"#rows tbody tr td:nth-child({index})")]


def click_heading(driver, name):
    for head in driver.find_elements("css selector", "#rows thead th"):
        if head.text.replace("\n", "") == name:
            head.find_element("tag name", "button").click()
            return head.get_attribute("aria-sort")
    raise AssertionError(f"no heading {name}")


def check_loads(session, driver):
    errors = [entry["message"] for entry in driver.get_log("browser") if entry["level"] == "SEVERE"]
    return [f"console: {message[:200]}" for message in errors]


def check_table(session, driver):
    table, problems = session.table, []
    rows = driver.find_elements("css selector", "#rows tbody tr")
    if len(rows) != len(table):
        problems.append(f"{len(rows)} rows, the table {len(table)}")
    counts = {name: driver.find_element("id", f"count-{name}").text for name in ("profiles", "ok", "error")}
    expected = {"profiles": str(len(table)), "ok": str(sum(r["status"] == "ok" for r in table)),
                "error": str(sum(r["status"] == "error" for r in table))}
    problems += [f"count {name}: {counts[name]}, the table {expected[name]}" for name in counts
                 if counts[name] != expected[name]]
    for column in ("peak_area", "area_above", "profile", "points"):
        if column_texts(driver, column) != [row[column] for row in table]:
            problems.append(f"column {column} differs from the table")
    return problems


def check_sorting(session, driver):
    def numbers(texts):
        return [float(t) for t in texts if t != ""]
    problems = []
    order = click_heading(driver, "peak_area")
    texts = column_texts(driver, "peak_area")
    if order != "ascending" or numbers(texts) != sorted(numbers(texts)) or texts[-1] != "":
        problems.append(f"one click: {order}, {texts}")
    order = click_heading(driver, "peak_area")
    texts = column_texts(driver, "peak_area")
    if order != "descending" or numbers(texts) != sorted(numbers(texts), reverse=True) or texts[-1] != "":
        problems.append(f"two clicks: {order}, {texts}")
    click_heading(driver, "file")
    files = column_texts(driver, "file")
    named = ["empty.csv", "roundoff.csv", "spike.csv", "study.csv"]
    if [name for name in dict.fromkeys(files) if name in named] != named:
        problems.append(f"by file: {files}")
    click_heading(driver, "#")
    if column_texts(driver, "#") != [str(k) for k in range(1, len(session.table) + 1)]:
        problems.append("# does not give back the input order")
    return problems


def check_full_plot(session, driver):
    figure = driver.find_element("css selector", "#row-2 figure")
    if figure.is_displayed():
        return ["the full plot shows before it is opened"]
    driver.find_element("css selector", "#row-2 summary").click()
    size = figure.size
    drawn = driver.execute_script(
        "var box = document.querySelector('#row-2 figure use').getBBox(); return [box.width, box.height];")
    problems = [] if figure.is_displayed() and size["width"] >= 600 and size["height"] >= 330 else \
        [f"the opened plot shows {figure.is_displayed()}, {size}"]
    if not (drawn[0] > 200 and drawn[1] > 50):
        problems.append(f"the full plot's trace spans {drawn}")
    return problems


def check_names(session, driver):
    problems = []
    try:
        driver.switch_to.alert.dismiss()
        problems.append("an alert ran")
    except Exception:
        pass
    planted = driver.execute_script("return document.querySelectorAll('#rows img, #rows script, #rows iframe').length")
    if planted:
        problems.append(f"{planted} elements from names")
    files = column_texts(driver, "file")
    if report_batch.HOSTILE not in files or "\"quoted\" & 'single' \\xFF\\x01.csv" not in files:
        problems.append(f"names shown {files}")
    if driver.title != "quintolex-batch report":
        problems.append(f"title {driver.title!r}")
    return problems


def check_without_scripts(session, _):
    driver = session.open(scripts=False)
    try:
        problems = []
        if driver.find_elements("css selector", "#rows thead button"):
            problems.append("sort buttons without scripts")
        if column_texts(driver, "#") != [str(k) for k in range(1, len(session.table) + 1)]:
            problems.append("rows not in input order")
        driver.find_element("css selector", "#row-1 summary").click()
        if not driver.find_element("css selector", "#row-1 figure").is_displayed():
            problems.append("a row's plot does not open")
        return problems
    finally:
        driver.quit()


def check_screenshot(session, driver, artefacts):
    os.makedirs(artefacts, exist_ok=True)
    path = os.path.join(artefacts, "report.png")
    driver.execute_script("document.getElementById('row-5').scrollIntoView()")
    driver.save_screenshot(path)
    from PIL import Image
    image = Image.open(path).convert("RGB")
    counts = {colour: n for n, colour in image.getcolors(image.width * image.height)}
    total, white = image.width * image.height, counts.get((255, 255, 255), 0)
    problems = [] if total - white > total // 20 and len(counts) > 20 else [f"{total - white} of {total} pixels not white"]
    # The error row's red and the flagged rows' yellow, as the page's style has them.
    for name, colour in (("error red", (0xFD, 0xE0, 0xE0)), ("flag yellow", (0xFF, 0xF3, 0xD1))):
        if counts.get(colour, 0) < 1000:
            problems.append(f"no {name} in the screenshot")
    return problems


def main():
    program, artefacts = os.path.abspath(sys.argv[1]), os.path.abspath(sys.argv[2])
    absent = missing()
    if absent:
        print(f"SKIPPED: no browser to check the report in ({absent} is not installed; "
              "tools/install-deps.sh installs chromium, chromium-driver, python3-selenium and python3-pil)")
        sys.exit(SKIPPED)
    folder = tempfile.mkdtemp(prefix="quintolex-report-browser-")
    driver = None
    try:
        session = Session(program, folder)
        driver = session.open()

        def attempt(check, *more):
            try:
                return check(session, driver, *more)
            except Exception as failure:  # a missing element, a script error: the row fails
                return [f"{type(failure).__name__}: {str(failure).splitlines()[0] if str(failure) else ''}"]

        rows = [("loads without console errors", attempt(check_loads)),
                ("rows, counts and cells of the table", attempt(check_table)),
                ("a heading click sorts", attempt(check_sorting)),
                ("a row opens its full plot", attempt(check_full_plot)),
                ("names run nothing", attempt(check_names)),
                ("the screenshot shows the page and its marks", attempt(check_screenshot, artefacts)),
                ("no console errors after it all", attempt(check_loads)),
                ("the page without scripts", attempt(check_without_scripts))]
    finally:
        if driver is not None:
            driver.quit()
        shutil.rmtree(folder, ignore_errors=True)
    sys.exit(1 if report(rows) else 0)


if __name__ == "__main__":
    main()
