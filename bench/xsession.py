# What the bench scripts share: a private Xvfb (or a compositor's XWayland), the
# programs under measurement started on it, and their output read line by
# line with the time each line arrived. Every wait is bounded.
import argparse
import os
import queue
import shutil
import subprocess
import tempfile
import threading
import time

ROOT = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
APP_TITLE = "Pelkin Drop"


GESTURE = ["mousemove", "120", "80", "mousedown", "1"]
for _ in range(20):
    GESTURE += ["mousemove_relative", "--", "12", "9", "sleep", "0.02"]


def source_command(session, toolkit, path):
    """A test drag source offering the file at path."""
    if toolkit == "qt":
        return [session.binary("tests/support/pelkin-test-drag-source"), "--files", path]
    return ["/usr/bin/python3", os.path.join(ROOT, "tests/support/gtk-drag-source.py"),
            "--files", path]


def one_drag(session, toolkit, path, watcher, event, timeout=3):
    """Milliseconds from the drag's start to the watcher's event, or None."""
    source = session.start(source_command(session, toolkit, path))
    try:
        if not source.wait_line("ready", 20):
            raise RuntimeError(f"the {toolkit} drag source did not start")
        watcher.drain()
        if session.run(["xdotool", *GESTURE]) != 0:
            raise RuntimeError("xdotool failed")
        started = source.wait_line("drag-started", 5)
        seen = watcher.wait_line(event, timeout)
        session.run(["xdotool", "mouseup", "1"])
        source.wait_line("drag-finished", 5)
        if not started or not seen:
            return None
        return (int(seen.split()[1]) - int(started.split()[1])) / 1000
    finally:
        source.stop()
        session.programs.remove(source)


class Program:
    """A child process whose standard output is collected line by line."""

    def __init__(self, args, env=None, stdin=False):
        self.args = args
        self.proc = subprocess.Popen(args, stdout=subprocess.PIPE, stderr=subprocess.DEVNULL,
                                     stdin=subprocess.PIPE if stdin else subprocess.DEVNULL,
                                     env=env, text=True, bufsize=1)
        self.lines = queue.Queue()
        threading.Thread(target=self._read, daemon=True).start()

    def _read(self):
        for line in self.proc.stdout:
            self.lines.put(line.strip())

    def wait_line(self, prefix, timeout):
        """The first line starting with prefix within timeout seconds (others dropped), or None."""
        deadline = time.monotonic() + timeout
        while True:
            left = deadline - time.monotonic()
            if left <= 0:
                return None
            try:
                line = self.lines.get(timeout=left)
            except queue.Empty:
                return None
            if line.startswith(prefix):
                return line

    def send(self, text):
        self.proc.stdin.write(text + "\n")
        self.proc.stdin.flush()

    def drain(self):
        while not self.lines.empty():
            self.lines.get_nowait()

    def stop(self):
        if self.proc.poll() is None:
            self.proc.terminate()
            try:
                self.proc.wait(5)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait(5)


class XSession:
    """A private Xvfb and a temporary home; programs started here use both."""

    def __init__(self, build, display=None):
        """display: an X server already running (XWayland in a compositor's
        session, whose environment is kept); None starts a private Xvfb."""
        self.build = build
        self.home = tempfile.mkdtemp(prefix="pelkin-bench-")
        self.xvfb = None
        self.programs = []
        env = dict(os.environ)
        if display is None:
            display = self._start_xvfb()
            env.pop("WAYLAND_DISPLAY", None)
            env["QT_QPA_PLATFORM"] = "xcb"
        self.env = dict(env, DISPLAY=display, HOME=self.home,
                        XDG_CONFIG_HOME=os.path.join(self.home, ".config"),
                        XDG_DATA_HOME=os.path.join(self.home, ".local/share"),
                        XDG_CACHE_HOME=os.path.join(self.home, ".cache"))

    def _start_xvfb(self):
        read_fd, write_fd = os.pipe()
        self.xvfb = subprocess.Popen(
            ["Xvfb", "-displayfd", str(write_fd), "-screen", "0", "1280x800x24", "-nolisten",
             "tcp", "-noreset"], pass_fds=[write_fd], stdout=subprocess.DEVNULL,
            stderr=subprocess.DEVNULL)
        os.close(write_fd)
        with os.fdopen(read_fd) as displayfd:
            number = displayfd.readline().strip()
        if not number:
            self.close()
            raise RuntimeError("Xvfb did not start")
        return ":" + number

    def start(self, args, stdin=False):
        program = Program(args, self.env, stdin)
        self.programs.append(program)
        return program

    def run(self, args, timeout=20):
        return subprocess.run(args, env=self.env, stdout=subprocess.DEVNULL,
                              stderr=subprocess.DEVNULL, timeout=timeout).returncode

    def binary(self, path):
        full = os.path.join(self.build, path)
        if not os.access(full, os.X_OK):
            raise RuntimeError(f"{full} is missing: build it first")
        return full

    def start_monitor_probe(self, extra=()):
        probe = self.start([self.binary("bench/pelkin-drag-monitor-probe"), *extra])
        if not probe.wait_line("ready", 20):
            raise RuntimeError("the drag monitor probe did not start")
        return probe

    def start_application(self):
        """pelkin-drop (the test build: same code, private instance name and a
        dead endpoint), with its main window closed once it has shown."""
        app = self.start([self.binary("tests/app/shell/pelkin-drop-under-test"),
                          "http://127.0.0.1:9/api/upload.php", f"pelkin-bench-{os.getpid()}"])
        watch = self.binary("bench/pelkin-window-watch")
        deadline = time.monotonic() + 30
        while self.run([watch, "close", APP_TITLE, "NORMAL"]) != 0:
            if time.monotonic() > deadline or app.proc.poll() is not None:
                raise RuntimeError("the application's main window did not appear")
            time.sleep(0.2)
        return app

    def close(self):
        for program in reversed(self.programs):
            program.stop()
        if self.xvfb and self.xvfb.poll() is None:
            self.xvfb.terminate()
            self.xvfb.wait(10)
        shutil.rmtree(self.home, ignore_errors=True)


def run_targets(doc, measure, add_arguments, measure_arguments):
    """The command line both scripts share: --build and --target, then
    measure(build, target, *measure_arguments(args)) per target."""
    parser = argparse.ArgumentParser(description=doc.splitlines()[0])
    parser.add_argument("--build", default=os.path.join(ROOT, "build"))
    parser.add_argument("--target", choices=["monitor", "app", "both"], default="both")
    add_arguments(parser)
    args = parser.parse_args()
    targets = ["monitor", "app"] if args.target == "both" else [args.target]
    ok = all([measure(os.path.abspath(args.build), t, *measure_arguments(args))
              for t in targets])
    return 0 if ok else 1
