"""Writes one 9 x 5 picture as PNG files of every way a PNG says that a pixel
is transparent, by Pillow, netpbm and ImageMagick, into FOLDER: NAME.png,
and beside it NAME.clear, one byte a pixel, 1 where the pixel is fully
transparent. Pixels of colour 3 are; those of colours 5 and 6 are partly
transparent, which counts as opaque, and at 16 bits their alpha lies below
256, which a reader that looked only at the high byte would take for 0.
Colour 4 differs from colour 3 at 16 bits in the lowest bit alone, so a
transparent colour compared in its high bytes would take it too.

Usage: transparent_pngs.py FOLDER CONVERT PNMTOPNG"""

import io
import subprocess
import sys
from pathlib import Path

from PIL import Image

WIDTH, HEIGHT = 9, 5
COLOURS = [(0, 0, 0), (255, 255, 255), (200, 30, 60), (20, 140, 220),
           (90, 200, 40), (250, 180, 10), (120, 60, 170), (10, 90, 90)]
INDICES = [(7 * x + 3 * y * y + x * y + y) % 8 for y in range(HEIGHT) for x in range(WIDTH)]
ALPHA = {3: 0, 5: 1, 6: 128}            # 8 bits; every other colour 255
ALPHA16 = {3: 0, 5: 255, 6: 1}           # 16 bits; every other 65535
GREY = [36 * c for c in range(8)]        # grey levels of the colours
CLEAR = bytes(int(c == 3) for c in INDICES)
NONE = bytes(len(INDICES))


def colour16(c):
    """Colour c widened to 16 bits; colour 4 is colour 3 but for the lowest bit of its blue."""
    wide = [v * 257 for v in COLOURS[3 if c == 4 else c]]
    wide[2] += c == 4
    return tuple(wide)


def grey16(c):
    return GREY[3] * 257 + 1 if c == 4 else GREY[c] * 257


def netpbm(magic, maxval, samples):
    header = f"{magic}\n{WIDTH} {HEIGHT}\n{maxval}\n".encode()
    width = 2 if maxval > 255 else 1
    return header + b"".join(v.to_bytes(width, "big") for v in samples)


def run(*argv, stdin=None):
    return subprocess.run([str(a) for a in argv], input=stdin, capture_output=True, check=True,
                          timeout=60).stdout


def pillow(image, **options):
    out = io.BytesIO()
    image.save(out, "PNG", **options)
    return out.getvalue()


def main(folder, convert, pnmtopng):
    folder = Path(folder)
    rgba = Image.new("RGBA", (WIDTH, HEIGHT))
    rgba.putdata([COLOURS[c] + (ALPHA.get(c, 255),) for c in INDICES])
    indexed = Image.new("P", (WIDTH, HEIGHT))
    indexed.putpalette([v for colour in COLOURS for v in colour])
    indexed.putdata(INDICES)
    entry_alpha = bytes(ALPHA.get(c, 255) for c in range(8))
    grey = Image.new("L", (WIDTH, HEIGHT))
    grey.putdata([GREY[c] for c in INDICES])
    la = Image.new("LA", (WIDTH, HEIGHT))
    la.putdata([(GREY[c], ALPHA.get(c, 255)) for c in INDICES])
    rgb = rgba.convert("RGB")
    opaque = rgb.convert("RGBA")

    # netpbm: 16-bit colours and alpha, and grey of 2 bits (the four levels
    # 0-3, colour 3 alone at 3).
    wide_rgb = netpbm("P6", 65535, [v for c in INDICES for v in colour16(c)])
    wide_grey = netpbm("P5", 65535, [grey16(c) for c in INDICES])
    wide_alpha = netpbm("P5", 65535, [ALPHA16.get(c, 65535) for c in INDICES])
    key = "rgb:" + "/".join(f"{v:04x}" for v in colour16(3))
    grey_key = "=rgb:" + "/".join([f"{grey16(3):04x}"] * 3)
    (folder / "wide_alpha.pgm").write_bytes(wide_alpha)
    alpha_option = f"-alpha={folder / 'wide_alpha.pgm'}"

    files = {
        "pillow_rgba_8bit": (pillow(rgba), CLEAR),
        "pillow_grey_alpha_8bit": (pillow(la), CLEAR),
        "pillow_indexed_8bit_trns": (pillow(indexed, transparency=entry_alpha, bits=8), CLEAR),
        "pillow_indexed_4bit_trns": (pillow(indexed, transparency=entry_alpha, bits=4), CLEAR),
        "pillow_grey_8bit_trns": (pillow(grey, transparency=GREY[3]), CLEAR),
        "pillow_rgb_8bit_trns": (pillow(rgb, transparency=COLOURS[3]), CLEAR),
        "pillow_rgba_all_opaque": (pillow(opaque), NONE),
        "pillow_rgb": (pillow(rgb), NONE),
        "netpbm_grey_2bit_trns": (run(pnmtopng, "-transparent==rgb:ff/ff/ff",
                                      stdin=netpbm("P5", 3, [3 if c == 3 else c % 3 for c in INDICES])), CLEAR),
        "netpbm_grey_16bit_trns": (run(pnmtopng, f"-transparent={grey_key}", stdin=wide_grey), CLEAR),
        "netpbm_rgb_16bit_trns_interlaced": (run(pnmtopng, "-interlace", f"-transparent=={key}", stdin=wide_rgb),
                                             CLEAR),
        "netpbm_rgba_16bit": (run(pnmtopng, alpha_option, stdin=wide_rgb), CLEAR),
        "netpbm_grey_alpha_16bit": (run(pnmtopng, alpha_option, stdin=wide_grey), CLEAR),
    }
    for name, (data, clear) in files.items():
        (folder / f"{name}.png").write_bytes(data)
        (folder / f"{name}.clear").write_bytes(clear)
    # ImageMagick, interlaced, from the files above: 8 and 16 bits a sample.
    for name, source, kind in (("magick_rgba_8bit_interlaced", "pillow_rgba_8bit", "PNG32"),
                               ("magick_rgba_16bit_interlaced", "netpbm_rgba_16bit", "PNG64")):
        run(convert, folder / f"{source}.png", "-interlace", "PNG", f"{kind}:{folder / name}.png")
        (folder / f"{name}.clear").write_bytes(CLEAR)
    rgb.save(folder / "pillow_bitmap.bmp")
    (folder / "pillow_bitmap.clear").write_bytes(NONE)


if __name__ == "__main__":
    main(*sys.argv[1:4])
