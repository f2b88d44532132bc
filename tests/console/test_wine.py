"""Runs the Windows executable under Wine's console and shell, as a Windows user would."""

import os
import re
import shutil
import subprocess
import tempfile
import unittest

from driving import Terminal, recorded_starts, register_https_handler, windows_path

EXE = os.environ["VARNHOLT_EXE"]
RECORDER = os.environ["VARNHOLT_RECORDER"]
MARKER = b"apps.microsoft.com/detail/"
BASE = b"https://get.microsoft.com/installer/download/"
INVALID, EMPTY = b"Failed: Invalid url\r\n", b"Failed: Empty app id\r\n"


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
    def register_handler(cls, arguments, handler=RECORDER):
        """Makes the recorder, or a copy of it at `handler`, the prefix's handler for https
        addresses, with this command line after its name."""
        register_https_handler(cls.env, f'"{windows_path(handler)}" {arguments}')

    @classmethod
    def tearDownClass(cls):
        subprocess.run(["wineserver", "-k"], env=cls.env, check=False, timeout=60)
        shutil.rmtree(cls.prefix, ignore_errors=True)

    def run_piped(self, env=None, **options):
        return subprocess.run(["wine", EXE], capture_output=True, env=env or self.env,
                              timeout=120, check=False, **options)

    def test_piped_lines(self):
        fits = b"W" * (700 - len(BASE))
        # Each followed by a line that must still be answered: addresses longer than a handler
        # gets whole (Wine's shell faults from 997 bytes), and one that would grow past that
        # if the shell expanded the variables it names.
        unopened = [MARKER + b"L" * (size - len(BASE)) for size in (701, 997, 1500, 2048)]
        expanded = MARKER + b"%ComSpec%" * 40
        lines = [b"https://" + MARKER + b"9WZDNCRFJ3PZ?hl=en-us",
                 *(line for address in (*unopened, expanded)
                   for line in (address, b"not an address")),
                 MARKER + b"9WZDNCRFJ3PZ\" --evil-flag \"x", MARKER + b"?q", MARKER + fits,
                 MARKER + b"A&b%20c"]
        result = self.run_piped(input=b"\n".join(lines))
        self.assertEqual(result.returncode, 0)
        rows = result.stdout.split(b"\r\n")
        self.assertEqual(len(rows), 11, rows)
        self.assertEqual(rows[9], b" " * 58)
        self.assertEqual(rows[10], b"Url: " * (len(lines) + 1))
        self.assertEqual(result.stderr, INVALID * (len(unopened) + 1) + EMPTY)
        opened = [b"9WZDNCRFJ3PZ", b"%25ComSpec%25" * 40, b"9WZDNCRFJ3PZ%22 --evil-flag %22x",
                  fits, b"A&b%2520c"]
        expected = sorted([BASE + identifier] for identifier in opened)
        starts = recorded_starts(self.records, len(expected), timeout=30.0, settle=2.0)
        self.assertEqual([arguments for arguments, _ in starts], expected)
        # Asked to open, hidden: the browser shows its own window as it sees fit.
        for _, facts in starts:
            self.assertEqual(facts, {"show": "0"})

    def test_handlers_get_every_address_whole_as_its_own_argument(self):
        # Crafted to end the handler's quoted argument early: by backslashes before the closing
        # quote, or by variables the shell would expand into a quote or a backslash.
        crafted = {b"x --evil-flag\\": b"x --evil-flag%5C", b"y\\\\\\": b"y%5C%5C%5C",
                   b"A%XQ%": b"A%25XQ%25", b"B%XB%": b"B%25XB%25"}
        # Long ones too, but not where the handler takes the address twice.
        long = {identifier: identifier for identifier in
                (b"H" * (500 - len(BASE)), b"M" * (700 - len(BASE)))}
        env = dict(self.env, XQ='C:\\Program Files\\"quoted" dir', XB="C:\\x\\")
        # A browser installed deep in a user's folder takes much of the shell's space.
        folder = "d" * (200 - len(windows_path(self.prefix)) - len("\\") * 2 - len("rec.exe"))
        deep = os.path.join(self.prefix, folder, "rec.exe")
        os.mkdir(os.path.dirname(deep))
        shutil.copy(RECORDER, deep)
        self.addCleanup(self.register_handler, '"%1"')
        for handler, arguments, expected, identifiers in (
                (RECORDER, '"%1" "%1"', lambda address: [address, address], crafted),
                (RECORDER, '"%1" --tail', lambda address: [address, b"--tail"], crafted | long),
                (deep, '-osint -url "%1"', lambda address: [b"-osint", b"-url", address],
                 crafted | long)):
            self.register_handler(arguments, handler)
            records = tempfile.mkdtemp(dir=self.prefix)
            result = self.run_piped(input=b"\n".join(MARKER + line for line in identifiers),
                                    env=dict(env, VARNHOLT_RECORDS=windows_path(records)))
            self.assertEqual((result.returncode, result.stderr), (0, b""))
            starts = recorded_starts(records, len(identifiers), timeout=30.0, settle=1.0)
            self.assertEqual([started for started, _ in starts],
                             sorted(expected(BASE + address) for address in identifiers.values()),
                             arguments)

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
