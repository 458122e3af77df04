#!/usr/bin/env python3
"""make windows-dist: tools/windows_dist.py BUILD_WINDOWS OUT.zip

The zip a Windows user unpacks: the executables of BUILD_WINDOWS, the README as text
with CR LF line ends (README.txt), and the manual page of each of them rendered to
text by groff (quintolex.txt). Entries are stored in a fixed order with a fixed date, so that
the same build gives the same bytes. Nothing is downloaded."""
import os, subprocess, sys, zipfile

ROOT = os.path.join(os.path.dirname(os.path.abspath(__file__)), "..")
DATE = (2026, 1, 1, 0, 0, 0)


def crlf(text):
    return text.replace("\r\n", "\n").replace("\n", "\r\n").encode()


def main():
    build, out = sys.argv[1], sys.argv[2]
    entries = [(name, open(os.path.join(build, name), "rb").read())
               for name in sorted(os.listdir(build)) if name.endswith(".exe")]
    entries.append(("README.txt", crlf(open(os.path.join(ROOT, "README.md"), encoding="utf-8").read())))
    programs = {name[:-4] for name, _ in entries}
    for page in sorted(os.listdir(os.path.join(ROOT, "man"))):
        if page.endswith(".1") and page[:-2] in programs:
            text = subprocess.run(["groff", "-man", "-Tutf8", "-P-cbou", os.path.join(ROOT, "man", page)],
                                  capture_output=True, check=True, text=True).stdout
            entries.append((page[:-2] + ".txt", crlf(text)))
    with zipfile.ZipFile(out, "w", zipfile.ZIP_DEFLATED) as archive:
        for name, data in entries:
            info = zipfile.ZipInfo("quintolex/" + name, DATE)
            info.compress_type = zipfile.ZIP_DEFLATED
            info.external_attr = 0o644 << 16
            archive.writestr(info, data)
    print(f"{out}: " + ", ".join(name for name, _ in entries))


if __name__ == "__main__":
    main()
