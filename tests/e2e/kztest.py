"""Shared harness of the end-to-end tests.

The programs run as a user runs them: in scratch directories, with standard
input given explicitly and a time limit. Fixtures come from independent tools
(mkfs.fat and mtools, Pillow, ImageMagick, netpbm); the game's formats are
modelled here from their descriptions, not from the programs.

The Windows build's programs (KZ_TARGET_SYSTEM=Windows) run through the Wine
wrapper named by KZ_RUNNER. Their standard output must end every line with
CR LF, and is compared as LF. Where KZ_LINUX_BIN_DIR names a Linux build's
programs, each run is repeated with them in a copy of its directory, and the
status, standard output and every file must come out the same. Each Windows
run keeps a log (Wine's error channel, the wrapper's decisions about the Wine
server), which a failure message shows with what the build's Wine log
(KZ_WINE_BUILD_LOG) got meanwhile.
"""

import atexit
import functools
import os
import random
import resource
import shlex
import shutil
import signal
import stat
import struct
import subprocess
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path

from PIL import Image  # Debian's python3-pil: the tests run under /usr/bin/python3

TIMEOUT = 60
SOURCE_ROOT = Path(__file__).resolve().parents[2]
BIN_DIR = Path(os.environ.get("KZ_BIN_DIR", SOURCE_ROOT / "build/release/tools"))
SAMPLE = os.environ.get("KZ_SAMPLE", str(SOURCE_ROOT / "build/release/scripts/make_sample"))
WINDOWS = os.environ.get("KZ_TARGET_SYSTEM") == "Windows"
RUNNER = shlex.split(os.environ.get("KZ_RUNNER", ""))
EXE = ".exe" if WINDOWS else ""
LINUX_BIN_DIR = Path(os.environ["KZ_LINUX_BIN_DIR"]) if WINDOWS and os.environ.get("KZ_LINUX_BIN_DIR") else None
WINE_BUILD_LOG = Path(os.environ["KZ_WINE_BUILD_LOG"]) if WINDOWS and os.environ.get("KZ_WINE_BUILD_LOG") else None
MKFS_FAT = os.environ.get("KZ_MKFS_FAT", "/usr/sbin/mkfs.fat")
FSCK_FAT = os.environ.get("KZ_FSCK_FAT", "/usr/sbin/fsck.fat")
MCOPY = os.environ.get("KZ_MCOPY", "/usr/bin/mcopy")
MDEL = str(Path(MCOPY).with_name("mdel"))
CONVERT, BMPTOPNM, PPMTOBMP = "/usr/bin/convert", "/usr/bin/bmptopnm", "/usr/bin/ppmtobmp"
TOOL_ENV = dict(os.environ, MTOOLS_SKIP_CHECK="1", LC_ALL="C")


@dataclass(frozen=True)
class DiskBuild:
    """One build of the extractor and changer: PC-98 (FDI) or X68000 (XDF)."""
    extractor: str
    changer: str
    offset: int
    default_image: str
    kind: str

    def wrap(self, disk):
        return FDI_HEADER + disk if self.offset else disk

    def __str__(self):
        return self.kind


# The image formats the usage text names, the build's own first.
FORMATS = {"fdi": "*.fdi *.hdm *.d88 *.nfd *.fdd *.dcp *.dim *.xdf",
           "xdf": "*.xdf *.dim *.d88 *.hdm *.fdi *.nfd *.fdd *.dcp"}
