"""kzega_shapes on synthetic decoded EGA (TILES.16) and CGA (TILES.4) tile
files; the tile sheets are read back with Pillow and compared with the model."""

import functools
import random
import unittest

from kztest import GRASS_SHAPES, KzTestCase, asked, bgrx, expected_bmp_header, indices, water_code, work_dir

SHEET_FILE, TILE_PIXELS = 65654, 256 * 512
USAGE = ("usage: kzega_shapes [options] TILES OUTPUT.BMP|PNG\n"
         "option: --cga               read cga version tiles\n"
         "        --dungeon           change color of grass shapes\n"
         "        --mirror-room       use alternate colors for mirror room\n"
         "        --no-remake-water   do not remake water shapes\n"
         "        --help              print usage\n"
         "\n"
         "support decoded TILES.16 and TILES.4 only\n")
PALETTE = {False: bgrx([(0, 0, 0), (0, 0, 0xAA), (0, 0xAA, 0), (0, 0xAA, 0xAA), (0xAA, 0, 0), (0xAA, 0, 0xAA),
                        (0xAA, 0x55, 0), (0xAA, 0xAA, 0xAA), (0x55, 0x55, 0x55), (0x55, 0x55, 0xFF),
                        (0x55, 0xFF, 0x55), (0x55, 0xFF, 0xFF), (0xFF, 0x55, 0x55), (0xFF, 0x55, 0xFF),
                        (0xFF, 0xFF, 0x55), (0xFF, 0xFF, 0xFF)], [0] * 16),
           True: bgrx([(0, 0, 0), (0, 0xAA, 0xAA), (0xAA, 0, 0xAA), (0xAA, 0xAA, 0xAA)] + [(0, 0, 0)] * 12, [0] * 16)}
MIRROR = {False: bytes([0, 5, 4, 4, 2, 1, 2, 7, 8, 12, 12, 12, 10, 9, 14, 15]) + bytes(240),
          True: bytes([0, 2, 1, 3]) + bytes(252)}
DUNGEON = {False: (2, 4), True: (1, 2)}


