"""File names as each system spells them, for all three kinds of program:
names beyond ASCII (which a Windows ANSI code page cannot spell: none of
these on a Western system, the Latin one on a Japanese system) in every
input and output and in the messages, answers typed or piped with CR LF, the
separators that bound the changer's derived output name, and Windows' read-
only attribute.

On Windows every row runs twice, under a Western and under a Japanese code
page. Wine takes its code page from the Unix locale; the Japanese one is
compiled here (localedef, Debian's locales package) into a scratch folder,
as the machine need not have it."""

import functools
import os
import pty
import select
import shutil
import subprocess
import time
import unittest

from kztest import (BIN_DIR, PC98, RUNNER, WINDOWS, KzTestCase, asked, make_with, run_windows, sample_files, tool,
                    wine_log, work_dir)

SHEET, MASK, TILE_SHEET = 0x40076, 0x1003E, 0x10076
DISK = "\u01fa.fdi"                 # Ǻ: Latin, not in the Japanese code page
SHAPES, SHAPES_MASK = "シェイプ.bmp", "マスク.bmp"  # Japanese, not in a Western code page
TILES, OLD = "タイル.16", "既存.bmp"
CLEARED = "no mask bitmap 'NPC.CH' 256 shapes with fourth plane ... cleared\n"


@functools.lru_cache(maxsize=None)
def code_pages():
    """(name, environment) of each code page to run under."""
    if not WINDOWS:
        return [("unix", None)]
    locales = work_dir()
    tool("localedef", "-i", "ja_JP", "-f", "UTF-8", locales / "ja_JP.UTF-8")
    japanese = dict(os.environ, LOCPATH=str(locales), LC_ALL="ja_JP.UTF-8")
    # Proof that Wine took it: its command interpreter echoes シ in Shift JIS.
    echoed = run_windows([*RUNNER, "cmd.exe", "/c", "echo", "シ"], cwd=None, stdin=b"", env=japanese)
    assert echoed.stdout == b"\x83\x56\r\n", (f"Wine did not take the Japanese locale: {echoed.stdout!r}"
                                                + wine_log(echoed))
    return [("western", None), ("japanese", japanese)]


@functools.lru_cache(maxsize=None)
def fixture():
    work = work_dir()
    shutil.copy(sample_files() / PC98.default_image, work / "disk.fdi")
    shutil.copy(sample_files() / "TILES.16", work / "tiles.16")
    make_with(PC98.extractor, "--disk", "disk.fdi", "--no-remake-water", "sheet.bmp", "mask.bmp", cwd=work)
    return work


def filled_dir():
    work, cwd = fixture(), work_dir()
    for source, name in (("disk.fdi", DISK), ("tiles.16", TILES), ("sheet.bmp", SHAPES), ("mask.bmp", SHAPES_MASK),
                         ("sheet.bmp", OLD)):
        shutil.copy(work / source, cwd / name)
    return cwd


