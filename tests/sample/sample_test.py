#!/usr/bin/python3
"""Checks the sample data that make_sample writes, with independent tools.

usage: sample_test.py MAKE_SAMPLE FSCK_FAT MCOPY FLOPTOOL

fsck.fat and mtools judge the disk images, MAME's floptool the containers;
the shape files are unpacked here, by code that shares nothing with
make_sample.
"""

import os
import re
import stat
import subprocess
import sys
import tempfile
import unittest

MAKE_SAMPLE = FSCK_FAT = MCOPY = FLOPTOOL = None
UNIT, UNITS, FDI_HEADER = 1024, 1232, 4096
CONTAINERS = {"KZ_Varnholm.fdi": ("pc98_fdi", "pc98"), "KZ_Varnholm.hdm": ("pc98", "pc98"),
              "KZ_Varnholm.d88": ("d88", "pc98"), "KZ_Varnholm.nfd": ("nfd", "pc98"),
              "KZ_Varnholm.fdd": ("fdd", "pc98"), "kz-varnholm.dim": ("dim", "xdf")}
OUTPUTS = ["KZ_Varnholm.fdi", "kz-varnholm.xdf", "TILES.16", "TILES.4", *list(CONTAINERS)[1:]]
SHAPE_FILES = {"TILES.CH": 98304, "NPC.CH": 131072}
DUNGEON_GRASS = [5, *range(30, 39), *range(48, 56), 76, *range(96, 112)]


def run(*args, text=True):
    return subprocess.run(args, capture_output=True, text=text)


