#!/usr/bin/env python3
"""Drives tarnwick.html in a real headless Chromium, opened from disk.

Every corpus file, the damaged ones and a text file go through the page's
file input in each format. Where the command line converts the file with that
format's verb, the text shown and the file saved must equal its output byte
for byte; where it refuses the file, the page must show its lines; a format
the command line does not have yet must show the page's "not available"
message. The page must issue no network request, and a fetch from it must be
refused.

Usage: web_test.py PAGE TARNWICK CORPUS_DIR [--screenshot PNG --example PLIST]
                   [--records PLIST]
"""
import argparse
import json
import os
import subprocess
import sys
import tempfile
import time
from pathlib import Path

from selenium import webdriver
from selenium.webdriver.chrome.service import Service
from selenium.webdriver.common.by import By
from selenium.webdriver.support.ui import WebDriverWait

# The page's formats: radio value, command-line verb, saved file's extension.
FORMATS = [("XML", "-c", "xml"), ("JSON", "-j", "json"), ("KEYED_XML", "-k", "xml"),
           ("KEYED_JSON", "-kj", "json")]
# Item 13 of the outside trial: a file whose document passes the work limit
# showed "This page cannot write ...", not the command line's lines. The
# file: a top array of 50,000 references to one array of 50,000 nulls.
TOO_LARGE = Path(__file__).parent / "regressions" / "too-large-shared-nulls.bplist"
# The digests of the corpus files' documents (scripts/make-digests.py makes
# the list), one column per verb: the page must give the same bytes.
DIGESTS = Path(__file__).parent / "corpus" / "documents.fnv"
DIGEST_VERBS = ["-c", "-j", "-k", "-kj", "-s", "-sj", "-ks", "-ksj"]
# Longest wait for one conversion (the records file included), in seconds.
CONVERSION_TIMEOUT = 300
# The page's largest file (kLargestFile in web/page.html).
LARGEST_FILE = 1 << 30
# Longest wait for a saved file to appear, in seconds.
DOWNLOAD_TIMEOUT = 30


def cli(tarnwick, verb, path):
    """The command line's exit code and output for `tarnwick VERB NAME ''`,
    run beside the file so that its messages name it as the page does."""
    run = subprocess.run([tarnwick, verb, path.name, ""], cwd=path.parent, capture_output=True)
    return run.returncode, run.stdout


def fnv1a(data):
    """The 64-bit FNV-1a digest of data, as 16 hex digits."""
    h = 0xcbf29ce484222325
    for byte in data:
        h = ((h ^ byte) * 0x100000001b3) & 0xFFFFFFFFFFFFFFFF
    return "%016x" % h


def listed_digests():
    """The digest list by file name, then by verb."""
    listed = {}
    for line in DIGESTS.read_text().splitlines():
        name, *columns = line.split()
        listed[name] = dict(zip(DIGEST_VERBS, columns))
    return listed


