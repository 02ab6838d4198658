#!/usr/bin/python3
"""Checks the quick-look site in headless Chromium.

    browser_check.py SITE [--expect-text PAGE_GLOB TEXT]... [--expect-title PAGE_GLOB TEXT]...
                          [--screenshot PAGE_GLOB OUT.png]...

Starts at SITE/index.html and visits every page of SITE reachable by links,
each from the file system. On every page, once it has loaded:
  - each <a href> is relative (no scheme, no "//") and names an existing
    file or folder, inside SITE or beside it (../../out/...); a #fragment
    names an element of its page;
  - each <img> has loaded (complete, naturalWidth > 0);
  - nothing was written to the console as an error, no exception was thrown,
    no load failed, nothing was asked of anything but the file system;
  - the page has no <script> element, no on... attribute, and
    window.__vmInjected is undefined.
--expect-text: at least one page whose path within SITE matches PAGE_GLOB
shows TEXT, as it is, in its text (document.body.innerText); --expect-title:
in the title attribute (the tooltip) of one of its elements.
--screenshot: the first such page (in path order), whole, 1280 pixels wide.

Prints a line per page and a summary; ends with 0 when nothing is wrong, 1
with every fault listed, 2 when the browser cannot be started or driven.
The browser is driven through its DevTools protocol on a pair of pipes
(--remote-debugging-pipe: it reads commands on its descriptor 3 and writes
on 4, each message JSON ended by a NUL byte). Standard library only.
"""

import argparse
import base64
import fcntl
import fnmatch
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
import urllib.parse

CHROMIUM = os.environ.get("VMFITS_CHROMIUM", "/usr/bin/chromium")
WIDTH = 1280
HEIGHT = 900

# What a page holds, read once it has loaded.
PAGE_FACTS = r"""(() => {
  const handlers = [];
  for (const e of document.querySelectorAll('*'))
    for (const a of e.attributes)
      if (a.name.toLowerCase().startsWith('on')) handlers.push('<' + e.tagName.toLowerCase() + ' ' + a.name + '>');
  return {
    links: [...document.querySelectorAll('a[href]')].map(a => ({raw: a.getAttribute('href'), url: a.href})),
    images: [...document.images].map(i => ({raw: i.getAttribute('src'), complete: i.complete, width: i.naturalWidth})),
    ids: [...document.querySelectorAll('[id]')].map(e => e.id)
           .concat([...document.querySelectorAll('a[name]')].map(e => e.name)),
    scripts: document.scripts.length,
    handlers: handlers,
    text: document.body ? document.body.innerText : '',
    titles: [...document.querySelectorAll('[title]')].map(e => e.title),
    injected: typeof window.__vmInjected === 'undefined' ? null : String(window.__vmInjected),
  };
})()"""


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

    def _take(self, deadline):
        """One message, or None when the deadline passes; BrowserError once the browser is gone."""
        try:
            message = self._messages.get(timeout=max(0.0, deadline - time.monotonic()))
        except queue.Empty:
            return None
        if message is None:
            self._messages.put(None)
            raise BrowserError(f"the browser closed its pipe (exit {self.process.poll()}): {self.tail()}")
        return message

    def send(self, method, params=None, session=None, timeout=30.0):
        self._next_id += 1
        command = {"id": self._next_id, "method": method, "params": params or {}}
        if session:
            command["sessionId"] = session
        try:
            os.write(self._commands, json.dumps(command).encode() + b"\0")
        except OSError as e:
            raise BrowserError(f"{method}: {e}: {self.tail()}")
        deadline = time.monotonic() + timeout
        while True:
            message = self._take(deadline)
            if message is None:
                raise BrowserError(f"{method}: no answer in {timeout:.0f} s")
            if message.get("id") == self._next_id:
                if "error" in message:
                    raise BrowserError(f"{method}: {message['error'].get('message')}")
                return message.get("result", {})
            if "method" in message:
                self.events.append((message.get("sessionId"), message["method"], message.get("params", {})))

    def wait_for(self, session, method, timeout):
        """True once the event `method` has come for `session` (kept in events), False after timeout."""
        deadline = time.monotonic() + timeout
        while True:
            if any(s == session and m == method for s, m, _ in self.events):
                return True
            message = self._take(deadline)
            if message is None:
                return False
            if "method" in message:
                self.events.append((message.get("sessionId"), message["method"], message.get("params", {})))

    def settle(self, seconds):
        """Takes in the events that come within `seconds`."""
        deadline = time.monotonic() + seconds
        while (message := self._take(deadline)) is not None:
            if "method" in message:
                self.events.append((message.get("sessionId"), message["method"], message.get("params", {})))

    def tail(self):
        self.log.seek(0)
        lines = self.log.read().decode(errors="replace").strip().splitlines()
        return " | ".join(lines[-3:]) or "nothing on its standard error"

    def stop(self):
        """Ends the browser by its process id: asked, then killed with its process group."""
        for fd in (self._commands,):
            try:
                os.close(fd)
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


