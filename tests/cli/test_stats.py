"""What each request costs on the bus, in the pool and in virtual time."""

import unittest

from tvtuner_cli import board, tvtuner


class StatsTest(unittest.TestCase):
    def test_cost_per_request_and_total(self):
        run = tvtuner("--json", "--stats", "--board", board("ntsc"), "run",
                      script="set frequency 175.25MHz\nwait 150\nget status\nstop\n")
        self.assertEqual(run.code, 0, run.stderr)
        stats = run.events("stats")[0]
        rows = {row.get("line", 0): row for row in stats["requests"]}
        cost = lambda row: (row["transfers"], row["bytes"], row["bus_time_us"], row["virtual_time_us"])
        # One write of address and four bytes: 5 x 9 clocks, START and STOP, at 10 kHz.
        self.assertEqual(cost(rows[1]), (1, 5, 4700.0, 0))
        self.assertEqual(cost(rows[2]), (0, 0, 0.0, 150000))
        self.assertEqual(cost(rows[3]), (1, 2, 2000.0, 0))
        # The start allocates the filter's arrays; the stop gives them back.
        self.assertEqual(rows[0]["request"], "start")
        self.assertGreater(rows[0]["allocations"], rows[0]["frees"])
        allocated = sum(r["allocations"] for r in stats["requests"])
        self.assertEqual(allocated, stats["total"]["allocations"])
        self.assertEqual(stats["total"]["frees"], allocated)
        self.assertEqual(stats["total"]["bytes"], sum(r["bytes"] for r in stats["requests"]))

    def test_text_table(self):
        run = tvtuner("--stats", "tune", "175.25MHz")
        self.assertEqual(run.code, 0, run.stderr)
        table = [line.split() for line in run.stdout[run.stdout.index("statistics"):].splitlines()]
        # The PLL word and the auxiliary byte after the start's standard.
        self.assertIn(["set", "frequency", "1", "2", "10", "9.4", "ms", "0", "0", "0.0", "ms"], table)
        self.assertEqual(table[-1][0], "total")

if __name__ == "__main__":
    unittest.main()
