"""Writes a copy of a release zip whose executable is another one, keeping the entries'
order, dates and permissions:

    /usr/bin/python3 tools/zip_with_executable.py SOURCE_ZIP TARGET_ZIP EXECUTABLE"""

import sys
import zipfile

source, target, replacement = sys.argv[1:]
with open(replacement, "rb") as content:
    executable = content.read()
with zipfile.ZipFile(source) as old, zipfile.ZipFile(target, "w") as new:
    for entry in old.infolist():
        data = executable if entry.filename.endswith(".exe") else old.read(entry)
        new.writestr(entry, data, compresslevel=9)
