"""Output files on users' own machines. Root sets up folders and files with
other owners, groups and modes, set-group-ID and sticky folders and hard
links; the programs then run as an ordinary user (setpriv), answer y at the
question, and must leave the file as that user expects: the new content under
every name it has, with its owner, group and mode unchanged. A write that
fails still says so."""

import atexit
import os
import resource
import shutil
import signal
import stat
import subprocess
import tempfile
import unittest
from dataclasses import dataclass
from pathlib import Path

from kztest import BIN_DIR, TIMEOUT, WINDOWS, X68K, KzTestCase, asked, make_with, run_program, shape_disk, work_dir

WRITER, GROUP, OTHER = 65534, 4242, 4243  # the user, a group the user belongs to, someone else
ROOT = 0
OUTPUT_LIMIT = 4096  # a file size limit that every output runs into


@dataclass(frozen=True)
class Situation:
    name: str
    folder: tuple  # owner, group, mode
    target: tuple  # owner, group, mode
    linked: bool = False  # the target has a second name
    in_place: bool = True  # the file must keep its inode
    refused: bool = False  # the user may not write the file


SITUATIONS = (
    Situation("folder_not_writable", (ROOT, ROOT, 0o555), (ROOT, ROOT, 0o666)),
    Situation("shared_group_setgid_folder", (ROOT, GROUP, 0o2775), (ROOT, GROUP, 0o664)),
    Situation("sticky_folder_other_owner", (ROOT, ROOT, 0o1777), (OTHER, OTHER, 0o666)),
    Situation("second_hard_link", (WRITER, WRITER, 0o755), (WRITER, WRITER, 0o644), linked=True),
    # The user's own file in the user's own folder is still replaced by
    # renaming a complete new file over it.
    Situation("own_file", (WRITER, WRITER, 0o755), (WRITER, WRITER, 0o640), in_place=False),
    Situation("read_only_file", (WRITER, WRITER, 0o755), (ROOT, ROOT, 0o644), refused=True),
)


@dataclass(frozen=True)
class Writer:
    """One program writing the target; input_is_target: the target is also
    the program's input (the changer with --write naming --disk)."""
    name: str
    program: str
    args: tuple
    failure_line: str
    write_failure: str = "write error 'target'\n"  # what a failed write prints first
    input_is_target: bool = False


def identity(path):
    st = os.stat(path)
    return st.st_uid, st.st_gid, stat.S_IMODE(st.st_mode), st.st_nlink


@unittest.skipIf(WINDOWS, "owners, groups, sticky folders and hard links are POSIX matters; the Windows "
                          "output step has its own tests")
@unittest.skipUnless(os.geteuid() == 0, "needs root to give files and folders other owners and groups; "
                                        "the programs then run as an ordinary user")
