"""The changer on sheets and masks as other programs save them. A bitmap with
the 40-byte header is taken at any depth, each pixel going to the nearest
sheet colour, and must give the same disk as the extractor's own bitmaps;
other headers and short palettes are refused by the header check."""

import random
import shutil
import struct
import unittest

from kztest import (BMPTOPNM, KzTestCase, PPMTOBMP, X68K, magick, opened, random_sheet_disk, tool, work_dir)


def fixture():
    return random_sheet_disk(1987, "bmp")


def off_colours(path, seed):
    """The picture with pixels moved off their colours, never so far that
    another sheet colour comes nearer."""
    rng = random.Random(seed)
    image = opened(path).convert("RGB")
    pixels = image.load()
    for _ in range(3000):
        x, y = rng.randrange(512), rng.randrange(1024)
        pixels[x, y] = tuple(max(0, min(255, c + rng.randint(-60, 60))) for c in pixels[x, y])
    return image


def magick_bmp3(*options):
    return lambda s, t: magick(s, *options, "-compress", "None", f"BMP3:{t}")


def via_pillow(make):
    def write(source, target):
        make(source).save(f"{target}.src.bmp")
        magick(f"{target}.src.bmp", "-type", "Palette", "-compress", "None", f"BMP3:{target}")
    return write


WARNING = "warning: check_bitmap_header() - data length is 0 ... corrected: 0x40000\n"
REFUSED = ("error: read_bitmap() - can't read bitmap header\n"
           "read error 'painted.bmp'\nread shapes file error 'painted.bmp'\n")
# (what, the mask?, bits, writer(source, target), the changer's output)
VARIANTS = [
    ("ImageMagick BMP3 4-bit", False, 4, magick_bmp3("-type", "Palette"), ""),
    ("ImageMagick BMP3 8-bit", False, 8, via_pillow(lambda s: off_colours(s, 1)), ""),
    ("ImageMagick BMP3 24-bit", False, 24, magick_bmp3("-type", "TrueColor"), ""),
    ("ImageMagick BMP", False, 4, lambda s, t: magick(s, f"BMP:{t}"),
     "error: check_bitmap_header() - not supported header type - support only Windows V3\n" + REFUSED),
    ("ppmtobmp 4-bit", False, 4, lambda s, t: t.write_bytes(tool(PPMTOBMP, "-bpp=4", stdin=tool(BMPTOPNM, s))),
     WARNING),
    ("Pillow 1-bit mask", True, 1, lambda s, t: opened(s).convert("1").save(t), ""),
    ("Pillow 24-bit", False, 24, lambda s, t: off_colours(s, 3).save(t), ""),
    ("Pillow 32-bit", False, 32, lambda s, t: opened(s).convert("RGBA").save(t), ""),
    ("Pillow P with a short palette", False, 8, lambda s, t: opened(s).save(t),
     "error: check_bitmap_header() - offset size 0x76 != 0x436\n" + REFUSED),
]


class PaintProgramTest(KzTestCase):
    def test_bitmaps_of_other_programs_are_taken_or_refused(self):
        work, source = fixture()
        for what, is_mask, bits, write, output in VARIANTS:
            with self.subTest(variant=what):
                cwd = work_dir()
                for name in ("blank.xdf", "sheet.bmp", "mask.bmp"):
                    shutil.copy(work / name, cwd)
                write(cwd / ("mask.bmp" if is_mask else "sheet.bmp"), cwd / "painted.bmp")
                self.assertEqual(struct.unpack_from("<H", (cwd / "painted.bmp").read_bytes(), 28)[0], bits,
                                 "the tool wrote another depth than the test expects")
                refused = output.startswith("error")
                self.run_tool(X68K.changer, "--disk", "blank.xdf", "--write", "out.xdf",
                              *(["sheet.bmp", "painted.bmp"] if is_mask else ["painted.bmp", "mask.bmp"]),
                              cwd=cwd, status=int(refused), stdout=output)
                if refused:
                    self.assertFalse((cwd / "out.xdf").exists())
                else:
                    self.assertSame((cwd / "out.xdf").read_bytes(), source, "the disk made from the bitmap")


if __name__ == "__main__":
    unittest.main()
