"""Reads the built Windows executable and checks its image: header flags, imports, resources."""

import os
import re
import struct
import subprocess
import unittest
import xml.etree.ElementTree as ElementTree

import pefile

EXE = os.environ["VARNHOLT_EXE"]
LINK_MAP = os.environ["VARNHOLT_LINK_MAP"]
NOTICES = os.path.join(os.path.dirname(__file__), "..", "..", "THIRD-PARTY-NOTICES.txt")
ENGLISH_US, FRENCH = 1033, 1036
ICON_SIZES = (16, 32, 48, 64, 128, 256)
D = pefile.DLL_CHARACTERISTICS


class Image(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.pe = pefile.PE(EXE)

    def resources(self):
        """{(type, id, language): bytes} for every resource."""
        found = {}
        for kind in self.pe.DIRECTORY_ENTRY_RESOURCE.entries:
            for entry in kind.directory.entries:
                for language in entry.directory.entries:
                    data = language.data.struct
                    found[(kind.id, entry.id, language.id)] = self.pe.get_data(
                        data.OffsetToData, data.Size)
        return found

    def test_headers(self):
        header, optional = self.pe.FILE_HEADER, self.pe.OPTIONAL_HEADER
        self.assertEqual(header.Machine, pefile.MACHINE_TYPE["IMAGE_FILE_MACHINE_AMD64"])
        self.assertEqual(optional.Magic, pefile.OPTIONAL_HEADER_MAGIC_PE_PLUS)
        self.assertEqual(optional.Subsystem, pefile.SUBSYSTEM_TYPE["IMAGE_SUBSYSTEM_WINDOWS_CUI"])
        self.assertEqual((optional.MajorSubsystemVersion, optional.MinorSubsystemVersion), (6, 0))
        for flag in ("IMAGE_DLLCHARACTERISTICS_DYNAMIC_BASE",
                     "IMAGE_DLLCHARACTERISTICS_HIGH_ENTROPY_VA",
                     "IMAGE_DLLCHARACTERISTICS_NX_COMPAT",
                     "IMAGE_DLLCHARACTERISTICS_TERMINAL_SERVER_AWARE"):
            self.assertTrue(optional.DllCharacteristics & D[flag], flag)
        self.assertFalse(header.Characteristics & pefile.IMAGE_CHARACTERISTICS[
            "IMAGE_FILE_RELOCS_STRIPPED"], "ASLR needs relocations")
        self.assertEqual(optional.SizeOfStackReserve, 1 << 20)
        self.assertEqual(header.TimeDateStamp, 0)
        self.assertFalse(hasattr(self.pe, "DIRECTORY_ENTRY_EXPORT"))

    def test_imports_only_system_libraries(self):
        imports = {entry.dll.decode().lower(): [i.name for i in entry.imports]
                   for entry in self.pe.DIRECTORY_ENTRY_IMPORT}
        # advapi32 seeds the stack protector's cookie (CryptGenRandom).
        self.assertLessEqual(set(imports), {"kernel32.dll", "shell32.dll", "msvcrt.dll",
                                            "advapi32.dll"})
        self.assertEqual(imports["shell32.dll"], [b"ShellExecuteA"])
        for name in (b"SetConsoleTitleA", b"GetStdHandle", b"SetConsoleTextAttribute"):
            self.assertIn(name, imports["kernel32.dll"])

    def test_stack_protector_is_linked_for_our_code(self):
        with open(LINK_MAP, encoding="utf-8", errors="replace") as link_map:
            text = link_map.read()
        self.assertRegex(text, r"libssp\.a\(ssp\.o\)\s*\n?\s*\S*(main|translate)\.cpp\.obj"
                               r"\S* \(__stack_chk_fail\)")

    def test_every_linked_library_has_its_notices(self):
        with open(LINK_MAP, encoding="utf-8", errors="replace") as link_map:
            text = link_map.read()
        # Our own objects are named relative to the build folder; the rest are absolute.
        linked = {os.path.basename(path) for path in re.findall(r"^LOAD (/\S+)$", text, re.M)}
        self.assertIn("libstdc++.a", linked)
        with open(NOTICES, encoding="utf-8") as notices:
            covered = {name for line in notices if line.startswith("Linked: ")
                       for name in line.split()[1:]}
        self.assertEqual(linked - covered, set(), "linked without notices")

    def test_resources_are_the_manifest_and_the_icon(self):
        manifest, group = pefile.RESOURCE_TYPE["RT_MANIFEST"], pefile.RESOURCE_TYPE[
            "RT_GROUP_ICON"]
        icon = pefile.RESOURCE_TYPE["RT_ICON"]
        expected = {(manifest, 1, ENGLISH_US), (group, 101, FRENCH)}
        expected |= {(icon, n, FRENCH) for n in range(1, 7)}
        # No version information, string table, dialog or menu, and no manifest of the
        # toolchain's own.
        self.assertEqual(set(self.resources()), expected)

    def test_manifest_asks_for_the_invoking_users_rights_only(self):
        root = ElementTree.fromstring(self.resources()[(24, 1, ENGLISH_US)])
        v1, v3 = "{urn:schemas-microsoft-com:asm.v1}", "{urn:schemas-microsoft-com:asm.v3}"
        self.assertEqual(root.tag, v1 + "assembly")
        self.assertEqual(root.get("manifestVersion"), "1.0")
        self.assertEqual([child.tag for child in root], [v3 + "trustInfo"])
        path = [v3 + "security", v3 + "requestedPrivileges", v3 + "requestedExecutionLevel"]
        element = root[0]
        for tag in path:
            self.assertEqual([child.tag for child in element], [tag])
            element = element[0]
        self.assertEqual(element.attrib, {"level": "asInvoker", "uiAccess": "false"})

    def test_icon_group_holds_six_sizes(self):
        resources = self.resources()
        group = resources[(14, 101, FRENCH)]
        reserved, kind, count = struct.unpack_from("<HHH", group)
        self.assertEqual((reserved, kind, count), (0, 1, 6))
        for index, size in enumerate(ICON_SIZES):
            width, height, _, _, planes, bits, length, image_id = struct.unpack_from(
                "<BBBBHHIH", group, 6 + 14 * index)
            self.assertEqual((width or 256, height or 256, planes, bits, image_id),
                             (size, size, 1, 32, index + 1))
            image = resources[(3, image_id, FRENCH)]
            self.assertEqual(len(image), length)
            if size == 256:
                self.assertEqual(image[:8], b"\x89PNG\r\n\x1a\n")
                self.assertEqual(struct.unpack_from(">II", image, 16), (256, 256))
            else:
                header = struct.unpack_from("<IiiHH", image)
                self.assertEqual(header, (40, size, 2 * size, 1, 32))


class Artwork(unittest.TestCase):
    def test_committed_icon_is_what_the_script_draws(self):
        script = os.path.join(os.path.dirname(__file__), "..", "..", "res", "draw_icon.py")
        subprocess.run(["/usr/bin/python3", script, "--check"], check=True, timeout=120)


if __name__ == "__main__":
    unittest.main()
