#!/usr/bin/python3
"""Headless Chromium driven through its DevTools protocol on a pair of pipes.

    browser.py PAGE.html OUT.png      a screenshot of the page, whole, 1280 pixels wide

Chromium started with --remote-debugging-pipe reads commands on its
descriptor 3 and writes answers and events on 4, each message JSON ended by a
NUL byte. `Browser` starts it, sends commands, keeps the events and stops it
by its process id; `Page` is one tab: load a file, evaluate, photograph.
Nothing is fetched from the network. Standard library only.
"""
import base64
import fcntl
import json
import os
import pathlib
import queue
import signal
import subprocess
import sys
import tempfile
import threading
import time

CHROMIUM = os.environ.get("VMFITS_CHROMIUM", "/usr/bin/chromium")
WIDTH, HEIGHT = 1280, 900


class BrowserError(Exception):
    pass


class Browser:
    """Chromium on a pipe pair; commands answered in order, events kept."""

    def __init__(self, profile):
        commands_read, self._commands = os.pipe()
        self._replies, replies_write = os.pipe()
        # Out of the way of 3 and 4, closed in the browser when it starts.
        theirs = [fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10) for fd in (commands_read, replies_write)]
        os.close(commands_read)
        os.close(replies_write)

        def onto_3_and_4():
            os.dup2(theirs[0], 3)
            os.dup2(theirs[1], 4)

        flags = ["--headless=new", "--disable-gpu", f"--user-data-dir={profile}", "--no-first-run",
                 "--no-default-browser-check", "--allow-file-access-from-files", "--remote-debugging-pipe",
                 "--disable-background-networking", "--disable-component-update", "--disable-sync",
                 "--disable-extensions", f"--window-size={WIDTH},{HEIGHT}", "about:blank"]
        if os.geteuid() == 0:
            flags.insert(0, "--no-sandbox")
        self.log = tempfile.TemporaryFile()
        try:
            self.process = subprocess.Popen([CHROMIUM] + flags, stdin=subprocess.DEVNULL, stdout=self.log,
                                            stderr=self.log, close_fds=False, preexec_fn=onto_3_and_4,
                                            start_new_session=True)
        finally:
            for fd in theirs:
                os.close(fd)
        self._next_id = 0
        self._messages = queue.Queue()
        self.events = []  # (session, method, params) in arrival order
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        pending = b""
        while True:
            try:
                chunk = os.read(self._replies, 1 << 16)
            except OSError:
                chunk = b""
            if not chunk:
                self._messages.put(None)
                return
            pending += chunk
            *whole, pending = pending.split(b"\0")
            for message in whole:
                self._messages.put(json.loads(message))

    def pump(self, deadline, answer_to=None, event=None):
        """Takes in messages until the answer to command `answer_to` (returned),
        the event (session, method) `event` is among the events (True) or the
        deadline (None)."""
        while True:
            if event and any((s, m) == event for s, m, _ in self.events):
                return True
            try:
                message = self._messages.get(timeout=max(0.0, deadline - time.monotonic()))
            except queue.Empty:
                return None
            if message is None:
                self._messages.put(None)
                raise BrowserError(f"the browser closed its pipe (exit {self.process.poll()}): {self.tail()}")
            if "method" in message:
                self.events.append((message.get("sessionId"), message["method"], message.get("params", {})))
            elif answer_to is not None and message.get("id") == answer_to:
                if "error" in message:
                    raise BrowserError(message["error"].get("message"))
                return message.get("result", {})

    def send(self, method, params=None, session=None, timeout=30.0):
        self._next_id += 1
        command = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        try:
            os.write(self._commands, json.dumps(command).encode() + b"\0")
            result = self.pump(time.monotonic() + timeout, answer_to=self._next_id)
        except (OSError, BrowserError) as e:
            raise BrowserError(f"{method}: {e}: {self.tail()}")
        if result is None:
            raise BrowserError(f"{method}: no answer in {timeout:.0f} s")
        return result

    def tail(self):
        self.log.seek(0)
        lines = self.log.read().decode(errors="replace").strip().splitlines()
        return " | ".join(lines[-3:]) or "nothing on its standard error"

    def stop(self):
        """Ends the browser by its process id: asked, then killed with its process group."""
        try:
            os.close(self._commands)
        except OSError:
            pass
        if self.process.poll() is None:
            self.process.terminate()
            try:
                self.process.wait(timeout=10)
            except subprocess.TimeoutExpired:
                pass
        try:
            os.killpg(self.process.pid, signal.SIGKILL)  # its renderers and helpers, if any are left
        except (ProcessLookupError, PermissionError):
            pass
        if self.process.poll() is None:
            self.process.wait(timeout=10)
        self.log.close()


