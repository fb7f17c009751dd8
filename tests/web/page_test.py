"""kzshapes.html in headless Chromium, against the native programs.

Every action on the page is repeated with the Linux build's programs in a
scratch folder, with the files under the same names and the arguments a
user would type for the same choices: the page must offer the same files,
byte for byte, under the same names, and show the same messages; a failed
run must show its messages and offer nothing. The edited sheets and masks
are drawn with Pillow, the damaged disk images are the sample's cut short.

Environment: KZ_WEB_PAGE (the page), KZ_LINUX_BIN_DIR (the native
programs), KZ_SAMPLE_DIR (the sample disk in every container and the tile
files), KZ_SCREENSHOT_DIR (where the screenshots are left).
"""

import functools
import http.server
import os
import shutil
import subprocess
import tempfile
import threading
import unittest
from pathlib import Path

from PIL import Image, ImageDraw  # Debian's python3-pil

from page_driver import Page

PAGE = Path(os.environ["KZ_WEB_PAGE"]).resolve()
BIN_DIR = Path(os.environ["KZ_LINUX_BIN_DIR"])
SAMPLE = Path(os.environ["KZ_SAMPLE_DIR"])
SCREENSHOTS = Path(os.environ["KZ_SCREENSHOT_DIR"])

PROGRAMS = {"pc98": ("kzpc98shapes", "kzpc98chg_shapes"), "x68k": ("kzx68kshapes", "kzx68kchg_shapes")}
# The sample disk in every container it is made in, with the version whose
# programs a user of that container has.
CONTAINERS = (("KZ_Varnholm.fdi", "pc98"), ("KZ_Varnholm.hdm", "pc98"), ("KZ_Varnholm.d88", "pc98"),
              ("KZ_Varnholm.nfd", "pc98"), ("KZ_Varnholm.fdd", "pc98"), ("kz-varnholm.dim", "x68k"),
              ("kz-varnholm.xdf", "x68k"))


def native(program, args, inputs):
    """Runs a native program as a user does, in a folder holding only its
    inputs (name -> path): its status, what it printed, and the files it
    made (name -> bytes)."""
    with tempfile.TemporaryDirectory(prefix="kz-web-native-") as scratch:
        folder = Path(scratch)
        for name, path in inputs.items():
            shutil.copyfile(path, folder / name)
        run = subprocess.run([str(BIN_DIR / program), *args], cwd=folder, stdin=subprocess.DEVNULL,
                             capture_output=True, timeout=60)
        made = {path.name: path.read_bytes() for path in sorted(folder.iterdir()) if path.name not in inputs}
        return run.returncode, run.stdout.decode(), made


# One browser for every test (starting Chromium takes seconds); every test
# opens the page anew.
BROWSER = {}


def setUpModule():
    BROWSER["page"] = Page(PAGE.as_uri())
    BROWSER["scratch"] = Path(tempfile.mkdtemp(prefix="kz-web-test-"))


def tearDownModule():
    BROWSER["page"].close()
    shutil.rmtree(BROWSER["scratch"], ignore_errors=True)


class PageCase(unittest.TestCase):
    def setUp(self):
        self.page = BROWSER["page"]
        self.scratch = BROWSER["scratch"]
        self.page.emulate(None)
        self.page.open(PAGE.as_uri())
        self.page.network_requests()

    def folder(self, name):
        path = self.scratch / name
        path.mkdir(exist_ok=True)
        return path

    def assertSameAsNative(self, result, program, args, inputs, status=0):
        code, printed, made = native(program, args, inputs)
        self.assertEqual(code, status, f"{program} {args}: {printed}")
        self.assertEqual(result.messages, printed)
        self.assertEqual(result.state, "done" if status == 0 else "failed")
        self.assertEqual(sorted(result.downloads), sorted(made))
        for name, data in made.items():
            self.assertTrue(result.downloads[name] == data, f"{name} differs from {program}'s")

    def assertSameAsNativeChange(self, result, changer, options, pictures, inputs, status=0,
                                 picture="check.png"):
        """A change in the page is two runs, as a user would make them: the
        check, with its report and picture, then the change; a failed check
        ends it."""
        code, printed, made = native(changer, [*options, "--check", "--check-picture", picture, *pictures],
                                     inputs)
        self.assertEqual(code, status, f"{changer} --check: {printed}")
        if code == 0:
            code, changed, image = native(changer, [*options, *pictures], inputs)
            self.assertEqual(code, 0, f"{changer}: {changed}")
            printed += changed
            made.update(image)
        self.assertEqual(result.messages, printed)
        self.assertEqual(result.state, "done" if status == 0 else "failed")
        self.assertEqual(sorted(result.downloads), sorted(made))
        for name, data in made.items():
            self.assertTrue(result.downloads[name] == data, f"{name} differs from {changer}'s")


