"""Shared harness of the end-to-end tests.

The programs are run as a user runs them: in a scratch directory, with
arguments, with standard input given explicitly (never the terminal), and
with a time limit. Fixtures come from independent tools: disk images from
mkfs.fat and mcopy, bitmaps from Pillow, ImageMagick and netpbm. The game's
formats are modelled here in a few plain functions, written from the format
descriptions and not from the programs, to say what the outputs must hold.
"""

import atexit
import functools
import os
import resource
import shlex
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import threading
import unittest
from dataclasses import dataclass
from pathlib import Path

TIMEOUT = 60

HERE = Path(__file__).resolve().parent
SOURCE_ROOT = HERE.parents[1]


def _tool(env_name, name, *search):
    path = os.environ.get(env_name) if env_name else None
    if path:
        return path
    for directory in search:
        candidate = Path(directory) / name
        if candidate.exists():
            return str(candidate)
    found = shutil.which(name)
    if not found:
        raise RuntimeError(f"{name} is not installed; the end-to-end tests need it")
    return found


BIN_DIR = Path(os.environ.get("KZ_BIN_DIR", SOURCE_ROOT / "build" / "release" / "tools"))
SAMPLE = Path(os.environ.get("KZ_SAMPLE", SOURCE_ROOT / "build" / "release" / "scripts" / "make_sample"))
MKFS_FAT = _tool("KZ_MKFS_FAT", "mkfs.fat", "/usr/sbin", "/sbin")
FSCK_FAT = _tool("KZ_FSCK_FAT", "fsck.fat", "/usr/sbin", "/sbin")
MCOPY = _tool("KZ_MCOPY", "mcopy", "/usr/bin")
MDEL = str(Path(MCOPY).with_name("mdel"))
CONVERT = _tool(None, "convert", "/usr/bin")
IDENTIFY = _tool(None, "identify", "/usr/bin")
BMPTOPNM = _tool(None, "bmptopnm", "/usr/bin")
PPMTOBMP = _tool(None, "ppmtobmp", "/usr/bin")

# The environment for the independent tools: mtools must not ask about the
# unusual geometry, and nothing may depend on the user's locale.
TOOL_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C")


# --------------------------------------------------------------------------
# The programs


@dataclass(frozen=True)
class DiskBuild:
    """One build of the extractor/changer pair: PC-98 (FDI) or X68000 (XDF)."""

    extractor: str
    changer: str
    offset: int
    default_image: str
    image_format: str

    def wrap(self, disk):
        """The image file of this build that holds the given disk bytes."""
        return FDI_HEADER + bytes(disk) if self.offset else bytes(disk)

    def unwrap(self, image):
        return bytes(image[self.offset:])

    @property
    def default_output(self):
        stem, ext = self.default_image.rsplit(".", 1)
        return f"{stem}.NEW.{ext}"

    def __str__(self):
        return self.image_format


PC98 = DiskBuild("kzpc98shapes", "kzpc98chg_shapes", 4096, "KZ_Varnholm.fdi", "fdi")
X68K = DiskBuild("kzx68kshapes", "kzx68kchg_shapes", 0, "kz-varnholm.xdf", "xdf")
BUILDS = (PC98, X68K)
CONVERTER = "kzega_shapes"

# An FDI header is never interpreted, only carried along; this one is
# non-zero and asymmetric so that a program that touches it, drops it or
# reads disk data from it is caught.
FDI_HEADER = bytes(((i * 37 + (i >> 8) * 11 + 1) % 255) + 1 for i in range(4096))


@dataclass
class Run:
    argv: list
    cwd: Path
    stdin: bytes
    status: int
    stdout: bytes
    stderr: bytes
    max_rss_kb: int = 0

    def repeat(self):
        return (f"cd {shlex.quote(str(self.cwd))} && printf %s {shlex.quote(self.stdin.decode('latin-1'))} | "
                + shlex.join(self.argv))


def _limit_file_size(limit):
    """A child whose files cannot grow beyond limit bytes: writes past it fail
    (EFBIG) instead of killing the program, as on a full disk."""
    def apply():
        signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
        resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    return apply


