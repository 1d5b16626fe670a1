"""Board descriptions: the EEPROM the driver identifies the module from, the
registry values as an installer stores them, and board options layered in
the order given."""

import pathlib
import tempfile
import unittest

from tvtuner_cli import board, tvtuner


class BoardTest(unittest.TestCase):
    def setUp(self):
        self.directory = tempfile.TemporaryDirectory()
        self.tmp = pathlib.Path(self.directory.name)

    def tearDown(self):
        self.directory.cleanup()

    def identify(self, *args):
        run = tvtuner("--json", "--trace", *args, "identify")
        self.assertEqual(run.code, 0, run.stderr)
        return run.events("identify")[0], run

    def test_identify_reads_the_model_from_the_eeprom(self):
        identity, run = self.identify("--board", board("eeprom"))
        self.assertEqual((identity["model"], identity["name"], identity["source"]), (2, "FM1216MK2", "eeprom"))
        self.assertEqual((identity["eeprom"]["address"], identity["eeprom"]["code"], identity["eeprom"]["marker"]),
                         (0xA0, 0x12, 0xFF))
        # The driver read the eleven bytes of the layout, each as offset then byte.
        offsets = [e["data"][0] for e in run.events("i2c") if e["address"] == 0xA0 and e["rw"] == "write"]
        self.assertEqual(offsets, [0x00, 0x01, 0x02, 0x03, 0x59, 0x5A, 0x5B, 0x5C, 0x5D, 0x5E, 0x5F])
        self.assertEqual(identity["modecaps"]["fm"]["MinFrequency"], 87500000)
        self.assertEqual(identity["caps"]["ModesSupported"], 3)

        text = tvtuner("--board", board("eeprom"), "identify")
        self.assertIn("FM1216MK2 (model 2)", text.stdout)
        self.assertIn("tuner code 0x12", text.stdout)

    def test_eeprom_image_file_from_the_command_line(self):
        image = bytearray([0xFF] * 0x60)
        image[0x59], image[0x5E] = 0x04, 0x15  # marker 4 names code 0x15 "TVF6831-DIFF"
        path = self.tmp / "eeprom.bin"
        path.write_bytes(bytes(image))
        identity, _ = self.identify("--eeprom", path)
        self.assertEqual((identity["name"], identity["source"], identity["eeprom"]["code"]), ("TVF6831-DIFF", "eeprom", 0x15))

    def test_identify_from_the_registry(self):
        identity, _ = self.identify("--model", "fi1236", "--address", "0xC6")
        self.assertEqual((identity["name"], identity["address"], identity["source"]), ("FI1236", 0xC6, "registry"))
        self.assertNotIn("fm", identity["modecaps"])

    def test_later_board_options_win(self):
        first = self.tmp / "first.toml"
        first.write_text('[registry]\nTunerType = "FM1236"\nAddress = "0xC6"\n')
        cases = [
            (["--board", first, "--model", "FI1246"], "FI1246"),
            (["--model", "FI1246", "--board", first], "FM1236"),
            (["--board", first, "--registry", "TunerType=FQ1216ME"], "FQ1216ME"),
        ]
        for args, name in cases:
            with self.subTest(args=args):
                identity, _ = self.identify(*args)
                self.assertEqual(identity["name"], name)

    def test_registry_values_reach_the_driver_as_text(self):
        # "0x20000" is SECAM K1; the driver keeps all 32 bits of it.
        run = tvtuner("--json", "--model", "FM1256", "--default-standard", "SECAM_K1", "run", script="get standard\n")
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.events("request")[0]["record"]["Standard"], 0x20000)

    def test_pinned_status_bytes(self):
        run = tvtuner("--json", "--tuner-status", "0x44", "--demod-status", "0x18", "run",
                      script="set frequency 175.25MHz\nget status\n")
        self.assertEqual(run.code, 0, run.stderr)
        record = run.events("request")[1]["record"]
        self.assertEqual((record["Busy"], record["PLLOffset"]), (0, -1))  # demodulator code 12

    def test_injected_faults(self):
        cases = [
            ("[faults]\nno-interface = true\n", 1, "STATUS_NO_SUCH_DEVICE"),
            ("[eeprom]\naddress = 0xA0\n[faults]\neeprom-silent = true\n", 1, "STATUS_NO_SUCH_DEVICE"),
            ("[demodulator]\nfitted = false\n", 0, "STATUS_SUCCESS"),
        ]
        for text, code, status in cases:
            with self.subTest(text=text):
                path = self.tmp / "faulty.toml"
                eeprom = 'EEPROMAddr = "0xA0"\n' if "eeprom" in text else ""
                path.write_text('[registry]\nTunerType = "FM1216ME"\nAddress = "0xC2"\n' + eeprom + text)
                run = tvtuner("--json", "--board", path, "identify")
                self.assertEqual(run.code, code, run.stderr)
                self.assertEqual(run.events("start")[0]["status"], status)
                self.assertEqual(run.events("violation"), [])


if __name__ == "__main__":
    unittest.main()
