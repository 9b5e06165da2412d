#include "device_lines.h"

#include <gtest/gtest.h>

#include "fake_os.h"

namespace {

TEST(SplitDeviceLineTest, CutsAtDevconsColonUntrimmed) {
  struct Case {
    WString line;
    bool found;
    WString instanceId, description;
  };
  const Case cases[] = {
      {u"USB\\VID_E7A9&PID_0A01\\1         : Nakora Keyboard", true,
       u"USB\\VID_E7A9&PID_0A01\\1         ", u" Nakora Keyboard"},
      {u"ID: a: b", true, u"ID", u" a: b"},
      // An ID holds colons but never a blank: the entry's own colon has one after it.
      {u"USB\\VID_E7A9&PID_0A78\\A1:B2:C3:D4   : Nakora Dock", true,
       u"USB\\VID_E7A9&PID_0A78\\A1:B2:C3:D4   ", u" Nakora Dock"},
      {u"USB\\X\\A1:B2: Dock", true, u"USB\\X\\A1:B2", u" Dock"},
      {u"A:b:c", true, u"A", u"b:c"},  // no ": ": the first colon
      {u"USB\\X\\A1:B2", false, u"kept", u"kept"},
      {u":only description", true, u"", u"only description"},
      {u"ID:", true, u"ID", u""},
      {u"no colon at all", false, u"kept", u"kept"},
      {u"", false, u"kept", u"kept"},
  };
  for (const Case& c : cases) {
    WString id = u"kept", description = u"kept";
    EXPECT_EQ(SplitDeviceLine(c.line, id, description), c.found);
    EXPECT_EQ(id, c.instanceId);
    EXPECT_EQ(description, c.description);
  }
}

TEST(IsSafeInstanceIdTest, RejectsWhatDevconWouldWiden) {
  struct Case {
    WString id;
    bool safe;
  };
  const Case cases[] = {
      {u"USB\\VID_E7A9&PID_0A01\\5&2F1A&0&1", true},
      {u"USB\\VID_E7A9&PID_0A01\\1          ", true},  // column padding
      {u"", false},  // a line beginning with a colon: the root of the tree
      {u"   ", false},
      {u"SWD\\MMDEVAPI\\{0.0.0.00000000}.{4B1C}", true},
      {u"USB\\VID_E7A9*", false},
      {u"*", false},
      {u"USB\\\"VID\"", false},
      {u"USB\\VID\tX", false},
      {u"USB\\VID X", false},
      {u" USB\\VID", false},
      {u"@USB\\VID", false},     // devcon reads it as something else; so with ' and =
      {u"USB\\VID\x1b", false},  // no ID holds a control, a high character or a comma
      {u"USB\\VID *  ", false},
      {WString(u"USB\\VID\0X", 9), false},  // would cut the command line short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSafeInstanceId(c.id), c.safe) << N(c.id);
  }
}

TEST(DeviceLineShapesTest, NamelessDevicesAndRunTogetherEntries) {
  struct Case {
    WString text;
    bool bare;     // as a whole colon-less line
    bool further;  // as the description part of a line
  };
  const Case cases[] = {
      {u"USB\\VID_E7A9&PID_0A00\\6&1F&0&1", true, true},
      {u"ROOT\\QVA_VAD\\0000", true, true},
      {u"NoBackslash", false, false},
      {u"USB\\VID,1", false, false},
      {u"USB\\VID 1", false, false},
      {u"No matching devices found.", false, false},
      {u"", false, false},
      {u" Nakora Headset", false, false},
      {u" Nakora (no entry: here)", false, false},
      {u" SWD\\MMDEVAPI\\{0.0.1.00000000}.{3C}: Speakers", false, true},
      {u" Nakora HID\\VID_E7A9\\2      : Mouse", false, true},
      {u" CutHID\\VID_E7A9\\2: Mouse", false, true},
      {u" Nakora\\: x", false, true},  // a backslash before ": " is enough to hold back
      {u" Nakora USB\\VID_E7A9&PID_0A51\\7&2", false, true},  // a nameless one after it
      {u" CutUSB\\VID_E7A9\\2  ", false, true},
      {u" Nakora Headset (USB) 2", false, false},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsBareInstanceId(c.text), c.bare) << N(c.text);
    EXPECT_EQ(HoldsFurtherEntry(c.text), c.further) << N(c.text);
  }
}

}  // namespace