class Page:
    """The browser's tab, with the page, console, log and network events on."""

    def __init__(self, browser, timeout=30.0):
        self.browser, self.timeout = browser, timeout
        target = next((t for t in browser.send("Target.getTargets")["targetInfos"] if t["type"] == "page"), None)
        target_id = target["targetId"] if target else browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.send("Target.attachToTarget", {"targetId": target_id, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.send(f"{domain}.enable")
        # Nothing leaves this machine, whatever a page asks for.
        self.send("Network.setBlockedURLs", {"urls": ["http://*", "https://*", "ws://*", "wss://*", "ftp://*"]})
        self.size(HEIGHT)

    def send(self, method, params=None):
        return self.browser.send(method, params, self.session, timeout=self.timeout)

    def size(self, height):
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": WIDTH, "height": height, "deviceScaleFactor": 1, "mobile": False})

    def load(self, path):
        """Loads the file `path`; "" once it has loaded, else why not. The
        events of the load are in `events()`."""
        self.browser.events.clear()
        navigation = self.send("Page.navigate", {"url": pathlib.Path(path).resolve().as_uri()})
        if navigation.get("errorText"):
            return navigation["errorText"]
        if not self.browser.pump(time.monotonic() + self.timeout, event=(self.session, "Page.loadEventFired")):
            return f"not loaded within {self.timeout:.0f} s"
        self.browser.pump(time.monotonic() + 0.2)  # log entries of the last loads
        return ""

    def events(self):
        return [(m, p) for s, m, p in self.browser.events if s == self.session]

    def evaluate(self, expression):
        result = self.send("Runtime.evaluate", {"expression": expression, "returnByValue": True})
        if "exceptionDetails" in result:
            raise BrowserError(f"evaluating: {result['exceptionDetails'].get('text')}")
        return result["result"]["value"]

    def screenshot(self, out):
        """The loaded page, whole, WIDTH pixels wide, into `out` (PNG); its height."""
        metrics = self.send("Page.getLayoutMetrics")
        height = max(1, int((metrics.get("cssContentSize") or metrics["contentSize"])["height"] + 0.999))
        self.size(height)
        shot = self.send("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": WIDTH, "height": height, "scale": 1}})
        self.size(HEIGHT)
        pathlib.Path(out).parent.mkdir(parents=True, exist_ok=True)
        pathlib.Path(out).write_bytes(base64.b64decode(shot["data"]))
        return height


def main():
    if len(sys.argv) != 3:
        sys.exit("usage: browser.py PAGE.html OUT.png")
    with tempfile.TemporaryDirectory(prefix="vm-browser-") as profile:
        browser = Browser(profile)
        try:
            page = Page(browser)
            why = page.load(sys.argv[1])
            if why:
                sys.exit(f"browser.py: {sys.argv[1]}: {why}")
            print(f"{sys.argv[2]} ({WIDTH}x{page.screenshot(sys.argv[2])})")
        except BrowserError as e:
            sys.exit(f"browser.py: {e}")
        finally:
            browser.stop()


if __name__ == "__main__":
    main()
