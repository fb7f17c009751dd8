#!/usr/bin/python3
"""Runs the five programs under valgrind's memcheck through the editing cycle
on the sample data and through their failure paths, and fails on any memory
error and on any heap block left at exit.

    memcheck_test.py VALGRIND BIN_DIR SAMPLE_DIR

Failure paths leave early, so they are where a block is most easily left
behind; every program gets several. Each run must also keep the program's own
exit status (0 or 1): valgrind reports what it finds with status 99.
"""

import shutil
import struct
import subprocess
import sys
import tempfile
import time
from pathlib import Path

MEMCHECK_OPTIONS = (
    "--tool=memcheck", "--error-exitcode=99", "--leak-check=full", "--show-leak-kinds=all",
    "--errors-for-leak-kinds=all", "--track-fds=no", "--show-error-list=yes")

SHEET_WIDTH, SHEET_HEIGHT = 512, 1024


def heap_findings(log):
    """What a memcheck log says is wrong; empty when the run was clean."""
    findings = []
    if "HEAP SUMMARY:" not in log:
        findings.append("no heap summary in the log: the program did not run to its end")
    if "ERROR SUMMARY: 0 errors" not in log:
        findings.append("memcheck reported errors")
    if "All heap blocks were freed -- no leaks are possible" not in log:
        findings.append("heap blocks left at exit")
    return findings


def bitmap_24bit(width, height):
    """An all-black 24-bit BMP with the plain 40-byte header."""
    row = (width * 3 + 3) // 4 * 4
    pixels = bytes(row * height)
    header = struct.pack("<2sIHHI", b"BM", 54 + len(pixels), 0, 0, 54)
    info = struct.pack("<IiiHHIIiiII", 40, width, height, 1, 24, 0, len(pixels), 2835, 2835,
                       0, 0)
    return header + info + pixels


class Memcheck:
    def __init__(self, valgrind, bin_dir, work):
        self.valgrind = valgrind
        self.bin_dir = Path(bin_dir)
        self.logs = work / "logs"
        self.logs.mkdir()
        self.runs = 0
        self.failed = []

    def run(self, label, program, *args, cwd, status, stdin=b"", says=None, makes=()):
        """Runs one program under memcheck; records a failure with its output and log."""
        self.runs += 1
        log_path = self.logs / f"{self.runs:02d}-{program}.log"
        for path in makes:
            (cwd / path).unlink(missing_ok=True)
        command = [self.valgrind, *MEMCHECK_OPTIONS, f"--log-file={log_path}", str(self.bin_dir / program), *map(str, args)]
        start = time.monotonic()
        result = subprocess.run(command, cwd=cwd, input=stdin, capture_output=True, timeout=120)
        seconds = time.monotonic() - start
        output = result.stdout.decode(errors="replace")
        log = log_path.read_text(errors="replace") if log_path.exists() else ""

        problems = heap_findings(log)
        if result.returncode == 99:
            problems.append("valgrind's error exit status 99")
        elif result.returncode != status:
            problems.append(f"exit status {result.returncode}, expected {status}")
        if says is not None and says not in output:
            problems.append(f"output lacks {says!r}")
        problems += [f"did not write {path}" for path in makes if not (cwd / path).is_file()]

        name = f"{program} {label}"
        print(f"{'ok  ' if not problems else 'FAIL'} {seconds:4.1f} s  {name}")
        if problems:
            self.failed.append(name)
            print("     " + "\n     ".join(problems))
            print("     command: " + " ".join(command))
            print("     program output:\n" + output)
            print("     memcheck log:\n" + log)
        sys.stdout.flush()


def extractor_runs(check, program, image, work):
    check.run("sheet and mask", program, "--disk", image, "--no-remake-water",
              "sheet.bmp", "mask.bmp", cwd=work, status=0, makes=("sheet.bmp", "mask.bmp"))
    check.run("overwrite answered y", program, "--disk", image, "--no-remake-water",
              "sheet.bmp", "mask.bmp", cwd=work, status=0, stdin=b"y\ny\n", says="overwrite ?")
    check.run("overwrite answered n", program, "--disk", image, "sheet.bmp", "mask.bmp",
              cwd=work, status=1, stdin=b"n\n", says="write bitmap file error 'sheet.bmp'")
    check.run("--dungeon --mirror-room", program, "--disk", image, "--dungeon", "--mirror-room",
              "adjusted.bmp", cwd=work, status=0, makes=("adjusted.bmp",))
    check.run("missing disk image", program, "--disk", "absent.img", "out.bmp", cwd=work,
              status=1, says="read disk image error 'absent.img'")
    check.run("truncated disk image", program, "--disk", "truncated.img", "out.bmp", cwd=work,
              status=1, says="read disk image error 'truncated.img/TILES.CH'")
    check.run("output in a missing directory", program, "--disk", image, "absent/out.bmp",
              cwd=work, status=1, says="write bitmap file error 'absent/out.bmp'")


