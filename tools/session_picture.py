"""Takes the picture of a session shown in the README: runs the Windows executable at Wine's
console in a pseudo-terminal, types three lines into it as a user would, and has ansifilter
turn what the console showed into Pango markup, which pango-view draws as a PNG image.

    /usr/bin/python3 tools/session_picture.py [EXE [PNG]]

EXE defaults to build/windows/varnholt.exe, PNG to docs/session.png. Needs what
tools/setup.sh --test installs: wine, ansifilter, pango1.0-tools and fonts-dejavu-core."""

import os
import shutil
import subprocess
import sys
import tempfile

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
sys.path.insert(0, os.path.join(TOP, "tests", "console"))
from driving import Terminal, register_https_handler  # noqa: E402  pylint: disable=C0413

EXE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build/windows/varnholt.exe")
PNG = sys.argv[2] if len(sys.argv) > 2 else os.path.join(TOP, "docs/session.png")
LINES = [b"https://apps.microsoft.com/detail/9WZDNCRFJ3PZ?hl=en-us&gl=US",
         b"https://apps.microsoft.com/search?query=notepad",
         b"https://apps.microsoft.com/detail/"]
TITLE = b"\x1b]0;Varnholt\x07"


def capture(env):
    """All that Wine's console wrote to an 80-column terminal during the session."""
    term = Terminal(None, ["wine", EXE], env, raw=True, size=(25, 80))
    try:
        for count in range(1, len(LINES) + 2):
            if term.wait_for(b"Url:", count=count, timeout=60).count(b"Url:") < count:
                sys.exit(f"tools/session_picture.py: no prompt {count} from {EXE}")
            if count <= len(LINES):
                term.type(LINES[count - 1] + b"\r")
        return term.screen
    finally:
        term.close()


def main():
    for command, package in (("wine", "wine"), ("ansifilter", "ansifilter"),
                             ("pango-view", "pango1.0-tools")):
        if shutil.which(command) is None:
            sys.exit(f"tools/session_picture.py: {command} is missing: "
                     f"apt-get install --no-install-recommends {package}")
    with tempfile.TemporaryDirectory() as prefix:
        env = dict(os.environ, WINEPREFIX=prefix, WINEDEBUG="-all")
        # A handler for https addresses that opens nothing, so that no browser starts; this
        # also makes the prefix, whose messages would otherwise show in the picture.
        register_https_handler(env, "cmd.exe /c exit")
        try:
            screen = capture(env)
        finally:
            subprocess.run(["wineserver", "-k"], env=env, check=False)
    # The title goes to the window, not the screen; a step right over an empty cell shows
    # as a blank.
    screen = screen.replace(TITLE, b"").replace(b"\x1b[1C", b" ")
    markup = subprocess.run(["ansifilter", "--pango", "--font=DejaVu Sans Mono"],
                            input=screen, capture_output=True, check=True).stdout
    # The console's own colours: light grey on black.
    subprocess.run(["pango-view", "--markup", "--background=#0c0c0c", "--foreground=#cccccc",
                    "--margin=12", "--dpi=96", "-q", "-o", PNG, "/dev/stdin"],
                   input=markup, check=True)


if __name__ == "__main__":
    main()