def pack_tiles(pixels, cga):
    """Tile pixels in file order (tile, line, column) as a decoded tile file,
    the leftmost pixel in the most significant bits of its byte."""
    bits = 2 if cga else 4
    return bytes(sum(p << (8 - bits - k) for p, k in zip(pixels[i:i + 8 // bits], range(0, 8, bits)))
                 for i in range(0, len(pixels), 8 // bits))


def expected_tile_sheet(pixels, cga, options):
    """The tile sheet: a remade water tile takes tile 3's pixel where its
    reference tile is drawn (blank, if inverted); then dungeon recolours the
    grass tiles and the mirror room every pixel."""
    sheet = bytearray(TILE_PIXELS)
    source, target = DUNGEON[cga]
    for tile in range(512):
        code = water_code(tile) if "--no-remake-water" not in options and tile < 256 else 0
        for y in range(16):
            for x in range(16):
                value = pixels[tile * 256 + y * 16 + x]
                if code and (pixels[abs(code) * 256 + y * 16 + x] != 0) == (code > 0):
                    value = pixels[3 * 256 + y * 16 + x]
                if "--dungeon" in options and tile in GRASS_SHAPES and value == source:
                    value = target
                sheet[(tile // 16 * 16 + y) * 256 + tile % 16 * 16 + x] = value
    return bytes(sheet.translate(MIRROR[cga]) if "--mirror-room" in options else sheet)


@functools.lru_cache(maxsize=None)
def designed_tiles(cga):
    """Random tiles, except that water tile 3 uses colours (one of them the
    dungeon's) that the remade tiles never use, and the reference tiles are
    often blank: each remade pixel shows where it came from."""
    rng = random.Random(4 if cga else 16)
    top = 3 if cga else 15
    water, own = ((1, 3), (0, 2)) if cga else ((2, 13), (0, 4, 6, 7))
    pixels = bytearray(rng.randrange(top + 1) for _ in range(TILE_PIXELS))
    for i in range(256):
        pixels[3 * 256 + i] = water[(i % 16 + 2 * (i // 16)) % 3 == 0]
        for tile in (*range(52, 56), *range(96, 112), *range(228, 232)):
            pixels[tile * 256 + i] = rng.choice(own)
        for tile in (*range(112, 128), *range(208, 212)):
            pixels[tile * 256 + i] = rng.choice((0, 0, 1, 2, top))
    return bytes(pixels)


class ConverterTest(KzTestCase):
    def test_runs_print_their_lines_and_touch_only_their_outputs(self):
        cwd = work_dir()
        (cwd / "TILES.16").write_bytes(pack_tiles(designed_tiles(False), False))
        (cwd / "TILES.4").write_bytes(pack_tiles(designed_tiles(True), True))
        (cwd / "old.bmp").write_bytes(b"an older file that must survive\n")
        self.check_rows("kzega_shapes", cwd, [
            (["--help"], b"", USAGE),
            (["TILES.16", "out.bmp", "--help"], b"", USAGE),
            ([], b"", "no tiles file\n"),
            (["TILES.16"], b"", "no output bitmap file\n"),
            (["TILES.16", "out.bmp", "third", "--help"], b"", "unneeded parameter 'third'\n"),
            (["-c", "TILES.16", "out.bmp"], b"", "unknown option '-c'\n"),
            (["TILES.16", "out.bmp", "--CGA"], b"", "unknown option '--CGA'\n"),
            (["--bogus", "--help"], b"", "unknown option '--bogus'\n"),
            (["none.16", "out.bmp"], b"", "open error 'none.16'\nread tiles file error 'none.16'\n"),
            (["TILES.4", "out.bmp"], b"", "read error 'TILES.4'\nread tiles file error 'TILES.4'\n"),
            (["TILES.16", "out.bmp"], b"", "", 0, {"out.bmp": SHEET_FILE}),
            (["TILES.16", "old.bmp"], b"abc\nN\n", asked("old.bmp") + "write bitmap file error 'old.bmp'\n"),
            (["TILES.16", "TILES.16"], b"y", "can't write over input 'TILES.16'\n"),
        ])

    def test_tile_sheet_follows_the_options(self):
        for cga in (False, True):
            cwd = work_dir()
            # Bytes after the first 65536 (EGA) or 32768 (CGA) are never looked at.
            (cwd / "tiles").write_bytes(pack_tiles(designed_tiles(cga), cga) + random.Random(9).randbytes(4464))
            for i, options in enumerate(([], ["--no-remake-water"], ["--dungeon"], ["--mirror-room", "--dungeon"])):
                with self.subTest(cga=cga, options=options):
                    out = cwd / f"out{i}.bmp"
                    self.run_tool("kzega_shapes", "tiles", *options, *(["--cga"] if cga else []), out.name, cwd=cwd)
                    data = out.read_bytes()
                    self.assertEqual(len(data), SHEET_FILE)
                    self.assertEqual(data[:118], expected_bmp_header(256, 512, 4) + PALETTE[cga])
                    size, mode, pixels = indices(out)
                    self.assertEqual((size, mode), ((256, 512), "P"))
                    self.assertPixelsEqual(pixels, expected_tile_sheet(designed_tiles(cga), cga, options), 256)

    def test_pixels_land_where_the_tile_format_puts_them(self):
        # (cga, byte, value, [(x, y, pixel)]): tile n's line y begins at byte
        # n * 128 + 8 * y (EGA, 2 pixels a byte) or n * 64 + 4 * y (CGA, 4 a byte).
        cases = [(False, 0, 0x12, [(0, 0, 1), (1, 0, 2)]), (True, 0, 0x1B, [(1, 0, 1), (2, 0, 2), (3, 0, 3)]),
                 (False, 17 * 128 + 127, 0x0A, [(31, 31, 10)]), (True, 17 * 64 + 63, 0x02, [(31, 31, 2)]),
                 (False, 511 * 128 + 127, 0x0E, [(255, 511, 14)]), (True, 511 * 64, 0x40, [(240, 496, 1)])]
        for cga in (False, True):
            content, expected = bytearray(32768 if cga else 65536), bytearray(TILE_PIXELS)
            for _, offset, value, pixels in (c for c in cases if c[0] == cga):
                content[offset] = value
                for x, y, pixel in pixels:
                    expected[y * 256 + x] = pixel
            cwd = work_dir()
            (cwd / "tiles").write_bytes(content)
            self.run_tool("kzega_shapes", *(["--cga"] if cga else []), "--no-remake-water", "tiles", "out.bmp", cwd=cwd)
            self.assertPixelsEqual(indices(cwd / "out.bmp")[2], bytes(expected), 256)


if __name__ == "__main__":
    unittest.main()
