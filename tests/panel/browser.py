"""Headless Chromium driven over its DevTools pipe. A page is loaded once and
then looked at again and again, in real time, until what a test waits for
is there: images decode apart from the page's scripts, and on a busy machine
a fixed budget of the page's own clock can end before they do."""
import base64
import fcntl
import json
import os
import shutil
import subprocess
import tempfile
import time

import pytest

FLAGS = ["--headless", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
         "--disable-background-networking", "--disable-component-update", "--disable-sync",
         "--remote-debugging-pipe"]


class Chromium:
    def __init__(self, tmp_path, width=1400, height=1000):
        if not shutil.which("chromium"):
            pytest.fail("chromium is missing: run tools/install-deps.sh")
        self.tmp_path, self.ids, self.pending = tmp_path, 0, b""
        commands, self.to_browser = os.pipe()
        self.from_browser, replies = os.pipe()

        def browser_fds():     # Chromium reads commands on fd 3 and answers on fd 4
            high = [fcntl.fcntl(fd, fcntl.F_DUPFD, 10) for fd in (commands, replies)]
            os.dup2(high[0], 3)
            os.dup2(high[1], 4)
        self.process = subprocess.Popen(
            ["chromium", *FLAGS, f"--user-data-dir={tempfile.mkdtemp(dir=tmp_path)}", "about:blank"],
            preexec_fn=browser_fds, pass_fds=(3, 4), stdin=subprocess.DEVNULL,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(commands)
        os.close(replies)
        target = self.send("Target.createTarget", url="about:blank")["targetId"]
        self.session = self.send("Target.attachToTarget", targetId=target, flatten=True)["sessionId"]
        self.send("Emulation.setDeviceMetricsOverride", width=width, height=height,
                  deviceScaleFactor=1, mobile=False, session=True)

    def __enter__(self):
        return self

    def __exit__(self, *_):
        self.process.kill()
        self.process.wait()
        os.close(self.to_browser)
        os.close(self.from_browser)

    def message(self):
        while b"\0" not in self.pending:
            chunk = os.read(self.from_browser, 1 << 20)
            if not chunk:
                pytest.fail("chromium ended before it answered")
            self.pending += chunk
        text, self.pending = self.pending.split(b"\0", 1)
        return json.loads(text)

    def send(self, method, session=False, **params):
        self.ids += 1
        command = {"id": self.ids, "method": method, "params": params}
        if session:
            command["sessionId"] = self.session
        os.write(self.to_browser, json.dumps(command).encode() + b"\0")
        while True:
            reply = self.message()
            if reply.get("id") == self.ids:
                assert "error" not in reply, f"{method}: {reply['error']}"
                return reply["result"]

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", expression=expression, returnByValue=True,
                           awaitPromise=True, session=True)
        assert "exceptionDetails" not in result, result["exceptionDetails"]
        return result["result"].get("value")

    def open(self, page, name="page.html"):
        """Loads the HTML text page and waits for its load event."""
        path = self.tmp_path / name
        path.write_text(page)
        self.send("Page.navigate", url=path.as_uri(), session=True)
        loaded = f"location.href == {json.dumps(path.as_uri())} && document.readyState == 'complete'"
        self.wait(lambda: self.evaluate(loaded), "the page's load")

    def dom(self):
        return self.evaluate("document.documentElement.outerHTML")

    def screenshot(self, path):
        path.write_bytes(base64.b64decode(self.send("Page.captureScreenshot", format="png", session=True)["data"]))
        return path

    def wait(self, ready, what, seconds=120):
        """Looks until ready() holds, for up to seconds of real time."""
        end = time.monotonic() + seconds
        while not ready():
            if time.monotonic() > end:
                pytest.fail(f"chromium never showed {what} within {seconds} s")
            time.sleep(0.2)
