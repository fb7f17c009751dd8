"""The extractors and changers on disk images made to hurt them, one row for
each way they once did: memory that grew to 44 times the file, time that
grew to 164 times it, a sum that overflowed, a valid D88 misread for its
name, the real reason hidden behind "no disk holds", a write through
another file's clusters, and a FIFO that kept the program waiting for ever.
Every row checks the message and the status, that nothing is written where
the run fails and that what is written where it succeeds is the raw disk's,
and for the worst cases, tens of MB large, the whole process's peak memory
and time."""

import functools
import os
import random
import sys
import struct
import subprocess
import time
import unittest
from types import SimpleNamespace

from disk_containers import d88, d88_tracks, several
from hostile_test import set_fat
from kztest import (BUILDS, WINDOWS, Image, KzTestCase, command_line, build_disk, file_clusters,
                    run_program, shape_disk, snapshot, wine_log, work_dir)

SHEET, MASK = "sheet.bmp", "mask.bmp"
MB = 1 << 20
# Memory a run may take beyond the pages of the image it maps: the static
# program, its work areas (sheets of 512 KiB, shape files) and the disk's
# tables, with room for a sanitizer's own.
FIXED_MEMORY = 48 * MB
WORST_SECONDS = 3.0


def loading(message):
    return f"{message}\nread disk image error 'disk.img'\n"


def reading(message, name):
    return f"{message}\nread disk image error 'disk.img/{name}'\n"


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(2400)
    readme = ("README.TXT", b"another file, which no write may reach\n" * 20)  # one cluster
    disk = shape_disk(rng.randbytes(98304), rng.randbytes(131072), readme)
    only_tiles = build_disk([("TILES.CH", rng.randbytes(98304))])
    work = work_dir()
    Image.frombytes("RGB", (512, 1024), bytes(b & 0xFF for b in rng.randbytes(3 * 512 * 1024))).save(work / SHEET)
    Image.frombytes("L", (512, 1024), rng.randbytes(512 * 1024)).convert("1").save(work / MASK)
    return SimpleNamespace(disk=disk, only_tiles=only_tiles,
                           sheets={name: (work / name).read_bytes() for name in (SHEET, MASK)},
                           chains={name: file_clusters(disk, name) for name in ("TILES.CH", "NPC.CH", "README.TXT")})


