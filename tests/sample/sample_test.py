#!/usr/bin/python3
"""Checks the sample data that make_sample writes, with independent tools.

usage: sample_test.py MAKE_SAMPLE MKFS_FAT FSCK_FAT MCOPY

The disk images are judged by fsck.fat and mtools; the shape and tile files
are unpacked here, by code that shares nothing with make_sample, and checked
for the properties the tools' adjustments need to be visible.
"""

import os
import re
import subprocess
import sys
import tempfile
import unittest

MAKE_SAMPLE = MKFS_FAT = FSCK_FAT = MCOPY = MDIR = TAIL = None

UNIT = 1024
UNITS = 1232
FDI_HEADER = 4096
ROOT_DIR = 5 * UNIT
ROOT_ENTRIES = 192
FAT = 1 * UNIT
FAT_BYTES = 2 * UNIT
DATA_CLUSTERS = UNITS - 11
OUTPUTS = ["KZ_Varnholm.fdi", "kz-varnholm.xdf", "TILES.16", "TILES.4"]
DISK_FILES = {"SAMPLE.TXT": None, "TILES.CH": 98304, "NPC.CH": 131072}
DUNGEON_GRASS = [5, *range(30, 39), *range(48, 56), 76, *range(96, 112)]


def run(args, **kwargs):
    return subprocess.run(args, capture_output=True, **kwargs)


def mtools_image(path):
    """mtools reads an FDI's disk after its header through the @@offset suffix."""
    return path + "@@%d" % FDI_HEADER if path.endswith(".fdi") else path


