"""The extractors and changers on one disk in every container: raw (HDM),
FDI, D88 (old and new header, several disks in one file), NFD (both
revisions), FDD, DIM and DCP. The containers are written by disk_containers
from their published layouts around disks made by mkfs.fat and mcopy, with
whatever each lets us shuffle shuffled, and MAME's floptool converts each one back
to the raw disk: a mistake in a writer here cannot hide one in the programs'
readers. Then each program must do on the container what it does on the raw
disk, and a changed container must be the input with only the shape files'
sector data changed (an FDD sector that was not stored comes at the end)."""

import functools
import os
import random
import struct
import subprocess
import tempfile
import unittest
from pathlib import Path
from types import SimpleNamespace

from disk_containers import SEC, UNITS, d88, d88_tracks, dcp, dim, fdd, fdi, nfd0, nfd1, sector, several
from kztest import (BUILDS, COLOURS, Image, KzTestCase, build_disk, file_clusters, magick,
                    run_program, shape_disk, snapshot, work_dir)

FLOPTOOL = os.environ.get("KZ_FLOPTOOL", "/usr/bin/floptool")
SHEET, MASK = "sheet.bmp", "mask.bmp"


def floptool_raw(image, kind, machine):
    with tempfile.TemporaryDirectory(prefix="kz-flop-") as work:
        source, target = Path(work, "in"), Path(work, "out")
        source.write_bytes(image)
        run = subprocess.run([FLOPTOOL, "flopconvert", kind, machine, source, target], capture_output=True,
                             timeout=60)
        return target.read_bytes() if run.returncode == 0 and target.exists() else None


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(9801)
    tiles, npc = bytearray(rng.randbytes(98304)), rng.randbytes(131072)
    tiles[5 * SEC:6 * SEC] = bytes(SEC)  # a cluster of one repeated byte, which FDD leaves unstored
    extra = ("README.TXT", b"nothing here may change\n" * 80)
    disk = shape_disk(bytes(tiles), npc, extra)
    other = shape_disk(bytes(tiles), bytes(131072))
    only_tiles = build_disk([("TILES.CH", bytes(tiles))])
    only_npc = build_disk([extra, ("NPC.CH", npc)])
    work = work_dir()
    picture = bytes(b & 7 for b in rng.randbytes(512 * 1024))
    Image.frombytes("RGB", (512, 1024), b"".join(bytes(COLOURS[v]) for v in picture)).save(work / "src.bmp")
    magick(work / "src.bmp", "-type", "Palette", "-compress", "None", f"BMP3:{work / SHEET}")
    Image.frombytes("L", (512, 1024), bytes(255 * (b & 1) for b in rng.randbytes(512 * 1024))).convert(
        "1").save(work / MASK)
    chains = {name: file_clusters(disk, name) for name in ("TILES.CH", "NPC.CH")}
    return SimpleNamespace(disk=disk, other=other, only_tiles=only_tiles, only_npc=only_npc,
                           sheets={n: (work / n).read_bytes() for n in (SHEET, MASK)},
                           units={n: [c + 9 for c in chain] for n, chain in chains.items()})


def chs(unit):
    return f"C={unit // 16} H={unit // 8 % 2} R={unit % 8 + 1}"


