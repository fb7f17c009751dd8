"""The changer on sheets and masks as paint programs and image tools save them:
ImageMagick, netpbm and Pillow at every bit depth they write. A bitmap with
the 40-byte header is taken whatever its depth and palette, each pixel going
to the nearest of the eight sheet colours; other header kinds and compressed
files are refused with the bitmap library's messages."""

import atexit
import functools
import random
import shutil
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

from kztest import (HALF, PPMTOBMP, X68K, KzTestCase, bmp_fields, encode_planar, magick, pillow,
                    run_program, shape_disk, tool, BMPTOPNM)

CHANGER = X68K.changer


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(1987)
    tiles_half = bytes(b & 7 for b in rng.randbytes(HALF))
    npc_half = bytes(b & 15 for b in rng.randbytes(HALF))
    # The disk starts blank, so the changer's result shows everything it read.
    disk = shape_disk(bytes(98304), bytes(131072))
    source = shape_disk(encode_planar(tiles_half, 3), encode_planar(npc_half, 4))
    work = Path(tempfile.mkdtemp(prefix="kz-paint-"))
    atexit.register(shutil.rmtree, work, True)
    (work / "blank.xdf").write_bytes(disk)
    (work / "source.xdf").write_bytes(source)
    for args in (["--disk", "source.xdf", "--no-remake-water", "sheet.bmp", "mask.bmp"],
                 ["--disk", "blank.xdf", "--write", "reference.xdf", "sheet.bmp", "mask.bmp"]):
        program = X68K.extractor if "--no-remake-water" in args else CHANGER
        run = run_program(program, args, work)
        if run.status != 0 or run.stdout or run.stderr:
            raise AssertionError(f"fixture step failed: {run}")
    reference = (work / "reference.xdf").read_bytes()
    if reference != source:
        raise AssertionError("the changer does not give back the extracted disk")
    return SimpleNamespace(work=work, reference=reference)


def perturbed(image, seed, spread=60, count=3000):
    """The picture with some pixels moved off their colour, never so far that
    another of the eight sheet colours comes nearer."""
    rng = random.Random(seed)
    image = image.convert("RGB")
    pixels = image.load()
    width, height = image.size
    for _ in range(count):
        x, y = rng.randrange(width), rng.randrange(height)
        pixels[x, y] = tuple(max(0, min(255, c + rng.randint(-spread, spread))) for c in pixels[x, y])
    return image


def padded_palette(image):
    image = image.copy()
    palette = image.getpalette()[:48]
    image.putpalette(palette + [0] * (768 - len(palette)))
    return image


