"""Every message a program can print is listed in the DIAGNOSTICS section of
its manual page, and the page lists no message that the program cannot print.

The messages are taken from the sources each program is built from (the
usage text aside, which SYNOPSIS shows); the page's are its `.It Li "..."`
items, where a word in capitals stands for whatever the program fills in
(a file name, a number). The built pages must also show each message as
written: mdoc moves a lone "?" or ":" against the word before it, which once
turned "overwrite ? (Y or N):" into "overwrite? (Y or N):".

Usage: messages_test.py SOURCE_DIR BUILT_MAN_DIR"""

import os
import re
import subprocess
import sys
import unittest
from pathlib import Path

SOURCE = Path(sys.argv[1]) if len(sys.argv) > 1 else Path(__file__).resolve().parents[2]
BUILT = Path(sys.argv[2]) if len(sys.argv) > 2 else SOURCE / "build/release/docs/man"

# In the sources, but never printed by these programs: they look up only
# TILES.CH and NPC.CH, and always give the bitmap readers buffers that fit;
# the extractors never change a disk.
UNREACHABLE = {"illegal filename '%s'", "error: read_bitmap() - palette buffer too small",
               "error: read_bitmap() - pixel buffer too small", "error: read_png() - pixel buffer too small"}
CHANGES_ONLY = {"can't change a track the image does not hold '%s' C=%d H=%d",
                "can't change a sector with special-read data '%s' C=%d H=%d R=%d"}

# What each page's program is built from, as far as it prints anything.
COMMON = ["console/console.cpp", "console/command_line.cpp", "io/*.cpp", "terminal/*.cpp"]
DISK = ["console/shape_files.cpp", "disk/*.cpp"]
PAGES = {
    "kzshapes.1.in": (["kzpc98shapes", "kzx68kshapes"],
                      COMMON + DISK + ["tools/shapes/*.cpp", "bitmap/bitmap_writer.cpp",
                                "bitmap/bitmap_convert.cpp", "bitmap/bitmap_slot.cpp", "bitmap/png_writ*.cpp"],
                      UNREACHABLE | CHANGES_ONLY),
    "kzchg_shapes.1.in": (["kzpc98chg_shapes", "kzx68kchg_shapes"],
                          COMMON + DISK + ["tools/chg_shapes/*.cpp", "bitmap/bitmap_reader.cpp",
                                    "bitmap/bitmap_convert.cpp", "bitmap/bitmap_slot.cpp", "bitmap/png_read*.cpp"],
                          UNREACHABLE),
    "kzega_shapes.1": (["kzega_shapes"],
                       COMMON + ["tools/ega_shapes/*.cpp", "bitmap/bitmap_writer.cpp", "bitmap/png_writ*.cpp"],
                       UNREACHABLE),
}
LITERAL = r'"(?:[^"\\]|\\.)*"'
# A command-line table's value option carries its message for a missing
# value; the parser prints such a text through a format of "%s" alone, which
# is no message of its own.
VALUE_OPTION = r"value_option\(\s*" + LITERAL + r"\s*,\s*((?:" + LITERAL + r"\s*)+)"
# The one question the programs ask, whose text the format takes as its
# argument.
QUESTION = {"%s (Y or N):": "overwrite ? (Y or N):"}


def unescape_c(text):
    return text.encode().decode("unicode_escape")


def code_messages(patterns, unreachable=UNREACHABLE):
    found = set()
    for pattern in patterns:
        for path in sorted(SOURCE.glob(pattern)):
            text = path.read_text()
            text = re.sub(r"void print_usage\(\) \{.*?\n\}\n", "", text, flags=re.S)
            calls = list(re.finditer(r"print_message\(\s*((?:" + LITERAL + r"\s*)+)", text))
            for call in calls + list(re.finditer(VALUE_OPTION, text)):
                message = "".join(unescape_c(piece[1:-1]) for piece in re.findall(LITERAL, call.group(1)))
                message = message.strip("\n").rstrip()
                if message and message != "%s":
                    found.add(QUESTION.get(message, message))
    return found - unreachable


def page_messages(page):
    text = (SOURCE / "docs/man" / page).read_text()
    section = re.search(r"\.Sh DIAGNOSTICS\n(.*?)(?=^\.Sh )", text, re.M | re.S)
    if not section:
        return []
    items = re.findall(r'^\.It Li "(.*)"$', section.group(1), re.M)
    return [item.replace("\\(aq", "'").replace("\\&", "").replace("\\e", "\\") for item in items]


def as_pattern(message):
    """The message's printf format as a pattern that a page's spelling of it,
    with capitals for what is filled in, must match whole."""
    parts = re.split(r"(%[-0-9]*[sdux]|%[0-9]*X)", message)
    pattern = ""
    for part in parts:
        if part == "%s":
            pattern += r".+"
        elif re.fullmatch(r"%[-0-9]*[du]", part):
            pattern += r"(?:[A-Z][A-Z0-9_]*|-?[0-9]+)"
        elif re.fullmatch(r"%[0-9]*[xX]", part):
            pattern += r"(?:[A-Z][A-Z0-9_]*|[0-9A-F]+)"
        else:
            pattern += re.escape(part)
    return pattern


class ManualMessagesTest(unittest.TestCase):
    def test_each_page_lists_exactly_the_messages_its_programs_can_print(self):
        for page, (_, sources, unreachable) in PAGES.items():
            with self.subTest(page=page):
                code = code_messages(sources, unreachable)
                listed = page_messages(page)
                self.assertTrue(code and listed, "no messages found")
                missing = sorted(m for m in code if not any(re.fullmatch(as_pattern(m), l) for l in listed))
                unknown = sorted(l for l in listed if not any(re.fullmatch(as_pattern(m), l) for m in code))
                self.assertEqual(missing, [], "printed by the program, missing from the page")
                self.assertEqual(unknown, [], "on the page, printed by no program source")

    def test_built_pages_show_every_message_as_written(self):
        env = dict(os.environ, MANWIDTH="400", LC_ALL="C.UTF-8")
        for page, (programs, _, _) in PAGES.items():
            listed = page_messages(page)
            for program in programs:
                with self.subTest(program=program):
                    built = BUILT / (program + ".1")
                    self.assertNotIn("@KZ_", built.read_text(), "a placeholder is left")
                    shown = subprocess.run(["man", "-l", str(built)], capture_output=True, env=env, check=True,
                                           timeout=60).stdout.decode()
                    lines = {re.sub(r".\x08", "", line).strip() for line in shown.splitlines()}
                    self.assertEqual([m for m in listed if m not in lines], [])
                    self.assertIn("overwrite ? (Y or N):", shown.replace("“", "").replace("”", ""))


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1])
