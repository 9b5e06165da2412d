"""The program frame end to end: banner, the six headings and "Done." when
every listing fails and the registry key is absent, with or without arguments;
the check around it cannot tell."""

import os
import re
import sys
import unittest

sys.path.insert(0, os.path.dirname(os.path.abspath(__file__)))
import simulated_machine as sm  # noqa: E402
from e2e_scenarios import assert_checks  # noqa: E402

BANNER = re.compile(
    rb"Nakora Driver Clean Tool v1\.7 \((Jan|Feb|Mar|Apr|May|Jun|Jul|Aug|Sep|Oct|Nov|Dec) "
    rb"( [1-9]|[12][0-9]|3[01]) [0-9]{4} ([01][0-9]|2[0-3]):[0-5][0-9]:[0-5][0-9]\)\r\n")

HEADINGS = (b"Removing devices...\r\n"
            b"Removing audio devices...\r\n"
            b"Scanning installed drivers...\r\n"
            b"Removing driver files...\r\n"
            b"Removing driver installer registry...\r\n"
            b"Rescanning...\r\n"
            b"Done.\r\n")

# Every listing fails, though each still prints what it found: nothing may be
# read from the files.
FAILING_LISTINGS = sm.Machine(
    devices=[sm.Device(b"USB\\VID_E7A9&PID_0A50\\6&1F2E3D4C&0&1", b"Nakora G Pro Headset"),
             sm.Device(b"ROOT\\QVA_VAD\\0000", b"QVA Virtual Audio Device"),
             sm.Device(b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{6d3a}",
                       b"Speakers (Nakora G Pro Headset)",
                       hardware_ids=[b"MMDEVAPI\\AudioEndpoints"])],
    drivers=[(b"oem12.inf", b"nkcommon.inf", b"No", b"MEDIA", b"Nakora Inc.", b"5/12/2023",
              b"6.0.1.8")],
    codes={b"findall *VID_E7A9*": 1, b"findall *QVA*": 1, b"findall *MMDEVAPI*": 2,
           b"get-drivers": 0x800F081F},
    registry64={"NkDrvSetup": {}},
    driver_files=["unrelated.sys"])


class FrameTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.harness = sm.Harness()

    @classmethod
    def tearDownClass(cls):
        cls.harness.close()

    def test_banner_headings_and_done_only(self):
        banner = sm.banner(self.harness.exe)
        self.assertRegex(banner, BANNER)
        for args in ((), ("/?",), ("--force", "extra words", "C:\\")):
            with self.subTest(args=args):
                outcome = self.harness.run(FAILING_LISTINGS, args)
                self.assertEqual(outcome.stdout, banner + HEADINGS)
                self.assertEqual(outcome.stdout.count(b"\n"), 8)
                self.assertEqual(outcome.exit_code, 0)
                self.assertEqual(outcome.calls, [sm.FINDALL_DEVICES, sm.FINDALL_BRAND,
                                                 sm.FINDALL_AUDIO, sm.GET_DRIVERS, sm.RESCAN])
                self.assertEqual(outcome.registry32, {})
                self.assertEqual(outcome.registry64, {"NkDrvSetup": {}})
                self.assertEqual(outcome.driver_files, ["unrelated.sys"])
                self.assertEqual(len(outcome.devices), 3)
                assert_checks(self, FAILING_LISTINGS, outcome, (
                    "could not check (device listing, audio device listing, driver package "
                    "listing failed)",) * 2)


if __name__ == "__main__":
    unittest.main()
