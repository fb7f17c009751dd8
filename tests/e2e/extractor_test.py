"""kzpc98shapes and kzx68kshapes on disks made by mkfs.fat and mcopy; the
bitmaps are read back with Pillow and compared with the format model."""

import functools
import random
import shutil
import unittest
from types import SimpleNamespace

from disk_containers import d88, d88_tracks
from kztest import (BUILDS, FORMATS, GRASS_SHAPES, HALF, ROOT_END, X68K, KzTestCase, asked, bgrx, build_disk, COLOURS,
                    encode_planar, expected_bmp_header, find_entry, indices, opened, pixel_offset, sample_files,
                    shape_disk, snapshot, water_code, work_dir)

SHEET_FILE, MASK_FILE = 0x40076, 0x1003E
SHAPE_PALETTE = bgrx(COLOURS * 2, [0] * 8 + [255] * 8)
MASK_PALETTE = bytes((0, 0, 0, 0, 255, 255, 255, 255))
# With --mask-in-sheet, 8-15 show their colour dimmed: 192 for a component
# the colour has, 64 for one it lacks.
IN_SHEET_COLOURS = COLOURS + [tuple(192 if v else 64 for v in c) for c in COLOURS]
MIRROR_MAP = bytes([0, 5, 4, 4, 2, 1, 2, 7, 8, 13, 12, 12, 10, 9, 10, 15]) + bytes(240)
TRIANGLES = {208: lambda x, y: x + y <= 31, 209: lambda x, y: x >= y,
             210: lambda x, y: x + y >= 31, 211: lambda x, y: x <= y}


def usage(b):
    return (f"usage: {b.extractor} [options] OUTPUT.BMP|PNG [MASK.BMP|PNG]\n"
            "option: --disk DISK-IMG     disk image name of Varnholm Disk\n"
            f"                            read '{b.default_image}' if not specified\n"
            "        --dungeon           change color of grass shapes\n"
            "        --mirror-room       use alternate colors for mirror room\n"
            "        --no-remake-water   do not remake water shapes\n"
            "        --mask-in-sheet     write mask into sheet as colors 8-15\n"
            "        --help              print usage\n"
            "\n"
            f"supported disk image formats are {FORMATS[b.kind]}\n")


def expected_sheet(decoded, options):
    """The sheet the extractor writes: dungeon exchanges red and green in the
    grass shapes; the water remake puts shape 3's pixels inside a triangle (the
    opposite one if inverted) or where a reference shape is drawn (blank if
    inverted); the mirror room then recolours every pixel."""
    sheet = bytearray(decoded)
    swap = bytes((v & ~6) | (v & 2) << 1 | (v & 4) >> 1 for v in range(256))
    for shape in GRASS_SHAPES if "--dungeon" in options else ():
        for y in range(32):
            line = pixel_offset(shape, 0, y)
            sheet[line:line + 32] = sheet[line:line + 32].translate(swap)
    for shape in [s for s in range(256) if water_code(s)] if "--no-remake-water" not in options else ():
        code = water_code(shape)
        ref = abs(code)
        for y in range(32):
            for x in range(32):
                if ref in TRIANGLES:
                    take = TRIANGLES[ref if code > 0 else (ref - 206) % 4 + 208](x, y)
                else:
                    take = (sheet[pixel_offset(ref, x, y)] != 0) == (code > 0)
                if take:
                    sheet[pixel_offset(shape, x, y)] = sheet[pixel_offset(3, x, y)]
    return bytes(sheet.translate(MIRROR_MAP) if "--mirror-room" in options else sheet)


def mask_of(sheet):
    return sheet.translate(bytes(v >> 3 & 1 for v in range(256)))


@functools.lru_cache(maxsize=None)
def fixture():
    """Random shapes, except that the water shape 3 is blue and cyan, colours
    the remade shapes never use, and the reference shapes 112-127 are mostly
    blank: every remade pixel shows."""
    rng = random.Random(1998)
    tiles = bytearray(b & 7 for b in rng.randbytes(HALF))
    npc = bytes(b & 15 for b in rng.randbytes(HALF))
    for y in range(32):
        for x in range(32):
            tiles[pixel_offset(3, x, y)] = 5 if (3 * x + y) % 5 == 0 else 1
            for shape in (*range(52, 56), *range(96, 112), *range(228, 232)):
                tiles[pixel_offset(shape, x, y)] = rng.choice((0, 2, 3, 4, 6, 7))
            for shape in range(112, 128):
                tiles[pixel_offset(shape, x, y)] = rng.choice((0, 0, 0, 2, 4, 7))
    tiles_ch, npc_ch = encode_planar(bytes(tiles), 3), encode_planar(npc, 4)
    disk = bytearray(shape_disk(tiles_ch, npc_ch, ("README.TXT", b"not a shape file\n" * 40)))
    entry = find_entry(disk, "NPC.CH")
    disk[entry:entry + 11] = b"nPc     Ch "  # names are found in any letter case
    return SimpleNamespace(sheet=bytes(tiles) + npc, tiles_ch=tiles_ch, npc_ch=npc_ch, disk=bytes(disk))


