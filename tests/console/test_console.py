"""Runs the built tool as a user would: piped, in a terminal, with a stand-in opener."""

import os
import subprocess
import tempfile
import time
import unittest

from driving import Terminal, recorded_arguments

TOOL = os.environ["VARNHOLT"]
MARKER = "apps.microsoft.com/detail/"
BASE = b"https://get.microsoft.com/installer/download/"
ART_CHARACTERS = set("$\\|/_ ")
INVALID = b"Failed: Invalid url\n"
EMPTY = b"Failed: Empty app id\n"

RECORDER = """#!/usr/bin/python3
import os, sys, time
time.sleep(float(os.environ.get("OPENER_DELAY", "0")))
path = os.path.join(os.environ["OPENER_RECORDS"], str(os.getpid()))
with open(path + ".tmp", "wb") as record:
    record.write(b"\\0".join(os.fsencode(a) for a in sys.argv[1:]))
os.rename(path + ".tmp", path)
"""


class Opener:
    """A stand-in xdg-open, first on PATH, that records the arguments of each start."""

    def __init__(self, test, delay=0.0):
        self.folder = tempfile.TemporaryDirectory()
        test.addCleanup(self.folder.cleanup)
        self.records = os.path.join(self.folder.name, "records")
        os.mkdir(self.records)
        opener = os.path.join(self.folder.name, "xdg-open")
        with open(opener, "w", encoding="ascii") as script:
            script.write(RECORDER)
        os.chmod(opener, 0o755)
        self.env = dict(os.environ, PATH=self.folder.name + ":" + os.environ["PATH"],
                        OPENER_RECORDS=self.records, OPENER_DELAY=str(delay))

    def started(self, count, timeout=10.0):
        """The argument lists of the first `count` starts, sorted."""
        return recorded_arguments(self.records, count, timeout)


def run_piped(data, args=(), env=None):
    return subprocess.run([TOOL, *args], input=data, capture_output=True, env=env, timeout=30,
                          check=False)


def banner_and_rest(stdout):
    rows = stdout.split(b"\n")
    return [row.decode("ascii") for row in rows[:10]], b"\n".join(rows[10:])


class Piped(unittest.TestCase):
    def test_output_is_banner_then_one_prompt_per_read(self):
        opener = Opener(self)
        lines = [b"https://" + MARKER.encode() + b"9WZDNCRFJ3PZ?hl=en-us", b"", b"hello",
                 MARKER.encode(), b"apps.microsoft.com/detail/X/"]
        result = run_piped(b"\n".join(lines), env=opener.env)
        self.assertEqual(result.returncode, 0)
        banner, rest = banner_and_rest(result.stdout)
        self.assertEqual(rest, b"Url: " * (len(lines) + 1))
        self.assertEqual(len({len(row) for row in banner[:8]}), 1, banner)
        for row in banner[:8]:
            self.assertLessEqual(set(row), ART_CHARACTERS, row)
        self.assertTrue(banner[8].strip())
        self.assertEqual(banner[9], " " * 58)
        # The last line has no line feed and is still handled.
        self.assertEqual(result.stderr, INVALID + INVALID + EMPTY + EMPTY)
        self.assertEqual(opener.started(1), [[BASE + b"9WZDNCRFJ3PZ"]])

    def test_empty_input_ends_quietly(self):
        for data in (b"", b"\n"):
            result = run_piped(data)
            self.assertEqual(result.returncode, 0)
            _, rest = banner_and_rest(result.stdout)
            self.assertEqual(rest, b"Url: " * (data.count(b"\n") + 1))
            self.assertEqual(result.stderr, INVALID * data.count(b"\n"))

    def test_opener_gets_the_address_as_one_argument(self):
        identifiers = {
            b"9WZDNCRFJ3PZ\" --evil-flag \"x": b"9WZDNCRFJ3PZ%22 --evil-flag %22x",
            b"a;touch${HOME}|`id`&$(id)>x<y~*": b"a;touch${HOME}|`id`&$(id)>x<y~*",
            b"sp ace\ttab'q*": b"sp ace\ttab'q*",
            b"n\0ul\xff\xc3\xa9\r": b"n%00ul\xff\xc3\xa9\r",
            b"#frag%41&x=1": b"#frag%41&x=1",
        }
        opener = Opener(self)
        data = b"".join(MARKER.encode() + i + b"\n" for i in identifiers)
        result = run_piped(data, env=opener.env)
        self.assertEqual(result.stderr, b"")
        expected = sorted([BASE + address] for address in identifiers.values())
        self.assertEqual(opener.started(len(expected)), expected)

    def test_arguments_and_environment_change_nothing(self):
        data = b"x\n" + MARKER.encode() + b"\nnothing"
        baseline = run_piped(data)
        env = dict(os.environ, LANG="tr_TR.UTF-8", LC_ALL="C.UTF-8", TERM="dumb", NO_COLOR="1",
                   COLUMNS="20", POSIXLY_CORRECT="1")
        for args in ((), ("--help",), ("-v", "https://" + MARKER + "X"), ("", "\xff")):
            result = run_piped(data, args, env)
            self.assertEqual((result.returncode, result.stdout, result.stderr),
                             (baseline.returncode, baseline.stdout, baseline.stderr), args)

    def test_loop_does_not_wait_and_leaves_no_zombies(self):
        opener = Opener(self, delay=3.0)
        count = 40
        tool = subprocess.Popen([TOOL], stdin=subprocess.PIPE, stdout=subprocess.PIPE,
                                env=opener.env)
        self.addCleanup(tool.stdout.close)
        begun = time.monotonic()
        tool.stdin.write(b"".join(b"%sID%d\n" % (MARKER.encode(), n) for n in range(count)))
        tool.stdin.flush()
        output = b""
        while output.count(b"Url: ") < count + 1:
            output += os.read(tool.stdout.fileno(), 65536)
        self.assertLess(time.monotonic() - begun, 2.5)  # waiting would take 120 s
        self.assertEqual(len(opener.started(count)), count)
        # Openers that have recorded may still be ending; a zombie never would.
        deadline = time.monotonic() + 10
        while children(tool.pid) and time.monotonic() < deadline:
            time.sleep(0.1)
        self.assertEqual(children(tool.pid), [])
        tool.stdin.close()
        self.assertEqual(tool.wait(timeout=10), 0)


