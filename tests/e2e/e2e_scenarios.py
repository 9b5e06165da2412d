"""Whole runs of the real executable on simulated machines, on Windows or under
Wine: the report byte for byte, every devcon and dism call in order (cmd's
too where a scenario logs them), and what is left in the registry, the
drivers directory and the current directory; and the check run before and
after each: its summary and exit code, and that it changes nothing."""

import base64
import dataclasses
import os
import re
import shutil
import subprocess
import sys
import tempfile
import threading
import time
import unittest
from unittest import mock

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, HERE)
import sample_machine as sample  # noqa: E402
import simulated_machine as sm  # noqa: E402
from simulated_machine import (FINDALL_AUDIO, FINDALL_BRAND, FINDALL_DEVICES,  # noqa: E402
                               GET_DRIVERS, RESCAN, Machine, dp_delete_call, padded,
                               remove_call)

# ShellExecuteExW fails a missing program with the host's code and system text.
# The text ends in CR LF, which the text-mode stream writes as CR CR LF; the
# format's own line feed then makes an empty line.
LAUNCH_FAILURE = b"\t \t Failed to launch process Error Code %d: %s\r\n\n" % (
    sm.Host.LAUNCH_FAILURE[0], sm.Host.LAUNCH_FAILURE[1].encode())

# How every report ends that meets no driver file or installer key.
LAST_PHASES = (b"Removing driver files...\n"
               b"Removing driver installer registry...\n"
               b"Rescanning...\n"
               b"Done.\n")

INSTALL_SCRIPT = os.path.join(HERE, "..", "..", "deploy", "Install-NakoraCleanup.ps1")


def report(text):
    """The expected report after the banner, written with the program's line
    feeds, as the text-mode stream puts them out."""
    return text.replace(b"\n", b"\r\n")


def listed(*instance_ids, names=sample.NAMES):
    """A findall listing of devices by their `names`, as the devcon stand-in
    prints it. A line feed in a name goes out as a line end; a character above
    U+00FF ends the entry there, line end and all: the next entry runs on."""
    text = ""
    for i in instance_ids:
        name = names[i]
        entry = sm.as_text(i) if name is None else sm.as_text(padded(i) + b": ") + sm.as_text(name)
        text += re.sub("[^\x00-\xff].*", "", entry + "\n", flags=re.S)
    text += (f"{len(instance_ids)} matching device(s) found.\n" if instance_ids
             else "No matching devices found.\n")
    return text.replace("\n", "\r\n").encode("latin-1")


NO_DEVICES = listed()


def table(drivers):
    """The driver table as the dism stand-in prints it: each column as wide as
    its widest field, the last field not padded."""
    rows = [(b"Published Name", b"Original File Name", b"Inbox", b"Class Name", b"Provider Name",
             b"Date", b"Version")] + list(drivers)
    widths = [max(len(row[i]) for row in rows) for i in range(7)]
    lines = [b" | ".join([f.ljust(w) for f, w in zip(row[:6], widths)] + [row[6]]) for row in rows]
    lines.insert(1, b" | ".join(b"-" * w for w in widths))
    return (b"\r\nDeployment Image Servicing and Management tool\r\n"
            b"Version: 10.0.19041.3636\r\n\r\nImage Version: 10.0.19045.4046\r\n\r\n"
            b"Obtaining list of 3rd party drivers from the driver store...\r\n\r\n"
            b"Driver packages listing:\r\n\r\n" + b"".join(line + b"\r\n" for line in lines)
            + b"\r\nThe operation completed successfully.\r\n")


@dataclasses.dataclass
class Scenario:
    name: str
    machine: Machine
    report: bytes
    calls: list
    registry32: dict = dataclasses.field(default_factory=dict)
    registry64: dict = dataclasses.field(default_factory=dict)
    driver_files: list = dataclasses.field(default_factory=list)
    listings: dict = dataclasses.field(default_factory=dict)
    devices: list = None  # device IDs left, when the scenario is about them
    drivers: list = None
    # The check's last line before and after the run.
    check_summaries: tuple = ()


