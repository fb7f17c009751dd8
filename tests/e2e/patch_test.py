"""One picture per sheet, and patches: --mask-in-sheet reads the fourth
plane from the sheet's own colours, so that the sheet survives an RGB
re-save by Pillow or ImageMagick; fully transparent PNG pixels keep the
disk's pixel, all four planes of it; --write-patch writes only the shapes a
change writes, and the patch, applied to any copy of the disk by either
pair, changes exactly those shapes. Disks are made by mkfs.fat and mcopy,
raw and in D88; pictures are edited and re-saved with Pillow and
ImageMagick."""

import functools
import random
import unittest
from types import SimpleNamespace

from disk_containers import d88, d88_tracks
from kztest import (BUILDS, COLOURS, HALF, PC98, X68K, Image, KzTestCase, asked, encode_planar, magick, opened,
                    pixel_offset, run_program, shape_disk, snapshot, work_dir)

# The sheet's colours with the fourth plane in colours of its own: 8 + c is
# colour c dimmed, 192 for a component it has, 64 for one it lacks.
IN_SHEET = COLOURS + [tuple(192 if v else 64 for v in c) for c in COLOURS]
# Three shapes the modder edits (sheet order: TILES.CH 0-255, NPC.CH 256-511)
# and one whose pixels are partly transparent.
EDITED = (5, 256 + 17, 256 + 200)
PARTLY = 256 + 40


def random_disk(seed):
    rng = random.Random(seed)
    tiles = bytes(b & 7 for b in rng.randbytes(HALF))
    npc = bytes(b & 15 for b in rng.randbytes(HALF))
    return shape_disk(encode_planar(tiles, 3), encode_planar(npc, 4)), tiles + npc


@functools.lru_cache(maxsize=None)
def fixture():
    ours, ours_sheet = random_disk(2201)
    theirs, theirs_sheet = random_disk(2202)
    return SimpleNamespace(ours=ours, ours_sheet=ours_sheet, theirs=theirs, theirs_sheet=theirs_sheet)


def containers(build, disk):
    """The disk raw (the X68000's own XDF, the PC-98's HDM) and in D88."""
    raw = "disk.xdf" if build is X68K else "disk.hdm"
    return {"raw": (raw, disk), "d88": ("disk.d88", d88(d88_tracks(disk, random.Random(7)), random.Random(8))[0])}


def cells(shape):
    """The sheet offsets of a shape's pixels."""
    return [pixel_offset(shape, x, y) for y in range(32) for x in range(32)]


def rgb_picture(sheet, alpha=None):
    """The sheet of indices as RGB (or RGBA with alpha), in the in-sheet colours."""
    indexed = Image.frombytes("P", (512, 1024), bytes(sheet))
    indexed.putpalette([v for colour in IN_SHEET for v in colour])
    if alpha is None:
        return indexed.convert("RGB")
    picture = indexed.convert("RGBA")
    picture.putalpha(Image.frombytes("L", (512, 1024), bytes(alpha)))
    return picture


