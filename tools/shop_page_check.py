"""The shop's page in Debian's headless Chromium, driven through its driver
(chromedriver's W3C WebDriver protocol, spoken over HTTP): signing in, the
list of jobs, a filter, a download and a hostile file name."""

import json
import os
import socket
import subprocess
import tempfile
import time
import urllib.request

ELEMENT = "element-6066-11e4-a52e-4f735466cecf"


class Driver:
    def __init__(self, downloads):
        with socket.socket() as s:
            s.bind(("127.0.0.1", 0))
            self.port = s.getsockname()[1]
        self.proc = subprocess.Popen(["chromedriver", "--port=%d" % self.port], stdout=subprocess.DEVNULL,
                                     stderr=subprocess.DEVNULL)
        self.base = "http://127.0.0.1:%d" % self.port
        for _ in range(200):
            try:
                self.call("GET", "/status")
                break
            except OSError:
                time.sleep(0.05)
        profile = tempfile.mkdtemp(prefix="chromium-")
        options = {"binary": "/usr/bin/chromium",
                   "args": ["--headless=new", "--no-sandbox", "--disable-gpu", "--disable-quic", "--no-first-run",
                            "--disable-background-networking", "--disable-component-update", "--disable-sync",
                            "--disable-dev-shm-usage", "--user-data-dir=" + profile],
                   "prefs": {"download.default_directory": downloads, "download.prompt_for_download": False}}
        caps = {"capabilities": {"alwaysMatch": {"browserName": "chrome", "goog:chromeOptions": options}}}
        self.session = self.call("POST", "/session", caps)["sessionId"]
        self.call("POST", self.s("/goog/cdp/execute"),
                  {"cmd": "Browser.setDownloadBehavior", "params": {"behavior": "allow", "downloadPath": downloads}})

    def s(self, path):
        return "/session/%s%s" % (self.session, path)

    def call(self, method, path, body=None):
        data = json.dumps(body).encode() if body is not None else None
        req = urllib.request.Request(self.base + path, data=data, method=method,
                                     headers={"Content-Type": "application/json"})
        try:
            with urllib.request.urlopen(req, timeout=60) as r:
                return json.loads(r.read()).get("value")
        except urllib.error.HTTPError as e:
            raise RuntimeError("webdriver %s %s: %s" % (method, path, e.read()[:300]))

    def go(self, url):
        self.call("POST", self.s("/url"), {"url": url})

    def find(self, css):
        return self.call("POST", self.s("/element"), {"using": "css selector", "value": css})[ELEMENT]

    def type(self, css, text):
        self.call("POST", self.s("/element/%s/value" % self.find(css)), {"text": text})

    def click(self, css):
        self.call("POST", self.s("/element/%s/click" % self.find(css)), {})

    def js(self, script, *args):
        return self.call("POST", self.s("/execute/sync"), {"script": script, "args": list(args)})

    def wait(self, script, *args, seconds=20):
        until = time.monotonic() + seconds
        while time.monotonic() < until:
            value = self.js(script, *args)
            if value:
                return value
            time.sleep(0.1)
        return None

    def quit(self):
        try:
            self.call("DELETE", self.s(""))
        finally:
            self.proc.kill()
            self.proc.wait()


def run(url, viewer, downloads, bench, unit_file, check):
    os.makedirs(downloads, exist_ok=True)
    with urllib.request.urlopen(url + "/") as r:
        policy = r.headers.get("Content-Security-Policy", "")
        page = r.read().decode()
    check("the page loads nothing from elsewhere", "default-src 'none'" in policy and "http" not in
          page.replace('http-equiv', ''), policy)
    req = urllib.request.Request(url + "/api/records", headers={"Authorization": "Bearer " + viewer})
    with urllib.request.urlopen(req) as r:
        records = [json.loads(l) for l in r.read().decode().splitlines() if l]

    d = Driver(downloads)
    try:
        d.go(url + "/")
        d.type("#token", "not a token")
        d.click("#signin-button")
        note = d.wait("return document.getElementById('signin-note').textContent")
        check("a wrong token does not sign in", note and "not signed in" in note and
              d.js("return document.getElementById('jobs').hidden"), note)
        d.js("document.getElementById('token').value = ''")
        d.type("#token", viewer)
        d.click("#signin-button")
        shown = d.wait("return document.querySelectorAll('#rows tr').length")
        check("the page lists every bench's jobs", shown == len(records), (shown, len(records)))
        cells = d.js("return [...document.querySelectorAll('thead th')].map(th => th.textContent)")
        check("with bench, time, operation, file, unit, outcome and what stands",
              cells[:7] == ["Bench", "Time", "Operation", "File", "Unit", "Outcome", "What stands"], cells)

        d.click('#bench option[value="%s"]' % bench.name)
        benches = d.wait("const b = [...document.querySelectorAll('#rows tr td:first-child')].map(td => td.textContent);"
                         "return b.length && b.every(n => n === arguments[0]) ? b : null", bench.name)
        expected = sum(1 for r in records if r["bench"] == bench.name)
        check("the bench filter shows that bench's jobs only", benches and len(benches) == expected, benches)
        d.click('#outcome option[value="success"]')
        outcomes = d.js("return [...document.querySelectorAll('#rows td.outcome')].map(td => td.textContent)")
        check("the outcome filter too", outcomes and set(outcomes) == {"success"}, outcomes)

        save = [r for r in records if r["bench"] == bench.name and r.get("kept_sha256")][0]
        d.click('tr[data-id="%s"] button.download' % save["id"])
        name = os.path.basename(save["kept"])
        path = os.path.join(downloads, name)
        until = time.monotonic() + 20
        while time.monotonic() < until and not (os.path.exists(path) and
                                                not any(f.endswith(".crdownload") for f in os.listdir(downloads))):
            time.sleep(0.1)
        got = open(path, "rb").read() if os.path.exists(path) else None
        check("a download is the unit byte for byte", got == open(unit_file, "rb").read(), os.listdir(downloads))

        d.click('#bench option[value=""]')
        d.click('#outcome option[value=""]')
        hostile = d.wait("const td = [...document.querySelectorAll('#rows td.file')]"
                         ".find(td => td.textContent === '<script>'); return td ? td.innerHTML : null")
        check("a file named <script> shows as text", hostile == "&lt;script&gt;", hostile)
        check("and runs nothing", d.js("return document.scripts.length") == 1)
    finally:
        d.quit()
