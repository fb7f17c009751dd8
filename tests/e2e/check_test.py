"""The guards around a change: no picture is written over a disk image,
and an image shorter than its disk is said to be so. Disks are made by
mkfs.fat and mcopy and put into containers by disk_containers (which
floptool reads back in the containers test); the other files by Pillow."""

import functools
import random
import unittest
from types import SimpleNamespace

from disk_containers import d88, d88_tracks, nfd0
from kztest import (BUILDS, DISK_LENGTH, HALF, MKFS_FAT, PC98, X68K, Image, KzTestCase, asked, encode_planar,
                    shape_disk, short_of_disk, tool, work_dir)

REFUSED = "can't write over disk image '{0}'\n".format


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


if __name__ == "__main__":
    unittest.main()
