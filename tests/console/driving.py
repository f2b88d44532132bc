"""Helpers that drive a built executable as a person would: at a pseudo-terminal, with a
Wine prefix's https handler of the caller's choosing, and by reading what a stand-in address
handler recorded. tools/session_picture.py uses them too."""

import fcntl
import os
import pty
import select
import struct
import subprocess
import termios
import time
import tty


def windows_path(path):
    """The path as a program under Wine names it."""
    return "Z:" + path.replace("/", "\\")


def register_https_handler(env, command):
    """Makes `command` the handler for https addresses in the Wine prefix that `env` names,
    for the verb "open" alone (a request for any other verb opens nothing). Creates the
    prefix where it does not exist yet."""
    subprocess.run(["wine", "reg", "add", r"HKCR\https\shell\open\command", "/ve", "/d",
                    command, "/f"], env=env, check=True, capture_output=True, timeout=300)


def recorded_starts(folder, count, timeout, settle=0.0):
    """(arguments, facts) of the first `count` handler starts recorded in `folder`, sorted
    by arguments; with `settle`, of all the starts recorded that much later, so that a test
    can tell that no more came. Each start reserves a file of its own, empty until it is
    moved into place whole: a line of `name=value` facts about how it was started, then its
    NUL-separated arguments."""
    def whole_records():
        paths = (os.path.join(folder, name) for name in os.listdir(folder)
                 if not name.endswith(".part"))
        return [path for path in paths if os.path.getsize(path) > 0]

    deadline = time.monotonic() + timeout
    while len(paths := whole_records()) < count and time.monotonic() < deadline:
        time.sleep(0.05)
    if settle:
        time.sleep(settle)
        paths = whole_records()
    starts = []
    for path in paths:
        with open(path, "rb") as record:
            facts, arguments = record.read().split(b"\n", 1)
        starts.append((arguments.split(b"\0"),
                       dict(fact.split("=", 1) for fact in facts.decode().split())))
    return sorted(starts, key=lambda start: start[0])


class Terminal:
    """A command on a pseudo-terminal that is its controlling terminal, as in a terminal
    window: Ctrl+C typed there interrupts it. `screen` holds all it has shown. With a test,
    it is closed when the test ends; `size` is (rows, columns)."""

    def __init__(self, test, command, env, stderr=None, raw=False, size=None):
        self.main, secondary = pty.openpty()
        if raw:
            tty.setraw(secondary)
        if size:
            fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", *size, 0, 0))
        self.process = subprocess.Popen(
            command, stdin=secondary, stdout=secondary, stderr=stderr or secondary, env=env,
            start_new_session=True, preexec_fn=lambda: fcntl.ioctl(0, termios.TIOCSCTTY, 0))
        os.close(secondary)
        self.screen = b""
        if test:
            test.addCleanup(self.close)

    def close(self):
        if self.process.poll() is None:
            self.process.kill()
            self.process.wait()
        os.close(self.main)

    def wait_for(self, text, count=1, timeout=10.0):
        """Reads until `text` has been shown `count` times, the time is up, or output ends."""
        deadline = time.monotonic() + timeout
        while self.screen.count(text) < count and time.monotonic() < deadline:
            if select.select([self.main], [], [], 0.1)[0]:
                try:
                    self.screen += os.read(self.main, 65536)
                except OSError:
                    break
        return self.screen

    def type(self, text):
        os.write(self.main, text)
