#!/usr/bin/python3
"""Checks the quick-look site in headless Chromium (scripts/browser.py).

    browser_check.py SITE [--expect-text PAGE_GLOB TEXT]... [--screenshot PAGE_GLOB OUT.png]...

Visits every page reachable from SITE/index.html. Every link must be relative
and lead to a file (a #fragment to an element), every <img> load, nothing be
logged as an error or asked of the network, no script run or be on the page.
--expect-text: a page matching PAGE_GLOB shows TEXT, in its text or a
tooltip. Ends with 0, 1 listing every fault, or 2 when the browser fails.
"""
import argparse
import fnmatch
import os
import pathlib
import sys
import tempfile
import urllib.parse

sys.path.insert(0, str(pathlib.Path(__file__).resolve().parents[2] / "scripts"))
from browser import CHROMIUM, Browser, BrowserError, Page  # noqa: E402

# What a page holds, read once it has loaded.
PAGE_FACTS = r"""(() => ({
  links: [...document.querySelectorAll('a[href]')].map(a => ({raw: a.getAttribute('href'), url: a.href})),
  images: [...document.images].map(i => ({raw: i.getAttribute('src'), shown: i.complete && i.naturalWidth > 0})),
  ids: [...document.querySelectorAll('[id]')].map(e => e.id),
  scripts: document.scripts.length,
  handlers: [...document.querySelectorAll('*')].flatMap(e => [...e.attributes]
      .filter(a => a.name.toLowerCase().startsWith('on')).map(a => e.tagName + ' ' + a.name)),
  text: (document.body ? document.body.innerText : '') + '\n' +
        [...document.querySelectorAll('[title]')].map(e => e.title).join('\n'),
  injected: typeof window.__vmInjected === 'undefined' ? null : String(window.__vmInjected),
}))()"""


def load_faults(events):
    """What went wrong while a page loaded, from its events."""
    faults, requests = [], {}
    for method, params in events:
        if method == "Runtime.consoleAPICalled" and params.get("type") in ("error", "assert"):
            faults.append("console error: " + " ".join(str(a.get("value", a.get("description", "")))
                                                      for a in params.get("args", [])))
        elif method == "Runtime.exceptionThrown":
            details = params.get("exceptionDetails", {})
            faults.append(f"exception: {details.get('exception', {}).get('description') or details.get('text')}")
        elif method == "Log.entryAdded" and params["entry"].get("level") == "error":
            faults.append(f"logged error: {params['entry'].get('text')} {params['entry'].get('url', '')}".rstrip())
        elif method == "Network.requestWillBeSent":
            requests[params["requestId"]] = url = params["request"]["url"]
            if urllib.parse.urlsplit(url).scheme not in ("file", "data"):
                faults.append(f"asks for {url}")
        elif method == "Network.loadingFailed":
            reason = params.get("blockedReason") or params.get("errorText")
            faults.append(f"load failed: {requests.get(params['requestId'], params['requestId'])} ({reason})")
    return faults


def page_faults(facts, site):
    """What is wrong on a loaded page; the site's pages it links to."""
    faults, reached = [], []
    if facts["injected"] is not None:
        faults.append(f"window.__vmInjected is {facts['injected']}: text of the page ran as script")
    if facts["scripts"]:
        faults.append(f"{facts['scripts']} <script> element(s)")
    faults += [f"event handler attribute {h}" for h in facts["handlers"]]
    faults += [f"image not shown: {i['raw']}" for i in facts["images"] if not i["shown"]]
    for link in facts["links"]:
        raw = link["raw"].strip()
        if raw.startswith("//") or urllib.parse.urlsplit(raw).scheme:
            faults.append(f"link not relative: {raw}")
            continue
        parts = urllib.parse.urlsplit(link["url"])
        target = pathlib.Path(urllib.parse.unquote(parts.path))
        if not target.exists():
            faults.append(f"link to nothing: {raw}")
        elif target.suffix == ".html" and target.resolve().is_relative_to(site):
            reached.append(target.resolve())
    return faults, reached


def main():
    parser = argparse.ArgumentParser(description="Checks the quick-look site in headless Chromium.")
    parser.add_argument("site", type=pathlib.Path)
    parser.add_argument("--expect-text", nargs=2, action="append", default=[], metavar=("PAGE_GLOB", "TEXT"))
    parser.add_argument("--screenshot", nargs=2, action="append", default=[], metavar=("PAGE_GLOB", "OUT"))
    parser.add_argument("--page-timeout", type=float, default=30.0, help="seconds a page may take (30)")
    args = parser.parse_args()
    site = args.site.resolve()
    if not (site / "index.html").is_file() or not os.access(CHROMIUM, os.X_OK):
        print(f"browser_check: no {site / 'index.html'} or no browser at {CHROMIUM}", file=sys.stderr)
        return 2

    faults, texts, ids, fragments, counts = [], {}, {}, [], [0, 0]
    with tempfile.TemporaryDirectory(prefix="vm-browser-") as profile:
        browser = Browser(profile)
        try:
            page = Page(browser, args.page_timeout)
            todo, seen = [site / "index.html"], set()
            while todo:
                path = todo.pop(0)
                if path in seen:
                    continue
                seen.add(path)
                name = path.relative_to(site).as_posix()
                why = page.load(path)
                if why:
                    faults.append(f"{name}: {why}")
                    continue
                facts = page.evaluate(PAGE_FACTS)
                found, reached = page_faults(facts, site)
                found = load_faults(page.events()) + found
                for link in facts["links"]:
                    parts = urllib.parse.urlsplit(link["url"])
                    if parts.fragment and parts.path.endswith(".html"):
                        fragments.append((name, link["raw"], pathlib.Path(urllib.parse.unquote(parts.path)).resolve(),
                                          urllib.parse.unquote(parts.fragment)))
                faults += [f"{name}: {f}" for f in found]
                texts[name], ids[path] = facts["text"], set(facts["ids"])
                counts[0] += len(facts["links"])
                counts[1] += len(facts["images"])
                todo += [p for p in reached if p not in seen]
                print(f"{'FAIL' if found else 'ok  '} {name}: {len(facts['links'])} links, {len(facts['images'])} images")
            faults += [f"{name}: link to no such anchor: {raw}" for name, raw, target, fragment in fragments
                       if target in ids and fragment not in ids[target]]
            for glob, text in args.expect_text:
                pages = [n for n in sorted(texts) if fnmatch.fnmatchcase(n, glob)]
                if not any(text in texts[n] for n in pages):
                    faults.append(f"{glob}: no page shows the text {text!r}")
            for glob, out in args.screenshot:
                pages = [n for n in sorted(texts) if fnmatch.fnmatchcase(n, glob)]
                if not pages or page.load(site / pages[0]):
                    faults.append(f"{glob}: no such page to photograph")
                else:
                    print(f"screenshot of {pages[0]}: {out} ({page.screenshot(out)} pixels high)")
        except BrowserError as e:
            print(f"browser_check: {e}", file=sys.stderr)
            return 2
        finally:
            browser.stop()

    print(f"{len(seen)} pages, {counts[0]} links, {counts[1]} images checked; {len(faults)} fault(s)")
    for fault in faults:
        print(f"  {fault}")
    return 1 if faults else 0


if __name__ == "__main__":
    sys.exit(main())