def children(pid):
    found = []
    for entry in filter(str.isdigit, os.listdir("/proc")):
        try:
            with open(f"/proc/{entry}/stat", encoding="ascii", errors="replace") as stat:
                fields = stat.read().rsplit(")", 1)[1].split()
        except (FileNotFoundError, ProcessLookupError):
            continue
        if fields[1] == str(pid):
            found.append((entry, fields[0]))
    return found


TITLE, CYAN, NORMAL, RED = b"\x1b]0;Varnholt\x07", b"\x1b[36m", b"\x1b[m", b"\x1b[91m"


class AtTheTerminal(unittest.TestCase):
    def test_colours_title_and_end_of_input(self):
        opener = Opener(self)
        term = Terminal(self, [TOOL], opener.env)
        term.wait_for(b"Url: ")
        self.assertTrue(term.screen.startswith(TITLE + CYAN + b"$$\\ "), term.screen[:40])
        self.assertTrue(term.screen.endswith(b" " * 58 + b"\r\n" + NORMAL + b"Url: "))
        term.type(b"not an address\n")
        screen = term.wait_for(RED + b"Failed: Invalid url\r\n" + NORMAL + b"Url: ")
        self.assertTrue(screen.endswith(b"not an address\r\n" + RED + b"Failed: Invalid url\r\n" +
                                        NORMAL + b"Url: "), screen[-80:])
        term.type(MARKER.encode() + b"GOOD\n")
        screen = term.wait_for(b"GOOD\r\n" + NORMAL + b"Url: ")
        self.assertTrue(screen.endswith(b"GOOD\r\n" + NORMAL + b"Url: "), screen[-80:])
        term.type(b"\x04")
        self.assertEqual(term.process.wait(timeout=10), 0)
        screen = term.wait_for(b"never")
        self.assertTrue(screen.endswith(b"Url: \r\n" + NORMAL), screen[-40:])
        self.assertEqual(opener.started(1), [[BASE + b"GOOD"]])

    def test_failures_go_to_redirected_standard_error(self):
        with tempfile.TemporaryFile() as errors:
            term = Terminal(self, [TOOL], Opener(self).env, stderr=errors)
            term.wait_for(b"Url: ")
            term.type(b"x\n")
            term.wait_for(b"x\r\n" + RED + NORMAL + b"Url: ")
            term.type(b"\x04")
            self.assertEqual(term.process.wait(timeout=10), 0)
            self.assertNotIn(b"Failed", term.wait_for(b"never", 0.2))
            errors.seek(0)
            self.assertEqual(errors.read(), INVALID)


if __name__ == "__main__":
    unittest.main()
