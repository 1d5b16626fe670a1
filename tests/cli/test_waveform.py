"""The VCD waveform, decoded by sigrok's I2C decoder, carries the same
addresses, directions, bytes and acknowledges as the JSON trace."""

import pathlib
import shutil
import subprocess
import tempfile
import unittest

from tvtuner_cli import board, tvtuner

ANNOTATIONS = "start:repeat-start:stop:ack:nack:address-read:address-write:data-read:data-write"


def decode(vcd):
    """sigrok's annotations grouped into segments: (8-bit address, rw, bytes, all acknowledged)."""
    output = subprocess.run(["sigrok-cli", "-I", "vcd", "-i", str(vcd), "-P", "i2c:scl=scl:sda=sda",
                             "-A", f"i2c={ANNOTATIONS}"], capture_output=True, text=True, timeout=300, check=True)
    segments = []
    for line in output.stdout.splitlines():
        text = line.split(": ", 1)[1]
        if text in ("Start", "Start repeat"):
            segments.append({"address": None, "rw": None, "data": [], "acks": []})
        elif text.startswith("Address "):
            rw, value = text[len("Address "):].split(": ")
            segments[-1]["address"], segments[-1]["rw"] = int(value, 16) << 1, rw
        elif text.startswith("Data "):
            segments[-1]["data"].append(int(text.split(": ")[1], 16))
        elif text in ("ACK", "NACK"):
            segments[-1]["acks"].append(text == "ACK")
    return [(s["address"], s["rw"], s["data"],
             all(s["acks"][:1 if s["rw"] == "read" else None])) for s in segments]


def traced(run):
    return [(e["address"], e["rw"], e["data"], e["ack"]) for e in run.events("i2c")]


@unittest.skipUnless(shutil.which("sigrok-cli"), "sigrok-cli is not installed")
class WaveformTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.tmp = pathlib.Path(self.directory.name)

    def tearDown(self):
        self.directory.cleanup()

    def compare(self, *args, script=None):
        vcd = self.tmp / "bus.vcd"
        run = tvtuner("--json", "--trace", "--vcd", vcd, *args, script=script)
        self.assertIn(run.code, (0, 1), run.stderr)
        trace = traced(run)
        self.assertTrue(trace)
        self.assertEqual(decode(vcd), trace)
        return trace

    def test_synthesizer_session_with_combined_transfers(self):
        trace = self.compare("--board", board("mt2032"), "run",
                             script="set frequency 551.25MHz\nwait 150\nget status\nset mode fm\n")
        # Register 14: its subaddress written, then read after a repeated START.
        subaddress = trace.index((0xC0, "write", [0x0E], True))
        self.assertEqual(trace[subaddress + 1][:2], (0xC0, "read"))

    def test_eeprom_identification_and_agc_cycle(self):
        self.compare("--board", board("eeprom"), "identify")
        self.compare("run", script="set standard SECAM_L\nset frequency 543.25MHz\nwait 700\n")

    def test_unacknowledged_transfers(self):
        path = self.tmp / "moved.toml"
        path.write_text('[registry]\nTunerType = "FM1216ME"\nAddress = "0xC2"\n[tuner]\naddress = 0xC0\n')
        trace = self.compare("--board", path, "run", script="set frequency 175.25MHz\nget status\n")
        self.assertIn((0xC2, "write", [], False), trace)

    def test_bus_clock_and_placement(self):
        vcd = self.tmp / "bus.vcd"
        run = tvtuner("--json", "--trace", "--vcd", vcd, "run", script="set frequency 175.25MHz\nwait 1000\nget status\n")
        self.assertEqual(run.code, 0, run.stderr)
        text = vcd.read_text()
        self.assertIn("$timescale 1 us $end", text)
        times = [int(line[1:]) for line in text.splitlines() if line.startswith("#")]
        self.assertEqual(times, sorted(times))
        # The status read after the wait starts at its virtual time (1 s)...
        status_read = [e for e in run.events("i2c") if e["rw"] == "read"][0]
        self.assertEqual(status_read["time_us"], 1000000)
        self.assertIn(1000000 + 50, times)  # START half a bit (at 10 kHz) after the transfer's time
        # ...and its clock rises once per 100 us bit period, the bridge's 10 kHz.
        periods = self.clock_periods(text)
        self.assertEqual(min(periods), 100)
        self.assertGreater(periods.count(100), len(periods) * 0.8)

    @staticmethod
    def clock_periods(text):
        """Time between one rising edge of SCL and the next."""
        time, rises = 0, []
        for line in text.split("$enddefinitions $end")[1].splitlines():
            if line.startswith("#"):
                time = int(line[1:])
            elif line == "1!":
                rises.append(time)
        return [b - a for a, b in zip(rises, rises[1:])]


if __name__ == "__main__":
    unittest.main()