class NamesTest(KzTestCase):
    def test_names_beyond_ascii_and_answers_with_cr_lf(self):
        """The same rows on every system, and on Windows the same results as
        the Linux programs'."""
        not_written = "write bitmap file error '{0}'\n".format
        for code_page, env in code_pages():
            with self.subTest(code_page=code_page):
                cwd = filled_dir()
                self.check_rows(PC98.extractor, cwd, [
                    (["--disk", DISK, "新しい.bmp", "新しいマスク.bmp"], b"", "", 0,
                     {"新しい.bmp": SHEET, "新しいマスク.bmp": MASK}),
                    (["--disk", "ない.fdi", "新しい.bmp"], b"", "open error 'ない.fdi'\nread disk image error 'ない.fdi'\n"),
                    (["--disk", DISK, OLD], b"y\r\n", asked(OLD), 0, {OLD: SHEET}),
                    (["--disk", DISK, OLD], b"\r\nn\r\n", asked(OLD) + not_written(OLD)),
                ], env=env)
                self.check_rows(PC98.changer, cwd, [
                    (["--disk", DISK, SHAPES, SHAPES_MASK], b"", "", 0, {"\u01fa.NEW.fdi": len((cwd / DISK).read_bytes())}),
                    (["--disk", DISK, "--write", DISK, SHAPES, SHAPES_MASK], b"y\r\n", asked(DISK), 0, {}),
                    (["--disk", DISK, "ない.bmp"], b"", "open error 'ない.bmp'\nread shapes file error 'ない.bmp'\n"),
                ], env=env)
                self.check_rows("kzega_shapes", cwd, [
                    ([TILES, "タイルの絵.bmp"], b"", "", 0, {"タイルの絵.bmp": TILE_SHEET}),
                    ([TILES, OLD], b"Y\r\n", asked(OLD), 0, {OLD: TILE_SHEET}),
                ], env=env)

    def test_derived_name_looks_for_the_dot_after_the_systems_separators(self):
        """Only '/' separates on Linux, where a backslash and a colon are
        ordinary characters; on Windows also '\\' and a drive's colon. The
        working directory's drive under Wine is Z:, its root directory."""
        cwd = filled_dir()
        image = (cwd / DISK).read_bytes()
        length = len(image)
        (cwd / "old.dir").mkdir()
        if WINDOWS:
            (cwd / "old.dir" / "image").write_bytes(image)
            (cwd / "image.fdi").write_bytes(image)
            expected = {"old.dir\\image": "old.dir/image.NEW", "Z:image.fdi": "image.NEW.fdi",
                        "old.dir/image": "old.dir/image.NEW"}
        else:
            for name in ("old.dir\\image", "Z:image.fdi", "old.dir/image"):
                (cwd / name).write_bytes(image)
            expected = {"old.dir\\image": "old.NEW.dir\\image", "Z:image.fdi": "Z:image.NEW.fdi",
                        "old.dir/image": "old.dir/image.NEW"}
        self.check_rows(PC98.changer, cwd, [
            (["--disk", disk, SHAPES, SHAPES_MASK], b"", "", 0, {made: length}) for disk, made in expected.items()
        ], as_on_linux=False)

    def test_no_output_is_written_over_an_input(self):
        """However the names spell it (./, a second hard link, a symbolic link
        on Linux), an output that is one of the program's own inputs is
        refused before anything is asked or written; the changer's image over
        the image it changes stays an edit in place."""
        cwd = filled_dir()
        shutil.copy(cwd / DISK, cwd / PC98.default_image)
        os.link(cwd / DISK, cwd / "second.fdi")
        length = (cwd / DISK).stat().st_size
        over = "can't write over input '{0}'\n".format
        links = [] if WINDOWS else [("link.bmp", SHAPES)]
        for link, target in links:
            os.symlink(target, cwd / link)
        self.check_rows(PC98.extractor, cwd, [
            ([PC98.default_image, "new.bmp"], b"y\n", over(PC98.default_image)),
            (["--disk", DISK, "./" + DISK], b"y\n", over("./" + DISK)),
            (["--disk", DISK, "second.fdi"], b"y\n", over("second.fdi")),
            (["--disk", DISK, "new.bmp", "second.fdi"], b"y\n", over("second.fdi")),
            (["--disk", DISK, "new.bmp", "./new.bmp"], b"y\n", "can't write mask over sheet './new.bmp'\n"),
            (["--disk", DISK, OLD, "./" + OLD], b"y\n", f"can't write mask over sheet './{OLD}'\n"),
        ], as_on_linux=False)  # the Linux twin's copy of the folder would split the hard link
        self.check_rows(PC98.changer, cwd, [
            (["--disk", DISK, "--write", "./" + SHAPES, SHAPES, SHAPES_MASK], b"y\n", over("./" + SHAPES)),
            (["--disk", DISK, "--write", SHAPES_MASK, SHAPES, SHAPES_MASK], b"y\n", over(SHAPES_MASK)),
            *[(["--disk", DISK, "--write", link, SHAPES], b"y\n", over(link)) for link, _ in links],
            # Without the mask every figure of the sample loses its fourth plane.
            (["--disk", "second.fdi", "--write", DISK, SHAPES], b"y\n", CLEARED + asked(DISK), 0,
             {DISK: length, "second.fdi": length}),
        ], as_on_linux=False)
        self.check_rows("kzega_shapes", cwd, [
            ([TILES, "./" + TILES], b"y\n", over("./" + TILES)),
        ])

    @unittest.skipUnless(WINDOWS, "a Windows console; elsewhere the terminal takes the bytes as they are")
    def test_messages_on_a_console_show_the_names_and_leave_its_code_page(self):
        """On a console (Wine makes one for a terminal) a message naming a
        file beyond the code page shows the name as typed, and the console's
        code page is the same after the program as before."""
        cwd = filled_dir()
        program = "Z:" + str(BIN_DIR / (PC98.extractor + ".exe")).replace("/", "\\")  # Wine's drive for /
        line = f'chcp & {program} --disk ない.fdi 新しい.bmp & chcp'
        controller, terminal = pty.openpty()
        run = subprocess.Popen([*RUNNER, "cmd.exe", "/c", line], cwd=cwd, stdin=terminal, stdout=terminal,
                               stderr=terminal, start_new_session=True)
        os.close(terminal)
        shown, deadline = b"", time.monotonic() + 60
        while time.monotonic() < deadline:
            if select.select([controller], [], [], 0.5)[0]:
                try:
                    chunk = os.read(controller, 4096)
                except OSError:  # the terminal's other side closed
                    break
                if not chunk:
                    break
                shown += chunk
            elif run.poll() is not None:
                break
        os.close(controller)
        run.kill()
        run.wait()
        text = shown.decode(errors="replace")
        self.assertIn("open error 'ない.fdi'", text)
        self.assertIn("read disk image error 'ない.fdi'", text)
        pages = [line.split(":")[-1].strip() for line in text.splitlines() if "code page" in line]
        self.assertEqual(len(pages), 2, text)
        self.assertEqual(pages[0], pages[1], text)

    @unittest.skipUnless(WINDOWS, "the read-only attribute is Windows'; root may write any file on Linux")
    def test_read_only_attribute_refuses_the_file(self):
        cwd = filled_dir()
        for name in (DISK, OLD):
            os.chmod(cwd / name, 0o444)  # Wine shows a file without write permission as read-only
        self.check_rows(PC98.extractor, cwd, [
            (["--disk", DISK, OLD], b"y", asked(OLD) + f"open error '{OLD}'\nwrite bitmap file error '{OLD}'\n"),
        ], as_on_linux=False)
        self.check_rows(PC98.changer, cwd, [
            (["--disk", DISK, "--write", DISK, SHAPES], b"y",
             CLEARED + asked(DISK) + f"open error '{DISK}'\nwrite disk image error '{DISK}'\n"),
        ], as_on_linux=False)


if __name__ == "__main__":
    unittest.main()
