#!/usr/bin/env python3
"""The INF check must catch what would keep the driver from starting: each
fault, made in a copy of tvtuner.inf, is reported."""
import sys
import unittest

import check_inf

INF = NAMES = CATEGORY = None


class InfChecks(unittest.TestCase):
    def test_the_inf_passes(self):
        self.assertEqual(check_inf.check(INF, NAMES, CATEGORY), [])

    def test_each_fault_is_reported(self):
        cases = [
            ("HKR,,TunerType,", "HKR,,TunerTyp,", "reads no such value"),
            ('"FM1216ME"', '"FM1216XX"', "not a catalogue name"),
            ('HKR,,Address,0x00000000,"0xC2"', 'HKR,,Address,0x00010001,"0xC2"', "not a string value"),
            ('HKR,,Address,0x00000000,"0xC2"', 'HKR,,Address,0x00000000,"C2"', "not an integer"),
            ('HKR,,Address,0x00000000,"0xC2"', 'HKR,,Address,0x00000000,"0XC2"', "not an integer"),
            ('"0xC6"', '"0x1C6000000"', "not an integer"),
            ('HKR,,Address,0x00000000,"0xC0"\n', "", "no Address"),
            ('HKR,,EEPROMAddr,0x00000000,"0xA0"\n', "", "neither TunerType nor EEPROMAddr"),
            ('"0xA0"', '"' + "0" * 31 + 'A0"', "longer than 31"),
            ("AddReg    = BoardB.Configuration", "AddReg    = BoardB.Config", "[BoardB.Config]"),
            ("{a799a800-", "{a799a801-", "KSCATEGORY_TVTUNER"),
            ("[BoardC.NTx86.Services]", "[BoardC.NTx86.Service]", "[BoardC.NTx86.Services]"),
            ("ServiceBinary = %12%\\tvtuner.sys", "ServiceBinary = %12%\\tuner.sys", "ServiceBinary"),
            ("[TvTuner.CopyFiles]\ntvtuner.sys", "[TvTuner.CopyFiles]\ntuner.sys", "does not copy"),
            ("Class       = Media", "Class       = Image", "Class"),
        ]
        for old, new, expected in cases:
            with self.subTest(old):
                self.assertIn(old, INF)
                errors = check_inf.check(INF.replace(old, new, 1), NAMES, CATEGORY)
                self.assertTrue(any(expected in e for e in errors), errors)


if __name__ == "__main__":
    inf_path, names_path, header_path = sys.argv[1:4]
    with open(inf_path, encoding="utf-8") as f:
        INF = f.read()
    with open(names_path, encoding="utf-8") as f:
        NAMES = check_inf.read_model_names(f.read())
    with open(header_path, encoding="utf-8") as f:
        CATEGORY = check_inf.read_category_guid(f.read())
    unittest.main(argv=sys.argv[:1] + sys.argv[4:], verbosity=1)
