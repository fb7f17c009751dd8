#!/usr/bin/env python3
"""Writes a Markdown page of the docs as a standalone HTML page.

Usage: markdown_to_html.py IN.md OUT.html

The page gets the first level-1 heading as its title, UTF-8 as its declared
encoding and a small style sheet; headings get the same anchors as on the
usual Markdown hosts (lower case, punctuation dropped, spaces as hyphens), so
links such as (#7-changing-back) keep working. Pictures keep their relative
paths: the page belongs beside the folder of pictures that the Markdown file
names. Needs Python-Markdown (Debian: python3-markdown).
"""

import html
import os
import sys

import markdown

STYLE = """\
body { max-width: 60em; margin: 1em auto; padding: 0 1em; font-family: sans-serif; line-height: 1.4; }
code, pre { font-family: monospace; background: #f4f4f4; }
pre { padding: 0.5em; overflow-x: auto; }
table { border-collapse: collapse; margin: 0.5em 0; }
th, td { border: 1px solid #bbb; padding: 0.2em 0.5em; vertical-align: top; }
img { max-width: 100%; }
"""


def convert(text):
    page = markdown.Markdown(extensions=["tables", "fenced_code", "toc"], output_format="html")
    body = page.convert(text)
    title = next((line[2:].strip() for line in text.splitlines() if line.startswith("# ")), "")
    return (
        "<!DOCTYPE html>\n"
        '<html lang="en">\n<head>\n<meta charset="utf-8">\n'
        f"<title>{html.escape(title)}</title>\n"
        f"<style>\n{STYLE}</style>\n</head>\n<body>\n{body}\n</body>\n</html>\n"
    )


def main(argv):
    if len(argv) != 3:
        print("usage: markdown_to_html.py IN.md OUT.html")
        return 2
    with open(argv[1], encoding="utf-8") as source:
        page = convert(source.read())
    # Written beside the target and renamed, so an interrupted run leaves no
    # half page that the build would take for current.
    partial = argv[2] + ".part"
    with open(partial, "w", encoding="utf-8", newline="\n") as target:
        target.write(page)
    os.replace(partial, argv[2])
    return 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
