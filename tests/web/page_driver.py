"""Drives kzshapes.html in headless Chromium as a user would: a file chosen
in one of its inputs, a box ticked, a version picked. Each action waits for
the page to say the run has ended (#messages gets data-state "done" or
"failed" and its run count goes up), then gives what the page shows: its
state, the programs' messages, and the downloads it offers with their bytes,
read back from their blob: addresses inside the page.

Used by the browser test and by scripts/bench (the web page's timings).
"""

import base64
import json
import shutil
import tempfile
from dataclasses import dataclass
from pathlib import Path

from selenium import webdriver  # Debian's python3-selenium, with chromium-driver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

CHROMIUM = "/usr/bin/chromium"
CHROMEDRIVER = "/usr/bin/chromedriver"
# As this machine's Chromium needs it, and so that the browser itself sends
# nothing anywhere (no updates, no sync, no field trials).
FLAGS = ("--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync")
TIMEOUT = 60


@dataclass
class Result:
    state: str
    messages: str
    command: str
    downloads: dict  # name -> bytes, in the page's order
    ms: float  # the page's own time for the action


class Page:
    def __init__(self, url, width=1280, height=800):
        self.profile = tempfile.mkdtemp(prefix="kz-chromium-")
        options = webdriver.ChromeOptions()
        options.binary_location = CHROMIUM
        for flag in (*FLAGS, f"--window-size={width},{height}", f"--user-data-dir={self.profile}"):
            options.add_argument(flag)
        options.set_capability("goog:loggingPrefs", {"performance": "ALL", "browser": "ALL"})
        try:
            self.browser = webdriver.Chrome(options=options, service=Service(executable_path=CHROMEDRIVER))
        except Exception:
            shutil.rmtree(self.profile, ignore_errors=True)
            raise
        self.browser.set_script_timeout(TIMEOUT)
        self.requests = []
        self.open(url)

    def open(self, url):
        self.browser.get(url)
        self.wait(lambda b: b.find_element(By.ID, "status").get_attribute("data-state") in ("ready", "failed"))
        state = self.attribute("status", "data-state")
        if state != "ready":
            raise AssertionError(f"the page did not load its programs: {self.text('status')}")

    def close(self):
        try:
            self.browser.quit()
        finally:
            shutil.rmtree(self.profile, ignore_errors=True)

    def wait(self, condition):
        WebDriverWait(self.browser, TIMEOUT).until(condition)

    def element(self, element_id):
        return self.browser.find_element(By.ID, element_id)

    def attribute(self, element_id, name):
        return self.element(element_id).get_attribute(name)

    def text(self, element_id):
        # textContent, not the rendered text: the messages exactly as printed.
        return self.browser.execute_script("return document.getElementById(arguments[0]).textContent",
                                           element_id)

    def runs(self):
        return int(self.attribute("messages", "data-runs") or 0)

    def _after(self, action):
        before = self.runs()
        action()
        self.wait(lambda b: self.runs() > before)
        return self.result()

    def choose(self, input_id, path):
        """Chooses a file in an input, as the file dialog does."""
        def action():
            field = self.element(input_id)
            # The same file chosen again must start a run again.
            self.browser.execute_script("arguments[0].value = ''", field)
            field.send_keys(str(Path(path).resolve()))
        return self._after(action)

    def set_choices(self, version=None, checks=(), picture_format=None, only=None):
        """Sets the version, the boxes and the choice lists as a user does,
        on a page where no file is chosen yet, so that nothing runs."""
        self.browser.execute_script(
            """const [version, checks, format, only] = arguments;
            const set = (id, property, value) => {
              const element = document.getElementById(id);
              if (element[property] === value) return;
              element[property] = value;
              element.dispatchEvent(new Event('change'));
            };
            if (version !== null) set('version', 'value', version);
            for (const id of ['no-remake-water', 'dungeon', 'mirror-room', 'cga'])
              set(id, 'checked', checks.includes(id));
            if (format !== null) set('format', 'value', format);
            if (only !== null) set('only', 'value', only);""",
            version, list(checks), picture_format, only)

    def tick(self, element_id):
        """Clicks a check box, which starts a run again with the files chosen."""
        return self._after(lambda: self.element(element_id).click())

    def result(self):
        downloads = self.browser.execute_async_script(
            """const done = arguments[arguments.length - 1];
            (async () => {
              const out = [];
              for (const link of document.querySelectorAll('#downloads a[download]')) {
                const bytes = new Uint8Array(await (await fetch(link.href)).arrayBuffer());
                let text = '';
                for (let i = 0; i < bytes.length; i += 0x8000)
                  text += String.fromCharCode.apply(null, bytes.subarray(i, i + 0x8000));
                out.push([link.getAttribute('download'), btoa(text)]);
              }
              return out;
            })().then(done, (error) => done(String(error)));""")
        if isinstance(downloads, str):
            raise AssertionError(f"the downloads could not be read: {downloads}")
        return Result(state=self.attribute("messages", "data-state"), messages=self.text("messages"),
                      command=self.text("command"),
                      downloads={name: base64.b64decode(data) for name, data in downloads},
                      ms=float(self.attribute("status", "data-ms") or "nan"))

    def network_requests(self):
        """Every request the page made since the last call, from the
        browser's performance log: (url, kind) pairs."""
        for entry in self.browser.get_log("performance"):
            message = json.loads(entry["message"])["message"]
            if message.get("method") == "Network.requestWillBeSent":
                params = message["params"]
                self.requests.append((params["request"]["url"], params.get("type", "")))
        requests, self.requests = self.requests, []
        return requests

    def ready_ms(self):
        return float(self.attribute("status", "data-ready-ms"))

    def emulate(self, width, height=None, mobile=False):
        """Lays the page out as a screen of that size shows it (a phone's
        with mobile); None goes back to the window's own size."""
        if width is None:
            self.browser.execute_cdp_cmd("Emulation.clearDeviceMetricsOverride", {})
        else:
            self.browser.execute_cdp_cmd("Emulation.setDeviceMetricsOverride", {
                "width": width, "height": height, "deviceScaleFactor": 1, "mobile": mobile})

    def save_screenshot(self, path):
        Path(path).parent.mkdir(parents=True, exist_ok=True)
        self.browser.save_screenshot(str(path))

    def point_at_cell(self, selector, column, row, cell):
        """Moves the pointer to the middle of a cell of a picture, scrolling
        it into view first."""
        from selenium.webdriver.common.actions.action_builder import ActionBuilder
        x, y = self.browser.execute_script(
            """const [selector, column, row, cell] = arguments;
            const img = document.querySelector(selector);
            const scale = img.clientWidth / img.naturalWidth;
            const at = (rect) => [rect.left + (column + 0.5) * cell * scale,
                                  rect.top + (row + 0.5) * cell * scale];
            window.scrollBy(0, at(img.getBoundingClientRect())[1] - window.innerHeight / 2);
            return at(img.getBoundingClientRect());""", selector, column, row, cell)
        actions = ActionBuilder(self.browser)
        actions.pointer_action.move_to_location(int(x), int(y))
        actions.perform()
