"""Mistakes in what the user gives end with a message naming the file, line
and value, and exit status 2, before anything runs; failed requests and
failed starts end with exit status 1."""

import pathlib
import tempfile
import unittest

from tvtuner_cli import tvtuner


class UsageErrorTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.tmp = pathlib.Path(self.directory.name)

    def tearDown(self):
        self.directory.cleanup()

    def assert_usage_error(self, run, *fragments):
        self.assertEqual(run.code, 2, run.stderr)
        self.assertEqual(run.stdout, "", "nothing ran")
        for fragment in fragments:
            self.assertIn(fragment, run.stderr)

    def test_bad_board_files(self):
        cases = [
            ('[registry\nTunerType = "FM1216ME"\n', ":1:"),
            ('[tuner]\naddress = 0xC3\n', ":2:", "tuner.address", "0xC3"),
            ('[tuner]\nmodel = "FX9000"\n', ":2:", "tuner.model", '"FX9000"'),
            ('[tuner]\ncolour = "red"\n', ":2:", "tuner.colour", "unknown key"),
            ('\n\n[[station]]\nfrequency = "12 parsecs"\nstandard = "PAL_B"\n', ":4:", "station[1].frequency",
             '"12 parsecs"'),
            ('[[station]]\nfrequency = 100\nfm = true\n[[station]]\nfrequency = "98.5 MHz"\nstandard = "PAL_Q"\n', ":6:",
             "station[2].standard", '"PAL_Q"'),
            ('[[station]]\nfrequency = "98.5 MHz"\n', ":1:", "station[1]", "fm = true"),
            ('[eeprom]\nbytes = { 0x100 = 1 }\n', ":2:", "eeprom.bytes.0x100"),
            ('[eeprom]\nimage = "missing.bin"\n', ":2:", "missing.bin"),
            ('[registry]\nAddress = 0.5\n', ":2:", "registry.Address"),
            ('[faults]\nrefuse-opens = -1\n', ":2:", "faults.refuse-opens", "-1"),
        ]
        for text, *fragments in cases:
            with self.subTest(text=text):
                path = self.tmp / "board.toml"
                path.write_text(text)
                self.assert_usage_error(tvtuner("--board", path, "identify"), str(path) + fragments[0], *fragments[1:])

    def test_bad_script_lines(self):
        cases = [
            ("get caps\nset frequency lots\n", "<stdin>:2:", '"lots"'),
            ("fly away\n", "<stdin>:1:", '"fly"'),
            ("\n# comment\nset standard PAL_Q\n", "<stdin>:3:", '"PAL_Q"'),
            ("power D4\n", "<stdin>:1:", '"D4"'),
            ("set frequency 100MHz channel\n", "<stdin>:1:", "channel"),
            ("get modecaps am\n", "<stdin>:1:", '"am"'),
            ("wait soon\n", "<stdin>:1:", '"soon"'),
            ("get status now\n", "<stdin>:1:", "get status"),
        ]
        for script, *fragments in cases:
            with self.subTest(script=script):
                self.assert_usage_error(tvtuner("run", "-", script=script), *fragments)

    def test_script_file_errors_name_the_file(self):
        path = self.tmp / "session.txt"
        path.write_text("get caps\nset input many\n")
        self.assert_usage_error(tvtuner("run", path), f"{path}:2:", '"many"')
        self.assert_usage_error(tvtuner("run", self.tmp / "absent.txt"), "absent.txt")

    def test_bad_arguments(self):
        cases = [
            (["--model", "FX9000"], "--model", "FX9000"),
            (["--address", "0xC3"], "--address", "0xC3"),
            (["--tuner-status", "300"], "--tuner-status", "300"),
            (["--registry", "=1"], "--registry"),
            (["--board", self.tmp / "absent.toml"], "--board"),
            (["scan", "--plan", "mars"], "--plan", "mars"),
            (["tune", "12abc"], "12abc"),
            (["--frobnicate"], "--frobnicate"),
            (["--eeprom", __file__], "--eeprom", "256"),
        ]
        for args, *fragments in cases:
            with self.subTest(args=args):
                self.assert_usage_error(tvtuner(*args), *fragments)

    def test_help_on_every_command(self):
        for command in ([], ["scan"], ["run"], ["tune"], ["identify"]):
            with self.subTest(command=command):
                run = tvtuner(*command, "--help")
                self.assertEqual(run.code, 0)
                self.assertIn("Usage:", run.stdout)


class ExitStatusTest(unittest.TestCase):
    def test_exit_status_follows_the_requests(self):
        cases = [
            ("get caps\nset input 1\n", 0),
            ("get caps\nset input 2\nget caps\n", 1),   # two inputs: 2 is refused
            ("stop\nget mode\n", 1),                     # nothing is served after the stop
            ("srb 0x10A\n", 1),                          # an unknown command
        ]
        for script, code in cases:
            with self.subTest(script=script):
                run = tvtuner("--json", "run", script=script)
                self.assertEqual(run.code, code, run.stderr)
                self.assertEqual(run.events("violation"), [])
                self.assertEqual(len(run.events("request")), script.count("\n"), "every line still runs")

    def test_failed_start(self):
        run = tvtuner("--registry", "TunerType=FX9000", "run", script="get caps\n")
        self.assertEqual(run.code, 1)
        self.assertIn("STATUS_NO_SUCH_DEVICE", run.stderr)
        self.assertNotIn("get caps", run.stdout)


if __name__ == "__main__":
    unittest.main()