class ExtractTest(PageCase):
    # container, version, boxes ticked, picture format
    ROWS = [(name, version, (), "png") for name, version in CONTAINERS] + [
        ("KZ_Varnholm.d88", "pc98", ("no-remake-water",), "bmp"),
        ("kz-varnholm.xdf", "x68k", ("dungeon", "mirror-room"), "bmp"),
        ("KZ_Varnholm.fdi", "pc98", ("dungeon", "mirror-room", "no-remake-water"), "png"),
        # The sheet alone, its colours 8-15 carrying the mask.
        ("KZ_Varnholm.d88", "pc98", ("mask-in-sheet", "no-remake-water"), "png"),
        ("kz-varnholm.xdf", "x68k", ("mask-in-sheet",), "bmp"),
    ]

    def test_downloads_equal_the_extractors_output(self):
        for name, version, checks, picture_format in self.ROWS:
            with self.subTest(disk=name, options=checks, format=picture_format):
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version, checks=checks, picture_format=picture_format)
                result = self.page.choose("disk", SAMPLE / name)
                extension = "." + picture_format
                adjustments = [f"--{check}" for check in checks if check != "mask-in-sheet"]
                pictures = ["shapes" + extension] + (["mask" + extension] if "mask-in-sheet" not in checks else [])
                args = ["--disk", name, *adjustments, *(["--mask-in-sheet"] if "mask-in-sheet" in checks else []),
                        *pictures]
                self.assertSameAsNative(result, PROGRAMS[version][0], args, {name: SAMPLE / name})

    def test_a_ticked_box_extracts_again(self):
        # The box is ticked after the disk is chosen: the run starts anew
        # with the option, and its downloads replace the first ones.
        self.page.set_choices(version="pc98")
        self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
        result = self.page.tick("no-remake-water")
        self.assertSameAsNative(result, "kzpc98shapes",
                                ["--disk", "KZ_Varnholm.fdi", "--no-remake-water", "shapes.png", "mask.png"],
                                {"KZ_Varnholm.fdi": SAMPLE / "KZ_Varnholm.fdi"})

    def test_damaged_disk_image_shows_the_extractors_messages(self):
        for name, version in CONTAINERS:
            with self.subTest(disk=name):
                damaged = self.folder("damaged") / ("cut_" + name)
                damaged.write_bytes((SAMPLE / name).read_bytes()[:65536])
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version)
                result = self.page.choose("disk", damaged)
                self.assertSameAsNative(result, PROGRAMS[version][0],
                                        ["--disk", damaged.name, "shapes.png", "mask.png"],
                                        {damaged.name: damaged}, status=1)
                self.assertNotEqual(result.messages, "")
                self.assertEqual(result.downloads, {})


def edited_pictures(folder, sheet, mask):
    """The extractor's sheet and mask, edited as in a paint program: a
    yellow bar over a TILES.CH shape and a white one over an NPC.CH shape's
    mask, saved by Pillow."""
    edited_sheet = folder / "edited.png"
    edited_mask = folder / "edited_mask.png"
    with Image.open(sheet) as picture:
        picture = picture.convert("RGB")
        ImageDraw.Draw(picture).rectangle((36, 4, 60, 12), fill=(255, 255, 0))
        picture.save(edited_sheet)
    with Image.open(mask) as picture:
        picture = picture.convert("1")
        ImageDraw.Draw(picture).rectangle((70, 520, 90, 530), fill=1)
        picture.save(edited_mask)
    return edited_sheet, edited_mask


