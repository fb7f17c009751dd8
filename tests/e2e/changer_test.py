"""kzpc98chg_shapes and kzx68kchg_shapes run as a user runs them: sheets made
by the extractor or drawn with Pillow and ImageMagick go back into disk images
made by mkfs.fat and mcopy; the results are checked with mtools and fsck.fat."""

import atexit
import functools
import os
import random
import shutil
import struct
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

from kztest import (BUILDS, COLOURS, HALF, HEADER_FORMAT, ROOT_END, SHEET_W, UNIT, X68K, KzTestCase,
                    build_disk, cluster_range, encode_planar, fat_set, file_clusters, fragmented_disk,
                    fsck, magick, mcopy_out, patch_header, pillow, pixel_offset, run_program,
                    sample_files, shape_disk, snapshot)


def usage(build):
    return ("usage: %s [options] SHAPES.BMP [MASK.BMP]\n"
            "option: --disk DISK-IMG     disk image name of Varnholm Disk\n"
            "                            read '%s' if not specified\n"
            "        --write DISK-IMG    disk image name of modified Varnholm Disk\n"
            "        --only-tiles        change landform shapes (TILES.CH) only\n"
            "        --only-npc          change npc shapes (NPC.CH) only\n"
            "        --help              print usage\n"
            "\n"
            "remove all mask if mask bitmap is not specified\n"
            "supported disk image format is *.%s only\n"
            "write modified disk image to filename.NEW.ext if not specified\n"
            % (build.changer, build.default_image, build.image_format))