def run_program(program, args, cwd, stdin=b"", file_size_limit=None):
    """Runs one of our programs with the given standard input and a time
    limit; also learns the most memory it held (its own rusage, from wait4)."""
    argv = [str(BIN_DIR / program), *[str(a) for a in args]]
    with tempfile.TemporaryFile() as fin, tempfile.TemporaryFile() as fout, tempfile.TemporaryFile() as ferr:
        fin.write(stdin)
        fin.seek(0)
        limit = _limit_file_size(file_size_limit) if file_size_limit is not None else None
        proc = subprocess.Popen(argv, cwd=cwd, stdin=fin, stdout=fout, stderr=ferr, preexec_fn=limit)
        killed = threading.Event()

        def kill():
            killed.set()
            proc.kill()

        timer = threading.Timer(TIMEOUT, kill)
        timer.start()
        try:
            _, wait_status, usage = os.wait4(proc.pid, 0)
        finally:
            timer.cancel()
        proc.returncode = os.waitstatus_to_exitcode(wait_status)
        if killed.is_set():
            raise subprocess.TimeoutExpired(argv, TIMEOUT)
        fout.seek(0)
        ferr.seek(0)
        return Run(argv, Path(cwd), stdin, proc.returncode, fout.read(), ferr.read(), usage.ru_maxrss)


def tool(*argv, stdin=None, cwd=None):
    """Runs an independent tool that must succeed; returns its standard output."""
    proc = subprocess.run([str(a) for a in argv], input=stdin, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE, timeout=TIMEOUT, cwd=cwd, env=TOOL_ENV)
    if proc.returncode != 0:
        raise AssertionError(f"{shlex.join(str(a) for a in argv)} failed with {proc.returncode}: "
                             f"{proc.stderr.decode(errors='replace')}")
    return proc.stdout


def snapshot(directory):
    """Every file and directory below a directory: relative path -> bytes (None for directories)."""
    tree = {}
    for root, dirs, files in os.walk(directory):
        for name in dirs:
            tree[os.path.relpath(os.path.join(root, name), directory)] = None
        for name in files:
            path = os.path.join(root, name)
            tree[os.path.relpath(path, directory)] = Path(path).read_bytes()
    return tree


class KzTestCase(unittest.TestCase):
    maxDiff = 4000

    def scratch(self):
        path = tempfile.mkdtemp(prefix="kz-e2e-")
        self.addCleanup(shutil.rmtree, path, True)
        return Path(path)

    def run_tool(self, program, *args, cwd, stdin=b"", status=None, stdout=None, file_size_limit=None):
        """Runs one of our programs; standard error must stay empty and the
        status must be 0 or 1 (never a crash); status and stdout are checked
        when given (stdout as text or bytes, compared byte for byte)."""
        try:
            run = run_program(program, args, cwd, stdin, file_size_limit)
        except subprocess.TimeoutExpired:
            self.fail(f"{program} {shlex.join(str(a) for a in args)} did not end within {TIMEOUT} s")
        context = f"\n  repeat: {run.repeat()}\n  stdout: {run.stdout!r}"
        self.assertEqual(run.stderr.decode(errors="replace"), "", "standard error must stay empty" + context)
        self.assertIn(run.status, (0, 1), "exit status" + context)
        if status is not None:
            self.assertEqual(run.status, status, "exit status" + context)
        if stdout is not None:
            expected = stdout.encode() if isinstance(stdout, str) else stdout
            self.assertEqual(run.stdout.decode(errors="replace"), expected.decode(errors="replace"),
                             "standard output" + context)
        return run

    def full_device(self):
        """/dev/full, checked to be the device that fails every write. The
        programs must write to it in place; a program that put a file of its
        own there would break it for everyone, so its state is checked again
        when the test ends."""
        def check(when):
            mode = os.stat("/dev/full").st_mode
            self.assertTrue(stat.S_ISCHR(mode), f"/dev/full is not the full device {when} "
                            "(restore it with: mknod -m 666 /dev/full c 1 7)")
        check("before the test")
        self.addCleanup(check, "after the test: a program replaced it")
        return "/dev/full"

    def assertTreeUnchanged(self, before, directory, msg=""):
        after = snapshot(directory)
        self.assertEqual(sorted(after), sorted(before), f"files in {directory} {msg}")
        for name, content in before.items():
            self.assertTrue(after[name] == content, f"{name} changed {msg}")

    def assertPixelsEqual(self, actual, expected, width, msg=""):
        """Compares two one-byte-per-pixel pictures and names the first difference."""
        self.assertEqual(len(actual), len(expected), f"picture size {msg}")
        if actual == expected:
            return
        diffs = [i for i in range(len(actual)) if actual[i] != expected[i]]
        first = diffs[0]
        self.fail(f"{len(diffs)} pixels differ {msg}; first at x={first % width} y={first // width}: "
                  f"{actual[first]} instead of {expected[first]}")