class PaintProgramTest(KzTestCase):
    """Each variant is a file that some tool wrote, the bit count it must have
    (so the test knows what it feeds), and what the changer must make of it."""

    def setUp(self):
        self.f = fixture()
        self.Image = pillow()

    def open(self, name):
        with self.Image.open(self.f.work / name) as im:
            im.load()
            return im

    def make(self, kind, target):
        """Writes a variant of the sheet or the mask with an independent tool."""
        work = self.f.work
        sheet, mask = work / "sheet.bmp", work / "mask.bmp"
        if kind == "magick-bmp3-4":
            magick(sheet, "-type", "Palette", "-compress", "None", "BMP3:" + str(target))
        elif kind == "magick-bmp3-8":
            perturbed(self.open("sheet.bmp"), 1).save(str(target) + ".src.bmp")
            magick(str(target) + ".src.bmp", "-type", "Palette", "-compress", "None", "BMP3:" + str(target))
        elif kind == "magick-bmp3-24":
            magick(sheet, "-type", "TrueColor", "-compress", "None", "BMP3:" + str(target))
        elif kind == "magick-bmp3-rle8":
            perturbed(self.open("sheet.bmp"), 2).save(str(target) + ".src.bmp")
            magick(str(target) + ".src.bmp", "-type", "Palette", "-compress", "RLE", "BMP3:" + str(target))
        elif kind == "magick-bmp":
            magick(sheet, "BMP:" + str(target))
        elif kind.startswith("netpbm-"):
            ppm = tool(BMPTOPNM, sheet)
            Path(target).write_bytes(tool(PPMTOBMP, "-bpp=" + kind.split("-")[1], stdin=ppm))
        elif kind == "pillow-8-short-palette":
            self.open("sheet.bmp").save(target)
        elif kind == "pillow-8":
            padded_palette(self.open("sheet.bmp")).save(target)
        elif kind == "pillow-24":
            self.open("sheet.bmp").convert("RGB").save(target)
        elif kind == "pillow-24-off-colours":
            perturbed(self.open("sheet.bmp"), 3, count=20000).save(target)
        elif kind == "pillow-32":
            self.open("sheet.bmp").convert("RGBA").save(target)
        elif kind == "mask-pillow-1":
            self.open("mask.bmp").convert("1").save(target)
        elif kind == "mask-pillow-8-grey":
            self.open("mask.bmp").convert("L").save(target)
        elif kind == "mask-pillow-24-greys":
            # Light greys count as white, dark greys as black.
            grey = self.open("mask.bmp").convert("L").point(lambda v: 200 if v else 60)
            grey.convert("RGB").save(target)
        elif kind == "mask-magick-bmp3-1":
            magick(mask, "-type", "Bilevel", "-compress", "None", "BMP3:" + str(target))
        elif kind == "mask-netpbm-1":
            Path(target).write_bytes(tool(PPMTOBMP, stdin=tool(BMPTOPNM, mask)))
        elif kind == "mask-magick-bmp":
            magick(mask, "BMP:" + str(target))
        else:
            raise ValueError(kind)

    def check_variant(self, kind, bits, expect, warning=""):
        is_mask = kind.startswith("mask-")
        cwd = self.scratch()
        name = "painted.bmp"
        self.make(kind, cwd / name)
        header = bmp_fields((cwd / name).read_bytes())
        self.assertEqual(header["bit_count"], bits, f"{kind} wrote another depth than the test expects")
        shutil.copy(self.f.work / "blank.xdf", cwd / "blank.xdf")
        shutil.copy(self.f.work / ("sheet.bmp" if is_mask else "mask.bmp"), cwd)
        inputs = ["sheet.bmp", name] if is_mask else [name, "mask.bmp"]
        if expect == "accepted":
            self.run_tool(CHANGER, "--disk", "blank.xdf", "--write", "out.xdf", *inputs, cwd=cwd, status=0,
                          stdout=warning)
            self.assertTrue((cwd / "out.xdf").read_bytes() == self.f.reference,
                            f"{kind}: the changed disk differs from the one made with our own bitmaps")
        else:
            which = "mask" if is_mask else "shapes"
            self.run_tool(CHANGER, "--disk", "blank.xdf", "--write", "out.xdf", *inputs, cwd=cwd, status=1,
                          stdout=expect + "error: read_bitmap() - can't read bitmap header\n"
                                          f"read error '{name}'\nread {which} file error '{name}'\n")
            self.assertFalse((cwd / "out.xdf").exists())

    def test_sheets_with_the_plain_header_are_taken_at_every_depth(self):
        cases = [
            ("magick-bmp3-4", 4, ""),
            ("magick-bmp3-8", 8, ""),
            ("magick-bmp3-24", 24, ""),
            ("netpbm-4", 4, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x40000\n"),
            ("netpbm-8", 8, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x80000\n"),
            ("netpbm-24", 24, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x180000\n"),
            ("pillow-8", 8, ""),
            ("pillow-24", 24, ""),
            ("pillow-24-off-colours", 24, ""),
        ]
        for kind, bits, warning in cases:
            with self.subTest(kind=kind):
                self.check_variant(kind, bits, "accepted", warning)

    def test_pillow_32_bit_sheet_follows_its_header_kind(self):
        cwd = self.scratch()
        self.make("pillow-32", cwd / "probe.bmp")
        header = bmp_fields((cwd / "probe.bmp").read_bytes())
        if header["header_size"] == 40 and header["compression"] == 0:
            self.check_variant("pillow-32", 32, "accepted")
        else:
            self.check_variant("pillow-32", 32, "error: check_bitmap_header() - not supported header type - "
                                                "support only Windows V3\n")

    def test_other_header_kinds_short_palettes_and_compression_are_refused(self):
        cases = [
            ("magick-bmp", 4,
             "error: check_bitmap_header() - not supported header type - support only Windows V3\n"),
            ("mask-magick-bmp", 1,
             "error: check_bitmap_header() - not supported header type - support only Windows V3\n"),
            ("magick-bmp3-rle8", 8, "error: check_bitmap_header() - not support compression\n"),
            # Pillow writes only the palette entries in use; the header check
            # wants all 256 of an 8-bit file.
            ("pillow-8-short-palette", 8, "error: check_bitmap_header() - offset size 0x76 != 0x436\n"),
        ]
        for kind, bits, message in cases:
            with self.subTest(kind=kind):
                self.check_variant(kind, bits, message)

    def test_masks_from_other_tools_are_taken(self):
        cases = [
            ("mask-pillow-1", 1, ""),
            ("mask-pillow-8-grey", 8, ""),
            ("mask-pillow-24-greys", 24, ""),
            ("mask-magick-bmp3-1", 1, ""),
            ("mask-netpbm-1", 1, "warning: check_bitmap_header() - data length is 0 ... corrected: 0x10000\n"),
        ]
        for kind, bits, warning in cases:
            with self.subTest(kind=kind):
                self.check_variant(kind, bits, "accepted", warning)


if __name__ == "__main__":
    unittest.main()
