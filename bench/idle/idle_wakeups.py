#!/usr/bin/python3
"""Wake-ups of an idle `pellora --simulate`, per thread.

Starts the program on a session bus of its own with a tray watcher (python3-dbusmock, as the
tray tests use) under the X server in $DISPLAY (run it inside xvfb-run), lets it settle,
then counts each thread's voluntary context switches (/proc/PID/task/*/status) over a
measured span. A thread that blocks and is woken again counts one switch per wake-up.

    xvfb-run -a bench/idle/idle_wakeups.py build/release/src/pellora [--seconds 60]

Prints one line per thread and the whole process's rate per minute; exits 1 when the
process wakes more often than --limit times a minute (25 unless told).
"""

import argparse
import os
import pathlib
import signal
import subprocess
import sys
import tempfile
import time

HERE = pathlib.Path(__file__).resolve().parent
WATCHER = HERE.parent.parent / "tests" / "ui" / "data" / "status_notifier_watcher.py"


def switches(pid):
    """{tid: (name, voluntary switches)} of every thread of `pid` now."""
    out = {}
    for task in pathlib.Path(f"/proc/{pid}/task").iterdir():
        try:
            name = (task / "comm").read_text().strip()
            for line in (task / "status").read_text().splitlines():
                if line.startswith("voluntary_ctxt_switches:"):
                    out[int(task.name)] = (name, int(line.split()[1]))
        except (FileNotFoundError, ProcessLookupError):
            pass  # the thread ended meanwhile
    return out


def wait_for(predicate, seconds):
    deadline = time.monotonic() + seconds
    while time.monotonic() < deadline:
        if predicate():
            return True
        time.sleep(0.1)
    return False


def main():
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("pellora", help="the program to measure")
    parser.add_argument("--seconds", type=float, default=60.0, help="measured span")
    parser.add_argument("--settle", type=float, default=15.0,
                        help="seconds after launch before measuring (first snapshot, "
                             "capabilities read and tray set-up are over by then)")
    parser.add_argument("--limit", type=float, default=25.0, help="most wake-ups a minute")
    parser.add_argument("--no-tray", action="store_true",
                        help="no tray watcher: the window opens at launch instead")
    args = parser.parse_args()

    with tempfile.TemporaryDirectory(prefix="pellora-idle-") as scratch:
        daemon = subprocess.Popen(["dbus-daemon", "--session", "--nofork", "--print-address=1"],
                                  stdout=subprocess.PIPE, text=True)
        address = daemon.stdout.readline().strip()
        env = dict(os.environ, DBUS_SESSION_BUS_ADDRESS=address)
        children = [daemon]
        try:
            if not args.no_tray:
                watcher = subprocess.Popen(
                    ["/usr/bin/python3", "-m", "dbusmock", "--template", str(WATCHER)], env=env,
                    stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
                children.append(watcher)
                found = wait_for(lambda: subprocess.run(
                    ["dbus-send", "--session", "--print-reply", "--dest=org.freedesktop.DBus",
                     "/org/freedesktop/DBus", "org.freedesktop.DBus.NameHasOwner",
                     "string:org.kde.StatusNotifierWatcher"], env=env, capture_output=True,
                    text=True).stdout.find("true") >= 0, 10)
                if not found:
                    sys.exit("the tray watcher did not start")
            program = subprocess.Popen([args.pellora, "--simulate", "--data-dir", scratch],
                                       env=env, stdout=subprocess.DEVNULL,
                                       stderr=subprocess.DEVNULL)
            children.append(program)
            time.sleep(args.settle)
            if program.poll() is not None:
                sys.exit(f"pellora ended early with {program.returncode}")
            before = switches(program.pid)
            start = time.monotonic()
            time.sleep(args.seconds)
            after = switches(program.pid)
            span = time.monotonic() - start
        finally:
            for child in reversed(children):
                child.send_signal(signal.SIGTERM)
                try:
                    child.wait(10)
                except subprocess.TimeoutExpired:
                    child.kill()

    per_minute = 60.0 / span
    total = 0.0
    print(f"{'thread':<16} {'tid':>8} {'wake-ups/min':>12}")
    for tid in sorted(after):
        name, count = after[tid]
        woke = (count - before.get(tid, (name, 0))[1]) * per_minute
        total += woke
        print(f"{name:<16} {tid:>8} {woke:>12.1f}")
    ended = set(before) - set(after)
    for tid in sorted(ended):
        print(f"{before[tid][0]:<16} {tid:>8} {'(ended)':>12}")
    print(f"{'whole process':<25} {total:>12.1f}  (limit {args.limit:g})")
    return 0 if total <= args.limit else 1


if __name__ == "__main__":
    sys.exit(main())
