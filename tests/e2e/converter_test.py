"""kzega_shapes run as a user runs it, on synthetic decoded EGA (TILES.16) and
CGA (TILES.4) tile files; the tile sheets are read back with Pillow,
ImageMagick and netpbm."""

import atexit
import functools
import os
import random
import shutil
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

from kztest import (CONVERTER, GRASS_SHAPES, KzTestCase, bgrx, expected_bmp_header, identify, indices,
                    netpbm_rgb, rgb_of, sample_files, snapshot, water_code)

TILE_SHEET_W, TILE_SHEET_H = 256, 512
TILE_SHEET_FILE_SIZE = 65654
TILE_PIXELS = 512 * 256
WATER_TILES = [*range(52, 56), *range(96, 112), *range(228, 232)]

USAGE = ("usage: kzega_shapes [options] TILES OUTPUT.BMP\n"
         "option: --cga               read cga version tiles\n"
         "        --dungeon           change color of grass shapes\n"
         "        --mirror-room       use alternate colors for mirror room\n"
         "        --no-remake-water   do not remake water shapes\n"
         "        --help              print usage\n"
         "\n"
         "support decoded TILES.16 and TILES.4 only\n")

EGA_COLOURS = [(0x00, 0x00, 0x00), (0x00, 0x00, 0xAA), (0x00, 0xAA, 0x00), (0x00, 0xAA, 0xAA),
               (0xAA, 0x00, 0x00), (0xAA, 0x00, 0xAA), (0xAA, 0x55, 0x00), (0xAA, 0xAA, 0xAA),
               (0x55, 0x55, 0x55), (0x55, 0x55, 0xFF), (0x55, 0xFF, 0x55), (0x55, 0xFF, 0xFF),
               (0xFF, 0x55, 0x55), (0xFF, 0x55, 0xFF), (0xFF, 0xFF, 0x55), (0xFF, 0xFF, 0xFF)]
CGA_COLOURS = [(0, 0, 0), (0x00, 0xAA, 0xAA), (0xAA, 0x00, 0xAA), (0xAA, 0xAA, 0xAA)] + [(0, 0, 0)] * 12
EGA_PALETTE = bgrx(EGA_COLOURS, [0] * 16)
CGA_PALETTE = bgrx(CGA_COLOURS, [0] * 16)
EGA_MIRROR = [0, 5, 4, 4, 2, 1, 2, 7, 8, 12, 12, 12, 10, 9, 14, 15]
CGA_MIRROR = [0, 2, 1, 3] + [0] * 12


def bits_of(cga):
    return 2 if cga else 4


def pack_tiles(pixels, cga):
    """Tile pixels in file order (tile, row, column) as a decoded tile file:
    the leftmost pixel of each byte in its most significant bits."""
    bits = bits_of(cga)
    per_byte = 8 // bits
    return bytes(sum(pixels[i + k] << (8 - (k + 1) * bits) for k in range(per_byte))
                 for i in range(0, len(pixels), per_byte))


def unpack_tiles(data, cga):
    bits = bits_of(cga)
    mask = (1 << bits) - 1
    size = 32768 if cga else 65536
    return bytes((b >> shift) & mask for b in data[:size] for shift in range(8 - bits, -1, -bits))


def tile_pixel(pixels, tile, x, y):
    return pixels[tile * 256 + y * 16 + x]


