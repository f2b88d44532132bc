"""Runs the built tool as a user would: piped, in a terminal, with a stand-in opener."""

import os
import signal
import subprocess
import tempfile
import time
import unittest

from driving import Terminal, recorded_starts

TOOL = os.environ["VARNHOLT"]
RECORDER = os.environ["VARNHOLT_RECORDER"]
MARKER = "apps.microsoft.com/detail/"
BASE = b"https://get.microsoft.com/installer/download/"
ART_CHARACTERS = set("$\\|/_ ")
INVALID = b"Failed: Invalid url\n"
EMPTY = b"Failed: Empty app id\n"

class Opener:
    """A stand-in xdg-open, first on PATH, that records each start: its arguments, and
    its session, process group, ignored signals and open descriptors."""

    def __init__(self, test, delay=0.0):
        self.folder = tempfile.TemporaryDirectory()
        test.addCleanup(self.folder.cleanup)
        self.records = os.path.join(self.folder.name, "records")
        os.mkdir(self.records)
        os.symlink(RECORDER, os.path.join(self.folder.name, "xdg-open"))
        self.env = dict(os.environ, PATH=self.folder.name + ":" + os.environ["PATH"],
                        VARNHOLT_RECORDS=self.records, VARNHOLT_RECORD_DELAY=str(delay))

    def starts(self, count, timeout=10.0, settle=0.0):
        """(arguments, facts) of the first `count` starts, sorted by arguments; with
        `settle`, of all the starts recorded that much later."""
        return recorded_starts(self.records, count, timeout, settle)

    def started(self, count, timeout=10.0, settle=0.0):
        """The argument lists of the first `count` starts, sorted; with `settle`, of all."""
        return [arguments for arguments, _ in self.starts(count, timeout, settle)]


