"""kzpc98chg_shapes and kzx68kchg_shapes: sheets made by the extractor or
drawn with Pillow and ImageMagick go back into disks made by mkfs.fat and
mcopy; the results are read with mtools and checked with fsck.fat."""

import functools
import random
import shutil
import struct
import unittest
from types import SimpleNamespace

from kztest import (BUILDS, FORMATS, COLOURS, HALF, ROOT_END, UNIT, X68K, Image, KzTestCase, asked, build_disk,
                    encode_planar, file_clusters, fsck, magick, make_with, mcopy_out, opened, pixel_offset,
                    shape_disk, work_dir)

EDITS = ("edited.bmp", "edited_mask.bmp", "edited_half.bmp")
CLEARED = "no mask bitmap 'NPC.CH' {0} shapes with fourth plane ... cleared\n".format


def usage(b):
    return (f"usage: {b.changer} [options] SHAPES.BMP|PNG [MASK.BMP|PNG]\n"
            "option: --disk DISK-IMG     disk image name of Varnholm Disk\n"
            f"                            read '{b.default_image}' if not specified\n"
            "        --write DISK-IMG    disk image name of modified Varnholm Disk\n"
            "        --only-tiles        change landform shapes (TILES.CH) only\n"
            "        --only-npc          change npc shapes (NPC.CH) only\n"
            "        --check             report what would change, write no disk image\n"
            "        --check-picture BMP|PNG\n"
            "                            picture of the sheet as written, changes marked\n"
            "        --mask-in-sheet     read mask from sheet colors 8-15\n"
            "        --write-patch PNG   write changed shapes only, as a patch\n"
            "        --help              print usage\n"
            "\n"
            "remove all mask if mask bitmap is not specified\n"
            f"supported disk image formats are {FORMATS[b.kind]}\n"
            "write modified disk image to filename.NEW.ext if not specified\n")


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(4711)
    tiles_half = bytes(b & 7 for b in rng.randbytes(HALF))
    npc_half = bytes(b & 15 for b in rng.randbytes(HALF))
    tiles, npc = encode_planar(tiles_half, 3), encode_planar(npc_half, 4)
    work = work_dir()
    disk = shape_disk(tiles, npc, ("README.TXT", b"The Varnholm disk: nothing here may change.\n" * 60))
    # NPC.CH fills the hole a deleted file left before TILES.CH and goes on after it.
    fragmented = build_disk([("FILLER.BIN", bytes(5 * UNIT)), ("TILES.CH", tiles), ("FILLER.BIN", None),
                             ("NPC.CH", npc)])
    (work / "disk.xdf").write_bytes(disk)
    make_with(X68K.extractor, "--disk", "disk.xdf", "--no-remake-water", "sheet.bmp", "mask.bmp", cwd=work)

    # An edit drawn with Pillow, saved by ImageMagick as a 4-bit BMP3 sheet and
    # by Pillow as a 1-bit mask.
    edited_tiles, edited_npc = bytearray(tiles_half), bytearray(npc_half)
    edited_mask = bytearray(v >> 3 for v in npc_half)
    for i in range(32):
        edited_tiles[pixel_offset(0, i, i)] = 2
        edited_tiles[pixel_offset(200, i // 2, 10)] = 6
        edited_npc[pixel_offset(17, 3, i)] = 5
        edited_mask[pixel_offset(17, 3, i)] = 0
        edited_mask[pixel_offset(40, i, 7)] = 1
    rgb = Image.frombytes("RGB", (512, 1024), b"".join(bytes(COLOURS[v & 7]) for v in edited_tiles + edited_npc))
    rgb.save(work / "edited.src.bmp")
    magick(work / "edited.src.bmp", "-type", "Palette", "-compress", "None", f"BMP3:{work / 'edited.bmp'}")
    rgb.crop((0, 0, 512, 512)).save(work / "edited_half.bmp")
    mask = Image.frombytes("L", (512, 1024), bytes(HALF) + bytes(255 * m for m in edited_mask))
    mask.convert("1").save(work / "edited_mask.bmp")

    # Sheets of the wrong sizes, and the extractor's sheet stored top down.
    sheet = opened(work / "sheet.bmp").convert("RGB")
    for name, width, height in (("w511", 511, 1024), ("w513", 513, 1024), ("h511", 512, 511),
                                ("h1025", 512, 1025), ("h1023", 512, 1023), ("half", 512, 512)):
        sheet.crop((0, 0, width, height)).save(work / f"{name}.bmp")
    top = bytearray((work / "sheet.bmp").read_bytes())
    struct.pack_into("<i", top, 22, -1024)
    (work / "top.bmp").write_bytes(top)
    # Without a mask, every NPC.CH shape with a fourth-plane pixel loses it.
    cleared = CLEARED(sum(any(npc_half[pixel_offset(n, x, y)] >= 8 for x in range(32) for y in range(32))
                          for n in range(256)))
    return SimpleNamespace(
        work=work, disk=disk, fragmented=fragmented, tiles=tiles, npc=npc, cleared=cleared,
        new_tiles=encode_planar(bytes(edited_tiles), 3),
        new_npc=encode_planar(bytes((v & 7) | m << 3 for v, m in zip(edited_npc, edited_mask)), 4),
        new_npc_unmasked=encode_planar(bytes(v & 7 for v in edited_npc), 4))


def shape_files(build, path):
    return mcopy_out(path, "TILES.CH", build.offset), mcopy_out(path, "NPC.CH", build.offset)


class ChangerTest(KzTestCase):
    def test_runs_print_their_lines_and_touch_only_their_outputs(self):
        """Every failure leaves every file as it was; an existing output is
        asked about only once every input has been read."""
        f = fixture()
        bitmaps = ["sheet.bmp", "mask.bmp", "edited.bmp", "w511.bmp", "w513.bmp", "h511.bmp", "h1025.bmp",
                   "h1023.bmp", "half.bmp", "top.bmp"]
        self.full_device()
        for b in BUILDS:
            cwd, img, out = work_dir(), b.default_image, b.default_image.replace(".", ".NEW.")
            for name in bitmaps:
                shutil.copy(f.work / name, cwd)
            (cwd / "old.dir").mkdir()
            for name, disk in ((img, f.disk), ("image", f.disk), ("old.dir/image", f.disk),
                               ("tiles.img", build_disk([("TILES.CH", f.tiles)]))):
                (cwd / name).write_bytes(b.wrap(disk))
            (cwd / "cut.img").write_bytes(b.wrap(f.disk)[:5000])
            (cwd / out).write_bytes(b"an older image\n")
            size = len(b.wrap(f.disk))
            bad_size = "bitmap size error '{0}' {1} x {2}\nread shapes file error '{0}'\n".format
            bad_header = ("error: read_bitmap() - can't read bitmap header\n"
                          "read error '{0}'\nread {1} file error '{0}'\n")
            not_written = f.cleared + asked("{0}") + "write error '{0}'\nwrite disk image error '{0}'\n"
            self.check_rows(b.changer, cwd, [
                (["--help"], b"", usage(b)),
                (["sheet.bmp", "--only-npc", "--help"], b"", usage(b)),
                (["a.bmp", "b.bmp", "c.bmp", "--help"], b"", "unneeded parameter 'c.bmp'\n\n"),
                (["--disk"], b"", "no disk image (varnholm disk)\n"),
                (["sheet.bmp", "--write"], b"", "no disk image (output)\n"),
                (["-"], b"", "unknown option '-'\n"),
                (["--ONLY-TILES", "sheet.bmp"], b"", "unknown option '--ONLY-TILES'\n"),
                (["--bogus", "--help"], b"", "unknown option '--bogus'\n"),
                (["--write", "sheet.bmp"], b"", "no shapes bitmap file\n"),
                (["none.bmp"], b"", "open error 'none.bmp'\nread shapes file error 'none.bmp'\n"),
                ([img], b"", bad_header.format(img, "shapes")),
                (["w511.bmp"], b"", bad_size("w511.bmp", 511, 1024)),
                (["w513.bmp"], b"", bad_size("w513.bmp", 513, 1024)),
                (["h511.bmp"], b"", bad_size("h511.bmp", 512, 511)),
                (["h1025.bmp"], b"", bad_size("h1025.bmp", 512, 1025)),
                (["top.bmp"], b"", "error: check_bitmap_header() - data length 0x40000 != 0xFFFC0000\n"
                 + bad_header.format("top.bmp", "shapes")),
                (["sheet.bmp", "none.bmp"], b"", "open error 'none.bmp'\nread mask file error 'none.bmp'\n"),
                (["sheet.bmp", img], b"", bad_header.format(img, "mask")),
                (["half.bmp"], b"", "shapes bitmap size error 'half.bmp'\n"),
                (["--only-tiles", "--only-npc", "half.bmp"], b"", "shapes bitmap size error 'half.bmp'\n"),
                (["h1023.bmp"], b"", "shapes bitmap size error 'h1023.bmp'\n"),
                (["sheet.bmp", "h1023.bmp"], b"", "shapes and mask size mismatch\n"),
                (["--only-tiles", "half.bmp", "mask.bmp"], b"", "shapes and mask size mismatch\n"),
                (["--disk", "--write", "sheet.bmp"], b"", "open error '--write'\nread disk image error '--write'\n"),
                (["--disk", "cut.img", "sheet.bmp"], b"",
                 f"disk image too short 'cut.img' 5000 < {b.offset + ROOT_END}\nread disk image error 'cut.img'\n"),
                (["--only-tiles", "--disk", "tiles.img", "sheet.bmp"], b"",
                 "can't find 'NPC.CH'\nread disk image error 'tiles.img/NPC.CH'\n"),
                (["sheet.bmp", "mask.bmp"], b"n", asked(out)),
                (["sheet.bmp", "mask.bmp"], b"", asked(out)),
                (["--write", img, "edited.bmp"], b"abc\nN\ny\n", f.cleared + asked(img)),
                (["--write", "nodir/out.img", "sheet.bmp"], b"",
                 f.cleared + "open error 'nodir/out.img'\nwrite disk image error 'nodir/out.img'\n"),
                (["--write", "/dev/full", "sheet.bmp"], b"y", not_written.format("/dev/full")),
                (["edited.bmp"], b"y", not_written.format(out), 1, {}, 65536),
                (["--write", img, "edited.bmp"], b"y", not_written.format(img), 1, {}, 65536),
                (["edited.bmp"], b"x\ny", f.cleared + asked(out), 0, {out: size}),
                (["--disk", "image", "sheet.bmp", "mask.bmp"], b"", "", 0, {"image.NEW": size}),
                (["--disk", "old.dir/image", "sheet.bmp", "mask.bmp"], b"", "", 0, {"old.dir/image.NEW": size}),
            ])

    def test_round_trip_gives_back_the_image_byte_for_byte(self):
        f = fixture()
        chain = file_clusters(f.fragmented, "NPC.CH")
        self.assertNotEqual(chain, list(range(chain[0], chain[0] + len(chain))), "NPC.CH is not fragmented")
        for b in BUILDS:
            for kind, disk in (("plain", f.disk), ("fragmented", f.fragmented)):
                with self.subTest(build=str(b), disk=kind):
                    cwd = work_dir()
                    (cwd / "disk.img").write_bytes(b.wrap(disk))
                    self.run_tool(b.extractor, "--disk", "disk.img", "--no-remake-water", "s.bmp", "m.bmp", cwd=cwd)
                    self.run_tool(b.changer, "--disk", "disk.img", "--write", "out.img", "s.bmp", "m.bmp", cwd=cwd)
                    self.assertSame((cwd / "out.img").read_bytes(), b.wrap(disk), "the image after a round trip")

    def test_edit_changes_only_the_shape_files_clusters(self):
        f = fixture()
        clusters = {ROOT_END + (n - 2) * UNIT for name in ("TILES.CH", "NPC.CH") for n in file_clusters(f.disk, name)}
        for b in BUILDS:
            with self.subTest(build=str(b)):
                cwd = work_dir()
                image, output = cwd / b.default_image, cwd / b.default_image.replace(".", ".NEW.")
                image.write_bytes(b.wrap(f.disk))
                for name in EDITS:
                    shutil.copy(f.work / name, cwd)
                self.run_tool(b.changer, "edited.bmp", "edited_mask.bmp", cwd=cwd)
                self.assertEqual(shape_files(b, output), (f.new_tiles, f.new_npc))
                new = output.read_bytes()
                self.assertEqual(len(new), len(image.read_bytes()))
                self.assertSame(new[:b.offset], image.read_bytes()[:b.offset], "the FDI header")
                disk = new[b.offset:]
                self.assertEqual([o for o in range(0, len(disk), UNIT)
                                  if o not in clusters and disk[o:o + UNIT] != f.disk[o:o + UNIT]], [],
                                 "disk units changed outside the shape files' clusters")
                fsck(disk)
                # Named as the output, the input image itself is replaced after a yes.
                self.run_tool(b.changer, "--write", b.default_image, "edited.bmp", "edited_mask.bmp", cwd=cwd,
                              stdin=b"Y", stdout=asked(b.default_image))
                self.assertSame(image.read_bytes(), new, "the replaced input image")

    def test_options_choose_the_files_to_change_and_the_last_wins(self):
        f = fixture()
        cwd = work_dir()
        (cwd / "disk.xdf").write_bytes(f.disk)
        for name in EDITS:
            shutil.copy(f.work / name, cwd)
        # No mask: every fourth-plane bit is cleared, as the warning says
        # where NPC.CH is changed.
        cases = [
            (["edited.bmp"], f.new_tiles, f.new_npc_unmasked, f.cleared),
            (["--only-tiles", "edited.bmp"], f.new_tiles, f.npc, ""),
            (["--only-npc", "edited.bmp", "edited_mask.bmp"], f.tiles, f.new_npc, ""),
            (["--only-npc", "--only-tiles", "edited.bmp"], f.new_tiles, f.npc, ""),
            (["--only-tiles", "--only-npc", "edited.bmp"], f.tiles, f.new_npc_unmasked, f.cleared),
            (["--only-tiles", "edited_half.bmp"], f.new_tiles, f.npc, ""),
        ]
        for i, (args, tiles, npc, warning) in enumerate(cases):
            with self.subTest(args=args):
                self.run_tool(X68K.changer, "--disk", "disk.xdf", "--write", f"out{i}.xdf", *args, cwd=cwd,
                              stdout=warning)
                got_tiles, got_npc = shape_files(X68K, cwd / f"out{i}.xdf")
                self.assertSame(got_tiles, tiles, "TILES.CH")
                self.assertSame(got_npc, npc, "NPC.CH")


if __name__ == "__main__":
    unittest.main()
