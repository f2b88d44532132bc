"""Runs the Windows executable under Wine's console and shell, as a Windows user would."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from driving import Terminal, recorded_arguments

EXE = os.environ["VARNHOLT_EXE"]
RECORDER = os.environ["VARNHOLT_RECORDER"]
MARKER = b"apps.microsoft.com/detail/"
BASE = b"https://get.microsoft.com/installer/download/"


def windows_path(path):
    return "Z:" + path.replace("/", "\\")


class UnderWine(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.prefix = tempfile.mkdtemp(prefix="varnholt-wine-")
        cls.records = os.path.join(cls.prefix, "records")
        os.mkdir(cls.records)
        cls.env = dict(os.environ, WINEPREFIX=cls.prefix, WINEDEBUG="-all",
                       VARNHOLT_RECORDS=windows_path(cls.records))
        # The recorder becomes the prefix's handler for https addresses.
        command = f'"{windows_path(RECORDER)}" "%1"'
        subprocess.run(["wine", "reg", "add", r"HKCR\https\shell\open\command", "/ve", "/d",
                        command, "/f"], env=cls.env, check=True, capture_output=True,
                       timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False, timeout=60)
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def opened(self, count):
        return recorded_arguments(self.records, count, timeout=30.0)

    def test_piped_lines(self):
        lines = [b"https://" + MARKER + b"9WZDNCRFJ3PZ?hl=en-us", b"not an address",
                 MARKER + b"9WZDNCRFJ3PZ\" --evil-flag \"x", MARKER + b"?q", MARKER + b"A&b%20c"]
        result = subprocess.run(["wine", EXE], input=b"\n".join(lines), capture_output=True,
                                env=self.env, timeout=120, check=False)
        self.assertEqual(result.returncode, 0)
        rows = result.stdout.split(b"\r\n")
        self.assertEqual(len(rows), 11, rows)
        self.assertEqual(rows[9], b" " * 58)
        self.assertEqual(rows[10], b"Url: " * (len(lines) + 1))
        self.assertEqual(result.stderr, b"Failed: Invalid url\r\nFailed: Empty app id\r\n")
        self.assertEqual(self.opened(3), sorted([[BASE + b"9WZDNCRFJ3PZ"],
                                                 [BASE + b"9WZDNCRFJ3PZ%22 --evil-flag %22x"],
                                                 [BASE + b"A&b%20c"]]))

    def test_console_colours(self):
        # Raw from the start, so that Enter reaches Wine's console as a carriage return
        # however soon it is typed.
        term = Terminal(self, ["wine", EXE], self.env, raw=True)
        term.wait_for(b"Url:", timeout=60)
        term.type(b"bad\r")
        screen = term.wait_for(b"Url:", count=2, timeout=60)
        title = screen.index(b"\x1b]0;Varnholt\x07")
        cyan = screen.index(b"\x1b[36m", title)
        banner = screen.index(b"$$\\", cyan)
        reset = screen.index(b"\x1b[m", banner)
        prompt = screen.index(b"Url:", reset)
        red = screen.index(b"\x1b[91m", prompt)
        failure = screen.index(b"Failed: Invalid url", red)
        screen.index(b"Url:", screen.index(b"\x1b[m", failure))
        colour = re.compile(rb"\x1b\[[0-9;]*m")
        self.assertIsNone(colour.search(screen, banner, reset))
        self.assertIsNone(colour.search(screen, red + 5, failure))


if __name__ == "__main__":
    unittest.main()
