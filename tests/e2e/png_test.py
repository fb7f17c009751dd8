"""PNG sheets: the extractors and the converter write PNG for a .png name,
which Pillow must read as the BMP of the same run; the changers take a
sheet or mask that Pillow, ImageMagick or GIMP saved as PNG in any standard
form, and must give the same disk as from the BMP; damaged and refused PNG
files end the run before anything is written. Damaged files are made from
good ones by changing their chunks here, with checksums made by zlib."""

import array
import random
import shutil
import struct
import subprocess
import unittest
import zlib
from pathlib import Path

from kztest import (BUILDS, Image, KzTestCase, WINDOWS, X68K, asked, magick, opened, random_sheet_disk,
                    sample_files, work_dir)

GIMP = shutil.which("gimp-console")


def form(data):
    """Bit depth, colour type and interlace method from the IHDR chunk."""
    return struct.unpack_from(">BBxxB", data, 24)


def chunks(data):
    out, at = [], 8
    while at < len(data):
        length, kind = struct.unpack_from(">I4s", data, at)
        out.append([kind, data[at + 8:at + 8 + length]])
        at += 12 + length
    return out


def assemble(parts):
    return b"\x89PNG\r\n\x1a\n" + b"".join(struct.pack(">I", len(body)) + kind + body +
                                           struct.pack(">I", zlib.crc32(kind + body)) for kind, body in parts)


def changed(kind, change):
    """The file with the body of each chunk of that kind changed (None drops it)."""
    def make(data):
        parts = [[k, change(b) if k == kind else b] for k, b in chunks(data)]
        return assemble([p for p in parts if p[1] is not None])
    return make


def sized(width, height):
    return changed(b"IHDR", lambda b: struct.pack(">II", width, height) + b[8:])


def bomb(data):
    """The same rows, then a gigabyte of zeros more in the same compressed
    stream: a reader that inflated everything would spend seconds and more."""
    parts = chunks(data)
    rows = zlib.decompress(b"".join(b for k, b in parts if k == b"IDAT"))
    packer = zlib.compressobj(9)
    stream = [packer.compress(rows)]
    zeros = bytes(1 << 24)
    stream += [packer.compress(zeros) for _ in range(64)]
    stream.append(packer.flush())
    idat = b"".join(stream)
    head = [p for p in parts if p[0] not in (b"IDAT", b"IEND")]
    return assemble(head + [[b"IDAT", idat[i:i + 65536]] for i in range(0, len(idat), 65536)] + [[b"IEND", b""]])


def flipped(offset):
    """The file with one bit changed at the offset (from the end if negative)."""
    def make(data):
        damaged = bytearray(data)
        damaged[offset] ^= 0x40
        return bytes(damaged)
    return make


def gimp_export(directory, pairs):
    """GIMP in batch mode, started once (it takes about 20 s to start, and
    minutes on a busy machine): each source loaded and exported as PNG with
    GIMP's defaults."""
    script = [f'(let* ((image (car (gimp-file-load RUN-NONINTERACTIVE "{s}" "{s}")))'
              f' (layer (car (gimp-image-get-active-drawable image))))'
              f' (file-png-save-defaults RUN-NONINTERACTIVE image layer "{t}" "{t}"))' for s, t in pairs]
    subprocess.run([GIMP, "-i", "-d", "-f", *(a for line in script for a in ("-b", line)), "-b", "(gimp-quit 0)"],
                   check=True, timeout=300, capture_output=True,
                   env={"HOME": str(directory), "PATH": "/usr/bin:/bin"})


def pillow(convert, **options):
    return lambda s, t: opened(s).convert(convert).save(t, **options)


