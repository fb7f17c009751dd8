"""kzpc98shapes and kzx68kshapes run as a user runs them: disk images made by
mkfs.fat and mcopy, bitmaps read back with Pillow, ImageMagick and netpbm."""

import atexit
import functools
import os
import random
import shutil
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

from kztest import (BUILDS, HALF, MASK_PALETTE, PC98, ROOT_END, SHAPE_PALETTE, SHEET_W, UNIT, X68K,
                    KzTestCase, build_disk, decode_planar, encode_planar, expected_bmp_header,
                    expected_sheet, fat_set, file_clusters, find_entry, fragmented_disk, identify,
                    indices, mask_of, netpbm_rgb, pixel_offset, rename_entry, rgb_of, sample_files,
                    set_entry_size, shape_disk, snapshot)

SHEET_FILE_SIZE = 0x40076
MASK_FILE_SIZE = 0x1003E
WATER_SHAPES = [*range(52, 56), *range(96, 112), *range(228, 232)]


def usage(build):
    return ("usage: %s [options] OUTPUT.BMP [MASK.BMP]\n"
            "option: --disk DISK-IMG     disk image name of Varnholm Disk\n"
            "                            read '%s' if not specified\n"
            "        --dungeon           change color of grass shapes\n"
            "        --mirror-room       use alternate colors for mirror room\n"
            "        --no-remake-water   do not remake water shapes\n"
            "        --help              print usage\n"
            "\n"
            "supported disk image format is *.%s only\n"
            % (build.extractor, build.default_image, build.image_format))


def picture():
    """The shape sheet the fixture disk holds. Random colours, except that the
    water shape 3 is drawn only in blue and cyan and the shapes the water remake
    redraws never use those two, so every remade pixel shows; the reference
    shapes 112-127 are half blank."""
    rng = random.Random(1998)
    tiles = bytearray(b & 7 for b in rng.randbytes(HALF))
    npc = bytes(b & 15 for b in rng.randbytes(HALF))
    for y in range(32):
        for x in range(32):
            tiles[pixel_offset(3, x, y)] = 5 if (3 * x + y) % 5 == 0 else 1
            for shape in WATER_SHAPES:
                tiles[pixel_offset(shape, x, y)] = rng.choice((0, 2, 3, 4, 6, 7))
            for shape in range(112, 128):
                tiles[pixel_offset(shape, x, y)] = rng.choice((0, 0, 0, 2, 4, 7))
    return bytes(tiles), npc


@functools.lru_cache(maxsize=None)
def fixture():
    tiles_half, npc_half = picture()
    tiles, npc = encode_planar(tiles_half, 3), encode_planar(npc_half, 4)
    disk = shape_disk(tiles, npc, extra=[("README.TXT", b"not a shape file\n" * 40)])
    work = Path(tempfile.mkdtemp(prefix="kz-extractor-"))
    atexit.register(shutil.rmtree, work, True)
    images = {}
    for build in BUILDS:
        images[build] = work / f"disk.{build.image_format}"
        images[build].write_bytes(build.wrap(disk))
    return SimpleNamespace(tiles_half=tiles_half, npc_half=npc_half, tiles=tiles, npc=npc, disk=disk,
                           images=images)


class ExtractorCase(KzTestCase):
    def setUp(self):
        self.f = fixture()

    def place(self, directory, build, data=None, name=None):
        """Puts an image file (the fixture's, or the given disk bytes) into a directory."""
        path = directory / (name or f"disk.{build.image_format}")
        path.write_bytes(build.wrap(data) if data is not None else self.f.images[build].read_bytes())
        return path

    def extract(self, build, *args, cwd, stdin=b"", status=0, stdout="", file_size_limit=None):
        return self.run_tool(build.extractor, *args, cwd=cwd, stdin=stdin, status=status, stdout=stdout,
                             file_size_limit=file_size_limit)

    def sheet_pixels(self, path):
        size, mode, pixels = indices(path)
        self.assertEqual((size, mode), ((512, 1024), "P"), path)
        return pixels

    def mask_pixels(self, path):
        size, mode, pixels = indices(path)
        self.assertEqual((size, mode), ((512, 1024), "1"), path)
        return pixels