@unittest.skipUnless(shutil.which("setpriv"), "needs setpriv (util-linux) to run as an ordinary user")
class SharedFilesTest(KzTestCase):
    @classmethod
    def setUpClass(cls):
        cls.root = work_dir()
        os.chmod(cls.root, 0o755)
        # The programs are copied where the ordinary user may run them,
        # whatever the permissions along the build folder's path, on a file
        # system that lets programs run.
        places = [Path(p) for p in (tempfile.gettempdir(), "/var/tmp", "/dev/shm") if os.path.isdir(p)]
        runnable = next((p for p in places if not os.statvfs(p).f_flag & os.ST_NOEXEC), places[0])
        cls.bin = Path(tempfile.mkdtemp(prefix="kz-bin-", dir=runnable))
        atexit.register(shutil.rmtree, cls.bin, True)
        os.chmod(cls.bin, 0o755)
        for program in ("kzega_shapes", X68K.changer):
            shutil.copy(BIN_DIR / program, cls.bin / program)
        inputs = cls.root / "in"
        inputs.mkdir()
        tiles = bytes((i * 7 + i // 97) % 256 for i in range(65536))
        (inputs / "TILES.16").write_bytes(tiles)
        # The sheet comes from a second disk, so the changed image differs from the input.
        (inputs / "disk.xdf").write_bytes(shape_disk(os.urandom(98304), os.urandom(131072)))
        (inputs / "other.xdf").write_bytes(shape_disk(os.urandom(98304), os.urandom(131072)))
        make_with(X68K.extractor, "--disk", "other.xdf", "--no-remake-water", "sheet.bmp", "mask.bmp",
                  cwd=inputs)
        for item in inputs.iterdir():
            item.chmod(0o644)

        changer_args = ("--disk", inputs / "disk.xdf", "--write", "target", inputs / "sheet.bmp",
                        inputs / "mask.bmp")
        cls.writers = (
            Writer("bitmap", "kzega_shapes", (inputs / "TILES.16", "target"),
                   "write bitmap file error 'target'\n",
                   "error: write_bitmap() - can't write bitmap data\nwrite error 'target'\n"),
            Writer("disk_image", X68K.changer, changer_args, "write disk image error 'target'\n"),
            Writer("disk_image_over_its_input", X68K.changer,
                   ("--disk", "target", "--write", "target", inputs / "sheet.bmp", inputs / "mask.bmp"),
                   "write disk image error 'target'\n", input_is_target=True),
        )
        # What each writer makes of a new file, as root.
        cls.expected = {}
        for writer in cls.writers:
            scratch = cls.root / f"reference-{writer.name}"
            scratch.mkdir()
            if writer.input_is_target:
                shutil.copy(inputs / "disk.xdf", scratch / "target")
                run = run_program(writer.program, *writer.args, cwd=scratch, stdin=b"y")
                if run.returncode or run.stdout != asked("target").encode():
                    raise AssertionError(f"{writer.program} could not make the reference: {run}")
            else:
                make_with(writer.program, *writer.args, cwd=scratch)
            cls.expected[writer.name] = (scratch / "target").read_bytes()
        cls.old_input = (inputs / "disk.xdf").read_bytes()

    def set_up(self, situation, writer, attempt):
        """A folder holding the target (and its second name), owned as the situation says."""
        folder = self.root / f"{situation.name}-{writer.name}-{attempt}"
        folder.mkdir()
        target = folder / "target"
        # Longer than any output: a file written in place must be cut to its new length.
        target.write_bytes(self.old_input if writer.input_is_target else b"old" * 100000)
        if situation.linked:
            os.link(target, folder / "second")
        os.chown(target, *situation.target[:2])
        os.chmod(target, situation.target[2])
        os.chown(folder, *situation.folder[:2])
        os.chmod(folder, situation.folder[2])
        return folder, target

    def run_as_user(self, writer, folder, limit):
        def child():
            os.umask(0o022)
            if limit:
                signal.signal(signal.SIGXFSZ, signal.SIG_IGN)
                resource.setrlimit(resource.RLIMIT_FSIZE, (limit, limit))
        return subprocess.run(["setpriv", f"--reuid={WRITER}", f"--regid={WRITER}", f"--groups={GROUP}", "--",
                               str(self.bin / writer.program), *map(str, writer.args)],
                              cwd=folder, input=b"y\n", capture_output=True, timeout=TIMEOUT,
                              preexec_fn=child)

    def test_existing_file_keeps_owner_group_mode_and_names(self):
        for situation in SITUATIONS:
            for writer in self.writers:
                with self.subTest(situation=situation.name, writer=writer.name):
                    folder, target = self.set_up(situation, writer, "success")
                    before, inode, old = identity(target), os.stat(target).st_ino, target.read_bytes()
                    run = self.run_as_user(writer, folder, None)
                    self.assertEqual(run.stderr, b"")
                    if situation.refused:
                        self.assertEqual((run.returncode, run.stdout.decode()),
                                         (1, asked("target") + "open error 'target'\n" + writer.failure_line))
                        self.assertSame(target.read_bytes(), old, "refused file")
                    else:
                        self.assertEqual((run.returncode, run.stdout.decode()), (0, asked("target")))
                        self.assertSame(target.read_bytes(), self.expected[writer.name], "replaced file")
                        if situation.linked:
                            self.assertSame((folder / "second").read_bytes(), self.expected[writer.name],
                                            "second name")
                    self.assertEqual(identity(target), before, "owner, group, mode, links")
                    self.assertEqual(os.stat(target).st_ino == inode, situation.in_place or situation.refused,
                                     "written in place")
                    self.assertEqual(sorted(os.listdir(folder)), ["second", "target"] if situation.linked
                                     else ["target"], "files in the folder")

    def test_failed_write_reports_write_error(self):
        for situation in (s for s in SITUATIONS if not s.refused):
            for writer in self.writers:
                with self.subTest(situation=situation.name, writer=writer.name):
                    folder, target = self.set_up(situation, writer, "failure")
                    before, old = identity(target), target.read_bytes()
                    run = self.run_as_user(writer, folder, OUTPUT_LIMIT)
                    self.assertEqual(run.stderr, b"")
                    self.assertEqual((run.returncode, run.stdout.decode()),
                                     (1, asked("target") + writer.write_failure + writer.failure_line))
                    self.assertEqual(identity(target), before, "owner, group, mode, links")
                    if not situation.in_place:
                        self.assertSame(target.read_bytes(), old, "file replaced only when complete")
                    self.assertEqual(sorted(os.listdir(folder)), ["second", "target"] if situation.linked
                                     else ["target"], "files in the folder")


@unittest.skipIf(WINDOWS, "a link here is a POSIX symbolic link")
class LinkedImageTest(KzTestCase):
    """The changer writing the image it reads, named through a symbolic link
    on either side: the image is still being read while the new one is
    written, so it must not be emptied first, and the link stays a link."""

    def test_changer_writes_through_a_link_to_its_own_input(self):
        directory = work_dir()
        disk = shape_disk(os.urandom(98304), os.urandom(131072))
        (directory / "other.xdf").write_bytes(shape_disk(os.urandom(98304), os.urandom(131072)))
        make_with(X68K.extractor, "--disk", "other.xdf", "--no-remake-water", "sheet.bmp", "mask.bmp",
                  cwd=directory)
        (directory / "image.xdf").write_bytes(disk)
        make_with(X68K.changer, "--disk", "image.xdf", "--write", "expected.xdf", "sheet.bmp", "mask.bmp",
                  cwd=directory)
        expected = (directory / "expected.xdf").read_bytes()
        for disk_arg, write_arg in (("image.xdf", "link.xdf"), ("link.xdf", "link.xdf"), ("link.xdf", "image.xdf")):
            with self.subTest(disk=disk_arg, write=write_arg):
                (directory / "image.xdf").write_bytes(disk)
                (directory / "link.xdf").unlink(missing_ok=True)
                (directory / "link.xdf").symlink_to("image.xdf")
                self.run_tool(X68K.changer, "--disk", disk_arg, "--write", write_arg, "sheet.bmp", "mask.bmp",
                              cwd=directory, stdin=b"y", stdout=asked(write_arg))
                self.assertSame((directory / "image.xdf").read_bytes(), expected, "changed image")
                self.assertTrue((directory / "link.xdf").is_symlink())


if __name__ == "__main__":
    unittest.main()
