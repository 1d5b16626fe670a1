"""Runs the real tvtuner binary for the command-line tests.

CTest gives the binary (TVTUNER_BINARY), the emulator that runs it where the
kernel cannot (TVTUNER_EMULATOR, may be empty) and the source tree
(TVTUNER_SOURCE_DIR). Run by hand, the defaults are build/default and
qemu-i386 when 32-bit programs do not run natively.
"""

import json
import os
import pathlib
import shlex
import subprocess
import tomllib

SOURCE_DIR = pathlib.Path(os.environ.get("TVTUNER_SOURCE_DIR", pathlib.Path(__file__).resolve().parents[2]))
BOARDS = SOURCE_DIR / "boards"
BINARY = os.environ.get("TVTUNER_BINARY", str(SOURCE_DIR / "build/default/tools/tvtuner/tvtuner"))


def _default_emulator():
    try:
        native = subprocess.run(["/lib/ld-linux.so.2", "--version"], capture_output=True).returncode == 0
    except OSError:
        native = False
    return "" if native else "qemu-i386 -L /"


EMULATOR = shlex.split(os.environ.get("TVTUNER_EMULATOR", _default_emulator()))


class Run:
    def __init__(self, completed):
        self.code = completed.returncode
        self.stdout = completed.stdout
        self.stderr = completed.stderr

    def events(self, kind=None):
        """The JSON Lines on stdout, optionally only those of one kind."""
        parsed = [json.loads(line) for line in self.stdout.splitlines() if line.strip()]
        return [e for e in parsed if kind is None or e["event"] == kind]


def tvtuner(*args, script=None, cwd=None):
    completed = subprocess.run(EMULATOR + [BINARY, *map(str, args)], input=script, capture_output=True,
                               text=True, timeout=300, cwd=cwd)
    return Run(completed)


def board(name):
    return BOARDS / f"{name}.toml"


def board_stations(name):
    with open(board(name), "rb") as file:
        return tomllib.load(file).get("station", [])


def hz(text):
    """A board file frequency: Hz, or a number with MHz."""
    if isinstance(text, int):
        return text
    number, unit = text.split()
    assert unit == "MHz", text
    return round(float(number) * 1_000_000)


def bus(events):
    """The bus segments of a JSON event list, as (address, rw, bytes)."""
    return [(e["address"], e["rw"], e["data"]) for e in events if e["event"] == "i2c"]


def requests(events):
    return [e for e in events if e["event"] == "request"]
