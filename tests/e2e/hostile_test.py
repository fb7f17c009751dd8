"""The extractors and changers on damaged and hostile input: disk images cut
short, cluster chains that loop or run off the disk, directory entries with
garbage names and sizes, and bitmap headers with every field at the edges of
its range. Every failure must end in status 1 with its message, create no
file and leave every input as it was; every run must end in time and give
the sanitizers nothing to say. Disks are made by mkfs.fat and mcopy and then
damaged byte by byte; bitmaps by Pillow and ImageMagick."""

import functools
import random
import struct
import subprocess
import unittest
from types import SimpleNamespace

from kztest import (BUILDS, COLOURS, FAT_OFFSET, ROOT_DIR, ROOT_END, UNIT, Image, KzTestCase, find_entry,
                    magick, mcopy_out, run_program, shape_disk, short_of_disk, snapshot, wine_log, work_dir)

TILES_LENGTH, NPC_LENGTH = 98304, 131072
LENGTHS = {"TILES.CH": TILES_LENGTH, "NPC.CH": NPC_LENGTH}
DISK_UNITS = 1232
LAST_CLUSTER = DISK_UNITS - 10  # the last cluster whose unit the image holds
SHEET, MASK = "sheet.bmp", "mask.bmp"
BAD_BITMAP = "error: read_bitmap() - can't read bitmap header\nread error '{0}'\nread {1} file error '{0}'\n"


def set_fat(disk, n, value):
    """Sets FAT12 entry n in both copies of the FAT (units 1-2 and 3-4)."""
    for copy in (FAT_OFFSET, FAT_OFFSET + 2 * UNIT):
        at = copy + n * 3 // 2
        pair = disk[at] | disk[at + 1] << 8
        pair = (pair & 0x000F) | value << 4 if n & 1 else (pair & 0xF000) | value
        disk[at], disk[at + 1] = pair & 0xFF, pair >> 8


def int32(value):
    """The signed 32-bit number whose two's-complement bits are value's low 32."""
    value &= 0xFFFFFFFF
    return value - (1 << 32) if value & 0x80000000 else value


