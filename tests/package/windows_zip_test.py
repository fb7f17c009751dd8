#!/usr/bin/env python3
"""What a Windows user finds in the unzipped package works as the README says.

Usage: windows_zip_test.py FOLDER RUNNER SCREENSHOT

- README.txt ends every line with CR LF, and every command it shows (the
  indented lines that start a program) runs, in order, in a copy of the
  unzipped folder under Wine's cmd, answering yes where a file exists, with
  status 0; the files the cycle promises are then there.
- guide.html, opened from the folder in headless Chromium, shows every one of
  its pictures and every link within it finds its place. A screenshot of the
  page is left at SCREENSHOT, to be looked at.
- kzshapes.html, opened from the folder in headless Chromium, does the
  editing cycle with the folder's sample disk, and gives the files that the
  folder's .exe programs give for the same commands under Wine, byte for
  byte.
"""

import re
import shlex
import shutil
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

FOLDER, RUNNER, SCREENSHOT = Path(sys.argv[1]), shlex.split(sys.argv[2]), Path(sys.argv[3])
PROMISED = ["shapes.png", "mask.png", "shapes.bmp", "mask.bmp", "KZ_Varnholm.NEW.fdi", "x68k.png",
            "x68k_mask.png", "kz-varnholm.NEW.xdf", "d88.png", "KZ_Varnholm.NEW.d88", "tiles16.png", "tiles4.png"]


class WindowsZipTest(unittest.TestCase):
    def test_readme_commands_work_in_the_unzipped_folder(self):
        text = (FOLDER / "README.txt").read_bytes()
        self.assertNotIn(b"\n", text.replace(b"\r\n", b""), "a line of README.txt ends without CR")
        commands = re.findall(r"^    (\.\\kz\S*|kz\S*)( .*)?\r$", text.decode(), re.M)
        self.assertGreaterEqual(len(commands), 8, "README.txt shows fewer commands than expected")
        with tempfile.TemporaryDirectory(prefix="kz-zip-") as scratch:
            folder = Path(scratch) / "unzipped"
            shutil.copytree(FOLDER, folder)
            for program, rest in commands:
                line = program + rest
                with self.subTest(command=line):
                    run = subprocess.run([*RUNNER, "cmd", "/c", line], cwd=folder, input=b"y\r\ny\r\n",
                                         capture_output=True, timeout=120)
                    self.assertEqual(run.returncode, 0, f"{line}: {run.stdout!r} {run.stderr!r}")
            self.assertEqual([name for name in PROMISED if not (folder / name).is_file()], [])

    def test_web_page_does_the_cycle_as_the_programs_do(self):
        sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "web"))
        from page_driver import Page
        with tempfile.TemporaryDirectory(prefix="kz-zip-page-") as scratch:
            folder = Path(scratch) / "unzipped"
            shutil.copytree(FOLDER, folder)
            for line in ("kzpc98shapes --no-remake-water shapes.png mask.png", "kzpc98chg_shapes shapes.png mask.png"):
                run = subprocess.run([*RUNNER, "cmd", "/c", line], cwd=folder, stdin=subprocess.DEVNULL,
                                     capture_output=True, timeout=120)
                self.assertEqual(run.returncode, 0, f"{line}: {run.stdout!r} {run.stderr!r}")
            page = Page((FOLDER / "kzshapes.html").resolve().as_uri())
            try:
                page.set_choices(version="pc98", checks=("no-remake-water",))
                extracted = page.choose("disk", FOLDER / "KZ_Varnholm.fdi")
                page.choose("sheet", folder / "shapes.png")
                changed = page.choose("mask", folder / "mask.png")
            finally:
                page.close()
            self.assertEqual((extracted.state, changed.state), ("done", "done"),
                             extracted.messages + changed.messages)
            self.assertEqual(sorted(extracted.downloads), ["mask.png", "shapes.png"])
            self.assertEqual(list(changed.downloads), ["KZ_Varnholm.NEW.fdi"])
            for name, data in {**extracted.downloads, **changed.downloads}.items():
                self.assertTrue(data == (folder / name).read_bytes(), f"the page's {name} differs from the program's")

    def test_guide_shows_its_pictures_in_chromium(self):
        from selenium import webdriver  # Debian's python3-selenium, with chromium-driver
        from selenium.webdriver.chrome.service import Service
        options = webdriver.ChromeOptions()
        options.binary_location = "/usr/bin/chromium"
        with tempfile.TemporaryDirectory(prefix="kz-chromium-") as profile:
            for flag in ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                         "--disable-background-networking", "--disable-component-update", "--disable-sync",
                         "--window-size=1100,2600", f"--user-data-dir={profile}"):
                options.add_argument(flag)
            service = Service(executable_path="/usr/bin/chromedriver")
            browser = webdriver.Chrome(options=options, service=service)
            try:
                browser.get((FOLDER / "guide.html").resolve().as_uri())
                pictures = browser.execute_script(
                    "return Array.from(document.images).map(i => [i.getAttribute('src'), i.complete, i.naturalWidth])")
                broken_links = browser.execute_script(
                    "return Array.from(document.querySelectorAll('a[href^=\"#\"]')).map(a => a.getAttribute('href'))"
                    ".filter(h => !document.getElementById(decodeURIComponent(h.slice(1))))")
                browser.execute_script("document.images[0].scrollIntoView()")
                SCREENSHOT.parent.mkdir(parents=True, exist_ok=True)
                browser.save_screenshot(str(SCREENSHOT))
            finally:
                browser.quit()
        self.assertGreater(len(pictures), 0, "the guide shows no picture")
        self.assertEqual([src for src, complete, width in pictures if not (complete and width > 0)], [])
        self.assertEqual(broken_links, [])


if __name__ == "__main__":
    unittest.main(argv=sys.argv[:1], verbosity=2)