class ChangeTest(PageCase):
    def extracted(self, name, version):
        folder = self.folder("edit_" + name)
        code, printed, made = native(PROGRAMS[version][0],
                                     ["--disk", name, "--no-remake-water", "sheet.png", "sheet_mask.png"],
                                     {name: SAMPLE / name})
        self.assertEqual(code, 0, printed)
        for made_name, data in made.items():
            (folder / made_name).write_bytes(data)
        return edited_pictures(folder, folder / "sheet.png", folder / "sheet_mask.png")

    def test_edited_sheet_gives_the_changers_disk_image(self):
        for name, version in CONTAINERS:
            with self.subTest(disk=name):
                sheet, mask = self.extracted(name, version)
                changer = PROGRAMS[version][1]
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version)
                self.page.choose("disk", SAMPLE / name)
                # The sheet alone first: every mask bit cleared.
                result = self.page.choose("sheet", sheet)
                self.assertSameAsNativeChange(result, changer, ["--disk", name], [sheet.name],
                                              {name: SAMPLE / name, sheet.name: sheet})
                # With the mask the change is made again, with both.
                result = self.page.choose("mask", mask)
                self.assertSameAsNativeChange(result, changer, ["--disk", name], [sheet.name, mask.name],
                                              {name: SAMPLE / name, sheet.name: sheet, mask.name: mask})
                stem, dot, extension = name.rpartition(".")
                self.assertEqual(list(result.downloads), ["check.png", f"{stem}.NEW.{extension}"])

    def test_mask_in_sheet_box_changes_with_the_sheet_alone(self):
        """The sheet extracted with its fourth plane in its colours, edited
        and saved as RGB: with the box ticked the page changes it with
        --mask-in-sheet and leaves a chosen mask out, as the native changer
        given the same arguments does."""
        for name, version in (("KZ_Varnholm.d88", "pc98"), ("kz-varnholm.xdf", "x68k")):
            with self.subTest(disk=name):
                folder = self.folder("in_sheet_" + name)
                code, printed, made = native(PROGRAMS[version][0],
                                             ["--disk", name, "--no-remake-water", "--mask-in-sheet", "sheet.png"],
                                             {name: SAMPLE / name})
                self.assertEqual(code, 0, printed)
                (folder / "sheet.png").write_bytes(made["sheet.png"])
                edited = folder / "edited.png"
                with Image.open(folder / "sheet.png") as picture:
                    picture = picture.convert("RGB")
                    # Dark grey, NPC.CH's dimmed black: fourth plane without colour.
                    ImageDraw.Draw(picture).rectangle((70, 520, 90, 530), fill=(64, 64, 64))
                    picture.save(edited)
                changer = PROGRAMS[version][1]
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version, checks=("mask-in-sheet",))
                self.page.choose("disk", SAMPLE / name)
                self.page.choose("sheet", edited)
                # A mask chosen then changes again, and is left out with the box ticked.
                result = self.page.choose("mask", folder / "sheet.png")
                self.assertSameAsNativeChange(result, changer, ["--disk", name, "--mask-in-sheet"], [edited.name],
                                              {name: SAMPLE / name, edited.name: edited})
                self.assertIn("shapes to change 'NPC.CH' 2", result.messages.splitlines())

    def test_the_check_before_the_change_shows_its_report_and_picture(self):
        """A sheet of the default extraction (the water remake on), with one
        shape painted: the page shows the check's report, naming the edited
        shapes and the water shapes kept as on the disk, and its picture,
        then offers the image, as the native changer gives them all."""
        for name, version, picture_format in (("KZ_Varnholm.fdi", "pc98", "png"),
                                              ("kz-varnholm.dim", "x68k", "bmp")):
            with self.subTest(disk=name):
                folder = self.folder("check_" + name)
                code, printed, made = native(PROGRAMS[version][0], ["--disk", name, "sheet.png", "sheet_mask.png"],
                                             {name: SAMPLE / name})
                self.assertEqual(code, 0, printed)
                for made_name, data in made.items():
                    (folder / made_name).write_bytes(data)
                sheet, mask = edited_pictures(folder, folder / "sheet.png", folder / "sheet_mask.png")
                changer = PROGRAMS[version][1]
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version, picture_format=picture_format)
                self.page.choose("disk", SAMPLE / name)
                self.page.choose("sheet", sheet)
                result = self.page.choose("mask", mask)
                picture = "check." + picture_format
                self.assertSameAsNativeChange(result, changer, ["--disk", name], [sheet.name, mask.name],
                                              {name: SAMPLE / name, sheet.name: sheet, mask.name: mask},
                                              picture=picture)
                lines = result.messages.splitlines()
                self.assertIn("shapes to change 'TILES.CH' 1", lines)
                self.assertIn("shapes to keep 'TILES.CH' 52-55 96-111 228-231 drawn with water remake", lines)
                self.assertEqual(len(self.page.browser.find_elements("css selector", "#pictures img")), 1)
                self.assertEqual(list(result.downloads)[0], picture)

    def test_only_tiles_takes_half_a_sheet(self):
        folder = self.folder("half")
        half = folder / "half.bmp"
        with Image.new("P", (512, 512)) as picture:
            picture.putpalette([0, 0, 0, 0, 0, 255, 255, 0, 0] + [0] * (256 * 3 - 9))
            ImageDraw.Draw(picture).rectangle((40, 40, 80, 300), fill=2)
            picture.save(half)
        self.page.set_choices(version="pc98", only="--only-tiles")
        self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
        result = self.page.choose("sheet", half)
        self.assertSameAsNativeChange(result, "kzpc98chg_shapes", ["--disk", "KZ_Varnholm.fdi", "--only-tiles"],
                                      [half.name], {"KZ_Varnholm.fdi": SAMPLE / "KZ_Varnholm.fdi", half.name: half})

    def test_wrong_sized_sheets_show_the_changers_messages(self):
        folder = self.folder("wrong")
        rows = (("narrow.png", (511, 1024)), ("short.bmp", (512, 1000)), ("tall.png", (512, 1056)))
        for picture_name, size in rows:
            with self.subTest(sheet=picture_name, size=size):
                path = folder / picture_name
                Image.new("RGB", size, (0, 0, 255)).save(path)
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version="x68k")
                self.page.choose("disk", SAMPLE / "kz-varnholm.xdf")
                result = self.page.choose("sheet", path)
                self.assertSameAsNativeChange(result, "kzx68kchg_shapes", ["--disk", "kz-varnholm.xdf"],
                                              [picture_name],
                                              {"kz-varnholm.xdf": SAMPLE / "kz-varnholm.xdf", picture_name: path},
                                              status=1)
                self.assertEqual(result.downloads, {})

    def test_sheet_and_mask_of_one_name_stay_apart(self):
        # Two files called alike, from two folders: each reaches the changer
        # as itself, the mask in a folder of its own.
        sheet, mask = self.extracted("KZ_Varnholm.fdi", "pc98")
        other = self.folder("other") / sheet.name
        shutil.copyfile(mask, other)
        self.page.set_choices(version="pc98")
        self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
        self.page.choose("sheet", sheet)
        result = self.page.choose("mask", other)
        code, printed, made = native("kzpc98chg_shapes", ["--disk", "KZ_Varnholm.fdi", sheet.name, "mask.png"],
                                     {"KZ_Varnholm.fdi": SAMPLE / "KZ_Varnholm.fdi", sheet.name: sheet,
                                      "mask.png": mask})
        self.assertEqual((code, result.state), (0, "done"), printed + result.messages)
        self.assertEqual(result.downloads["KZ_Varnholm.NEW.fdi"], made["KZ_Varnholm.NEW.fdi"])