def run_piped(data, args=(), env=None, wrapper=(), **options):
    options.setdefault("capture_output", True)
    return subprocess.run([*wrapper, TOOL, *args], input=data, env=env, timeout=30, check=False,
                          **options)


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
        # The subtitle names the version, within the art's width.
        self.assertTrue(banner[8].startswith(f"Varnholt {os.environ['VARNHOLT_VERSION']}: "))
        self.assertLessEqual(len(banner[8]), len(banner[0]))
        self.assertEqual(banner[9], " " * 58)
        # The last line has no line feed and is still handled.
        self.assertEqual(result.stderr, INVALID + INVALID + EMPTY + EMPTY)
        self.assertEqual(opener.started(1), [[BASE + b"9WZDNCRFJ3PZ"]])

    def test_end_of_input_ends_quietly_and_a_read_error_fails(self):
        for data in (b"", b"\n"):
            result = run_piped(data)
            self.assertEqual(result.returncode, 0)
            _, rest = banner_and_rest(result.stdout)
            self.assertEqual(rest, b"Url: " * (data.count(b"\n") + 1))
            self.assertEqual(result.stderr, INVALID * data.count(b"\n"))
        # Reading a directory fails: the input did not end, it was lost.
        directory = os.open(tempfile.gettempdir(), os.O_RDONLY)
        self.addCleanup(os.close, directory)
        result = run_piped(None, stdin=directory)
        self.assertEqual((result.returncode, result.stderr), (1, b""))
        self.assertEqual(banner_and_rest(result.stdout)[1], b"Url: ")

    def test_opener_gets_the_address_and_nothing_else(self):
        identifiers = {
            b"9WZDNCRFJ3PZ\" --evil-flag \"x": b"9WZDNCRFJ3PZ%22 --evil-flag %22x",
            b"a;touch${HOME}|`id`&$(id)>x<y~*": b"a;touch${HOME}|`id`&$(id)>x<y~*",
            b"sp ace\ttab'q*": b"sp ace\ttab'q*",
            b"n\0ul\xff\xc3\xa9\r": b"n%00ul\xff\xc3\xa9\r",
            b"#frag%41&x=1%PATH%": b"#frag%2541&x=1%25PATH%25",
        }
        opener = Opener(self)
        data = b"".join(MARKER.encode() + i + b"\n" for i in identifiers)
        # Started with descriptors more, as by `varnholt 3<file 9<file`.
        result = run_piped(data, env=opener.env, wrapper=("/bin/sh", "-c",
                                                          'exec "$0" 3<"$0" 9<"$0"'))
        self.assertEqual(result.stderr, b"")
        expected = sorted([BASE + address] for address in identifiers.values())
        starts = opener.starts(len(expected))
        self.assertEqual([arguments for arguments, _ in starts], expected)
        for _, facts in starts:
            # A session of its own, out of reach of Ctrl+C and the terminal, only /dev/null
            # inherited, for reading and writing as a program expects, and the signals the
            # tool ignores handled as usual again.
            self.assertEqual((facts["session"], facts["group"]), (facts["pid"], facts["pid"]))
            self.assertEqual(facts["descriptors"], "0:null:r,1:null:w,2:null:w,")
            ignored = int(facts["ignored"], 16)
            for number in (signal.SIGPIPE, signal.SIGCHLD):
                self.assertFalse(ignored >> (number - 1) & 1, signal.Signals(number).name)

    def test_opener_search_takes_the_first_absolute_folder_that_has_one(self):
        opener = Opener(self)
        planted = os.path.join(opener.folder.name, "bin")
        os.mkdir(planted)
        os.symlink(RECORDER, os.path.join(planted, "xdg-open"))
        for path in ("", ":", "/nowhere:", ":/nowhere", "/a::/b", ".", "bin", "./bin:."):
            run_piped(MARKER.encode() + b"PLANTED", env=dict(opener.env, PATH=path),
                      cwd=opener.folder.name)
        # Listed twice, as where /bin links to /usr/bin and PATH holds both: opened once.
        twice = f"/nowhere:{opener.folder.name}:{opener.folder.name}"
        run_piped(MARKER.encode() + b"ON_PATH", env=dict(opener.env, PATH=twice),
                  cwd=opener.folder.name)
        expected = [[BASE + b"ON_PATH"]]
        # Without PATH, the system's default path is searched to its last folder: in a root of
        # its own whose /bin is empty, only /usr/bin holds an opener. That root needs a private
        # mount namespace, which a chroot, where / is no mount point, cannot make; root makes
        # one as it is, anyone else maps themselves to root.
        unshare = ["unshare", "--mount", *([] if os.geteuid() == 0 else ["--map-root-user"])]
        if subprocess.run([*unshare, "true"], capture_output=True, check=False).returncode == 0:
            root = os.path.join(opener.folder.name, "root")
            os.mkdir(root)
            subprocess.run([*unshare, "/bin/sh", "-euc", """
                cd "$0"; mkdir bin usr proc dev records; touch dev/null
                ln -s usr/lib lib; ln -s usr/lib64 lib64
                mount --rbind /usr usr; mount --rbind /proc proc; mount --bind /dev/null dev/null
                mount -t tmpfs tmpfs usr/bin; cp "$1" usr/bin/xdg-open; cp "$2" varnholt
                mount --bind "$3" records
                printf '%s' "$4" |
                  exec env -i VARNHOLT_RECORDS=/records /usr/sbin/chroot . /varnholt
                """, root, RECORDER, TOOL, opener.records, MARKER + "DEFAULT_PATH"],
                check=True, capture_output=True, timeout=30)
            expected.insert(0, [BASE + b"DEFAULT_PATH"])
        self.assertEqual(opener.started(len(expected), settle=0.5), expected)

    def test_only_addresses_the_shell_can_take_are_opened(self):
        opener = Opener(self)
        fits = b"F" * (700 - len(BASE))
        lines = [fits, fits + b"G", fits + b"G" * (1 << 20)]
        data = b"".join(MARKER.encode() + i + b"\n" for i in lines)
        result = run_piped(data + b"after\n" + MARKER.encode() + b"LAST", env=opener.env)
        self.assertEqual((result.returncode, result.stderr), (0, INVALID))
        self.assertEqual(opener.started(2, settle=0.5), [[BASE + fits], [BASE + b"LAST"]])

    def test_output_nobody_reads_stops_nothing_else(self):
        opener = Opener(self)
        unread, output = os.pipe()
        os.close(unread)
        self.addCleanup(os.close, output)
        result = run_piped(b"x\n" + MARKER.encode() + b"A\n" + MARKER.encode() + b"B",
                           env=opener.env, capture_output=False, stdout=output,
                           stderr=subprocess.PIPE)
        self.assertEqual((result.returncode, result.stderr), (0, INVALID))
        self.assertEqual(opener.started(2), [[BASE + b"A"], [BASE + b"B"]])

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

    def test_ctrl_c_leaves_a_starting_opener_running(self):
        opener = Opener(self, delay=1.0)
        term = Terminal(self, [TOOL], opener.env)
        term.wait_for(b"Url: ")
        term.type(MARKER.encode() + b"SLOW\n")
        term.wait_for(b"Url: ", count=2)
        term.type(b"\x03")
        self.assertEqual(term.process.wait(timeout=10), -signal.SIGINT)
        self.assertEqual(opener.started(1), [[BASE + b"SLOW"]])

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
