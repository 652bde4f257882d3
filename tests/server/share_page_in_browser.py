#!/usr/bin/env python3
"""The share page in a real browser: headless Chromium, driven over the DevTools
protocol on a pipe, opens a password-protected share link, submits a wrong and
then the right password, downloads the file and the bytes are compared."""
import fcntl
import json
import os
import queue
import shutil
import subprocess
import sys
import tempfile
import threading
import time

SERVER = sys.argv[1]
CHROMIUM = shutil.which("chromium") or "/usr/bin/chromium"
WAIT = 30  # seconds, for any single step
FILE_NAME = "報告書 2026年 \"最終\".pdf"
PASSWORD = "ひみつ pass 1"


def fail(message):
    sys.exit("FAIL: " + message)


def check(condition, message):
    if not condition:
        fail(message)
    print("ok:", message)


class Browser:
    def __init__(self, profile):
        # The DevTools pipe is fds 3 (commands) and 4 (results) in the browser.
        def high(fd):
            moved = fcntl.fcntl(fd, fcntl.F_DUPFD_CLOEXEC, 10)
            os.close(fd)
            return moved

        cmd_r, cmd_w = (high(fd) for fd in os.pipe())
        res_r, res_w = (high(fd) for fd in os.pipe())
        self.process = subprocess.Popen(
            [CHROMIUM, "--headless", "--no-sandbox", "--disable-gpu",
             "--disable-background-networking", "--disable-component-update",
             "--disable-sync", "--no-first-run", "--no-default-browser-check",
             "--user-data-dir=" + profile, "--remote-debugging-pipe", "about:blank"],
            preexec_fn=lambda: (os.dup2(cmd_r, 3), os.dup2(res_w, 4)), close_fds=False,
            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        os.close(cmd_r)
        os.close(res_w)
        self.out = os.fdopen(cmd_w, "wb", buffering=0)
        self.incoming = queue.Queue()
        self.events = []
        self.next_id = 0
        self.session = None
        threading.Thread(target=self._read, args=(res_r,), daemon=True).start()

    def _read(self, fd):
        buffer = b""
        with os.fdopen(fd, "rb", buffering=0) as pipe:
            while True:
                chunk = pipe.read(65536)
                if not chunk:
                    break
                buffer += chunk
                while b"\0" in buffer:
                    message, buffer = buffer.split(b"\0", 1)
                    self.incoming.put(json.loads(message))

    def _pump(self, deadline):
        remaining = deadline - time.monotonic()
        if remaining <= 0:
            return None
        try:
            message = self.incoming.get(timeout=remaining)
        except queue.Empty:
            return None
        if "id" not in message:
            self.events.append(message)
        return message

    def call(self, method, params=None, browser_level=False):
        self.next_id += 1
        request = {"id": self.next_id, "method": method, "params": params or {}}
        if self.session and not browser_level:
            request["sessionId"] = self.session
        self.out.write(json.dumps(request).encode() + b"\0")
        deadline = time.monotonic() + WAIT
        while True:
            message = self._pump(deadline)
            if message is None:
                fail("no answer to " + method)
            if message.get("id") == self.next_id:
                if "error" in message:
                    fail(method + ": " + json.dumps(message["error"]))
                return message["result"]

    def wait_event(self, method, predicate=lambda params: True):
        deadline = time.monotonic() + WAIT
        while True:
            for event in self.events:
                if event["method"] == method and predicate(event.get("params", {})):
                    self.events.remove(event)
                    return event["params"]
            if self._pump(deadline) is None:
                fail("timed out waiting for " + method)

    def evaluate(self, expression):
        return self.call("Runtime.evaluate", {"expression": expression,
                                              "returnByValue": True})["result"].get("value")

    def act_and_wait_for_load(self, expression):
        self.events = [e for e in self.events if e["method"] != "Page.loadEventFired"]
        self.evaluate(expression)
        self.wait_event("Page.loadEventFired")

    def close(self):
        try:
            self.call("Browser.close", browser_level=True)
        except SystemExit:
            pass
        try:
            self.process.wait(timeout=10)
        except subprocess.TimeoutExpired:
            self.process.kill()
            self.process.wait(timeout=10)


def main():
    work = tempfile.mkdtemp(prefix="pelkin-browser-")
    server = subprocess.Popen([SERVER, "--listen", "127.0.0.1:0", "--data", work + "/data"],
                              stdout=subprocess.PIPE, stderr=subprocess.DEVNULL)
    browser = None
    try:
        line = server.stdout.readline().decode().strip()
        check(line.startswith("listening on http://127.0.0.1:"), "server announced " + line)
        base = line[len("listening on "):]

        content = os.urandom(150000)
        path = os.path.join(work, "upload.bin")
        with open(path, "wb") as f:
            f.write(content)
        reply = subprocess.run(
            ["curl", "-sS", "--max-time", "30", "-F", "file=@" + path + ';filename="' +
             FILE_NAME.replace('"', '\\"') + '"', "--form-string", "password=" + PASSWORD,
             base + "/api/upload.php"], capture_output=True, check=True, timeout=40).stdout
        answer = json.loads(reply)
        check(answer["success"] and answer["password_protected"], "protected upload stored")
        check(answer["original_names"] == [FILE_NAME], "name kept: " + answer["original_names"][0])

        downloads = os.path.join(work, "downloads")
        os.makedirs(downloads)
        browser = Browser(os.path.join(work, "profile"))
        target = browser.call("Target.createTarget", {"url": "about:blank"})["targetId"]
        browser.session = browser.call("Target.attachToTarget",
                                       {"targetId": target, "flatten": True})["sessionId"]
        browser.call("Page.enable")
        browser.call("Browser.setDownloadBehavior",
                     {"behavior": "allowAndName", "downloadPath": downloads,
                      "eventsEnabled": True}, browser_level=True)

        browser.call("Page.navigate", {"url": answer["url"]})
        browser.wait_event("Page.loadEventFired")
        check(browser.evaluate("document.documentElement.lang") == "ja", "page is Japanese")
        check(browser.evaluate("document.querySelector('h1').textContent") == "パスワードが必要です",
              "password asked for first")
        check(browser.evaluate("document.querySelectorAll('#files').length") == 0,
              "no file listed before the password")

        browser.act_and_wait_for_load(
            "document.getElementById('password').value = 'wrong';"
            "document.getElementById('open').click(); true")
        check(browser.evaluate("(document.getElementById('error') || {}).textContent") ==
              "パスワードが違います。", "wrong password is reported")

        browser.act_and_wait_for_load(
            "document.getElementById('password').value = %s;"
            "document.getElementById('open').click(); true" % json.dumps(PASSWORD))
        names = browser.evaluate(
            "Array.from(document.querySelectorAll('#files .name')).map(e => e.textContent)")
        check(names == [FILE_NAME], "file listed after the right password: %r" % names)

        browser.evaluate("document.getElementById('file-0').click(); true")
        begun = browser.wait_event("Browser.downloadWillBegin")
        # Chromium itself turns quotes in file names into underscores.
        check(begun["suggestedFilename"] == FILE_NAME.replace('"', "_"),
              "download named " + begun["suggestedFilename"])
        browser.wait_event("Browser.downloadProgress",
                           lambda p: p.get("guid") == begun["guid"] and
                           p.get("state") in ("completed", "canceled"))
        with open(os.path.join(downloads, begun["guid"]), "rb") as f:
            check(f.read() == content, "downloaded bytes equal the uploaded ones")
    finally:
        if browser:
            browser.close()
        server.terminate()
        try:
            server.wait(timeout=10)
        except subprocess.TimeoutExpired:
            server.kill()
        shutil.rmtree(work, ignore_errors=True)


if __name__ == "__main__":
    main()
