#include "cleanup_sink.h"

#include <gtest/gtest.h>

#include "phase_test.h"

namespace {

using CleanupSinkTest = PhaseTest;

TEST_F(CleanupSinkTest, DeviceRemovedOnlyWhenTheTreeNoLongerHasIt) {
  const WString id = u"USB\\VID_E7A9&PID_0A00\\1";
  const WString padded = id + WString(60 - id.size(), u' ');
  struct Case {
    const char* name;
    DeviceEntry::Action action;
    int32_t exitCode;
    bool stillPresent, treeAnswers;
    std::string output;
    size_t devconCalls;
  };
  const Case cases[] = {
      {"gone", DeviceEntry::kRemove, 0, false, true, "\t Removed :  K\n", 1},
      {"devcon exits 0 but the node is there", DeviceEntry::kRemove, 0, true, true,
       "\t !!! Remove FAILED :  K\n", 1},
      {"tree cannot be asked afterwards", DeviceEntry::kRemove, 0, true, false,
       "\t !!! Remove FAILED :  K\n", 1},
      {"restart needed", DeviceEntry::kRemove, 1, false, true, "\t !!! Remove FAILED :  K\n", 1},
      {"refused", DeviceEntry::kRefuse, 0, false, true, "\t !!! Remove FAILED :  K\n", 0},
      {"kept", DeviceEntry::kKeep, 0, false, true, "", 0},
      {"passed over", DeviceEntry::kPassOver, 0, false, true, "", 0},
  };
  for (const Case& c : cases) {
    Fake() = FakeOs();
    Fake().exitCodes[kRemoveDevice + padded] = c.exitCode;
    if (c.stillPresent) Fake().stillPresent.insert(id);
    Fake().treeAnswers = c.treeAnswers;
    DeviceEntry entry{c.action, padded, u" K"};
    CleanupSink cleanup;
    EXPECT_EQ(Printed([&] { cleanup.Device(entry); }), c.output) << c.name;
    EXPECT_EQ(Fake().commands.size(), c.devconCalls) << c.name;
    // Asked without the column padding, and only after devcon said yes.
    std::vector<WString> asked;
    if (c.action == DeviceEntry::kRemove && c.exitCode == 0) asked.push_back(id);
    EXPECT_EQ(Fake().lookedUp, asked) << c.name;
  }
}

}  // namespace
