"""The harness's Windows runs, with a stand-in for the Wine wrapper: a run
that fails its checks or does not end leaves no copy of its folder behind,
and a missing Linux build stops the comparison loudly, not quietly. Each
case imports the harness afresh in a Python of its own, as the harness
reads its settings once."""

import os
import subprocess
import sys
import tempfile
import unittest
from pathlib import Path

LINUX_PROGRAMS = ("kzpc98shapes", "kzpc98chg_shapes", "kzx68kshapes", "kzx68kchg_shapes", "kzega_shapes")


class HarnessTest(unittest.TestCase):
    def test_windows_runs_that_fail_leave_no_linux_copy(self):
        for case, runner, linux_programs, error in (
            ("lines without CR", "printf 'open error\\n'", LINUX_PROGRAMS, "ends without CR"),
            ("no end in time", "exec sleep 60", LINUX_PROGRAMS, "TimeoutExpired"),
            ("no Linux programs", "exit 0", (), "the Linux programs to compare with are missing"),
        ):
            with self.subTest(case), tempfile.TemporaryDirectory(prefix="kz-harness-") as scratch:
                scratch = Path(scratch)
                (scratch / "runner").write_text(f"#!/bin/sh\n{runner}\n")
                (scratch / "linux").mkdir()
                for name in ("runner", *(f"linux/{p}" for p in linux_programs)):
                    (scratch / name).touch()
                    (scratch / name).chmod(0o755)
                (scratch / "tmp").mkdir()
                (scratch / "work").mkdir()
                env = dict(os.environ, TMPDIR=str(scratch / "tmp"), KZ_TARGET_SYSTEM="Windows",
                           KZ_RUNNER=str(scratch / "runner"), KZ_LINUX_BIN_DIR=str(scratch / "linux"))
                env.pop("KZ_WINE_BUILD_LOG", None)
                code = ("import kztest; kztest.TIMEOUT = 2; "
                        f"kztest.run_program('kzega_shapes', 'TILES.16', cwd={str(scratch / 'work')!r})")
                run = subprocess.run([sys.executable, "-c", code], cwd=Path(__file__).parent, env=env,
                                     capture_output=True, timeout=60)
                self.assertNotEqual(run.returncode, 0, "the run passed")
                self.assertIn(error, run.stderr.decode(errors="replace"))
                self.assertEqual(sorted(p.name for p in (scratch / "tmp").glob("kz-linux-*")), [], "copies left")


if __name__ == "__main__":
    unittest.main()