def local_path(url):
    """The file a file:// URL names, and its fragment."""
    parts = urllib.parse.urlsplit(url)
    return pathlib.Path(urllib.parse.unquote(parts.path)), urllib.parse.unquote(parts.fragment)


def is_relative(href):
    href = href.strip()
    return not href.startswith("//") and not urllib.parse.urlsplit(href).scheme


def within(path, folder):
    try:
        path.resolve().relative_to(folder)
        return True
    except ValueError:
        return False


class Checker:
    def __init__(self, browser, site, page_timeout):
        self.browser = browser
        self.site = site.resolve()
        self.page_timeout = page_timeout
        self.faults = []  # "page: what"
        self.texts = {}   # page path within the site -> its text
        self.titles = {}  # page path within the site -> its elements' title attributes
        self.ids = {}     # page (resolved path) -> its ids
        self.fragments = []  # (page, link, target page, fragment) to look up once every page is read
        self.links = self.images = 0
        target = next((t for t in browser.send("Target.getTargets")["targetInfos"] if t["type"] == "page"), None)
        target_id = target["targetId"] if target else browser.send("Target.createTarget", {"url": "about:blank"})["targetId"]
        self.session = browser.send("Target.attachToTarget", {"targetId": target_id, "flatten": True})["sessionId"]
        for domain in ("Page", "Runtime", "Log", "Network"):
            self.send(f"{domain}.enable")
        # Nothing leaves this machine, whatever a page asks for.
        self.send("Network.setBlockedURLs", {"urls": ["http://*", "https://*", "ws://*", "wss://*", "ftp://*"]})
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})

    def send(self, method, params=None):
        return self.browser.send(method, params, self.session, timeout=self.page_timeout)

    def name(self, path):
        return path.relative_to(self.site).as_posix()

    def visit(self, path):
        """Loads the page at `path`, checks it; the pages of the site it links to."""
        name = self.name(path)
        faults_before = len(self.faults)

        def fault(what):
            self.faults.append(f"{name}: {what}")

        self.browser.events.clear()
        navigation = self.send("Page.navigate", {"url": path.as_uri()})
        if navigation.get("errorText"):
            fault(f"not loaded: {navigation['errorText']}")
            print(f"FAIL {name}")
            return []
        if not self.browser.wait_for(self.session, "Page.loadEventFired", self.page_timeout):
            fault(f"not loaded within {self.page_timeout:.0f} s")
            print(f"FAIL {name}")
            return []
        facts = self.send("Runtime.evaluate", {"expression": PAGE_FACTS, "returnByValue": True})
        if "exceptionDetails" in facts:
            raise BrowserError(f"{name}: reading the page: {facts['exceptionDetails'].get('text')}")
        facts = facts["result"]["value"]
        self.browser.settle(0.2)  # log entries of the last loads

        requests = {}
        for session, method, params in self.browser.events:
            if session != self.session:
                continue
            if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
                text = " ".join(str(a.get("value", a.get("description", ""))) for a in params.get("args", []))
                fault(f"console error: {text}")
            elif method == "Runtime.exceptionThrown":
                details = params.get("exceptionDetails", {})
                fault(f"exception: {details.get('exception', {}).get('description') or details.get('text')}")
            elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
                fault(f"logged error: {params['entry'].get('text')} {params['entry'].get('url', '')}".rstrip())
            elif method == "Network.requestWillBeSent":
                url = params["request"]["url"]
                requests[params["requestId"]] = url
                if urllib.parse.urlsplit(url).scheme not in ("file", "data"):
                    fault(f"asks for {url}")
            elif method == "Network.loadingFailed":
                reason = params.get("blockedReason") or params.get("errorText")
                fault(f"load failed: {requests.get(params['requestId'], params['requestId'])} ({reason})")

        if facts["injected"] is not None:
            fault(f"window.__vmInjected is {facts['injected']}: text of the page ran as script")
        if facts["scripts"]:
            fault(f"{facts['scripts']} <script> element(s)")
        for handler in facts["handlers"]:
            fault(f"event handler attribute {handler}")
        for image in facts["images"]:
            self.images += 1
            if not (image["complete"] and image["width"] > 0):
                fault(f"image not shown: {image['raw']}")

        self.texts[name] = facts["text"]
        self.titles[name] = facts["titles"]
        self.ids[path] = set(facts["ids"])
        reached = []
        for link in facts["links"]:
            self.links += 1
            raw = link["raw"]
            if not is_relative(raw):
                fault(f"link not relative: {raw}")
                continue
            target, fragment = local_path(link["url"])
            if not target.exists():
                fault(f"link to nothing: {raw}")
                continue
            if fragment and target.suffix in (".html", ".htm"):
                self.fragments.append((name, raw, target.resolve(), fragment))
            if target.is_file() and target.suffix in (".html", ".htm") and within(target, self.site):
                reached.append(target.resolve())
        print(f"{'ok  ' if len(self.faults) == faults_before else 'FAIL'} {name}: "
              f"{len(facts['links'])} links, {len(facts['images'])} images")
        return reached

    def check_fragments(self):
        for name, raw, target, fragment in self.fragments:
            if target in self.ids and fragment not in self.ids[target]:
                self.faults.append(f"{name}: link to no such anchor: {raw}")

    def screenshot(self, path, out):
        """The page at `path`, whole, WIDTH pixels wide, into `out` (PNG)."""
        self.browser.events.clear()
        self.send("Page.navigate", {"url": path.as_uri()})
        if not self.browser.wait_for(self.session, "Page.loadEventFired", self.page_timeout):
            raise BrowserError(f"{self.name(path)}: not loaded for its screenshot")
        metrics = self.send("Page.getLayoutMetrics")
        size = metrics.get("cssContentSize") or metrics["contentSize"]
        height = max(1, int(size["height"] + 0.999))
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": WIDTH, "height": height, "deviceScaleFactor": 1, "mobile": False})
        shot = self.send("Page.captureScreenshot", {
            "format": "png", "captureBeyondViewport": True,
            "clip": {"x": 0, "y": 0, "width": WIDTH, "height": height, "scale": 1}})
        self.send("Emulation.setDeviceMetricsOverride",
                  {"width": WIDTH, "height": HEIGHT, "deviceScaleFactor": 1, "mobile": False})
        out.parent.mkdir(parents=True, exist_ok=True)
        out.write_bytes(base64.b64decode(shot["data"]))
        print(f"screenshot of {self.name(path)}: {out} ({WIDTH}x{height})")