def changer_runs(check, program, image, new_image, work):
    # Without --disk and --write: the default image, written to its .NEW name.
    check.run("default output name", program, "sheet.bmp", "mask.bmp", cwd=work, status=0,
              makes=(new_image,))
    check.run("--write", program, "--disk", image, "--write", "out.img", "sheet.bmp",
              "mask.bmp", cwd=work, status=0, makes=("out.img",))
    check.run("--write, overwrite answered y", program, "--disk", image, "--write", "out.img",
              "sheet.bmp", "mask.bmp", cwd=work, status=0, stdin=b"y\n", says="overwrite ?")
    check.run("--only-tiles", program, "--disk", image, "--write", "tiles.img", "--only-tiles",
              "sheet.bmp", "mask.bmp", cwd=work, status=0, makes=("tiles.img",))
    check.run("--only-npc", program, "--disk", image, "--write", "npc.img", "--only-npc",
              "sheet.bmp", "mask.bmp", cwd=work, status=0, makes=("npc.img",))
    check.run("without mask", program, "--disk", image, "--write", "unmasked.img", "sheet.bmp",
              cwd=work, status=0, makes=("unmasked.img",))
    check.run("24-bit sheet", program, "--disk", image, "--write", "deep.img", "sheet24.bmp",
              cwd=work, status=0, makes=("deep.img",))
    check.run("--write, overwrite answered n", program, "--disk", image, "--write", "out.img",
              "sheet.bmp", "mask.bmp", cwd=work, status=1, stdin=b"n\n", says="overwrite ?")
    check.run("missing sheet bitmap", program, "--disk", image, "--write", "x.img", "absent.bmp",
              cwd=work, status=1, says="read shapes file error 'absent.bmp'")
    check.run("truncated sheet bitmap", program, "--disk", image, "--write", "x.img",
              "truncated.bmp", cwd=work, status=1, says="read shapes file error 'truncated.bmp'")
    check.run("sheet bitmap of the wrong size", program, "--disk", image, "--write", "x.img",
              "tiles16.bmp", cwd=work, status=1, says="bitmap size error 'tiles16.bmp'")
    check.run("truncated mask bitmap", program, "--disk", image, "--write", "x.img", "sheet.bmp",
              "truncated.bmp", cwd=work, status=1, says="read mask file error 'truncated.bmp'")
    check.run("missing disk image", program, "--disk", "absent.img", "sheet.bmp", "mask.bmp",
              cwd=work, status=1, says="read disk image error 'absent.img'")
    check.run("truncated disk image", program, "--disk", "truncated.img", "--write", "x.img",
              "sheet.bmp", cwd=work, status=1,
              says="read disk image error 'truncated.img/TILES.CH'")
    check.run("output in a missing directory", program, "--disk", image, "--write",
              "absent/out.img", "sheet.bmp", "mask.bmp", cwd=work, status=1,
              says="write disk image error 'absent/out.img'")


def converter_runs(check, work):
    program = "kzega_shapes"
    for tiles, flags in (("TILES.16", ()), ("TILES.4", ("--cga",))):
        check.run(f"{' '.join(flags + (tiles,))} --dungeon --mirror-room", program, *flags,
                  "--dungeon", "--mirror-room", tiles, "adjusted.bmp", cwd=work, status=0,
                  makes=("adjusted.bmp",))
        check.run(f"{' '.join(flags + (tiles,))} --no-remake-water", program, *flags,
                  "--no-remake-water", tiles, "plain.bmp", cwd=work, status=0,
                  makes=("plain.bmp",))
    check.run("TILES.16 sheet for the changers", program, "TILES.16", "tiles16.bmp", cwd=work,
              status=0, makes=("tiles16.bmp",))
    check.run("overwrite answered n", program, "TILES.16", "tiles16.bmp", cwd=work, status=1,
              stdin=b"n\n", says="write bitmap file error 'tiles16.bmp'")
    check.run("missing tiles file", program, "absent.16", "out.bmp", cwd=work, status=1,
              says="read tiles file error 'absent.16'")
    check.run("short tiles file", program, "short.16", "out.bmp", cwd=work, status=1,
              says="read tiles file error 'short.16'")
    check.run("output in a missing directory", program, "TILES.16", "absent/out.bmp", cwd=work,
              status=1, says="write bitmap file error 'absent/out.bmp'")


def main():
    valgrind, bin_dir, sample_dir = sys.argv[1:4]
    sample = Path(sample_dir)
    start = time.monotonic()
    with tempfile.TemporaryDirectory(prefix="kz-memcheck-") as scratch:
        work = Path(scratch)
        check = Memcheck(valgrind, bin_dir, work)

        tiles_dir = work / "tiles"
        tiles_dir.mkdir()
        for name in ("TILES.16", "TILES.4"):
            shutil.copy(sample / name, tiles_dir / name)
        (tiles_dir / "short.16").write_bytes((sample / "TILES.16").read_bytes()[:1000])
        converter_runs(check, tiles_dir)

        builds = (("kzpc98shapes", "kzpc98chg_shapes", "KZ_Varnholm.fdi", "KZ_Varnholm.NEW.fdi"),
                  ("kzx68kshapes", "kzx68kchg_shapes", "kz-varnholm.xdf", "kz-varnholm.NEW.xdf"))
        for extractor, changer, image, new_image in builds:
            build_dir = work / extractor
            build_dir.mkdir()
            shutil.copy(sample / image, build_dir / image)
            # Long enough to load, too short for the shape files' clusters.
            (build_dir / "truncated.img").write_bytes((sample / image).read_bytes()[:16384])
            extractor_runs(check, extractor, image, build_dir)

            # A failed run above is already recorded; these only must not stop the rest.
            sheet = build_dir / "sheet.bmp"
            (build_dir / "truncated.bmp").write_bytes(
                sheet.read_bytes()[:5000] if sheet.exists() else b"BM")
            (build_dir / "sheet24.bmp").write_bytes(bitmap_24bit(SHEET_WIDTH, SHEET_HEIGHT))
            if (tiles_dir / "tiles16.bmp").exists():
                shutil.copy(tiles_dir / "tiles16.bmp", build_dir / "tiles16.bmp")
            changer_runs(check, changer, image, new_image, build_dir)

    print(f"{check.runs} runs under memcheck in {time.monotonic() - start:.1f} s, "
          f"{len(check.failed)} failed")
    for name in check.failed:
        print(f"  failed: {name}")
    return 1 if check.failed else 0


if __name__ == "__main__":
    sys.exit(main())
