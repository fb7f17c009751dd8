"""The web page's timings in headless Chromium, for scripts/bench --web, with
the native programs' for the same work measured in the same run:

- the page ready: from the start of its loading to its programs being
  ready to run (the page's own clock, performance.now()), in a new browser
  (three of them) and opened again in one;
- extracting the sample disk (FDI), sheet and mask as PNG: from the page
  having the file's bytes to both downloads offered;
- changing it back, sheet and mask in as PNG: the same for the changed
  disk image.

Each figure is the median (and the largest) of RUNS tries; the native
programs' times are medians of as many runs, each started as a shell
would and with its outputs removed before.

Usage: bench_web.py PAGE NATIVE_BUILD_DIR WORK_DIR RUNS
"""

import statistics
import subprocess
import sys
import time
from pathlib import Path

sys.path.insert(0, str(Path(__file__).resolve().parents[1] / "tests" / "web"))
from page_driver import Page  # noqa: E402

page_path, build, work = (Path(argument).resolve() for argument in sys.argv[1:4])
runs = int(sys.argv[4])
sample = build / "sample" / "KZ_Varnholm.fdi"
bin_dir = build / "tools"


def native_ms(command, outputs):
    times = []
    for _ in range(runs + 3):
        for name in outputs:
            (work / name).unlink(missing_ok=True)
        begun = time.perf_counter()
        subprocess.run(command, cwd=work, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, check=True)
        times.append((time.perf_counter() - begun) * 1000)
    return times[3:]


def row(label, times, target):
    median, worst = statistics.median(times), max(times)
    verdict = "" if target is None else f"{'met' if median <= target else 'MISSED'} (target {target} ms)"
    print(f"{label:46} {median:8.1f} ms {worst:8.1f} ms  {verdict}")


(work / "KZ_Varnholm.fdi").write_bytes(sample.read_bytes())
extract = [str(bin_dir / "kzpc98shapes"), "--disk", "KZ_Varnholm.fdi", "shapes.png", "mask.png"]
change = [str(bin_dir / "kzpc98chg_shapes"), "--disk", "KZ_Varnholm.fdi", "shapes.png", "mask.png"]
native_extract = native_ms(extract, ["shapes.png", "mask.png"])
native_change = native_ms(change, ["KZ_Varnholm.NEW.fdi"])

# A browser opening the page for the first time compiles the module from
# nothing; later openings may find it in the browser's cache.
first = []
for _ in range(3):
    fresh = Page(page_path.as_uri())
    first.append(fresh.ready_ms())
    fresh.close()

page = Page(page_path.as_uri())
try:
    ready, extracted, changed = [], [], []
    for _ in range(runs):
        page.open(page_path.as_uri())
        ready.append(page.ready_ms())
    page.set_choices(version="pc98")
    for _ in range(runs):
        result = page.choose("disk", work / "KZ_Varnholm.fdi")
        assert result.state == "done", result.messages
        extracted.append(result.ms)
    # The mask, once chosen, goes in with every sheet chosen after it.
    page.choose("sheet", work / "shapes.png")
    page.choose("mask", work / "mask.png")
    for _ in range(runs):
        result = page.choose("sheet", work / "shapes.png")
        assert result.state == "done" and list(result.downloads) == ["KZ_Varnholm.NEW.fdi"], result.messages
        changed.append(result.ms)
finally:
    page.close()

print(f"== the web page in headless Chromium, {runs} runs each ({page_path.stat().st_size} bytes)")
print(f"{'':46} {'median':>11} {'largest':>11}")
row("page ready, first opening in a new browser", first, 1000)
row("page ready, opened again", ready, 1000)
row("extract the sample, sheet and mask as PNG", extracted, 100)
row("  the same, native kzpc98shapes", native_extract, None)
row("change it back, sheet and mask as PNG", changed, 100)
row("  the same, native kzpc98chg_shapes", native_change, None)
