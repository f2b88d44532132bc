"""Runs the Windows executable under Wine's console and shell, as a Windows user would."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from driving import Terminal, recorded_starts

EXE = os.environ["VARNHOLT_EXE"]
RECORDER = os.environ["VARNHOLT_RECORDER"]
MARKER = b"apps.microsoft.com/detail/"
BASE = b"https://get.microsoft.com/installer/download/"
INVALID, EMPTY = b"Failed: Invalid url\r\n", b"Failed: Empty app id\r\n"


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
        cls.register_handler('"%1"')

    @classmethod
    def register_handler(cls, arguments):
        """Makes the recorder the prefix's handler for https addresses, for the verb "open"
        alone (a request for any other verb opens nothing), with this command line after
        its name."""
        command = f'"{windows_path(RECORDER)}" {arguments}'
        subprocess.run(["wine", "reg", "add", r"HKCR\https\shell\open\command", "/ve", "/d",
                        command, "/f"], env=cls.env, check=True, capture_output=True,
                       timeout=300)

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False, timeout=60)
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def run_piped(self, env=None, **options):
        return subprocess.run(["wine", EXE], capture_output=True, env=env or self.env,
                              timeout=120, check=False, **options)

    def test_piped_lines(self):
        fits = b"W" * (900 - len(BASE))
        # Longer addresses than the shell can take, each followed by a line that must still
        # be answered: Wine's shell faults from 997 bytes.
        too_long = [MARKER + b"L" * (size - len(BASE)) for size in (901, 997, 1500, 2048)]
        lines = [b"https://" + MARKER + b"9WZDNCRFJ3PZ?hl=en-us",
                 *(line for address in too_long for line in (address, b"not an address")),
                 MARKER + b"9WZDNCRFJ3PZ\" --evil-flag \"x", MARKER + b"?q", MARKER + fits,
                 MARKER + b"A&b%20c"]
        result = self.run_piped(input=b"\n".join(lines))
        self.assertEqual(result.returncode, 0)
        rows = result.stdout.split(b"\r\n")
        self.assertEqual(len(rows), 11, rows)
        self.assertEqual(rows[9], b" " * 58)
        self.assertEqual(rows[10], b"Url: " * (len(lines) + 1))
        self.assertEqual(result.stderr, INVALID * len(too_long) + EMPTY)
        opened = [b"9WZDNCRFJ3PZ", b"9WZDNCRFJ3PZ%22 --evil-flag %22x", fits, b"A&b%20c"]
        expected = sorted([BASE + identifier] for identifier in opened)
        starts = recorded_starts(self.records, len(expected), timeout=30.0, settle=2.0)
        self.assertEqual([arguments for arguments, _ in starts], expected)
        # Asked to open, hidden: the browser shows its own window as it sees fit.
        for _, facts in starts:
            self.assertEqual(facts, {"show": "0"})

    def test_trailing_backslashes_leave_the_handlers_arguments_alone(self):
        lines = [MARKER + b"x --evil-flag\\", MARKER + b"y\\\\\\"]
        self.addCleanup(self.register_handler, '"%1"')
        for arguments, expected in (('"%1" "%1"', lambda address: [address, address]),
                                    ('"%1" --tail', lambda address: [address, b"--tail"])):
            self.register_handler(arguments)
            records = tempfile.mkdtemp(dir=self.prefix)
            result = self.run_piped(input=b"\n".join(lines),
                                    env=dict(self.env, VARNHOLT_RECORDS=windows_path(records)))
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            starts = recorded_starts(records, len(lines), timeout=30.0, settle=1.0)
            self.assertEqual([started for started, _ in starts],
                             [expected(BASE + b"x --evil-flag%5C"),
                              expected(BASE + b"y%5C%5C%5C")], arguments)

    def test_read_error_ends_with_failure(self):
        directory = os.open(self.prefix, os.O_RDONLY)
        self.addCleanup(os.close, directory)
        result = self.run_piped(stdin=directory)
        self.assertEqual((result.returncode, result.stderr), (1, b""))

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
