#include <gtest/gtest.h>

#include "fake_os.h"
#include "phases.h"
#include "tool_commands.h"

namespace {

using DriverFilesAndRescanTest = PhaseTest;

TEST_F(DriverFilesAndRescanTest, BothDeletionsRunWhateverTheyReturn) {
  for (int32_t code : {0, 1, -1}) {
    Fake() = FakeOs();
    Fake().exitCodes[kDeleteDeviceDrivers] = code;
    Fake().exitCodes[kDeleteCommonDriver] = code;
    EXPECT_EQ(Run(RemoveDriverFiles), "Removing driver files...\n");
    std::vector<FakeCommand> want = {
        {u"cmd", u" /C del /F /A %WINDIR%\\system32\\drivers\\NkDev_*.sys "},
        {u"cmd", u" /C del /F /A %WINDIR%\\system32\\drivers\\NkCommon.sys "}};
    EXPECT_EQ(Fake().commands, want);
  }
}

TEST_F(DriverFilesAndRescanTest, RescanIgnoresItsResult) {
  Fake().exitCodes[kRescan] = 5;
  EXPECT_EQ(Run(RescanDevices), "Rescanning...\n");
  std::vector<FakeCommand> want = {{u"devcon", u" rescan "}};
  EXPECT_EQ(Fake().commands, want);
}

}  // namespace