def fat12_entry(fat, n):
    v = fat[n * 3 // 2] | fat[n * 3 // 2 + 1] << 8
    return v >> 4 if n % 2 else v & 0xFFF


def triangle_half(k, size):
    """Pixel indices of half k of a square: 0 upper left, 1 upper right,
    2 lower right, 3 lower left, each with its diagonal."""
    inside = [lambda x, y: x + y <= size - 1, lambda x, y: x >= y,
              lambda x, y: x + y >= size - 1, lambda x, y: x <= y][k]
    return {y * size + x for y in range(size) for x in range(size) if inside(x, y)}


def drawn(picture):
    return {i for i, v in enumerate(picture) if v != 0}


def planar_shapes(data, planes):
    """Decodes a planar shape file into 256 lists of 32 x 32 colour indices."""
    shapes = []
    for n in range(256):
        record = data[n * planes * 128:(n + 1) * planes * 128]
        pixels = []
        for y in range(32):
            for x in range(32):
                v = 0
                for p in range(planes):
                    if record[p * 128 + y * 4 + x // 8] & (0x80 >> (x % 8)):
                        v |= 1 << p
                pixels.append(v)
        shapes.append(pixels)
    return shapes


def packed_tiles(data, bits):
    """Decodes a tile file into 512 lists of 16 x 16 colour indices."""
    per_byte = 8 // bits
    tiles = []
    for t in range(512):
        pixels = []
        for y in range(16):
            for x in range(16):
                byte = data[(t * 256 + y * 16 + x) // per_byte]
                shift = 8 - (x % per_byte + 1) * bits
                pixels.append(byte >> shift & ((1 << bits) - 1))
        tiles.append(pixels)
    return tiles


class SampleDataTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.first = os.path.join(cls.scratch.name, "first", "nested")
        cls.second = os.path.join(cls.scratch.name, "second")
        cls.result = run([MAKE_SAMPLE, cls.first], text=True)
        cls.result_again = run([MAKE_SAMPLE, cls.second], text=True)
        cls.files = {}
        for name in OUTPUTS:
            path = os.path.join(cls.first, name)
            if os.path.exists(path):
                with open(path, "rb") as f:
                    cls.files[name] = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def path(self, name):
        return os.path.join(self.first, name)

    def mcopy(self, image, name):
        result = run([MCOPY, "-n", "-i", mtools_image(self.path(image)), "::" + name, "-"])
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def assert_water_shows(self, pictures, size, triangle_refs):
        """Where the water remake puts water, the picture must look unlike
        the water shape, or the remake would go unseen."""
        regions = {n: drawn(pictures[n + 16]) for n in range(96, 112)}
        for k in range(4):
            if triangle_refs:
                regions[52 + k] = drawn(pictures[208 + k])
                regions[228 + k] = set(range(size * size)) - drawn(pictures[208 + k])
            else:
                regions[52 + k] = triangle_half(k, size)
                regions[228 + k] = triangle_half((k + 2) % 4, size)
        water = pictures[3]
        for n, region in regions.items():
            with self.subTest(remade=n):
                self.assertGreater(len(region), size, "too little becomes water")
                changed = sum(1 for i in region if pictures[n][i] != water[i])
                self.assertGreater(changed, len(region) // 2)

    def test_reports_each_file_written_and_succeeds(self):
        self.assertEqual(self.result.returncode, 0, self.result.stdout)
        self.assertEqual(self.result.stderr, "")
        expected = ["wrote " + self.path(name) for name in OUTPUTS]
        self.assertEqual(self.result.stdout.splitlines(), expected)

    def test_second_run_gives_identical_bytes(self):
        self.assertEqual(self.result_again.returncode, 0, self.result_again.stdout)
        for name in OUTPUTS:
            with self.subTest(name), open(os.path.join(self.second, name), "rb") as f:
                self.assertEqual(f.read(), self.files[name])

    def test_fdi_is_a_nonblank_header_then_the_xdf(self):
        fdi, xdf = self.files["KZ_Varnholm.fdi"], self.files["kz-varnholm.xdf"]
        self.assertEqual(len(xdf), UNITS * UNIT)
        self.assertEqual(len(fdi), FDI_HEADER + UNITS * UNIT)
        self.assertEqual(fdi[FDI_HEADER:], xdf)
        self.assertNotEqual(fdi[:FDI_HEADER], bytes(FDI_HEADER))

    def test_fsck_finds_no_fault_in_either_image(self):
        disk_part = os.path.join(self.scratch.name, "fdi-disk.img")
        with open(disk_part, "wb") as out:
            tail = subprocess.run([TAIL, "-c", "+%d" % (FDI_HEADER + 1), self.path("KZ_Varnholm.fdi")],
                                  stdout=out, stderr=subprocess.PIPE)
        self.assertEqual(tail.returncode, 0, tail.stderr)
        for image in (self.path("kz-varnholm.xdf"), disk_part):
            with self.subTest(image):
                result = run([FSCK_FAT, "-n", image], text=True)
                self.assertEqual(result.returncode, 0, result.stdout)
                # A clean check prints only its version and the summary.
                self.assertEqual(len(result.stdout.splitlines()), 2, result.stdout)

    def test_boot_sector_matches_what_mkfs_fat_makes(self):
        reference = os.path.join(self.scratch.name, "mkfs.img")
        result = run([MKFS_FAT, "-C", "-S", "1024", "-s", "1", "-f", "2", "-F", "12", "-r", "192", "-R", "1",
                      "-M", "0xfe", "-h", "0", "-g", "2/8", "-n", "VARNHOLM", reference, str(UNITS)], text=True)
        self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
        with open(reference, "rb") as f:
            expected = f.read(UNIT)
        boot = self.files["kz-varnholm.xdf"][:UNIT]
        # The parameter block, the extended block up to its signature, the
        # label and the type; OEM name, serial number and boot code are free.
        for first, end in ((0x0B, 0x27), (0x2B, 0x3E), (510, 512)):
            with self.subTest(first=first):
                self.assertEqual(boot[first:end].hex(), expected[first:end].hex())
        self.assertEqual(boot[0], 0xEB, "no jump at the start")

    def test_mdir_lists_label_and_files_with_their_sizes(self):
        for image in ("kz-varnholm.xdf", "KZ_Varnholm.fdi"):
            with self.subTest(image):
                result = run([MDIR, "-i", mtools_image(self.path(image)), "::"], text=True)
                self.assertEqual(result.returncode, 0, result.stderr)
                self.assertRegex(result.stdout, r"Volume in drive : is VARNHOLM")
                listed = {}
                for m in re.finditer(r"^(\S+)\s+(\S{1,3})\s+(\d+) \d{4}-", result.stdout, re.M):
                    listed[m.group(1) + "." + m.group(2)] = int(m.group(3))
                for name, size in DISK_FILES.items():
                    self.assertIn(name, listed)
                    if size is not None:
                        self.assertEqual(listed[name], size, name)
                self.assertEqual(len(listed), 4, "SAMPLE.TXT, TILES.CH, NPC.CH and the decoy")

    def test_mcopy_gives_the_same_shape_files_from_both_images(self):
        for name in ("TILES.CH", "NPC.CH"):
            with self.subTest(name):
                from_xdf = self.mcopy("kz-varnholm.xdf", name)
                self.assertEqual(len(from_xdf), DISK_FILES[name])
                self.assertEqual(self.mcopy("KZ_Varnholm.fdi", name), from_xdf)

    def test_npc_ch_chain_is_fragmented(self):
        disk = self.files["kz-varnholm.xdf"]
        fat = disk[FAT:FAT + FAT_BYTES]
        entry = None
        for i in range(ROOT_ENTRIES):
            raw = disk[ROOT_DIR + 32 * i:ROOT_DIR + 32 * i + 32]
            if raw[:11] == b"NPC     CH ":
                entry = raw
                break
        self.assertIsNotNone(entry)
        cluster = int.from_bytes(entry[26:28], "little")
        chain = []
        while 2 <= cluster < 2 + DATA_CLUSTERS and len(chain) <= DATA_CLUSTERS:
            chain.append(cluster)
            cluster = fat12_entry(fat, cluster)
        self.assertGreaterEqual(cluster, 0xFF8, "chain must end in an end-of-chain mark")
        self.assertEqual(len(chain), 131072 // UNIT)
        jumps = [(a, b) for a, b in zip(chain, chain[1:]) if b != a + 1]
        self.assertGreaterEqual(len(jumps), 1, "NPC.CH is stored in one piece")
        # Reading along the chain by hand must give what mtools gives.
        data = b"".join(disk[(c + 9) * UNIT:(c + 10) * UNIT] for c in chain)
        self.assertEqual(data, self.mcopy("kz-varnholm.xdf", "NPC.CH"))
        contiguous = disk[(chain[0] + 9) * UNIT:(chain[0] + 9) * UNIT + len(data)]
        self.assertNotEqual(contiguous, data)

    def test_shape_pictures_make_the_adjustments_visible(self):
        tiles = planar_shapes(self.mcopy("kz-varnholm.xdf", "TILES.CH"), 3)
        npcs = planar_shapes(self.mcopy("kz-varnholm.xdf", "NPC.CH"), 4)
        self.assertEqual(len({bytes(s) for s in tiles}), 256, "two landform shapes look the same")
        self.assertEqual(len({bytes(s) for s in npcs}), 256, "two NPC shapes look the same")
        water = tiles[3]
        self.assertEqual(set(water), {1, 5, 7}, "water shape is not blue, cyan and white")
        for n in DUNGEON_GRASS:
            with self.subTest(grass=n):
                self.assertIn(2, tiles[n])
                self.assertIn(4, tiles[n])
        for n in range(112, 128):
            with self.subTest(shore=n):
                self.assertIn(0, tiles[n])
                self.assertTrue(any(tiles[n]))
        self.assert_water_shows(tiles, 32, triangle_refs=False)
        for n, shape in enumerate(npcs):
            with self.subTest(npc=n):
                self.assertIn(8, shape, "no black outline in the mask")
                self.assertTrue(any(v > 8 for v in shape), "no coloured figure in the mask")
                self.assertTrue(any(0 < v < 8 for v in shape), "number not drawn outside the mask")

    def test_tile_files_have_their_sizes_and_pictures(self):
        for name, bits, size, grass_colour in (("TILES.16", 4, 65536, 2), ("TILES.4", 2, 32768, 1)):
            with self.subTest(name):
                data = self.files[name]
                self.assertEqual(len(data), size)
                tiles = packed_tiles(data, bits)
                self.assertEqual(len({bytes(t) for t in tiles}), 512, "two tiles look the same")
                for n in DUNGEON_GRASS:
                    self.assertIn(grass_colour, tiles[n], "grass tile %d" % n)
                for n in range(112, 128):
                    self.assertIn(0, tiles[n])
                    self.assertTrue(any(tiles[n]))
                self.assert_water_shows(tiles, 16, triangle_refs=True)
                # The converter's triangle references: drawn exactly on
                # their half, diagonal included, number and all.
                for k in range(4):
                    self.assertEqual(drawn(tiles[208 + k]), triangle_half(k, 16), "tile %d" % (208 + k))


class FailureTest(unittest.TestCase):
    def setUp(self):
        self.scratch = tempfile.TemporaryDirectory()

    def tearDown(self):
        self.scratch.cleanup()

    def assert_fails_on_stdout(self, args, fragment):
        result = run([MAKE_SAMPLE, *args], text=True)
        self.assertEqual(result.returncode, 1, result.stdout)
        self.assertEqual(result.stderr, "")
        self.assertIn(fragment, result.stdout)
        return result

    def test_missing_argument_prints_usage_and_fails(self):
        self.assert_fails_on_stdout([], "usage: make_sample OUTPUT_DIR")
        self.assert_fails_on_stdout(["a", "b"], "usage: make_sample OUTPUT_DIR")

    def test_output_dir_that_is_a_file_fails(self):
        blocker = os.path.join(self.scratch.name, "file")
        with open(blocker, "w") as f:
            f.write("x")
        self.assert_fails_on_stdout([blocker], blocker)

    def test_unwritable_output_file_is_not_reported_as_written(self):
        os.mkdir(os.path.join(self.scratch.name, "TILES.16"))
        result = self.assert_fails_on_stdout([self.scratch.name], "TILES.16")
        self.assertNotIn("wrote " + os.path.join(self.scratch.name, "TILES.16"), result.stdout)
        self.assertFalse(os.path.exists(os.path.join(self.scratch.name, "TILES.4")))

    @unittest.skipUnless(os.path.exists("/dev/full"), "needs /dev/full")
    def test_full_disk_is_not_reported_as_written(self):
        # Opening succeeds; the data cannot be flushed, so only a checked
        # write and close notice.
        os.symlink("/dev/full", os.path.join(self.scratch.name, "TILES.4"))
        result = self.assert_fails_on_stdout([self.scratch.name], "TILES.4")
        self.assertNotIn("wrote " + os.path.join(self.scratch.name, "TILES.4"), result.stdout)


if __name__ == "__main__":
    MAKE_SAMPLE, MKFS_FAT, FSCK_FAT, MCOPY = sys.argv[1:5]
    MDIR = os.path.join(os.path.dirname(MCOPY), "mdir")
    TAIL = "tail"
    unittest.main(argv=sys.argv[:1] + sys.argv[5:])