def with_alpha(s, t):
    """Every alpha but 0, which keeps the disk's pixel: a partly transparent
    pixel counts as opaque."""
    image = opened(s).convert("RGBA")
    alpha = bytes(i % 255 + 1 for i in range(256))
    image.putalpha(Image.frombytes("L", image.size, alpha * (image.width * image.height // 256)))
    image.save(t)


def grey16(s, t):
    """Grey widened to 16 bits, white 65535 (Pillow's own conversion keeps
    the 8-bit values, and ImageMagick 6.9's loses pixels of a 1-bit grey)."""
    grey = opened(s).convert("L")
    Image.frombytes("I;16", grey.size, array.array("H", (v * 257 for v in grey.tobytes())).tobytes()).save(t)


def magick_png(*options):
    return lambda s, t: magick(s, *options, t)


# (what, the mask?, (bit depth, colour type, interlace), writer(source, target))
SAVED = [
    ("Pillow indexed", False, (4, 3, 0), lambda s, t: opened(s).save(t)),
    ("Pillow RGB", False, (8, 2, 0), pillow("RGB")),
    ("Pillow RGBA, partly transparent", False, (8, 6, 0), with_alpha),
    ("Pillow 1-bit mask", True, (1, 0, 0), pillow("1")),
    ("Pillow grey mask", True, (8, 0, 0), pillow("L")),
    ("Pillow 16-bit grey mask", True, (16, 0, 0), grey16),
    ("ImageMagick PNG8", False, (8, 3, 0), lambda s, t: magick(s, f"PNG8:{t}")),
    ("ImageMagick PNG24", False, (8, 2, 0), lambda s, t: magick(s, f"PNG24:{t}")),
    ("ImageMagick PNG48, interlaced", False, (16, 2, 1), lambda s, t: magick(s, "-interlace", "PNG", f"PNG48:{t}")),
    ("ImageMagick PNG64", False, (16, 6, 0), lambda s, t: magick(s, f"PNG64:{t}")),
    ("ImageMagick 2-bit grey mask", True, (2, 0, 0),
     magick_png("-define", "png:color-type=0", "-define", "png:bit-depth=2")),
    ("ImageMagick 4-bit grey mask, interlaced", True, (4, 0, 1),
     magick_png("-define", "png:color-type=0", "-define", "png:bit-depth=4", "-interlace", "PNG")),
    ("ImageMagick 2-bit indexed mask, interlaced", True, (2, 3, 1),
     magick_png("-define", "png:color-type=3", "-define", "png:bit-depth=2", "-interlace", "PNG")),
]

BAD = "bad.png"


def refused(reason):
    return f"error: read_png() - {reason}\nread error '{BAD}'\nread shapes file error '{BAD}'\n"


# (what, damage(extractor's PNG sheet) -> bytes, the changer's output; "" when the disk must be made)
DAMAGED = [
    ("signature", lambda d: d[:1] + b"p" + d[2:], refused("invalid signature")),
    ("IHDR checksum", flipped(29), refused("invalid chunk checksum")),
    ("checksum of the last IDAT chunk", flipped(-13), refused("invalid chunk checksum")),
    ("cut inside the pixel data", lambda d: d[:len(d) // 2], refused("end of stream")),
    ("cut before IEND", lambda d: d[:-12], refused("end of stream")),
    ("511 pixels wide", lambda d: d, f"bitmap size error '{BAD}' 511 x 1024\nread shapes file error '{BAD}'\n"),
    ("far too large", sized(100000, 100000), refused("picture size 100000 x 100000 out of range")),
    ("too large for a sheet, read no further", sized(40000, 40000),
     f"bitmap size error '{BAD}' 40000 x 40000\nread shapes file error '{BAD}'\n"),
    ("palette of 6 entries", changed(b"PLTE", lambda b: b[:18]), refused("index 6 beyond the palette's 6 entries")),
    ("no palette", changed(b"PLTE", lambda b: None), refused("missing PLTE for indexed image")),
    ("decompression bomb", bomb, ""),
]


def fixture():
    return random_sheet_disk(1717, "png")


class PngTest(KzTestCase):
    def change(self, cwd, sheet, mask, stdout="", status=0):
        self.run_tool(X68K.changer, "--disk", "blank.xdf", "--write", "out.xdf", sheet, mask, cwd=cwd,
                      status=status, stdout=stdout)

    def copy_fixture(self):
        work, source = fixture()
        cwd = work_dir()
        for name in ("blank.xdf", "sheet.png", "mask.png"):
            shutil.copy(work / name, cwd)
        return cwd, source

    def test_png_written_opens_as_the_bmp_of_the_same_run(self):
        sample = sample_files()
        runs = [(b.extractor, ["--disk", sample / b.default_image, *options]) for b, options in
                zip(BUILDS, (["--dungeon"], ["--mirror-room", "--no-remake-water"]))]
        runs += [("kzega_shapes", [sample / "TILES.16"]), ("kzega_shapes", ["--cga", "--mirror-room", sample / "TILES.4"])]
        for program, args in runs:
            with self.subTest(program=program, args=args):
                cwd = work_dir()
                names = [("sheet.bmp", "sheet.png")] + ([("mask.bmp", "MASK.Png")] if program != "kzega_shapes" else [])
                for made in zip(*names):
                    self.run_tool(program, *args, *made, cwd=cwd)
                for (bmp, png), expected in zip(names, ((4, 3, 0), (1, 0, 0))):
                    self.assertEqual(form((cwd / png).read_bytes()), expected, png)
                    theirs, ours = opened(cwd / bmp), opened(cwd / png)
                    self.assertEqual((ours.mode, ours.size, ours.getpalette()), (theirs.mode, theirs.size, theirs.getpalette()))
                    self.assertSame(ours.tobytes(), theirs.tobytes(), f"{png}'s indices")

    def test_existing_png_is_asked_about(self):
        cwd = work_dir()
        (cwd / "old.png").write_bytes(b"old")
        args = [sample_files() / "TILES.16", "old.png"]
        self.check_rows("kzega_shapes", cwd, [(args, b"n\n", asked("old.png") + "write bitmap file error 'old.png'\n")])
        self.run_tool("kzega_shapes", *args, cwd=cwd, stdin=b"y\n", stdout=asked("old.png"))
        self.assertEqual(form((cwd / "old.png").read_bytes()), (4, 3, 0))
        if not WINDOWS:  # a device that fails every write, under a PNG name
            self.full_device()
            (cwd / "full.png").symlink_to("/dev/full")
            self.run_tool("kzega_shapes", args[0], "full.png", cwd=cwd, stdin=b"y\n", status=1,
                          stdout=asked("full.png") + "error: write_png() - can't write png data\n"
                          "write error 'full.png'\nwrite bitmap file error 'full.png'\n")

    def test_png_saved_by_other_programs_gives_the_same_disk(self):
        for what, is_mask, expected, write in SAVED:
            with self.subTest(variant=what):
                cwd, source = self.copy_fixture()
                write(cwd / ("mask.png" if is_mask else "sheet.png"), cwd / "painted.png")
                self.assertEqual(form((cwd / "painted.png").read_bytes()), expected,
                                 "the program wrote another form than the test expects")
                self.change(cwd, *(["sheet.png", "painted.png"] if is_mask else ["painted.png", "mask.png"]))
                self.assertSame((cwd / "out.xdf").read_bytes(), source, "the disk made from the PNG")

    @unittest.skipUnless(GIMP, "gimp-console (Debian: gimp) is not installed")
    def test_png_exported_by_gimp_gives_the_same_disk(self):
        cwd, source = self.copy_fixture()
        gimp_export(cwd, [(cwd / "sheet.png", cwd / "gimp.png"), (cwd / "mask.png", cwd / "gimp_mask.png")])
        self.assertEqual([form((cwd / n).read_bytes()) for n in ("gimp.png", "gimp_mask.png")], [(4, 3, 0), (8, 0, 0)])
        self.change(cwd, "gimp.png", "gimp_mask.png")
        self.assertSame((cwd / "out.xdf").read_bytes(), source, "the disk made from GIMP's PNG files")

    def test_edit_in_png_lands_as_in_bmp(self):
        cwd, source = self.copy_fixture()
        rng = random.Random(5)
        sheet, mask = opened(cwd / "sheet.png").convert("RGB"), opened(cwd / "mask.png").convert("L")
        for _ in range(4000):
            x, y = rng.randrange(512), rng.randrange(1024)
            sheet.putpixel((x, y), tuple(rng.randrange(256) for _ in range(3)))
            mask.putpixel((x, y), rng.randrange(256))
        for ext in ("png", "bmp"):
            sheet.save(cwd / f"edited.{ext}")
            mask.save(cwd / f"edited_mask.{ext}")
            self.change(cwd, f"edited.{ext}", f"edited_mask.{ext}")
            (cwd / "out.xdf").rename(cwd / f"{ext}.xdf")
        self.assertSame((cwd / "png.xdf").read_bytes(), (cwd / "bmp.xdf").read_bytes(), "the disk from the PNG edit")
        self.assertNotEqual((cwd / "png.xdf").read_bytes(), source, "the edit changed nothing")

    def test_damaged_or_refused_png_writes_nothing(self):
        for what, damage, output in DAMAGED:
            with self.subTest(case=what):
                cwd, source = self.copy_fixture()
                if what.startswith("511"):
                    opened(cwd / "sheet.png").crop((0, 0, 511, 1024)).save(cwd / BAD)
                else:
                    (cwd / BAD).write_bytes(damage((cwd / "sheet.png").read_bytes()))
                self.change(cwd, BAD, "mask.png", stdout=output, status=int(output != ""))
                if output:
                    self.assertFalse((cwd / "out.xdf").exists())
                else:
                    self.assertSame((cwd / "out.xdf").read_bytes(), source, "the disk made from the PNG")


if __name__ == "__main__":
    unittest.main()
