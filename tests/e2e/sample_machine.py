"""A PC with Nakora's stack installed beside other makers' hardware, for the
end-to-end scenarios and the demo."""

from simulated_machine import Device, Machine

RECEIVER = b"USB\\VID_E7A9&PID_0001\\5&2B1A0C3&0&1"  # exempt product ID
HEADSET = b"USB\\VID_E7A9&PID_0A50&MI_00\\7&1F2E3D4C&0&0000"
HEADSET_CONTROL = b"HID\\VID_E7A9&PID_0A50&MI_03&COL01\\QVA&8&2C0A5E&0&0000"  # in both listings
NAMELESS = b"USB\\VID_E7A9&PID_0A90\\6&5C2D1E&0&5"  # neither description nor friendly name
CAMERA = b"USB\\VID_E7A9&PID_0B12\\5&9D04E1&0&2"
LOCALISED_HEADSET = b"USB\\VID_E7A9&PID_0C30\\7&2A4B6C&0&0001"  # its name runs into the next line
CHARGER = b"USB\\VID_E7A9&PID_0C31\\7&2A4B6C&0&0002"
ADAPTER = b"USB\\VID_E7A9&PID_0D10\\6&7E8F90&0&1"  # its removal needs a restart
DOCK = b"USB\\VID_E7A9&PID_C900\\6&3A5F1B&0&4"  # devcon fails to remove it
VIRTUAL_AUDIO = b"ROOT\\QVA_VAD\\0000"
OTHER_RECEIVER = b"USB\\VID_046D&PID_C548\\6&11A2B3&0&3"
HEADSET_SPEAKERS = b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{6D3A2C41-9E07-4B7A-8D5E-2F1C3B4A5D60}"
ONBOARD_SPEAKERS = b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{A1B2C3D4-E5F6-4789-ABCD-EF0123456789}"
VIRTUAL_MICROPHONE = b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{0B4E7A12-5C3D-4F6E-9A8B-7C6D5E4F3A21}"
CLONE_MICROPHONE = b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{11223344-5566-4778-899A-ABBCCDDEEFF0}"
# Listed just before the headset's microphone: its Cyrillic name runs the two together.
ONBOARD_MICROPHONE = b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{2B3C4D5E-6F70-4812-93A4-B5C6D7E8F901}"
HEADSET_MICROPHONE = b"SWD\\MMDEVAPI\\{0.0.1.00000000}.{3C1A2B4D-5E6F-4701-8293-A4B5C6D7E8F9}"
# A Bluetooth device's own name, embedded in its endpoint's, made to look like
# the onboard speakers' entry naming the maker.
NAMED_LIKE_TWO = b"SWD\\MMDEVAPI\\{0.0.0.00000000}.{7A8B9C0D-1E2F-4304-A5B6-C7D8E9F0A1B2}"

# Names as the listing's code page has them, or str where they hold more.
NAMES = {
    RECEIVER: b"Nakora Unifying Receiver",
    HEADSET: b"Nakora G Pro Headset",
    HEADSET_CONTROL: b"Nakora G Pro QVA Control",
    NAMELESS: None,
    CAMERA: b"Cam\xe9ra Nakora StreamCam",
    LOCALISED_HEADSET: "Nakora \u0413\u0430\u0440\u043d\u0438\u0442\u0443\u0440\u0430",
    CHARGER: b"Nakora Charging Stand",
    ADAPTER: b"Nakora Wireless Adapter",
    DOCK: b"Nakora USB-C Dock",
    VIRTUAL_AUDIO: b"QVA Virtual Audio Device",
    OTHER_RECEIVER: b"USB Receiver",
    HEADSET_SPEAKERS: b"Speakers (Nakora G Pro Headset)",
    ONBOARD_SPEAKERS: b"Speakers (Realtek(R) Audio)",
    VIRTUAL_MICROPHONE: b"Microphone (QVA Virtual Audio)",
    CLONE_MICROPHONE: b"Headset Microphone (nakora compatible)",
    ONBOARD_MICROPHONE: "\u041c\u0438\u043a\u0440\u043e\u0444\u043e\u043d (Realtek(R) Audio)",
    HEADSET_MICROPHONE: b"Microphone (Nakora G Pro Headset)",
    NAMED_LIKE_TWO: b"Headphones (x " + ONBOARD_SPEAKERS + b": Nakora)",
}