def rgb_image(half_sheets):
    """A 512-wide RGB picture of colour indices (bit 3 ignored), drawn with Pillow."""
    Image = pillow()
    data = b"".join(bytes(COLOURS[v & 7]) for v in half_sheets)
    return Image.frombytes("RGB", (SHEET_W, len(half_sheets) // SHEET_W), data)


def mask_image(mask):
    Image = pillow()
    return Image.frombytes("L", (SHEET_W, len(mask) // SHEET_W), bytes(255 if m else 0 for m in mask)).convert("1")


def save_bmp3(image, path, *options):
    """Saves a Pillow picture through ImageMagick as an uncompressed BMP with the
    40-byte header (a palette file when it has few colours)."""
    source = str(path) + ".src.bmp"
    image.save(source)
    magick(source, *options, "-compress", "None", "BMP3:" + str(path))
    os.unlink(source)


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(4711)
    tiles_half = bytes(b & 7 for b in rng.randbytes(HALF))
    npc_half = bytes(b & 15 for b in rng.randbytes(HALF))
    tiles, npc = encode_planar(tiles_half, 3), encode_planar(npc_half, 4)
    readme = b"The Varnholm disk: nothing here may change.\n" * 60
    disk = shape_disk(tiles, npc, extra=[("README.TXT", readme)])
    work = Path(tempfile.mkdtemp(prefix="kz-changer-"))
    atexit.register(shutil.rmtree, work, True)
    for build in BUILDS:
        (work / f"disk.{build.image_format}").write_bytes(build.wrap(disk))

    # The editing cycle starts with the extractor's own bitmaps.
    run = run_program(X68K.extractor, ["--disk", "disk.xdf", "--no-remake-water", "sheet.bmp", "mask.bmp"],
                      work)
    if run.status != 0 or run.stdout or run.stderr:
        raise AssertionError(f"the extractor could not make the fixture sheet: {run}")

    # An edit, drawn with Pillow and saved through ImageMagick as a 4-bit BMP3.
    edited_tiles = bytearray(tiles_half)
    edited_npc = bytearray(npc_half)
    edited_mask = bytearray(1 if v >= 8 else 0 for v in npc_half)
    for i in range(32):
        edited_tiles[pixel_offset(0, i, i)] = 2
    for y in range(10, 13):
        for x in range(4, 21):
            edited_tiles[pixel_offset(200, x, y)] = 6
    for y in range(3, 20):
        for x in range(0, 9):
            edited_npc[pixel_offset(17, x, y)] = 5
            edited_mask[pixel_offset(17, x, y)] = 0
            edited_mask[pixel_offset(40, x + 20, y + 5)] = 1
    edited_npc[pixel_offset(255, 31, 31)] = 7
    save_bmp3(rgb_image(bytes(edited_tiles + edited_npc)), work / "edited.bmp", "-type", "Palette")
    mask_image(bytes(HALF) + bytes(edited_mask)).save(work / "edited_mask.bmp")
    new_tiles = encode_planar(bytes(edited_tiles), 3)
    new_npc = encode_planar(bytes((v & 7) | m << 3 for v, m in zip(edited_npc, edited_mask)), 4)
    new_npc_unmasked = encode_planar(bytes(v & 7 for v in edited_npc), 4)
    return SimpleNamespace(work=work, disk=disk, tiles=tiles, npc=npc, readme=readme, tiles_half=tiles_half,
                           npc_half=npc_half, new_tiles=new_tiles, new_npc=new_npc,
                           new_npc_unmasked=new_npc_unmasked, edited_tiles=bytes(edited_tiles))


class ChangerCase(KzTestCase):
    def setUp(self):
        self.f = fixture()

    def prepared(self, build, *files, disk=None, image=None):
        """A scratch directory with the image (the fixture's or the given disk
        bytes) and copies of fixture files."""
        cwd = self.scratch()
        image = image or f"disk.{build.image_format}"
        (cwd / image).parent.mkdir(parents=True, exist_ok=True)
        (cwd / image).write_bytes(build.wrap(disk if disk is not None else self.f.disk))
        for name in files:
            shutil.copy(self.f.work / name, cwd / name)
        return cwd

    def change(self, build, *args, cwd, stdin=b"", status=0, stdout=""):
        return self.run_tool(build.changer, *args, cwd=cwd, stdin=stdin, status=status, stdout=stdout)

    def shape_files(self, build, path):
        """TILES.CH and NPC.CH of an image file as mtools reads them."""
        return (mcopy_out(path, "TILES.CH", build.offset), mcopy_out(path, "NPC.CH", build.offset))

    def assertOnlyShapeClustersDiffer(self, build, before, after):
        """Everything outside the clusters of TILES.CH and NPC.CH is unchanged:
        FDI header, boot sector, FAT, directory, other files, free space; and
        fsck.fat finds nothing wrong."""
        self.assertEqual(len(after), len(before), "image length")
        self.assertEqual(after[:build.offset], before[:build.offset], "FDI header")
        disk = bytearray(build.unwrap(before))
        allowed = {cluster_range(n).start for name in ("TILES.CH", "NPC.CH") for n in file_clusters(disk, name)}
        outside = [start for start in range(0, len(disk), UNIT)
                   if start not in allowed and before[build.offset + start:build.offset + start + UNIT]
                   != after[build.offset + start:build.offset + start + UNIT]]
        self.assertEqual(outside, [], "disk units changed outside the shape files' clusters")
        fsck(build.unwrap(after))


class CommandLineTest(ChangerCase):
    def test_usage_text_is_exact_and_ends_with_failure(self):
        for build in BUILDS:
            for args in (["--help"], ["sheet.bmp", "--only-npc", "--help"], ["--help", "--bogus"]):
                with self.subTest(build=str(build), args=args):
                    cwd = self.prepared(build, "sheet.bmp", image=build.default_image)
                    before = snapshot(cwd)
                    self.change(build, *args, cwd=cwd, status=1, stdout=usage(build))
                    self.assertTreeUnchanged(before, cwd)

    def test_argument_errors_stop_before_any_file_is_touched(self):
        cases = [
            ([], "no shapes bitmap file\n"),
            (["--only-npc", "--only-tiles"], "no shapes bitmap file\n"),
            (["--write", "sheet.bmp"], "no shapes bitmap file\n"),
            (["a.bmp", "b.bmp", "c.bmp"], "unneeded parameter 'c.bmp'\n\n"),
            (["--disk"], "no disk image (varnholm disk)\n"),
            (["sheet.bmp", "--write"], "no disk image (output)\n"),
            (["sheet.bmp", "--disk", "x", "--write"], "no disk image (output)\n"),
            (["-"], "unknown option '-'\n"),
            (["sheet.bmp", "-w", "out.img"], "unknown option '-w'\n"),
            (["--ONLY-TILES", "sheet.bmp"], "unknown option '--ONLY-TILES'\n"),
            (["--bogus", "--help"], "unknown option '--bogus'\n"),
            (["--only-tiles=1", "sheet.bmp"], "unknown option '--only-tiles=1'\n"),
        ]
        for build in BUILDS:
            for args, message in cases:
                with self.subTest(build=str(build), args=args):
                    cwd = self.prepared(build, "sheet.bmp", image=build.default_image)
                    before = snapshot(cwd)
                    self.change(build, *args, cwd=cwd, status=1, stdout=message)
                    self.assertTreeUnchanged(before, cwd)

    def test_disk_and_write_take_the_next_argument_whatever_it_looks_like(self):
        build = X68K
        cwd = self.prepared(build, "sheet.bmp", "mask.bmp")
        self.change(build, "--disk", "--write", "sheet.bmp", cwd=cwd, status=1,
                    stdout="open error '--write'\nread disk image error '--write'\n")
        self.change(build, "--disk", "disk.xdf", "--write", "--only-npc", "sheet.bmp", "mask.bmp", cwd=cwd)
        self.assertEqual((cwd / "--only-npc").read_bytes(), (cwd / "disk.xdf").read_bytes())
        # A later --disk or --write replaces an earlier one.
        self.change(build, "--disk", "none.xdf", "--write", "a.xdf", "--disk", "disk.xdf", "--write", "b.xdf",
                    "sheet.bmp", "mask.bmp", cwd=cwd)
        self.assertEqual(sorted(os.listdir(cwd)),
                         ["--only-npc", "b.xdf", "disk.xdf", "mask.bmp", "sheet.bmp"])


class FailureTest(ChangerCase):
    """Every failure leaves every file as it was and writes no output image."""

    def check_failure(self, build, cwd, args, message, stdin=b""):
        before = snapshot(cwd)
        run = self.change(build, *args, cwd=cwd, stdin=stdin, status=1,
                          stdout=message if isinstance(message, str) else None)
        if not isinstance(message, str):
            message(run.stdout.decode())
        self.assertTreeUnchanged(before, cwd, "after a failure")

    def test_unreadable_shapes_bitmap_is_refused(self):
        sheet = (self.f.work / "sheet.bmp").read_bytes()
        bad_header = "error: read_bitmap() - can't read bitmap header\n"
        cases = [
            ("none.bmp", None, "open error 'none.bmp'\n"),
            ("text.bmp", b"this is not a bitmap\n" * 10, bad_header + "read error 'text.bmp'\n"),
            ("empty.bmp", b"", bad_header + "read error 'empty.bmp'\n"),
            ("short.bmp", sheet[:53], bad_header + "read error 'short.bmp'\n"),
            ("nopal.bmp", sheet[:80], "error: read_bitmap() - can't read palette\nread error 'nopal.bmp'\n"),
            ("cut.bmp", sheet[:100000], "error: read_bitmap() - can't read bitmap data\nread error 'cut.bmp'\n"),
            ("lastrow.bmp", sheet[:-1],
             "error: read_bitmap() - can't read bitmap data\nread error 'lastrow.bmp'\n"),
        ]
        for build in BUILDS:
            for name, content, message in cases:
                with self.subTest(build=str(build), file=name):
                    cwd = self.prepared(build)
                    # An existing output is asked about only once every input has been read.
                    (cwd / f"disk.NEW.{build.image_format}").write_bytes(b"an older image\n")
                    if content is not None:
                        (cwd / name).write_bytes(content)
                    self.check_failure(build, cwd, ["--disk", f"disk.{build.image_format}", name],
                                       message + f"read shapes file error '{name}'\n")

    def test_bitmap_of_the_wrong_size_is_refused(self):
        Image = pillow()
        with Image.open(self.f.work / "sheet.bmp") as im:
            sheet = im.convert("RGB")
        variants = {
            "w511.bmp": sheet.crop((0, 0, 511, 1024)),
            "w513.bmp": sheet.crop((0, 0, 513, 1024)),
            "h511.bmp": sheet.crop((0, 0, 512, 511)),
            "h1025.bmp": sheet.crop((0, 0, 512, 1025)),
            "w1024.bmp": sheet.resize((1024, 1024), Image.NEAREST),
        }
        for name, image in variants.items():
            save_bmp3(image, self.f.work / name, "-type", "Palette")
        cases = [
            ("w511.bmp", "bitmap size error 'w511.bmp' 511 x 1024\n"),
            ("w513.bmp", "bitmap size error 'w513.bmp' 513 x 1024\n"),
            ("h511.bmp", "bitmap size error 'h511.bmp' 512 x 511\n"),
            ("h1025.bmp", "bitmap size error 'h1025.bmp' 512 x 1025\n"),
            ("w1024.bmp", "bitmap size error 'w1024.bmp' 1024 x 1024\n"),
        ]
        for build in BUILDS:
            for name, message in cases:
                with self.subTest(build=str(build), file=name):
                    cwd = self.prepared(build, name, "mask.bmp")
                    self.check_failure(build, cwd, ["--disk", f"disk.{build.image_format}", name],
                                       message + f"read shapes file error '{name}'\n")
                    self.check_failure(build, cwd, ["--disk", f"disk.{build.image_format}", "mask.bmp", name],
                                       message + f"read mask file error '{name}'\n")

    def test_crafted_header_sizes_fail_without_taking_the_memory_they_claim(self):
        # Headers whose fields agree with each other but promise pictures of
        # hundreds of megabytes to gigabytes, in files of a few hundred bytes.
        def crafted(width, height, bits):
            row = {1: (width + 7) // 8, 8: width, 24: width * 3, 32: width * 4}[bits]
            row = (row + 3) & ~3
            offset = 54 + (4 << bits if bits <= 8 else 0)
            size = (offset + row * height) & 0xFFFFFFFF
            return (struct.pack(HEADER_FORMAT, b"BM", size, 0, 0, offset, 40, width, height, 1, bits, 0,
                                (row * height) & 0xFFFFFFFF, 0, 0, 0, 0) + bytes(offset - 54) + bytes(300))
        cases = {
            "w30000.bmp": crafted(30000, 30000, 24),
            "w20000.bmp": crafted(20000, 20000, 32),
            "h1000000.bmp": crafted(512, 1000000, 8),
            "h2G.bmp": crafted(512, 0x7FFFFFFF, 1),
            "w4G.bmp": crafted(0xFFFFFFFF, 1, 1),
        }
        for name, content in cases.items():
            with self.subTest(file=name):
                cwd = self.prepared(X68K, "mask.bmp")
                (cwd / name).write_bytes(content)
                before = snapshot(cwd)
                for args in ([name], ["mask.bmp", name]):
                    run = self.change(X68K, "--disk", "disk.xdf", *args, cwd=cwd, status=1, stdout=None)
                    which = "shapes" if args[0] == name else "mask"
                    self.assertTrue(run.stdout.decode().endswith(
                        f"read error '{name}'\nread {which} file error '{name}'\n"), run.stdout)
                    self.assertLess(run.max_rss_kb, 100 * 1024, "memory taken for a picture that is not there")
                self.assertTreeUnchanged(before, cwd)

    def test_top_down_bitmap_is_refused(self):
        cwd = self.prepared(X68K, "sheet.bmp")
        shutil.copy(cwd / "sheet.bmp", cwd / "topdown.bmp")
        patch_header(cwd / "topdown.bmp", height=-1024)

        # Rows stored top down: the height is negative, so the data length the
        # header check expects cannot match.
        self.check_failure(X68K, cwd, ["--disk", "disk.xdf", "topdown.bmp"],
                           "error: check_bitmap_header() - data length 0x40000 != 0xFFFC0000\n"
                           "error: read_bitmap() - can't read bitmap header\n"
                           "read error 'topdown.bmp'\nread shapes file error 'topdown.bmp'\n")

    def test_too_few_shape_rows_for_the_files_to_change_are_refused(self):
        Image = pillow()
        with Image.open(self.f.work / "sheet.bmp") as im:
            sheet = im.convert("RGB")
        save_bmp3(sheet.crop((0, 0, 512, 512)), self.f.work / "half.bmp", "-type", "Palette")
        save_bmp3(sheet.crop((0, 0, 512, 1023)), self.f.work / "h1023.bmp", "-type", "Palette")
        for build in BUILDS:
            image = f"disk.{build.image_format}"
            cases = [
                (["half.bmp"], "shapes bitmap size error 'half.bmp'\n"),
                (["--only-npc", "half.bmp"], "shapes bitmap size error 'half.bmp'\n"),
                (["--only-tiles", "--only-npc", "half.bmp"], "shapes bitmap size error 'half.bmp'\n"),
                (["h1023.bmp"], "shapes bitmap size error 'h1023.bmp'\n"),
                (["--only-tiles", "half.bmp", "mask.bmp"], "shapes and mask size mismatch\n"),
            ]
            for args, message in cases:
                with self.subTest(build=str(build), args=args):
                    cwd = self.prepared(build, "half.bmp", "h1023.bmp", "mask.bmp")
                    self.check_failure(build, cwd, ["--disk", image, *args], message)

    def test_unusable_mask_is_refused(self):
        Image = pillow()
        with Image.open(self.f.work / "mask.bmp") as im:
            mask = im.convert("RGB")
        for name, box in (("m1000.bmp", (0, 0, 512, 1000)), ("m1023.bmp", (0, 0, 512, 1023)),
                          ("m513.bmp", (0, 0, 513, 1024)), ("m512.bmp", (0, 0, 512, 512))):
            save_bmp3(mask.crop(box), self.f.work / name, "-type", "Palette")
        for build in BUILDS:
            image = f"disk.{build.image_format}"
            cases = [
                (["sheet.bmp", "none.bmp"], "open error 'none.bmp'\nread mask file error 'none.bmp'\n"),
                (["sheet.bmp", "sheet.bmp.txt"],
                 "error: read_bitmap() - can't read bitmap header\nread error 'sheet.bmp.txt'\n"
                 "read mask file error 'sheet.bmp.txt'\n"),
                (["sheet.bmp", "m1000.bmp"], "shapes and mask size mismatch\n"),
                (["sheet.bmp", "m1023.bmp"], "shapes and mask size mismatch\n"),
                (["sheet.bmp", "m512.bmp"], "shapes and mask size mismatch\n"),
                (["sheet.bmp", "m513.bmp"],
                 "bitmap size error 'm513.bmp' 513 x 1024\nread mask file error 'm513.bmp'\n"),
            ]
            for args, message in cases:
                with self.subTest(build=str(build), args=args):
                    cwd = self.prepared(build, "sheet.bmp", "m1000.bmp", "m1023.bmp", "m513.bmp", "m512.bmp")
                    (cwd / "sheet.bmp.txt").write_text("mask\n")
                    self.check_failure(build, cwd, ["--disk", image, *args], message)

    def test_unreadable_disk_image_is_refused(self):
        tiles_only = build_disk([("copy", "TILES.CH", self.f.tiles)])
        short_tiles = shape_disk(self.f.tiles[:-1], self.f.npc)
        broken = bytearray(self.f.disk)
        fat_set(broken, file_clusters(broken, "NPC.CH")[7], 0)
        for build in BUILDS:
            needed = build.offset + ROOT_END
            cases = [
                (None, ["--disk", "none.img", "sheet.bmp"],
                 "open error 'none.img'\nread disk image error 'none.img'\n"),
                (build.wrap(self.f.disk)[:5000], ["--disk", "x.img", "sheet.bmp"],
                 f"disk image too short 'x.img' 5000 < {needed}\nread disk image error 'x.img'\n"),
                (build.wrap(tiles_only), ["--only-tiles", "--disk", "x.img", "sheet.bmp", "mask.bmp"],
                 "can't find 'NPC.CH'\nread disk image error 'x.img/NPC.CH'\n"),
                (build.wrap(short_tiles), ["--only-npc", "--disk", "x.img", "sheet.bmp", "mask.bmp"],
                 "file size error 'TILES.CH' 98303 < 98304\nread disk image error 'x.img/TILES.CH'\n"),
                (build.wrap(broken), ["--disk", "x.img", "sheet.bmp"],
                 "fat error 'NPC.CH'\nread disk image error 'x.img/NPC.CH'\n"),
            ]
            for content, args, message in cases:
                with self.subTest(build=str(build), args=args, message=message):
                    cwd = self.prepared(build, "sheet.bmp", "mask.bmp")
                    for existing in ("x.NEW.img", "none.NEW.img"):
                        (cwd / existing).write_bytes(b"an older image\n")
                    if content is not None:
                        (cwd / "x.img").write_bytes(content)
                    self.check_failure(build, cwd, args, message)

    def test_output_that_cannot_be_written_is_reported(self):
        self.full_device()
        for build in BUILDS:
            image = f"disk.{build.image_format}"
            derived = f"disk.NEW.{build.image_format}"
            cases = [
                ([], b"n", "already exists '%s'\noverwrite ? (Y or N): " % derived),
                ([], b"", "already exists '%s'\noverwrite ? (Y or N): " % derived),
                ([], b"abc\nN\ny\n", "already exists '%s'\noverwrite ? (Y or N): " % derived),
                (["--write", "nodir/out.img"], b"",
                 "open error 'nodir/out.img'\nwrite disk image error 'nodir/out.img'\n"),
                (["--write", "adir"], b"y",
                 "already exists 'adir'\noverwrite ? (Y or N): "
                 "open error 'adir'\nwrite disk image error 'adir'\n"),
                (["--write", "/dev/full"], b"y",
                 "already exists '/dev/full'\noverwrite ? (Y or N): "
                 "write error '/dev/full'\nwrite disk image error '/dev/full'\n"),
                (["--write", image], b"n", "already exists '%s'\noverwrite ? (Y or N): " % image),
            ]
            for args, stdin, message in cases:
                with self.subTest(build=str(build), args=args, stdin=stdin):
                    cwd = self.prepared(build, "sheet.bmp", "mask.bmp")
                    (cwd / derived).write_bytes(b"an older image\n")
                    (cwd / "adir").mkdir()
                    self.check_failure(build, cwd, ["--disk", image, *args, "sheet.bmp", "mask.bmp"], message,
                                       stdin=stdin)


class OutputNameTest(ChangerCase):
    def test_output_name_is_derived_from_the_image_name(self):
        for build in BUILDS:
            cases = [
                (build.default_image, [], build.default_output),
                ("image", ["--disk", "image"], "image.NEW"),
                ("old.dir/image", ["--disk", "old.dir/image"], "old.dir/image.NEW"),
                ("old.dir/disk.img", ["--disk", "old.dir/disk.img"], "old.dir/disk.NEW.img"),
                ("a.b.img", ["--disk", "a.b.img"], "a.b.NEW.img"),
                ("disk.img", ["--disk", "./disk.img"], "./disk.NEW.img"),
                ("dir.d/sub/disk", ["--disk", "dir.d/sub/disk"], "dir.d/sub/disk.NEW"),
            ]
            for image, args, output in cases:
                with self.subTest(build=str(build), args=args):
                    cwd = self.prepared(build, "sheet.bmp", "mask.bmp", image=image)
                    before = snapshot(cwd)
                    self.change(build, *args, "sheet.bmp", "mask.bmp", cwd=cwd)
                    after = snapshot(cwd)
                    self.assertEqual(sorted(set(after) - set(before)), [os.path.normpath(output)])
                    self.assertTrue(after[os.path.normpath(output)] == before[image],
                                    "an unedited sheet must give the same image")


class RoundTripTest(ChangerCase):
    def test_unedited_sheet_and_mask_give_an_identical_image(self):
        disks = {
            "plain": self.f.disk,
            "fragmented": fragmented_disk(self.f.tiles, self.f.npc),
            "trailing part unit": self.f.disk + random.Random(3).randbytes(700),
        }
        for build in BUILDS:
            for what, disk in disks.items():
                with self.subTest(build=str(build), disk=what):
                    cwd = self.prepared(build, disk=disk)
                    image = f"disk.{build.image_format}"
                    self.run_tool(build.extractor, "--disk", image, "--no-remake-water", "s.bmp", "m.bmp",
                                  cwd=cwd, status=0, stdout="")
                    self.change(build, "--disk", image, "--write", "out.img", "s.bmp", "m.bmp", cwd=cwd)
                    self.assertTrue((cwd / "out.img").read_bytes() == (cwd / image).read_bytes(),
                                    "the round trip changed the image")

    def test_without_mask_every_npc_fourth_plane_is_cleared(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.prepared(build, "sheet.bmp")
                image = f"disk.{build.image_format}"
                self.change(build, "--disk", image, "sheet.bmp", cwd=cwd)
                output = cwd / f"disk.NEW.{build.image_format}"
                tiles, npc = self.shape_files(build, output)
                self.assertTrue(tiles == self.f.tiles, "TILES.CH changed")
                self.assertTrue(npc == encode_planar(bytes(v & 7 for v in self.f.npc_half), 4), "NPC.CH")
                for shape in range(256):
                    plane3 = npc[shape * 512 + 384:shape * 512 + 512]
                    self.assertEqual(plane3, bytes(128), f"shape {shape} plane 3")
                self.assertOnlyShapeClustersDiffer(build, (cwd / image).read_bytes(), output.read_bytes())

    def test_edited_sheet_changes_only_the_shape_files(self):
        for build in BUILDS:
            fragmented = fragmented_disk(self.f.tiles, self.f.npc)
            for disk_kind, disk in (("plain", self.f.disk), ("fragmented", fragmented)):
                with self.subTest(build=str(build), disk=disk_kind):
                    cwd = self.prepared(build, "edited.bmp", "edited_mask.bmp", disk=disk)
                    image = f"disk.{build.image_format}"
                    self.change(build, "--disk", image, "edited.bmp", "edited_mask.bmp", cwd=cwd)
                    output = cwd / f"disk.NEW.{build.image_format}"
                    tiles, npc = self.shape_files(build, output)
                    self.assertTrue(tiles == self.f.new_tiles, "TILES.CH as mtools reads it")
                    self.assertTrue(npc == self.f.new_npc, "NPC.CH as mtools reads it")
                    if disk_kind == "plain":
                        self.assertEqual(mcopy_out(output, "README.TXT", build.offset), self.f.readme)
                    self.assertOnlyShapeClustersDiffer(build, (cwd / image).read_bytes(), output.read_bytes())
                    # The extractor reads the edit back.
                    self.run_tool(build.extractor, "--disk", output.name, "--no-remake-water", "back.bmp",
                                  cwd=cwd, status=0, stdout="")
                    Image = pillow()
                    with Image.open(cwd / "back.bmp") as im:
                        self.assertPixelsEqual(im.tobytes()[:HALF], self.f.edited_tiles, SHEET_W)

    def test_only_options_choose_the_files_to_change_and_the_last_wins(self):
        new, old = (self.f.new_tiles, self.f.new_npc_unmasked), (self.f.tiles, self.f.npc)
        cases = [
            ([], (new[0], new[1])),
            (["--only-tiles"], (new[0], old[1])),
            (["--only-npc"], (old[0], new[1])),
            (["--only-npc", "--only-tiles"], (new[0], old[1])),
            (["--only-tiles", "--only-npc"], (old[0], new[1])),
            (["--only-tiles", "--only-tiles"], (new[0], old[1])),
        ]
        for build in BUILDS:
            for options, (want_tiles, want_npc) in cases:
                with self.subTest(build=str(build), options=options):
                    cwd = self.prepared(build, "edited.bmp")
                    self.change(build, "--disk", f"disk.{build.image_format}", *options, "edited.bmp",
                                "--write", "out.img", cwd=cwd)
                    tiles, npc = self.shape_files(build, cwd / "out.img")
                    self.assertTrue(tiles == want_tiles, "TILES.CH")
                    self.assertTrue(npc == want_npc, "NPC.CH")

    def test_half_sheet_with_only_tiles_changes_only_tiles(self):
        Image = pillow()
        with Image.open(self.f.work / "edited.bmp") as im:
            save_bmp3(im.convert("RGB").crop((0, 0, 512, 512)), self.f.work / "edited_half.bmp",
                      "-type", "Palette")
        Image.open(self.f.work / "edited_mask.bmp").crop((0, 0, 512, 512)).save(self.f.work / "half_mask.bmp")
        for build in BUILDS:
            for masks in ([], ["half_mask.bmp"]):
                with self.subTest(build=str(build), masks=masks):
                    cwd = self.prepared(build, "edited_half.bmp", "half_mask.bmp")
                    image = f"disk.{build.image_format}"
                    self.change(build, "--disk", image, "--only-tiles", "edited_half.bmp", *masks, cwd=cwd)
                    output = cwd / f"disk.NEW.{build.image_format}"
                    tiles, npc = self.shape_files(build, output)
                    self.assertTrue(tiles == self.f.new_tiles, "TILES.CH")
                    self.assertTrue(npc == self.f.npc, "NPC.CH must stay as it was")

    def test_longer_shape_files_keep_their_bytes_beyond_the_shapes(self):
        tail = random.Random(8).randbytes(1500)
        disk = shape_disk(self.f.tiles + tail, self.f.npc + tail[:24])
        notice = ("file size mismatch 'TILES.CH' 99804 != 98304 ... ignored\n"
                  "file size mismatch 'NPC.CH' 131096 != 131072 ... ignored\n")
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.prepared(build, "edited.bmp", "edited_mask.bmp", disk=disk)
                image = f"disk.{build.image_format}"
                run = self.change(build, "--disk", image, "edited.bmp", "edited_mask.bmp", cwd=cwd, stdout=None)
                # Once when the files are read, once when they are replaced.
                self.assertEqual(run.stdout.decode(), notice * 2)
                tiles, npc = self.shape_files(build, cwd / f"disk.NEW.{build.image_format}")
                self.assertTrue(tiles == self.f.new_tiles + tail, "TILES.CH")
                self.assertTrue(npc == self.f.new_npc + tail[:24], "NPC.CH")

    def test_confirmed_overwrite_replaces_the_output(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.prepared(build, "edited.bmp")
                image = f"disk.{build.image_format}"
                derived = f"disk.NEW.{build.image_format}"
                (cwd / derived).write_bytes(b"an older image\n")
                self.change(build, "--disk", image, "edited.bmp", cwd=cwd, stdin=b"abc\ny\n",
                            stdout=f"already exists '{derived}'\noverwrite ? (Y or N): ")
                self.assertEqual(self.shape_files(build, cwd / derived)[0], self.f.new_tiles)
                self.assertEqual(sorted(os.listdir(cwd)), sorted([image, derived, "edited.bmp"]))

    def test_failed_write_keeps_the_old_output_and_the_input(self):
        # The disk fills up (a 64 KiB file size limit) while the image is written.
        for build in BUILDS:
            for target in (f"disk.NEW.{build.image_format}", f"disk.{build.image_format}"):
                with self.subTest(build=str(build), target=target):
                    cwd = self.prepared(build, "edited.bmp")
                    if not (cwd / target).exists():
                        (cwd / target).write_bytes(b"an older image\n")
                    before = snapshot(cwd)
                    self.run_tool(build.changer, "--disk", f"disk.{build.image_format}", "--write", target,
                                  "edited.bmp", cwd=cwd, stdin=b"y", status=1, file_size_limit=65536,
                                  stdout=f"already exists '{target}'\noverwrite ? (Y or N): "
                                         f"write error '{target}'\nwrite disk image error '{target}'\n")
                    self.assertTreeUnchanged(before, cwd, "after a failed write")

    def test_input_image_is_replaced_only_after_confirmation(self):
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.prepared(build, "edited.bmp", "edited_mask.bmp")
                image = f"disk.{build.image_format}"
                original = (cwd / image).read_bytes()
                self.change(build, "--disk", image, "--write", image, "edited.bmp", "edited_mask.bmp", cwd=cwd,
                            stdin=b"Y", stdout=f"already exists '{image}'\noverwrite ? (Y or N): ")
                self.assertEqual(self.shape_files(build, cwd / image), (self.f.new_tiles, self.f.new_npc))
                self.assertOnlyShapeClustersDiffer(build, original, (cwd / image).read_bytes())
                self.assertEqual(sorted(os.listdir(cwd)), sorted([image, "edited.bmp", "edited_mask.bmp"]))

    def test_sample_disk_takes_an_edit(self):
        sample = sample_files()
        for build in BUILDS:
            with self.subTest(build=str(build)):
                cwd = self.scratch()
                shutil.copy(sample / build.default_image, cwd)
                shutil.copy(self.f.work / "edited.bmp", cwd)
                self.change(build, "edited.bmp", cwd=cwd)
                output = cwd / build.default_output
                self.assertEqual(self.shape_files(build, output)[0], self.f.new_tiles)
                self.assertOnlyShapeClustersDiffer(build, (cwd / build.default_image).read_bytes(),
                                                   output.read_bytes())


if __name__ == "__main__":
    unittest.main()