def sheet_offset(tile, x, y):
    return (16 * (tile // 16) + y) * TILE_SHEET_W + 16 * (tile % 16) + x


def expected_tile_sheet(pixels, cga, remake=True, dungeon=False, mirror=False):
    """The converter's tile sheet for tile pixels in file order. The water remake
    is stated per pixel: tile 3's pixel where the reference tile's pixel is
    drawn (or, for an inverted code, blank), the tile's own pixel elsewhere."""
    sheet = bytearray(TILE_PIXELS)
    for tile in range(512):
        code = water_code(tile) if remake and tile < 256 else 0
        for y in range(16):
            for x in range(16):
                value = tile_pixel(pixels, tile, x, y)
                if code:
                    drawn = tile_pixel(pixels, abs(code), x, y) != 0
                    if drawn == (code > 0):
                        value = tile_pixel(pixels, 3, x, y)
                sheet[sheet_offset(tile, x, y)] = value
    if dungeon:
        source, target = (1, 2) if cga else (2, 4)
        for tile in GRASS_SHAPES:
            for y in range(16):
                for x in range(16):
                    if sheet[sheet_offset(tile, x, y)] == source:
                        sheet[sheet_offset(tile, x, y)] = target
    if mirror:
        table = CGA_MIRROR if cga else EGA_MIRROR
        sheet = bytearray(table[v] for v in sheet)
    return bytes(sheet)


def designed_tiles(seed, cga):
    """Random tiles, except that the water tile 3 uses two colours that the
    remade tiles never use, and the reference tiles are often blank, so that
    each remade pixel shows where it came from."""
    rng = random.Random(seed)
    top = 3 if cga else 15
    water, own = ((1, 3), (0, 2)) if cga else ((9, 13), (0, 2, 4, 6, 7))
    pixels = bytearray(rng.randrange(top + 1) for _ in range(TILE_PIXELS))
    for y in range(16):
        for x in range(16):
            pixels[3 * 256 + y * 16 + x] = water[(x + 2 * y) % 3 == 0]
            for tile in WATER_TILES:
                pixels[tile * 256 + y * 16 + x] = rng.choice(own)
            for tile in (*range(112, 128), *range(208, 212)):
                pixels[tile * 256 + y * 16 + x] = rng.choice((0, 0, 1, 2, top))
    return bytes(pixels)


@functools.lru_cache(maxsize=None)
def fixture():
    work = Path(tempfile.mkdtemp(prefix="kz-converter-"))
    atexit.register(shutil.rmtree, work, True)
    ega = designed_tiles(16, cga=False)
    cga = designed_tiles(4, cga=True)
    (work / "TILES.16").write_bytes(pack_tiles(ega, False))
    (work / "TILES.4").write_bytes(pack_tiles(cga, True))
    return SimpleNamespace(work=work, pixels={False: ega, True: cga},
                           files={False: "TILES.16", True: "TILES.4"})


class ConverterCase(KzTestCase):
    def setUp(self):
        self.f = fixture()

    def prepared(self, *names):
        cwd = self.scratch()
        for name in names:
            shutil.copy(self.f.work / name, cwd / name)
        return cwd

    def convert(self, *args, cwd, stdin=b"", status=0, stdout=""):
        return self.run_tool(CONVERTER, *args, cwd=cwd, stdin=stdin, status=status, stdout=stdout)

    def sheet_pixels(self, path):
        size, mode, pixels = indices(path)
        self.assertEqual((size, mode), ((TILE_SHEET_W, TILE_SHEET_H), "P"), path)
        return pixels


class CommandLineTest(ConverterCase):
    def test_usage_text_is_exact_and_ends_with_failure(self):
        for args in (["--help"], ["TILES.16", "out.bmp", "--help"], ["--cga", "--help", "--bogus"]):
            with self.subTest(args=args):
                cwd = self.prepared("TILES.16")
                before = snapshot(cwd)
                self.convert(*args, cwd=cwd, status=1, stdout=USAGE)
                self.assertTreeUnchanged(before, cwd)

    def test_argument_errors_stop_before_any_file_is_touched(self):
        cases = [
            ([], "no tiles file\n"),
            (["--cga", "--dungeon", "--mirror-room", "--no-remake-water"], "no tiles file\n"),
            (["TILES.16"], "no output bitmap file\n"),
            (["missing.16"], "no output bitmap file\n"),
            (["TILES.16", "out.bmp", "third"], "unneeded parameter 'third'\n"),
            (["TILES.16", "out.bmp", "third", "--help"], "unneeded parameter 'third'\n"),
            (["-c", "TILES.16", "out.bmp"], "unknown option '-c'\n"),
            (["TILES.16", "out.bmp", "--CGA"], "unknown option '--CGA'\n"),
            (["-", "TILES.16", "out.bmp"], "unknown option '-'\n"),
            (["--bogus", "--help"], "unknown option '--bogus'\n"),
            (["--disk", "TILES.16", "out.bmp"], "unknown option '--disk'\n"),
            (["TILES.16", "-out.bmp"], "unknown option '-out.bmp'\n"),
        ]
        for args, message in cases:
            with self.subTest(args=args):
                cwd = self.prepared("TILES.16")
                before = snapshot(cwd)
                self.convert(*args, cwd=cwd, status=1, stdout=message)
                self.assertTreeUnchanged(before, cwd)


class TilesFileTest(ConverterCase):
    def test_unreadable_or_short_tiles_file_is_refused(self):
        ega = (self.f.work / "TILES.16").read_bytes()
        cga = (self.f.work / "TILES.4").read_bytes()
        cases = [
            ([], "none.16", None, "open error 'none.16'\n"),
            ([], "short.16", cga, "read error 'short.16'\n"),
            ([], "short.16", ega[:-1], "read error 'short.16'\n"),
            (["--cga"], "short.4", cga[:-1], "read error 'short.4'\n"),
            ([], "empty", b"", "read error 'empty'\n"),
            (["--cga"], "empty", b"", "read error 'empty'\n"),
            ([], "adir", "directory", "read error 'adir'\n"),
        ]
        for options, name, content, message in cases:
            with self.subTest(options=options, file=name, size=None if content is None else len(content)):
                cwd = self.scratch()
                if content == "directory":
                    (cwd / name).mkdir()
                elif content is not None:
                    (cwd / name).write_bytes(content)
                before = snapshot(cwd)
                self.convert(*options, name, "out.bmp", cwd=cwd, status=1,
                             stdout=message + f"read tiles file error '{name}'\n")
                self.assertTreeUnchanged(before, cwd)

    def test_longer_tiles_file_is_used_in_its_first_bytes(self):
        extra = random.Random(9).randbytes(4464)
        for cga in (False, True):
            with self.subTest(cga=cga):
                cwd = self.prepared(self.f.files[cga])
                name = self.f.files[cga]
                (cwd / "long").write_bytes((cwd / name).read_bytes() + extra)
                options = ["--cga"] if cga else []
                self.convert(*options, name, "a.bmp", cwd=cwd)
                self.convert(*options, "long", "b.bmp", cwd=cwd)
                self.assertEqual((cwd / "a.bmp").read_bytes(), (cwd / "b.bmp").read_bytes())

    def test_cga_option_alone_chooses_the_format(self):
        # The EGA file read as CGA: its first 32768 bytes, two bits a pixel.
        cwd = self.prepared("TILES.16")
        self.convert("--cga", "--no-remake-water", "TILES.16", "out.bmp", cwd=cwd)
        pixels = unpack_tiles((cwd / "TILES.16").read_bytes(), cga=True)
        self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                               expected_tile_sheet(pixels, True, remake=False), TILE_SHEET_W)
        # And the CGA file read as EGA is too short.
        cwd = self.prepared("TILES.4")
        self.convert("TILES.4", "out.bmp", cwd=cwd, status=1,
                     stdout="read error 'TILES.4'\nread tiles file error 'TILES.4'\n")


class TileSheetTest(ConverterCase):
    def test_bitmap_has_the_documented_header_palette_and_size(self):
        for cga, palette in ((False, EGA_PALETTE), (True, CGA_PALETTE)):
            with self.subTest(cga=cga):
                name = self.f.files[cga]
                cwd = self.prepared(name)
                self.convert(*(["--cga"] if cga else []), name, "out.bmp", cwd=cwd)
                data = (cwd / "out.bmp").read_bytes()
                self.assertEqual(len(data), TILE_SHEET_FILE_SIZE)
                self.assertEqual(data[:54], expected_bmp_header(256, 512, 4))
                self.assertEqual(data[54:118], palette)
                self.assertEqual(identify(cwd / "out.bmp"), "4 256 512")
                self.assertEqual(sorted(os.listdir(cwd)), sorted([name, "out.bmp"]))

    def test_pixels_land_where_the_tile_format_puts_them(self):
        cases = [
            # (cga, file bytes at offsets, expected sheet pixels)
            (False, {0: 0x12}, {(0, 0): 1, (1, 0): 2}),
            (True, {0: 0x1B}, {(0, 0): 0, (1, 0): 1, (2, 0): 2, (3, 0): 3}),
            (False, {17 * 128: 0xF0, 17 * 128 + 8 * 15 + 7: 0x0A}, {(16, 16): 15, (31, 31): 10}),
            (True, {17 * 64 + 4 * 15 + 3: 0x02}, {(31, 31): 2}),
            (False, {511 * 128 + 127: 0x0E}, {(255, 511): 14}),
            (True, {511 * 64: 0x40}, {(240, 496): 1}),
        ]
        for cga, data, expected in cases:
            with self.subTest(cga=cga, data=data):
                content = bytearray(32768 if cga else 65536)
                for offset, value in data.items():
                    content[offset] = value
                cwd = self.scratch()
                (cwd / "tiles").write_bytes(content)
                self.convert(*(["--cga"] if cga else []), "--no-remake-water", "tiles", "out.bmp", cwd=cwd)
                want = bytearray(TILE_PIXELS)
                for (x, y), value in expected.items():
                    want[y * TILE_SHEET_W + x] = value
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"), bytes(want), TILE_SHEET_W)

    def test_tile_sheet_follows_the_options(self):
        option_sets = [
            [],
            ["--no-remake-water"],
            ["--dungeon"],
            ["--dungeon", "--no-remake-water"],
            ["--mirror-room"],
            ["--mirror-room", "--no-remake-water"],
            ["--dungeon", "--mirror-room"],
            ["--mirror-room", "--dungeon", "--no-remake-water", "--dungeon"],
        ]
        for cga in (False, True):
            for options in option_sets:
                with self.subTest(cga=cga, options=options):
                    name = self.f.files[cga]
                    cwd = self.prepared(name)
                    flags = ["--cga"] if cga else []
                    self.convert(name, *options, *flags, "out.bmp", cwd=cwd)
                    expected = expected_tile_sheet(self.f.pixels[cga], cga,
                                                   remake="--no-remake-water" not in options,
                                                   dungeon="--dungeon" in options,
                                                   mirror="--mirror-room" in options)
                    pixels = self.sheet_pixels(cwd / "out.bmp")
                    self.assertPixelsEqual(pixels, expected, TILE_SHEET_W)
                    if cga:
                        self.assertLessEqual(max(pixels), 3, "CGA pixels stay within 0-3")

    def test_water_comes_from_tile_3_where_the_reference_tile_says(self):
        for cga in (False, True):
            name = self.f.files[cga]
            cwd = self.prepared(name)
            flags = ["--cga"] if cga else []
            self.convert(*flags, name, "remade.bmp", cwd=cwd)
            self.convert(*flags, "--no-remake-water", name, "kept.bmp", cwd=cwd)
            remade = self.sheet_pixels(cwd / "remade.bmp")
            kept = self.sheet_pixels(cwd / "kept.bmp")
            tiles = self.f.pixels[cga]
            # (tile, reference tile, water where the reference is drawn)
            for tile, reference, where_drawn in ((96, 112, True), (111, 127, True), (52, 208, True),
                                                 (55, 211, True), (228, 208, False), (231, 211, False)):
                with self.subTest(cga=cga, tile=tile):
                    for y in range(16):
                        for x in range(16):
                            own = tile_pixel(tiles, tile, x, y)
                            drawn = tile_pixel(tiles, reference, x, y) != 0
                            want = tile_pixel(tiles, 3, x, y) if drawn == where_drawn else own
                            self.assertEqual(remade[sheet_offset(tile, x, y)], want, (x, y))
                            self.assertEqual(kept[sheet_offset(tile, x, y)], own, (x, y))
            with self.subTest(cga=cga, tiles="256-511"):
                self.assertEqual(remade[TILE_PIXELS // 2:], kept[TILE_PIXELS // 2:])

    def test_dungeon_recolours_one_colour_in_grass_tiles_only(self):
        for cga, (source, target) in ((False, (2, 4)), (True, (1, 2))):
            name = self.f.files[cga]
            cwd = self.prepared(name)
            flags = ["--cga"] if cga else []
            self.convert(*flags, name, "plain.bmp", cwd=cwd)
            self.convert(*flags, "--dungeon", name, "dungeon.bmp", cwd=cwd)
            plain = self.sheet_pixels(cwd / "plain.bmp")
            dungeon = self.sheet_pixels(cwd / "dungeon.bmp")
            for tile in range(512):
                with self.subTest(cga=cga, tile=tile):
                    for y in range(16):
                        start = sheet_offset(tile, 0, y)
                        line = plain[start:start + 16]
                        if tile in GRASS_SHAPES:
                            line = bytes(target if v == source else v for v in line)
                        self.assertEqual(dungeon[start:start + 16], line, f"row {y}")

    def test_mirror_room_map_is_the_converters_own(self):
        # EGA colours 9 and 14 are where this map and the extractor's differ.
        content = bytes([0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF]) + bytes(65536 - 8)
        cwd = self.scratch()
        (cwd / "tiles").write_bytes(content)
        self.convert("--mirror-room", "--no-remake-water", "tiles", "out.bmp", cwd=cwd)
        pixels = self.sheet_pixels(cwd / "out.bmp")
        self.assertEqual(list(pixels[:16]), EGA_MIRROR)
        self.assertEqual(pixels[9], 12)
        self.assertEqual(pixels[14], 14)
        # CGA: 1 and 2 trade places; dungeon first, so a grass tile's 1s and 2s all end as 1.
        tile5 = 5 * 64
        content = bytearray(32768)
        content[0] = 0x1B
        content[tile5] = 0x1B
        (cwd / "tiles4").write_bytes(content)
        self.convert("--cga", "--mirror-room", "--dungeon", "--no-remake-water", "tiles4", "cga.bmp", cwd=cwd)
        pixels = self.sheet_pixels(cwd / "cga.bmp")
        self.assertEqual(list(pixels[:4]), [0, 2, 1, 3])
        self.assertEqual(list(pixels[80:84]), [0, 1, 1, 3])

    def test_sheet_reads_the_same_in_netpbm(self):
        for cga, palette in ((False, EGA_PALETTE), (True, CGA_PALETTE)):
            with self.subTest(cga=cga):
                name = self.f.files[cga]
                cwd = self.prepared(name)
                self.convert(*(["--cga"] if cga else []), "--dungeon", name, "out.bmp", cwd=cwd)
                width, height, rgb = netpbm_rgb(cwd / "out.bmp")
                self.assertEqual((width, height), (TILE_SHEET_W, TILE_SHEET_H))
                expected = expected_tile_sheet(self.f.pixels[cga], cga, dungeon=True)
                self.assertTrue(rgb == rgb_of(expected, palette), "colours as netpbm reads them")

    def test_sample_tile_files_convert(self):
        sample = sample_files()
        for cga, name in ((False, "TILES.16"), (True, "TILES.4")):
            with self.subTest(file=name):
                cwd = self.scratch()
                shutil.copy(sample / name, cwd)
                self.convert(*(["--cga"] if cga else []), name, "out.bmp", cwd=cwd)
                pixels = unpack_tiles((cwd / name).read_bytes(), cga)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"), expected_tile_sheet(pixels, cga),
                                       TILE_SHEET_W)


class OutputFileTest(ConverterCase):
    OLD = b"an older file that must survive\n"

    def test_declined_overwrite_leaves_the_old_file(self):
        for stdin in (b"n", b"", b"abc\nN\n"):
            with self.subTest(stdin=stdin):
                cwd = self.prepared("TILES.16")
                (cwd / "out.bmp").write_bytes(self.OLD)
                before = snapshot(cwd)
                self.convert("TILES.16", "out.bmp", cwd=cwd, stdin=stdin, status=1,
                             stdout="already exists 'out.bmp'\noverwrite ? (Y or N): "
                                    "write bitmap file error 'out.bmp'\n")
                self.assertTreeUnchanged(before, cwd)

    def test_confirmed_overwrite_replaces_the_file(self):
        cwd = self.prepared("TILES.16")
        (cwd / "out.bmp").write_bytes(self.OLD)
        self.convert("TILES.16", "out.bmp", cwd=cwd, stdin=b"abc\ny\n",
                     stdout="already exists 'out.bmp'\noverwrite ? (Y or N): ")
        self.assertEqual(len((cwd / "out.bmp").read_bytes()), TILE_SHEET_FILE_SIZE)
        self.assertEqual(sorted(os.listdir(cwd)), ["TILES.16", "out.bmp"])

    def test_same_path_for_tiles_and_bitmap_is_read_first_then_asked_about(self):
        cwd = self.prepared("TILES.16")
        original = (cwd / "TILES.16").read_bytes()
        self.convert("TILES.16", "TILES.16", cwd=cwd, stdin=b"n", status=1,
                     stdout="already exists 'TILES.16'\noverwrite ? (Y or N): "
                            "write bitmap file error 'TILES.16'\n")
        self.assertEqual((cwd / "TILES.16").read_bytes(), original)
        self.convert("TILES.16", "TILES.16", cwd=cwd, stdin=b"y",
                     stdout="already exists 'TILES.16'\noverwrite ? (Y or N): ")
        self.assertPixelsEqual(self.sheet_pixels(cwd / "TILES.16"),
                               expected_tile_sheet(self.f.pixels[False], False), TILE_SHEET_W)

    def test_failed_overwrite_keeps_the_old_file(self):
        cwd = self.prepared("TILES.16")
        (cwd / "out.bmp").write_bytes(self.OLD)
        before = snapshot(cwd)
        run = self.run_tool(CONVERTER, "TILES.16", "out.bmp", cwd=cwd, stdin=b"y", status=1,
                            file_size_limit=16384)
        prompt = "already exists 'out.bmp'\noverwrite ? (Y or N): "
        tail = "write error 'out.bmp'\nwrite bitmap file error 'out.bmp'\n"
        self.assertIn(run.stdout.decode(),
                      (prompt + tail, prompt + "error: write_bitmap() - can't write bitmap data\n" + tail))
        self.assertTreeUnchanged(before, cwd, "after a failed overwrite")

    def test_unwritable_output_is_reported(self):
        self.full_device()
        cwd = self.prepared("TILES.16")
        (cwd / "adir").mkdir()
        before = snapshot(cwd)
        self.convert("TILES.16", "nodir/out.bmp", cwd=cwd, status=1,
                     stdout="open error 'nodir/out.bmp'\nwrite bitmap file error 'nodir/out.bmp'\n")
        self.convert("TILES.16", "adir", cwd=cwd, stdin=b"y", status=1,
                     stdout="already exists 'adir'\noverwrite ? (Y or N): "
                            "open error 'adir'\nwrite bitmap file error 'adir'\n")
        run = self.convert("TILES.16", "/dev/full", cwd=cwd, stdin=b"y", status=1, stdout=None)
        prompt = "already exists '/dev/full'\noverwrite ? (Y or N): "
        tail = "write error '/dev/full'\nwrite bitmap file error '/dev/full'\n"
        self.assertIn(run.stdout.decode(),
                      (prompt + tail, prompt + "error: write_bitmap() - can't write bitmap data\n" + tail))
        self.assertTreeUnchanged(before, cwd)


if __name__ == "__main__":
    unittest.main()
