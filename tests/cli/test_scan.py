"""Scans find exactly the stations of the board's RF environment, the way a
streaming client tuning with the PLL strategy would."""

import unittest

from tvtuner_cli import board, board_stations, hz, requests, tvtuner

EUROPE_VHF = {f"E{n}": 48.25 + 7 * (n - 2) for n in range(2, 5)} | {f"E{n}": 175.25 + 7 * (n - 5) for n in range(5, 13)}
EUROPE_UHF = {str(n): 471.25 + 8 * (n - 21) for n in range(21, 70)}
FRANCE = {"2": 55.75, "3": 60.5, "4": 63.75} | {str(n): 176.0 + 8 * (n - 5) for n in range(5, 11)} | EUROPE_UHF


def nearest_channel(plan, frequency):
    name, mhz = min(plan.items(), key=lambda item: abs(item[1] * 1e6 - frequency))
    return name if abs(mhz * 1e6 - frequency) < 1e6 else None


class ScanTest(unittest.TestCase):
    def scan(self, *args):
        run = tvtuner("--json", *args)
        self.assertEqual(run.code, 0, run.stderr)
        self.assertEqual(run.events("violation"), [])
        return run

    def assert_stations(self, run, expected, step):
        """Each station on its channel, tuned within the offset reported: an
        offset of -1 means the carrier lies up to one and a half steps lower."""
        found = {s["channel"]: s for s in run.events("station")}
        self.assertEqual(sorted(found), sorted(expected))
        for channel, frequency in expected.items():
            station = found[channel]
            self.assertIn(station["offset"], (0, -1))
            error = frequency - station["frequency"] - station["offset"] * step
            self.assertLessEqual(abs(error), step, channel)

    def test_default_board_tv_scan_finds_its_tv_stations_only(self):
        run = self.scan()  # no command: scan, by the board's standard
        stations = board_stations("default")
        plan = EUROPE_VHF | EUROPE_UHF
        expected = {nearest_channel(plan, hz(s["frequency"])): hz(s["frequency"]) for s in stations if not s.get("fm")}
        self.assert_stations(run, expected, 62500)
        self.assertEqual(run.events("scan")[0]["plan"], "europe-bg")
        self.assertTrue(all(s["standard"] == 0x10 for s in run.events("station")))

    def test_off_carrier_station_is_found_one_step_up(self):
        # 40 kHz above E6: the first offset is +1, the client retunes a step up.
        run = self.scan("scan")
        tunes = [r["frequency"] for r in requests(run.events()) if r["request"] == "set frequency"]
        self.assertEqual(tunes[tunes.index(182250000) + 1], 182312500)
        station = next(s for s in run.events("station") if s["channel"] == "E6")
        self.assertEqual((station["frequency"], station["offset"]), (182312500, 0))

    def test_default_board_fm_scan_finds_its_fm_stations_only(self):
        run = self.scan("scan", "--plan", "fm")
        stations = board_stations("default")
        expected = {}
        for s in stations:
            if s.get("fm"):
                frequency = hz(s["frequency"])
                expected[f"{frequency // 1000000}.{frequency // 100000 % 10}"] = frequency
        self.assert_stations(run, expected, 50000)
        self.assertTrue(all(s["standard"] == 0 for s in run.events("station")))

    def test_client_waits_the_settling_time_then_polls_while_busy(self):
        run = tvtuner("--json", "scan", "--plan", "uk-i", "--tuner-status", "0x02")
        # A module that never locks: after each tune, the settling time and
        # then five status reads 5 ms apart, and no station.
        self.assertEqual(run.code, 0, run.stderr)
        events = run.events()
        first = next(i for i, e in enumerate(events) if e.get("request") == "set frequency")
        following = [(e["event"], e.get("ms"), e.get("request")) for e in events[first + 1:first + 11]]
        self.assertEqual(following, [("wait", 150, None), ("request", None, "get status")]
                         + [("wait", 5, None), ("request", None, "get status")] * 4)
        self.assertEqual(run.events("station"), [])

    def test_secam_l_board_switches_to_l_prime_in_band_one(self):
        run = self.scan("--board", board("secam-l"))
        expected = {nearest_channel(FRANCE, hz(s["frequency"])): hz(s["frequency"]) for s in board_stations("secam-l")}
        self.assert_stations(run, expected, 62500)
        standards = {s["channel"]: s["standard"] for s in run.events("station")}
        self.assertEqual(standards["2"], 0x80000)
        self.assertEqual({v for k, v in standards.items() if k != "2"}, {0x40000})

    def test_plan_whose_standard_the_module_lacks_fails(self):
        run = tvtuner("--board", board("ntsc"), "scan", "--plan", "uk-i")
        self.assertEqual(run.code, 1)
        self.assertIn("STATUS_INVALID_PARAMETER", run.stdout)


if __name__ == "__main__":
    unittest.main()
