"""Writes a release zip: the executable as varnholt.exe, then each document under its own
name, in that order, deflated, each a plain file readable by all and dated
SOURCE_DATE_EPOCH, so that the same files always give the same bytes. The one writer of
release zips: tools/release.sh makes the zip with it, tools/sign-release.sh remakes it with
the signed executable, and tools/verify-release.sh remakes it to compare with a download.

    SOURCE_DATE_EPOCH=SECONDS /usr/bin/python3 tools/release_zip.py ZIP EXECUTABLE DOCUMENT..."""

import os
import sys
import time
import zipfile

target, executable, *documents = sys.argv[1:]
# A zip's dates start in 1980.
stamp = time.gmtime(max(int(os.environ["SOURCE_DATE_EPOCH"]), 315532800))[:6]
with zipfile.ZipFile(target, "x") as archive:
    for name, path in [("varnholt.exe", executable),
                       *((os.path.basename(path), path) for path in documents)]:
        entry = zipfile.ZipInfo(name, stamp)
        entry.create_system = 3
        entry.external_attr = 0o100644 << 16
        entry.compress_type = zipfile.ZIP_DEFLATED
        with open(path, "rb") as content:
            archive.writestr(entry, content.read(), compresslevel=9)