def sample_scenario():
    s = sample
    return Scenario(
        name="sample machine",
        machine=s.machine(),
        report=report(
            b"Removing devices...\n"
            b"\t Removed :  Nakora G Pro QVA Control\n"
            b"\t Removed :  Nakora G Pro Headset\n"
            b"\t Removed : " + s.NAMELESS + b"\n"
            b"\t Removed :  Cam\xe9ra Nakora StreamCam\n"
            # The Cyrillic name ran the charger's entry into this line: neither is handed over.
            b"\t !!! Remove FAILED :  Nakora " + padded(s.CHARGER) + b": Nakora Charging Stand\n"
            b"\t !!! Remove FAILED :  Nakora Wireless Adapter\n"
            b"\t !!! Remove FAILED :  Nakora USB-C Dock\n"
            # Gone already: devcon finds nothing, and the tree has no such node.
            b"\t Removed :  Nakora G Pro QVA Control\n"
            b"\t Removed :  QVA Virtual Audio Device\n"
            b"Removing audio devices...\n"
            b"\t Removed :  Speakers (Nakora G Pro Headset)\n"
            # Text in a device's own name: the tree names that endpoint otherwise.
            b"\t !!! Remove FAILED :  Nakora)\n"
            b"\t Removed :  Microphone (QVA Virtual Audio)\n"
            b"\t Removed :  Microphone (Nakora G Pro Headset)\n"
            b"Scanning installed drivers...\n"
            b"Cleanning up driver packages...\n"
            b"\t Nakora INF: oem12.inf (nkcommon.inf) - Removed\n"
            b"\t Nakora INF: oem13.inf (nkhiddev.inf) - Removed\n"
            b"\t Nakora INF: oem14.inf (qvavad.inf) - Removed\n"
            b"\t Nakora INF: oem16.inf (nakoramixer.inf) - Removed\n"
            b"\t Nakora INF: oem20.inf (nakoraaudio.inf) - Remove FAILED!!!\n"
            b"\t Nakora INF: oem21.inf (qvavad2.inf) - Removed\n"
            + LAST_PHASES),
        calls=[FINDALL_DEVICES, FINDALL_BRAND]
        + [remove_call(padded(i)) for i in (s.HEADSET_CONTROL, s.HEADSET)]
        + [remove_call(s.NAMELESS)]
        + [remove_call(padded(i)) for i in (s.CAMERA, s.ADAPTER, s.DOCK, s.HEADSET_CONTROL,
                                            s.VIRTUAL_AUDIO)]
        + [FINDALL_AUDIO, remove_call(s.HEADSET_SPEAKERS), remove_call(s.VIRTUAL_MICROPHONE),
           remove_call(s.HEADSET_MICROPHONE), GET_DRIVERS]
        + [dp_delete_call(b"oem%d.inf" % n) for n in (12, 13, 14, 16, 20, 21)]
        + [RESCAN],
        registry32={"": s.INSTALL_DIR, "Nakora Hub": {"Version": "2023.5"}, "drvtools": {},
                    "NkDRIVERCache": {}},
        registry64=s.machine().registry64,
        driver_files=["NkHelper.sys", "otheraudio.sys"],
        listings={
            # In the device tree's order.
            "devicelist.txt": listed(s.HEADSET_CONTROL, s.RECEIVER, s.HEADSET, s.NAMELESS,
                                     s.CAMERA, s.LOCALISED_HEADSET, s.CHARGER, s.ADAPTER, s.DOCK)
            + listed(s.HEADSET_CONTROL, s.VIRTUAL_AUDIO),
            "audiodevicelist.txt": listed(s.HEADSET_SPEAKERS, s.NAMED_LIKE_TWO,
                                          s.ONBOARD_SPEAKERS, s.VIRTUAL_MICROPHONE,
                                          s.CLONE_MICROPHONE, s.ONBOARD_MICROPHONE,
                                          s.HEADSET_MICROPHONE),
            "driverlist.txt": table(s.DRIVERS),
        },
        devices=[s.RECEIVER, s.LOCALISED_HEADSET, s.CHARGER, s.ADAPTER, s.DOCK, s.OTHER_RECEIVER,
                 s.ONBOARD_SPEAKERS, s.CLONE_MICROPHONE, s.ONBOARD_MICROPHONE, s.NAMED_LIKE_TWO],
        drivers=[b"oem%d.inf" % n for n in (3, 15, 17, 18, 19, 20, 22)],
        check_summaries=("6 packages, 3 driver files, 3 registry keys left", "1 package left"),
    )


def everything_goes_scenario():
    """Every deletion succeeds, hidden system driver files too: the check
    afterwards finds nothing."""
    s = sample
    drivers = [s.driver(b"oem12.inf", b"nkcommon.inf", b"MEDIA", b"Nakora Inc."),
               s.driver(b"oem15.inf", b"cmusbdac.inf", b"MEDIA", b"C-MEDIA")]
    return Scenario(
        name="every deletion succeeds",
        machine=Machine(devices=[s.device(s.HEADSET)], drivers=drivers,
                        registry32={"": s.INSTALL_DIR, "NkDrvSetup": {}, "Nakora Hub": {}},
                        driver_files=["NkCommon.sys", "NkDev_Hidden.sys"],
                        hidden_system_files=["NkCommon.sys", "NkDev_Hidden.sys"]),
        report=report(
            b"Removing devices...\n"
            b"\t Removed :  Nakora G Pro Headset\n"
            b"Removing audio devices...\n"
            b"Scanning installed drivers...\n"
            b"Cleanning up driver packages...\n"
            b"\t Nakora INF: oem12.inf (nkcommon.inf) - Removed\n"
            + LAST_PHASES),
        calls=[FINDALL_DEVICES, FINDALL_BRAND, remove_call(padded(s.HEADSET)), FINDALL_AUDIO,
               GET_DRIVERS, dp_delete_call(b"oem12.inf"), RESCAN],
        registry32={"": s.INSTALL_DIR, "Nakora Hub": {}},
        listings={"devicelist.txt": listed(s.HEADSET) + NO_DEVICES,
                  "audiodevicelist.txt": NO_DEVICES,
                  "driverlist.txt": table(drivers)},
        devices=[],
        drivers=[b"oem15.inf"],
        check_summaries=("1 package, 2 driver files, 1 registry key left", "none left"),
    )


