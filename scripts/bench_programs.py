"""Whole-process figures of the five programs, each side by side with its
floor, for scripts/bench: median times of runs that take turns with the
floor's, minor page faults and system calls per run (the process's own
resource usage and strace).

Usage: bench_programs.py BUILD_DIR WORK_DIR RUNS
"""

import json
import os
import re
import statistics
import subprocess
import sys
import time
from dataclasses import dataclass
from pathlib import Path

build, work, runs = Path(sys.argv[1]), Path(sys.argv[2]), int(sys.argv[3])
warmup = 10
devnull = os.open(os.devnull, os.O_RDWR)
bin_dir, sample = build / "tools", build / "sample"
out = work / "out"
out.mkdir()


@dataclass(frozen=True)
class Row:
    label: str
    command: list
    floor: list  # the floor's command
    target: float  # the largest ratio to the floor that meets the target


def removed_outputs():
    for name in ("a", "b", "c", "a.png", "b.png"):
        (out / name).unlink(missing_ok=True)


def faults_and_calls(command):
    """Median minor page faults of five runs, and the system calls of one
    (strace -f -c), of a command that starts with no output in place."""
    faults = []
    for _ in range(5):
        removed_outputs()
        child = subprocess.Popen(command, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL)
        _, _, usage = os.wait4(child.pid, 0)
        faults.append(usage.ru_minflt)
    removed_outputs()
    summary = work / "strace.txt"
    subprocess.run(["strace", "-f", "-c", "-o", summary, *command], stdin=subprocess.DEVNULL,
                   stdout=subprocess.DEVNULL, check=False)
    total = re.search(r"^\S+\s+\S+\s+\S+\s+(\d+)(?:\s+\d+)?\s+total$", summary.read_text(), re.M)
    return int(statistics.median(faults)), int(total.group(1)) if total else -1


def run_once(command):
    """Seconds from starting the command to its end, with standard input and
    output on /dev/null, like a shell's."""
    removed_outputs()
    start = time.perf_counter()
    child = os.posix_spawnp(command[0], command, os.environ,
                           file_actions=[(os.POSIX_SPAWN_DUP2, devnull, 0),
                                         (os.POSIX_SPAWN_DUP2, devnull, 1)])
    os.waitpid(child, 0)
    return time.perf_counter() - start


def medians(commands):
    """Median seconds of each command. The commands take turns, run after
    run, so that whatever else the machine does in the meantime falls on
    all of them alike; the first runs warm the caches and are not counted."""
    times = [[] for _ in commands]
    for n in range(warmup + runs):
        for i, command in enumerate(commands):
            seconds = run_once(command)
            if n >= warmup:
                times[i].append(seconds)
    return [statistics.median(t) for t in times]


# The changers read the extractors' sheet and mask, as BMP and as PNG.
refs = {}
for kind, image in (("fdi", sample / "KZ_Varnholm.fdi"), ("xdf", sample / "kz-varnholm.xdf")):
    program = bin_dir / ("kzpc98shapes" if kind == "fdi" else "kzx68kshapes")
    for ext in ("bmp", "png"):
        refs[kind, ext] = (work / f"{kind}-shapes.{ext}", work / f"{kind}-mask.{ext}")
        subprocess.run([program, "--disk", image, *refs[kind, ext]], stdin=subprocess.DEVNULL, check=True,
                       stdout=subprocess.DEVNULL)

rows = []
for kind, image, suffix in (("fdi", sample / "KZ_Varnholm.fdi", "pc98"), ("xdf", sample / "kz-varnholm.xdf", "x68k")):
    copy = ["cp", image, out / "c"]
    rows.append(Row(f"kz{suffix}shapes", [bin_dir / f"kz{suffix}shapes", "--disk", image, out / "a", out / "b"],
                    copy, 1.2))
    rows.append(Row(f"kz{suffix}chg_shapes", [bin_dir / f"kz{suffix}chg_shapes", "--disk", image, "--write",
                                             out / "a", *refs[kind, "bmp"]], copy, 1.5))
    # PNG costs compression and decompression.
    rows.append(Row(f"kz{suffix}shapes PNG", [bin_dir / f"kz{suffix}shapes", "--disk", image, out / "a.png",
                                             out / "b.png"], copy, 2.0))
    rows.append(Row(f"kz{suffix}chg_shapes PNG", [bin_dir / f"kz{suffix}chg_shapes", "--disk", image, "--write",
                                                 out / "a", *refs[kind, "png"]], copy, 2.0))
# The same disk in the other containers, each against cp of its own file.
for image, suffix, kind in (("KZ_Varnholm.d88", "pc98", "fdi"), ("KZ_Varnholm.nfd", "pc98", "fdi"),
                            ("KZ_Varnholm.fdd", "pc98", "fdi"), ("KZ_Varnholm.hdm", "pc98", "fdi"),
                            ("kz-varnholm.dim", "x68k", "xdf")):
    container = image.rsplit(".", 1)[1]
    copy = ["cp", sample / image, out / "c"]
    rows.append(Row(f"kz{suffix}shapes {container}",
                    [bin_dir / f"kz{suffix}shapes", "--disk", sample / image, out / "a", out / "b"], copy, 1.2))
    rows.append(Row(f"kz{suffix}chg_shapes {container}",
                    [bin_dir / f"kz{suffix}chg_shapes", "--disk", sample / image, "--write", out / "a",
                     *refs[kind, "bmp"]], copy, 1.5))
rows.append(Row("kzega_shapes", [bin_dir / "kzega_shapes", sample / "TILES.16", out / "a"],
                ["cp", sample / "TILES.16", out / "c"], 1.0))
rows.append(Row("kzega_shapes --cga", [bin_dir / "kzega_shapes", "--cga", sample / "TILES.4", out / "a"],
                ["cp", sample / "TILES.4", out / "c"], 1.0))
for program in ("kzpc98shapes", "kzx68kchg_shapes", "kzega_shapes"):
    rows.append(Row(f"{program} --help", [bin_dir / program, "--help"], ["cp", "--help"], 0.5))

print(f"{'run':26} {'median':>9} {'floor':>9} {'ratio':>6} {'target':>7} {'':7}"
      f" {'faults':>6} {'floor':>6} {'calls':>6} {'floor':>6}")
missed = []
for row in rows:
    program_time, floor_time = medians([list(map(str, row.command)), list(map(str, row.floor))])
    ratio = program_time / floor_time
    met = ratio <= row.target
    if not met:
        missed.append(row.label)
    faults, calls = faults_and_calls(row.command)
    floor_faults, floor_calls = faults_and_calls(row.floor)
    print(f"{row.label:26} {program_time * 1e3:6.2f} ms {floor_time * 1e3:6.2f} ms {ratio:5.2f}x"
          f" {row.target:6.1f}x {'met' if met else 'MISSED':7} {faults:6} {floor_faults:6} {calls:6} {floor_calls:6}")
print(f"(medians of {runs} runs each, program and floor taking turns; floor: cp of the program's input,"
      " or cp --help; faults: minor page faults per run; calls: system calls per run)")
print("all program targets met" if not missed else "program targets missed: " + ", ".join(missed))