def planar_shapes(data, planes):
    """256 shapes of 32 x 32 colour indices; plane p holds bit p, leftmost pixel in bit 7."""
    size = planes * 128
    return [[sum(1 << p for p in range(planes) if data[n * size + p * 128 + y * 4 + x // 8] & 0x80 >> x % 8)
             for y in range(32) for x in range(32)] for n in range(256)]


class SampleDataTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.scratch = tempfile.TemporaryDirectory()
        cls.dirs = [os.path.join(cls.scratch.name, "first", "nested"), os.path.join(cls.scratch.name, "second")]
        cls.results = [run(MAKE_SAMPLE, d) for d in cls.dirs]
        cls.files = [{}, {}]
        for files, d in zip(cls.files, cls.dirs):
            for name in OUTPUTS:
                if os.path.exists(os.path.join(d, name)):
                    with open(os.path.join(d, name), "rb") as f:
                        files[name] = f.read()

    @classmethod
    def tearDownClass(cls):
        cls.scratch.cleanup()

    def image(self, name):
        """The image for mtools, which finds an FDI's disk after the header through @@offset."""
        path = os.path.join(self.dirs[0], name)
        return path + "@@%d" % FDI_HEADER if name.endswith(".fdi") else path

    def mcopy(self, image, name):
        result = run(MCOPY, "-n", "-i", self.image(image), "::" + name, "-", text=False)
        self.assertEqual(result.returncode, 0, result.stderr)
        return result.stdout

    def test_every_run_writes_the_same_files(self):
        for result, d, files in zip(self.results, self.dirs, self.files):
            self.assertEqual((result.returncode, result.stderr), (0, ""), result.stdout)
            self.assertEqual(result.stdout.splitlines(), ["wrote " + os.path.join(d, n) for n in OUTPUTS])
        self.assertEqual(self.files[0], self.files[1])
        self.assertEqual([len(self.files[0][n]) for n in ("TILES.16", "TILES.4")], [65536, 32768])

    def test_fdi_is_a_header_then_the_xdf_and_fsck_finds_no_fault(self):
        fdi, xdf = self.files[0]["KZ_Varnholm.fdi"], self.files[0]["kz-varnholm.xdf"]
        self.assertEqual(len(xdf), UNITS * UNIT)
        self.assertEqual(fdi[FDI_HEADER:], xdf)
        self.assertNotEqual(fdi[:FDI_HEADER], bytes(FDI_HEADER))
        disk_part = os.path.join(self.scratch.name, "fdi-disk.img")
        with open(disk_part, "wb") as f:
            f.write(fdi[FDI_HEADER:])
        for image in (self.image("kz-varnholm.xdf"), disk_part):
            result = run(FSCK_FAT, "-n", image)
            # A clean check prints only its version and the summary.
            self.assertEqual((result.returncode, len(result.stdout.splitlines())), (0, 2), result.stdout)

    def test_floptool_takes_every_container_for_the_same_disk(self):
        xdf = self.files[0]["kz-varnholm.xdf"]
        for name, (kind, raw) in CONTAINERS.items():
            with self.subTest(name):
                identified = run(FLOPTOOL, "identify", os.path.join(self.dirs[0], name)).stdout
                self.assertRegex(identified, r"- %s +\S" % kind)
                out = os.path.join(self.scratch.name, name + ".raw")
                result = run(FLOPTOOL, "flopconvert", kind, raw, os.path.join(self.dirs[0], name), out)
                self.assertEqual(result.returncode, 0, result.stdout + result.stderr)
                with open(out, "rb") as f:
                    self.assertTrue(f.read() == xdf, "%s is not the sample disk" % name)

    def test_both_images_hold_the_files_with_their_sizes(self):
        mdir = run(os.path.join(os.path.dirname(MCOPY), "mdir"), "-i", self.image("kz-varnholm.xdf"), "::")
        listed = {m[1] + "." + m[2]: int(m[3]) for m in re.finditer(r"^(\S+)\s+(\S{1,3})\s+(\d+) \d{4}-",
                                                                       mdir.stdout, re.M)}
        self.assertEqual(len(listed), 4, mdir.stdout)  # SAMPLE.TXT, the shape files and a decoy
        self.assertIn("SAMPLE.TXT", listed)
        for name, size in SHAPE_FILES.items():
            with self.subTest(name):
                self.assertEqual(listed[name], size)
                from_xdf = self.mcopy("kz-varnholm.xdf", name)
                self.assertEqual(len(from_xdf), size)
                self.assertEqual(self.mcopy("KZ_Varnholm.fdi", name), from_xdf)

    def test_npc_ch_is_fragmented(self):
        disk = self.files[0]["kz-varnholm.xdf"]
        root = [disk[p:p + 32] for p in range(5 * UNIT, 11 * UNIT, 32)]
        cluster = next(int.from_bytes(e[26:28], "little") for e in root if e[:11] == b"NPC     CH ")
        chain = []
        while 2 <= cluster < UNITS - 9 and len(chain) <= UNITS:
            chain.append(cluster)
            at = UNIT + cluster * 3 // 2
            value = disk[at] | disk[at + 1] << 8
            cluster = value >> 4 if cluster % 2 else value & 0xFFF
        self.assertGreaterEqual(cluster, 0xFF8, "chain must end in an end-of-chain mark")
        self.assertEqual(len(chain), 128)
        self.assertTrue(any(b != a + 1 for a, b in zip(chain, chain[1:])), "NPC.CH is stored in one piece")
        self.assertEqual(b"".join(disk[(c + 9) * UNIT:(c + 10) * UNIT] for c in chain),
                         self.mcopy("kz-varnholm.xdf", "NPC.CH"))

    def test_shapes_show_what_the_tools_change(self):
        tiles = planar_shapes(self.mcopy("kz-varnholm.xdf", "TILES.CH"), 3)
        self.assertEqual(set(tiles[3]), {1, 5, 7}, "water shape is not blue, cyan and white")
        for n in DUNGEON_GRASS:
            self.assertTrue({2, 4} <= set(tiles[n]), "grass shape %d is not red and green" % n)
        for n, shape in enumerate(planar_shapes(self.mcopy("kz-varnholm.xdf", "NPC.CH"), 4)):
            self.assertIn(8, shape, "no black outline in the mask of NPC %d" % n)
            self.assertTrue(any(v > 8 for v in shape), "no coloured figure in the mask of NPC %d" % n)


class FailureTest(unittest.TestCase):
    def test_failures_end_with_status_1_and_a_message_on_stdout(self):
        scratch = tempfile.TemporaryDirectory()
        self.addCleanup(scratch.cleanup)
        blocker = os.path.join(scratch.name, "file")
        with open(blocker, "w") as f:
            f.write("x")
        blocked, full = os.path.join(scratch.name, "blocked"), os.path.join(scratch.name, "full")
        os.makedirs(os.path.join(blocked, "TILES.16"))
        cases = [([], "usage: make_sample OUTPUT_DIR"), (["a", "b"], "usage: make_sample OUTPUT_DIR"),
                 ([blocker], blocker), ([blocked], "TILES.16")]
        # A full disk shows only when the data is flushed. Never write to a
        # file posing as /dev/full.
        full_is_device = stat.S_ISCHR(os.stat("/dev/full").st_mode)
        if full_is_device:
            os.makedirs(full)
            os.symlink("/dev/full", os.path.join(full, "TILES.4"))
            cases.append(([full], "TILES.4"))
        for args, message in cases:
            with self.subTest(args):
                result = run(MAKE_SAMPLE, *args)
                self.assertEqual((result.returncode, result.stderr), (1, ""), result.stdout)
                self.assertIn(message, result.stdout)
                self.assertNotRegex(result.stdout, "wrote .*" + re.escape(message))
        self.assertFalse(os.path.exists(os.path.join(blocked, "TILES.4")), "went on after a failure")
        self.assertTrue(full_is_device, "/dev/full is not a character device")


if __name__ == "__main__":
    MAKE_SAMPLE, FSCK_FAT, MCOPY, FLOPTOOL = sys.argv[1:5]
    unittest.main(argv=sys.argv[:1] + sys.argv[5:])