def empty_d88_disks(length):
    """Old 0x2A0-byte D88 headers of 2HD disks without tracks, one after another."""
    header = bytearray(0x2A0)
    header[0x1B] = 0x20
    struct.pack_into("<I", header, 0x1C, 0x2A0)
    return bytes(header) * (length // 0x2A0)


def one_offset_d88(length):
    """One D88 disk whose 164 track entries all name one run of 16-byte
    sector headers without data, as long as the file."""
    count = (length - 0x2B0) // 16
    header = bytearray(0x2B0)
    header[0x1B] = 0x20
    struct.pack_into("<I", header, 0x1C, 0x2B0 + count * 16)
    struct.pack_into("<164I", header, 0x20, *[0x2B0] * 164)
    return bytes(header) + struct.pack("<4BHBBB5xH", 0, 0, 1, 3, 1, 0, 0, 0, 0) * count


def nfd1_overflowing_specials():
    """An NFD of revision 1 whose 164 track entries all name one map of 65,535
    special reads of 256 x 0xFFFFFFFF bytes each: summed track by track, the
    data would pass 2^63 bytes."""
    specials = 65535
    entry = bytes([0x46, 0, 0, 9, 3, 0, 0x40, 0x20, 0x20, 255]) + struct.pack("<IBx", 0xFFFFFFFF, 0x90)
    track_map = struct.pack("<HH12x", 0, specials) + entry * specials
    head = b"T98FDDIMAGE.R1".ljust(0x110, b"\0") + struct.pack("<IBB10x", 0x3C0 + len(track_map), 0, 2)
    return (head + struct.pack("<164I", *[0x3C0] * 164)).ljust(0x3C0, b"\0") + track_map


class named_d88(bytes):
    """The fixture disk as a D88 of that name; wrap gives another disk so."""

    def __new__(cls, name):
        image = super().__new__(cls, d88(d88_tracks(fixture().disk), name=name)[0])
        image.wrap = lambda disk: d88(d88_tracks(disk), name=name)[0]
        return image


def crc_error_in_root(disk):
    """The disk as a D88 whose first root directory sector (unit 5) is marked
    as read with a CRC error."""
    tracks = d88_tracks(disk)
    next(s for s in tracks[0] if s[2] == 6)[4] = 0xB0
    return d88(tracks)[0]


def crossed(disk, name, through):
    """The disk with the chain of name sent through the first cluster of
    through, then back to its own."""
    out, chain = bytearray(disk), fixture().chains[name]
    other = fixture().chains[through]
    set_fat(out, chain[3], other[0])
    set_fat(out, other[0], chain[4])
    return bytes(out)


# Starts the program and reports its exit status and peak memory. A child
# of the test's own large process would count that process's pages, which
# it shares until it starts the program, as its own peak.
SPAWNER = ("import os, sys\n"
           "child = os.posix_spawn(sys.argv[2], sys.argv[2:], os.environ)\n"
           "_, status, usage = os.wait4(child, 0)\n"
           "open(sys.argv[1], 'w').write(f'{os.waitstatus_to_exitcode(status)} {usage.ru_maxrss}')\n")


def peak_memory_run(argv, cwd):
    """Runs a Linux program; gives the completed run, its peak resident
    memory in bytes and its seconds."""
    report = cwd.parent / (cwd.name + ".usage")
    start = time.perf_counter()
    spawner = subprocess.run([sys.executable, "-S", "-c", SPAWNER, report, *argv], cwd=cwd,
                             stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
    seconds = time.perf_counter() - start
    if not report.exists():
        raise AssertionError(f"{argv} could not be started: {spawner.stderr.decode(errors='replace')}")
    status, peak = map(int, report.read_text().split())
    report.unlink()
    return subprocess.CompletedProcess(argv, status, spawner.stdout, spawner.stderr), peak * 1024, seconds


class HostileImagesTest(KzTestCase):
    def scratch(self, image):
        cwd = work_dir()
        if image is not None:
            (cwd / "disk.img").write_bytes(image)
        for name, data in fixture().sheets.items():
            (cwd / name).write_bytes(data)
        return cwd

    @functools.lru_cache(maxsize=None)
    def on_raw(self, build):
        """What the programs make of the clean disk."""
        cwd = self.scratch(fixture().disk)
        for argv in ([build.extractor, "--disk", "disk.img", "out.bmp"],
                     [build.changer, "--disk", "disk.img", "--write", "out.img", SHEET, MASK]):
            run = run_program(*argv, cwd=cwd)
            self.assertEqual((run.returncode, run.stdout, run.stderr), (0, b"", b""), f"{argv}: {run}{wine_log(run)}")
        return (cwd / "out.bmp").read_bytes(), (cwd / "out.img").read_bytes()

    def check(self, build, cwd, program, args, expected, output, bound=None, wrap=lambda disk: disk):
        """One run: standard error empty, the message and status, no file
        written on failure; on success the output alone, as the raw disk
        gives it, the changed disk in the image's container (wrap); within
        bound (the image's length) the peak memory and time."""
        before = snapshot(cwd)
        if bound is None:
            run = run_program(program, *args, cwd=cwd)
        else:
            run, memory, seconds = peak_memory_run(command_line(program, *args), cwd)
            self.assertLessEqual(memory, bound + FIXED_MEMORY, f"peak memory {memory / MB:.0f} MB")
            self.assertLessEqual(seconds, WORST_SECONDS, "seconds")
        self.assertEqual(run.stderr.decode(errors="replace"), "", wine_log(run))
        after = snapshot(cwd)
        made = sorted(after.keys() - before.keys())
        for name in made:
            (cwd / name).unlink()
        self.assertEqual({name: data for name, data in after.items() if name in before}, before, "inputs changed")
        if expected is None:
            self.assertEqual((run.returncode, run.stdout.decode()), (0, ""), wine_log(run))
            self.assertEqual(made, [output], "files written")
            sheet, changed = self.on_raw(build)
            self.assertSame(after[output], sheet if output == "out.bmp" else wrap(changed), output)
        else:
            self.assertEqual((run.returncode, run.stdout.decode()), (1, expected), wine_log(run))
            self.assertEqual(made, [], "files written")

    def test_each_hostile_image_is_refused_or_read_at_the_cost_of_its_length(self):
        f = fixture()
        tiles_crossed = crossed(f.disk, "TILES.CH", "README.TXT")
        npc_into_tiles = crossed(f.disk, "NPC.CH", "TILES.CH")
        worst_length = 16 * MB if WINDOWS else 40 * MB
        # fault, image (None: a FIFO), the extractor's outcome, the changer's
        # (None: what the raw disk gives), and for a worst case the length
        # that peak memory may reach beyond the fixed part
        rows = [
            ("d88_of_empty_disk_headers_took_a_table_for_each", empty_d88_disks(worst_length),
             loading("no disk in 'disk.img' holds TILES.CH and NPC.CH"), ..., worst_length),
            ("d88_track_table_naming_one_offset_164_times_walked_it_164_times",
             one_offset_d88(worst_length * 3 // 2), loading("missing sector 'disk.img' C=0 H=0 R=2"), ...,
             worst_length * 3 // 2),
            ("nfd1_special_reads_summed_past_2_63_overflowed", nfd1_overflowing_specials(),
             loading("missing sector 'disk.img' C=0 H=0 R=2"), ..., None),
            ("d88_named_vfd1_01_backup_was_misread_as_fdd", named_d88(b"VFD1.01 backup"), None, None, None),
            ("d88_named_t98fddimage_r1_was_misread_as_nfd", named_d88(b"T98FDDIMAGE.R1"), None, None, None),
            ("multi_disk_d88_hid_the_crc_error_behind_no_disk_holds",
             several(d88(d88_tracks(f.only_tiles)), (crc_error_in_root(f.disk), {}))[0],
             loading("sector with crc error 'disk.img' C=0 H=0 R=6"), ..., None),
            ("tiles_chain_through_another_files_only_cluster_was_written_through", tiles_crossed,
             reading("fat error 'TILES.CH'", "TILES.CH"), ..., None),
            ("shape_files_sharing_clusters_let_the_second_write_win", npc_into_tiles,
             reading("fat error 'TILES.CH'", "TILES.CH"), ..., None),
            ("fifo_as_the_image_blocked_in_open_for_ever", None,
             loading("read error 'disk.img'"), ..., None),
        ]
        for i, (fault, image, outcome, changer_outcome, bound) in enumerate(rows):
            b = BUILDS[i % 2]
            wrap = getattr(image, "wrap", lambda disk: disk)
            if changer_outcome is ...:
                changer_outcome = outcome
            with self.subTest(row=fault):
                if image is None and WINDOWS:
                    self.skipTest("a FIFO is a POSIX file")
                if bound is not None and WINDOWS:
                    bound = None  # memory and time are the Linux build's to measure
                cwd = self.scratch(image)
                if image is None:
                    os.mkfifo(cwd / "disk.img")
                self.check(b, cwd, b.extractor, ["--disk", "disk.img", "out.bmp"], outcome, "out.bmp", bound)
                self.check(b, cwd, b.changer, ["--disk", "disk.img", "--write", "out.img", SHEET, MASK],
                           changer_outcome, "out.img", bound, wrap)

    def test_the_lone_disk_with_the_damaged_root_says_the_same(self):
        """The reason the file of several disks gives is the one the disk
        alone gives."""
        cwd = self.scratch(crc_error_in_root(fixture().disk))
        for b in BUILDS:
            self.check(b, cwd, b.extractor, ["--disk", "disk.img", "out.bmp"],
                       loading("sector with crc error 'disk.img' C=0 H=0 R=6"), "out.bmp")

    @unittest.skipIf(WINDOWS, "a FIFO is a POSIX file")
    def test_a_fifo_with_a_writer_is_refused_at_once(self):
        """With a writer (here the test itself, holding the FIFO open for
        reading and writing) and data waiting, the program once ended in a
        seek error; a FIFO is no image whatever it holds."""
        cwd = self.scratch(None)
        os.mkfifo(cwd / "disk.img")
        fifo = os.open(cwd / "disk.img", os.O_RDWR | os.O_NONBLOCK)
        try:
            os.write(fifo, fixture().disk[:4096])
            b = BUILDS[0]
            self.check(b, cwd, b.extractor, ["--disk", "disk.img", "out.bmp"], loading("read error 'disk.img'"),
                       "out.bmp")
        finally:
            os.close(fifo)


if __name__ == "__main__":
    unittest.main()