ENDPOINT_IDS = [b"MMDEVAPI\\AudioEndpoints"]
HARDWARE_IDS = {
    # Its hardware IDs hold no QVA; a compatible ID does, so that the brand listing has it too.
    HEADSET_CONTROL: dict(hardware_ids=[b"HID\\VID_E7A9&PID_0A50&MI_03&COL01",
                                        b"HID\\VID_E7A9&PID_0A50&MI_03"],
                          compatible_ids=[b"HID\\QVA_CONTROL", b"HID_DEVICE"]),
}


def device(instance_id):
    """A sample device as its maker's driver names it: the description and
    the friendly name alike."""
    ids = HARDWARE_IDS.get(instance_id, {})
    if instance_id.startswith(b"SWD\\MMDEVAPI\\"):
        ids = dict(hardware_ids=ENDPOINT_IDS)
    name = NAMES[instance_id]
    return Device(instance_id, friendly_name=name, description=name, **ids)


DEVICES = [device(i) for i in NAMES]


def driver(published, original, class_name, provider):
    return (published, original, b"No", class_name, provider, b"5/12/2023", b"6.0.1.8")


DRIVERS = [
    driver(b"oem3.inf", b"prnms009.inf", b"Printer", b"Microsoft"),
    driver(b"oem12.inf", b"nkcommon.inf", b"MEDIA", b"Nakora Inc."),
    driver(b"oem13.inf", b"nkhiddev.inf", b"HIDClass", b"Nakora Inc."),
    driver(b"oem14.inf", b"qvavad.inf", b"MEDIA", b"QVA Audio"),
    driver(b"oem15.inf", b"cmusbdac.inf", b"MEDIA", b"C-MEDIA"),
    driver(b"oem16.inf", b"nakoramixer.inf", b"MEDIA", b"C-MEDIA Electronics Inc."),
    driver(b"oem17.inf", b"nkcommon.inf", b"MEDIA", b"Realtek Semiconductor Corp."),
    driver(b"oem18.inf", b"nakorausb.inf", b"USB", b"nakora inc."),
    driver(b"oem19.inf", b"NkDevice.inf", b"HIDClass", b"Nakora Inc."),
    driver(b"oem20.inf", b"nakoraaudio.inf", b"MEDIA", b"Nakora Inc."),  # its deletion fails
    driver(b"oem21.inf", b"qvavad2.inf", b"MEDIA", b"QVA Audio"),
    driver(b"oem22.inf", b"qvasetup.inf", b"SoftwareComponent", b"QVA Audio"),
]

INSTALL_DIR = {"InstallDir": "C:\\Program Files\\Nakora"}


def machine():
    return Machine(
        devices=list(DEVICES),
        drivers=list(DRIVERS),
        codes={b"remove " + DOCK: b"fail", b"remove " + ADAPTER: 1, b"dp_delete oem20.inf": 2},
        registry32={
            "": INSTALL_DIR,
            "NkDrvSetup": {"Version": "6.0.1.8"},
            "NkDrvSetup\\Components\\Hid": {"State": "1"},
            "HeadsetDriver": {"Path": "C:\\Program Files\\Nakora\\Headset"},
            "UsbDrvHelper": {},
            "Nakora Hub": {"Version": "2023.5"},
            "drvtools": {},
            "NkDRIVERCache": {},
        },
        registry64={
            "": INSTALL_DIR,
            "NkDrvSetup": {"Version": "6.0.1.8"},
            "HeadsetDriver": {},
        },
        driver_files=["NkDev_Audio.sys", "NkDev_Hid.sys", "NkCommon.sys", "NkHelper.sys",
                      "otheraudio.sys"],
    )
