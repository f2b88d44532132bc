"""Takes the picture of a session shown in the README: runs the Windows executable at Wine's
console in a pseudo-terminal, types three lines into it as a user would, and has ansifilter
turn what the console showed into Pango markup, which pango-view draws as a PNG image.

    /usr/bin/python3 tools/session_picture.py [EXE [PNG]]

EXE defaults to build/windows/varnholt.exe, PNG to docs/session.png. Needs wine
(tools/setup.sh --test), and ansifilter, pango1.0-tools and fonts-dejavu-core."""

import fcntl
import os
import pty
import select
import shutil
import struct
import subprocess
import sys
import tempfile
import termios
import time
import tty

TOP = os.path.dirname(os.path.dirname(os.path.abspath(__file__)))
EXE = sys.argv[1] if len(sys.argv) > 1 else os.path.join(TOP, "build/windows/varnholt.exe")
PNG = sys.argv[2] if len(sys.argv) > 2 else os.path.join(TOP, "docs/session.png")
LINES = [b"https://apps.microsoft.com/detail/9WZDNCRFJ3PZ?hl=en-us&gl=US",
         b"https://apps.microsoft.com/search?query=notepad",
         b"https://apps.microsoft.com/detail/"]
TITLE = b"\x1b]0;Varnholt\x07"


def capture(env):
    """All that Wine's console wrote to an 80-column terminal during the session."""
    main, secondary = pty.openpty()
    tty.setraw(secondary)
    fcntl.ioctl(secondary, termios.TIOCSWINSZ, struct.pack("HHHH", 25, 80, 0, 0))
    process = subprocess.Popen(["wine", EXE], stdin=secondary, stdout=secondary,
                               stderr=secondary, env=env, start_new_session=True)
    os.close(secondary)
    screen = b""

    def wait_for_prompt(count):
        nonlocal screen
        deadline = time.monotonic() + 60
        while screen.count(b"Url:") < count and time.monotonic() < deadline:
            if select.select([main], [], [], 0.1)[0]:
                screen += os.read(main, 65536)
        if screen.count(b"Url:") < count:
            sys.exit(f"tools/session_picture.py: no prompt {count} from {EXE}")

    wait_for_prompt(1)
    for number, line in enumerate(LINES, start=2):
        os.write(main, line + b"\r")
        wait_for_prompt(number)
    process.kill()
    process.wait()
    os.close(main)
    return screen


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
        subprocess.run(["wine", "reg", "add", r"HKCR\https\shell\open\command", "/ve", "/d",
                        "cmd.exe /c exit", "/f"], env=env, check=True, capture_output=True)
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