PC98 = DiskBuild("kzpc98shapes", "kzpc98chg_shapes", 4096, "KZ_Varnholm.fdi", "fdi")
X68K = DiskBuild("kzx68kshapes", "kzx68kchg_shapes", 0, "kz-varnholm.xdf", "xdf")
BUILDS = (PC98, X68K)
# Never interpreted, only carried along: non-zero and asymmetric, so that a
# program that drops it or reads disk data from it is caught.
FDI_HEADER = bytes((i * 37 + i // 256 * 11) % 251 + 1 for i in range(4096))


def asked(path):
    return f"already exists '{path}'\noverwrite ? (Y or N): "


def work_dir():
    path = Path(tempfile.mkdtemp(prefix="kz-e2e-"))
    atexit.register(shutil.rmtree, path, True)
    return path


def command_line(program, *args):
    return [*RUNNER, str(BIN_DIR / (program + EXE)), *map(str, args)]


def check_linux_programs():
    """The Linux programs that the Windows ones are compared with must be
    there: a comparison that quietly stopped would pass everything."""
    missing = [name for name in ("kzpc98shapes", "kzpc98chg_shapes", "kzx68kshapes", "kzx68kchg_shapes",
                                 "kzega_shapes") if not (LINUX_BIN_DIR / name).is_file()]
    if missing:
        raise AssertionError(f"the Linux programs to compare with are missing in {LINUX_BIN_DIR}: "
                             f"{', '.join(missing)} (the Windows build makes them: cmake --build --preset windows)")


class WineLog:
    """The log of one Windows run (see cmake/wine_run.in) and the part of the
    build's Wine log that other runs and the server wrote meanwhile."""

    def __init__(self):
        handle, name = tempfile.mkstemp(prefix="kz-wine-", suffix=".log")
        os.close(handle)
        self.path = Path(name)
        self.build_start = WINE_BUILD_LOG.stat().st_size if WINE_BUILD_LOG and WINE_BUILD_LOG.exists() else 0

    def text(self):
        """Both logs as lines for a failure message."""
        run = self.path.read_text(errors="replace")
        meanwhile = ""
        if WINE_BUILD_LOG and WINE_BUILD_LOG.exists():
            with open(WINE_BUILD_LOG, "rb") as log:
                log.seek(self.build_start)
                meanwhile = log.read().decode(errors="replace")
        def indented(text):
            return "".join(f"\n    {line}" for line in text.splitlines()) or "\n    (nothing)"
        return (f"\n  Wine's log of the run:{indented(run)}"
                f"\n  {WINE_BUILD_LOG} meanwhile:{indented(meanwhile)}")


def run_windows(argv, *, cwd, stdin, env, preexec_fn=None):
    """Runs a Windows program through the wrapper, in a session of its own:
    on a time-out the wrapper and the program end, not the wrapper
    alone; Wine's background programs, in sessions of their own, may still
    hold the pipes a while, but are not waited for. The result's wine_log
    holds the logs' text, as does the exception's."""
    log = WineLog()
    env = dict(os.environ if env is None else env, KZ_WINE_LOG=str(log.path))
    try:
        with subprocess.Popen(argv, cwd=cwd, env=env, stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                              stderr=subprocess.PIPE, preexec_fn=preexec_fn, start_new_session=True) as proc:
            try:
                stdout, stderr = proc.communicate(stdin, timeout=TIMEOUT)
            except subprocess.TimeoutExpired as timeout:
                os.killpg(proc.pid, signal.SIGKILL)
                try:
                    proc.communicate(timeout=5)
                except subprocess.TimeoutExpired:
                    pass
                timeout.wine_log = log.text()
                raise
        run = subprocess.CompletedProcess(argv, proc.returncode, stdout, stderr)
        run.wine_log = log.text()
    finally:
        log.path.unlink(missing_ok=True)
    return run


def wine_log(run):
    """The logs of a Windows run (or time-out) for a failure message; empty on Linux."""
    return getattr(run, "wine_log", "")


def run_program(program, *args, cwd, stdin=b"", limit=None, env=None, as_on_linux=True):
    """Runs one of our programs. On Windows standard output comes back with
    LF line ends, and unless as_on_linux is false the run must agree with the
    Linux program's where that is known (see above)."""
    def child():
        if limit is not None:  # writes past the limit fail (EFBIG) as on a full disk
            signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
            resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
    if not WINDOWS:
        return subprocess.run(command_line(program, *args), cwd=cwd, input=stdin, capture_output=True,
                              timeout=TIMEOUT, preexec_fn=child, env=env)
    twin = None
    if LINUX_BIN_DIR and as_on_linux:
        check_linux_programs()
        twin = Path(tempfile.mkdtemp(prefix="kz-linux-"))
    try:
        if twin:
            shutil.copytree(cwd, twin, symlinks=True, dirs_exist_ok=True)
        run = run_windows(command_line(program, *args), cwd=cwd, stdin=stdin, env=env, preexec_fn=child)
        if b"\n" in run.stdout.replace(b"\r\n", b""):
            raise AssertionError(f"{program} {args}: a line of standard output ends without CR: {run.stdout!r}"
                                 + wine_log(run))
        run.stdout = run.stdout.replace(b"\r\n", b"\n")
        if twin:
            linux = subprocess.run([str(LINUX_BIN_DIR / program), *map(str, args)], cwd=twin, input=stdin,
                                   capture_output=True, timeout=TIMEOUT)
            theirs, ours = snapshot(twin), snapshot(cwd)
            if (linux.returncode, linux.stdout, linux.stderr) != (run.returncode, run.stdout, run.stderr):
                raise AssertionError(f"{program} {args} on Windows: {run}\n  on Linux: {linux}" + wine_log(run))
            differing = sorted(name for name in theirs.keys() | ours.keys() if theirs.get(name) != ours.get(name))
            if differing:
                raise AssertionError(f"{program} {args}: files differ from the Linux program's: {differing}"
                                     + wine_log(run))
    finally:
        if twin:
            shutil.rmtree(twin, ignore_errors=True)
    return run


def posix_only(args, limit):
    """Why a row cannot run on Windows, or None."""
    if not WINDOWS:
        return None
    if limit is not None:
        return "a file size limit (RLIMIT_FSIZE) is a POSIX resource limit"
    if any(str(a).startswith("/dev/") for a in args):
        return "/dev/full is a Linux device"
    return None


def make_with(program, *args, cwd):
    """Runs one of our programs to make a fixture; it must succeed silently."""
    run = run_program(program, *args, cwd=cwd)
    if run.returncode or run.stdout or run.stderr:
        raise AssertionError(f"{program} could not make a fixture: {run}" + wine_log(run))


def tool(*argv, stdin=None):
    """Runs an independent tool that must succeed; returns its standard output."""
    proc = subprocess.run([str(a) for a in argv], input=stdin, capture_output=True, timeout=TIMEOUT,
                          env=TOOL_ENV)
    if proc.returncode:
        raise AssertionError(f"{shlex.join(map(str, argv))} failed: {proc.stderr.decode(errors='replace')}")
    return proc.stdout


def magick(*args):
    tool(CONVERT, *args)


def snapshot(directory):
    return {str(p.relative_to(directory)): p.read_bytes() for p in Path(directory).rglob("*") if p.is_file()}


class KzTestCase(unittest.TestCase):
    def run_tool(self, program, *args, cwd, stdin=b"", status=0, stdout="", limit=None, env=None,
                 as_on_linux=True):
        """Runs one of our programs: standard error must stay empty, the status
        and (unless None) standard output must be as given."""
        run = run_program(program, *args, cwd=cwd, stdin=stdin, limit=limit, env=env, as_on_linux=as_on_linux)
        repeat = (f"\n  repeat: cd {cwd} && printf %s {shlex.quote(stdin.decode(errors='replace'))} | "
                  f"{shlex.join(command_line(program, *args))}" + wine_log(run))
        self.assertEqual(run.stderr.decode(errors="replace"), "", repeat)
        self.assertEqual(run.returncode, status, repeat + f"\n  stdout: {run.stdout!r}")
        if stdout is not None:
            self.assertEqual(run.stdout.decode(errors="replace"), stdout, repeat)

    def check_rows(self, program, cwd, rows, env=None, as_on_linux=True):
        """Runs rows of (args, stdin, stdout[, status, changed, file size limit])
        in one directory. changed maps every file that must be new or different
        afterwards to its length; the defaults are status 1 and nothing changed.
        The directory is put back after each row. Rows that need what only
        POSIX systems have are skipped on Windows."""
        before = snapshot(cwd)
        for row in rows:
            args, stdin, stdout, status, changed, limit = row + (1, {}, None)[len(row) - 3:]
            with self.subTest(program=program, args=args, stdin=stdin):
                reason = posix_only(args, limit)
                if reason:
                    self.skipTest(reason)
                try:
                    self.run_tool(program, *args, cwd=cwd, stdin=stdin, status=status, stdout=stdout, limit=limit,
                                  env=env, as_on_linux=as_on_linux)
                finally:
                    after = snapshot(cwd)
                    for name in after.keys() - before.keys():
                        (cwd / name).unlink()
                    for name, data in before.items():
                        if after.get(name) != data:
                            (cwd / name).write_bytes(data)
                self.assertEqual({name: len(after.get(name, b"")) for name in before.keys() | after.keys()
                                  if before.get(name) != after.get(name)}, changed, "files changed")

    def full_device(self):
        """/dev/full, which fails every write. A program that put a file of its
        own in its place would break it for everyone: checked again at the end."""
        if WINDOWS:
            return
        def check():
            self.assertTrue(stat.S_ISCHR(os.stat("/dev/full").st_mode),
                            "/dev/full is not the full device (restore: mknod -m 666 /dev/full c 1 7)")
        check()
        self.addCleanup(check)

    def assertSame(self, actual, expected, what):
        self.assertTrue(actual == expected, f"{what} differs")

    def assertPixelsEqual(self, actual, expected, width):
        """Compares one-byte-per-pixel pictures and names the first difference."""
        self.assertEqual(len(actual), len(expected), "picture size")
        if actual != expected:
            i = next(i for i in range(len(actual)) if actual[i] != expected[i])
            self.fail(f"pixel x={i % width} y={i // width} is {actual[i]}, not {expected[i]}")


# FAT12 disks of the Varnholm disk's geometry, made by mkfs.fat and mtools.

UNIT, FAT_OFFSET, ROOT_DIR, ROOT_END = 1024, 1024, 5120, 11264
DISK_LENGTH = 1232 * UNIT


def short_of_disk(name, length, offset):
    """The warning of an image that no container claims and that ends before
    its disk does; empty for one that holds the whole disk."""
    whole = offset + DISK_LENGTH
    return (f"disk image shorter than its disk '{name}' {length} < {whole} ... read as far as it goes\n"
            if length < whole else "")
MKFS_ARGS = ["-C", "-S", "1024", "-s", "1", "-f", "2", "-F", "12", "-r", "192", "-R", "1", "-M", "0xfe",
             "-h", "0", "-i", "4b5a3938"]
# mcopy -m gives each entry its source file's time; a fixed one makes equal
# disks byte-identical whenever they are made.
FILE_TIME = 946684800


def build_disk(steps):
    """mkfs.fat, then mcopy for each (NAME, data) step and mdel for each (NAME, None)."""
    with tempfile.TemporaryDirectory(prefix="kz-disk-") as work:
        image = os.path.join(work, "disk.img")
        tool(MKFS_FAT, *MKFS_ARGS, image, 1232)
        for name, data in steps:
            if data is None:
                tool(MDEL, "-i", image, "::" + name)
                continue
            source = os.path.join(work, name)
            Path(source).write_bytes(data)
            os.utime(source, (FILE_TIME, FILE_TIME))
            tool(MCOPY, "-m", "-i", image, source, "::" + name)
        return Path(image).read_bytes()


def shape_disk(tiles, npc, *extra):
    return build_disk([*extra, ("TILES.CH", tiles), ("NPC.CH", npc)])


@functools.lru_cache(maxsize=None)
def random_sheet_disk(seed, extension):
    """A folder with an X68000 disk of random shapes (source.xdf), a disk of
    blank ones (blank.xdf) and the first one's sheet and mask extracted
    without adjustments (sheet.EXT, mask.EXT); gives the folder and the
    source disk."""
    rng = random.Random(seed)
    source = shape_disk(encode_planar(bytes(b & 7 for b in rng.randbytes(HALF)), 3),
                        encode_planar(bytes(b & 15 for b in rng.randbytes(HALF)), 4))
    work = work_dir()
    (work / "source.xdf").write_bytes(source)
    (work / "blank.xdf").write_bytes(shape_disk(bytes(98304), bytes(131072)))
    make_with(X68K.extractor, "--disk", "source.xdf", "--no-remake-water", f"sheet.{extension}",
              f"mask.{extension}", cwd=work)
    return work, source


def mcopy_out(image_path, name, offset):
    return tool(MCOPY, "-i", f"{image_path}@@{offset}", "::" + name, "-")


def fsck(disk):
    with tempfile.NamedTemporaryFile(prefix="kz-fsck-") as image:
        image.write(disk)
        image.flush()
        tool(FSCK_FAT, "-n", image.name)


def find_entry(disk, name):
    stem, _, ext = name.partition(".")
    wanted = (stem.ljust(8) + ext.ljust(3)).encode()
    return next(o for o in range(ROOT_DIR, ROOT_END, 32) if disk[o:o + 11].upper() == wanted)


def file_clusters(disk, name):
    """A file's cluster chain, as far as its size needs."""
    entry = find_entry(disk, name)
    n, size = struct.unpack_from("<H", disk, entry + 26)[0], struct.unpack_from("<I", disk, entry + 28)[0]
    chain = []
    for _ in range(-(-size // UNIT)):
        chain.append(n)
        pair = disk[FAT_OFFSET + n * 3 // 2] | disk[FAT_OFFSET + n * 3 // 2 + 1] << 8
        n = pair >> 4 if n & 1 else pair & 0xFFF
    return chain


# The shape sheet: 16 x 32 shapes of 32 x 32 pixels, TILES.CH above NPC.CH.
# A planar shape file holds per shape one 128-byte block per plane (plane p
# is bit p of the colour index), 4 bytes a line, bit 7 the leftmost pixel.

HALF = 512 * 512
COLOURS = [(0, 0, 0), (0, 0, 255), (255, 0, 0), (255, 0, 255),
           (0, 255, 0), (0, 255, 255), (255, 255, 0), (255, 255, 255)]  # red, green, blue
GRASS_SHAPES = frozenset([5, *range(30, 39), *range(48, 56), 76, *range(96, 112)])
_PACK = {bytes((b >> (7 - i)) & 1 for i in range(8)): b for b in range(256)}


def bgrx(colours, fourth):
    return b"".join(bytes((b, g, r, f)) for (r, g, b), f in zip(colours, fourth))


def pixel_offset(shape, x, y):
    """Offset in a half sheet of pixel (x, y) of shape number shape."""
    return (shape // 16 * 32 + y) * 512 + shape % 16 * 32 + x


def encode_planar(half, planes):
    """A half sheet of colour indices as a planar shape file."""
    bit_planes = [half.translate(bytes((v >> p) & 1 for v in range(256))) for p in range(planes)]
    out = bytearray()
    for n in range(256):
        for plane in bit_planes:
            for y in range(32):
                line = pixel_offset(n, 0, y)
                out += bytes(_PACK[plane[line + k:line + k + 8]] for k in range(0, 32, 8))
    return bytes(out)


def water_code(shape):
    """The water remake of a landform shape: 0 none; else the reference, a
    triangle 208-211 (in the converter, that tile) or a shape; negative: inverted."""
    if 52 <= shape <= 55:
        return shape + 156
    if 96 <= shape <= 111:
        return shape + 16
    return -(shape - 20) if 228 <= shape <= 231 else 0


# Bitmap files

def expected_bmp_header(width, height, bits):
    row = (width * bits + 31) // 32 * 4
    offset = 54 + 4 * (1 << bits)
    return struct.pack("<2sIHHIIIiHHIIIIII", b"BM", offset + row * height, 0, 0, offset, 40, width, height,
                       1, bits, 0, row * height, 0, 0, 0, 0)


def opened(path):
    with Image.open(path) as im:
        return im.copy()


def indices(path):
    """Size, mode and pixels of an indexed bitmap as Pillow reads it: one
    palette index (0 or 1 for a 1-bit file) per byte, top row first."""
    im = opened(path)
    data = im.tobytes() if im.mode == "P" else im.convert("L").tobytes().translate(bytes([0] + [1] * 255))
    return im.size, im.mode, data


@functools.lru_cache(maxsize=None)
def sample_files():
    directory = work_dir()
    subprocess.run([*RUNNER, SAMPLE, str(directory)], check=True, capture_output=True, timeout=TIMEOUT)
    return directory