# --------------------------------------------------------------------------
# FAT12 disk images made by mkfs.fat and mtools

DISK_UNITS = 1232
UNIT = 1024
FAT_OFFSET = 1024
ROOT_DIR = 5120
ROOT_END = 11264
CLUSTER_BASE = 9216
MKFS_ARGS = ["-C", "-S", "1024", "-s", "1", "-f", "2", "-F", "12", "-r", "192", "-R", "1",
             "-M", "0xfe", "-h", "0", "-i", "4b5a3938"]


def build_disk(steps):
    """Makes a 1232 x 1024-byte FAT12 disk (the Varnholm disk's geometry) with
    mkfs.fat and applies the steps with mtools: ("copy", NAME, data) or
    ("delete", NAME). Returns the disk bytes."""
    with tempfile.TemporaryDirectory(prefix="kz-disk-") as work:
        image = os.path.join(work, "disk.img")
        tool(MKFS_FAT, *MKFS_ARGS, image, DISK_UNITS)
        for step in steps:
            if step[0] == "copy":
                _, name, data = step
                source = os.path.join(work, name)
                Path(source).write_bytes(data)
                tool(MCOPY, "-i", image, source, "::" + name)
            elif step[0] == "delete":
                tool(MDEL, "-i", image, "::" + step[1])
            else:
                raise ValueError(step)
        return Path(image).read_bytes()


def shape_disk(tiles, npc, extra=()):
    """A disk holding the two shape files, after the files of extra."""
    return build_disk([*[("copy", n, d) for n, d in extra], ("copy", "TILES.CH", tiles),
                       ("copy", "NPC.CH", npc)])


def fragmented_disk(tiles, npc):
    """NPC.CH fills the hole that a deleted file left in front of TILES.CH and
    continues after it, so its cluster chain jumps."""
    return build_disk([("copy", "FILLER.BIN", bytes(5 * UNIT)), ("copy", "TILES.CH", tiles),
                       ("delete", "FILLER.BIN"), ("copy", "NPC.CH", npc)])


def mcopy_out(image_path, name, offset=0):
    """A file's content as mtools reads it from an image file."""
    target = f"{image_path}@@{offset}" if offset else str(image_path)
    return tool(MCOPY, "-i", target, "::" + name, "-")


def fsck(disk):
    """fsck.fat -n over the disk bytes; returns its output, fails when it finds faults."""
    with tempfile.TemporaryDirectory(prefix="kz-fsck-") as work:
        path = os.path.join(work, "disk.img")
        Path(path).write_bytes(disk)
        return tool(FSCK_FAT, "-n", path).decode()


def dir_name(name):
    stem, _, ext = name.partition(".")
    return (stem.ljust(8) + ext.ljust(3)).encode()


def find_entry(disk, name):
    """Offset in the disk of the root directory entry with that 11-byte name."""
    wanted = dir_name(name) if "." in name or len(name) < 11 else name.encode()
    for offset in range(ROOT_DIR, ROOT_END, 32):
        if disk[offset:offset + 11] == wanted:
            return offset
    raise KeyError(name)


def rename_entry(disk, name, new11):
    offset = find_entry(disk, name)
    disk[offset:offset + 11] = new11


def set_entry_size(disk, name, size):
    offset = find_entry(disk, name)
    struct.pack_into("<I", disk, offset + 28, size)


def fat_get(disk, n):
    pos = FAT_OFFSET + n * 3 // 2
    v = disk[pos] | disk[pos + 1] << 8
    return v >> 4 if n & 1 else v & 0xFFF


def fat_set(disk, n, value):
    """Sets entry n in the first FAT (the only one the programs read)."""
    pos = FAT_OFFSET + n * 3 // 2
    v = disk[pos] | disk[pos + 1] << 8
    v = (v & 0x000F) | value << 4 if n & 1 else (v & 0xF000) | value
    disk[pos] = v & 0xFF
    disk[pos + 1] = v >> 8


