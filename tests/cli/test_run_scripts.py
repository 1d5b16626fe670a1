"""Session scripts through the real driver: bytes on the bus, bridge
notifications, statuses and records, for a few module families."""

import unittest

from tvtuner_cli import board, tvtuner

PAL_B, SECAM_L, SECAM_L1, NTSC_M = 0x10, 0x40000, 0x80000, 0x1


def by_line(events):
    """Per script line: the request (or wait) event and the bus segments and
    notifications that came before it, since the event before."""
    lines, traffic = {}, []
    for event in events:
        if event["event"] in ("i2c", "notify"):
            traffic.append(event)
        else:
            if "line" in event:
                lines[event["line"]] = (event, traffic)
            traffic = []
    return lines


def segment(address, data, rw="write"):
    return {"address": address, "rw": rw, "data": data}


def shape(traffic):
    """Bus segments without their times, notifications as (kind, value)."""
    shown = []
    for e in traffic:
        if e["event"] == "i2c":
            shown.append({"address": e["address"], "rw": e["rw"], "data": e["data"]})
        else:
            shown.append((e["kind"], e["value"]))
    return shown


def word(divider, control):
    return [divider >> 8, divider & 0xFF, control >> 8, control & 0xFF]


class RunScriptTest(unittest.TestCase):
    def run_script(self, script, *board_args):
        run = tvtuner(*board_args, "--json", "--trace", "run", script=script)
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.events("violation"), [])
        return run

    def test_pal_secam_module_with_agc_cycle(self):
        run = self.run_script(
            "set standard SECAM_L\n"
            "set frequency 543.25 MHz channel 30 country 33\n"
            "wait 700   # the AGC cycle runs on the virtual clock\n"
            "get status\n"
            "set frequency 55750000\n"
            "get standard\n")
        start = run.events("start")[0]
        self.assertEqual((start["status"], start["model"], start["name"], start["address"]),
                         ("STATUS_SUCCESS", 12, "FM1216ME", 0xC2))
        lines = by_line(run.events())

        request, traffic = lines[1]
        self.assertEqual(request["status"], "STATUS_SUCCESS")
        self.assertEqual(shape(traffic), [segment(0x86, [0x00, 0x06, 0x50, 0x4B]), ("standard", SECAM_L)])

        # (543.25 + 38.9) MHz / 62.5 kHz = 9314; high band; then the auxiliary
        # byte 0xC0 that starts the AGC cycle.
        request, traffic = lines[2]
        self.assertEqual((request["frequency"], request["channel"], request["country"], request["status"]),
                         (543250000, 30, 33, "STATUS_SUCCESS"))
        pll = word(9314, 0xCE04)
        self.assertEqual(shape(traffic), [("country", 33), segment(0xC2, pll), segment(0xC2, pll[:2] + [0xDE, 0xC0])])
        tuned_at = traffic[-1]["time_us"]

        # The cycle: 0xC0 on the first tick, 0x40 620 ms later, 0x60 50 ms after that.
        request, traffic = lines[3]
        self.assertEqual(request["event"], "wait")
        self.assertEqual([(e["time_us"] - tuned_at, e["data"]) for e in traffic],
                         [(10000, pll[:2] + [0xDE, 0xC0]), (630000, pll[:2] + [0xDE, 0x40]),
                          (680000, pll[:2] + [0xDE, 0x60])])

        # No station at 543.25 MHz: the demodulator's AFC is at its end stop.
        request, traffic = lines[4]
        self.assertEqual(shape(traffic), [segment(0xC2, [0x47], "read"), segment(0x86, [0x08], "read")])
        self.assertEqual(request["bytes"], 40)
        self.assertEqual(request["record"], {"CurrentFrequency": 543250000, "PLLOffset": 2, "SignalStrength": 0,
                                             "Busy": 0})

        # Below 66 MHz SECAM L becomes L' by itself: new demodulator bytes and
        # IF 33.95 MHz, low band, the auxiliary byte again; the bridge is not told.
        request, traffic = lines[5]
        pll = word((55750000 + 33950000) // 62500, 0xCE01)
        self.assertEqual(shape(traffic), [("country", 0), segment(0x86, [0x00, 0x86, 0x50, 0x53]),
                                          segment(0xC2, pll), segment(0xC2, pll[:2] + [0xDE, 0xC0])])
        request, _ = lines[6]
        self.assertEqual(request["record"], {"Standard": SECAM_L1})

    def test_ntsc_module_reports_its_offset_in_the_status_byte(self):
        run = self.run_script(
            "set frequency 67.25MHz channel 4 country 1\n"
            "wait 150\n"
            "get status\n"
            "set frequency 353.5MHz\n"
            "get frequency\n"
            "get modecaps fm\n", "--board", board("ntsc"))
        start = run.events("start")[0]
        self.assertEqual((start["model"], start["address"], start["standard"]), (4, 0xC6, NTSC_M))
        lines = by_line(run.events())
        # No IF demodulator on this board; low band word.
        self.assertEqual(shape(lines[1][1]), [("country", 1), segment(0xC6, word(1808, 0xCEA0))])
        # The station lies 40 kHz above: status code 3 is offset +1.
        request, traffic = lines[3]
        self.assertEqual(shape(traffic), [segment(0xC6, [0x43], "read")])
        self.assertEqual((request["record"]["Busy"], request["record"]["PLLOffset"]), (0, 1))
        # The two NTSC cable frequencies of this module take their own word.
        self.assertEqual(shape(lines[4][1]), [("country", 0), segment(0xC6, word(6388, 0x8E34))])
        record = lines[5][0]["record"]
        self.assertEqual((record["Frequency"], record["Channel"], record["Country"]), (353500000, 0, 0))
        record = lines[6][0]["record"]
        self.assertEqual((record["MinFrequency"], record["MaxFrequency"], record["TuningGranularity"]),
                         (76000000, 108000000, 50000))

    def test_synthesizer_register_writes_and_status(self):
        run = self.run_script(
            "set frequency 471.25MHz\n"
            "set frequency 551.25MHz\n"
            "wait 150\n"
            "get status\n", "--board", board("mt2032"))
        # Start-up image of the synthesizer, then the demodulator for PAL B.
        startup = [0x00, 0x00, 0x00, 0xFF, 0x0F, 0x1F, 0x00, 0xE4, 0x8C, 0xC3, 0x4E, 0xEC, 0x00, 0x00, 0x32]
        start_traffic = [e for e in run.events() if e["event"] == "i2c"][:2]
        self.assertEqual(shape(start_traffic), [segment(0xC0, startup + [0x00] * 7),
                                                segment(0x86, [0x00, 0x16, 0x60, 0x49])])
        lines = by_line(run.events())
        self.assertEqual(shape(lines[1][1])[1:], [segment(0xC0, [0x00, 0x24, 0x21, 0x86]),
                                                  segment(0xC0, [0x05, 0xF7, 0xF4, 0x0F]),
                                                  segment(0xC0, [0x0B, 0x4E, 0x8C])])
        request, traffic = lines[4]
        self.assertEqual(shape(traffic)[:2], [segment(0xC0, [0x0E]), segment(0xC0, traffic[1]["data"], "read")])
        self.assertEqual(request["record"], {"CurrentFrequency": 551250000, "PLLOffset": 0, "SignalStrength": 0,
                                             "Busy": 0})

    def test_text_output_shows_each_request_and_its_traffic(self):
        run = tvtuner("--trace", "run", script="set standard SECAM_L\nget standard\n")
        self.assertEqual(run.code, 0, run.stderr)
        lines = run.stdout.splitlines()
        first = next(i for i, line in enumerate(lines) if "set standard SECAM_L" in line)
        self.assertIn("STATUS_SUCCESS", lines[first])
        self.assertEqual(lines[first + 1].split(), ["i2c", "86", "write", "00", "06", "50", "4B"])
        self.assertEqual(lines[first + 2].split(), ["notify", "standard", "SECAM_L"])
        self.assertIn("Standard SECAM_L", run.stdout)

    def test_script_from_a_file(self):
        script = board("ntsc").parent.parent / "tests/cli/data/session.txt"
        run = tvtuner("--json", "run", script)
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual([(r["line"], r["request"], r["status"]) for r in run.events("request")],
                         [(2, "get mode", "STATUS_SUCCESS"), (3, "set mode", "STATUS_SUCCESS"),
                          (4, "get mode", "STATUS_SUCCESS")])
        self.assertEqual([r.get("record") for r in run.events("request")],
                         [{"Mode": 1}, None, {"Mode": 2}])


if __name__ == "__main__":
    unittest.main()