def checked_data_length(width, height, bits):
    """The data length that the bitmap header check expects, as the format
    computes it: the row size in signed 32-bit arithmetic (wrapping, with
    divisions that truncate toward zero), times the signed height, modulo 2^32.
    For the widest rows the row size wraps and is no real size."""
    def divide(value, divisor):
        quotient = abs(value) // divisor
        return -quotient if value < 0 else quotient

    def to_multiple_of_4(value):
        return int32(int32(value + 3) & ~3)

    width = int32(width)
    if bits == 1:
        row = to_multiple_of_4(divide(int32(width + 7), 8))
    elif bits == 4:
        row = to_multiple_of_4(divide(int32(width + 1), 2))
    elif bits == 32:
        row = int32(width * 4)
    else:
        row = to_multiple_of_4(int32(width * (bits // 8)))
    return row * int32(height) & 0xFFFFFFFF


def get_fat(disk, n):
    at = FAT_OFFSET + n * 3 // 2
    pair = disk[at] | disk[at + 1] << 8
    return pair >> 4 if n & 1 else pair & 0xFFF


def chain_of(disk, name, length):
    """The clusters that give a file's first length bytes, or None where the
    chain reaches a cluster that is not on the disk (or comes back to one it
    has passed) before that."""
    entry = find_entry(disk, name)
    n, chain = struct.unpack_from("<H", disk, entry + 26)[0], []
    for _ in range(-(-length // UNIT)):
        if not 2 <= n or ROOT_END + (n - 1) * UNIT > len(disk) or n in chain:
            return None
        chain.append(n)
        n = get_fat(disk, n)
    return chain


def file_along(disk, name, length):
    return b"".join(disk[ROOT_END + (n - 2) * UNIT:ROOT_END + (n - 1) * UNIT]
                    for n in chain_of(disk, name, length))[:length]


def written_along(disk, files):
    """The disk with each file's new bytes written along its chain."""
    out = bytearray(disk)
    for name, data in files.items():
        for i, n in enumerate(chain_of(disk, name, len(data))):
            piece = data[i * UNIT:(i + 1) * UNIT]
            out[ROOT_END + (n - 2) * UNIT:ROOT_END + (n - 2) * UNIT + len(piece)] = piece
    return bytes(out)


@functools.lru_cache(maxsize=None)
def fixture():
    rng = random.Random(6502)
    tiles, npc = rng.randbytes(TILES_LENGTH), rng.randbytes(NPC_LENGTH)
    disk = shape_disk(tiles, npc)
    assert len(disk) == DISK_UNITS * UNIT
    work = work_dir()
    picture = bytes(b & 7 for b in rng.randbytes(512 * 1024))
    Image.frombytes("RGB", (512, 1024), b"".join(bytes(COLOURS[v]) for v in picture)).save(work / "src.bmp")
    magick(work / "src.bmp", "-type", "Palette", "-compress", "None", f"BMP3:{work / SHEET}")
    mask = bytes(255 * (b & 1) for b in rng.randbytes(512 * 1024))
    Image.frombytes("L", (512, 1024), mask).convert("1").save(work / MASK)
    sheets = {name: (work / name).read_bytes() for name in (SHEET, MASK)}
    assert struct.unpack_from("<IHHIIIiHHI", sheets[SHEET], 2)[3:] == (118, 40, 512, 1024, 1, 4, 0)
    assert struct.unpack_from("<IHHIIIiHHI", sheets[MASK], 2)[3:] == (62, 40, 512, 1024, 1, 1, 0)
    return SimpleNamespace(disk=disk, tiles=tiles, npc=npc, sheets=sheets,
                           tiles_chain=chain_of(disk, "TILES.CH", TILES_LENGTH),
                           npc_chain=chain_of(disk, "NPC.CH", NPC_LENGTH))


@functools.lru_cache(maxsize=None)
def clean_results(build):
    """What the programs make of the undamaged disk: the extractor's sheet
    and the shape files that the changer writes from the fixture's sheets."""
    f, cwd = fixture(), work_dir()
    (cwd / "disk.img").write_bytes(build.wrap(f.disk))
    for name, data in f.sheets.items():
        (cwd / name).write_bytes(data)
    for argv in ([build.extractor, "--disk", "disk.img", "out.bmp"],
                 [build.changer, "--disk", "disk.img", "--write", "out.img", SHEET, MASK]):
        run = run_program(*argv, cwd=cwd)
        assert (run.returncode, run.stdout, run.stderr) == (0, b"", b""), f"{run}{wine_log(run)}"
    written = {name: mcopy_out(cwd / "out.img", name, build.offset) for name in LENGTHS}
    return (cwd / "out.bmp").read_bytes(), written


_extracted = {}


def extracted_from(build, tiles, npc):
    """The extractor's sheet of a clean mcopy disk that holds these two files."""
    key = (str(build), tiles, npc)
    if key not in _extracted:
        cwd = work_dir()
        (cwd / "disk.img").write_bytes(build.wrap(shape_disk(tiles, npc)))
        run = run_program(build.extractor, "--disk", "disk.img", "out.bmp", cwd=cwd)
        assert (run.returncode, run.stdout, run.stderr) == (0, b"", b""), f"{run}{wine_log(run)}"
        _extracted[key] = (cwd / "out.bmp").read_bytes()
    return _extracted[key]


def read_failed(name, how):
    return f"{how}\nread disk image error 'disk.img/{name}'\n"


def fat_failed(name):
    return read_failed(name, f"fat error '{name}'")


def mismatch(name, size):
    return f"file size mismatch '{name}' {size} != {LENGTHS[name]} ... ignored\n"


class HostileInputTest(KzTestCase):
    def run_row(self, program, cwd, args, stdout, status=1, made=()):
        """One run: standard error empty (no sanitizer report), the status and
        standard output as given, exactly the files in made created and every
        other file as it was. Gives the created files' contents and removes
        them."""
        before = snapshot(cwd)
        try:
            run = run_program(program, *args, cwd=cwd)
        except subprocess.TimeoutExpired as timeout:
            self.fail(f"{program} {args} did not end in time" + wine_log(timeout))
        after = snapshot(cwd)
        for name in after.keys() - before.keys():
            (cwd / name).unlink()
        errors = run.stderr.decode(errors="replace")
        if errors:  # a sanitizer report shows its kind and place in its first lines
            self.fail(f"{program} {args} wrote to standard error:\n" + "\n".join(errors.splitlines()[:12])
                      + wine_log(run))
        self.assertEqual(run.returncode, status, f"{program} {args}\n  stdout: {run.stdout!r}" + wine_log(run))
        text = run.stdout.decode(errors="replace")
        self.assertEqual(text, stdout, wine_log(run) or None)
        self.assertEqual(sorted(after.keys() - before.keys()), sorted(made), "files created")
        for name, data in before.items():
            self.assertSame(after.get(name), data, f"{name} after the run")
        return {name: after[name] for name in made}

    def scratch(self, image):
        """A scratch directory with the image as disk.img and the two bitmaps."""
        cwd = work_dir()
        (cwd / "disk.img").write_bytes(image)
        for name, data in fixture().sheets.items():
            (cwd / name).write_bytes(data)
        return cwd

    def check_disk_rows(self, rows):
        """Rows of (what, disk, outcome) for both builds, each program. The
        outcome is a failure message, or None for a run that must succeed and
        give what the clean disk's files along the same chains give; notices
        are the size notices a successful read prints (the changer prints them
        again when it writes). A disk cut short is said to be so first."""
        for b in BUILDS:
            sheet, written = clean_results(b)
            for what, disk, outcome, *notices in rows:
                short = short_of_disk("disk.img", len(b.wrap(disk)), b.offset)
                notice = "".join(notices)
                outcome = outcome if outcome is None else short + outcome
                cwd = self.scratch(b.wrap(disk))
                with self.subTest(build=str(b), row=what, program=b.extractor):
                    if outcome is not None:
                        self.run_row(b.extractor, cwd, ["--disk", "disk.img", "out.bmp"], outcome)
                    else:
                        got = self.run_row(b.extractor, cwd, ["--disk", "disk.img", "out.bmp"], short + notice,
                                           0, ["out.bmp"])
                        want = extracted_from(b, file_along(disk, "TILES.CH", TILES_LENGTH),
                                              file_along(disk, "NPC.CH", NPC_LENGTH))
                        self.assertSame(got["out.bmp"], want, "the sheet")
                with self.subTest(build=str(b), row=what, program=b.changer):
                    args = ["--disk", "disk.img", "--write", "out.img", SHEET, MASK]
                    if outcome is not None:
                        self.run_row(b.changer, cwd, args, outcome)
                    else:
                        got = self.run_row(b.changer, cwd, args, short + notice * 2, 0, ["out.img"])
                        self.assertSame(got["out.img"], b.wrap(written_along(disk, written)), "the written image")

    def test_images_cut_short_are_refused_before_any_lookup(self):
        f = fixture()
        for b in BUILDS:
            image = b.wrap(f.disk)
            lengths = [b.offset + k * UNIT for k in range(ROOT_END // UNIT + 1)]
            lengths += [0, 1, b.offset + ROOT_END - 1, b.offset + ROOT_END + 1, b.offset + ROOT_END + UNIT - 1]
            if b.offset:
                lengths += [b.offset - 1, b.offset + 1]
            for length in sorted(set(lengths)):
                if length == 0:
                    expected = "read error 'disk.img'\nread disk image error 'disk.img'\n"
                elif length < b.offset + ROOT_END:
                    expected = (f"disk image too short 'disk.img' {length} < {b.offset + ROOT_END}\n"
                                "read disk image error 'disk.img'\n")
                else:  # the root directory is whole, but not the first cluster
                    expected = short_of_disk("disk.img", length, b.offset) + fat_failed("TILES.CH")
                cwd = self.scratch(image[:length])
                for program, args in ((b.extractor, ["--disk", "disk.img", "out.bmp", "outmask.bmp"]),
                                      (b.changer, ["--disk", "disk.img", "--write", "out.img", SHEET, MASK])):
                    with self.subTest(build=str(b), length=length, program=program):
                        self.run_row(program, cwd, args, expected)

    def test_broken_cluster_chains_fail_without_reading_outside_the_image(self):
        f = fixture()

        def damaged(*entries, name="TILES.CH", first_cluster=None, cut=None, fill=None):
            """The disk with FAT entries set, the file's first cluster changed,
            a cluster filled with a pattern of its own, or cut short."""
            disk = bytearray(f.disk)
            for n, value in entries:
                set_fat(disk, n, value)
            if first_cluster is not None:
                struct.pack_into("<H", disk, find_entry(disk, name) + 26, first_cluster)
            if fill is not None:
                disk[ROOT_END + (fill - 2) * UNIT:ROOT_END + (fill - 1) * UNIT] = bytes([fill % 251]) * UNIT
            return bytes(disk[:cut])

        rows = []
        for name, chain in (("TILES.CH", f.tiles_chain), ("NPC.CH", f.npc_chain)):
            first, middle, last = chain[0], chain[40], chain[-1]

            # The chain itself: loops, free and reserved values, an early end,
            # clusters past the data area and past the image.
            rows += [
                (f"{name}: a cluster leads to itself", damaged((middle, middle)), fat_failed(name)),
                (f"{name}: a cluster leads back to the first", damaged((middle, first)), fat_failed(name)),
                (f"{name}: a cluster leads back one step", damaged((middle, chain[39])), fat_failed(name)),
                # FAT entries 0 and 1 (media byte and filler) made to lead on
                # into the file: only the cluster number stops these chains.
                (f"{name}: the chain leads to 0", damaged((middle, 0), (0, chain[41])), fat_failed(name)),
                (f"{name}: the chain leads to 1", damaged((middle, 1), (1, chain[41])), fat_failed(name)),
                (f"{name}: the chain ends one cluster early", damaged((chain[-2], 0xFFF)), fat_failed(name)),
                (f"{name}: a bad-cluster mark", damaged((middle, 0xFF7)), fat_failed(name)),
                (f"{name}: a cluster past the image", damaged((middle, LAST_CLUSTER + 1)), fat_failed(name)),
                (f"{name}: a cluster past the data area", damaged((middle, DISK_UNITS)), fat_failed(name)),
                (f"{name}: the largest cluster number", damaged((middle, 0xFFF)), fat_failed(name)),
                # The last cluster of the image is usable; past the file's
                # length the chain is not followed.
                (f"{name}: the chain passes through the image's last cluster",
                 damaged((middle, LAST_CLUSTER), (LAST_CLUSTER, chain[41]), fill=LAST_CLUSTER), None),
                (f"{name}: the last needed cluster leads back to the first", damaged((last, first)), None),
                (f"{name}: the last needed cluster leads to 0", damaged((last, 0)), None),
                # The directory's first cluster.
                (f"{name}: first cluster 0", damaged((0, chain[1]), name=name, first_cluster=0), fat_failed(name)),
                (f"{name}: first cluster 1", damaged((1, chain[1]), name=name, first_cluster=1), fat_failed(name)),
                (f"{name}: first cluster past the image", damaged(name=name, first_cluster=LAST_CLUSTER + 1),
                 fat_failed(name)),
                (f"{name}: first cluster 0xFFFF", damaged(name=name, first_cluster=0xFFFF), fat_failed(name)),
                (f"{name}: first cluster is the image's last", damaged(name=name, first_cluster=LAST_CLUSTER),
                 fat_failed(name)),
                # An image cut after the root directory whose FAT still
                # claims the whole disk: the chain runs off its end.
                (f"{name}: image ends inside the file", damaged(cut=ROOT_END + (middle - 2) * UNIT), fat_failed(name)),
                (f"{name}: image ends one byte short of the last cluster's end",
                 damaged(cut=ROOT_END + (last - 1) * UNIT - 1), fat_failed(name)),
            ]
        rows += [
            ("image ends with NPC.CH's last cluster", damaged(cut=ROOT_END + (f.npc_chain[-1] - 1) * UNIT), None),
            ("image ends half a cluster into NPC.CH",
             damaged(cut=ROOT_END + (f.npc_chain[0] - 2) * UNIT + UNIT // 2), fat_failed("NPC.CH")),
        ]
        self.check_disk_rows(rows)

    def test_directory_entries_are_matched_by_name_and_size_alone(self):
        f = fixture()
        tiles_entry = find_entry(f.disk, "TILES.CH")

        def entry(name=None, size=None, move_to=None, of="TILES.CH", deleted_copy=False):
            disk = bytearray(f.disk)
            at = find_entry(disk, of)
            if name is not None:
                disk[at:at + 11] = name
            if size is not None:
                struct.pack_into("<I", disk, at + 28, size)
            if move_to is not None:
                new = ROOT_DIR + move_to * 32
                disk[new:new + 32] = disk[at:at + 32]
                disk[at:at + 32] = bytes(32)
                if deleted_copy:  # what stays behind looks like the file, deleted, with no clusters
                    disk[at:at + 32] = b"\xe5" + disk[new + 1:new + 26] + bytes(6)
            return bytes(disk)

        lost = read_failed("TILES.CH", "can't find 'TILES.CH'")
        small = "file size error '{0}' {1} < {2}\nread disk image error 'disk.img/{0}'\n".format
        rows = [
            ("the deleted-file mark", entry(b"\xe5ILES   CH "), lost),
            ("all bytes 0xFF", entry(b"\xff" * 11), lost),
            ("lower-case name", entry(b"tiles   ch "), None),
            ("mixed-case name", entry(b"TiLeS   cH "), None),
            ("a control byte in the name", entry(b"TILES\x01  CH "), lost),
            ("zero bytes for the padding", entry(b"TILES\0\0\0CH\0"), lost),
            ("the dot stored in the name", entry(b"TILES.CH   "), lost),
            ("high-bit letters that fold to the name in Latin-1", entry(b"TILES   C\xc8 "), lost),
            ("the entry in the last slot, behind empty ones", entry(move_to=191, of="NPC.CH"), None),
            ("a deleted copy before the live entry", entry(move_to=20, deleted_copy=True), None),
            ("size 0", entry(size=0), small("TILES.CH", 0, TILES_LENGTH)),
            ("size 1", entry(size=1), small("TILES.CH", 1, TILES_LENGTH)),
            ("size one byte short", entry(size=TILES_LENGTH - 1), small("TILES.CH", TILES_LENGTH - 1, TILES_LENGTH)),
            ("NPC.CH one byte short", entry(size=NPC_LENGTH - 1, of="NPC.CH"),
             small("NPC.CH", NPC_LENGTH - 1, NPC_LENGTH)),
            ("size exact", entry(size=TILES_LENGTH), None),
            ("size one byte over", entry(size=TILES_LENGTH + 1), None, mismatch("TILES.CH", TILES_LENGTH + 1)),
            ("size 0x7FFFFFFF", entry(size=0x7FFFFFFF), None, mismatch("TILES.CH", 0x7FFFFFFF)),
            ("NPC.CH size 0x7FFFFFFF", entry(size=0x7FFFFFFF, of="NPC.CH"), None, mismatch("NPC.CH", 0x7FFFFFFF)),
            # Sizes are signed: from 0x80000000 on they are negative, so too small.
            ("size 0x80000000", entry(size=0x80000000), small("TILES.CH", -0x80000000, TILES_LENGTH)),
            ("size 0xFFFFFFFF", entry(size=0xFFFFFFFF), small("TILES.CH", -1, TILES_LENGTH)),
            ("NPC.CH size 0x80000000", entry(size=0x80000000, of="NPC.CH"), small("NPC.CH", -0x80000000, NPC_LENGTH)),
        ]
        self.assertEqual(tiles_entry, ROOT_DIR, "TILES.CH is not the first entry")
        self.check_disk_rows(rows)

    def test_bitmap_header_fields_at_their_limits(self):
        """Each header field of the sheet and of the mask set in turn to the
        edges of its range. Only the header size, planes, compression, bit
        count, data offset, width, height and data length are checked, and a
        file length that is too large is only warned about."""
        f = fixture()
        # name, offset in the file, bytes
        fields = [("file_size", 2, 4), ("reserved1", 6, 2), ("reserved2", 8, 2), ("data_offset", 10, 4),
                  ("header_size", 14, 4), ("width", 18, 4), ("height", 22, 4), ("planes", 26, 2),
                  ("bit_count", 28, 2), ("compression", 30, 4), ("image_size", 34, 4), ("x_resolution", 38, 4),
                  ("y_resolution", 42, 4), ("colors_used", 46, 4), ("colors_important", 50, 4)]
        edges = {4: (0, 1, 0x7FFFFFFF, 0x80000000, 0xFFFFFFFF), 2: (0, 1, 0x7FFF, 0x8000, 0xFFFF)}
        # per bitmap: bit count, data offset, row size, image size, file size
        kinds = {SHEET: ("shapes", 4, 0x76, 256, 0x40000, 0x40076), MASK: ("mask", 1, 0x3E, 64, 0x10000, 0x1003E)}
        check = "error: check_bitmap_header() - "

        def expected(kind, field, value):
            """The warnings of a bitmap that is read, or the check's message
            and False for one that is refused ('' for no message of the
            check)."""
            _, bits, offset, row, data, file_size = kind
            if field in ("reserved1", "reserved2", "x_resolution", "y_resolution", "colors_used", "colors_important"):
                return "", True
            if field == "file_size":
                if value > file_size:
                    return f"warning: check_bitmap_header() - file length 0x{value:X} > 0x{file_size:X}\n", True
                return f"{check}file length 0x{value:X} < 0x{file_size:X}\n", False
            if field == "header_size":
                return f"{check}not supported header type - support only Windows V3\n", False
            if field == "planes":
                return "", value == 1
            if field == "compression":
                return (f"{check}not support compression\n", False) if value else ("", True)
            if field == "bit_count":
                if value not in (1, 4, 8, 16, 24, 32):
                    return f"{check}unknown bit count\n", False
                if value == bits:
                    return "", True
                return f"{check}offset size 0x{offset:X} != 0x{54 + (4 << value if value <= 8 else 0):X}\n", False
            if field == "data_offset":
                return f"{check}offset size 0x{value:X} != 0x{offset:X}\n", False
            if field == "width":
                # From 2^31 - 1 pixels on the row size wraps: the message
                # gives the format's wrapped number.
                return f"{check}data length 0x{data:X} != 0x{checked_data_length(value, 1024, bits):X}\n", False
            if field == "height":
                return f"{check}data length 0x{data:X} != 0x{row * int32(value) & 0xFFFFFFFF:X}\n", False
            if field == "image_size":
                if value == 0:
                    return f"warning: check_bitmap_header() - data length is 0 ... corrected: 0x{data:X}\n", True
                return f"{check}data length 0x{value:X} != 0x{data:X}\n", False
            raise AssertionError(field)

        reference = {}
        for i, (target, kind) in enumerate(kinds.items()):
            b = BUILDS[i]  # the header check is one library: one build per bitmap is enough
            cwd = self.scratch(b.wrap(f.disk))
            args = ["--disk", "disk.img", "--write", "out.img", SHEET, MASK]
            reference[target] = self.run_row(b.changer, cwd, args, "", 0, ["out.img"])["out.img"]
            for field, at, width in fields:
                for value in edges[width]:
                    message, read = expected(kind, field, value)
                    bitmap = bytearray(f.sheets[target])
                    bitmap[at:at + width] = value.to_bytes(width, "little")
                    (cwd / target).write_bytes(bitmap)
                    with self.subTest(bitmap=target, field=field, value=hex(value)):
                        if read:
                            got = self.run_row(b.changer, cwd, args, message, 0, ["out.img"])
                            self.assertSame(got["out.img"], reference[target], "the image from the altered bitmap")
                        else:
                            self.run_row(b.changer, cwd, args, message + BAD_BITMAP.format(target, kind[0]))
            (cwd / target).write_bytes(f.sheets[target])


if __name__ == "__main__":
    unittest.main()