def start_browser(downloads):
    options = webdriver.ChromeOptions()
    options.binary_location = "/usr/bin/chromium"
    for arg in ("--headless=new", "--no-sandbox", "--disable-dev-shm-usage", "--window-size=1200,900"):
        options.add_argument(arg)
    options.add_experimental_option("prefs", {"download.default_directory": str(downloads),
                                              "download.prompt_for_download": False})
    options.set_capability("goog:loggingPrefs", {"performance": "ALL"})
    driver = webdriver.Chrome(service=Service("/usr/bin/chromedriver"), options=options)
    driver.execute_cdp_cmd("Page.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)})
    return driver


class Page:
    def __init__(self, driver, url):
        self.driver = driver
        driver.get(url)
        self.input = driver.find_element(By.ID, "file")

    def conversions(self):
        return int(self.driver.execute_script("return Number(document.body.dataset.conversions || 0)"))

    def _finished(self, act):
        before = self.conversions()
        act()
        WebDriverWait(self.driver, CONVERSION_TIMEOUT, poll_frequency=0.02).until(
            lambda d: self.conversions() > before)
        return self.driver.execute_script(
            "const s = document.getElementById('status');"
            "return [s.dataset.state, s.textContent, document.getElementById('document').textContent,"
            "        Number(s.dataset.seconds)];")

    def open(self, path):
        """Chooses `path`; returns (state, status text, document text, seconds)."""
        return self._finished(lambda: self.input.send_keys(str(path)))

    def format(self, value):
        """Switches the format, which converts the chosen file again."""
        return self._finished(
            self.driver.find_element(By.CSS_SELECTOR, f'input[name="format"][value="{value}"]').click)

    def save(self, downloads, name):
        self.driver.find_element(By.ID, "save").click()
        target = downloads / name
        deadline = time.monotonic() + DOWNLOAD_TIMEOUT
        while time.monotonic() < deadline:
            if target.exists() and not list(downloads.glob("*.crdownload")):
                data = target.read_bytes()
                target.unlink()
                return data
            time.sleep(0.05)
        raise AssertionError(f"no {name} saved; the folder holds {os.listdir(downloads)}")


LISTED = listed_digests()


def check_file(page, result, tarnwick, path, verb, ext, downloads, failures):
    """The page's result for one file in one format against the command line
    with the same verb."""
    state, status, shown, _ = result
    code, out = cli(tarnwick, verb, path)
    where = f"{path.name} {verb}"
    if code == 2 and out.startswith(b"Usage:"):  # a verb this command line lacks
        if state != "failed" or "not available" not in status:
            failures.append(f"{where}: expected the not-available message, got {status!r}")
    elif code != 0:  # the command line's lines, whatever the line ends
        expected = out.decode("utf-8").replace("\r\n", "\n").strip()
        if state != "failed" or status != expected:
            failures.append(f"{where}: the page shows {status!r}, the command line {expected!r}")
    elif state != "done" or shown.encode("utf-8") != out:
        failures.append(f"{where}: the shown text differs ({state}: {status})")
    else:
        stem = path.name.rsplit(".", 1)[0] if "." in path.name[1:] else path.name
        saved = page.save(downloads, f"{stem}.{ext}")
        if saved != out:
            failures.append(f"{where}: the saved file differs")
        listed = LISTED.get(path.name, {}).get(verb)
        if listed is not None and fnv1a(saved) != listed:
            failures.append(f"{where}: the saved file's digest is not {listed} (documents.fnv)")


def check_files(page, tarnwick, files, downloads, failures):
    """Each file is chosen in the format left from the one before, then
    converted again in each of the others."""
    current = FORMATS[0]
    for path in files:
        order = [current] + [f for f in FORMATS if f != current]
        for i, (value, verb, ext) in enumerate(order):
            result = page.open(path) if i == 0 else page.format(value)
            check_file(page, result, tarnwick, path, verb, ext, downloads, failures)
        current = order[-1]
    if current != FORMATS[0]:
        page.format(FORMATS[0][0])  # XML again for what follows


def check_no_network(driver, failures):
    """No request but the page's own file and blobs, and a fetch is refused."""
    for entry in driver.get_log("performance"):
        message = json.loads(entry["message"])["message"]
        if message["method"] == "Network.requestWillBeSent":
            url = message["params"]["request"]["url"]
            if not url.startswith(("file:", "blob:", "data:")):
                failures.append(f"the page requested {url}")
    refused = driver.execute_async_script(
        "const done = arguments[0];"
        "fetch('https://example.com/').then(() => done('fetched'), e => done(e.name));")
    if refused != "TypeError":
        failures.append(f"a fetch from the page ended with {refused!r}, not refused")
    if driver.execute_script("return document.cookie") != "":
        failures.append("the page set a cookie")


def main():
    parser = argparse.ArgumentParser()
    parser.add_argument("page", type=Path)
    parser.add_argument("tarnwick", type=Path)
    parser.add_argument("corpus", type=Path)
    parser.add_argument("--screenshot", type=Path)
    parser.add_argument("--example", type=Path)
    parser.add_argument("--records", type=Path)
    args = parser.parse_args()
    tarnwick = str(args.tarnwick.resolve())
    corpus = args.corpus.resolve()
    failures = []
    with tempfile.TemporaryDirectory() as scratch:
        downloads = Path(scratch)
        not_plist = downloads / "notes.txt"
        not_plist.write_text("not a property list\n")
        driver = start_browser(downloads)
        try:
            page = Page(driver, args.page.resolve().as_uri())
            files = sorted(p for p in corpus.iterdir() if p.is_file())
            files += sorted((corpus / "broken").iterdir()) + [not_plist, TOO_LARGE]
            check_files(page, tarnwick, files, downloads, failures)
            huge = downloads / "huge.plist"  # sparse: the page refuses it by its size
            with open(huge, "wb") as f:
                f.truncate(LARGEST_FILE + 1)
            state, status, _, _ = page.open(huge)
            if state != "failed" or "is too large" not in status:
                failures.append(f"a file over the page's limit shows {status!r}")
            if args.records:
                start = time.monotonic()
                subprocess.run([tarnwick, "-c", str(args.records), str(downloads / "records.xml")],
                               check=True)
                native = time.monotonic() - start
                state, status, _, seconds = page.open(args.records.resolve())
                if state != "done":
                    failures.append(f"the records file: {status}")
                print(f"records file ({args.records.stat().st_size} bytes): page {seconds:.2f} s "
                      f"({state}), command line {native:.2f} s, ratio {seconds / native:.1f}")
            if args.screenshot:
                page.open(args.example.resolve())
                driver.save_screenshot(str(args.screenshot))
            check_no_network(driver, failures)
        finally:
            driver.quit()
    for failure in failures:
        print("FAIL:", failure)
    print(f"web page: {len(files)} files in {len(FORMATS)} formats, "
          f"{len(failures)} failure(s)")
    return 1 if failures else 0


if __name__ == "__main__":
    sys.exit(main())