def edited(sheet):
    """The sheet with the three shapes repainted: a pattern of all sixteen
    colours, different in each (a TILES.CH shape keeps three planes)."""
    out = bytearray(sheet)
    for k, shape in enumerate(EDITED):
        planes = 7 if shape < 256 else 15
        for i, at in enumerate(cells(shape)):
            out[at] = ((i * 7 + i // 32 * 3 + k * 5) % 16) & planes
    return bytes(out)


def with_shapes(base, source, shapes):
    out = bytearray(base)
    for shape in shapes:
        for at in cells(shape):
            out[at] = source[at]
    return bytes(out)


class PatchTest(KzTestCase):
    def extract(self, build, cwd, disk_name, picture="sheet.png"):
        self.run_tool(build.extractor, "--no-remake-water", "--mask-in-sheet", "--disk", disk_name, picture, cwd=cwd)
        im = opened(cwd / picture)
        self.assertEqual(im.mode, "P")
        return im.tobytes()

    def change(self, build, cwd, *args, stdout="", stdin=b""):
        self.run_tool(build.changer, *args, cwd=cwd, stdout=stdout, stdin=stdin)

    def test_one_picture_round_trips_and_patches_carry_only_their_shapes(self):
        f = fixture()
        for build in BUILDS:
            other = X68K if build is PC98 else PC98
            for kind in ("raw", "d88"):
                name, image = containers(build, f.ours)[kind]
                theirs_name, theirs = containers(other, f.theirs)[kind]
                theirs_name = "theirs" + theirs_name[4:]
                new = name.replace(".", ".NEW.")
                cwd = work_dir()
                (cwd / name).write_bytes(image)
                (cwd / theirs_name).write_bytes(theirs)
                sheet = self.extract(build, cwd, name)
                with self.subTest(build=str(build), container=kind, case="extracted sheet"):
                    self.assertPixelsEqual(sheet, f.ours_sheet, 512)

                # Round trips through RGB re-saves: Pillow, ImageMagick's PNG24.
                opened(cwd / "sheet.png").convert("RGB").save(cwd / "pillow.png", compress_level=1)
                magick(cwd / "sheet.png", f"PNG24:{cwd / 'magick.png'}")
                for picture in ("pillow.png", "magick.png"):
                    with self.subTest(build=str(build), container=kind, case="round trip " + picture):
                        self.assertEqual(opened(cwd / picture).mode, "RGB")
                        self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write", new, picture)
                        self.assertSame((cwd / new).read_bytes(), image, "image changed back")
                        (cwd / new).unlink()

                # Three shapes edited: the full change, and a patch of them.
                changed_sheet = edited(sheet)
                rgb_picture(changed_sheet).save(cwd / "edited.png", compress_level=1)
                full = "full" + name[4:]
                self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write", full, "edited.png")
                with self.subTest(build=str(build), container=kind, case="full change"):
                    expected = with_shapes(f.ours_sheet, changed_sheet, EDITED)
                    self.assertPixelsEqual(self.extract(build, cwd, full, "full.png"), expected, 512)
                self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write-patch", "patch.png", "edited.png")
                with self.subTest(build=str(build), container=kind, case="patch picture"):
                    alpha = opened(cwd / "patch.png").convert("RGBA").tobytes()[3::4]
                    inside = set(at for shape in EDITED for at in cells(shape))
                    self.assertEqual(bytes(alpha), bytes(255 if i in inside else 0 for i in range(2 * HALF)))
                    self.assertEqual(sorted(snapshot(cwd)), sorted(["edited.png", "full.png", full, "magick.png",
                                                                    name, "patch.png", "pillow.png", "sheet.png",
                                                                    theirs_name]), "files made")
                with self.subTest(build=str(build), container=kind, case="patch on a fresh copy"):
                    self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write", new, "patch.png")
                    self.assertSame((cwd / new).read_bytes(), (cwd / full).read_bytes(), "patched image")
                with self.subTest(build=str(build), container=kind, case="patch on their disk, other pair"):
                    out = "out" + theirs_name[6:]
                    self.change(other, cwd, "--mask-in-sheet", "--disk", theirs_name, "--write", out, "patch.png")
                    expected = with_shapes(f.theirs_sheet, changed_sheet, EDITED)
                    self.assertPixelsEqual(self.extract(other, cwd, out, "out.png"), expected, 512)

                # A wholly transparent sheet changes nothing, with the fourth
                # plane in the sheet or in no mask at all; nor does an opaque
                # sheet of the disk's colours beside a wholly transparent mask.
                Image.new("RGBA", (512, 1024), (12, 34, 56, 0)).save(cwd / "clear.png", compress_level=1)
                Image.new("LA", (512, 1024), (255, 0)).save(cwd / "clear-mask.png", compress_level=1)
                colours = sheet.translate(bytes(i & 7 for i in range(256)))
                rgb_picture(colours).save(cwd / "colours.png", compress_level=1)
                for options in (["--mask-in-sheet", "clear.png"], ["clear.png"], ["colours.png", "clear-mask.png"]):
                    with self.subTest(build=str(build), container=kind, case="transparent sheet", options=options):
                        self.change(build, cwd, "--disk", name, "--write", "clear" + name[4:], *options)
                        self.assertSame((cwd / ("clear" + name[4:])).read_bytes(), image, "image")
                        (cwd / ("clear" + name[4:])).unlink()

                # A partly transparent shape: alpha 0 keeps the disk's pixels,
                # whatever colour they stand in; alpha 1 is opaque.
                partly, alpha = bytearray(sheet), bytearray([255]) * (2 * HALF)
                for i, at in enumerate(cells(PARTLY)):
                    if i % 3 == 0:
                        alpha[at] = 0
                        partly[at] = (sheet[at] + 5) % 16  # a colour the disk's pixel is not
                    elif i % 7 == 1:
                        partly[at], alpha[at] = (sheet[at] ^ 9), 1
                rgb_picture(bytes(partly), bytes(alpha)).save(cwd / "partly.png", compress_level=1)
                kept = with_shapes(f.ours_sheet, bytes(b if alpha[i] else sheet[i] for i, b in enumerate(partly)),
                                   [PARTLY])
                with self.subTest(build=str(build), container=kind, case="partly transparent"):
                    self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write", "partly" + name[4:],
                                "partly.png")
                    self.assertPixelsEqual(self.extract(build, cwd, "partly" + name[4:], "partly-out.png"), kept, 512)
                with self.subTest(build=str(build), container=kind, case="check counts transparent pixels"):
                    # Transparent pixels take no colour: (12, 34, 56) is no stray.
                    run_check = ("off-palette pixels 'clear.png' 0\n", "transparent pixels 'clear.png' 524288\n",
                                 "shapes left as on disk 'TILES.CH' 0-255\n", "shapes left as on disk 'NPC.CH' 0-255\n")
                    self.assert_report(build, cwd, ["--mask-in-sheet", "--check", "--disk", name, "clear.png"],
                                       run_check)
                    self.assert_report(build, cwd, ["--check", "--disk", name, "colours.png", "clear-mask.png"],
                                       ("transparent pixels 'clear-mask.png' 524288\n",))
                    self.assert_report(build, cwd, ["--mask-in-sheet", "--check", "--disk", name, "partly.png"],
                                       ("transparent pixels 'partly.png' 342\n", "shapes to change 'NPC.CH' 40\n"))

                # What is refused is refused before anything is read or written.
                self.check_rows(build.changer, cwd, [
                    (["--mask-in-sheet", "--disk", name, "edited.png", "mask.png"], b"",
                     "can't use mask bitmap with --mask-in-sheet 'mask.png'\n"),
                    (["--disk", "missing.img", "edited.png", "sheet.png", "--mask-in-sheet"], b"y",
                     "can't use mask bitmap with --mask-in-sheet 'sheet.png'\n"),
                    (["--mask-in-sheet", "--disk", name, "--write", new, "--write-patch", "p.png", "edited.png"], b"",
                     "can't use --write with --write-patch\n"),
                    (["--mask-in-sheet", "--disk", name, "--check", "--write-patch", "p.png", "edited.png"], b"",
                     "can't use --check with --write-patch\n"),
                    (["--mask-in-sheet", "--disk", name, "--write-patch", "p.bmp", "edited.png"], b"",
                     "patch must be a png file 'p.bmp'\n"),
                    (["--mask-in-sheet", "--disk", name, "--write-patch", "edited.png", "edited.png"], b"",
                     "can't write over input 'edited.png'\n"),
                    (["--mask-in-sheet", "--disk", name, "--write-patch", theirs_name, "edited.png"], b"",
                     f"can't write over disk image '{theirs_name}'\n"),
                    (["--mask-in-sheet", "--disk", name, "--write-patch", "p.png", "--check-picture", "p.png",
                      "edited.png"], b"", "can't write picture over patch 'p.png'\n"),
                    (["--mask-in-sheet", "edited.png", "--write-patch"], b"", "no patch file\n"),
                    (["--mask-in-sheet", "--disk", name, "--write-patch", "patch.png", "edited.png"], b"n",
                     asked("patch.png") + "write bitmap file error 'patch.png'\n"),
                ])
                with self.subTest(build=str(build), container=kind, case="patch replaced when asked"):
                    self.change(build, cwd, "--mask-in-sheet", "--disk", name, "--write-patch", "patch.png",
                                "clear.png", stdout=asked("patch.png"), stdin=b"y")
                    self.assertEqual(opened(cwd / "patch.png").convert("RGBA").getextrema()[3], (0, 0))

    def assert_report(self, build, cwd, args, lines):
        run = run_program(build.changer, *args, cwd=cwd)
        self.assertEqual(run.returncode, 0, run)
        report = run.stdout.decode()
        for line in lines:
            self.assertIn(line, report)


if __name__ == "__main__":
    unittest.main()