class ExtractorTest(KzTestCase):
    def test_runs_print_their_lines_and_touch_only_their_outputs(self):
        f = fixture()
        disks = {"notiles.img": build_disk([("NPC.CH", f.npc_ch)]),
                 "shortnpc.img": shape_disk(f.tiles_ch, f.npc_ch[:-1024]),
                 "long.img": shape_disk(f.tiles_ch + bytes(1000), f.npc_ch + b"\xff" * 24)}
        self.full_device()
        for b in BUILDS:
            cwd = work_dir()
            for name, disk in {b.default_image: f.disk, **disks}.items():
                (cwd / name).write_bytes(b.wrap(disk))
            (cwd / "cut.img").write_bytes(b.wrap(f.disk)[:5000])
            (cwd / "old.bmp").write_bytes(b"an older file that must survive\n")
            data_error = "error: write_bitmap() - can't write bitmap data\nwrite error '{0}'\n"
            failed = "write bitmap file error '{0}'\n".format
            self.check_rows(b.extractor, cwd, [
                (["--help"], b"", usage(b)),
                (["out.bmp", "--dungeon", "--help"], b"", usage(b)),
                ([], b"", "no output bitmap file\n"),
                (["a.bmp", "b.bmp", "c.bmp", "--help"], b"", "unneeded parameter 'c.bmp'\n\n"),
                (["out.bmp", "--disk"], b"", "no disk image (varnholm disk)\n"),
                (["-"], b"", "unknown option '-'\n"),
                (["--HELP"], b"", "unknown option '--HELP'\n"),
                (["--bogus", "--help"], b"", "unknown option '--bogus'\n"),
                (["--disk", "--dungeon", "out.bmp"], b"",
                 "open error '--dungeon'\nread disk image error '--dungeon'\n"),
                (["--disk", "cut.img", "out.bmp"], b"",
                 f"disk image too short 'cut.img' 5000 < {b.offset + ROOT_END}\nread disk image error 'cut.img'\n"),
                (["--disk", "notiles.img", "out.bmp"], b"",
                 "can't find 'TILES.CH'\nread disk image error 'notiles.img/TILES.CH'\n"),
                (["--disk", "shortnpc.img", "out.bmp"], b"",
                 "file size error 'NPC.CH' 130048 < 131072\nread disk image error 'shortnpc.img/NPC.CH'\n"),
                (["--disk", "long.img", "out.bmp"], b"", "file size mismatch 'TILES.CH' 99304 != 98304 ... ignored\n"
                 "file size mismatch 'NPC.CH' 131096 != 131072 ... ignored\n", 0, {"out.bmp": SHEET_FILE}),
                (["out.bmp"], b"", "", 0, {"out.bmp": SHEET_FILE}),
                (["out.bmp", "mask.bmp"], b"", "", 0, {"out.bmp": SHEET_FILE, "mask.bmp": MASK_FILE}),
                (["old.bmp"], b"", asked("old.bmp") + failed("old.bmp")),
                (["old.bmp"], b"abc\nnyy\n", asked("old.bmp") + failed("old.bmp")),
                (["old.bmp"], b"x\r\ny\n", asked("old.bmp"), 0, {"old.bmp": SHEET_FILE}),
                (["old.bmp"], b"y", asked("old.bmp") + data_error.format("old.bmp") + failed("old.bmp"), 1, {}, 65536),
                (["out.bmp", "old.bmp"], b"n", asked("old.bmp") + failed("old.bmp"), 1, {"out.bmp": SHEET_FILE}),
                (["both.bmp", "both.bmp"], b"y", "can't write mask over sheet 'both.bmp'\n"),
                # Refused before the disk is read (it is not there) and
                # before an existing mask is asked about.
                (["--mask-in-sheet", "--disk", "missing.img", "out.png", "mask.png"], b"",
                 "can't use mask bitmap with --mask-in-sheet 'mask.png'\n"),
                (["out.bmp", "old.bmp", "--mask-in-sheet"], b"y",
                 "can't use mask bitmap with --mask-in-sheet 'old.bmp'\n"),
                (["nodir/out.bmp"], b"", "open error 'nodir/out.bmp'\n" + failed("nodir/out.bmp")),
                (["/dev/full"], b"y", asked("/dev/full") + data_error.format("/dev/full") + failed("/dev/full")),
            ])

    def test_sheet_and_mask_follow_the_options_alike_in_both_builds(self):
        f = fixture()
        for options in ([], ["--no-remake-water"], ["--dungeon"], ["--mirror-room", "--no-remake-water"],
                        ["--dungeon", "--mirror-room", "--dungeon"]):
            outputs = []
            for b in BUILDS:
                with self.subTest(options=options, build=str(b)):
                    cwd = work_dir()
                    (cwd / "disk.img").write_bytes(b.wrap(f.disk))
                    self.run_tool(b.extractor, "out.bmp", *options, "--disk", "disk.img", "mask.bmp", cwd=cwd)
                    sheet, mask = (cwd / "out.bmp").read_bytes(), (cwd / "mask.bmp").read_bytes()
                    self.assertEqual(sheet[:118], expected_bmp_header(512, 1024, 4) + SHAPE_PALETTE)
                    self.assertEqual(mask[:62], expected_bmp_header(512, 1024, 1) + MASK_PALETTE)
                    size, mode, pixels = indices(cwd / "out.bmp")
                    self.assertEqual((size, mode), ((512, 1024), "P"))
                    self.assertPixelsEqual(pixels, expected_sheet(f.sheet, options), 512)
                    size, mode, pixels = indices(cwd / "mask.bmp")
                    self.assertEqual((size, mode), ((512, 1024), "1"))
                    self.assertPixelsEqual(pixels, mask_of(f.sheet), 512)
                    outputs.append(sheet + mask)
            if len(outputs) == 2:
                self.assertSame(outputs[0], outputs[1], f"{options}: the FDI and XDF builds' bitmaps")

    def test_mask_in_sheet_writes_one_sheet_whose_colours_carry_the_fourth_plane(self):
        f = fixture()
        options = ["--no-remake-water", "--mask-in-sheet"]
        for b in BUILDS:
            for container, image in (("own", b.wrap(f.disk)), ("d88", d88(d88_tracks(f.disk))[0])):
                for name in ("sheet.png", "sheet.bmp"):
                    with self.subTest(build=str(b), container=container, sheet=name):
                        cwd = work_dir()
                        (cwd / "disk.img").write_bytes(image)
                        self.run_tool(b.extractor, *options, "--disk", "disk.img", name, cwd=cwd)
                        self.assertEqual(sorted(snapshot(cwd)), ["disk.img", name], "files made")
                        picture = opened(cwd / name)
                        self.assertEqual((picture.mode, picture.size), ("P", (512, 1024)))
                        self.assertEqual(picture.getpalette()[:48], [v for c in IN_SHEET_COLOURS for v in c])
                        self.assertPixelsEqual(picture.tobytes(), expected_sheet(f.sheet, options), 512)
                        if name.endswith(".bmp"):
                            self.assertEqual((cwd / name).read_bytes()[:118], expected_bmp_header(512, 1024, 4)
                                             + bgrx(IN_SHEET_COLOURS, [0] * 16))

    def test_planar_bits_land_on_their_pixels(self):
        # (file, byte, bits, x, y, colour): shape n, plane p, line l begins at
        # byte (n * planes + p) * 128 + 4 * l.
        cases = [("TILES.CH", 0, 0x80, 0, 0, 1), ("TILES.CH", 3, 0x01, 31, 0, 1),
                 ("TILES.CH", 17 * 384 + 128, 0x80, 32, 32, 2), ("TILES.CH", 17 * 384 + 256 + 21, 0x20, 42, 37, 4),
                 ("TILES.CH", 98303, 0x01, 511, 511, 4), ("NPC.CH", 0, 0x40, 1, 512, 1),
                 ("NPC.CH", 17 * 512 + 384 + 127, 0x01, 63, 575, 8), ("NPC.CH", 17 * 512 + 126, 0x80, 48, 575, 1),
                 ("NPC.CH", 17 * 512 + 384 + 126, 0x80, 48, 575, 8)]
        files, expected = {"TILES.CH": bytearray(98304), "NPC.CH": bytearray(131072)}, bytearray(2 * HALF)
        for name, offset, bits, x, y, colour in cases:
            files[name][offset] |= bits
            expected[y * 512 + x] |= colour
        cwd = work_dir()
        (cwd / "disk.xdf").write_bytes(shape_disk(bytes(files["TILES.CH"]), bytes(files["NPC.CH"])))
        self.run_tool(X68K.extractor, "--disk", "disk.xdf", "out.bmp", "mask.bmp", cwd=cwd)
        self.assertPixelsEqual(indices(cwd / "out.bmp")[2], bytes(expected), 512)
        self.assertPixelsEqual(indices(cwd / "mask.bmp")[2], mask_of(bytes(expected)), 512)

    def test_sample_disk_extracts_alike_in_both_builds(self):
        outputs = []
        for b in BUILDS:
            cwd = work_dir()
            shutil.copy(sample_files() / b.default_image, cwd)
            self.run_tool(b.extractor, "out.bmp", "mask.bmp", cwd=cwd)
            outputs.append((cwd / "out.bmp").read_bytes() + (cwd / "mask.bmp").read_bytes())
        self.assertSame(outputs[0], outputs[1], "the sample's FDI and XDF bitmaps")
        self.assertGreater(len(set(outputs[0][118:SHEET_FILE])), 1, "the sample sheet is blank")


if __name__ == "__main__":
    unittest.main()
