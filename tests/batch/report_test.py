#!/usr/bin/env python3
"""The HTML report of the batch tool, read as a program would: report_test.py QUINTOLEX_BATCH

The real executable writes a report of the mixed batch (report_batch.py) beside its
CSV table; each row below checks one promise of the page against that table: markup
both an XML and an HTML parser read the same way, the table's rows with the table's
digits, the summary's counts, the marks of error and flagged rows, a plot for every
row that loads, names that stay text, the script the page's policy lets run, the same
bytes for any number of workers, and the size of a page of many profiles."""
import base64, csv, hashlib, io, os, re, shutil, subprocess, sys, tempfile
import xml.etree.ElementTree as ET

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import report_batch
from batch_checks import report

X = "{http://www.w3.org/1999/xhtml}"
S = "{http://www.w3.org/2000/svg}"
# The elements the page may write as empty-element tags: HTML's void ones it uses, and
# SVG's, which HTML reads as such inside <svg>.
SELF_CLOSING = {"meta", "wbr", "path", "rect", "line", "circle", "use"}


def text_of(element):
    return "".join(element.itertext())


def shown(text):
    """A text as the page shows it: controls and non-characters as \\xHH per byte."""
    def escape(match):
        return "".join("\\x%02X" % b for b in match.group(0).encode("utf-8", "surrogateescape"))
    return re.sub("[\x00-\x1f\x7f-\x9f\ufdd0-\ufdef" + "".join(chr(plane << 16 | 0xFFFE) + chr(plane << 16 | 0xFFFF)
                                                       for plane in range(17)) + "]", escape, text)


class Page:
    def __init__(self, data):
        self.data = data
        self.root = ET.fromstring(data)
        self.rows = self.root.findall(f".//{X}table[@id='rows']/{X}tbody/{X}tr")

    def cells(self, row):
        return row.findall(f"{X}td")

    def count(self, name):
        return text_of(self.root.find(f".//{X}td[@id='count-{name}']"))


def check_markup(page, table):
    problems = []
    if page.root.tag != X + "html":
        problems.append(f"root element {page.root.tag}")
    if not page.data.startswith(b"<!DOCTYPE html>"):
        problems.append("no HTML doctype first")
    for name in re.findall(rb"<([A-Za-z][\w:-]*)[^<>]*/>", page.data):
        if name.decode() not in SELF_CLOSING:
            problems.append(f"<{name.decode()}/> is read by HTML as an open element")
            break
    # An HTML parser's count of rows is the XML parser's.
    if page.data.count(b"<tr id=\"row-") != len(page.rows):
        problems.append("rows seen differently as text and as XML")
    return problems


def check_rows(page, table):
    problems = [] if len(page.rows) == len(table) else [f"{len(page.rows)} rows, the table {len(table)}"]
    columns = list(table[0].keys()) if table else []
    for number, (tr, row) in enumerate(zip(page.rows, table), 1):
        cells = page.cells(tr)
        if text_of(cells[0]) != str(number):
            problems.append(f"row {number} numbered {text_of(cells[0])}")
        for cell, column in zip(cells[2:], columns):
            if column == "status":
                seen = cell.get("data-key")
            elif column == "messages":
                seen = "\n".join(text_of(div) for div in cell.findall(f"{X}div"))
            else:
                seen = text_of(cell)
            # Messages are one a line in the table, one a block on the page.
            if seen != "\n".join(shown(line) for line in row[column].split("\n")):
                problems.append(f"row {number} {column}: {seen!r}, the table {row[column]!r}")
    return problems


def check_summary(page, table):
    expected = {
        "files": str(len(report_batch.FILES)),
        "profiles": str(len(table)),
        "ok": str(sum(row["status"] == "ok" for row in table)),
        "error": str(sum(row["status"] == "error" for row in table)),
        "warning": str(sum("\nWARNING " in "\n" + row["messages"] for row in table)),
        "flagged": str(sum("but the exact area" in row["messages"] for row in table)),
    }
    problems = [f"{name}: {page.count(name)}, expected {value}" for name, value in expected.items()
                if page.count(name) != value]
    # Every kind of row is in the batch.
    problems += [f"no {name} row" for name in ("error", "warning", "flagged") if expected[name] == "0"]
    return problems


def check_marks(page, table):
    problems = []
    for number, (tr, row) in enumerate(zip(page.rows, table), 1):
        kinds = set(tr.get("class").split())
        status = text_of(page.cells(tr)[13])
        wanted = {
            "error": (row["status"] == "error", "\u2716 error"),
            "warning": ("\nWARNING " in "\n" + row["messages"], "\u26a0 warning"),
            "flagged": ("but the exact area" in row["messages"], "\u2691 exact area"),
        }
        for kind, (present, mark) in wanted.items():
            if present != (kind in kinds) or present != (mark in status):
                problems.append(f"row {number}: {kind} {'missing' if present else 'wrongly shown'}")
    return problems