def cmd_elsewhere_scenario():
    """Started from a network directory, cmd works in %SystemRoot%: every
    listing command succeeds, but its file lands there. An earlier run's
    listings from another machine, left in the run's directory, name
    removals and deletions that would hit this machine's other hardware."""
    s = sample
    return Scenario(
        name="cmd works in another directory",
        machine=Machine(
            devices=[s.device(i) for i in (s.HEADSET, s.OTHER_RECEIVER, s.ONBOARD_SPEAKERS)],
            drivers=[s.driver(b"oem12.inf", b"nkcommon.inf", b"MEDIA", b"Nakora Inc."),
                     s.driver(b"oem15.inf", b"cmusbdac.inf", b"MEDIA", b"C-MEDIA")],
            registry32={"": s.INSTALL_DIR, "NkDrvSetup": {}},
            driver_files=["NkCommon.sys"],
            cmd_elsewhere=True,
            cwd_files={
                "devicelist.txt": listed(s.OTHER_RECEIVER,
                                         names={s.OTHER_RECEIVER: b"Nakora Receiver"}),
                "audiodevicelist.txt": listed(s.ONBOARD_SPEAKERS,
                                              names={s.ONBOARD_SPEAKERS: b"Nakora Speakers"}),
                "driverlist.txt": b"oem15.inf | nakoramixer.inf | No | MEDIA | Nakora Inc. |\r\n",
                "check-driverlist.txt": b"oem15.inf | nkcommon.inf | No | MEDIA | Nakora Inc. |\r\n",
            }),
        report=report(
            b"Removing devices...\n"
            b"\t !!! Listing not found : devicelist.txt\n"
            b"Removing audio devices...\n"
            b"\t !!! Listing not found : audiodevicelist.txt\n"
            b"Scanning installed drivers...\n"
            b"Cleanning up driver packages...\n"
            b"\t !!! Listing not found : driverlist.txt\n"
            + LAST_PHASES),
        calls=[FINDALL_DEVICES, FINDALL_BRAND, FINDALL_AUDIO, GET_DRIVERS, RESCAN],
        registry32={"": s.INSTALL_DIR},
        listings={name: None for name in sm.LISTING_FILES},
        devices=[s.HEADSET, s.OTHER_RECEIVER, s.ONBOARD_SPEAKERS],
        drivers=[b"oem12.inf", b"oem15.inf"],
        check_summaries=("could not check (device listing, audio device listing, "
                         "driver package listing failed)",) * 2,
    )


def tools_missing_scenarios():
    s = sample
    nakora_package = sample.driver(b"oem12.inf", b"nkcommon.inf", b"MEDIA", b"Nakora Inc.")
    cmedia_package = sample.driver(b"oem15.inf", b"cmusbdac.inf", b"MEDIA", b"C-MEDIA")
    return [
        Scenario(
            # cmd answers 9009 for the listings; the tool's own starts of devcon fail.
            name="devcon missing",
            machine=Machine(devices=[s.device(s.HEADSET)],
                            drivers=[nakora_package, cmedia_package], devcon=False,
                            registry32={"": s.INSTALL_DIR}, driver_files=["NkCommon.sys"]),
            report=report(
                b"Removing devices...\n"
                b"Removing audio devices...\n"
                b"Scanning installed drivers...\n"
                b"Cleanning up driver packages...\n"
                + LAUNCH_FAILURE
                + b"\t Nakora INF: oem12.inf (nkcommon.inf) - Remove FAILED!!!\n"
                b"Removing driver files...\n"
                b"Removing driver installer registry...\n"
                b"Rescanning...\n"
                + LAUNCH_FAILURE
                + b"Done.\n"),
            calls=[GET_DRIVERS],
            registry32={"": s.INSTALL_DIR},
            listings={"devicelist.txt": b"", "audiodevicelist.txt": b"",
                      "driverlist.txt": table([nakora_package, cmedia_package])},
            drivers=[b"oem12.inf", b"oem15.inf"],
            check_summaries=("could not check (device listing, audio device listing failed)",) * 2,
        ),
        Scenario(
            # Also: no parent key in the 32-bit view, while the 64-bit one has it;
            # only the second driver file is there, so the first del fails.
            name="dism missing",
            machine=Machine(devices=[s.device(s.VIRTUAL_AUDIO)],
                            drivers=[nakora_package], dism=False,
                            registry64={"": s.INSTALL_DIR, "NkDrvSetup": {}},
                            driver_files=["NkCommon.sys", "NkDev.sys"]),
            report=report(
                b"Removing devices...\n"
                b"\t Removed :  QVA Virtual Audio Device\n"
                b"Removing audio devices...\n"
                b"Scanning installed drivers...\n"
                + LAST_PHASES),
            calls=[FINDALL_DEVICES, FINDALL_BRAND, remove_call(padded(s.VIRTUAL_AUDIO)),
                   FINDALL_AUDIO, RESCAN],
            registry64={"": s.INSTALL_DIR, "NkDrvSetup": {}},
            driver_files=["NkDev.sys"],
            listings={"devicelist.txt": NO_DEVICES + listed(s.VIRTUAL_AUDIO),
                      "audiodevicelist.txt": NO_DEVICES, "driverlist.txt": b""},
            devices=[],
            check_summaries=("could not check (driver package listing failed)",) * 2,
        ),
        Scenario(
            # The second listing still appends, and its lines stay unread.
            name="first device listing fails, second succeeds",
            machine=Machine(devices=[s.device(i) for i in (
                                s.HEADSET, s.VIRTUAL_AUDIO, s.HEADSET_SPEAKERS)],
                            codes={b"findall *VID_E7A9*": 1}),
            report=report(
                b"Removing devices...\n"
                b"Removing audio devices...\n"
                b"\t Removed :  Speakers (Nakora G Pro Headset)\n"
                b"Scanning installed drivers...\n"
                b"Cleanning up driver packages...\n"
                + LAST_PHASES),
            calls=[FINDALL_DEVICES, FINDALL_BRAND, FINDALL_AUDIO,
                   remove_call(s.HEADSET_SPEAKERS), GET_DRIVERS, RESCAN],
            listings={"devicelist.txt": listed(s.HEADSET) + listed(s.VIRTUAL_AUDIO),
                      "audiodevicelist.txt": listed(s.HEADSET_SPEAKERS),
                      "driverlist.txt": table([])},
            devices=[s.HEADSET, s.VIRTUAL_AUDIO],
            check_summaries=("could not check (device listing failed)",) * 2,
        ),
    ]


