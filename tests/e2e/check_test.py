"""What a change writes and what it shows first: a sheet put back untouched
gives back the image whatever the extractor's adjustments, an edit changes
its shapes' bytes alone, --check reports without writing, --check-picture
draws the change; and the guards around it: no picture is written over a
disk image, and an image shorter than its disk, a mask left out or an output
named for another container are said to be so. Disks are made by mkfs.fat
and mcopy and put into containers by disk_containers (which floptool reads
back in the containers test); pictures are edited with ImageMagick and
Pillow."""

import functools
import itertools
import os
import random
import shutil
import unittest
from types import SimpleNamespace

from disk_containers import SEC, d88, d88_tracks, fdi, nfd0
from kztest import (BUILDS, DISK_LENGTH, GRASS_SHAPES, HALF, MKFS_FAT, PC98, WINDOWS, X68K, Image, KzTestCase, asked,
                    encode_planar, file_clusters, magick, opened, shape_disk, short_of_disk, tool, water_code,
                    work_dir)

REFUSED = "can't write over disk image '{0}'\n".format
ADJUSTMENTS = ("--no-remake-water", "--dungeon", "--mirror-room")
WATER, DUNGEON, MIRROR = 1, 2, 4
SET_NAMES = {1: "water remake", 2: "dungeon grass", 3: "water remake and dungeon grass", 4: "mirror room",
             5: "water remake and mirror room", 6: "dungeon grass and mirror room",
             7: "water remake, dungeon grass and mirror room"}
CLEARED = "no mask bitmap 'NPC.CH' 256 shapes with fourth plane ... cleared\n"


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(2107)
    tiles = encode_planar(bytes(b & 7 for b in rng.randbytes(HALF)), 3)
    npc = encode_planar(bytes(b & 15 for b in rng.randbytes(HALF)), 4)
    disk = shape_disk(tiles, npc)
    work = work_dir()
    # A 1.44 MB floppy of another machine: no container of ours, but its
    # boot sector is a FAT12 one.
    tool(MKFS_FAT, "-C", str(work / "pc.img"), 1440)
    Image.new("RGB", (8, 8), (0, 0, 255)).save(work / "picture.png")
    return SimpleNamespace(disk=disk, tiles=tiles, npc=npc, pc_floppy=(work / "pc.img").read_bytes(),
                           picture=(work / "picture.png").read_bytes())


def containers(disk):
    """The disk as FDI and as D88 (interleaved, tracks shuffled), each with
    where every unit's data lies in the file."""
    rng = random.Random(21)
    return {"fdi": fdi(disk), "d88": d88(d88_tracks(disk, rng), rng)}


def adjustment_set(options):
    """The extractor's options as the set of adjustments they draw with."""
    return ((WATER if "--no-remake-water" not in options else 0) | (DUNGEON if "--dungeon" in options else 0)
            | (MIRROR if "--mirror-room" in options else 0))


def adjustments_of(npc, n):
    """The adjustments that change a shape of random pixels: the mirror room
    every one; the water remake the water shapes; the dungeon exchange the
    grass shapes (water drawn in keeps shape 3's colours)."""
    if npc:
        return MIRROR
    return MIRROR | (WATER if water_code(n) else 0) | (DUNGEON if n in GRASS_SHAPES else 0)


def kept_lines(options):
    """The warnings of a sheet put back untouched: for each file and set of
    adjustments, the shapes that the set draws and that are kept so."""
    drawn = adjustment_set(options)
    lines = []
    for npc, name in ((False, "TILES.CH"), (True, "NPC.CH")):
        counts = {}
        for n in range(256):
            kept = drawn & adjustments_of(npc, n)
            if kept:
                counts[kept] = counts.get(kept, 0) + 1
        lines += [f"unedited shapes '{name}' {counts[k]} drawn with {SET_NAMES[k]} ... kept as on disk\n"
                  for k in sorted(counts)]
    return "".join(lines)