def check_plots(page, table):
    problems = []
    for number, (tr, row) in enumerate(zip(page.rows, table), 1):
        thumb = tr.find(f".//{X}summary/{S}svg[@class='thumb']")
        full = tr.find(f".//{X}details/{X}figure/{S}svg[@class='full']")
        if row["points"] == "":
            if thumb is not None or "no plot" not in text_of(page.cells(tr)[1]):
                problems.append(f"row {number} has no data but a plot")
            continue
        if thumb is None or full is None:
            problems.append(f"row {number}: no thumbnail or no full plot")
            continue
        trace = thumb.find(f"{S}g[@class='trace']")
        use = full.find(f"{S}use")
        path = trace.find(f"{S}path[@class='profile']") if trace is not None else None
        if trace is None or use is None or use.get("href") != "#" + (trace.get("id") or "?"):
            problems.append(f"row {number}: the full plot does not draw the thumbnail's trace")
        elif path is None or not re.fullmatch(r"M\d+ \d+([lm](-?\d+)([ -]?-?\d+)*)*", path.get("d")):
            problems.append(f"row {number}: profile path {path.get('d')[:40] if path is not None else None!r}")
    ids = [e.get("id") for e in page.root.iter() if e.get("id")]
    if len(ids) != len(set(ids)):
        problems.append("ids not unique")
    return problems


def check_names(page, table):
    problems = []
    body = page.root.find(f"{X}body")
    scripts = body.findall(f".//{X}script")
    if len(scripts) != 1 or [e.tag for e in body.iter() if e.tag in (X + "img", X + "iframe", X + "object")]:
        problems.append("markup from a name in the page")
    files = [text_of(page.cells(tr)[2]) for tr in page.rows]
    edges = "edges \\xC2\\x9F\u00a0\\xEF\\xB7\\xAF\ufdf0\\xF0\\x9F\\xBF\\xBF\U00100000\U0001f600.csv"
    for name in (report_batch.HOSTILE, "\"quoted\" & 'single' \\xFF\\x01.csv", edges):
        if name not in files:
            problems.append(f"{name!r} not shown as text")
    if not any(text_of(page.cells(tr)[3]) == "Subject=" + report_batch.SCRIPT_SUBJECT for tr in page.rows):
        problems.append("the subject holding a script tag not shown as text")
    command = text_of(page.root.find(f".//{X}code[@class='command']"))
    if "'<img src=x onerror=alert(1)>.csv'" not in command:
        problems.append(f"command line {command[:80]!r}")
    return problems


def check_policy(page, table):
    script = page.root.find(f".//{X}script").text
    policy = page.root.find(f".//{X}meta[@http-equiv='Content-Security-Policy']").get("content")
    digest = base64.b64encode(hashlib.sha256(script.encode()).digest()).decode()
    problems = [] if f"script-src 'sha256-{digest}'" in policy else [f"the policy {policy!r} lets not the "
                                                                      f"page's script (sha256-{digest}) run"]
    if "default-src 'none'" not in policy:
        problems.append("the policy lets content be fetched")
    return problems


def check_same_bytes(program):
    folder = tempfile.mkdtemp(prefix="quintolex-report-")
    try:
        pages = []
        for jobs in ("1", "8"):
            report_batch.run(program, folder, "page.html", ["-j", jobs, "--quiet"])
            pages.append(open(os.path.join(folder, "page.html"), "rb").read())
        command = re.search(rb'<code class="command">([^<]*)</code>', pages[0]).group(1)
        return (["-j 1 and -j 8 give different pages"] if pages[0] != pages[1] else []) + \
               ([f"command line {command[:60]!r} names -j or -q"] if re.search(rb" (-j|--quiet)", command) else [])
    finally:
        shutil.rmtree(folder, ignore_errors=True)


def check_size(program):
    """Fifty noisy 1000-point profiles: at most 5000 bytes a row, so that a page of a
    thousand of them stays under 5 MB."""
    folder = tempfile.mkdtemp(prefix="quintolex-report-size-")
    try:
        names = []
        for k in range(50):
            names.append(f"p{k}.txt")
            with open(os.path.join(folder, names[-1]), "w") as out:
                out.write("".join(f"{t * 0.03:.4f} {100 * 2.718 ** -(((t * 0.03) - 5 - k * 0.3) ** 2) + 0.5 * ((t * 7919) % 13) / 13:.5f}\n"
                                  for t in range(1000)))
        subprocess.run([program, "--report", "page.html", *names], cwd=folder, capture_output=True, timeout=120)
        size = os.path.getsize(os.path.join(folder, "page.html"))
        return [] if size <= 50 * 5000 else [f"{size} bytes for 50 profiles"]
    finally:
        shutil.rmtree(folder, ignore_errors=True)


CHECKS = [
    ("markup read alike as XML and as HTML", check_markup),
    ("the table's rows and digits", check_rows),
    ("the summary's counts", check_summary),
    ("error and flagged rows marked by class and text", check_marks),
    ("a thumbnail and a full plot for each row that loads", check_plots),
    ("names and labels stay text", check_names),
    ("only the page's own script may run", check_policy),
]


def main():
    program = os.path.abspath(sys.argv[1])
    folder = tempfile.mkdtemp(prefix="quintolex-report-")
    try:
        status, table, errors = report_batch.run(program, folder, "report.html")
        page = Page(open(os.path.join(folder, "report.html"), "rb").read())
        rows = [(name, check(page, table)) for name, check in CHECKS]
        rows.append(("status 1 with an error row, nothing on standard error",
                     [] if (status, errors) == (1, b"") else [f"status {status}, {errors[:200]!r}"]))
    finally:
        shutil.rmtree(folder, ignore_errors=True)
    rows.append(("the same bytes for any number of workers", check_same_bytes(program)))
    rows.append(("a few kilobytes a profile", check_size(program)))
    sys.exit(1 if report(rows) else 0)


if __name__ == "__main__":
    main()