# Listings the way no well-behaved devcon prints them.
ODD_DEVICES = (
    b"USB\\VID_E7A9&PID_0A70 Nakora device line without a colon\r\n"
    + padded(b"USB\\VID_E7A9&PID_XYZ\\1") + b": Nakora without a product ID\r\n"
    + padded(b"USB\\VID_E7A9&PID_00011\\2") + b": exempt by its first four digits\r\n"
    + padded(b"USB\\VID_E7A9&PID_0A71\\3&0") + b": Nakora with \x00 a NUL\r\n"
    # Instance IDs that devcon could widen to other devices: never handed over.
    + b"USB\\VID_E7A9&PID_0A72\\4\x00&0: ID with a NUL\r\n"
    + padded(b"USB\\VID_E7A9&PID_*\\5") + b": ID with a star\r\n"
    + b"USB\\VID_E7A9&PID_0A73\\\"6\": ID with quotes\r\n"
    + b"USB\\VID_E7A9&PID_0A74\t7: ID with a tab\r\n"
    + b"USB\\VID_E7A9&PID_0A75\\8 ROOT\\9: ID with a blank and more\r\n"
    + b": empty ID\r\n"
    + b"  : blanks-only ID\r\n"
    + b"USB\\VID_E7A9&PID_0A76\\A:two:colons and a blank\r\n"
    # A name cut short, and a nameless device's bare ID run onto it.
    + padded(b"USB\\VID_E7A9&PID_0A7B\\F") + b": Nakora cut USB\\VID_E7A9&PID_0A7C\\G\r\n"
    # Colon-less lines: only a lone token of printable ASCII with a backslash
    # and no comma is a nameless device.
    + b"USB\\VID_E7A9&PID_0A77\\B\r\n"
    + b"USB\\VID_E7A9&PID_0001\\C\r\n"
    + b"USB\\VID_E7A9&PID_0A78\\D,E\r\n"
    + b"USB\\VID_E7A9&PID_0A79\\\xe9\r\n"
    + b"NAKORA_VID_E7A9&PID_0A7A\r\n")