class ConvertTest(PageCase):
    ROWS = (("TILES.16", (), "png", "tiles16.png"),
            ("TILES.4", ("cga", "dungeon"), "png", "tiles4.png"),
            ("TILES.16", ("mirror-room", "no-remake-water"), "bmp", "tiles16.bmp"))

    def test_downloads_equal_the_converters_output(self):
        for name, checks, picture_format, output in self.ROWS:
            with self.subTest(tiles=name, options=checks):
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version="ega", checks=checks, picture_format=picture_format)
                result = self.page.choose("tiles", SAMPLE / name)
                self.assertSameAsNative(result, "kzega_shapes",
                                        [*(f"--{check}" for check in checks), name, output],
                                        {name: SAMPLE / name})

    def test_short_tile_file_shows_the_converters_messages(self):
        # A CGA file read as EGA is half as long as it must be.
        self.page.set_choices(version="ega")
        result = self.page.choose("tiles", SAMPLE / "TILES.4")
        self.assertSameAsNative(result, "kzega_shapes", ["TILES.4", "tiles16.png"],
                                {"TILES.4": SAMPLE / "TILES.4"}, status=1)


class NothingLeavesTest(PageCase):
    def whole_cycle(self):
        self.page.set_choices(version="pc98")
        self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
        self.page.choose("sheet", SAMPLE / "TILES.16")  # refused: not a picture
        self.page.set_choices(version="ega")
        self.page.choose("tiles", SAMPLE / "TILES.16")

    def test_the_page_keeps_within_its_budget(self):
        # One file of at most 1 MB, the programs' wasm included.
        self.assertLessEqual(PAGE.stat().st_size, 1 << 20)

    def assertOnlyThePage(self, url):
        # From the page's loading on: what the page itself asked for.
        requests = self.page.network_requests()
        self.assertIn(url, [request for request, kind in requests])
        self.assertEqual([(request, kind) for request, kind in requests
                          if request != url and not request.startswith("blob:")], [])

    def test_from_the_file_system(self):
        self.page.open(PAGE.as_uri())
        self.whole_cycle()
        self.assertOnlyThePage(PAGE.as_uri())

    def test_from_a_web_host(self):
        # A static host on the loopback address, serving the page's folder.
        class Quiet(http.server.SimpleHTTPRequestHandler):
            def log_message(self, *args):
                pass

        handler = functools.partial(Quiet, directory=str(PAGE.parent))
        server = http.server.ThreadingHTTPServer(("127.0.0.1", 0), handler)
        thread = threading.Thread(target=server.serve_forever, daemon=True)
        thread.start()
        try:
            url = f"http://127.0.0.1:{server.server_port}/{PAGE.name}"
            self.page.network_requests()
            self.page.open(url)
            self.whole_cycle()
            self.assertOnlyThePage(url)
        finally:
            server.shutdown()
            server.server_close()