def main():
    parser = argparse.ArgumentParser(description="Checks the quick-look site in headless Chromium.")
    parser.add_argument("site", type=pathlib.Path)
    parser.add_argument("--expect-text", nargs=2, action="append", default=[], metavar=("PAGE_GLOB", "TEXT"))
    parser.add_argument("--expect-title", nargs=2, action="append", default=[], metavar=("PAGE_GLOB", "TEXT"))
    parser.add_argument("--screenshot", nargs=2, action="append", default=[], metavar=("PAGE_GLOB", "OUT"))
    parser.add_argument("--page-timeout", type=float, default=30.0, help="seconds a page may take (30)")
    args = parser.parse_args()
    start = args.site / "index.html"
    if not start.is_file():
        print(f"browser_check: no {start}", file=sys.stderr)
        return 2
    if not os.access(CHROMIUM, os.X_OK):
        print(f"browser_check: no browser at {CHROMIUM}", file=sys.stderr)
        return 2

    with tempfile.TemporaryDirectory(prefix="vm-browser-") as profile:
        browser = None
        try:
            browser = Browser(profile)
            checker = Checker(browser, args.site, args.page_timeout)
            seen, todo = set(), [start.resolve()]
            while todo:
                page = todo.pop(0)
                if page in seen:
                    continue
                seen.add(page)
                todo.extend(p for p in checker.visit(page) if p not in seen)
            checker.check_fragments()
            for glob, text in args.expect_text:
                pages = [n for n in sorted(checker.texts) if fnmatch.fnmatchcase(n, glob)]
                if not pages:
                    checker.faults.append(f"{glob}: no such page reached")
                elif not any(text in checker.texts[n] for n in pages):
                    checker.faults.append(f"{glob}: no page shows the text {text!r}")
            for glob, text in args.expect_title:
                pages = [n for n in sorted(checker.titles) if fnmatch.fnmatchcase(n, glob)]
                if not pages:
                    checker.faults.append(f"{glob}: no such page reached")
                elif not any(text in title for n in pages for title in checker.titles[n]):
                    checker.faults.append(f"{glob}: no element's title holds {text!r}")
            for glob, out in args.screenshot:
                pages = [n for n in sorted(checker.texts) if fnmatch.fnmatchcase(n, glob)]
                if not pages:
                    checker.faults.append(f"{glob}: no such page reached for a screenshot")
                else:
                    checker.screenshot(checker.site / pages[0], pathlib.Path(out))
        except BrowserError as e:
            print(f"browser_check: {e}", file=sys.stderr)
            return 2
        finally:
            if browser:
                browser.stop()

    print(f"{len(seen)} pages, {checker.links} links, {checker.images} images checked; "
          f"{len(checker.faults)} fault(s)")
    for fault in checker.faults:
        print(f"  {fault}")
    return 1 if checker.faults else 0


if __name__ == "__main__":
    sys.exit(main())
