#include "tool_commands.h"

#include <gtest/gtest.h>

#include "fake_os.h"

namespace {

TEST(SplitDeviceLineTest, CutsAtTheFirstColonUntrimmed) {
  struct Case {
    WString line;
    bool found;
    WString instanceId, description;
  };
  const Case cases[] = {
      {u"USB\\VID_E7A9&PID_0A01\\1         : Nakora Keyboard", true,
       u"USB\\VID_E7A9&PID_0A01\\1         ", u" Nakora Keyboard"},
      {u"ID: a: b", true, u"ID", u" a: b"},
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
      {u"", true},                                     // a line beginning with a colon
      {u"   ", true},
      {u"SWD\\MMDEVAPI\\{0.0.0.00000000}.{4B1C}", true},
      {u"USB\\VID_E7A9*", false},
      {u"*", false},
      {u"USB\\\"VID\"", false},
      {u"USB\\VID\tX", false},
      {u"USB\\VID X", false},
      {u" USB\\VID", false},
      {u"USB\\VID *  ", false},
      {WString(u"USB\\VID\0X", 9), false},  // would cut the command line short
  };
  for (const Case& c : cases) {
    EXPECT_EQ(IsSafeInstanceId(c.id), c.safe) << N(c.id);
  }
}

}  // namespace
