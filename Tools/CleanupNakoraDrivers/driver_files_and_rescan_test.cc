#include <gtest/gtest.h>

#include "phase_test.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

using DriverFilesAndRescanTest = PhaseTest;

TEST_F(DriverFilesAndRescanTest, BothDeletionsRunWhateverTheyReturn) {
  for (int32_t code : {0, 1, -1}) {
    Fake() = FakeOs();
    Fake().exitCodes[u" /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys "] = code;
    Fake().exitCodes[u" /C del /F /A %WINDIR%\\system32\\drivers\\NkCommon.sys "] = code;
    Fake().driverFiles[u"NkCommon.sys"] = {u"NkCommon.sys"};
    EXPECT_EQ(Cleanup(RemoveDriverFiles), "Removing driver files...\n");
    std::vector<FakeCommand> want = {
        {u"cmd", u" /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys "},
        {u"cmd", u" /C del /F /A %WINDIR%\\system32\\drivers\\NkCommon.sys "}};
    EXPECT_EQ(Fake().commands, want);
  }
}

// del given a directory deletes the files in it: the named file's command
// runs only for one that is no directory. The wildcard matches files alone and always runs.
TEST_F(DriverFilesAndRescanTest, NoCommonDriverFileNoDelOfIt) {
  EXPECT_EQ(Cleanup(RemoveDriverFiles), "Removing driver files...\n");
  std::vector<FakeCommand> want = {
      {u"cmd", u" /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys "}};
  EXPECT_EQ(Fake().commands, want);
}

TEST_F(DriverFilesAndRescanTest, RescanIgnoresItsResult) {
  Fake().exitCodes[kRescan] = 5;
  EXPECT_EQ(Printed(RescanDevices), "Rescanning...\n");
  std::vector<FakeCommand> want = {{u"devcon", u" rescan "}};
  EXPECT_EQ(Fake().commands, want);
}

}  // namespace