class UseTest(PageCase):
    def test_every_control_is_labelled(self):
        unlabelled = self.page.browser.execute_script(
            "return Array.from(document.querySelectorAll('input, select'))"
            ".filter(e => e.labels.length === 0).map(e => e.id)")
        self.assertEqual(unlabelled, [])

    def test_the_tab_key_reaches_every_control(self):
        from selenium.webdriver.common.action_chains import ActionChains
        from selenium.webdriver.common.keys import Keys
        for version, controls in (("pc98", ["version", "no-remake-water", "dungeon", "mirror-room", "mask-in-sheet",
                                            "format", "disk", "sheet", "mask", "only"]),
                                  ("ega", ["version", "no-remake-water", "dungeon", "mirror-room", "cga",
                                           "format", "tiles"])):
            with self.subTest(version=version):
                self.page.open(PAGE.as_uri())
                self.page.set_choices(version=version)
                reached = []
                for _ in range(len(controls) + 4):
                    # Key presses as the keyboard gives them (a file input
                    # would take a string sent to it for a file's name).
                    ActionChains(self.page.browser).send_keys(Keys.TAB).perform()
                    reached.append(self.page.browser.execute_script("return document.activeElement.id"))
                # In page order, each once before the focus goes round again.
                in_order = [name for name in reached if name in controls]
                self.assertEqual(in_order[:len(controls)], controls)

    def test_pictures_name_the_shape_under_the_pointer_and_the_keys(self):
        from selenium.webdriver.common.keys import Keys
        self.page.set_choices(version="pc98")
        self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
        self.page.wait(lambda b: b.execute_script(
            "return Array.from(document.images).every(i => i.complete && i.naturalWidth > 0)"))
        rows = ((3, 1, "TILES.CH shape 19 "), (15, 16, "NPC.CH shape 15 "), (0, 31, "NPC.CH shape 240 "))
        for column, row, expected in rows:
            with self.subTest(column=column, row=row):
                self.page.point_at_cell("#pictures img", column, row, 32)
                self.assertIn(expected, self.page.text("cell"))
        frame = self.page.browser.find_element("css selector", "#pictures .sheet")
        frame.click()
        self.page.browser.execute_script("arguments[0].focus()", frame)
        frame.send_keys(*[Keys.ARROW_LEFT, Keys.ARROW_UP] * 32)
        self.assertIn("TILES.CH shape 0 ", self.page.text("cell"))
        frame.send_keys(*[Keys.ARROW_RIGHT] * 2, *[Keys.ARROW_DOWN] * 17)
        self.assertIn("NPC.CH shape 18 ", self.page.text("cell"))

    def test_readable_at_a_desktops_and_a_phones_width(self):
        for width, height, mobile in ((1280, 800, False), (390, 844, True)):
            with self.subTest(width=width):
                self.page.open(PAGE.as_uri())
                self.page.emulate(width, height, mobile)
                self.page.set_choices(version="pc98")
                self.page.choose("disk", SAMPLE / "KZ_Varnholm.fdi")
                self.page.wait(lambda b: b.execute_script(
                    "return Array.from(document.images).every(i => i.complete && i.naturalWidth > 0)"))
                overflow = self.page.browser.execute_script(
                    "return document.documentElement.scrollWidth - window.innerWidth")
                self.page.save_screenshot(SCREENSHOTS / f"page-{width}x{height}.png")
                self.assertLessEqual(overflow, 0, "the page scrolls sideways")
                shown = self.page.browser.execute_script(
                    "return Array.from(document.querySelectorAll('#pictures img')).map(i =>"
                    " [i.clientWidth / i.naturalWidth, getComputedStyle(i).imageRendering])")
                self.assertEqual([rendering for scale, rendering in shown], ["pixelated"] * 2)
                if width >= 1280:
                    # Twice the size where the window has room for it.
                    self.assertEqual([scale for scale, rendering in shown], [2, 2])
                # And the whole page, pictures and all, at that width.
                full = self.page.browser.execute_script("return document.documentElement.scrollHeight")
                self.page.emulate(width, full, mobile)
                self.page.save_screenshot(SCREENSHOTS / f"page-{width}-whole.png")


if __name__ == "__main__":
    unittest.main(verbosity=2)
