#!/usr/bin/python3
"""Idle cost of the drag monitor and of the whole application, under a private
Xvfb (development only).

  bench/idle-wakeups.py [--build DIR] [--seconds S] [--target monitor|app|both]
                        [--settle S] [--after-drag] [--strace S]

S seconds (--settle, default 5) after start-up (the application's main window
closed; with --after-drag, after one file drag that showed the zone), samples
every thread of the process from /proc over S seconds (default 60): CPU time
(schedstat, nanoseconds) and context switches; a thread's voluntary switches
count its wake-ups. Prints the share of one core and the wake-ups per second
of the main thread and of each other thread. With --strace S, then traces the
process for S more seconds and lists, per thread, what it waited in (poll and
friends with their time-outs): a fixed time-out that keeps coming back is a
timer. Targets: <= 0.05 % of one core and <= 1 main-thread wake-up a second.
"""
import collections
import os
import re
import subprocess
import sys
import time

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
from xsession import APP_TITLE, XSession, one_drag, run_targets  # noqa: E402


def sample(pid):
    threads = {}
    for tid in os.listdir(f"/proc/{pid}/task"):
        base = f"/proc/{pid}/task/{tid}"
        try:
            with open(base + "/comm") as f:
                name = f.read().strip()
            with open(base + "/schedstat") as f:
                cpu_ns = int(f.read().split()[0])
            status = {}
            with open(base + "/status") as f:
                for line in f:
                    key, _, value = line.partition(":")
                    status[key] = value.strip()
        except OSError:
            continue  # the thread ended meanwhile
        threads[int(tid)] = (name, cpu_ns, int(status["voluntary_ctxt_switches"]),
                             int(status["nonvoluntary_ctxt_switches"]))
    return threads


def report(target, pid, before, after, seconds):
    total_ns = sum(t[1] for t in after.values()) - sum(
        before[tid][1] for tid in after if tid in before)
    print(f"== {target}: {100 * total_ns / 1e9 / seconds:.4f} % of one core over {seconds:.1f} s")
    for tid in sorted(after, key=lambda t: (t != pid, t)):
        if tid not in before:
            print(f"   thread {tid} ({after[tid][0]}) started during the measurement")
            continue
        name, cpu, vol, invol = after[tid]
        _, cpu0, vol0, invol0 = before[tid]
        label = "main thread" if tid == pid else f"thread {tid} ({name})"
        print(f"   {label}: {(vol - vol0) / seconds:.2f} wake-ups/s "
              f"({vol - vol0} voluntary, {invol - invol0} involuntary switches), "
              f"cpu {(cpu - cpu0) / 1e6:.1f} ms")
    for tid in before:
        if tid not in after:
            print(f"   thread {tid} ({before[tid][0]}) ended during the measurement")


WAIT = re.compile(r"^(\d+)\s+[\d:.]+\s+(poll|ppoll|epoll_wait|epoll_pwait|select|pselect6|"
                  r"nanosleep|clock_nanosleep|futex)\((.*)")


def trace(target, pid, seconds, names):
    out = f"/tmp/pelkin-idle-strace-{pid}.txt"
    tracer = subprocess.Popen(["strace", "-f", "-tt", "-o", out, "-p", str(pid), "-e",
                               "trace=poll,ppoll,epoll_wait,epoll_pwait,select,pselect6,"
                               "nanosleep,clock_nanosleep,futex"],
                              stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    time.sleep(seconds)
    tracer.terminate()
    tracer.wait(10)
    calls = collections.Counter()
    with open(out) as f:
        for line in f:
            m = WAIT.match(line)
            if not m:
                continue
            tid, call, args = int(m.group(1)), m.group(2), m.group(3)
            if call in ("poll", "ppoll"):
                # poll(fds, n, timeout): the last argument before ")" names the wait.
                timeout = re.search(r"\],\s*\d+,\s*([^)]*)\)", args)
                detail = timeout.group(1) if timeout else "?"
            else:
                detail = ""
            calls[(tid, call, detail)] += 1
    print(f"== {target}: waits seen by strace over {seconds} s (thread, call, time-out: count)")
    for (tid, call, detail), count in sorted(calls.items(), key=lambda i: (i[0][0], -i[1])):
        label = "main" if tid == pid else names.get(tid, str(tid))
        print(f"   {label}: {call} {detail}: {count}")
    os.remove(out)


def measure(build, target, seconds, settle, after_drag, strace_seconds):
    session = XSession(build)
    try:
        if target == "monitor":
            program = watcher = session.start_monitor_probe()
            event = "start"
        else:
            program = session.start_application()
            watcher = session.start([session.binary("bench/pelkin-window-watch"), "watch",
                                     APP_TITLE, "UTILITY"])
            if not watcher.wait_line("ready", 10):
                raise RuntimeError("the window watcher did not start")
            event = "map"
        if after_drag:
            time.sleep(2)
            path = os.path.join(session.home, "a.txt")
            with open(path, "w") as f:
                f.write("x")
            if one_drag(session, "qt", path, watcher, event, timeout=15) is None:
                print(f"{target}: the drag before the measurement was not seen")
                return False
        if watcher is not program:
            watcher.stop()
        pid = program.proc.pid
        time.sleep(settle)
        before = sample(pid)
        start = time.monotonic()
        time.sleep(seconds)
        after = sample(pid)
        what = target + (" after a drag" if after_drag else "") + f", settled {settle:g} s"
        report(what, pid, before, after, time.monotonic() - start)
        if strace_seconds:
            trace(what, pid, strace_seconds, {tid: t[0] for tid, t in after.items()})
        return program.proc.poll() is None
    finally:
        session.close()


def main():
    def add_arguments(parser):
        parser.add_argument("--seconds", type=float, default=60)
        parser.add_argument("--settle", type=float, default=5)
        parser.add_argument("--after-drag", action="store_true")
        parser.add_argument("--strace", type=float, default=0)

    return run_targets(__doc__, measure, add_arguments, lambda args: (
        args.seconds, args.settle, args.after_drag, args.strace))


if __name__ == "__main__":
    sys.exit(main())