class CommandLineTest(ExtractorCase):
    def test_usage_text_is_exact_and_ends_with_failure(self):
        for build in BUILDS:
            for args in (["--help"], ["out.bmp", "--dungeon", "--help"], ["--help", "--bogus"]):
                with self.subTest(build=str(build), args=args):
                    cwd = self.scratch()
                    self.place(cwd, build, name=build.default_image)
                    before = snapshot(cwd)
                    self.extract(build, *args, cwd=cwd, status=1, stdout=usage(build))
                    self.assertTreeUnchanged(before, cwd, "after --help")

    def test_argument_errors_stop_before_any_file_is_touched(self):
        cases = [
            ([], "no output bitmap file\n"),
            (["--dungeon", "--mirror-room", "--no-remake-water"], "no output bitmap file\n"),
            (["a.bmp", "b.bmp", "c.bmp"], "unneeded parameter 'c.bmp'\n\n"),
            (["a.bmp", "b.bmp", "c.bmp", "--help"], "unneeded parameter 'c.bmp'\n\n"),
            (["--disk"], "no disk image (varnholm disk)\n"),
            (["out.bmp", "--disk"], "no disk image (varnholm disk)\n"),
            (["-"], "unknown option '-'\n"),
            (["out.bmp", "-x"], "unknown option '-x'\n"),
            (["--HELP"], "unknown option '--HELP'\n"),
            (["--Dungeon", "out.bmp"], "unknown option '--Dungeon'\n"),
            (["--bogus", "--help"], "unknown option '--bogus'\n"),
            (["--no-remake-water=1", "out.bmp"], "unknown option '--no-remake-water=1'\n"),
            (["-out.bmp"], "unknown option '-out.bmp'\n"),
        ]
        for build in BUILDS:
            for args, message in cases:
                with self.subTest(build=str(build), args=args):
                    cwd = self.scratch()
                    self.place(cwd, build, name=build.default_image)
                    before = snapshot(cwd)
                    self.extract(build, *args, cwd=cwd, status=1, stdout=message)
                    self.assertTreeUnchanged(before, cwd)

    def test_disk_option_takes_the_next_argument_even_when_it_looks_like_an_option(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                self.place(cwd, build, name=build.default_image)
                self.extract(build, "--disk", "--dungeon", "out.bmp", cwd=cwd, status=1,
                             stdout="open error '--dungeon'\nread disk image error '--dungeon'\n")
                self.assertFalse((cwd / "out.bmp").exists())
                # A later --disk replaces an earlier one.
                self.extract(build, "--disk", "missing.img", "--disk", "disk.img", "out.bmp", cwd=cwd,
                             status=1, stdout="open error 'disk.img'\nread disk image error 'disk.img'\n")
                self.place(cwd, build, name="disk.img")
                self.extract(build, "--disk", "missing.img", "--disk", "disk.img", "out.bmp", cwd=cwd)
                self.assertTrue((cwd / "out.bmp").exists())

    def test_default_image_is_read_from_the_working_directory(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                self.extract(build, "out.bmp", cwd=cwd, status=1,
                             stdout=f"open error '{build.default_image}'\n"
                                    f"read disk image error '{build.default_image}'\n")
                self.assertEqual(snapshot(cwd), {})
                self.place(cwd, build, name=build.default_image)
                self.extract(build, "--no-remake-water", "out.bmp", cwd=cwd)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                                       self.f.tiles_half + self.f.npc_half, SHEET_W)

    def test_missing_image_is_named(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                self.extract(build, "--disk", "nothere/disk.img", "out.bmp", cwd=cwd, status=1,
                             stdout="open error 'nothere/disk.img'\n"
                                    "read disk image error 'nothere/disk.img'\n")
                self.assertEqual(snapshot(cwd), {})


class DiskReadingTest(ExtractorCase):
    def test_missing_shape_file_is_named_with_the_image(self):
        cases = [
            ("TILES.CH", [("copy", "NPC.CH", self.f.npc)]),
            ("NPC.CH", [("copy", "TILES.CH", self.f.tiles)]),
            ("TILES.CH", [("copy", "TILES.C", self.f.tiles), ("copy", "NPC.CH", self.f.npc)]),
            ("TILES.CH", [("copy", "TILESX.CH", self.f.tiles), ("copy", "NPC.CH", self.f.npc)]),
        ]
        for missing, steps in cases:
            disk = build_disk(steps)
            for build in BUILDS:
                with self.subTest(build=str(build), files=[s[1] for s in steps]):
                    cwd = self.scratch()
                    self.place(cwd, build, disk)
                    image = f"disk.{build.image_format}"
                    self.extract(build, "--disk", image, "out.bmp", cwd=cwd, status=1,
                                 stdout=f"can't find '{missing}'\nread disk image error '{image}/{missing}'\n")
                    self.assertFalse((cwd / "out.bmp").exists())

    def test_names_are_found_in_any_letter_case(self):
        disk = bytearray(self.f.disk)
        rename_entry(disk, "TILES.CH", b"tiles   ch ")
        rename_entry(disk, "NPC.CH", b"nPc     Ch ")
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                self.place(cwd, build, disk)
                self.extract(build, "--disk", f"disk.{build.image_format}", "--no-remake-water",
                             "out.bmp", cwd=cwd)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                                       self.f.tiles_half + self.f.npc_half, SHEET_W)

    def test_first_of_two_entries_with_the_same_name_is_used(self):
        # The first entry is renamed to a second TILES.CH that holds NPC data.
        disk = bytearray(build_disk([("copy", "FIRST.CH", self.f.npc[:98304]),
                                     ("copy", "TILES.CH", self.f.tiles), ("copy", "NPC.CH", self.f.npc)]))
        rename_entry(disk, "FIRST.CH", b"TILES   CH ")
        cwd = self.scratch()
        self.place(cwd, X68K, disk)
        self.extract(X68K, "--disk", "disk.xdf", "--no-remake-water", "out.bmp", cwd=cwd)
        self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp")[:HALF],
                               decode_planar(self.f.npc[:98304], 3), SHEET_W)

    def test_longer_shape_file_is_used_in_its_first_bytes(self):
        disk = shape_disk(self.f.tiles + random.Random(5).randbytes(1000), self.f.npc + b"\xff" * 24)
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                image = self.place(cwd, build, disk).name
                self.extract(build, "--disk", image, "--no-remake-water", "out.bmp", cwd=cwd,
                             stdout="file size mismatch 'TILES.CH' 99304 != 98304 ... ignored\n"
                                    "file size mismatch 'NPC.CH' 131096 != 131072 ... ignored\n")
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                                       self.f.tiles_half + self.f.npc_half, SHEET_W)

    def test_short_shape_file_is_refused(self):
        cases = [
            (self.f.tiles[:-1], self.f.npc, "file size error 'TILES.CH' 98303 < 98304\n", "TILES.CH"),
            (self.f.tiles, self.f.npc[:-1024], "file size error 'NPC.CH' 130048 < 131072\n", "NPC.CH"),
            (b"", self.f.npc, "file size error 'TILES.CH' 0 < 98304\n", "TILES.CH"),
        ]
        for tiles, npc, message, name in cases:
            disk = shape_disk(tiles, npc)
            for build in BUILDS:
                with self.subTest(build=str(build), file=name, size=len(tiles) + len(npc)):
                    cwd = self.scratch()
                    image = self.place(cwd, build, disk).name
                    self.extract(build, "--disk", image, "out.bmp", cwd=cwd, status=1,
                                 stdout=message + f"read disk image error '{image}/{name}'\n")
                    self.assertFalse((cwd / "out.bmp").exists())

    def test_directory_sizes_are_taken_as_signed_numbers(self):
        cases = [
            ("TILES.CH", 0xFFFFFFFF, 1, "file size error 'TILES.CH' -1 < 98304\n"
                                        "read disk image error 'disk.xdf/TILES.CH'\n"),
            ("NPC.CH", 0x80000000, 1, "file size error 'NPC.CH' -2147483648 < 131072\n"
                                      "read disk image error 'disk.xdf/NPC.CH'\n"),
            ("NPC.CH", 0x7FFFFFFF, 0, "file size mismatch 'NPC.CH' 2147483647 != 131072 ... ignored\n"),
        ]
        for name, size, status, message in cases:
            with self.subTest(file=name, size=size):
                disk = bytearray(self.f.disk)
                set_entry_size(disk, name, size)
                cwd = self.scratch()
                self.place(cwd, X68K, disk)
                self.extract(X68K, "--disk", "disk.xdf", "out.bmp", cwd=cwd, status=status, stdout=message)

    def test_truncated_image_is_refused_without_reading_past_its_end(self):
        npc_middle = file_clusters(bytearray(self.f.disk), "NPC.CH")[60]
        for build in BUILDS:
            full = build.wrap(self.f.disk)
            needed = build.offset + ROOT_END
            short = "disk image too short 'cut.img' {} < %d\nread disk image error 'cut.img'\n" % needed
            cases = [
                ("inside the FAT", build.offset + 2000, short),
                ("inside the root directory", build.offset + 8000, short),
                ("one byte before the first cluster", needed - 1, short),
                ("at the first cluster", needed,
                 "fat error 'TILES.CH'\nread disk image error 'cut.img/TILES.CH'\n"),
                ("inside TILES.CH", needed + 50 * UNIT + 100,
                 "fat error 'TILES.CH'\nread disk image error 'cut.img/TILES.CH'\n"),
                ("inside NPC.CH", build.offset + (npc_middle + 9) * UNIT + 512,
                 "fat error 'NPC.CH'\nread disk image error 'cut.img/NPC.CH'\n"),
            ]
            if build.offset:
                cases.append(("inside the FDI header", 2000, short))
            for what, length, message in cases:
                with self.subTest(build=str(build), cut=what):
                    cwd = self.scratch()
                    (cwd / "cut.img").write_bytes(full[:length])
                    self.extract(build, "--disk", "cut.img", "out.bmp", cwd=cwd, status=1,
                                 stdout=message.format(length))
                    self.assertFalse((cwd / "out.bmp").exists())

    def test_empty_image_is_refused(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                (cwd / "empty.img").write_bytes(b"")
                self.extract(build, "--disk", "empty.img", "out.bmp", cwd=cwd, status=1,
                             stdout="read error 'empty.img'\nread disk image error 'empty.img'\n")
                self.assertFalse((cwd / "out.bmp").exists())

    def test_oversized_image_is_refused_before_it_is_loaded(self):
        cwd = self.scratch()
        with open(cwd / "big.img", "wb") as big:
            big.truncate(3 << 30)  # sparse: takes no room on the disk
        (cwd / "adir").mkdir()
        for build in BUILDS:
            with self.subTest(build=str(build)):
                run = self.extract(build, "--disk", "big.img", "out.bmp", cwd=cwd, status=1,
                                   stdout="disk image too large 'big.img'\nread disk image error 'big.img'\n")
                self.assertLess(run.max_rss_kb, 100 * 1024, "the image was loaded")
                run = self.extract(build, "--disk", "adir", "out.bmp", cwd=cwd, status=1, stdout=None)
                self.assertTrue(run.stdout.decode().endswith("read disk image error 'adir'\n"), run.stdout)
        self.assertEqual(sorted(os.listdir(cwd)), ["adir", "big.img"])

    def test_broken_cluster_chain_is_reported(self):
        base = bytearray(self.f.disk)
        tiles_chain = file_clusters(base, "TILES.CH")
        npc_chain = file_clusters(base, "NPC.CH")
        tiles_entry = find_entry(base, "TILES.CH")

        def fat(n, value):
            return lambda d: fat_set(d, n, value)

        def first_cluster(value):
            return lambda d: d.__setitem__(slice(tiles_entry + 26, tiles_entry + 28), value.to_bytes(2, "little"))

        cases = [
            ("free cluster in the chain", fat(tiles_chain[10], 0), "TILES.CH"),
            ("reserved cluster in the chain", fat(tiles_chain[10], 1), "TILES.CH"),
            ("chain ends one cluster early", fat(npc_chain[-2], 0xFFF), "NPC.CH"),
            ("bad cluster mark", fat(npc_chain[0], 0xFF7), "NPC.CH"),
            ("cluster beyond the disk", fat(tiles_chain[0], 1500), "TILES.CH"),
            ("first cluster 0", first_cluster(0), "TILES.CH"),
            ("first cluster 1", first_cluster(1), "TILES.CH"),
            ("first cluster past the image end", first_cluster(1223), "TILES.CH"),
            ("first cluster past the FAT", first_cluster(0xFFFF), "TILES.CH"),
        ]
        for what, mutate, name in cases:
            disk = bytearray(base)
            mutate(disk)
            for build in BUILDS:
                with self.subTest(build=str(build), fault=what):
                    cwd = self.scratch()
                    image = self.place(cwd, build, disk).name
                    self.extract(build, "--disk", image, "out.bmp", cwd=cwd, status=1,
                                 stdout=f"fat error '{name}'\nread disk image error '{image}/{name}'\n")
                    self.assertFalse((cwd / "out.bmp").exists())

    def test_last_cluster_of_the_disk_is_readable(self):
        # 1222 is the highest cluster whose bytes lie inside a 1232-unit disk.
        disk = bytearray(self.f.disk)
        chain = file_clusters(disk, "NPC.CH")
        last = chain[-1]
        disk[ROOT_END + (1222 - 2) * UNIT:ROOT_END + (1223 - 2) * UNIT] = \
            disk[ROOT_END + (last - 2) * UNIT:ROOT_END + (last - 1) * UNIT]
        fat_set(disk, chain[-2], 1222)
        cwd = self.scratch()
        self.place(cwd, X68K, disk)
        self.extract(X68K, "--disk", "disk.xdf", "--no-remake-water", "out.bmp", cwd=cwd)
        self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"), self.f.tiles_half + self.f.npc_half,
                               SHEET_W)

    def test_looping_chain_ends_when_enough_bytes_are_read(self):
        # NPC.CH's fourth cluster leads back to its first: the read takes the
        # first four clusters over and over and still ends.
        disk = bytearray(self.f.disk)
        chain = file_clusters(disk, "NPC.CH")
        fat_set(disk, chain[3], chain[0])
        looped = (self.f.npc[:4 * UNIT] * 32)[:len(self.f.npc)]
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                image = self.place(cwd, build, disk).name
                self.extract(build, "--disk", image, "--no-remake-water", "out.bmp", cwd=cwd)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                                       self.f.tiles_half + decode_planar(looped, 4), SHEET_W)

    def test_fragmented_file_reads_like_a_contiguous_one(self):
        disk = fragmented_disk(self.f.tiles, self.f.npc)
        chain = file_clusters(bytearray(disk), "NPC.CH")
        self.assertNotEqual(chain, list(range(chain[0], chain[0] + len(chain))), "fixture not fragmented")
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                image = self.place(cwd, build, disk).name
                self.extract(build, "--disk", image, "--no-remake-water", "out.bmp", "mask.bmp", cwd=cwd)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"),
                                       self.f.tiles_half + self.f.npc_half, SHEET_W)

    def test_disk_data_is_found_at_the_build_offset_only(self):
        # The image kind is never guessed: an XDF given to the PC-98 build is
        # read 4096 bytes too far on, where no directory holds TILES.CH.
        cwd = self.scratch()
        (cwd / "disk.xdf").write_bytes(X68K.wrap(self.f.disk))
        self.extract(PC98, "--disk", "disk.xdf", "out.bmp", cwd=cwd, status=1,
                     stdout="can't find 'TILES.CH'\nread disk image error 'disk.xdf/TILES.CH'\n")

    def test_image_file_is_never_written(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                image = self.place(cwd, build).name
                original = (cwd / image).read_bytes()
                self.extract(build, "--disk", image, "out.bmp", "mask.bmp", cwd=cwd)
                self.extract(build, "--disk", image, "--dungeon", "--mirror-room", "out2.bmp", cwd=cwd)
                self.extract(build, "--disk", image, image, cwd=cwd, stdin=b"n", status=1,
                             stdout=f"already exists '{image}'\noverwrite ? (Y or N): "
                                    f"write bitmap file error '{image}'\n")
                self.extract(build, "--disk", image, "out3.bmp", image, cwd=cwd, stdin=b"n", status=1,
                             stdout=f"already exists '{image}'\noverwrite ? (Y or N): "
                                    f"write bitmap file error '{image}'\n")
                self.assertEqual((cwd / image).read_bytes(), original)


class SheetContentTest(ExtractorCase):
    def test_bitmaps_have_the_documented_headers_palettes_and_sizes(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                self.place(cwd, build, name=build.default_image)
                self.extract(build, "out.bmp", cwd=cwd)
                self.assertEqual(sorted(os.listdir(cwd)), sorted([build.default_image, "out.bmp"]))
                self.extract(build, "out2.bmp", "mask.bmp", cwd=cwd)
                sheet = (cwd / "out.bmp").read_bytes()
                mask = (cwd / "mask.bmp").read_bytes()
                self.assertEqual(len(sheet), SHEET_FILE_SIZE)
                self.assertEqual(len(mask), MASK_FILE_SIZE)
                self.assertEqual(sheet[:54], expected_bmp_header(512, 1024, 4))
                self.assertEqual(mask[:54], expected_bmp_header(512, 1024, 1))
                self.assertEqual(sheet[54:118], SHAPE_PALETTE)
                self.assertEqual(mask[54:62], MASK_PALETTE)
                self.assertEqual(identify(cwd / "out.bmp"), "4 512 1024")
                self.assertEqual(identify(cwd / "mask.bmp"), "1 512 1024")
                self.assertEqual((cwd / "out2.bmp").read_bytes(), sheet)

    def test_planar_bits_land_on_the_documented_pixels(self):
        # Single bits set by hand, each of which has one place on the sheet.
        tiles, npc = bytearray(98304), bytearray(131072)
        tiles[0] = 0x80                       # shape 0, plane 0, line 0: pixel (0, 0) blue
        tiles[3] = 0x01                       # the line's fourth byte ends at pixel (31, 0)
        tiles[17 * 384 + 128] = 0x80          # shape 17, plane 1: pixel (32, 32) red
        tiles[17 * 384 + 256 + 4 * 5 + 1] = 0x20  # shape 17, plane 2, line 5: pixel (42, 37) green
        tiles[98303] = 0x01                   # shape 255, plane 2, line 31: pixel (511, 511)
        npc[0] = 0x40                         # NPC shape 0, plane 0: pixel (1, 512)
        npc[17 * 512 + 384 + 31 * 4 + 3] = 0x01  # NPC shape 17, plane 3, line 31: pixel (63, 575)
        npc[17 * 512 + 384 + 31 * 4 + 2] = 0x80  # the same shape and line: pixel (48, 575)
        npc[17 * 512 + 31 * 4 + 2] = 0x80
        expected = bytearray(512 * 1024)
        for (x, y), value in {(0, 0): 1, (31, 0): 1, (32, 32): 2, (42, 37): 4, (511, 511): 4,
                              (1, 512): 1, (63, 575): 8, (48, 575): 9}.items():
            expected[y * 512 + x] = value
        disk = shape_disk(bytes(tiles), bytes(npc))
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                image = self.place(cwd, build, disk).name
                self.extract(build, "--disk", image, "out.bmp", "mask.bmp", cwd=cwd)
                self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"), bytes(expected), SHEET_W)
                self.assertPixelsEqual(self.mask_pixels(cwd / "mask.bmp"), mask_of(expected), SHEET_W)

    def test_sheet_and_mask_follow_the_options_in_both_builds(self):
        option_sets = [
            [],
            ["--no-remake-water"],
            ["--dungeon"],
            ["--dungeon", "--no-remake-water"],
            ["--mirror-room"],
            ["--mirror-room", "--no-remake-water"],
            ["--dungeon", "--mirror-room"],
            ["--dungeon", "--dungeon", "--mirror-room", "--no-remake-water", "--mirror-room"],
        ]
        for options in option_sets:
            expected = expected_sheet(self.f.tiles_half, self.f.npc_half, dungeon="--dungeon" in options,
                                      remake="--no-remake-water" not in options,
                                      mirror="--mirror-room" in options)
            outputs = {}
            for build in BUILDS:
                with self.subTest(options=options, build=str(build)):
                    cwd = self.scratch()
                    image = self.place(cwd, build).name
                    # Options and file names may come in any order.
                    self.extract(build, "out.bmp", *options, "--disk", image, "mask.bmp", cwd=cwd)
                    self.assertPixelsEqual(self.sheet_pixels(cwd / "out.bmp"), expected, SHEET_W)
                    self.assertPixelsEqual(self.mask_pixels(cwd / "mask.bmp"),
                                           mask_of(self.f.tiles_half + self.f.npc_half), SHEET_W,
                                           "(the mask shows the fourth plane, whatever the options)")
                    outputs[build] = ((cwd / "out.bmp").read_bytes(), (cwd / "mask.bmp").read_bytes())
            if len(outputs) == 2:
                with self.subTest(options=options):
                    self.assertTrue(outputs[PC98] == outputs[X68K], "the two builds' bitmaps differ")

    def run_sheet(self, *options):
        cwd = self.scratch()
        image = self.place(cwd, X68K).name
        self.extract(X68K, "--disk", image, *options, "out.bmp", cwd=cwd)
        return self.sheet_pixels(cwd / "out.bmp")

    def test_water_takes_shape_3_inside_triangles_and_reference_shapes(self):
        remade = self.run_sheet()
        kept = self.run_sheet("--no-remake-water")
        decoded = self.f.tiles_half

        def at(sheet, shape, x, y):
            return sheet[pixel_offset(shape, x, y)]

        def water(x, y):
            return at(decoded, 3, x, y)

        # (shape, pixel, takes water)
        cases = [
            (52, (0, 0), True), (52, (31, 0), True), (52, (0, 31), True), (52, (31, 1), False),
            (53, (5, 5), True), (53, (4, 5), False), (53, (31, 0), True),
            (54, (31, 31), True), (54, (0, 30), False), (54, (31, 0), True),
            (55, (5, 5), True), (55, (5, 4), False), (55, (0, 31), True),
            (228, (31, 0), True), (228, (0, 31), True), (228, (30, 0), False),
            (229, (0, 31), True), (229, (1, 0), False),
            (230, (0, 0), True), (230, (31, 1), False),
            (231, (31, 0), True), (231, (0, 1), False),
        ]
        for shape, (x, y), takes in cases:
            with self.subTest(shape=shape, x=x, y=y):
                self.assertEqual(at(kept, shape, x, y), at(decoded, shape, x, y), "--no-remake-water")
                self.assertEqual(at(remade, shape, x, y), water(x, y) if takes else at(decoded, shape, x, y))
        for shape in range(96, 112):
            with self.subTest(shape=shape):
                for y in range(32):
                    for x in range(32):
                        takes = at(decoded, shape + 16, x, y) != 0
                        self.assertEqual(at(remade, shape, x, y),
                                         water(x, y) if takes else at(decoded, shape, x, y), (x, y))
        # Everything outside the water shapes stays as decoded, NPC.CH included.
        outside = bytearray(remade)
        for shape in WATER_SHAPES:
            for y in range(32):
                start = pixel_offset(shape, 0, y)
                outside[start:start + 32] = kept[start:start + 32]
        self.assertPixelsEqual(bytes(outside), kept, SHEET_W, "outside the water shapes")

    def test_dungeon_exchanges_red_and_green_in_grass_shapes_only(self):
        plain = self.run_sheet("--no-remake-water")
        dungeon = self.run_sheet("--no-remake-water", "--dungeon")
        swap = {0: 0, 1: 1, 2: 4, 3: 5, 4: 2, 5: 3, 6: 6, 7: 7}
        grass = {5, 30, 31, *range(32, 39), *range(48, 56), 76, *range(96, 112)}
        for shape in range(256):
            with self.subTest(shape=shape):
                for y in range(32):
                    start = pixel_offset(shape, 0, y)
                    line = plain[start:start + 32]
                    want = bytes(swap[v] for v in line) if shape in grass else line
                    self.assertEqual(dungeon[start:start + 32], want, f"line {y}")
        self.assertEqual(dungeon[HALF:], plain[HALF:], "NPC.CH shapes")

    def test_mirror_room_recolours_every_pixel_after_the_water(self):
        remade = self.run_sheet()
        mirrored = self.run_sheet("--mirror-room")
        table = [0, 5, 4, 4, 2, 1, 2, 7, 8, 13, 12, 12, 10, 9, 10, 15]
        self.assertPixelsEqual(mirrored, bytes(table[v] for v in remade), SHEET_W)

    def test_sheet_reads_the_same_in_netpbm(self):
        cwd = self.scratch()
        image = self.place(cwd, PC98).name
        self.extract(PC98, "--disk", image, "--mirror-room", "out.bmp", "mask.bmp", cwd=cwd)
        expected = expected_sheet(self.f.tiles_half, self.f.npc_half, mirror=True)
        width, height, rgb = netpbm_rgb(cwd / "out.bmp")
        self.assertEqual((width, height), (512, 1024))
        self.assertTrue(rgb == rgb_of(expected, SHAPE_PALETTE), "sheet colours as netpbm reads them")
        width, height, rgb = netpbm_rgb(cwd / "mask.bmp")
        self.assertEqual((width, height), (512, 1024))
        self.assertTrue(rgb == rgb_of(mask_of(expected), MASK_PALETTE), "mask as netpbm reads it")


class OutputFileTest(ExtractorCase):
    OLD = b"an older file that must survive\n"

    def prepared(self, build=X68K):
        cwd = self.scratch()
        self.place(cwd, build, name=build.default_image)
        return cwd

    def test_declined_overwrite_leaves_the_old_file(self):
        # Anything but Y or y before an N, n or the end of input means no.
        for stdin in (b"n", b"N\n", b"", b"\n\n", b"abc\nno\n", b"nyyy\n", b"q"):
            with self.subTest(stdin=stdin):
                cwd = self.prepared()
                (cwd / "out.bmp").write_bytes(self.OLD)
                before = snapshot(cwd)
                self.extract(X68K, "out.bmp", cwd=cwd, stdin=stdin, status=1,
                             stdout="already exists 'out.bmp'\noverwrite ? (Y or N): "
                                    "write bitmap file error 'out.bmp'\n")
                self.assertTreeUnchanged(before, cwd)

    def test_confirmed_overwrite_replaces_the_file(self):
        for stdin in (b"y", b"Y\n", b"xyz\ny\n", b"abc\r\ny\n", b"\r\nYes\n"):
            with self.subTest(stdin=stdin):
                cwd = self.prepared()
                (cwd / "out.bmp").write_bytes(self.OLD)
                (cwd / "out.bmp").chmod(0o640)
                self.extract(X68K, "out.bmp", cwd=cwd, stdin=stdin,
                             stdout="already exists 'out.bmp'\noverwrite ? (Y or N): ")
                self.assertEqual(len((cwd / "out.bmp").read_bytes()), SHEET_FILE_SIZE)
                self.assertEqual((cwd / "out.bmp").stat().st_mode & 0o777, 0o640, "permissions kept")
                self.assertEqual(sorted(os.listdir(cwd)), sorted([X68K.default_image, "out.bmp"]))

    def test_question_is_asked_for_each_existing_bitmap(self):
        cwd = self.prepared()
        (cwd / "out.bmp").write_bytes(self.OLD)
        (cwd / "mask.bmp").write_bytes(self.OLD)
        # One character decides each question; what follows it waits for the next.
        self.extract(X68K, "out.bmp", "mask.bmp", cwd=cwd, stdin=b"yy",
                     stdout="already exists 'out.bmp'\noverwrite ? (Y or N): "
                            "already exists 'mask.bmp'\noverwrite ? (Y or N): ")
        self.assertEqual(len((cwd / "mask.bmp").read_bytes()), MASK_FILE_SIZE)

    def test_declined_mask_keeps_the_written_sheet(self):
        cwd = self.prepared()
        (cwd / "mask.bmp").write_bytes(self.OLD)
        self.extract(X68K, "out.bmp", "mask.bmp", cwd=cwd, stdin=b"n\n", status=1,
                     stdout="already exists 'mask.bmp'\noverwrite ? (Y or N): "
                            "write bitmap file error 'mask.bmp'\n")
        self.assertEqual(len((cwd / "out.bmp").read_bytes()), SHEET_FILE_SIZE)
        self.assertEqual((cwd / "mask.bmp").read_bytes(), self.OLD)

    def test_same_path_for_both_bitmaps_asks_about_that_file(self):
        cwd = self.prepared()
        self.extract(X68K, "both.bmp", "both.bmp", cwd=cwd, stdin=b"y",
                     stdout="already exists 'both.bmp'\noverwrite ? (Y or N): ")
        self.assertEqual(identify(cwd / "both.bmp"), "1 512 1024")
        self.assertEqual(len((cwd / "both.bmp").read_bytes()), MASK_FILE_SIZE)

        cwd = self.prepared()
        self.extract(X68K, "both.bmp", "both.bmp", cwd=cwd, stdin=b"n", status=1,
                     stdout="already exists 'both.bmp'\noverwrite ? (Y or N): "
                            "write bitmap file error 'both.bmp'\n")
        self.assertEqual(len((cwd / "both.bmp").read_bytes()), SHEET_FILE_SIZE)

    def test_full_device_is_reported_as_a_write_error(self):
        self.full_device()
        for args, written in ((["/dev/full"], None), (["out.bmp", "/dev/full"], "out.bmp")):
            with self.subTest(args=args):
                cwd = self.prepared()
                run = self.extract(X68K, *args, cwd=cwd, stdin=b"y", status=1, stdout=None)
                out = run.stdout.decode()
                prompt = "already exists '/dev/full'\noverwrite ? (Y or N): "
                tail = "write error '/dev/full'\nwrite bitmap file error '/dev/full'\n"
                self.assertIn(out, (prompt + tail,
                                    prompt + "error: write_bitmap() - can't write bitmap data\n" + tail))
                expected = sorted([X68K.default_image] + ([written] if written else []))
                self.assertEqual(sorted(os.listdir(cwd)), expected)

    def test_failed_overwrite_keeps_the_old_file(self):
        # The disk fills up (a 64 KiB file size limit) while the new sheet is
        # written over an existing one.
        cwd = self.prepared()
        (cwd / "out.bmp").write_bytes(self.OLD)
        before = snapshot(cwd)
        run = self.extract(X68K, "out.bmp", cwd=cwd, stdin=b"y", status=1, stdout=None, file_size_limit=65536)
        prompt = "already exists 'out.bmp'\noverwrite ? (Y or N): "
        tail = "write error 'out.bmp'\nwrite bitmap file error 'out.bmp'\n"
        self.assertIn(run.stdout.decode(),
                      (prompt + tail, prompt + "error: write_bitmap() - can't write bitmap data\n" + tail))
        self.assertTreeUnchanged(before, cwd, "after a failed overwrite")

    def test_unopenable_output_is_reported(self):
        cwd = self.prepared()
        (cwd / "adir").mkdir()
        before = snapshot(cwd)
        self.extract(X68K, "nodir/out.bmp", cwd=cwd, status=1,
                     stdout="open error 'nodir/out.bmp'\nwrite bitmap file error 'nodir/out.bmp'\n")
        self.extract(X68K, "adir", cwd=cwd, stdin=b"y", status=1,
                     stdout="already exists 'adir'\noverwrite ? (Y or N): "
                            "open error 'adir'\nwrite bitmap file error 'adir'\n")
        self.extract(X68K, "", cwd=cwd, status=1, stdout="open error ''\nwrite bitmap file error ''\n")
        self.extract(X68K, "out.bmp", "adir/nodir/mask.bmp", cwd=cwd, status=1,
                     stdout="open error 'adir/nodir/mask.bmp'\n"
                            "write bitmap file error 'adir/nodir/mask.bmp'\n")
        self.assertEqual(len((cwd / "out.bmp").read_bytes()), SHEET_FILE_SIZE)
        (cwd / "out.bmp").unlink()
        self.assertTreeUnchanged(before, cwd)


class SampleDiskTest(ExtractorCase):
    def test_sample_disk_extracts_to_the_same_sheets_in_both_builds(self):
        sample = sample_files()
        outputs = []
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                shutil.copy(sample / build.default_image, cwd)
                self.extract(build, "out.bmp", "mask.bmp", cwd=cwd)
                self.assertEqual(identify(cwd / "out.bmp"), "4 512 1024")
                outputs.append(((cwd / "out.bmp").read_bytes(), (cwd / "mask.bmp").read_bytes()))
        self.assertEqual(len(outputs), 2)
        self.assertTrue(outputs[0] == outputs[1], "the sample's FDI and XDF give different bitmaps")
        self.assertGreater(len(set(outputs[0][0][118:])), 1, "the sample sheet is blank")


if __name__ == "__main__":
    unittest.main()
