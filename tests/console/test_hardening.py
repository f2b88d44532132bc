"""Reads the built native executable and checks that it is hardened."""

import json
import os
import re
import subprocess
import unittest

TOOL = os.environ["VARNHOLT"]


def readelf(*options):
    return subprocess.run(["readelf", "-W", *options, TOOL], capture_output=True, text=True,
                          check=True).stdout


class Hardening(unittest.TestCase):
    def test_position_independent_executable(self):
        self.assertRegex(readelf("-h"), r"Type:\s+DYN \(Position-Independent Executable")
        self.assertRegex(readelf("-d"), r"FLAGS_1\).*\bPIE\b")

    def test_full_relro(self):
        self.assertIn("GNU_RELRO", readelf("-l"))
        self.assertRegex(readelf("-d"), r"\(FLAGS\)\s+BIND_NOW")

    def test_stack_is_not_executable(self):
        self.assertRegex(readelf("-l"), r"GNU_STACK(\s+0x[0-9a-f]+){5}\s+RW\s")

    def test_stack_protector(self):
        self.assertRegex(readelf("--dyn-syms"), r"UND __stack_chk_fail\b")

    def test_control_flow_protection_marks_our_functions(self):
        # Debian's start-up objects carry no CET property, so the image as a whole is not
        # marked; the compiler's mark is the landing pad at each of our functions.
        disassembly = subprocess.run(["objdump", "-d", "--disassemble=main", TOOL],
                                     capture_output=True, text=True, check=True).stdout
        first = re.search(r"<main>:\n\s*[0-9a-f]+:\s+(?:[0-9a-f]{2} )+\s+(\S+)", disassembly)
        self.assertIsNotNone(first, disassembly[:500])
        self.assertEqual(first.group(1), "endbr64")

    def test_fortify_source_in_the_release_build(self):
        # Nothing in the program calls a checked function, so only the build commands show it.
        build = os.path.dirname(TOOL)
        with open(os.path.join(build, "compile_commands.json"), encoding="utf-8") as commands:
            for entry in json.load(commands):
                if "/src/" in entry["file"]:
                    self.assertIn("-D_FORTIFY_SOURCE=2", entry["command"], entry["file"])
                    self.assertRegex(entry["command"], r"\s-O[123s]\s", entry["file"])


if __name__ == "__main__":
    unittest.main()