ODD_AUDIO = (
    b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{2} Nakora endpoint without a colon\r\n"
    b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{5}\r\n"  # nameless, so without the words
    b"SWD\\MMDEVAPI\\QVA.{6}\r\n"
    b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{3}: Microphone (nakora compatible)\r\n"
    b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{4}: Line In (C-MEDIA USB Audio with QVA)\r\n"
    b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{1}: Speakers (Nakora Headset)")  # no final line feed
# The tree holds what the odd lines remove, each confirmed as a line of its
# own would be; the listings are verbatim all the same.
ODD_LISTED_NODES = [
    sm.Device(b"USB\\VID_E7A9&PID_XYZ\\1", b"Nakora without a product ID"),
    sm.Device(b"USB\\VID_E7A9&PID_0A71\\3&0", b"Nakora with a NUL"),
    sm.Device(b"USB\\VID_E7A9&PID_0A76\\A", b"two:colons"),
    sm.Device(b"USB\\VID_E7A9&PID_0A77\\B"),
    # Nameless in its listing, so the word in its ID picks it; the tree's name confirms it.
    sm.Device(b"SWD\\MMDEVAPI\\QVA.{6}", b"Stereo Mix (QVA Virtual Audio)",
              hardware_ids=sample.ENDPOINT_IDS),
    sm.Device(b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{4}", b"Line In (C-MEDIA USB Audio with QVA)",
              hardware_ids=sample.ENDPOINT_IDS),
    sm.Device(b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{1}", b"Speakers (Nakora Headset)",
              hardware_ids=sample.ENDPOINT_IDS),
]
ODD_TABLE = (
    b"\r\nDeployment Image Servicing and Management tool\r\n\r\n"
    b"Published Name | Original File Name | Inbox | Class Name | Provider Name | Date | Version\r\n"
    b"-------------- | ------------------ | ----- | ---------- | ------------- | ---- | -------\r\n"
    b"oem30.inf      | nkcommon.inf       | No    | MEDIA      | Nakora Inc.\r\n"
    b"oem31.inf      | nkcommon.inf       | No    | MEDIA\r\n"
    b"oem32|nkdevice|No|MEDIA|Nakora Inc.|5/12/2023|6.0.1.8\r\n"
    b"  oem33.inf  |  nkdev.inf  |No|MEDIA|  Nakora Inc.  |\r\n"
    b"oem35.inf | nk\x00dev.inf | No | MEDIA | Nakora Inc. | 5/12/2023 | 6.0.1.8\r\n"
    b"oem34.inf | qvavad.inf | No | MEDIA | QVA Audio | 1/2/2024 | 2.1.0.0")


def odd_listing_scenarios():
    return [
        Scenario(
            name="odd device and endpoint lines",
            machine=Machine(devices=ODD_LISTED_NODES,
                            listings={"findall VID_E7A9": ODD_DEVICES,
                                      "findall QVA": NO_DEVICES,
                                      "findall MMDEVAPI": ODD_AUDIO}),
            report=report(
                b"Removing devices...\n"
                b"\t Removed :  Nakora without a product ID\n"
                b"\t Removed :  Nakora with ? a NUL\n"
                b"\t !!! Remove FAILED :  ID with a NUL\n"
                b"\t !!! Remove FAILED :  ID with a star\n"
                b"\t !!! Remove FAILED :  ID with quotes\n"
                b"\t !!! Remove FAILED :  ID with a tab\n"
                b"\t !!! Remove FAILED :  ID with a blank and more\n"
                b"\t !!! Remove FAILED :  empty ID\n"
                b"\t !!! Remove FAILED :  blanks-only ID\n"
                b"\t Removed : two:colons and a blank\n"
                b"\t !!! Remove FAILED :  Nakora cut USB\\VID_E7A9&PID_0A7C\\G\n"
                b"\t Removed : USB\\VID_E7A9&PID_0A77\\B\n"
                b"Removing audio devices...\n"
                b"\t Removed : SWD\\MMDEVAPI\\QVA.{6}\n"
                b"\t Removed :  Line In (C-MEDIA USB Audio with QVA)\n"
                b"\t Removed :  Speakers (Nakora Headset)\n"
                b"Scanning installed drivers...\n"
                b"Cleanning up driver packages...\n"
                + LAST_PHASES),
            calls=[FINDALL_DEVICES, FINDALL_BRAND,
                   remove_call(padded(b"USB\\VID_E7A9&PID_XYZ\\1")),
                   remove_call(padded(b"USB\\VID_E7A9&PID_0A71\\3&0")),
                   remove_call(b"USB\\VID_E7A9&PID_0A76\\A"),
                   remove_call(b"USB\\VID_E7A9&PID_0A77\\B"),
                   FINDALL_AUDIO,
                   remove_call(b"SWD\\MMDEVAPI\\QVA.{6}"),
                   remove_call(b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{4}"),
                   remove_call(b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{1}"),
                   GET_DRIVERS, RESCAN],
            listings={"devicelist.txt": ODD_DEVICES + NO_DEVICES,
                      "audiodevicelist.txt": ODD_AUDIO,
                      "driverlist.txt": table([])},
            devices=[],
            # The devices it would remove never decide the verdict.
            check_summaries=("none left",) * 2,
        ),
        Scenario(
            name="odd driver table lines",
            machine=Machine(listings={"dism table": ODD_TABLE}, codes={b"rescan": 1}),
            report=report(
                b"Removing devices...\n"
                b"Removing audio devices...\n"
                b"Scanning installed drivers...\n"
                b"Cleanning up driver packages...\n"
                b"\t Nakora INF: oem33.inf (nkdev.inf) - Removed\n"
                b"\t Nakora INF: oem35.inf (nk?dev.inf) - Removed\n"
                b"\t Nakora INF: oem34.inf (qvavad.inf) - Removed\n"
                + LAST_PHASES),
            calls=[FINDALL_DEVICES, FINDALL_BRAND, FINDALL_AUDIO, GET_DRIVERS,
                   dp_delete_call(b"oem33.inf"), dp_delete_call(b"oem35.inf"),
                   dp_delete_call(b"oem34.inf"), RESCAN],
            listings={"devicelist.txt": NO_DEVICES * 2, "audiodevicelist.txt": NO_DEVICES,
                      "driverlist.txt": ODD_TABLE},
            # The verbatim table still lists them afterwards.
            check_summaries=("3 packages left",) * 2,
        ),
    ]


def chosen_names_scenario():
    """Names and a serial number a device chose, on Wine's device tree:
    devcon prints a line feed in a name as a line end and U+001A as the byte
    it is. Text after a line feed that reads as another maker's entry, or a kept
    device's in either case, steers no removal; a serial with colons is removed
    whole, named or not; controls print as '?'; a U+001A listed first
    hides nothing. A folder named like the common driver file is no file."""
    s = sample
    pad = b"USB\\VID_E7A9&PID_0A01\\5&1A1A1A1A&0&1"
    other_headset = b"USB\\VID_046D&PID_C08B\\5&11111111&0&3"
    two_lines = b"USB\\VID_E7A9&PID_0A77\\5&77777777&0&7"
    serial = b"USB\\VID_E7A9&PID_0A78\\A1:B2:C3:D4"
    two_endpoints = b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{1D2E3F40-5A6B-4C7D-8E9F-A0B1C2D3E4F5}"
    nameless_serial = b"USB\\VID_E7A9&PID_0A79\\A1:B2:C3:D5"
    kept_lines = b"\n" + s.RECEIVER + b": Nakora\n" + s.RECEIVER.lower() + b": Nakora"
    names = {pad: b"Nakora\x1aPad\rCR\x1b[2JEsc" + kept_lines, other_headset: b"USB Headset",
             two_lines: b"Nakora x\n" + other_headset + b": y", serial: b"Nakora Serial Dock",
             two_endpoints: b"Headphones (x\n" + s.ONBOARD_SPEAKERS + b": Nakora)" + kept_lines}
    listed_names = {**s.NAMES, **names, nameless_serial: None}

    def device(instance_id):
        if instance_id not in names:
            return s.device(instance_id)
        endpoint = dict(hardware_ids=s.ENDPOINT_IDS) if b"MMDEVAPI" in instance_id else {}
        return sm.Device(instance_id, names[instance_id], names[instance_id], **endpoint)

    return Scenario(
        name="names and serials a device chose",
        machine=Machine(devices=[device(i) for i in (
                            pad, other_headset, two_lines, serial, s.RECEIVER, s.VIRTUAL_AUDIO,
                            two_endpoints, s.HEADSET_SPEAKERS, s.ONBOARD_SPEAKERS)]
                        + [sm.Device(nameless_serial)],
                        driver_files=["NkDev_Hid.sys"],
                        # del given a folder deletes the files in it.
                        driver_folders={"NkCommon.sys": ["NkDev_Audio.sys"]},
                        # Under Wine, del given a folder with no one to answer leaves it as it
                        # is: only cmd's own log shows whether it was asked.
                        cmd_logged=True),
        report=report(
            b"Removing devices...\n"
            b"\t Removed :  Nakora?Pad?CR?[2JEsc\n"
            b"\t Removed :  Nakora x\n"
            b"\t !!! Remove FAILED :  y\n"
            b"\t Removed :  Nakora Serial Dock\n"
            b"\t Removed : " + nameless_serial + b"\n"
            b"\t Removed :  QVA Virtual Audio Device\n"
            b"Removing audio devices...\n"
            b"\t !!! Remove FAILED :  Nakora)\n"
            # No endpoint: the receiver stays.
            b"\t !!! Remove FAILED :  Nakora\n"
            b"\t !!! Remove FAILED :  Nakora\n"
            b"\t Removed :  Speakers (Nakora G Pro Headset)\n"
            b"Scanning installed drivers...\n"
            b"Cleanning up driver packages...\n"
            + LAST_PHASES),
        calls=[sm.through_cmd(FINDALL_DEVICES, b"> devicelist.txt"), FINDALL_DEVICES,
               sm.through_cmd(FINDALL_BRAND, b">> devicelist.txt"), FINDALL_BRAND]
        + [remove_call(padded(i)) for i in (pad, two_lines, serial)]
        + [remove_call(nameless_serial), remove_call(padded(s.VIRTUAL_AUDIO))]
        + [sm.through_cmd(FINDALL_AUDIO, b"> audiodevicelist.txt"), FINDALL_AUDIO,
           remove_call(s.HEADSET_SPEAKERS),
           sm.through_cmd(GET_DRIVERS, b"> driverlist.txt"), GET_DRIVERS,
           b"cmd\t /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys ", RESCAN],
        driver_files=["NkCommon.sys\\", "NkCommon.sys\\NkDev_Audio.sys"],
        listings={
            "devicelist.txt": listed(s.RECEIVER, pad, two_lines, serial, nameless_serial,
                                     names=listed_names) + listed(s.VIRTUAL_AUDIO),
            "audiodevicelist.txt": listed(two_endpoints, s.HEADSET_SPEAKERS, s.ONBOARD_SPEAKERS,
                                          names=listed_names),
            "driverlist.txt": table([]),
        },
        devices=[other_headset, s.RECEIVER, two_endpoints, s.ONBOARD_SPEAKERS],
        check_summaries=("1 driver file left", "none left"),
    )


def check_calls(machine):
    """The check's calls: listings only, the brand listing only after the
    maker listing succeeded; each through cmd where cmd's starts are logged."""
    calls = []
    brand = machine.devcon and not machine.codes.get(b"findall *VID_E7A9*")
    for call, redirection, runs in (
            (FINDALL_DEVICES, b"> check-devicelist.txt", True),
            (FINDALL_BRAND, b">> check-devicelist.txt", brand),
            (FINDALL_AUDIO, b"> check-audiodevicelist.txt", True),
            (GET_DRIVERS, b"> check-driverlist.txt", True)):
        if runs and machine.cmd_logged:
            calls.append(sm.through_cmd(call, redirection))
        if runs and (machine.dism if call == GET_DRIVERS else machine.devcon):
            calls.append(call)
    return calls


def verdict(summary):
    if "could not check" in summary:
        return 2
    return 0 if summary.endswith("none left") else 1


def assert_checks(test, machine, outcome, summaries):
    """The check before the run and after it: its summary last, with the exit
    code that goes with it; it only lists, and changes nothing."""
    check_banner = sm.banner(test.harness.check_exe, b"Check")
    for check, state, summary in ((outcome.before, outcome.laid_out, summaries[0]),
                                  (outcome.after, outcome, summaries[1])):
        test.assertEqual(check.stdout[:len(check_banner)], check_banner, check.stdout[:400])
        test.assertEqual(check.stderr, b"")
        test.assertEqual(check.calls, check_calls(machine))
        for field in ("registry32", "registry64", "driver_files", "devices", "drivers"):
            test.assertEqual(getattr(check, field), getattr(state, field), field)
        test.assertEqual(check.stdout.split(b"\r\n")[-2:],
                         [b"Nakora driver stack: " + summary.encode("latin-1"), b""])
        test.assertEqual(check.exit_code, verdict(summary))
    # The tool's own listings, the record of its run, stay as it left them.
    test.assertEqual(outcome.after.listings, outcome.listings)


SCENARIOS = ([sample_scenario(), everything_goes_scenario(), cmd_elsewhere_scenario()]
             + tools_missing_scenarios() + odd_listing_scenarios() + [chosen_names_scenario()])

# devcon hangs on the camera's removal, and a deployment system's time limit
# kills the tool, whose output goes to a file: the report keeps what it printed.
HANGING_DEVCON = Machine(devices=[sample.device(i) for i in (sample.HEADSET, sample.CAMERA)],
                         codes={b"remove " + sample.CAMERA: b"hang"})
BEFORE_THE_HANG = report(b"Removing devices...\n"
                         b"\t Removed :  Nakora G Pro Headset\n")


# A standard user made for the purpose tries to create the file NK_TARGET names; prints
# "created", "denied" or what else went wrong. Or, given NK_HOLD, the user's process holds
# the old lock's mutex and, if it can, the file NK_HOLD names, while an install of the kit
# staged beside it runs; prints its exit code. The user and its profile go again afterwards.
AS_A_STANDARD_USER = r"""
$name = 'nkuser' + (Get-Random -Maximum 99999)
# 14 characters, and /Y: net user asks "(Y/N)" for a longer password, and may wait for the answer.
$password = 'Nk!' + [guid]::NewGuid().ToString('N').Substring(0, 8) + 'aA1'
$ready = Join-Path $env:ProgramData "nk-ready-$name"
$null = & net.exe user $name $password /add /Y
if ($LASTEXITCODE -ne 0) { throw "net user $name /add: exit code $LASTEXITCODE" }
$sid = $null
try {
    $sid = (New-Object System.Security.Principal.NTAccount $name).Translate([System.Security.Principal.SecurityIdentifier]).Value
    $try = "try { [IO.File]::WriteAllText('$env:NK_TARGET', 'planted'); exit 0 } " +
        "catch { if (`$_.Exception.GetBaseException() -is [UnauthorizedAccessException]) { exit 5 }; exit 9 }"
    if ($env:NK_HOLD) {
        $try = "`$m = New-Object Threading.Mutex(`$false, 'Global\NakoraCleanup'); `$null = `$m.WaitOne(); " +
            "try { `$f = [IO.File]::Open('$env:NK_HOLD', 'OpenOrCreate', 'Read', 'ReadWrite') } catch { }; " +
            "[IO.File]::WriteAllText('$ready', 'holding'); Start-Sleep 600"
    }
    $encoded = [Convert]::ToBase64String([Text.Encoding]::Unicode.GetBytes($try))
    # Started by .NET itself, which keeps the handle that CreateProcessWithLogonW returns:
    # Start-Process -Credential leaves a Process object that may neither wait nor read the
    # exit code (https://github.com/PowerShell/PowerShell/issues/17033, issues/19410).
    $start = New-Object System.Diagnostics.ProcessStartInfo
    $start.FileName = "$env:SystemRoot\System32\WindowsPowerShell\v1.0\powershell.exe"
    $start.Arguments = "-NoProfile -NonInteractive -EncodedCommand $encoded"
    $start.UserName = $name
    $start.Domain = $env:COMPUTERNAME
    $start.Password = ConvertTo-SecureString $password -AsPlainText -Force
    $start.LoadUserProfile = $true
    $start.UseShellExecute = $false
    $start.WorkingDirectory = $env:SystemRoot
    $process = [System.Diagnostics.Process]::Start($start)
    if ($env:NK_HOLD) {
        $deadline = (Get-Date).AddSeconds(120)
        while (-not (Test-Path $ready) -and -not $process.HasExited -and (Get-Date) -lt $deadline) { Start-Sleep -Milliseconds 200 }
        if (-not (Test-Path $ready)) { throw 'the standard user''s process holds nothing' }
        $folder = Split-Path $env:NK_HOLD
        $null = & (Join-Path $folder 'Install-NakoraCleanup.ps1') -Folder $folder -StageOnly
        "install exit $LASTEXITCODE"
        if (-not $process.HasExited) { $process.Kill() }
        return
    }
    if (-not $process.WaitForExit(120000)) { $process.Kill(); throw 'the standard user''s try did not end' }
    @{ 0 = 'created'; 5 = 'denied' }[$process.ExitCode]
    if ($process.ExitCode -notin 0, 5) { "exit code $($process.ExitCode)" }
} finally {
    Remove-Item -LiteralPath $ready -ErrorAction SilentlyContinue
    $null = & net.exe user $name /delete
    # LoadUserProfile made a profile, which outlives the account; it unloads a moment after the try.
    for ($attempt = 0; $sid -and $attempt -lt 10; $attempt++) {
        $left = Get-CimInstance Win32_UserProfile -Filter "SID = '$sid'"
        if (-not $left) { break }
        try { Remove-CimInstance -InputObject $left -ErrorAction Stop } catch { Start-Sleep -Seconds 1 }
    }
    if ($sid -and (Get-CimInstance Win32_UserProfile -Filter "SID = '$sid'")) {
        [Console]::Error.WriteLine("the profile of $name ($sid) is left")
    }
}
"""


def encoded(script):
    """A script as -EncodedCommand takes it, past any quoting."""
    return base64.b64encode(script.encode("utf-16-le")).decode("ascii")


def windows_powershell(*args, env=None):
    """Windows PowerShell 5.1 with its own module path, whoever started this."""
    env = sm.own_module_path(dict(os.environ, **(env or {})), sm.WindowsHost())
    return sm.run(
        [os.path.join(os.environ["WINDIR"], "System32", "WindowsPowerShell", "v1.0", "powershell.exe"),
         "-NoProfile", "-NonInteractive", "-ExecutionPolicy", "Bypass", *args],
        env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE, stderr=subprocess.PIPE,
        timeout=3 * sm.RUN_TIMEOUT)


class ScenarioTest(unittest.TestCase):
    maxDiff = None

    @classmethod
    def setUpClass(cls):
        cls.harness = sm.Harness()
        cls.banner = sm.banner(cls.harness.exe)

    @classmethod
    def tearDownClass(cls):
        cls.harness.close()

    # The fleet kit's install script on the real system: it stages the kit,
    # checks, cleans up, checks again, and keeps the reports of the run.
    @unittest.skipUnless(os.name == "nt", "Windows PowerShell is there on Windows only")
    def test_install_script_on_the_sample_machine(self):
        result, logs = self.harness.run_install(sample.machine(), INSTALL_SCRIPT)
        self.assertEqual(result.returncode, 3010, result.stdout)
        self.assertEqual(result.stdout.splitlines()[-1],
                         b"Nakora driver stack: 1 package left (restart, then run again)")
        runs = [os.path.join(logs, name) for name in os.listdir(logs)
                if re.fullmatch(r"\d{8}-\d{6}-\d{7}", name)]
        self.assertEqual(len(runs), 1, runs)
        self.assertEqual(sm.read(os.path.join(runs[0], "cleanup.txt")),
                         self.banner + sample_scenario().report)

    # Started from PowerShell 7, as the workflow's steps are, Windows PowerShell
    # would inherit PowerShell 7's module folders.
    def test_install_script_gets_windows_powershells_own_module_folders(self):
        inherited = ("C:\\Users\\runner\\Documents\\PowerShell\\Modules;"
                     "C:\\Program Files\\PowerShell\\7\\Modules")
        with tempfile.TemporaryDirectory() as run_dir, \
                mock.patch.dict(os.environ, {"PSModulePath": inherited}):
            os.makedirs(os.path.join(run_dir, "path"))
            command, env, _ = self.harness.install_command(run_dir, INSTALL_SCRIPT)
        powershell = next(arg for arg in command if arg.endswith("powershell.exe"))
        self.assertEqual([name for name in env if name.upper() == "PSMODULEPATH"], ["PSModulePath"])
        self.assertEqual(env["PSModulePath"].split(";"), [
            self.harness.host.windows_path(folder) for folder in (
                os.path.join(self.harness.host.program_files, "WindowsPowerShell", "Modules"),
                os.path.join(os.path.dirname(powershell), "Modules"))])

    # The cmd-elsewhere scenario's share, out of reach: a run that skips it
    # passes, unless the setting CI makes turns the skip into a failure.
    def test_an_unreachable_share_skips_or_fails_as_set(self):
        code = ("import unittest, simulated_machine as sm\n"
                "class Elsewhere(unittest.TestCase):\n"
                "    def test(self):\n"
                "        sm.WindowsHost.work_elsewhere('no such directory')\n"
                "unittest.main()\n")
        for setting, exit_code, said in (("", 0, b"OK (skipped=1)"),
                                         ("1", 1, b"skipped where no test may skip")):
            with self.subTest(NK_E2E_NO_SKIP=setting):
                run = subprocess.run([sys.executable, "-c", code], cwd=HERE,
                                     env=dict(os.environ, NK_E2E_NO_SKIP=setting),
                                     stdin=subprocess.DEVNULL, capture_output=True, timeout=60)
                self.assertEqual(run.returncode, exit_code, run.stderr)
                self.assertIn(said, run.stderr)

    # Two runs at once: the second, of the kit the first staged, finds the first holding the
    # lock, and says so instead of acting. The first waits in the cleanup, on devcon, until the
    # second is done; its driver file makes the check say 1, so that the cleanup runs.
    @unittest.skipUnless(os.name == "nt", "Windows PowerShell is there on Windows only")
    def test_install_script_twice_at_once(self):
        sim = os.path.join(self.harness.scratch.name, f"run{self.harness.runs + 1}", "machine")
        machine = dataclasses.replace(HANGING_DEVCON, driver_files=["NkCommon.sys"])
        first = {}
        thread = threading.Thread(target=lambda: first.update(
            result=self.harness.run_install(machine, INSTALL_SCRIPT)[0]))
        thread.start()
        try:
            deadline = time.monotonic() + sm.RUN_TIMEOUT
            while not os.path.exists(os.path.join(sim, "hanging")) and time.monotonic() < deadline:
                time.sleep(0.1)
            self.assertTrue(os.path.exists(os.path.join(sim, "hanging")), "devcon did not hang")
            folder = self.harness.install_folder(os.path.dirname(sim))
            second = windows_powershell("-File", os.path.join(folder, "Install-NakoraCleanup.ps1"),
                                        "-Folder", folder, "-TimeoutMinutes", "0.05")
        finally:
            with open(os.path.join(sim, "release"), "wb"):
                pass
            thread.join()
        self.assertEqual(second.returncode, 1618, second.stdout)
        self.assertEqual(second.stdout.splitlines()[-1],
                         b"Nakora driver stack: could not check (another run is in progress)")
        self.assertNotIn(b"another run", first["result"].stdout)

    # The staged folder's rights hold: a standard user can neither create a file in it nor
    # hold its lock, whatever its name.
    @unittest.skipUnless(os.name == "nt", "Windows PowerShell is there on Windows only")
    def test_install_script_stages_a_folder_a_standard_user_cannot_write_to(self):
        run_dir = os.path.join(self.harness.scratch.name, "kit-for-a-user")
        os.makedirs(os.path.join(run_dir, "path"))
        command, env, folder = self.harness.install_command(run_dir, INSTALL_SCRIPT,
                                                            extra=["-StageOnly"])
        try:
            staged = sm.run(command, env=env, stdin=subprocess.DEVNULL, stdout=subprocess.PIPE,
                            timeout=3 * sm.RUN_TIMEOUT)
            self.assertEqual(staged.returncode, 0, staged.stdout)
            tried = windows_powershell("-EncodedCommand", encoded(AS_A_STANDARD_USER),
                                       env={"NK_TARGET": os.path.join(folder, "planted.exe")})
            self.assertEqual(tried.stdout.split()[-1:], [b"denied"], tried.stdout + tried.stderr)
            self.assertFalse(os.path.exists(os.path.join(folder, "planted.exe")))
            held = windows_powershell("-EncodedCommand", encoded(AS_A_STANDARD_USER),
                                      env={"NK_HOLD": os.path.join(folder, "run.lock")})
            self.assertEqual(held.stdout.split()[-3:], [b"install", b"exit", b"0"],
                             held.stdout + held.stderr)
        finally:
            shutil.rmtree(folder, ignore_errors=True)

    def test_scenarios(self):
        for scenario in SCENARIOS:
            with self.subTest(scenario.name):
                outcome = self.harness.run(scenario.machine)
                self.assertEqual(outcome.stdout, self.banner + scenario.report)
                self.assertEqual(outcome.exit_code, 0)
                self.assertEqual(outcome.calls, scenario.calls)
                if scenario.machine.devcon:
                    self.assertEqual(outcome.calls[-1], RESCAN)
                self.assertEqual(outcome.registry32, scenario.registry32)
                self.assertEqual(outcome.registry64, scenario.registry64)
                self.assertEqual(outcome.driver_files, scenario.driver_files)
                for name in sm.LISTING_FILES:
                    self.assertEqual(outcome.listings[name], scenario.listings[name], name)
                if scenario.devices is not None:
                    self.assertEqual(outcome.devices, scenario.devices)
                if scenario.drivers is not None:
                    self.assertEqual(outcome.drivers, scenario.drivers)
                assert_checks(self, scenario.machine, outcome, scenario.check_summaries)

    # Named to run after test_scenarios: a killed run is the last thing done.
    def test_stopped_during_a_hang_the_report_file_keeps_its_lines(self):
        self.assertEqual(self.harness.run_killed_at_hang(HANGING_DEVCON),
                         self.banner + BEFORE_THE_HANG)


if __name__ == "__main__":
    unittest.main()