class ContainersTest(KzTestCase):
    def scratch(self, image):
        cwd = work_dir()
        (cwd / "disk.img").write_bytes(image)
        for name, data in fixture().sheets.items():
            (cwd / name).write_bytes(data)
        return cwd

    def run_ok(self, cwd, *args):
        run = run_program(*args, cwd=cwd)
        self.assertEqual((run.returncode, run.stdout, run.stderr), (0, b"", b""), f"{args}: {run}")

    @functools.lru_cache(maxsize=None)
    def on_raw(self, build, disk):
        """The extractor's sheet and the changer's raw disk from a raw disk."""
        cwd = self.scratch(disk)
        self.run_ok(cwd, build.extractor, "--disk", "disk.img", "out.bmp")
        self.run_ok(cwd, build.changer, "--disk", "disk.img", "--write", "out.img", SHEET, MASK)
        return (cwd / "out.bmp").read_bytes(), (cwd / "out.img").read_bytes()

    def test_the_container_writers_write_the_disk_that_floptool_reads(self):
        """The independent check of every writer (the raw disk needs none)
        and of the variants the readers' unit tests take apart: floptool
        must read each back as the raw disk."""
        f = fixture()
        rng = random.Random(1232)
        tracks = d88_tracks(f.disk, rng)
        rows = [
            ("FDI", fdi(f.disk)[0], "pc98_fdi", "pc98"),
            ("D88, sectors and tracks shuffled", d88(tracks, rng)[0], "d88", "pc98"),
            ("NFD revision 0, interleaved", nfd0(f.disk, rng)[0], "nfd", "pc98"),
            ("NFD revision 1, interleaved", nfd1(f.disk, rng)[0], "nfd", "pc98"),
            ("FDD, data shuffled, uniform sectors unstored", fdd(f.disk, rng)[0], "fdd", "pc98"),
            ("DIM", dim(f.disk)[0], "dim", "xdf"),
            ("DIM of every track, two flagged absent", dim(f.disk, absent=(3, 90), absent_stored=True)[0], "dim",
             "xdf"),
            ("DCP", dcp(f.disk)[0], "dcx", "pc98"),
        ]
        for what, image, kind, machine in rows:
            with self.subTest(container=what):
                self.assertTrue(floptool_raw(image, kind, machine) == f.disk, "floptool reads another disk")

    def test_every_container_reads_and_writes_back_as_the_raw_disk(self):
        f = fixture()
        rng = random.Random(1232)
        file_units = set(f.units["TILES.CH"] + f.units["NPC.CH"])
        # One row per container: what, container, places, floptool's format
        # and machine (None: floptool cannot read it). The D88 row holds the
        # disk second of three, the first with the older header, so that
        # the others must stay as they were.
        rows = [
            ("raw", f.disk, {u: u * SEC for u in range(UNITS)}, None, None),
            ("FDI", *fdi(f.disk), "pc98_fdi", "pc98"),
            ("D88, the second of three disks, sectors and tracks shuffled",
             *several(d88(d88_tracks(f.only_tiles), old=True), d88(d88_tracks(f.disk, rng), rng),
                      d88(d88_tracks(f.only_npc))), None, None),
            ("NFD revision 1, interleaved", *nfd1(f.disk, rng), "nfd", "pc98"),
            ("FDD, data shuffled, uniform sectors unstored", *fdd(f.disk, rng), "fdd", "pc98"),
            ("DIM", *dim(f.disk), "dim", "xdf"),
            ("DCP", *dcp(f.disk), "dcx", "pc98"),
        ]
        for what, image, places, kind, machine in rows:
            cwd = self.scratch(image)
            for b in BUILDS:
                sheet, changed = self.on_raw(b, f.disk)
                with self.subTest(container=what, build=str(b)):
                    self.run_ok(cwd, b.extractor, "--disk", "disk.img", "out.bmp")
                    self.assertSame((cwd / "out.bmp").read_bytes(), sheet, "the sheet")
                    self.run_ok(cwd, b.changer, "--disk", "disk.img", "--write", "out.img", SHEET, MASK)
                    out = (cwd / "out.img").read_bytes()
                    if kind:
                        self.assertSame(floptool_raw(out, kind, machine), changed, "the changed disk")
                    else:  # the changed units where the writer put them
                        self.assertSame(b"".join(out[places[u]:places[u] + SEC] if u in places else sector(changed, u)
                                                 for u in sorted(file_units)),
                                        b"".join(sector(changed, u) for u in sorted(file_units)), "the files")
                    # Outside the files' sectors nothing changed; unstored
                    # sectors that changed were appended and pointed at.
                    appended = [u for u in file_units if u not in places and sector(changed, u) != sector(f.disk, u)]
                    self.assertEqual(len(out), len(image) + SEC * len(appended), "length")
                    free = bytearray(out[:len(image)])
                    for u in file_units & places.keys():
                        free[places[u]:places[u] + SEC] = image[places[u]:places[u] + SEC]
                    for u in appended:
                        at = 0xDC + (u // 8 * 26 + u % 8) * 12 + 8
                        self.assertGreaterEqual(struct.unpack_from("<I", out, at)[0], len(image))
                        free[at:at + 4] = image[at:at + 4]
                    self.assertSame(bytes(free), image, "the bytes outside the files' sectors")
                    (cwd / "out.bmp").unlink()
                    (cwd / "out.img").unlink()

    def test_disks_the_programs_cannot_use_are_refused_and_nothing_is_written(self):
        """One row per refusal; the ways each comes about are the container
        modules' unit tests."""
        f = fixture()
        rng = random.Random(77)
        tiles, npc = f.units["TILES.CH"], f.units["NPC.CH"]
        t0, t1, n0 = tiles[0], tiles[40], npc[3]

        def d88_with(edit=None, **options):
            tracks = d88_tracks(f.disk, random.Random(5))
            if edit:
                edit(tracks)
            return d88(tracks, **options)[0]

        def sector_of(tracks, unit):
            return next(s for s in tracks[unit // 8] if s[2] == unit % 8 + 1)

        def set_status(unit, status):
            return lambda tracks: sector_of(tracks, unit).__setitem__(4, status)

        loading = "{}\nread disk image error 'disk.img'\n".format
        reading = "{}\nread disk image error 'disk.img/{}'\n".format
        changing = "{}\nwrite disk image error 'out.img/{}'\n".format
        fdd_places = fdd(f.disk, random.Random(3))[1]
        # what, image, the extractor's outcome, the changer's (None: as on the raw disk)
        rows = [
            ("D88 of a 2DD disk", d88_with(media=0x10), loading("not a 2HD disk of 1024-byte sectors 'disk.img'")),
            ("DIM track flag 2", dim(f.disk, flag=(3, 2))[0], loading("broken disk image header 'disk.img'")),
            ("D88 without a directory sector", d88_with(lambda t: t[0].remove(sector_of(t, 5))),
             loading("missing sector 'disk.img' C=0 H=0 R=6")),
            ("FDD TILES.CH sector pointing outside the file",
             fdd(f.disk, random.Random(3), pointer={t1: 0x7FFFF000})[0],
             reading(f"missing sector 'disk.img' {chs(t1)}", "TILES.CH")),
            ("D88 with a TILES.CH sector twice", d88_with(lambda t: t[t1 // 8].append(list(sector_of(t, t1)))),
             reading(f"duplicate sector 'disk.img' {chs(t1)}", "TILES.CH")),
            ("D88 NPC.CH sector with a CRC error", d88_with(set_status(n0, 0xB0)),
             reading(f"sector with crc error 'disk.img' {chs(n0)}", "NPC.CH")),
            ("D88 TILES.CH sector without data", d88_with(set_status(t0, 0xF0)),
             reading(f"sector without data 'disk.img' {chs(t0)}", "TILES.CH")),
            ("FDD two sectors sharing their data",
             fdd(f.disk, random.Random(3), pointer={t1: fdd_places[n0]})[0],
             reading(f"overlapping sector 'disk.img' {chs(t1)}", "TILES.CH")),
            ("D88 disks none of which holds both files",
             several(d88(d88_tracks(f.only_tiles)), d88(d88_tracks(f.only_npc)),
                     d88(d88_tracks(f.other), media=0x10))[0],
             loading("no disk in 'disk.img' holds TILES.CH and NPC.CH")),
            ("D88 disks two of which hold both files",
             several(d88(d88_tracks(f.disk)), d88(d88_tracks(f.other)))[0],
             loading("more than one disk in 'disk.img' holds TILES.CH and NPC.CH")),
            # Readable, but not to be changed in place: a DIM track the
            # file does not hold reads as zeros; an NFD sector with
            # special-read data has other forms the change would not reach.
            ("DIM without a track of TILES.CH", dim(f.disk, absent=(t1 // 8,))[0], None,
             changing(f"can't change a track the image does not hold 'disk.img' C={t1 // 16} H={t1 // 8 % 2}",
                      "TILES.CH")),
            ("NFD TILES.CH sector with special-read data",
             nfd1(f.disk, rng, specials={t1: (1, bytes(b ^ 0x5A for b in sector(f.disk, t1)) * 2)})[0], None,
             changing(f"can't change a sector with special-read data 'disk.img' {chs(t1)}", "TILES.CH")),
        ]
        zeroed = bytearray(f.disk)
        zeroed[t1 // 8 * 8 * SEC:(t1 // 8 + 1) * 8 * SEC] = bytes(8 * SEC)
        for i, (what, image, outcome, *changer_outcome) in enumerate(rows):
            b = BUILDS[i % 2]
            cwd = self.scratch(image)
            before = snapshot(cwd)
            for program, args, expected in (
                    (b.extractor, ["--disk", "disk.img", "out.bmp"], outcome),
                    (b.changer, ["--disk", "disk.img", "--write", "out.img", SHEET, MASK],
                     changer_outcome[0] if changer_outcome else outcome)):
                with self.subTest(row=what, program=program):
                    run = run_program(program, *args, cwd=cwd)
                    self.assertEqual(run.stderr, b"")
                    if expected is None:
                        self.assertEqual((run.returncode, run.stdout), (0, b""))
                        disk = zeroed if what.startswith("DIM") else f.disk
                        self.assertSame((cwd / "out.bmp").read_bytes(), self.on_raw(b, bytes(disk))[0], "the sheet")
                        (cwd / "out.bmp").unlink()
                    else:
                        self.assertEqual((run.returncode, run.stdout.decode()), (1, expected))
                    self.assertEqual(snapshot(cwd), before, "files written")

    def test_a_folder_given_as_the_image_cannot_be_read(self):
        cwd = self.scratch(b"")
        (cwd / "folder.fdi").mkdir()
        expected = "read error 'folder.fdi'\nread disk image error 'folder.fdi'\n"
        for b in BUILDS:
            self.check_rows(b.extractor, cwd, [(["--disk", "folder.fdi", "out.bmp"], b"", expected)])
            self.check_rows(b.changer, cwd, [(["--disk", "folder.fdi", "--write", "out.img", SHEET], b"", expected)])


if __name__ == "__main__":
    unittest.main()