def file_clusters(disk, name):
    """The cluster chain of a file, as far as its directory size needs."""
    offset = find_entry(disk, name)
    size = struct.unpack_from("<I", disk, offset + 28)[0]
    n = struct.unpack_from("<H", disk, offset + 26)[0]
    chain = []
    for _ in range((size + UNIT - 1) // UNIT):
        chain.append(n)
        n = fat_get(disk, n)
    return chain


def cluster_range(n):
    start = CLUSTER_BASE + UNIT * n
    return range(start, start + UNIT)


# --------------------------------------------------------------------------
# The shape sheet and the planar shape files

SHEET_W, SHEET_H = 512, 1024
HALF = SHEET_W * SHEET_H // 2

COLOURS = [(0, 0, 0), (0, 0, 255), (255, 0, 0), (255, 0, 255),
           (0, 255, 0), (0, 255, 255), (255, 255, 0), (255, 255, 255)]  # red, green, blue


def bgrx(colours, fourth):
    return b"".join(bytes((b, g, r, f)) for (r, g, b), f in zip(colours, fourth))


SHAPE_PALETTE = bgrx(COLOURS * 2, [0] * 8 + [255] * 8)
MASK_PALETTE = bytes((0, 0, 0, 0, 255, 255, 255, 255))

GRASS_SHAPES = frozenset([5, *range(30, 39), *range(48, 56), 76, *range(96, 112)])
MIRROR_MAP = bytes([0, 5, 4, 4, 2, 1, 2, 7, 8, 13, 12, 12, 10, 9, 10, 15])

_EXPAND = [bytes((b >> (7 - i)) & 1 for i in range(8)) for b in range(256)]
_PACK = {bits: b for b, bits in enumerate(_EXPAND)}


def shape_origin(shape_row, shape_column):
    return shape_row * 32 * SHEET_W + shape_column * 32


def pixel_offset(shape, x, y):
    """Sheet offset of pixel (x, y) of TILES.CH shape number shape; NPC.CH
    shapes are 512 lines further down, HALF bytes on."""
    return shape_origin(shape // 16, shape % 16) + y * SHEET_W + x


def encode_planar(half, planes):
    """A half sheet (512 x 512 colour indices) as a planar shape file."""
    bit_planes = [half.translate(bytes((v >> p) & 1 for v in range(256))) for p in range(planes)]
    out = bytearray()
    for n in range(256):
        origin = shape_origin(n // 16, n % 16)
        for plane in bit_planes:
            for y in range(32):
                line = origin + y * SHEET_W
                out += bytes(_PACK[plane[line + k:line + k + 8]] for k in range(0, 32, 8))
    return bytes(out)


def decode_planar(data, planes):
    """A planar shape file as a half sheet of colour indices."""
    result = 0
    for p in range(planes):
        parts = []
        for row in range(16):
            for y in range(32):
                for column in range(16):
                    start = ((row * 16 + column) * planes + p) * 128 + y * 4
                    parts.extend(_EXPAND[b] for b in data[start:start + 4])
        result |= int.from_bytes(b"".join(parts), "big") << p
    return result.to_bytes(HALF, "big")


def in_triangle(code, x, y):
    return {208: x + y <= 31, 209: x >= y, 210: x + y >= 31, 211: x <= y}[code]


def water_code(shape):
    if 52 <= shape <= 55:
        return 208 + shape - 52
    if 96 <= shape <= 111:
        return shape + 16
    if 228 <= shape <= 231:
        return -(208 + shape - 228)
    return 0


def remake_water(sheet):
    """The extractor's water remake on a sheet (bytearray), in place."""
    inverse = {208: 210, 209: 211, 210: 208, 211: 209}
    for shape in range(256):
        code = water_code(shape)
        if not code:
            continue
        a = abs(code)
        for y in range(32):
            for x in range(32):
                if a in inverse:
                    take = in_triangle(inverse[a] if code < 0 else a, x, y)
                else:
                    r = sheet[pixel_offset(a, x, y)]
                    take = (r != 0) != (code < 0)
                if take:
                    sheet[pixel_offset(shape, x, y)] = sheet[pixel_offset(3, x, y)]


def swap_red_green(sheet, shapes):
    table = bytes((v & 0b11111001) | (v & 2) << 1 | (v & 4) >> 1 for v in range(256))
    for shape in shapes:
        for y in range(32):
            start = pixel_offset(shape, 0, y)
            sheet[start:start + 32] = sheet[start:start + 32].translate(table)


def expected_sheet(tiles_half, npc_half, dungeon=False, remake=True, mirror=False):
    """What the extractor must write for decoded halves and its options."""
    sheet = bytearray(tiles_half + npc_half)
    if dungeon:
        swap_red_green(sheet, GRASS_SHAPES)
    if remake:
        remake_water(sheet)
    if mirror:
        sheet = bytearray(bytes(sheet).translate(MIRROR_MAP + bytes(240)))
    return bytes(sheet)


def mask_of(sheet):
    return bytes(sheet).translate(bytes(1 if v >= 8 else 0 for v in range(256)))


# --------------------------------------------------------------------------
# Bitmap files

HEADER_FORMAT = "<2sIHHIIIiHHIIIIII"


def bmp_fields(data):
    names = ("signature file_size reserved1 reserved2 data_offset header_size width height planes "
             "bit_count compression image_size x_resolution y_resolution colors_used colors_important")
    return dict(zip(names.split(), struct.unpack_from(HEADER_FORMAT, data, 0)))


def expected_bmp_header(width, height, bits):
    row = {1: (width + 7) // 8, 4: (width + 1) // 2, 8: width, 24: width * 3}[bits]
    row = (row + 3) & ~3
    offset = 54 + (4 << bits if bits <= 8 else 0)
    return struct.pack(HEADER_FORMAT, b"BM", offset + row * height, 0, 0, offset, 40, width, height,
                       1, bits, 0, row * height, 0, 0, 0, 0)


def patch_header(path, **fields):
    data = bytearray(Path(path).read_bytes())
    values = bmp_fields(data)
    values.update(fields)
    data[:54] = struct.pack(HEADER_FORMAT, *values.values())
    Path(path).write_bytes(data)


def identify(path):
    """Bit depth, width and height as ImageMagick sees the file."""
    return tool(IDENTIFY, "-format", "%z %w %h", path).decode()


def pillow():
    from PIL import Image  # Debian's python3-pil; the tests run under /usr/bin/python3
    return Image


def indices(path):
    """The pixels of an indexed bitmap as Pillow reads them: one index (or 0/1 for a
    1-bit file) per byte, top row first."""
    Image = pillow()
    with Image.open(path) as im:
        if im.mode == "1":
            return im.size, im.mode, im.convert("L").tobytes().translate(bytes([0] + [1] * 255))
        return im.size, im.mode, im.tobytes()


def netpbm_rgb(path):
    """The pixels of a bitmap as netpbm reads them: (width, height, 3 bytes of
    red, green, blue per pixel)."""
    data = tool(BMPTOPNM, path)
    magic, pos, numbers = data[:2], 2, []
    while len(numbers) < (2 if magic == b"P4" else 3):
        while data[pos] in b" \t\r\n":
            pos += 1
        if data[pos] == ord("#"):
            pos = data.index(b"\n", pos) + 1
            continue
        end = pos
        while data[end] not in b" \t\r\n":
            end += 1
        numbers.append(int(data[pos:end]))
        pos = end
    body = data[pos + 1:]
    width, height = numbers[:2]
    if magic == b"P6":
        return width, height, body[:width * height * 3]
    if magic == b"P5":
        return width, height, b"".join(bytes((v, v, v)) for v in body[:width * height])
    if magic == b"P4":
        row = (width + 7) // 8
        out = bytearray()
        for y in range(height):
            for x in range(width):
                black = body[y * row + x // 8] >> (7 - x % 8) & 1
                out += b"\0\0\0" if black else b"\xff\xff\xff"
        return width, height, bytes(out)
    raise AssertionError(f"bmptopnm wrote {magic!r}")


def rgb_of(pixels, palette):
    """Index pixels as red, green, blue bytes through a BGRX palette."""
    table = [bytes((palette[4 * i + 2], palette[4 * i + 1], palette[4 * i])) for i in range(len(palette) // 4)]
    return b"".join(table[p] for p in pixels)


def magick(*args):
    tool(CONVERT, *args)


@functools.lru_cache(maxsize=None)
def sample_files():
    """The sample data that make_sample writes, made once per test module."""
    directory = tempfile.mkdtemp(prefix="kz-sample-")
    atexit.register(shutil.rmtree, directory, True)
    subprocess.run([str(SAMPLE), directory], check=True, stdin=subprocess.DEVNULL,
                   stdout=subprocess.PIPE, stderr=subprocess.PIPE, timeout=TIMEOUT)
    return Path(directory)
