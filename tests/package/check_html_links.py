#!/usr/bin/env python3
"""Checks a packed HTML page against the files packed with it.

Usage: check_html_links.py PAGE.html

Every picture and every link to a file beside the page must name a file that
is there, and every link to a place in the page (#name) an element with that
id. Links with a scheme (https:, mailto:) are not followed. Prints one line
per broken reference and exits 1 if there is one, or if the page shows no
picture at all (a conversion that lost them).
"""

import html.parser
import os
import sys
import urllib.parse


class References(html.parser.HTMLParser):
    def __init__(self):
        super().__init__()
        self.ids = set()
        self.pictures = []
        self.links = []

    def handle_starttag(self, tag, attrs):
        attrs = dict(attrs)
        if "id" in attrs:
            self.ids.add(attrs["id"])
        if tag == "a" and "name" in attrs:
            self.ids.add(attrs["name"])
        if tag == "img" and "src" in attrs:
            self.pictures.append(attrs["src"])
        if tag == "a" and "href" in attrs:
            self.links.append(attrs["href"])


def broken(page):
    with open(page, encoding="utf-8") as source:
        refs = References()
        refs.feed(source.read())
    folder = os.path.dirname(page)
    problems = []
    if not refs.pictures:
        problems.append("the page shows no picture")
    for target in refs.pictures + refs.links:
        parts = urllib.parse.urlsplit(target)
        if parts.scheme or parts.netloc:
            continue
        if parts.path:
            path = os.path.join(folder, urllib.parse.unquote(parts.path))
            if not os.path.isfile(path):
                problems.append(f"'{target}': no file {path}")
        elif parts.fragment and parts.fragment not in refs.ids:
            problems.append(f"'{target}': no element with that id")
    return problems


def main(argv):
    if len(argv) != 2:
        print("usage: check_html_links.py PAGE.html")
        return 2
    problems = broken(argv[1])
    for problem in problems:
        print(f"{argv[1]}: {problem}")
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main(sys.argv))
