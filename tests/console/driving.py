"""Helpers that drive a built executable as a person would: at a pseudo-terminal, and by
reading what a stand-in address handler recorded."""

import os
import pty
import select
import subprocess
import time
import tty


def recorded_arguments(folder, count, timeout):
    """The argument lists of the first `count` handler starts recorded in `folder`, sorted.
    Each start writes one file of NUL-separated arguments, renamed into place when whole."""
    deadline = time.monotonic() + timeout
    names = []
    while time.monotonic() < deadline:
        names = [name for name in os.listdir(folder) if not name.endswith(".tmp")]
        if len(names) >= count:
            break
        time.sleep(0.05)
    records = []
    for name in names:
        with open(os.path.join(folder, name), "rb") as record:
            records.append(record.read().split(b"\0"))
    return sorted(records)


class Terminal:
    """A command on a pseudo-terminal; `screen` holds all it has shown."""

    def __init__(self, test, command, env, stderr=None, raw=False):
        self.main, secondary = pty.openpty()
        if raw:
            tty.setraw(secondary)
        self.process = subprocess.Popen(command, stdin=secondary, stdout=secondary,
                                        stderr=stderr or secondary, env=env)
        os.close(secondary)
        self.screen = b""
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
