#!/usr/bin/env python3
"""The share page in a real browser: headless Chromium, driven over the DevTools
protocol on a pipe, opens a password-protected share link, submits a wrong and
then the right password, downloads the file and the bytes are compared."""
import fcntl
import json
import os
import pathlib
import select
import subprocess
import sys
import tempfile
import time

SERVER = sys.argv[1]
CHROMIUM = sys.argv[2]
WAIT = 30  # seconds, for any single step
FILE_NAME = "報告書 2026年 \"最終\".pdf"
PASSWORD = "ひみつ pass 1"


def check(condition, message, quiet=False):
    if not condition:
        sys.exit("FAIL: " + message)
    if not quiet:
        print("ok:", message)


class Browser:
    def __init__(self, profile):
        # The DevTools pipe is fds 3 (commands) and 4 (results) in the browser; ours are moved
        # out of the way first so that the two dup2 calls cannot overwrite each other.
        def high(fd):
            moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
            os.close(fd)
            return moved

        cmd_r, cmd_w = (high(fd) for fd in os.pipe())
        self.results, res_w = (high(fd) for fd in os.pipe())
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu", "--disable-background-networking",
             "--disable-component-update", "--disable-sync", "--no-first-run",
             "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"],
            preexec_fn=lambda: (os.dup2(cmd_r, 3), os.dup2(res_w, 4)), close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(cmd_r)
        os.close(res_w)
        self.commands = os.fdopen(cmd_w, "wb", buffering=0)
        self.buffer = b""
        self.next_id = 0
        self.session = None

    def call(self, method, params=None, browser_level=False):
        """Sends a command and returns its result; messages are NUL-terminated JSON, events
        among them are not needed here."""
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session and not browser_level:
            request["sessionId"] = self.session
        self.commands.write(json.dumps(request).encode() + b"\0")
        deadline = time.monotonic() + WAIT
        while True:
            while b"\0" not in self.buffer:
                ready = select.select([self.results], [], [], max(0, deadline - time.monotonic()))[0]
                chunk = os.read(self.results, 65536) if ready else b""
                check(chunk, "the browser answers " + method, quiet=True)
                self.buffer += chunk
            message, self.buffer = self.buffer.split(b"\0", 1)
            message = json.loads(message)
            if message.get("id") == self.next_id:
                check("error" not in message, method + " " + json.dumps(message.get("error")), quiet=True)
                return message["result"]

    def wait_for(self, expression, what):
        """Polls an expression on the page until it is true; a page being replaced answers
        nothing, which counts as not yet."""
        deadline = time.monotonic() + WAIT
        while not (value := self.call("Runtime.evaluate", {"expression": expression, "returnByValue": True})
                   ["result"].get("value")) and time.monotonic() < deadline:
            time.sleep(0.1)
        check(value, what)
        return value


def run(work, base, browser):
    content = os.urandom(150000)
    path = pathlib.Path(work, "upload.bin")
    path.write_bytes(content)
    answer = json.loads(subprocess.run(
        ["curl", "-sS", "--max-time", "30", "-F", "file=@%s;filename=\"%s\"" %
         (path, FILE_NAME.replace('"', '\\"')), "--form-string", "password=" + PASSWORD,
         base + "/api/upload.php"], capture_output=True, check=True, timeout=40).stdout)
    check(answer["original_names"] == [FILE_NAME], "protected upload stored")

    downloads = pathlib.Path(work, "downloads")
    target = browser.call("Target.createTarget", {"url": answer["url"]})["targetId"]
    browser.session = browser.call("Target.attachToTarget",
                                   {"targetId": target, "flatten": True})["sessionId"]
    browser.call("Browser.setDownloadBehavior", {"behavior": "allow", "downloadPath": str(downloads)},
                 browser_level=True)
    # True once a new page has loaded: the page left behind keeps the marker set here.
    loaded = "!window.old && document.readyState == 'complete' && (window.old = true) && "
    files = "Array.from(document.querySelectorAll('#files .name')).map(e => e.textContent)"
    submit = ("document.getElementById('password').value = %s;"
              "document.getElementById('open').click(); true")
    browser.wait_for(loaded + "!!document.getElementById('password') && %s.length == 0" % files,
                     "the password is asked for first, no file listed")
    browser.wait_for(submit % json.dumps("wrong"), "wrong password submitted")
    check(browser.wait_for(loaded + "document.getElementById('error').textContent", "page reloaded") ==
          "パスワードが違います。", "wrong password is reported")
    browser.wait_for(submit % json.dumps(PASSWORD), "right password submitted")
    check(browser.wait_for(loaded + files, "page reloaded") == [FILE_NAME],
          "file listed after the right password")
    browser.wait_for("document.getElementById('file-0').click(); true", "download started")
    # Chromium itself turns quotes in file names into underscores.
    saved = downloads / FILE_NAME.replace('"', "_")
    deadline = time.monotonic() + WAIT
    while not saved.exists() and time.monotonic() < deadline:
        time.sleep(0.1)
    check(saved.exists() and saved.read_bytes() == content, "downloaded bytes equal the uploaded ones")


def main():
    with tempfile.TemporaryDirectory(prefix="pelkin-browser-") as work:
        server = subprocess.Popen([SERVER, "--listen", "127.0.0.1:0", "--data", work + "/data"],
                                  stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
        browser = None
        try:
            line = server.stdout.readline().decode().strip()
            check(line.startswith("listening on http://127.0.0.1:"), "server announced " + line)
            browser = Browser(os.path.join(work, "profile"))
            run(work, line[len("listening on "):], browser)
        finally:
            for process in ([browser.process] if browser else []) + [server]:
                process.terminate()
                process.wait(timeout=10)


if __name__ == "__main__":
    main()