def npc_bytes_at(disk, places, first, end):
    """Where NPC.CH bytes first to end lie in a container's file."""
    chain = file_clusters(disk, "NPC.CH")
    return {places[chain[k // SEC] + 9] + k % SEC for k in range(first, end)}


def differing(old, new):
    return {i for i in range(len(old)) if old[i] != new[i]} if len(old) == len(new) else None


def victims():
    """Files that the disk code takes for disk images, by name: containers
    of the Varnholm disk, a D88 of another kind of disk (refused as such, but
    a disk image all the same), a raw disk, another machine's floppy and a
    disk behind a header that no container claims."""
    f = fixture()
    other_kind = bytearray(d88(d88_tracks(f.disk))[0])
    other_kind[0x1B] = 0x00  # a 2D disk
    return {"victim.d88": d88(d88_tracks(f.disk))[0], "victim.nfd": nfd0(f.disk)[0], "victim.hdm": f.disk,
            "other.d88": bytes(other_kind), "pc.img": f.pc_floppy, "odd.fdi": bytes(4096) + f.disk}


class PictureOverDiskImageTest(KzTestCase):
    def test_no_picture_is_written_over_a_disk_image_whatever_the_answer(self):
        """A sheet, a mask or a tile sheet named like an existing disk image
        (as with --disk forgotten) is refused before anything is read or
        asked; a file of that name that is no disk image is asked about as
        any other."""
        f = fixture()
        cwd = work_dir()
        for name, data in victims().items():
            (cwd / name).write_bytes(data)
        (cwd / "picture.d88").write_bytes(f.picture)
        (cwd / "notes.hdm").write_bytes(b"not a disk\n" * 100)
        if not WINDOWS:
            os.mkfifo(cwd / "pipe.d88")
        (cwd / PC98.default_image).write_bytes(PC98.wrap(f.disk))
        (cwd / X68K.default_image).write_bytes(f.disk)
        (cwd / "TILES.16").write_bytes(bytes(range(256)) * 256)
        for b in BUILDS:
            rows = []
            for name in victims():
                for answer in (b"y\n", b"n\n", b""):
                    rows += [([name], answer, REFUSED(name)),
                             (["new.bmp", name], answer, REFUSED(name)),
                             (["--disk", b.default_image, name, "new.png"], answer, REFUSED(name))]
            rows += [
                (["picture.d88"], b"n\n", asked("picture.d88") + "write bitmap file error 'picture.d88'\n"),
                (["notes.hdm"], b"n\n", asked("notes.hdm") + "write bitmap file error 'notes.hdm'\n"),
                # The image read is an input, which has its own refusal.
                ([b.default_image], b"y\n", f"can't write over input '{b.default_image}'\n"),
            ]
            if not WINDOWS:  # a pipe is never read to see what it holds: that would wait for a writer
                rows.append((["pipe.d88"], b"n\n", asked("pipe.d88") + "write bitmap file error 'pipe.d88'\n"))
            self.check_rows(b.extractor, cwd, rows)
        self.check_rows("kzega_shapes", cwd, [
            (["TILES.16", name], answer, REFUSED(name)) for name in victims() for answer in (b"y\n", b"")
        ] + [(["TILES.16", "picture.d88"], b"y\n", asked("picture.d88"), 0, {"picture.d88": 65654})])


class ShortImageTest(KzTestCase):
    def test_an_image_shorter_than_its_disk_is_said_to_be_so_first(self):
        """A download cut short still holds the shape files and works, after
        a warning; cut inside them it fails, told why first. An image of the
        whole disk, or longer, and a container, get no warning."""
        f = fixture()
        for b in BUILDS:
            cwd = work_dir()
            whole = b.wrap(f.disk)
            images = {"cut.img": whole[:1000000], "inside.img": whole[:b.offset + 40 * 1024],
                      "whole.img": whole, "longer.img": whole + bytes(5000)}
            for name, data in images.items():
                (cwd / name).write_bytes(data)
            make = b.extractor
            short = short_of_disk("cut.img", 1000000, b.offset)
            inside = short_of_disk("inside.img", b.offset + 40 * 1024, b.offset)
            self.assertTrue(short and inside)
            self.check_rows(make, cwd, [
                (["--disk", "cut.img", "--no-remake-water", "s.bmp", "m.bmp"], b"", short, 0,
                 {"s.bmp": 262262, "m.bmp": 65598}),
                (["--disk", "inside.img", "s.bmp"], b"",
                 inside + "fat error 'TILES.CH'\nread disk image error 'inside.img/TILES.CH'\n"),
                (["--disk", "whole.img", "s.bmp"], b"", "", 0, {"s.bmp": 262262}),
                (["--disk", "longer.img", "s.bmp"], b"", "", 0, {"s.bmp": 262262}),
            ])
            (cwd / "s.bmp").write_bytes(b"")
            self.run_tool(make, "--disk", "whole.img", "--no-remake-water", "s.bmp", "m.bmp", cwd=cwd,
                          stdin=b"y\ny\n", stdout=None)
            self.check_rows(b.changer, cwd, [
                (["--disk", "cut.img", "--write", "new.img", "s.bmp", "m.bmp"], b"", short, 0,
                 {"new.img": 1000000}),
                (["--disk", "whole.img", "--write", "new.img", "s.bmp", "m.bmp"], b"", "", 0,
                 {"new.img": len(whole)}),
            ])
            self.assertEqual(len(whole), b.offset + DISK_LENGTH)


class ChangeTest(KzTestCase):
    def image_dir(self, b, kind):
        """A folder with the disk in the container as image.EXT."""
        cwd = work_dir()
        data, places = containers(fixture().disk)[kind]
        (cwd / f"image.{kind}").write_bytes(data)
        return cwd, f"image.{kind}", data, places

    def test_an_untouched_sheet_gives_back_the_image_whatever_its_adjustments(self):
        """Every combination of the three adjustments, both pairs, FDI and D88:
        the sheet and mask put back untouched give the input byte for byte,
        and the shapes kept as the disk holds them are counted by adjustment."""
        for b, kind in itertools.product(BUILDS, ("fdi", "d88")):
            cwd, image, data, _ = self.image_dir(b, kind)
            for count in range(4):
                for options in itertools.combinations(ADJUSTMENTS, count):
                    with self.subTest(build=str(b), container=kind, options=options):
                        extension = "png" if count % 2 else "bmp"
                        sheet, mask = f"s.{extension}", f"m.{extension}"
                        self.run_tool(b.extractor, "--disk", image, *options, sheet, mask, cwd=cwd, stdin=b"y\ny\n",
                                      stdout=None)
                        (cwd / f"out.{kind}").unlink(missing_ok=True)
                        self.run_tool(b.changer, "--disk", image, "--write", f"out.{kind}", sheet, mask, cwd=cwd,
                                      stdout=kept_lines(options))
                        self.assertSame((cwd / f"out.{kind}").read_bytes(), data, "the image put back")
                        if b is not PC98:  # the report is the pairs' one code: one pair's is enough
                            continue
                        # The same run, asked for a report, shows the same warnings.
                        self.run_tool(b.changer, "--disk", image, "--write", f"out.{kind}", "--check", sheet, mask,
                                      cwd=cwd, stdout=kept_lines(options) + "shapes to change 'TILES.CH' none\n"
                                      "shapes to change 'NPC.CH' none\n" + KEEP.get(adjustment_set(options), "")
                                      + f"off-palette pixels '{sheet}' 0\noff-palette pixels '{mask}' 0\n"
                                      f"would replace 'out.{kind}' ({kind.upper()})\n")

    def test_an_edited_character_shape_changes_its_512_bytes_alone(self):
        """A default extraction (the water remake on), one NPC.CH shape
        painted with ImageMagick: of the whole image, only bytes of that
        shape's record change."""
        for b, kind in itertools.product(BUILDS, ("fdi", "d88")):
            with self.subTest(build=str(b), container=kind):
                cwd, image, data, places = self.image_dir(b, kind)
                self.run_tool(b.extractor, "--disk", image, "s.png", "m.png", cwd=cwd)
                # NPC.CH shape 77: shape row 4, column 13.
                magick(cwd / "s.png", "+antialias", "-fill", "yellow", "-draw", "rectangle 420,650 440,660",
                       f"PNG24:{cwd / 'e.png'}")
                self.run_tool(b.changer, "--disk", image, "--write", f"out.{kind}", "e.png", "m.png", cwd=cwd,
                              stdout=kept_lines(()))
                changed = differing(data, (cwd / f"out.{kind}").read_bytes())
                self.assertTrue(changed, "nothing changed")
                self.assertLessEqual(changed, npc_bytes_at(fixture().disk, places, 77 * 512, 78 * 512))

    def test_check_reports_the_edited_shapes_and_colours_and_writes_nothing(self):
        """The report names exactly the edited shapes, in runs, the shapes
        kept, the colours taken to the nearest one and the image a change
        would write; an existing output is not asked about, and no file is
        written or changed."""
        for b, kind in itertools.product(BUILDS, ("fdi", "d88")):
            with self.subTest(build=str(b), container=kind):
                cwd, image, data, _ = self.image_dir(b, kind)
                self.run_tool(b.extractor, "--disk", image, "s.png", "m.png", cwd=cwd)
                # Shapes 0 and 17-19 in yellow, 16 pixels of an off-palette
                # red in shape 200, NPC.CH shape 5 in cyan with three grey
                # mask pixels.
                magick(cwd / "s.png", "+antialias", "-fill", "yellow", "-draw", "rectangle 2,2 10,10",
                       "-draw", "rectangle 40,40 110,45", "-fill", "#FE0000", "-draw", "rectangle 260,390 263,393",
                       "-fill", "cyan", "-draw", "rectangle 165,515 185,535", f"PNG24:{cwd / 'e.png'}")
                magick(cwd / "m.png", "+antialias", "-fill", "#808080", "-draw", "rectangle 170,520 172,520",
                       f"PNG24:{cwd / 'em.png'}")
                (cwd / f"out.{kind}").write_bytes(b"an older image")
                report = (kept_lines(()) + "shapes to change 'TILES.CH' 0 17-19 200\n"
                          "shapes to change 'NPC.CH' 5\n" + KEEP[WATER] +
                          "off-palette pixels 'e.png' 16\noff-palette colour 'e.png' #FE0000 16 -> #FF0000\n"
                          "off-palette pixels 'em.png' 3\noff-palette colour 'em.png' #808080 3 -> #FFFFFF\n")
                new = image.replace(".", ".NEW.")
                self.check_rows(b.changer, cwd, [
                    (["--disk", image, "--write", f"out.{kind}", "--check", "e.png", "em.png"], b"y\n",
                     report + f"would replace 'out.{kind}' ({kind.upper()})\n", 0),
                    (["--check", "--disk", image, "e.png", "em.png"], b"",
                     report + f"would write '{new}' ({kind.upper()})\n", 0),
                ])

    def test_warnings_appear_where_the_user_would_be_surprised_and_nowhere_else(self):
        """No mask while NPC.CH is changed and holds fourth-plane pixels; a
        --write name of another container than the one written."""
        f = fixture()
        cwd = work_dir()
        d88_image = containers(f.disk)["d88"][0]
        (cwd / "image.d88").write_bytes(d88_image)
        (cwd / "image.hdm").write_bytes(f.disk)
        (cwd / "plain.img").write_bytes(PC98.wrap(f.disk))
        self.run_tool(PC98.extractor, "--disk", "image.d88", "--no-remake-water", "s.bmp", "m.bmp", cwd=cwd)
        mismatch = "container mismatch '{0}' ... written as {1}\n".format
        size = {"d88": len(d88_image), "hdm": len(f.disk), "fdi": len(PC98.wrap(f.disk))}
        self.check_rows(PC98.changer, cwd, [
            (["--disk", "image.d88", "--write", "new.d88", "s.bmp", "m.bmp"], b"", "", 0, {"new.d88": size["d88"]}),
            (["--disk", "image.d88", "--write", "new.img", "s.bmp", "m.bmp"], b"", "", 0, {"new.img": size["d88"]}),
            (["--disk", "image.d88", "--write", "conv.hdm", "s.bmp", "m.bmp"], b"", mismatch("conv.hdm", "D88"), 0,
             {"conv.hdm": size["d88"]}),
            (["--disk", "image.d88", "--write", "conv.D68", "s.bmp", "m.bmp"], b"", "", 0, {"conv.D68": size["d88"]}),
            (["--disk", "image.hdm", "--write", "conv.xdf", "s.bmp", "m.bmp"], b"", "", 0, {"conv.xdf": size["hdm"]}),
            (["--disk", "image.hdm", "--write", "conv.fdi", "s.bmp", "m.bmp"], b"", mismatch("conv.fdi", "raw"), 0,
             {"conv.fdi": size["hdm"]}),
            # Read at the pair's offset, behind a header no container claims:
            # written back so, as FDI.
            (["--disk", "plain.img", "--write", "conv.hdm", "s.bmp", "m.bmp"], b"", mismatch("conv.hdm", "FDI"), 0,
             {"conv.hdm": size["fdi"]}),
            (["--disk", "image.d88", "s.bmp"], b"", CLEARED, 0, {"image.NEW.d88": size["d88"]}),
            (["--disk", "image.d88", "--only-npc", "s.bmp"], b"", CLEARED, 0, {"image.NEW.d88": size["d88"]}),
            (["--disk", "image.d88", "--only-tiles", "s.bmp"], b"", "", 0, {"image.NEW.d88": size["d88"]}),
            (["--disk", "image.d88", "--check", "s.bmp"], b"",
             CLEARED + "shapes to change 'TILES.CH' none\nshapes to change 'NPC.CH' 0-255\n"
             "off-palette pixels 's.bmp' 0\nwould write 'image.NEW.d88' (D88)\n", 0),
        ])

    def test_check_picture_shows_the_change_and_is_the_only_file_written(self):
        """The picture is the image as the change leaves it, as the extractor
        draws it without adjustments, with the changed shapes in their colours
        and the rest faded; with --check it is the only file written, without
        it comes before the image, and it is guarded as any picture."""
        f = fixture()
        for b in BUILDS:
            with self.subTest(build=str(b)):
                cwd, image, data, _ = self.image_dir(b, "fdi")
                self.run_tool(b.extractor, "--disk", image, "s.png", "m.png", cwd=cwd)
                magick(cwd / "s.png", "+antialias", "-fill", "white", "-draw", "rectangle 33,33 40,40",
                       "-draw", "rectangle 100,590 110,600", f"PNG24:{cwd / 'e.png'}")
                self.run_tool(b.changer, "--disk", image, "--check", "--check-picture", "check.png", "e.png", "m.png",
                              cwd=cwd, stdout=None)
                self.assertEqual(sorted(p.name for p in cwd.iterdir()), ["check.png", "e.png", image, "m.png",
                                                                          "s.png"])
                self.run_tool(b.changer, "--disk", image, "--write", "out.fdi", "e.png", "m.png", cwd=cwd,
                              stdout=None)
                self.run_tool(b.extractor, "--disk", "out.fdi", "--no-remake-water", "again.bmp", cwd=cwd)
                picture, again = opened(cwd / "check.png"), opened(cwd / "again.bmp")
                self.assertEqual((picture.size, picture.mode), ((512, 1024), "P"))
                shown, written = picture.tobytes(), again.tobytes()
                changed = {17, 256 + 16 * 2 + 3}  # TILES.CH 17 and NPC.CH 35
                for shape in range(512):
                    row, column = shape // 16, shape % 16
                    for y in range(32):
                        at = (row * 32 + y) * 512 + column * 32
                        want = bytes((v & 7) | (0 if shape in changed else 8) for v in written[at:at + 32])
                        if shown[at:at + 32] != want:
                            self.fail(f"shape {shape} line {y}: {shown[at:at + 32].hex()} != {want.hex()}")
                palette = picture.getpalette()[:48]
                self.assertEqual(palette[:24], [0, 0, 0, 0, 0, 255, 255, 0, 0, 255, 0, 255, 0, 255, 0, 0, 255, 255,
                                                255, 255, 0, 255, 255, 255])
                self.assertEqual(palette[24:], [(c + 3 * 192) // 4 for c in palette[:24]])

                # Without --check: the picture, then the image; each asked
                # about, and a declined picture ends the run before the image.
                (cwd / "old.png").write_bytes(b"old")
                (cwd / "victim.d88").write_bytes(containers(f.disk)["d88"][0])
                self.check_rows(b.changer, cwd, [
                    (["--disk", image, "--write", "new.fdi", "--check-picture", "pic.bmp", "e.png", "m.png"], b"",
                     kept_lines(()), 0, {"pic.bmp": 262262, "new.fdi": len(data)}),
                    (["--disk", image, "--write", "new.fdi", "--check-picture", "old.png", "e.png", "m.png"], b"n\n",
                     kept_lines(()) + asked("old.png") + "write bitmap file error 'old.png'\n"),
                    (["--disk", image, "--check-picture", "victim.d88", "e.png", "m.png"], b"y\n",
                     REFUSED("victim.d88")),
                    (["--disk", image, "--write", "new.fdi", "--check-picture", "new.fdi", "e.png"], b"y\n",
                     "can't write picture over image 'new.fdi'\n"),
                    (["--disk", image, "--check-picture", "./e.png", "e.png"], b"y\n",
                     "can't write over input './e.png'\n"),
                    (["--disk", image, "--check-picture", image, "e.png"], b"y\n",
                     f"can't write over input '{image}'\n"),
                    (["--disk", image, "e.png", "--check-picture"], b"", "no check picture file\n"),
                ])


# The report's lines for the shapes kept from an untouched sheet: those of
# each set of adjustments that draws shapes, in the order of the sets.
def keep_report(drawn):
    runs = {(False, k): [] for k in SET_NAMES}
    runs.update({(True, k): [] for k in SET_NAMES})
    for npc in (False, True):
        for n in range(256):
            kept = drawn & adjustments_of(npc, n)
            if kept:
                runs[npc, kept].append(n)

    def spans(numbers):
        out = []
        for n in numbers:
            if out and out[-1][1] == n - 1:
                out[-1][1] = n
            else:
                out.append([n, n])
        return [str(a) if a == z else f"{a}-{z}" for a, z in out]

    lines = []
    for npc, name in ((False, "TILES.CH"), (True, "NPC.CH")):
        for k in sorted(SET_NAMES):
            parts = spans(runs[npc, k])
            for i in range(0, len(parts), 16):
                lines.append(f"shapes to keep '{name}' {' '.join(parts[i:i + 16])} drawn with {SET_NAMES[k]}\n")
    return "".join(lines)


KEEP = {drawn: keep_report(drawn) for drawn in range(1, 8)}


if __name__ == "__main__":
    unittest.main()
